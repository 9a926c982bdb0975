// Dynamics and spectral clean-up commands without parameters: the adaptive
// noise gate, the adaptive compressor, and spectral isolation (percussive)
// and clean-up (melodic).
//
// Gate: a noise-floor follower (rising with 500 ms, falling with 50 ms, never
// below 0.001) opens the gain (10 ms) while a frame's peak is over three times
// the floor and closes it (150 ms) otherwise. Compressor: a 300 ms level
// follower sets a threshold 6 dB over the level; peaks above it are reduced
// 4:1 (attack 2 ms, release 50 ms, or 500 ms while the gain is under 0.8),
// then the whole range gets half the largest reduction back as make-up gain,
// limited so that no sample clips. Values are written back as
// trunc(v x full scale), which moves every sample by up to 1 LSB per pass
// even where nothing is reduced.
//
// Spectral clean-up: per channel, frames of 2048 with hop 512 and a sine
// window; a noise profile per bin from a low percentile of its magnitudes
// over the frames that are not silent; bins not well above the profile are
// attenuated by a mask smoothed over time, and the channel is rebuilt by
// overlap-add and brought back to its former peak.
#pragma once

#include <vector>

#include "platform/work_progress.h"
#include "processing/processing_command.h"

namespace zandrel {

namespace cmd {
inline constexpr int kAdaptiveNoiseGate = 32909;
inline constexpr int kAdaptiveCompressor = 32910;
inline constexpr int kSpectralIsolationPercussive = 32911;
inline constexpr int kSpectralCleanupMelodic = 32920;
}  // namespace cmd

struct GateWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

// What one compressor run did, in dB.
struct CompressorReport {
  double maxReductionDb = 0.0;  // <= 0
  double makeupDb = 0.0;        // >= 0
};

// 16-bit only: other formats are left as they are.
struct CompressorWork {
  CompressorReport* report = nullptr;  // filled when set
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

struct SpectralDenoiseSettings {
  float percentile = 0.3f;    // of the sorted magnitudes, per bin
  float maskFloor = 0.0f;     // the mask never goes below it
  float newWeight = 0.9f;     // smoothing: new x raw + previous x mask
  float previousWeight = 0.1f;

  static SpectralDenoiseSettings Percussive() { return {0.3f, 0.0f, 0.9f, 0.1f}; }
  static SpectralDenoiseSettings Melodic() { return {0.1f, 0.1f, 1.0f - 0.6f, 0.6f}; }
};

// One channel of normalised samples cleaned; false when cancelled through
// |progress| (which returns false then), with |x| left half done. Progress
// 0..1 covers the analysis pass, the noise profile and the rebuild, and is
// reported every few dozen frames or bins. An empty channel stays empty.
bool SpectralDenoiseChannel(std::vector<float>& x, const SpectralDenoiseSettings& settings,
                            const WorkProgress& progress = {});

struct SpectralDenoiseWork {
  SpectralDenoiseSettings settings;
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

// Adaptive Noise Gate, Adaptive Compressor, Spectral Isolation (Percussive),
// Spectral Cleanup (Melodic).
const std::vector<ProcessingCommand>& DynamicsCommands();

}  // namespace zandrel

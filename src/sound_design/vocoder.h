// The Vocoder: a loop played through a vocoder whose carrier is a robotic
// version of the loop itself.
//
// BuildVocoderCarrier makes the carrier once per command run with
// SynthesizeMorphLoop (the detected cycle repeated, the loop's own magnitudes
// on the cycle's phases) and the modulator from the loop, cut to the
// carrier's length. VocoderProcess analyses both with 2048-point Hann frames
// at a hop of 512 and rebuilds each frame from the modulator's magnitude
// envelope, smoothed over time and optionally shifted by whole bins, with
// phases blended between the carrier's and the modulator's. RunVocoder is the
// checked entry point; its output has the carrier's length.
//
// Frames past the end are padded with silence, not wrapped, so the first 1536
// output frames get fewer overlapping frames and fade in from silence; this
// is the vocoder's sound and is kept.
//
// Audio is interleaved signed 16-bit (channel c of frame k at
// samples[k * channels + c]). Pure functions, safe on any thread. The
// carrier and the vocoder report 0..1 through an optional WorkProgress every
// few dozen frames and give nothing (empty) once it returns false.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/work_progress.h"

namespace zandrel {

struct VocoderParams {
  int32_t binShift = 0;         // -60 .. 60: output bin m takes the modulator's bin m + binShift
  float phaseMix = 0.0f;        // 0 = the carrier's phase (classic), 1 = the modulator's
  float envelopeSmooth = 0.6f;  // 0 .. 0.99, used limited to 0 .. 0.999
};

struct VocoderResult {
  std::vector<int16_t> samples;
  bool success = false;  // true only when samples were produced
};

// Carrier and modulator of equal length; both empty when no cycle was found
// (the caller shows kNoCarrierMessage).
struct VocoderCarrier {
  std::vector<int16_t> carrier;    // the robot's body, from its loop start to its loop end
  std::vector<int16_t> modulator;  // the loop from its first frame, cut (or zero-padded) to the carrier

  bool Empty() const { return carrier.empty(); }
};

inline constexpr std::string_view kVocoder16BitMessage = "Vocoder supports 16-bit audio only.";
inline constexpr std::string_view kNoCarrierMessage = "Could not detect fundamental frequency for carrier generation.";
inline constexpr std::string_view kVocoderFailedMessage = "Vocoder processing failed.";

VocoderCarrier BuildVocoderCarrier(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                   const WorkProgress& progress = {});

// Fails (success off, no samples) when either input is empty, the audio is
// not 16 bits per sample, their lengths differ or VocoderProcess gives
// nothing.
VocoderResult RunVocoder(std::span<const int16_t> carrier, std::span<const int16_t> modulator, int channels,
                         int bitsPerSample, const VocoderParams& params, const WorkProgress& progress = {});

// The vocoder proper; |weight| blends the carrier's magnitudes (0) with the
// modulator's envelope (1); both callers pass 1. Empty when channels < 1, the
// lengths differ or there is not one whole frame.
std::vector<int16_t> VocoderProcess(std::span<const int16_t> carrier, std::span<const int16_t> modulator,
                                    int channels, float weight, const VocoderParams& params,
                                    const WorkProgress& progress = {});

// The dialog's knobs as it returns them, with its defaults.
struct VocoderKnobs {
  float shiftBins = 0.0f;       // "Frequency Shift", -60 .. 60 bins
  float phaseMix = 0.0f;        // "Phase Mix", 0 .. 1
  float envelopeSmooth = 0.6f;  // "Envelope Smooth", 0 .. 0.99
};
VocoderParams VocoderParamsFromKnobs(const VocoderKnobs& knobs);

}  // namespace zandrel

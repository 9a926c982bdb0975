// Level commands: fades, fades into a reverb or an echo, Silence and
// Normalize to 92%.
//
// Each work is a pure function of the samples and the range [start, end),
// n = end - start frames, i = 0 .. n - 1 the offset of a frame inside it; one
// gain applies to every channel of a frame. Gains are computed in floating
// point (never integer steps). The rounding of each law is part of the
// command and differs by format, as noted per work.
//
// The declarations of the commands (ids, menu texts, messages, undo labels,
// log lines) are in LevelCommands().
#pragma once

#include <vector>

#include "processing/processing_command.h"

namespace zandrel {

namespace cmd {
inline constexpr int kFadeOut = 32789;
inline constexpr int kFadeOutToReverb = 32790;
inline constexpr int kFadeIn = 32791;
inline constexpr int kFadeInExp = 32793;
inline constexpr int kFadeOutToDelay = 32794;
inline constexpr int kFadeOutExp = 32795;
inline constexpr int kSilence = 32796;
inline constexpr int kNormalize = 32797;
}  // namespace cmd

enum class FadeShape {
  kLinearOut,  // g = 1 - i/n; 16-bit rounds to nearest, 32-bit float is multiplied
  kLinearIn,   // g = i/n
  kExpIn,      // g = 1 - e^(-3i/n)
  kExpOut,     // g = e^(-3i/n)
};

// The gain of frame |i| of |n|, in double precision.
double FadeGain(FadeShape shape, int64_t i, int64_t n);

// x * g rounded toward zero (8-bit: in raw values), except the linear fade-out
// of 16-bit audio, which rounds to nearest with halves away from zero.
struct FadeWork {
  FadeShape shape;
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

// 16-bit only. The first half of the range fades to silence along
// expf(-3i/h) (h = n/2) and the rest becomes 0; a bank of eight comb delays
// (29.7 to 73 ms) fed with the shaped signal through a ramp over the first
// quarter adds a reverb over the range, which rings on into up to 0.8 s of
// the audio after it (the file never grows).
struct FadeToReverbWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};
// The reverb comb delays in frames at |rate|, and the tail length.
std::vector<int64_t> ReverbCombDelays(uint32_t rate);
int64_t ReverbTailFrames(uint32_t rate);

// 16-bit only. The input fades from 1 to exactly 0 over the first third of
// the range into a 90 ms echo with feedback 0.4 whose input ramps in over the
// first quarter; no tail.
struct FadeToDelayWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};
// The echo's delay in frames (at least 1).
int64_t DelayFrames(uint32_t rate);

// Every sample in the range becomes silence (128 for 8-bit, 0 otherwise).
struct SilenceWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

// Amplifies the range so that its peak reaches 92% of full scale; refuses a
// silent range and one already at or above that level (it never attenuates).
struct NormalizeWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
};

// The eight declarations, in menu order: Fade Out, Fade In, Fade In EXP,
// Fade Out EXP, Fade Out to Reverb, Fade Out to Delay, Silence, Normalize.
const std::vector<ProcessingCommand>& LevelCommands();

}  // namespace zandrel

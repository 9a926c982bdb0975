// The Morph Loop and Infinite Sustain engines: both turn a recorded loop into
// one that sustains without a seam by repeating one detected waveform cycle
// (the robot).
//
// Both find a rising zero crossing p near the chosen offset, measure the
// period P of the first channel with a hysteresis crossing count, keep the
// p frames before the crossing and replace the rest by L = P x max(1, r / P)
// frames (r = N - p, the whole periods that fit). SynthesizeSustainLoop
// blends the robot with the loop's own audio after p (the source body, whose
// head is first crossfaded with audio from before its end);
// SynthesizeMorphLoop runs SpectralMorph instead: the robot's phases under a
// blend of the robot's and the source body's magnitudes, optionally shifted
// or warped in frequency, gated and thinned to a comb. The Vocoder builds its
// carrier with SynthesizeMorphLoop.
//
// Audio is interleaved signed 16-bit: channel c of frame k at
// samples[k * channels + c]. Frame positions and counts are int64 frames.
// The engines are pure functions (no state, nothing shared), safe on any
// thread, and allocate their working memory per call. Their work grows with
// the loop; they report 0..1 through an optional WorkProgress every few
// dozen hops or blocks of frames, and when it returns false they stop and
// return an empty result. Single precision where
// the formulas say so; the library is built without contraction of a*b+c.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/work_progress.h"

namespace zandrel {

struct LoopSynthParams {
  float cycleOffset = 0.0f;   // where the crossing search starts, a fraction of the loop (0 .. 0.9)
  float amount = 1.0f;        // Morph: morph amount; Sustain: mix (1 = pure robot), 0 .. 1
  float crossfadeMs = 200.0f; // "Orig X-Fade", milliseconds
  int32_t cycleCount = 1;     // periods the detected cycle spans (below 1 counts as 1)
};

struct SpectralMorphParams {
  int32_t shift = 0;   // -30 .. 30: < 0 moves the source spectrum up |shift| bins, > 0 warps it
  float dull = 0.0f;   // gate, 0 .. 1: a bin below dull x the largest blend of bins 0..k is cleared
  int32_t hollow = 1;  // comb: > 1 clears every bin that is not a multiple of it
};

// An engine's result. Empty samples mean failure (no cycle found); the three
// numbers are then 0.
struct LoopSynthResult {
  std::vector<int16_t> samples;  // p + L frames: the untouched lead-in, then the body
  int64_t loopStart = 0;         // p
  int64_t loopEnd = 0;           // p + L, exclusive
  int64_t period = 0;            // P, frames

  bool Empty() const { return samples.empty(); }
};

// Morph Loop. The knob set gives cycleCount 1; the Vocoder's carrier uses it
// with amount 1, no crossfade and no gate or comb.
LoopSynthResult SynthesizeMorphLoop(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                    const LoopSynthParams& params, const SpectralMorphParams& morph,
                                    const WorkProgress& progress = {});

// Infinite Sustain Synth.
LoopSynthResult SynthesizeSustainLoop(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                      const LoopSynthParams& params, const WorkProgress& progress = {});

// Short-time cross-synthesis of two bodies of equal length (B is read as
// silence past its end): 2048-point Hann frames at a hop of 512, both bodies
// read as if they repeated, A's phases under a blend of A's and B's
// magnitudes (morph 0 = A's, 1 = B's). Each output sample is divided by the
// sum of the squared windows that covered it, so the level is right for any
// body length. The result has A's length; empty for empty A or channels < 1,
// or when |progress| said stop.
std::vector<int16_t> SpectralMorph(std::span<const int16_t> a, std::span<const int16_t> b, int channels,
                                   float morph, const SpectralMorphParams& params, const WorkProgress& progress = {});

// The knobs of the two dialogs as the dialog returns them (its float values,
// unconverted), with the dialogs' defaults, and the engine parameters they
// give. "Offset" is a percentage; int(...) truncates toward zero.
struct MorphLoopKnobs {
  float cycleOffset = 0.0f;  // "Offset", 0 .. 90 %
  float xfade = 200.0f;      // "Orig X-Fade", 0 .. 1000 ms
  float morph = 100.0f;      // "Morph", 0 .. 100 %
  float shift = 0.0f;        // "Morph Timbre", -30 .. 30
  float dull = 0.0f;         // "Morph Gate", 0 .. 1
  float hollow = 1.0f;       // "Morph Comb", 1 .. 10
};
struct SustainLoopKnobs {
  float cycleOffset = 0.0f;  // "Offset", 0 .. 90 %
  float xfade = 200.0f;      // "Orig X-Fade", 0 .. 1000 ms
  float step = 1.0f;         // "Step", 1 .. 20 cycles
  float mix = 100.0f;        // "Mix", 0 .. 100 %
};
struct MorphLoopSettings {
  LoopSynthParams loop;  // cycleCount is always 1
  SpectralMorphParams morph;
};
MorphLoopSettings MorphLoopSettingsFromKnobs(const MorphLoopKnobs& knobs);
LoopSynthParams SustainLoopParamsFromKnobs(const SustainLoopKnobs& knobs);

// The messages of the three loop tools (Morph Loop, Infinite Sustain Synth,
// Vocoder) that concern the range and the engines above.
inline constexpr std::string_view kInvalidLoopPointsMessage = "Please set valid loop points first.";
inline constexpr std::string_view kNoFundamentalMessage = "Could not detect fundamental frequency.";

// The range of the three loop tools from the view's loop selection (frames,
// -1 = none): loop out past the audio is clamped to the frame count; no range
// (the caller shows kInvalidLoopPointsMessage) when loop in is negative or
// not below the clamped loop out.
struct LoopToolRange {
  int64_t start = 0;
  int64_t end = 0;  // exclusive
};
std::optional<LoopToolRange> LoopToolRangeFromSelection(int64_t loopIn, int64_t loopOut, int64_t frameCount);

}  // namespace zandrel

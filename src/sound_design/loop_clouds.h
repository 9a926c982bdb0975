// The two texture engines of the loop re-synthesis tools: the Granular Cloud
// (GenerateGranularCloud: overlapping Hann-windowed grains read from random
// places of the loop at slightly random speeds) and the Frequency Cloud
// (PaulStretchSlice: an extreme spectral time stretch that keeps each bin's
// magnitude, draws a random phase for it and renders only the slice of the
// stretched timeline that starts at a chosen position).
//
// Both take the loop as interleaved signed 16-bit samples (LoopPcm) and
// return T frames of the same layout, T = the target length below; an empty
// vector means no result (an empty loop, or the work was stopped). Both can
// blend the texture with the loop repeated to length, fold the F frames
// rendered past T into the start with an equal-power fade (so the result
// loops without a seam) and normalise the peak to 30000.
//
// Random numbers come from the Rand15 the caller passes: the app owns one
// started from state 1 and never reseeds it, so every run continues the
// sequence and the draw order is part of the result. That is also why the
// engines run on one thread. Single precision where the formulas say so;
// the library is built without contraction of a*b+c.
//
// Progress: the optional callback gets whole percentages each time the value
// changes and 100 at the end; when it returns false the engine stops at once
// and returns an empty result. PaulStretchSlice asks it once per hop, the
// Granular Cloud once per grain, up to 90; the mix, fade and normalisation
// sweeps over the result count the rest. It runs on the engine's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "processing/rand15.h"

namespace zandrel {

// The loop: frames() = samples.size() / channels frames, channel c of frame k
// at samples[k * channels + c].
struct LoopPcm {
  std::span<const int16_t> samples;
  int channels = 1;
  uint32_t rate = 44100;  // frames per second

  int64_t Frames() const { return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0; }
};

// Whole percentages 0..100; false stops the engine.
using CloudProgress = std::function<bool(int percent)>;

struct GranularParams {
  double lengthRatio = 2.0;  // "Loop Length" / 100, 1..6
  double grainMs = 800.0;    // "Grain Size"
  double density = 4.0;      // grains over each frame, 2..16
  float jitter = 0.01f;      // speed spread, 0..0.2: speeds 1 - jitter .. 1 + jitter
  float loopFadeMs = 750.0f;
  float mix = 1.0f;          // 1 = all cloud, 0 = the loop repeated
};

struct PaulStretchParams {
  float stretch = 4.0f;      // "Str. Coarse" + "Str. Fine", at least 0.1
  float windowMs = 250.0f;
  float lengthRatio = 2.0f;  // "Loop Length" / 100, 1..10
  float position = 0.0f;     // where the slice starts in the stretched loop, 0..1
  float loopFadeMs = 750.0f;
  float mix = 1.0f;
};

// The result length T of both engines for a loop of |frames| frames, from
// the truncated product q = frames x length ratio: q itself with mix >= 1,
// else q rounded to whole loops (at least one), so a blend with the repeated
// loop still loops.
int64_t CloudTargetFrames(int64_t frames, int64_t truncatedProduct, float mix);
// The loop fade F: min(T / 2, fade ms / 1000 x rate), the product in single
// precision and truncated.
int64_t CloudFadeFrames(int64_t target, float loopFadeMs, uint32_t rate);

// The Granular Cloud's grain length G (frames, at most the loop, at least 10)
// and hop H (G / density, at least 1).
int64_t GranularGrainFrames(const GranularParams& params, int64_t loopFrames, uint32_t rate);
int64_t GranularHopFrames(int64_t grainFrames, double density);

// The Frequency Cloud's window W: the smallest power of two not below
// window ms x rate / 1000, and at least 4 so that the hop W / 4 is a frame or
// more at any rate. Its hop is W / 4.
int64_t PaulStretchWindow(float windowMs, uint32_t rate);
// The stretch the knobs give: coarse + fine, at least 0.1.
float PaulStretchFactor(float coarse, float fine);

std::vector<int16_t> GenerateGranularCloud(const LoopPcm& loop, const GranularParams& params, Rand15& random,
                                           const CloudProgress& progress = {});
std::vector<int16_t> PaulStretchSlice(const LoopPcm& loop, const PaulStretchParams& params, Rand15& random,
                                      const CloudProgress& progress = {});

}  // namespace zandrel

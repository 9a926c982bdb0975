#include "sound_design/loop_synth.h"

#include <algorithm>
#include <cmath>

#include "processing/complex_fft.h"
#include "sound_design/tone_engine.h"
#include "platform/work_progress.h"

namespace zandrel {
namespace {

constexpr int kFftSize = 2048;
constexpr int kHop = 512;

// Where the cycle was found: the rising crossing p and the period P.
struct Cycle {
  int64_t start = 0;
  int64_t period = 0;
};

// Truncation toward zero of a knob or product that may be out of range or
// NaN (a cast of those is undefined).
int64_t TruncateTo(double value, int64_t lo, int64_t hi) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(lo)) return lo;
  if (value >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(value);
}

std::optional<Cycle> DetectCycle(std::span<const int16_t> loop, int64_t channels, int64_t frames,
                                 const LoopSynthParams& params) {
  if (frames <= 0) return std::nullopt;
  auto s = [&](int64_t i) { return static_cast<int>(loop[static_cast<size_t>(i * channels)]); };

  // The start guess; a loop under 100 frames always searches from frame 0.
  int64_t guess = TruncateTo(static_cast<float>(frames) * params.cycleOffset, 0, frames);
  guess = std::max<int64_t>(std::min(guess, frames - 100), 0);

  // The first rising zero crossing within 2000 frames of the guess. Frame 0
  // has no predecessor, so it is never one.
  int64_t p = guess;
  const int64_t crossingEnd = std::min(frames - 1, guess + 2000);
  for (int64_t i = std::max<int64_t>(guess, 1); i < crossingEnd; ++i) {
    if (s(i - 1) <= 0 && s(i) > 0) {
      p = i;
      break;
    }
  }
  const int64_t remaining = frames - p;

  // The hysteresis threshold: 40 % of the peak of the next 2000 frames, so
  // that ripples near zero do not count as crossings. -32768 has no 16-bit
  // absolute value and is left out.
  int peak = 0;
  for (int64_t k = 0; k < std::min<int64_t>(remaining, 2000); ++k) {
    const int v = s(p + k);
    if (v != -32768) peak = std::max(peak, std::abs(v));
  }
  int threshold = static_cast<int>(peak * 0.4);
  if (threshold < 50) threshold = 50;

  // A crossing counts only after the wave went above +t and below -t since
  // the last counted one.
  const int target = std::max(1, params.cycleCount);
  bool high = false;
  bool low = false;
  int counted = 0;
  int64_t period = 0;
  const int64_t periodEnd = std::min(frames, p + 10000);
  for (int64_t j = p + 1; j < periodEnd; ++j) {
    const int v = s(j);
    if (v > threshold) high = true;
    if (v < -threshold) low = true;
    if (s(j - 1) <= 0 && v > 0 && high && low) {
      if (++counted == target) {
        period = j - p;
        break;
      }
      high = false;
      low = false;
    }
  }
  if (period <= 3) return std::nullopt;
  return Cycle{p, period};
}

// The pieces both engines share: the lead-in copied, the robot T (the cycle
// repeated over L frames) and the source body O (the L frames after p).
struct Body {
  LoopSynthResult result;  // samples sized p + L, lead-in filled
  std::vector<int16_t> robot;
  std::vector<int16_t> source;
};

// Three copies of up to the loop's length, reported as they are sized and
// filled (on a long loop, touching their pages is what takes the time).
std::optional<Body> MakeBody(std::span<const int16_t> loop, int64_t channels, const Cycle& cycle, int64_t frames,
                             const WorkProgress& progress) {
  const int64_t p = cycle.start;
  const int64_t period = cycle.period;
  // Whole periods that fit after p; the loop's last r - L frames are dropped.
  const int64_t length = period * std::max<int64_t>(1, (frames - p) / period);
  Body body;
  if (!ZeroedInBlocks(body.result.samples, static_cast<size_t>((p + length) * channels),
                      SubProgress(progress, 0.0, 0.25)))
    return std::nullopt;
  std::copy_n(loop.begin(), p * channels, body.result.samples.begin());
  body.result.loopStart = p;
  body.result.loopEnd = p + length;
  body.result.period = period;
  if (!ZeroedInBlocks(body.robot, static_cast<size_t>(length * channels), SubProgress(progress, 0.25, 0.5)))
    return std::nullopt;
  for (int64_t k = 0; k < length; ++k)
    std::copy_n(loop.begin() + (p + k % period) * channels, channels, body.robot.begin() + k * channels);
  if (!ReportProgress(progress, 0.6)) return std::nullopt;
  if (!ZeroedInBlocks(body.source, static_cast<size_t>(length * channels), SubProgress(progress, 0.6, 0.9)))
    return std::nullopt;
  std::copy(loop.begin() + p * channels, loop.begin() + (p + length) * channels, body.source.begin());
  if (!ReportProgress(progress, 1.0)) return std::nullopt;
  return body;
}

// The head of O takes over from audio F frames before O's end and reaches
// O's own audio at frame F. Two loud samples of the same sign sum to up to
// sqrt(2) x full scale in the middle of the fade: saturated, not wrapped.
void CrossfadeSourceHead(std::vector<int16_t>& source, int64_t channels, float crossfadeMs, uint32_t sampleRate) {
  const int64_t length = static_cast<int64_t>(source.size()) / channels;
  const int64_t wanted = TruncateTo(crossfadeMs / 1000.0f * static_cast<float>(sampleRate), 0, INT64_MAX / 4);
  const int64_t fade = std::min(length / 2, wanted);
  for (int64_t m = 0; m < fade; ++m) {
    const double theta = static_cast<double>(m) / static_cast<double>(fade) * 1.57079632679;
    const auto in = static_cast<float>(std::sin(theta));
    const auto out = static_cast<float>(std::cos(theta));
    for (int64_t c = 0; c < channels; ++c) {
      // L - F + m >= F > m: the sample read is never one already faded.
      const float tail = source[static_cast<size_t>((length - fade + m) * channels + c)];
      int16_t& head = source[static_cast<size_t>(m * channels + c)];
      head = ClampToPcm16(tail * out + static_cast<float>(head) * in);
    }
  }
}

// The symmetric Hann window of 2048 points.
std::vector<float> HannWindow() {
  std::vector<float> w(kFftSize);
  for (int i = 0; i < kFftSize; ++i)
    w[i] = (1.0f - std::cos(static_cast<float>(i) * 6.2831855f / 2047.0f)) * 0.5f;
  return w;
}

}  // namespace

std::vector<int16_t> SpectralMorph(std::span<const int16_t> a, std::span<const int16_t> b, int channels,
                                   float morph, const SpectralMorphParams& params, const WorkProgress& progress) {
  if (channels < 1 || a.empty()) return {};
  const int64_t ch = channels;
  const int64_t frames = static_cast<int64_t>(a.size()) / ch;
  if (frames == 0) return std::vector<int16_t>(a.size(), 0);

  // Shares of the bar: the buffers zeroed, the window sums (no transform)
  // and, per channel, the frames (three transforms each) and the copy out; a
  // report every 16 frames, or 16 x 512 frames copied.
  const int64_t hops = (frames + kHop - 1) / kHop;
  std::vector<int16_t> out;
  std::vector<float> windowSum, acc;
  if (!ZeroedInBlocks(out, a.size(), SubProgress(progress, 0.0, 0.02)) ||
      !ZeroedInBlocks(windowSum, static_cast<size_t>(frames), SubProgress(progress, 0.02, 0.04)) ||
      !ZeroedInBlocks(acc, static_cast<size_t>(frames), SubProgress(progress, 0.04, 0.06)))
    return {};
  const WorkProgress summing = SubProgress(progress, 0.06, 0.1);
  const WorkProgress transforming = SubProgress(progress, 0.1, 1.0);
  ProgressTicker summed(summing, static_cast<uint64_t>(hops), 16);
  ProgressTicker transformed(transforming, static_cast<uint64_t>(2 * hops * ch), 16);

  const std::vector<float> w = HannWindow();

  // Output bin k reads source bin j: moved up by |shift| bins for a negative
  // shift, warped by a power law fixed at bins 0 and 1024 for a positive one.
  std::vector<int> sourceBin(kFftSize);
  const float exponent = 1.0f + 0.05f * static_cast<float>(params.shift);
  for (int k = 0; k < kFftSize; ++k) {
    int64_t j = k + static_cast<int64_t>(params.shift);
    if (params.shift >= 1)
      j = TruncateTo(std::pow(static_cast<float>(k) * (1.0f / 1024.0f), exponent) * 1024.0f, 0, kFftSize);
    sourceBin[k] = static_cast<int>(std::clamp<int64_t>(j, 0, kFftSize - 1));
  }

  // The squared windows each output slot received. A fixed 1/1.5 is right
  // only where four frames overlap with no wrap (bodies of whole hops, at
  // least one window long); a shorter or ragged body folds extra window mass
  // onto its start, which the fixed factor would turn into a level bump.
  for (int64_t start = 0; start < frames; start += kHop) {
    if (!summed.Step()) return {};
    int64_t q = start;
    for (int l = 0; l < kFftSize; ++l) {
      windowSum[q] += w[l] * w[l];
      if (++q == frames) q = 0;
    }
  }

  const FftPlan plan(kFftSize);
  // Split arrays laid out as the plan wants them: imaginary right after real.
  std::vector<float> specA(2 * kFftSize);
  std::vector<float> specB(2 * kFftSize);
  float* reA = specA.data();
  float* imA = specA.data() + kFftSize;
  float* reB = specB.data();
  float* imB = specB.data() + kFftSize;
  std::vector<float> magA(kFftSize);
  std::vector<float> magB(kFftSize);
  std::vector<float> blend(kFftSize);
  const auto sampleB = [&](int64_t index) { return index < static_cast<int64_t>(b.size()) ? b[index] : 0; };

  for (int64_t c = 0; c < ch; ++c) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (int64_t start = 0; start < frames; start += kHop) {
      if (!transformed.Step()) return {};
      // The body is read as if it repeated.
      int64_t q = start;
      for (int l = 0; l < kFftSize; ++l) {
        reA[l] = static_cast<float>(a[q * ch + c]) * w[l];
        reB[l] = static_cast<float>(sampleB(q * ch + c)) * w[l];
        if (++q == frames) q = 0;
      }
      std::fill_n(imA, kFftSize, 0.0f);
      std::fill_n(imB, kFftSize, 0.0f);
      plan.Complex(reA, imA, false);
      plan.Complex(reB, imB, false);
      for (int k = 0; k < kFftSize; ++k) {
        magA[k] = std::sqrt(reA[k] * reA[k] + imA[k] * imA[k]);
        magB[k] = std::sqrt(reB[k] * reB[k] + imB[k] * imB[k]);
      }

      // All 2048 bins in increasing order: the gate compares a bin with the
      // largest blend of bins 0..k only.
      float blendMax = 0.0f;
      float keptMax = 0.0f;
      for (int k = 0; k < kFftSize; ++k) {
        float u = magB[sourceBin[k]] * morph + (1.0f - morph) * magA[k];
        blendMax = std::max(blendMax, u);
        if (params.dull > 0.0f && u < params.dull * blendMax) u = 0.0f;
        if (params.hollow > 1 && k % params.hollow != 0) u = 0.0f;
        blend[k] = u;
        keptMax = std::max(keptMax, u);
      }
      // What the gate and the comb took away is given back in level, at
      // most x3.
      const float gain =
          (keptMax > 0.000001f && blendMax > 0.000001f) ? std::min(blendMax / keptMax, 3.0f) : 1.0f;

      // The new magnitudes on A's phases.
      for (int k = 0; k < kFftSize; ++k) {
        const float f = blend[k] * gain / (magA[k] + 0.000000001f);
        reA[k] *= f;
        imA[k] *= f;
      }
      plan.Complex(reA, imA, true);

      q = start;
      for (int l = 0; l < kFftSize; ++l) {
        acc[q] += reA[l] * w[l];
        if (++q == frames) q = 0;
      }
    }
    for (int64_t k = 0; k < frames; ++k) {
      if (k % kHop == 0 && !transformed.Step()) return {};
      const float v = windowSum[k] > 0.0f ? acc[k] / windowSum[k] : 0.0f;
      out[k * ch + c] = static_cast<int16_t>(std::clamp(v, -32767.0f, 32767.0f));
    }
  }
  return out;
}

LoopSynthResult SynthesizeMorphLoop(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                    const LoopSynthParams& params, const SpectralMorphParams& morph,
                                    const WorkProgress& progress) {
  if (channels < 1) return {};
  const int64_t frames = static_cast<int64_t>(loop.size()) / channels;
  const std::optional<Cycle> cycle = DetectCycle(loop, channels, frames, params);
  if (!cycle) return {};
  std::optional<Body> made = MakeBody(loop, channels, *cycle, frames, SubProgress(progress, 0.0, 0.05));
  if (!made) return {};
  Body& body = *made;
  const auto bodyAt = body.result.samples.begin() + body.result.loopStart * channels;
  if (params.amount <= 0.0f) {
    std::copy(body.robot.begin(), body.robot.end(), bodyAt);
    if (!ReportProgress(progress, 1.0)) return {};
    return std::move(body.result);
  }
  if (params.crossfadeMs > 0.0f) CrossfadeSourceHead(body.source, channels, params.crossfadeMs, sampleRate);
  const std::vector<int16_t> morphed =
      SpectralMorph(body.robot, body.source, channels, params.amount, morph, SubProgress(progress, 0.05, 0.99));
  if (morphed.empty()) return {};
  std::copy(morphed.begin(), morphed.end(), bodyAt);
  if (!ReportProgress(progress, 1.0)) return {};
  return std::move(body.result);
}

LoopSynthResult SynthesizeSustainLoop(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                      const LoopSynthParams& params, const WorkProgress& progress) {
  if (channels < 1) return {};
  const int64_t frames = static_cast<int64_t>(loop.size()) / channels;
  const std::optional<Cycle> cycle = DetectCycle(loop, channels, frames, params);
  if (!cycle) return {};
  std::optional<Body> made = MakeBody(loop, channels, *cycle, frames, SubProgress(progress, 0.0, 0.5));
  if (!made) return {};
  Body& body = *made;
  const float amount = params.amount;
  if (amount < 1.0f && params.crossfadeMs > 0.0f)
    CrossfadeSourceHead(body.source, channels, params.crossfadeMs, sampleRate);
  auto out = body.result.samples.begin() + body.result.loopStart * channels;
  const WorkProgress blending = SubProgress(progress, 0.5, 1.0);
  ProgressTicker ticker(blending, body.robot.size(), 1 << 18);
  for (size_t i = 0; i < body.robot.size(); ++i) {
    if (!ticker.Step()) return {};
    out[i] = ClampToPcm16(static_cast<float>(body.robot[i]) * amount +
                          (1.0f - amount) * static_cast<float>(body.source[i]));
  }
  if (!ReportProgress(progress, 1.0)) return {};
  return std::move(body.result);
}

MorphLoopSettings MorphLoopSettingsFromKnobs(const MorphLoopKnobs& knobs) {
  MorphLoopSettings settings;
  settings.loop.cycleOffset = knobs.cycleOffset / 100.0f;
  settings.loop.crossfadeMs = knobs.xfade;
  settings.loop.amount = knobs.morph / 100.0f;
  settings.loop.cycleCount = 1;
  settings.morph.shift = static_cast<int32_t>(TruncateTo(knobs.shift, INT32_MIN, INT32_MAX));
  settings.morph.dull = knobs.dull;
  settings.morph.hollow = static_cast<int32_t>(TruncateTo(knobs.hollow, INT32_MIN, INT32_MAX));
  return settings;
}

LoopSynthParams SustainLoopParamsFromKnobs(const SustainLoopKnobs& knobs) {
  LoopSynthParams params;
  params.cycleOffset = knobs.cycleOffset / 100.0f;
  params.crossfadeMs = knobs.xfade;
  params.cycleCount = static_cast<int32_t>(TruncateTo(knobs.step, INT32_MIN, INT32_MAX));
  params.amount = knobs.mix / 100.0f;
  return params;
}

std::optional<LoopToolRange> LoopToolRangeFromSelection(int64_t loopIn, int64_t loopOut, int64_t frameCount) {
  const int64_t end = std::min(loopOut, frameCount);
  if (loopIn < 0 || loopIn >= end) return std::nullopt;
  return LoopToolRange{loopIn, end};
}

}  // namespace zandrel

#include "sound_design/loop_clouds.h"

#include <algorithm>
#include <cmath>

#include "processing/complex_fft.h"

namespace zandrel {
namespace {

// Reports a percentage only when it changed; remembers a refusal.
class ProgressGate {
 public:
  explicit ProgressGate(const CloudProgress& progress) : progress_(progress) {}
  // False once the callback asked to stop.
  bool Report(int percent) {
    if (percent == last_) return true;
    last_ = percent;
    return !progress_ || progress_(percent);
  }

 private:
  const CloudProgress& progress_;
  int last_ = -1;
};

// The percentages of the bar: the engine's own loop up to this one, then the
// finishing sweeps below, then 100.
constexpr int kRenderedPercent = 90;

// The render's percentage after |done| of |total| items.
int RenderPercent(int64_t done, int64_t total) {
  return static_cast<int>(static_cast<int64_t>(kRenderedPercent) * done / std::max<int64_t>(total, 1));
}

// Zeroes |acc| up to |samples| (within its reserved capacity) as the render
// reaches there: the pages of a long result are touched between reports,
// not all before the first.
void Grow(std::vector<float>& acc, int64_t samples) {
  if (static_cast<size_t>(samples) > acc.size()) acc.resize(static_cast<size_t>(samples), 0.0f);
}

// Counts the finishing sweeps' frames into the percentages after the render.
class FinishTicker {
 public:
  FinishTicker(ProgressGate& gate, int64_t total) : gate_(gate), total_(std::max<int64_t>(total, 1)) {}
  bool Step(int64_t items = 1) {
    done_ += items;
    if (done_ - reported_ < 1 << 16) return true;
    reported_ = done_;
    return gate_.Report(kRenderedPercent + static_cast<int>((100 - kRenderedPercent - 1) * done_ / total_));
  }

 private:
  ProgressGate& gate_;
  int64_t total_;
  int64_t done_ = 0;
  int64_t reported_ = 0;
};

// Mix (over |frames| frames), loop fade and normalisation, shared by both
// engines; |acc| holds at least T + F frames. Empty when the gate said stop.
std::vector<int16_t> Finish(std::vector<float>& acc, const LoopPcm& loop, int64_t target, int64_t fade, float mix,
                            int64_t mixFrames, ProgressGate& gate) {
  const int channels = loop.channels;
  const int64_t n = loop.Frames();
  const size_t count = static_cast<size_t>(target * channels);
  FinishTicker ticker(gate, (mix < 1.0f ? mixFrames : 0) + fade + 2 * target);
  if (mix < 1.0f) {
    for (int64_t k = 0; k < mixFrames; ++k) {
      if (!ticker.Step()) return {};
      const int64_t src = k % n;
      for (int c = 0; c < channels; ++c) {
        float& a = acc[static_cast<size_t>(k * channels + c)];
        a = (1.0f - mix) * static_cast<float>(loop.samples[static_cast<size_t>(src * channels + c)]) + mix * a;
      }
    }
  }
  // What follows frame T - 1 fades into the start: the T frames loop.
  for (int64_t m = 0; m < fade; ++m) {
    if (!ticker.Step()) return {};
    const double theta = static_cast<double>(m) / static_cast<double>(fade) * 1.57079632679;
    const float s = static_cast<float>(std::sin(theta));
    const float co = static_cast<float>(std::cos(theta));
    for (int c = 0; c < channels; ++c) {
      float& head = acc[static_cast<size_t>(m * channels + c)];
      head = co * acc[static_cast<size_t>((target + m) * channels + c)] + s * head;
    }
  }
  float peak = 0.0f;
  for (size_t i = 0; i < count; ++i) {
    if (i % static_cast<size_t>(channels) == 0 && !ticker.Step()) return {};
    peak = std::max(peak, std::fabs(acc[i]));
  }
  const float gain = peak > 0.0f ? 30000.0f / peak : 1.0f;
  std::vector<int16_t> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (i % static_cast<size_t>(channels) == 0 && !ticker.Step()) return {};
    const float v = std::clamp(gain * acc[i], -32768.0f, 32767.0f);
    out.push_back(static_cast<int16_t>(v));  // truncation toward zero
  }
  if (!gate.Report(100)) return {};
  return out;
}

}  // namespace

int64_t CloudTargetFrames(int64_t frames, int64_t truncatedProduct, float mix) {
  if (mix >= 1.0f) return truncatedProduct;
  if (frames <= 0) return 0;
  return frames * std::max<int64_t>(1, (truncatedProduct + frames / 2) / frames);
}

int64_t CloudFadeFrames(int64_t target, float loopFadeMs, uint32_t rate) {
  const float product = loopFadeMs / 1000.0f * static_cast<float>(rate);
  const int64_t frames = product > 0.0f ? static_cast<int64_t>(product) : 0;
  return std::min(target / 2, frames);
}

int64_t GranularGrainFrames(const GranularParams& params, int64_t loopFrames, uint32_t rate) {
  const double g = static_cast<double>(rate) * params.grainMs / 1000.0;
  int64_t frames = g > 0.0 ? static_cast<int64_t>(g) : 0;
  frames = std::min(frames, loopFrames);
  return std::max<int64_t>(frames, 10);
}

int64_t GranularHopFrames(int64_t grainFrames, double density) {
  const double h = density > 0.0 ? static_cast<double>(grainFrames) / density : 0.0;
  return std::max<int64_t>(h >= 1.0 ? static_cast<int64_t>(h) : 0, 1);
}

int64_t PaulStretchWindow(float windowMs, uint32_t rate) {
  const float d = windowMs / 1000.0f * static_cast<float>(rate);
  const int64_t wanted = d > 0.0f ? static_cast<int64_t>(d) : 0;
  int64_t w = 2;
  while (w < wanted) w *= 2;
  // Below 4 the hop W / 4 would be 0 frames: no frame would ever advance.
  return std::max<int64_t>(w, 4);
}

float PaulStretchFactor(float coarse, float fine) { return std::max(coarse + fine, 0.1f); }

namespace {

// A grain start in [0, span): one 15-bit draw reaches every start of a span
// up to 32768 frames; a longer span (a loop of more than about 0.75 s at
// 44.1 kHz) takes two draws as one 30-bit number, so that grains reach its
// whole length instead of only its first 32768 frames.
int64_t GrainStart(Rand15& random, int64_t span) {
  if (span <= Rand15::kMax + 1) return random.Next() % span;
  const int64_t high = random.Next();
  const int64_t low = random.Next();
  return ((high << 15) | low) % span;
}

}  // namespace

std::vector<int16_t> GenerateGranularCloud(const LoopPcm& loop, const GranularParams& params, Rand15& random,
                                           const CloudProgress& progress) {
  const int64_t n = loop.Frames();
  const int channels = loop.channels;
  if (n <= 0 || channels <= 0) return {};
  const double product = static_cast<double>(n) * params.lengthRatio;
  const int64_t target = CloudTargetFrames(n, product > 0.0 ? static_cast<int64_t>(product) : 0, params.mix);
  if (target <= 0) return {};
  const int64_t fade = CloudFadeFrames(target, params.loopFadeMs, loop.rate);
  const int64_t rendered = target + fade;
  const int64_t grain = GranularGrainFrames(params, n, loop.rate);
  const int64_t hop = GranularHopFrames(grain, params.density);
  std::vector<float> window(static_cast<size_t>(grain));
  for (int64_t i = 0; i < grain; ++i)
    window[static_cast<size_t>(i)] =
        static_cast<float>((1.0 - std::cos(static_cast<double>(i) / static_cast<double>(grain) * 6.28318530718)) * 0.5);
  // Signed: a loop shorter than a grain (grains are at least 10 frames) has no span.
  const int64_t span = n - grain;
  std::vector<float> acc;
  acc.reserve(static_cast<size_t>(rendered * channels));
  const int16_t* s = loop.samples.data();
  ProgressGate gate(progress);
  for (int64_t t = 0; t < rendered; t += hop) {
    if (!gate.Report(RenderPercent(t, rendered))) return {};
    const int64_t w = span >= 1 ? GrainStart(random, span) : 0;
    // The speed is drawn for every grain, also at jitter 0.
    const float rho =
        (static_cast<float>(random.Next()) / 32767.0f - 0.5f) * 2.0f * params.jitter + 1.0f;
    const int64_t last = std::min(grain, rendered - t);
    Grow(acc, (t + last) * channels);
    for (int64_t i = 0; i < last; ++i) {
      double x = static_cast<double>(static_cast<float>(i) * rho + static_cast<float>(w));
      if (x >= static_cast<double>(n)) x -= static_cast<double>(n);
      if (x < 0.0) x += static_cast<double>(n);
      const int64_t i0 = static_cast<int64_t>(x);
      const float f = static_cast<float>(x - static_cast<double>(i0));
      // A read past the end wraps once; a very short loop falls back to frame 0.
      const int64_t a = i0 >= n ? 0 : i0;
      const int64_t b = i0 + 1 >= n ? 0 : i0 + 1;
      const float g = window[static_cast<size_t>(i)];
      float* out = &acc[static_cast<size_t>((t + i) * channels)];
      for (int c = 0; c < channels; ++c) {
        const float l0 = s[a * channels + c];
        const float l1 = s[b * channels + c];
        out[c] += ((l1 - l0) * f + l0) * g;
      }
    }
  }
  Grow(acc, rendered * channels);
  return Finish(acc, loop, target, fade, params.mix, rendered, gate);
}

std::vector<int16_t> PaulStretchSlice(const LoopPcm& loop, const PaulStretchParams& params, Rand15& random,
                                      const CloudProgress& progress) {
  const int64_t n = loop.Frames();
  const int channels = loop.channels;
  if (n <= 0 || channels <= 0) return {};
  const int64_t w = PaulStretchWindow(params.windowMs, loop.rate);
  const int64_t hop = w / 4;
  const float product = static_cast<float>(n) * params.lengthRatio;
  const int64_t target = CloudTargetFrames(n, product > 0.0f ? static_cast<int64_t>(product) : 0, params.mix);
  if (target <= 0) return {};
  const int64_t fade = CloudFadeFrames(target, params.loopFadeMs, loop.rate);
  const float stretch = std::max(params.stretch, 0.1f);
  // Fewer windows overlap over the first W frames: render them and drop them.
  const int64_t lead = stretch != 1.0f ? w : 0;
  const int64_t rendered = target + fade + lead;
  const double sp = static_cast<double>(stretch) * static_cast<double>(n) * static_cast<double>(params.position);
  const int64_t sliceStart = sp > 0.0 ? static_cast<int64_t>(sp) : 0;
  std::vector<float> window(static_cast<size_t>(w));
  for (int64_t i = 0; i < w; ++i)
    window[static_cast<size_t>(i)] =
        (1.0f - std::cos(static_cast<float>(i) * 6.2831855f / static_cast<float>(w - 1))) * 0.5f;
  const int64_t b0 = hop * (sliceStart / hop);
  const int64_t end = rendered + b0 + w;
  const int64_t frameCount = (end - b0) / hop;

  FftPlan plan(static_cast<size_t>(w));
  const size_t bins = plan.Bins();
  const size_t split = FftPlan::SplitOffset(bins);
  std::vector<float> in(static_cast<size_t>(w));
  std::vector<float> spectrum(2 * split);  // real part, then the imaginary part SplitOffset floats later
  float* re = spectrum.data();
  float* im = spectrum.data() + split;
  std::vector<float> out(static_cast<size_t>(w));
  std::vector<float> acc;
  acc.reserve(static_cast<size_t>(rendered * channels));
  const int16_t* s = loop.samples.data();
  const int64_t half = w / 2;
  ProgressGate gate(progress);
  int64_t f = 0;
  for (int64_t b = b0; b < end; b += hop, ++f) {
    if (!gate.Report(RenderPercent(f, frameCount))) return {};
    Grow(acc, std::clamp<int64_t>(b - sliceStart + w, 0, rendered) * channels);
    int64_t r = static_cast<int64_t>(static_cast<double>(b) / static_cast<double>(stretch));
    if (stretch == 1.0f) r -= half;  // centred on b: the first frames read the loop's end
    for (int c = 0; c < channels; ++c) {
      for (int64_t j = 0; j < w; ++j) {
        int64_t k = (r + j) % n;
        if (k < 0) k += n;
        in[static_cast<size_t>(j)] = static_cast<float>(s[k * channels + c]) * window[static_cast<size_t>(j)];
      }
      // Bins 0 .. W/2 of the complex transform of (in, 0); the upper half is
      // their conjugate mirror, which the real inverse assumes.
      plan.RealForward(in.data(), re, im);
      for (int64_t j = 0; j <= half; ++j) {
        const float m = std::sqrt(re[j] * re[j] + im[j] * im[j]);
        const float phi = static_cast<float>(random.Next()) / 32767.0f * 2.0f * 3.1415927f;
        re[j] = std::cos(phi) * m;
        im[j] = std::sin(phi) * m;
      }
      im[0] = 0.0f;
      im[half] = 0.0f;
      plan.RealInverse(re, im, out.data());
      for (int64_t j = 0; j < w; ++j) {
        const int64_t o = b - sliceStart + j;
        if (o >= 0 && o < rendered)
          acc[static_cast<size_t>(o * channels + c)] += out[static_cast<size_t>(j)] * window[static_cast<size_t>(j)];
      }
    }
  }
  Grow(acc, rendered * channels);
  if (lead > 0) acc.erase(acc.begin(), acc.begin() + lead * channels);
  return Finish(acc, loop, target, fade, params.mix, target, gate);
}

}  // namespace zandrel

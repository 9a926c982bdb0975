#include "processing/loop_crossfade.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/text_format.h"
#include "processing/sample_frames.h"
#include "processing/snapping.h"

namespace zandrel {

// The lengths are computed in single precision: (len / rate) * 0.25 * rate
// is exactly 2500 for a 10000-frame loop at 44100 Hz, and the equal-power
// (len / rate) * (rate * 0.15) comes to 1500.0001, so truncation is safe.
float HanningCrossfade::LengthFor(int64_t loopLength, uint32_t rate) {
  const float r = static_cast<float>(rate);
  return static_cast<float>(loopLength) / r * 0.25f * r;
}

void HanningCrossfade::Weights(int64_t i, int64_t n, float& fadeIn, float& fadeOut) {
  const double in = (1.0 - std::cos(static_cast<double>(i) / static_cast<double>(n) * 3.14159265359)) * 0.5;
  fadeIn = static_cast<float>(in);
  fadeOut = static_cast<float>(1.0 - in);
}

float EqualPowerCrossfade::LengthFor(int64_t loopLength, uint32_t rate) {
  const float r = static_cast<float>(rate);
  return static_cast<float>(loopLength) / r * (r * 0.15f);
}

void EqualPowerCrossfade::Weights(int64_t i, int64_t n, float& fadeIn, float& fadeOut) {
  const double a = static_cast<double>(i) / static_cast<double>(n) * 1.57079632679;
  fadeIn = static_cast<float>(std::sin(a));
  fadeOut = static_cast<float>(std::cos(a));
}

namespace {

template <class Shape>
int64_t LengthOf(int64_t loopLength, uint32_t rate) {
  if (rate == 0) return kMinCrossfadeFrames;
  return std::max<int64_t>(kMinCrossfadeFrames, static_cast<int64_t>(Shape::LengthFor(loopLength, rate)));
}

// Progress of a crossfade of n frames: the curves, then each pass computed
// and stored, n steps each.
constexpr uint64_t kCrossfadeSteps = 5;
constexpr uint64_t kFramesPerReport = 8192;

// Stores one pass's values: truncated toward zero into 16 bits. An
// equal-power pass whose largest value would clip is scaled down as a whole
// so that its largest magnitude becomes 32767.
bool StorePass(SampleFrames<SampleFormat::kS16>& s, int64_t first, int64_t n, std::vector<float>& values,
               bool rescale, ProgressTicker& ticker) {
  const int channels = s.Channels();
  if (rescale) {
    float peak = 0;
    for (float v : values) peak = std::max(peak, std::fabs(v));
    if (peak > 32767.0f) {
      const float k = 32767.0f / peak;
      for (float& v : values) v *= k;
    }
  }
  for (int64_t j = 0; j < n; ++j) {
    if (!ticker.Step()) return false;
    for (int c = 0; c < channels; ++c)
      s.Set(first + j, c, static_cast<int64_t>(std::trunc(values[static_cast<size_t>(j * channels + c)])));
  }
  return true;
}

template <class Shape>
bool Crossfade(SampleFrames<SampleFormat::kS16>& s, int64_t start, int64_t end, int64_t n, bool rescale,
               const WorkProgress& progress) {
  ProgressTicker ticker(progress, kCrossfadeSteps * static_cast<uint64_t>(n), kFramesPerReport);
  const int channels = s.Channels();
  // The curves and the pass values are appended as they are computed, so
  // that a long crossfade's pages are touched between reports.
  std::vector<float> fin, fout;
  fin.reserve(static_cast<size_t>(n));
  fout.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    if (!ticker.Step()) return false;
    float in = 0, out = 0;
    Shape::Weights(i, n, in, out);
    fin.push_back(in);
    fout.push_back(out);
  }
  std::vector<float> values;
  values.reserve(static_cast<size_t>(n * channels));
  // Pass 1: the loop's last n frames blend into the n frames before its start.
  for (int64_t j = 0; j < n; ++j) {
    if (!ticker.Step()) return false;
    for (int c = 0; c < channels; ++c) {
      const float x = static_cast<float>(s.Get(end - n + j, c));
      const float p = static_cast<float>(s.Get(start - n + j, c));
      const float a = fout[static_cast<size_t>(j)], b = fin[static_cast<size_t>(j)];
      // Weights that sum to one are applied as x + (p - x) * fin: the same
      // blend, but a stretch where both signals agree comes out unchanged
      // (two products rounded apart could truncate a constant down by one).
      values.push_back(rescale ? x * a + p * b : x + (p - x) * b);
    }
  }
  if (!StorePass(s, end - n, n, values, rescale, ticker)) return false;
  // Pass 2: the n frames after the loop end start as the loop start and
  // blend back into what followed.
  for (int64_t k = 0; k < n; ++k) {
    if (!ticker.Step()) return false;
    for (int c = 0; c < channels; ++c) {
      const float y = static_cast<float>(s.Get(end + k, c));
      const float q = static_cast<float>(s.Get(start + k, c));
      const float a = fin[static_cast<size_t>(k)], b = fout[static_cast<size_t>(k)];
      values[static_cast<size_t>(k * channels + c)] = rescale ? y * a + q * b : q + (y - q) * a;
    }
  }
  return StorePass(s, end, n, values, rescale, ticker);
}

// The crossfade of a planned loop over |pcm16|, whose frame 0 is document
// frame |first|.
bool ApplyOn(std::span<uint8_t> pcm16, int channels, uint32_t rate, int64_t first, const LoopCrossfadeResult& plan,
             CrossfadeShape shape, const WorkProgress& progress) {
  const int blockAlign = channels * 2;
  SampleFrames<SampleFormat::kS16> s(pcm16, channels, blockAlign, rate);
  const int64_t start = plan.start - first, end = plan.end - first;
  if (shape == CrossfadeShape::kHanning) return Crossfade<HanningCrossfade>(s, start, end, plan.length, false, progress);
  return Crossfade<EqualPowerCrossfade>(s, start, end, plan.length, true, progress);
}

}  // namespace

int64_t CrossfadeLength(CrossfadeShape shape, int64_t loopLength, uint32_t rate) {
  return shape == CrossfadeShape::kHanning ? LengthOf<HanningCrossfade>(loopLength, rate)
                                           : LengthOf<EqualPowerCrossfade>(loopLength, rate);
}

LoopCrossfadeResult PlanLoopCrossfade(int64_t frames, int bitsPerSample, uint32_t rate, int64_t loopIn,
                                      int64_t loopOut, CrossfadeShape shape) {
  LoopCrossfadeResult r;
  const int64_t start = std::max<int64_t>(0, loopIn);
  const int64_t end = std::min(loopOut, frames);
  if (start >= end) return r;
  const int64_t n = CrossfadeLength(shape, end - start, rate);
  r.length = n;
  r.start = start;
  r.end = end;
  r.status = LoopCrossfadeResult::Status::kRefused;
  if (start < n) {
    r.message = Format("Not enough audio before loop start. Need %lld samples.", static_cast<long long>(n));
    return r;
  }
  if (frames < end + n) {
    r.message = Format("Not enough audio after loop end. Need %lld samples.", static_cast<long long>(n));
    return r;
  }
  if (bitsPerSample != 16) {
    r.message = "Only 16-bit audio is supported.";
    return r;
  }
  const bool hanning = shape == CrossfadeShape::kHanning;
  r.status = LoopCrossfadeResult::Status::kApplied;
  r.log = Format("Applied %s Crossfade (%lld samples / %.2f ms).",
                 hanning ? HanningCrossfade::kName : EqualPowerCrossfade::kName, static_cast<long long>(n),
                 rate ? static_cast<double>(n) * 1000.0 / rate : 0.0);
  return r;
}

LoopCrossfadeResult loopCrossfade(std::span<uint8_t> pcm16, int channels, int bitsPerSample, uint32_t rate,
                                  int64_t loopIn, int64_t loopOut, CrossfadeShape shape) {
  const int blockAlign = channels * std::max(1, bitsPerSample / 8);
  const int64_t frames = channels > 0 ? static_cast<int64_t>(pcm16.size() / static_cast<size_t>(blockAlign)) : 0;
  const LoopCrossfadeResult r = PlanLoopCrossfade(frames, bitsPerSample, rate, loopIn, loopOut, shape);
  if (r.status == LoopCrossfadeResult::Status::kApplied) ApplyOn(pcm16, channels, rate, 0, r, shape, {});
  return r;
}

PcmWindow LoopCrossfadeWindow(const PcmSpan& pcm, const LoopCrossfadeResult& plan) {
  return PcmWindow::Copy(pcm, plan.start - plan.length, plan.end + plan.length);
}

bool ApplyLoopCrossfade(PcmWindow& window, const LoopCrossfadeResult& plan, CrossfadeShape shape,
                        const WorkProgress& progress) {
  return ApplyOn(window.bytes, window.format.channels, window.format.sampleRate, window.first, plan, shape, progress);
}

namespace {

double Raw(const PcmSpan& pcm, int64_t frame, int channel) {
  return ReadSampleValue(pcm.bytes, frame, channel, pcm.channels, pcm.bitsPerSample);
}

}  // namespace

double LoopBoundaryMismatch(const PcmSpan& pcm, int64_t c, int64_t e) {
  const int64_t frames = pcm.Frames();
  auto slope = [&](int64_t x, int ch) {
    if (x <= 0 || x >= frames - 1) return 0.0;
    return Raw(pcm, x, ch) - Raw(pcm, x - 1, ch);
  };
  double sum = 0;
  int64_t steps = 0;
  for (int64_t j = e; j < frames - 1 && steps < 32; ++j, ++steps)
    for (int ch = 0; ch < pcm.channels; ++ch) sum += std::fabs(slope(c + (j - e), ch) - slope(j, ch));
  if (steps == 0 || pcm.channels == 0) return std::numeric_limits<double>::max();
  return sum / static_cast<double>(steps * pcm.channels);
}

AlignPhaseResult alignLoopPhase(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut, const WorkProgress& progress) {
  AlignPhaseResult r;
  const int64_t frames = pcm.Frames();
  const int channels = pcm.channels;
  r.loopIn = loopIn;
  r.loopOut = loopOut;
  int64_t e = loopOut;
  if (e >= frames) {
    e = frames;
    if (loopIn >= frames) {
      r.message = "Invalid loop region.";
      return r;
    }
  }
  const int64_t snapped = FindRisingZeroCrossing(pcm, e);
  if (snapped != e) r.loopOut = snapped;
  e = snapped;
  const int64_t radius = std::min<int64_t>(loopIn, 2000);
  int64_t w = std::min<int64_t>(e - loopIn, 4000);
  if (e + w > frames) w = frames - e;
  if (w < 100) {
    r.message =
        "Loop region is too small or too close to the end of the file for alignment analysis.\n"
        "Minimum 100 samples needed.";
    return r;
  }
  auto s = [&](int64_t x) { return Raw(pcm, x, 0); };
  int dirEnd = 0;
  if (e > 0 && e < frames) {
    if (s(e - 1) <= 0 && s(e) > 0) {
      dirEnd = 1;
    } else if (s(e - 1) >= 0 && s(e) < 0) {
      dirEnd = -1;
    }
  }
  bool found = false;
  // Only the crossings among the candidates cost anything: a report every
  // 64 candidates is frequent enough for any signal.
  ProgressTicker ticker(progress, static_cast<uint64_t>(2 * radius + 1), 64);
  for (int64_t o = -radius; o <= radius; ++o) {
    if (!ticker.Step()) {
      r.cancelled = true;
      return r;
    }
    const int64_t c = loopIn + o;
    if (!(c >= 1 && c < frames && c + w <= frames)) continue;
    int m;
    if (s(c - 1) <= 0 && s(c) > 0) {
      m = 1 - dirEnd;
    } else if (s(c - 1) >= 0 && s(c) < 0) {
      m = -1 - dirEnd;
    } else {
      continue;
    }
    const double phase = std::abs(m) * 0.5;
    double sum = 0;
    for (int64_t k = 0; k < w; ++k)
      for (int ch = 0; ch < channels; ++ch) {
        const double d = Raw(pcm, c + k, ch) - Raw(pcm, e + k, ch);
        sum += d * d;
      }
    const double content = std::sqrt(sum / static_cast<double>(channels * w));
    const double derivative = LoopBoundaryMismatch(pcm, c, e);
    const double score = 3 * derivative + content + 2 * phase;
    if (!found || score < r.score) {
      found = true;
      r.offset = o;
      r.content = content;
      r.derivative = derivative;
      r.phase = phase;
      r.score = score;
    }
  }
  if (!found) {
    r.message = "No matching zero-crossings found in the search range.";
    return r;
  }
  r.loopIn = loopIn + r.offset;
  if (r.offset != 0) {
    r.status = AlignPhaseResult::Status::kMoved;
    const int64_t distance = std::llabs(r.offset);
    r.log = Format(
        "Adjusted loop start:\nShifted %lld samples %s (%.2f ms)\nAlignment quality:\nContent: %.4f, Derivative: "
        "%.4f, Phase: %.2f, Score: %.4f",
        static_cast<long long>(distance), r.offset > 0 ? "right" : "left",
        pcm.sampleRate ? static_cast<double>(distance) * 1000.0 / pcm.sampleRate : 0.0, r.content, r.derivative,
        r.phase, r.score);
  } else {
    r.status = AlignPhaseResult::Status::kAlreadyOptimal;
    r.log = Format("Loop start already optimal. Quality: Content: %.4f, Derivative: %.4f", r.content, r.derivative);
  }
  return r;
}

namespace {

// FindRisingZeroCrossing's search radius at |rate|.
int64_t CrossingRadius(uint32_t rate) { return static_cast<int64_t>(rate * 0.01); }

}  // namespace

PcmWindow AlignPhaseWindow(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut) {
  const int64_t frames = pcm.Frames();
  const int64_t end = std::min(loopOut, frames);
  const int64_t crossing = CrossingRadius(pcm.sampleRate);
  // Before: the candidate starts and the frame before each, and the loop
  // end's crossing search with the frame before it; a margin of a few frames
  // keeps every "first frame has no predecessor" rule where it was. After:
  // 4000 frames past the last candidate and past the farthest crossing, and
  // the 32 slopes past them.
  const int64_t from = std::min(loopIn - 2001, end - crossing - 3);
  const int64_t to = std::max(end + crossing, loopIn + 2000) + 4000 + 66;
  return PcmWindow::Copy(pcm, std::max<int64_t>(0, from), std::min(frames, to));
}

AlignPhaseResult alignLoopPhase(const PcmWindow& window, int64_t loopIn, int64_t loopOut,
                                const WorkProgress& progress) {
  AlignPhaseResult r = alignLoopPhase(window.Span(), loopIn - window.first, loopOut - window.first, progress);
  r.loopIn += window.first;
  r.loopOut += window.first;
  return r;
}

}  // namespace zandrel

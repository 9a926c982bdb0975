#include "view/model/ruler_ticks.h"

#include <algorithm>
#include <cmath>

#include "platform/text_format.h"

namespace zandrel {
namespace {

// The pixel of |frame|, kept within +-1e8 so the conversion stays defined.
int PixelOf(double frame, double viewStart, double framesPerPixel) {
  return static_cast<int>(std::clamp((frame - viewStart) / framesPerPixel, -1e8, 1e8));
}

bool UsableZoom(double framesPerPixel) { return std::isfinite(framesPerPixel) && framesPerPixel > 0; }

}  // namespace

int64_t FramesRulerStep(double framesPerPixel) {
  const double target = framesPerPixel * 80.0;
  if (!std::isfinite(target) || target < 1.0) return 1;
  const double base = std::pow(10.0, std::floor(std::log10(target)));
  const double ratio = target / base;
  const double step = ratio > 5 ? 5 * base : ratio > 2 ? 2 * base : base;
  if (step >= 9.0e18) return static_cast<int64_t>(9.0e18);
  return std::max<int64_t>(1, static_cast<int64_t>(step));
}

std::string FramesRulerLabel(int64_t frame, int64_t step) {
  if (frame < 1000) return Format("%lld", static_cast<long long>(frame));
  if (frame < 1000000) {
    if (step < 1000) return Format("%.1fk", static_cast<double>(frame) / 1000.0);
    return Format("%dk", static_cast<int>(frame / 1000));
  }
  if (step < 1000000) return Format("%.2fM", static_cast<double>(frame) / 1000000.0);
  return Format("%dM", static_cast<int>(frame / 1000000));
}

std::vector<RulerTick> FramesRulerTicks(double viewStart, double framesPerPixel, int areaWidth) {
  std::vector<RulerTick> ticks;
  if (!UsableZoom(framesPerPixel)) return ticks;
  const int64_t step = FramesRulerStep(framesPerPixel);
  int64_t e = static_cast<int64_t>(std::ceil(viewStart / static_cast<double>(step)) * static_cast<double>(step));
  for (int x = PixelOf(static_cast<double>(e), viewStart, framesPerPixel); x <= areaWidth;
       e += step, x = PixelOf(static_cast<double>(e), viewStart, framesPerPixel)) {
    if (e >= 0 && x >= 0) ticks.push_back({x, e, FramesRulerLabel(e, step)});
  }
  return ticks;
}

double TimeRulerStep(double framesPerPixel, uint32_t sampleRate) {
  if (sampleRate == 0 || !UsableZoom(framesPerPixel)) return 0.0;
  const double target = framesPerPixel / sampleRate * 80.0;
  const double base = std::pow(10.0, std::floor(std::log10(target)));
  const double ratio = target / base;
  if (ratio <= 1) return base;
  if (ratio <= 2) return 2 * base;
  if (ratio <= 5) return 5 * base;
  return 10 * base;
}

std::string TimeRulerLabel(double seconds, double step) {
  const int minutes = static_cast<int>(seconds / 60.0);
  const double rest = std::fmod(seconds, 60.0);
  return step < 0.5 ? Format("%02d:%05.2f", minutes, rest) : Format("%02d:%04.1f", minutes, rest);
}

std::vector<RulerTick> TimeRulerTicks(double viewStart, double framesPerPixel, uint32_t sampleRate, int areaWidth) {
  std::vector<RulerTick> ticks;
  const double step = TimeRulerStep(framesPerPixel, sampleRate);
  if (!(step > 0)) return ticks;
  const double rate = sampleRate;
  // Counting steps rather than adding them keeps the labels free of drift.
  for (double n = std::ceil(viewStart / rate / step);; n += 1) {
    const double t = n * step;
    const int64_t frame = static_cast<int64_t>(rate * t);
    const int x = PixelOf(static_cast<double>(frame), viewStart, framesPerPixel);
    if (x > areaWidth) break;
    if (t >= 0 && x >= 0) ticks.push_back({x, frame, TimeRulerLabel(t, step)});
  }
  return ticks;
}

int64_t BarThinning(double barPixels, double spacing) {
  int64_t n = 1;
  // Bars narrower than a pixel in 2^40 are not a zoom the view reaches.
  while (n * barPixels < spacing && n < (int64_t{1} << 40)) n *= 2;
  return n;
}

std::vector<BeatLine> BeatRulerLines(double viewStart, double framesPerPixel, uint32_t sampleRate, double bpm,
                                     int64_t frameCount, int areaWidth) {
  std::vector<BeatLine> lines;
  if (sampleRate == 0 || !UsableZoom(framesPerPixel)) return lines;
  const double tempo = bpm > 0 ? bpm : 120.0;
  const double beat = 60.0 / tempo * sampleRate;
  const double bar = 4 * beat;
  const bool beats = beat / framesPerPixel >= 25;
  const bool beatNumbers = beat / framesPerPixel >= 50;
  struct Level {
    BeatLineKind kind;
    double length;
    bool visible;
  };
  const Level levels[] = {{BeatLineKind::kEighth, beat / 8, beat / 8 / framesPerPixel >= 4},
                          {BeatLineKind::kQuarter, beat / 4, beat / 4 / framesPerPixel >= 6},
                          {BeatLineKind::kHalf, beat / 2, beat / 2 / framesPerPixel >= 12}};
  for (const Level& level : levels) {
    if (!level.visible) continue;
    for (double n = std::floor(viewStart / level.length);; n += 1) {
      const int64_t p = static_cast<int64_t>(n * level.length);
      if (p >= frameCount) break;
      const int x = PixelOf(static_cast<double>(p), viewStart, framesPerPixel);
      if (x > areaWidth) break;
      if (p >= 0 && std::fmod(n, 2.0) != 0 && x >= 0) lines.push_back({level.kind, x, p, true, {}});
    }
  }
  const double barPixels = bar / framesPerPixel;
  const int64_t lineEvery = BarThinning(barPixels, kBarLineSpacing);
  const int64_t numberEvery = BarThinning(barPixels, kBarNumberSpacing);
  for (double b = std::floor(viewStart / bar); b < 10000; b += 1) {
    const int64_t p = static_cast<int64_t>(b * bar);
    const int x = PixelOf(static_cast<double>(p), viewStart, framesPerPixel);
    if (x > areaWidth) break;
    const auto n = static_cast<int64_t>(b);
    const bool line = n % lineEvery == 0 && p < frameCount;
    const bool number = n % numberEvery == 0;
    if (p >= 0 && x >= 0 && (line || number))
      lines.push_back({BeatLineKind::kBar, x, p, line, number ? Format("%d", static_cast<int>(b) + 1) : std::string()});
    if (!beats) continue;
    for (int i = 1; i <= 3; ++i) {
      const int64_t q = p + static_cast<int64_t>(i * beat);
      if (q >= frameCount) break;
      const int qx = PixelOf(static_cast<double>(q), viewStart, framesPerPixel);
      if (q >= 0 && qx >= 0 && qx <= areaWidth)
        lines.push_back({BeatLineKind::kBeat, qx, q, true, beatNumbers ? Format(".%d", i + 1) : std::string()});
    }
  }
  return lines;
}

}  // namespace zandrel

// The three rulers of the waveform view, painted from ruler_ticks.h.
#include <utility>

#include "view/model/ruler_ticks.h"
#include "view/model/view_drawing.h"

namespace zandrel {
namespace {

constexpr int kRulerLabelHeight = 15;
constexpr Argb kRulerLine = 0xFF808080;
constexpr Argb kRulerLabel = 0xFFC8C8C8;
constexpr Argb kBeatLabel = 0xFF969696;

struct BeatPen {
  Argb color;
  float width;
  bool dotted;
};

BeatPen PenOf(BeatLineKind kind) {
  switch (kind) {
    case BeatLineKind::kBar: return {0xFFB4B4B4, 2.0f, false};
    case BeatLineKind::kBeat: return {0xFF787878, 1.0f, false};
    case BeatLineKind::kHalf: return {0xC85A5A5A, 1.0f, false};
    case BeatLineKind::kQuarter: return {0xB4464646, 1.0f, false};
    case BeatLineKind::kEighth: return {0x783C3C3C, 1.0f, true};
  }
  return {kRulerLine, 1.0f, false};
}

}  // namespace

void ViewDrawing::DrawRulerTicks(const std::vector<RulerTick>& ticks, int y0) {
  const ViewLayout& a = layout_;
  const float base = static_cast<float>(y0);
  out_.Line("ruler-line", 0, base, static_cast<float>(a.areaWidth), base, kRulerLine);
  if (ticks.empty()) return;
  std::vector<PointF> segments;
  segments.reserve(ticks.size() * 2);
  for (const RulerTick& t : ticks) {
    segments.push_back({static_cast<float>(t.x), base});
    segments.push_back({static_cast<float>(t.x), base + 5});
  }
  out_.Lines("ruler-ticks", std::move(segments), kRulerLine);
  const FontSpec font = UiFont(8, false);
  for (const RulerTick& t : ticks)
    out_.Text("ruler-label", t.label, static_cast<float>(t.x - 50), base + 5, 100, kRulerLabelHeight, font,
              kRulerLabel, TextAlign::kCentreTop);
}

void ViewDrawing::DrawSampleRuler() {
  const ViewLayout& a = layout_;
  DrawRulerTicks(FramesRulerTicks(model_.viewStart, model_.framesPerPixel, a.areaWidth), a.Bottom() - kRulerHeight);
}

void ViewDrawing::DrawTimeRuler() {
  const ViewLayout& a = layout_;
  const uint32_t rate = doc_.audio.format.nSamplesPerSec;
  if (!model_.HasAudio() || rate == 0) return;
  DrawRulerTicks(TimeRulerTicks(model_.viewStart, model_.framesPerPixel, rate, a.areaWidth),
                 a.Bottom() - kRulerHeight);
}

void ViewDrawing::DrawBeatRuler() {
  const ViewLayout& a = layout_;
  const uint32_t rate = doc_.audio.format.nSamplesPerSec;
  if (!model_.HasAudio() || rate == 0) return;
  const int y0 = a.Bottom() - kRulerHeight;
  const float base = static_cast<float>(y0);
  const float top = static_cast<float>(a.Top());
  out_.Line("ruler-line", 0, base, static_cast<float>(a.areaWidth), base, kRulerLine);
  const std::vector<BeatLine> lines = BeatRulerLines(model_.viewStart, model_.framesPerPixel, rate,
                                                     doc_.instrument.params.bpm, model_.FrameCount(), a.areaWidth);
  // The grid, one batch of lines per kind, the finest first so that the
  // coarser lines are drawn over them.
  for (BeatLineKind kind : {BeatLineKind::kEighth, BeatLineKind::kQuarter, BeatLineKind::kHalf, BeatLineKind::kBeat,
                            BeatLineKind::kBar}) {
    std::vector<PointF> segments;
    for (const BeatLine& l : lines) {
      if (l.kind != kind || !l.drawLine) continue;
      segments.push_back({static_cast<float>(l.x), top});
      segments.push_back({static_cast<float>(l.x), base});
    }
    if (segments.empty()) continue;
    const BeatPen pen = PenOf(kind);
    out_.Lines(kind == BeatLineKind::kBar ? "beat-grid-bar" : "beat-grid", std::move(segments), pen.color, pen.width,
               pen.dotted);
  }
  const FontSpec barFont = UiFont(8, true);
  const FontSpec beatFont = UiFont(7, false);
  for (const BeatLine& l : lines) {
    if (l.label.empty()) continue;
    if (l.kind == BeatLineKind::kBar)
      out_.Text("bar-number", l.label, static_cast<float>(l.x - 20), base + 5, 40, kRulerLabelHeight, barFont,
                kRulerLabel, TextAlign::kCentreTop);
    else
      out_.Text("beat-number", l.label, static_cast<float>(l.x - 15), base + 5, 30, kRulerLabelHeight, beatFont,
                kBeatLabel, TextAlign::kCentreTop);
  }
}

}  // namespace zandrel

#include "view/model/view_drawing.h"

#include <algorithm>
#include <cmath>

#include "document/note_names.h"
#include "platform/text_format.h"

namespace zandrel {

// ------------------------------------------------------------ DrawList --

DrawOp& DrawList::Add(DrawOp::Kind kind, std::string_view tag, Argb color) {
  DrawOp& op = ops_.emplace_back();
  op.kind = kind;
  op.tag = tag;
  op.color = color;
  return op;
}

void DrawList::FillRect(std::string_view tag, float x, float y, float w, float h, Argb color) {
  DrawOp& op = Add(DrawOp::Kind::kFillRect, tag, color);
  op.x = x, op.y = y, op.w = w, op.h = h;
}

void DrawList::OutlineRect(std::string_view tag, float x, float y, float w, float h, Argb color, float penWidth) {
  DrawOp& op = Add(DrawOp::Kind::kOutlineRect, tag, color);
  op.penWidth = penWidth;
  op.x = x, op.y = y, op.w = w, op.h = h;
}

void DrawList::Line(std::string_view tag, float x1, float y1, float x2, float y2, Argb color, float penWidth,
                    bool dotted) {
  DrawOp& op = Add(DrawOp::Kind::kLine, tag, color);
  op.penWidth = penWidth;
  op.dotted = dotted;
  op.points = {{x1, y1}, {x2, y2}};
}

void DrawList::Lines(std::string_view tag, std::vector<PointF> segments, Argb color, float penWidth, bool dotted) {
  DrawOp& op = Add(DrawOp::Kind::kLines, tag, color);
  op.penWidth = penWidth;
  op.dotted = dotted;
  op.points = std::move(segments);
}

void DrawList::Polyline(std::string_view tag, std::vector<PointF> points, Argb color, float penWidth) {
  DrawOp& op = Add(DrawOp::Kind::kPolyline, tag, color);
  op.penWidth = penWidth;
  op.points = std::move(points);
}

void DrawList::Polygon(std::string_view tag, std::vector<PointF> points, Argb fill, Argb outline, float penWidth) {
  DrawOp& op = Add(DrawOp::Kind::kPolygon, tag, fill);
  op.outline = outline;
  op.penWidth = penWidth;
  op.points = std::move(points);
}

void DrawList::GradientPolygon(std::string_view tag, std::vector<PointF> points, Argb top, float y1, Argb bottom,
                               float y2, Argb outline, float penWidth) {
  DrawOp& op = Add(DrawOp::Kind::kPolygon, tag, top);
  op.outline = outline;
  op.penWidth = penWidth;
  op.points = std::move(points);
  op.gradientColor = bottom;
  op.gradientY1 = y1;
  op.gradientY2 = y2;
}

void DrawList::Ellipse(std::string_view tag, float x, float y, float w, float h, Argb fill, Argb outline,
                       float penWidth) {
  DrawOp& op = Add(DrawOp::Kind::kEllipse, tag, fill);
  op.outline = outline;
  op.penWidth = penWidth;
  op.x = x, op.y = y, op.w = w, op.h = h;
}

void DrawList::Text(std::string_view tag, std::string text, float x, float y, float w, float h, FontSpec font,
                    Argb color, TextAlign align, bool wholeOnly) {
  DrawOp& op = Add(DrawOp::Kind::kText, tag, color);
  op.text = std::move(text);
  op.x = x, op.y = y, op.w = w, op.h = h;
  op.font = font;
  op.align = align;
  op.wholeOnly = wholeOnly;
}

void DrawList::MarkGlow(size_t first, float size, float glow) {
  if (first >= ops_.size()) return;
  DrawOp& op = ops_[first];
  op.glowCircles = static_cast<int>(ops_.size() - first);
  op.glowSize = size;
  op.glow = glow;
}

std::vector<const DrawOp*> DrawList::Find(std::string_view tag) const {
  std::vector<const DrawOp*> found;
  for (const DrawOp& op : ops_)
    if (op.tag == tag) found.push_back(&op);
  return found;
}

// ---------------------------------------------------------- ViewDrawing --

namespace {

constexpr float kPeakScale = 32767.0f;

bool HasLoop(const Region& r) { return r.loopStart >= 0 && r.loopStart < r.loopEnd; }

}  // namespace

ViewDrawing::ViewDrawing(ViewModel& model, DrawList& out) : model_(model), doc_(model.doc), out_(out) {}

double ViewDrawing::ColumnFrame(int column) const {
  return column * static_cast<double>(model_.framesPerPixel) + model_.viewStart;
}

void ViewDrawing::OnDraw(int width, int height) {
  layout_ = ComputeViewLayout(width, height, model_.editKeyBoundaries);
  const ViewLayout& l = layout_;
  if (!model_.HasAudio() || model_.peakCache.empty()) {
    DrawEmptyView();
    return;
  }
  // The animation belongs to the empty screen only.
  model_.animationTimer = 0;
  out_.FillRect("clear", 0, 0, static_cast<float>(width), static_cast<float>(height), view_color::kClear);
  model_.regionBarRect = l.regionBar;
  const std::optional<TrimLimit> limit = TrimLimitOf(doc_);
  if (model_.showSpectrum) BuildSpectrum();

  DrawRegionBar();

  // Black outside the audio, from the client's top down by the height of the
  // waveform area.
  const int x0 = X(0);
  const int x1 = X(model_.FrameCount());
  if (x0 > 0)
    out_.FillRect("outside-audio", 0, 0, static_cast<float>(x0), static_cast<float>(l.areaHeight),
                  view_color::kOutsideAudio);
  if (x1 < width)
    out_.FillRect("outside-audio", static_cast<float>(x1), 0, static_cast<float>(width - x1),
                  static_cast<float>(l.areaHeight), view_color::kOutsideAudio);
  out_.Line("separator", 0, kRegionBarHeight, static_cast<float>(width), kRegionBarHeight, view_color::kSeparator);

  DrawBackground();
  DrawWaveform(l.Centre());

  switch (model_.toolMode) {
    case ToolMode::kRearrange: DrawRearrangeTool(); break;
    case ToolMode::kTimeStretch: DrawTimeStretchTool(); break;
    case ToolMode::kRetime: DrawRetimeTool(); break;
    default: break;
  }
  switch (model_.timelineMode) {
    case TimelineMode::kFrames: DrawSampleRuler(); break;
    case TimelineMode::kBeats: DrawBeatRuler(); break;
    default: DrawTimeRuler(); break;
  }

  DrawRegionBoundaries();
  DrawLoopMarkers();

  if (!model_.beatMarkers.empty()) {
    std::vector<PointF> segments;
    for (int64_t frame : model_.beatMarkers) {
      const int x = X(frame);
      if (x < 0 || x >= width) continue;
      segments.push_back({static_cast<float>(x), static_cast<float>(l.Top())});
      segments.push_back({static_cast<float>(x), static_cast<float>(l.Bottom())});
    }
    if (!segments.empty()) out_.Lines("beat-markers", std::move(segments), view_color::kBeatMarker);
  }

  if (limit) {
    const int x = X(limit->frame);
    out_.Line("trim-line", static_cast<float>(x), static_cast<float>(l.Top()), static_cast<float>(x),
              static_cast<float>(l.Bottom()), view_color::kTrimLine, 2.0f);
    if (x < l.areaX + l.areaWidth)
      out_.FillRect("trim-shade", static_cast<float>(x), static_cast<float>(l.Top()), static_cast<float>(width - x),
                    static_cast<float>(l.areaHeight), view_color::kTrimShade);
    DrawTrimLimitMarker(*limit);
  }

  const bool hasSelection = model_.loopIn >= 0 && model_.loopOut >= 0;
  if (hasSelection && !model_.rearrangeActive && !model_.stretchActive && !model_.retimeActive) {
    DrawSelection();
  } else if (!hasSelection) {
    // No bar on the screen: nothing to grab (while a tool drags the
    // selection, its overlay draws it and the last bar stays valid).
    model_.selectionBarRect = Rect{};
  }

  DrawSpectrumOverlay();

  if (model_.cursorFrame >= 0) {
    const int x = X(model_.cursorFrame);
    if (x >= 0 && x < width) {
      const float fx = static_cast<float>(x);
      const float top = static_cast<float>(l.Top());
      const float tip = top + kSelectionBarOffset;
      out_.Line("cursor", fx, tip, fx, static_cast<float>(l.Bottom()), view_color::kCursor);
      out_.Polygon("cursor-flag", {{fx - 5, top}, {fx + 5, top}, {fx + 5, top + 5}, {fx, tip}, {fx - 5, top + 5}},
                   view_color::kCursorFlag, 0);
    }
  }

  if (!model_.paintPoints.empty() && model_.toolMode == ToolMode::kPaint) DrawPaintLevelsEnvelope();
  if (model_.loupeVisible && model_.showLoupe) DrawLoupe();
  DrawPianoStrip();
}

void ViewDrawing::DrawEmptyView() {
  const float w = static_cast<float>(layout_.width);
  const float h = static_cast<float>(layout_.height);
  out_.FillRect("clear", 0, 0, w, h, 0xFF000000);
  if (model_.playAnimation) {
    if (model_.animationTimer == 0) {
      InitParticles(model_.animation, SteadySeconds());
      model_.animationTimer = kAnimationTimerId;
    }
    DrawEmptyScreen();
    return;
  }
  model_.animationTimer = 0;
  out_.Text("drop-hint", "DROP WAV FILE HERE", 0, h - 50, w, 50, FontSpec{kUiFontFamily, 24.0f, false},
            view_color::kDropHint, TextAlign::kCentre);
}

void ViewDrawing::DrawEmptyScreen() {
  const int width = layout_.width;
  const int height = layout_.height;
  const ParticleAnimation& a = model_.animation;
  // Two rings or six circles a particle, and the hint.
  out_.Reserve(a.particles.size() * 6 + 1);
  for (const Particle& p : a.particles) {
    const ParticleSprite s = ProjectParticle(a, p, width, height);
    if (!s.visible) continue;
    if (p.glow < 0.1f) {
      // A faint ring: deep particles blue, near ones pale cyan.
      const float b = s.brightness;
      const auto r = static_cast<uint32_t>(b * 100.0f);
      const auto g = static_cast<uint32_t>((1.0f - b) * 100.0f + b * 255.0f);
      const auto bl = static_cast<uint32_t>((1.0f - b) * 150.0f + b * 255.0f);
      const Argb ring = 0x06000000u | (r << 16) | (g << 8) | bl;
      out_.Ellipse("particle-ring", s.x - 5, s.y - 5, 10, 10, 0, ring, 5.0f);
      out_.Ellipse("particle-ring", s.x - 5, s.y - 5, 10, 10, 0, 0x06E6FFFF, 1.5f);
    }
    if (p.glow > 0.01f) {
      const size_t first = out_.Ops().size();
      for (int i = 0; i <= 5; ++i) {
        const GlowCircle c = GlowCircleAt(i, s.size, p.glow);
        if (c.diameter <= 1.0f || c.alpha <= 0) continue;
        const Argb colour = (static_cast<uint32_t>(c.alpha) << 24) | (p.colour & 0x00FFFFFFu);
        out_.Ellipse("particle-glow", s.x - c.diameter / 2, s.y - c.diameter / 2, c.diameter, c.diameter, colour, 0,
                     0.0f);
      }
      out_.MarkGlow(first, s.size, p.glow);
    }
  }
  out_.Text("drop-hint", "DROP WAV FILE HERE", 0, static_cast<float>(height - 50), static_cast<float>(width), 50,
            FontSpec{kUiFontFamily, 24.0f, false}, DropHintColour(a, width, height), TextAlign::kCentre);
}

void ViewDrawing::BuildSpectrum() {
  model_.spectrum.Build(doc_.audio, model_.viewStart, model_.framesPerPixel, layout_.width);
}

void ViewDrawing::DrawSpectrumOverlay() {
  const std::vector<float>& spectrum = model_.spectrum.Values();
  if (!model_.showSpectrum || spectrum.empty() || !model_.HasAudio()) return;
  const SpectrumCurve curve =
      ComputeSpectrumCurve(spectrum, doc_.audio.format.nSamplesPerSec, layout_.width, model_.editKeyBoundaries);
  if (curve.xs >= curve.xe) return;
  const int g = layout_.areaHeight / 3;
  if (g <= 0) return;
  const int y0 = layout_.Top() + layout_.areaHeight - g;
  const int yb = y0 + g;
  const auto fyb = static_cast<float>(yb);
  const auto yOf = [&](float v) { return static_cast<float>(yb - static_cast<int>(static_cast<float>(g) * v)); };
  std::vector<PointF> figure;
  figure.reserve(static_cast<size_t>(curve.xe - curve.xs) + 2);
  figure.push_back({static_cast<float>(curve.xs), fyb});
  for (int x = curve.xs; x < curve.xe; ++x)
    figure.push_back({static_cast<float>(x), yOf(curve.values[static_cast<size_t>(x)])});
  figure.push_back({static_cast<float>(curve.xe), fyb});
  out_.GradientPolygon("spectrum", std::move(figure), view_color::kSpectrumTop, static_cast<float>(y0),
                       view_color::kSpectrumBottom, fyb, view_color::kSpectrumOutline);
  for (const SpectrumPeak& peak : curve.peaks) {
    const auto x = static_cast<float>(peak.x);
    out_.Line(peak.strongest ? "spectrum-peak" : "spectrum-minor-peak", x, yOf(peak.value), x, fyb,
              peak.strongest ? view_color::kSpectrumPeak : view_color::kSpectrumMinorPeak);
  }
}

void ViewDrawing::DrawRegionBar() {
  const InstrumentData& inst = doc_.instrument;
  if (!inst.hasInstrument) return;
  const int width = layout_.width;
  const int b = model_.regionBarRect.Height();
  const FontSpec font = UiFont(8, false);
  constexpr Argb kText = 0xFFDCDCDC;
  for (size_t i = 0; i < inst.regions.size(); ++i) {
    const Region& r = inst.regions[i];
    const int index = static_cast<int>(i);
    const int x1 = X(r.startSample);
    const int x2 = X(r.endSample);
    if (!(x1 < width && x2 > 0)) continue;
    const float fx = static_cast<float>(x1);
    const float fw = static_cast<float>(x2 - x1);
    out_.FillRect("region-block", fx, 0, fw, static_cast<float>(b), RegionBarColor(index));
    if (index == model_.selectedRegion)
      out_.OutlineRect("region-selected", fx, 0, fw - 1, static_cast<float>(b - 1), 0xFFFFFFFF, 2.0f);
    if (x1 >= 0 && x1 < width) out_.Line("region-edge", fx, 0, fx, static_cast<float>(b), 0x3CFFFFFF);
    // Many short regions (an auto-chop) leave blocks narrower than their
    // labels: such a block shows no label rather than a cut one running into
    // its neighbours'.
    out_.Text("region-keys", MidiNoteName(r.loKey) + " - " + MidiNoteName(r.hiKey), fx, 0, fw,
              static_cast<float>(b / 2), font, kText, TextAlign::kCentre, true);
    out_.Text("region-root", "Root: " + MidiNoteName(r.rootNote), fx, static_cast<float>(b / 2), fw,
              static_cast<float>(b / 2), font, kText, TextAlign::kCentre, true);
  }
}

void ViewDrawing::DrawBackground() {
  const InstrumentData& inst = doc_.instrument;
  if (!inst.hasInstrument) return;
  const ViewLayout& l = layout_;
  const float top = static_cast<float>(l.Top());
  const float height = static_cast<float>(l.areaHeight);
  for (size_t i = 0; i < inst.regions.size(); ++i) {
    const Region& r = inst.regions[i];
    const int index = static_cast<int>(i);
    const int x1 = X(r.startSample);
    const int x2 = X(r.endSample);
    if (x1 < l.areaWidth && x2 > 0) {
      out_.FillRect("region-tint", static_cast<float>(x1), top, static_cast<float>(x2 - x1), height,
                    RegionTintColor(index));
      out_.FillRect("region-strip", static_cast<float>(x1), top, static_cast<float>(x2 - x1), 11,
                    RegionStripColor(index));
    }
    if (!HasLoop(r)) continue;
    const int l1 = X(r.loopStart);
    const int l2 = X(r.loopEnd);
    if (!(l1 < l.areaWidth && l2 > 0)) continue;
    out_.FillRect("region-loop", static_cast<float>(l1), top, static_cast<float>(l2 - l1), height, 0x4E000000);
    if (l2 - l1 > 1)
      out_.FillRect("region-loop-band", static_cast<float>(l1), static_cast<float>(l.Bottom() - 20),
                    static_cast<float>(l2 - l1), 20, 0x82000000);
  }
}

void ViewDrawing::DrawWaveform(int centre) {
  const ViewLayout& l = layout_;
  const float c = static_cast<float>(centre);
  out_.Line("centre-line", static_cast<float>(l.areaX), c, static_cast<float>(l.areaX + l.areaWidth), c,
            view_color::kCentreLine);
  if (!model_.HasAudio()) return;
  const Argb color = view_color::kWaveform;
  const int64_t bucket = std::max<int64_t>(1, static_cast<int64_t>(model_.framesPerPixel));
  if (UseLineWaveform(l.areaWidth)) {
    DrawWaveformPolyline(centre, color);
  } else if (model_.framesPerPixel < 30) {
    DrawWaveformEnvelope(centre, color, bucket);
  } else {
    // One vertical line per column, from the bucket's maximum to its minimum.
    const PeakCache& peaks = model_.peakCache;
    const int64_t entries = peaks.size();
    const double b = static_cast<double>(peaks.bucketSize());
    const float half = static_cast<float>(l.areaHeight) * 0.5f;
    std::vector<PointF> segments;
    segments.reserve(static_cast<size_t>(std::max(0, l.areaWidth)) * 2);
    for (int i = 0; i < l.areaWidth; ++i) {
      const double p = ColumnFrame(i);
      if (p < 0) continue;
      const int64_t k = static_cast<int64_t>(p / b);
      if (k >= entries) continue;
      const PeakEntry e = peaks[k];
      const float x = static_cast<float>(l.areaX + i);
      segments.push_back({x, c - e.max / kPeakScale * half});
      segments.push_back({x, c - e.min / kPeakScale * half});
    }
    out_.Lines("waveform-columns", std::move(segments), color);
  }
}

bool ViewDrawing::UseLineWaveform(int) const {
  // The peak cache's columns always share the zero line, so the gap test a
  // wider rule would apply to them never fires: below 2 frames per pixel
  // the samples themselves are drawn, else their peaks.
  return model_.framesPerPixel < 2;
}

void ViewDrawing::DrawWaveformPolyline(int centre, Argb color) {
  const ViewLayout& l = layout_;
  const CWavLoader& audio = doc_.audio;
  const int64_t frames = model_.FrameCount();
  const float fpp = model_.framesPerPixel;
  std::vector<PointF> points;
  points.reserve(static_cast<size_t>(std::max(0, l.areaWidth)));
  for (int i = 0; i < l.areaWidth; ++i) {
    const double p = static_cast<double>(static_cast<float>(i) * fpp) + model_.viewStart;
    if (p < 0 || p >= static_cast<double>(frames)) continue;
    const int64_t f = static_cast<int64_t>(p);
    double v = SampleAtFrame(audio, f);
    const double t = p - static_cast<double>(f);
    if (fpp < 1 && t > 0 && f + 1 < frames) v = (1 - t) * v + t * SampleAtFrame(audio, f + 1);
    points.push_back({static_cast<float>(l.areaX + i),
                      static_cast<float>(centre - static_cast<double>(l.areaHeight) * 0.5 * v)});
  }
  if (points.size() >= 2) out_.Polyline("waveform-line", std::move(points), color, 1.0f);
}

void ViewDrawing::DrawWaveformEnvelope(int centre, Argb color, int64_t bucketSize) {
  const ViewLayout& l = layout_;
  const PeakCache& peaks = model_.peakCache;
  const int64_t entries = peaks.size();
  const float c = static_cast<float>(centre);
  const float half = static_cast<float>(l.areaHeight) * 0.5f;
  const double b = static_cast<double>(std::max<int64_t>(1, bucketSize));
  // Columns that show an entry, left to right: the maxima go along the top,
  // then the minima come back along the bottom.
  std::vector<std::pair<int, PeakEntry>> columns;
  columns.reserve(static_cast<size_t>(std::max(0, l.areaWidth)));
  for (int j = 0; j < l.areaWidth; ++j) {
    const double p = ColumnFrame(j);
    if (p < 0) continue;
    const int64_t k = static_cast<int64_t>(p / b);
    if (k >= entries) continue;
    columns.emplace_back(j, peaks[k]);
  }
  std::vector<PointF> points;
  points.reserve(columns.size() * 2);
  for (const auto& [j, e] : columns) points.push_back({static_cast<float>(l.areaX + j), c - e.max / kPeakScale * half});
  for (auto it = columns.rbegin(); it != columns.rend(); ++it)
    points.push_back({static_cast<float>(l.areaX + it->first), c - it->second.min / kPeakScale * half});
  const Argb fill = (color & 0x00FFFFFFu) | 0xB4000000u;
  if (points.size() >= 3) out_.Polygon("waveform-envelope", std::move(points), fill, color);
}

void ViewDrawing::DrawRegionBoundaries() {
  const InstrumentData& inst = doc_.instrument;
  if (!inst.hasInstrument) return;
  const ViewLayout& l = layout_;
  const float top = static_cast<float>(l.Top());
  for (const Region& r : inst.regions) {
    const int x = X(r.endSample);
    if (x > 0 && x < l.areaWidth)
      out_.Line("region-end", static_cast<float>(x), top, static_cast<float>(x), static_cast<float>(l.Bottom()),
                0xFFFFFFFF, 1.0f, true);
    if (!HasLoop(r)) continue;
    constexpr Argb kFlag = 0xFF00FFFF;
    constexpr Argb kFlagOutline = 0x80000000;
    const int l1 = X(r.loopStart);
    if (l1 > 0 && l1 < l.areaWidth) {
      const float f = static_cast<float>(l1);
      out_.Polygon("loop-start-flag", {{f, top + 1}, {f, top + 11}, {f + 5, top + 6}}, kFlag, kFlagOutline);
    }
    const int l2 = X(r.loopEnd);
    if (l2 > 0 && l2 < l.areaWidth) {
      const float f = static_cast<float>(l2);
      out_.Polygon("loop-end-flag", {{f, top + 1}, {f, top + 11}, {f - 5, top + 6}}, kFlag, kFlagOutline);
    }
  }
}

void ViewDrawing::DrawLoopMarkers() {
  const ViewLayout& l = layout_;
  const Argb color = model_.loopPlayback ? view_color::kLoopMarkerOn : view_color::kLoopMarkerOff;
  const float bottom = static_cast<float>(l.Bottom() + 11);
  auto marker = [&](int64_t frame, Rect& hit, int lineTop, std::string_view tag) {
    if (frame < 0) {
      hit = Rect{};
      return;
    }
    const int x = X(frame);
    // Recorded even when the marker is scrolled out of view.
    hit = LoopHandleRect(x, l);
    if (x >= 0 && x < l.areaWidth)
      out_.Line(tag, static_cast<float>(x), static_cast<float>(l.Top() + lineTop), static_cast<float>(x), bottom,
                color);
  };
  marker(model_.loopIn, model_.loopInHandleRect, 15, "loop-in");
  marker(model_.loopOut, model_.loopOutHandleRect, 13, "loop-out");
}

void ViewDrawing::DrawTrimLimitMarker(const TrimLimit& limit) {
  const ViewLayout& l = layout_;
  const int x = X(limit.frame);
  if (x >= l.areaWidth) return;
  const int left = std::max(l.areaX, x);
  const int w = l.areaWidth - left;
  if (w <= 0) return;
  const float y = static_cast<float>(l.Bottom() - 22);
  out_.FillRect("trim-label", static_cast<float>(left), y, static_cast<float>(w), 20, 0x96B40000);
  out_.Text("trim-text",
            Format("Trim Limit: %.1f s for %d Hz", static_cast<double>(limit.seconds),
                   static_cast<int>(doc_.audio.format.nSamplesPerSec)),
            static_cast<float>(left + 5), y, static_cast<float>(w - 5), 20, UiFont(9, true), 0xFFFFFFFF,
            TextAlign::kLeftMiddle);
}

void ViewDrawing::DrawSelection() {
  const ViewLayout& l = layout_;
  const int xL = X(std::min(model_.loopIn, model_.loopOut));
  const int xR = X(std::max(model_.loopIn, model_.loopOut));
  const bool rearrange = model_.toolMode == ToolMode::kRearrange;
  Argb fill = model_.loopPlayback ? 0x5A9B0000 : 0x3C000080;
  if (model_.toolMode == ToolMode::kPaint && model_.loopPlayback) fill = 0x1E9B0000;
  if (rearrange) fill = 0x5A00C800;
  const float top = static_cast<float>(l.Top() + kSelectionBarOffset);
  const float width = static_cast<float>(xR - xL);
  out_.FillRect("selection", static_cast<float>(xL), top, width, static_cast<float>(l.areaHeight - kSelectionBarOffset),
                fill);
  model_.selectionBarRect = SelectionBarRect(xL, xR, l);
  const Argb bar = rearrange ? 0xB403CC03 : model_.loopPlayback ? 0x809B0000 : 0x80000032;
  out_.FillRect("selection-bar", static_cast<float>(xL), top, width, kSelectionBarHeight, bar);
}

void ViewDrawing::DrawPaintLevelsEnvelope() {
  const ViewLayout& l = layout_;
  const int c = l.areaHeight / 2 + l.Top();
  const int d = l.areaHeight / 2;
  std::vector<std::pair<float, float>> shown;  // pixel x, level
  for (const PaintPoint& p : model_.paintPoints) {
    const int x = X(p.frame);
    if (x < 0 || x >= l.areaWidth) continue;
    shown.emplace_back(static_cast<float>(x), p.level);
  }
  std::vector<PointF> points;
  points.reserve(shown.size() * 2);
  for (const auto& [x, level] : shown) points.push_back({x, c - d * level});
  for (auto it = shown.rbegin(); it != shown.rend(); ++it) points.push_back({it->first, c + d * it->second});
  if (points.size() >= 3) out_.Polygon("paint-envelope", std::move(points), 0x64FF0000, 0xB4FF0000, 1.5f);
}

void ViewDrawing::DrawLoupe() {
  if (!model_.HasAudio()) return;
  const Rect& r = model_.loupeRect;
  const int x = r.left, y = r.top, w = r.Width(), h = r.Height();
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  const float fw = static_cast<float>(w), fh = static_cast<float>(h);
  out_.FillRect("loupe", fx, fy, fw, fh, 0xC81E1E28);
  const float middle = static_cast<float>(y + h / 2);
  out_.Line("loupe-centre-line", fx, middle, fx + fw, middle, 0x80FF0000);
  // The waveform at 2 frames per pixel around loupeFrame.
  const int k = w / -2;
  std::vector<PointF> points;
  points.reserve(static_cast<size_t>(std::max(0, w)));
  for (int i = 0; i < w; ++i) {
    const int64_t n = static_cast<int64_t>((i + k) * 2.0 + static_cast<double>(model_.loupeFrame));
    const double v = SampleAtFrame(doc_.audio, n);  // 0 outside the audio
    points.push_back({static_cast<float>(x + i), static_cast<float>(middle - h * 0.5 * v)});
  }
  if (points.size() >= 2) out_.Polyline("loupe-wave", std::move(points), view_color::kWaveform, 1.5f);
  const float column = static_cast<float>(x + w / 2);
  out_.Line("loupe-cursor", column, fy + 20, column, fy + fh - 20, 0xFFFF0000);
  const FontSpec font = UiFont(9, true);
  out_.Text("loupe-frame", Format("%lld", static_cast<long long>(model_.loupeFrame)), fx, fy + 2, fw, 20, font,
            0xFFFFFFFF, TextAlign::kCentreTop);
  if (model_.snapToZeroCrossing)
    out_.Text("loupe-snap", "Snap to Zero", fx, fy + fh - 20, fw, 20, font, 0xFFFFFF00, TextAlign::kCentreTop);
  out_.OutlineRect("loupe-frame-outline", fx, fy, fw, fh, 0xFF6496FF, 2.0f);
}

}  // namespace zandrel

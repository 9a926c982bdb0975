#include "view/model/tool_overlays.h"

#include <algorithm>
#include <cmath>

#include "platform/text_format.h"

namespace zandrel {
namespace {

constexpr Argb kHintColour = 0xFFC8C8C8;
constexpr Argb kWhite = 0xFFFFFFFF;
constexpr Argb kStretchBand = 0x80641496;
constexpr Argb kStretchBar = 0xC8501478;
constexpr Argb kStretchPreview = 0xC89664FF;
constexpr Argb kArrow = 0xC8FFFF64;

constexpr FontSpec kHintFont{kUiFontFamily, 11.0f, false};
constexpr FontSpec kRatioFont{kUiFontFamily, 11.0f, true};

bool HasSelection(const ViewModel& m) { return m.loopIn >= 0 && m.loopOut >= 0; }

void Hint(const ViewLayout& a, DrawList& out, std::string text, Argb colour = kHintColour) {
  out.Text("tool-hint", std::move(text), static_cast<float>(a.areaX + 10), static_cast<float>(a.Bottom() - 45),
           static_cast<float>(a.areaWidth - 10), 16.0f, kHintFont, colour, TextAlign::kLeftMiddle);
}

// Preview columns: the peak-cache column of a source frame drawn in a view
// column. Collected as one list of segments per pen.
class Preview {
 public:
  Preview(const ViewModel& m, const ViewLayout& a) : m_(m), a_(a) {
    bucket_ = std::max<int64_t>(1, static_cast<int64_t>(m.framesPerPixel));
  }
  void Column(int x, int64_t s) {
    if (x < 0 || x >= a_.areaWidth || s < 0) return;
    const int64_t k = s / bucket_;
    if (k >= m_.peakCache.size()) return;
    const PeakEntry e = m_.peakCache[k];
    const float c = static_cast<float>(a_.Centre());
    const float half = static_cast<float>(a_.areaHeight) * 0.5f;
    const float y1 = c - e.max / 32767.0f * half;
    float y2 = c - e.min / 32767.0f * half;
    if (std::abs(y1 - y2) < 1.0f) y2 = y1 + 1.0f;  // silence still shows a pixel
    const float px = static_cast<float>(a_.areaX + x);
    segments_.push_back({px, y1});
    segments_.push_back({px, y2});
  }
  void Draw(DrawList& out, std::string_view tag, Argb colour, float pen) {
    if (!segments_.empty()) out.Lines(tag, std::move(segments_), colour, pen);
    segments_.clear();
  }

 private:
  const ViewModel& m_;
  const ViewLayout& a_;
  int64_t bucket_ = 1;
  std::vector<PointF> segments_;
};

int64_t FrameOfColumn(const ViewModel& m, int x) {
  return static_cast<int64_t>(static_cast<double>(x) * m.framesPerPixel + m.viewStart);
}

// An arrow along y from x0 to its head at x1.
void Arrow(DrawList& out, const ViewLayout& a, int x0, int x1, bool pointsRight) {
  const float y = static_cast<float>(a.Bottom() - 25);
  const float head = static_cast<float>(a.areaX + x1);
  const float back = pointsRight ? head - 5 : head + 5;
  out.Lines("tool-arrow",
            {{static_cast<float>(a.areaX + x0), y}, {head, y}, {head, y}, {back, y - 3}, {head, y}, {back, y + 3}},
            kArrow, 2.0f);
}

void Handle(DrawList& out, const ViewLayout& a, int x, Argb fill) {
  // A 12-pixel circle with a white outline.
  std::vector<PointF> circle;
  const float cx = static_cast<float>(a.areaX + x), cy = static_cast<float>(a.Centre());
  for (int i = 0; i < 24; ++i) {
    const double t = 2 * M_PI * i / 24;
    circle.push_back({cx + 6.0f * static_cast<float>(std::cos(t)), cy + 6.0f * static_cast<float>(std::sin(t))});
  }
  out.Polygon("tool-handle", std::move(circle), fill, kWhite, 2.0f);
}

void BandAndBar(DrawList& out, const ViewLayout& a, int xs, int w, Argb band, Argb bar, std::string_view tag) {
  out.FillRect(tag, static_cast<float>(a.areaX + xs), static_cast<float>(a.Top() + 13), static_cast<float>(w),
               static_cast<float>(a.areaHeight - 11), band);
  out.FillRect("tool-bar", static_cast<float>(a.areaX + xs), static_cast<float>(a.Top() + 13), static_cast<float>(w),
               20.0f, bar);
}

// Columns x0 .. x1 - 1 cut to the visible width.
std::pair<int, int> Visible(int64_t x0, int64_t x1, int width) {
  return {static_cast<int>(std::clamp<int64_t>(x0, 0, width)), static_cast<int>(std::clamp<int64_t>(x1, 0, width))};
}

}  // namespace

std::string RearrangeHint(const ViewModel& m) {
  return HasSelection(m) ? "Drag Selection by the top bar to move/copy waveform."
                         : "Create selection by holding CTRL and dragging";
}

std::string RearrangeOptionsLine(int mode) {
  switch (mode) {
    case 1: return "OPTIONS: CTRL = Copy | SHIFT: Mix Copy | ALT: Ripple";
    case 2: return "OPTIONS: SHIFT = Mix Copy | CTRL: Copy | ALT: Ripple";
    case 3: return "OPTIONS: ALT = Ripple | CTRL: Copy | SHIFT: Mix Copy ";
    default: return "OPTIONS: Move  | CTRL: Copy | SHIFT: Mix Copy | ALT: Ripple";
  }
}

std::string TimeStretchHint(const ViewModel& m, bool inPlace) {
  if (!HasSelection(m)) return "Create loop region by holding CTRL and dragging";
  if (m.stretchActive)
    return inPlace ? "Release to apply IN-PLACE time-stretch (ALT mode: no resize)"
                   : "Release to apply time-stretch (wave data will resize)";
  return "Drag right handle to time-stretch | Hold ALT for in-place mode (no resize)";
}

std::string RetimeHint(const ViewModel& m) {
  if (!HasSelection(m)) return "Create loop region by holding CTRL and dragging";
  if (m.retimeActive) return "Release to apply retime (Total duration remains constant)";
  return "Drag left/right handles to retime | Compensating region adjusts automatically";
}

std::string StretchRatioText(double ratio, bool inPlace) {
  const float r = static_cast<float>(ratio);
  return Format(inPlace ? "Stretch: %.2fx (%.0f%%) - IN-PLACE MODE" : "Stretch: %.2fx (%.0f%%)", r, r * 100.0f);
}

std::string LoopRatioText(double ratio) {
  const float r = static_cast<float>(ratio);
  return Format("Loop: %.2fx (%.0f%%)", r, r * 100.0f);
}

FrameSpanHole RearrangeHole(int64_t loopIn, int64_t loopOut, int64_t srcStart, int64_t srcEnd) {
  if (loopIn > srcStart) return {srcStart, std::min(loopIn, srcEnd)};
  return {std::max(loopOut, srcStart), srcEnd};
}

void DrawRearrangeTool(const ViewModel& m, const ToolDragState& d, const ViewLayout& a, DrawList& out) {
  if (!m.rearrangeActive) {
    Hint(a, out, RearrangeHint(m));
    return;
  }
  if (!m.HasAudio()) return;
  const int mode = m.rearrangeMode;
  const int xs = m.XAtFrame(m.loopIn), xe = m.XAtFrame(m.loopOut);
  const int64_t s0 = d.rearrangeSrcStart, s1 = d.rearrangeSrcEnd;
  const FrameSpanHole hole = RearrangeHole(m.loopIn, m.loopOut, s0, s1);
  const bool showHole = mode == 0 && hole.end > hole.start;
  const float top = static_cast<float>(a.Top()), height = static_cast<float>(a.areaHeight);
  if (showHole) {
    const int h0 = m.XAtFrame(hole.start), h1 = m.XAtFrame(hole.end);
    out.FillRect("rearrange-hole", static_cast<float>(a.areaX + h0), top, static_cast<float>(h1 - h0), height,
                 0xFF410A0A);
  }
  const Argb band = mode == 2 ? 0x800A1451 : mode == 3 ? 0xFF995A07 : 0xFF0A510A;
  const Argb pen = mode == 2 ? 0xC80064FF : mode == 3 ? 0xFFFFA500 : 0xFF00C800;
  const Argb outline = mode == 2 ? 0xC80096FF : mode == 3 ? 0xC8FF8C00 : 0xC800FF00;
  BandAndBar(out, a, xs, xe - xs, band, 0xC803CC03, "rearrange-band");

  Preview preview(m, a);
  auto [c0, c1] = Visible(xs, xe, a.areaWidth);
  for (int x = c0; x < c1; ++x) {
    const int64_t s = FrameOfColumn(m, x) + s0 - m.loopIn;
    if (s >= s0 && s < s1) preview.Column(x, s);
  }
  preview.Draw(out, "rearrange-preview", pen, 1.5f);

  int64_t z0 = 0, z1 = 0;
  if (mode == 3) {
    const bool right = m.loopIn > s0;
    z0 = right ? s0 : m.loopOut;
    z1 = right ? m.loopIn : s1;
    if (z1 > z0) {
      const int zx0 = m.XAtFrame(z0), zx1 = m.XAtFrame(z1);
      out.FillRect("ripple-zone", static_cast<float>(a.areaX + zx0), top, static_cast<float>(zx1 - zx0), height,
                   0xFF6D1E06);
      auto [r0, r1] = Visible(zx0, zx1, a.areaWidth);
      for (int x = r0; x < r1; ++x) {
        const int64_t f = FrameOfColumn(m, x);
        const int64_t s = right ? f + s1 - s0 : f + m.loopIn - m.loopOut;
        if (right ? (s >= s1 && s < m.loopOut) : (s >= m.loopIn && s < s0)) preview.Column(x, s);
      }
      preview.Draw(out, "ripple-preview", 0xC8FFB432, 1.5f);
    }
  }
  if (showHole) {
    const int h0 = m.XAtFrame(hole.start), h1 = m.XAtFrame(hole.end);
    out.OutlineRect("rearrange-hole-outline", static_cast<float>(a.areaX + h0), top, static_cast<float>(h1 - h0),
                    height, 0xC8FF0000, 2.0f);
  }
  out.OutlineRect("rearrange-band-outline", static_cast<float>(a.areaX + xs), top + 13, static_cast<float>(xe - xs),
                  height - 11, outline, 2.0f);
  if (mode == 3 && z1 > z0) {
    const int zx0 = m.XAtFrame(z0), zx1 = m.XAtFrame(z1);
    out.OutlineRect("ripple-zone-outline", static_cast<float>(a.areaX + zx0), top, static_cast<float>(zx1 - zx0),
                    height, 0xC8FFC864, 2.0f);
  }
  Hint(a, out, RearrangeOptionsLine(mode), kWhite);
}

void DrawTimeStretchTool(const ViewModel& m, const ToolDragState& d, const ViewLayout& a, DrawList& out) {
  Hint(a, out, TimeStretchHint(m, d.stretchInPlace));
  if (!HasSelection(m) || !m.HasAudio()) return;
  const int xs = m.XAtFrame(m.loopIn), xe = m.XAtFrame(m.loopOut);
  const int w = xe - xs;
  if (w <= 0) return;
  if (m.stretchActive) {
    BandAndBar(out, a, xs, w, kStretchBand, kStretchBar, "stretch-band");
    const int64_t orig = d.stretchOrigOut - d.stretchOrigIn;
    const float ratio = orig > 0 ? static_cast<float>(m.loopOut - m.loopIn) / static_cast<float>(orig) : 0.0f;
    out.Text("stretch-ratio", StretchRatioText(ratio, d.stretchInPlace), static_cast<float>(a.areaX + xs + 5),
             static_cast<float>(a.Top() + 15), 400.0f, 16.0f, kRatioFont, kWhite, TextAlign::kLeftMiddle);
    Preview preview(m, a);
    auto [c0, c1] = Visible(xs, xe, a.areaWidth);
    for (int x = c0; x < c1; ++x) {
      const int64_t s = d.stretchOrigIn + static_cast<int64_t>(static_cast<double>(x - xs) / w * orig);
      if (s >= d.stretchOrigIn && s < d.stretchOrigOut) preview.Column(x, s);
    }
    preview.Draw(out, "stretch-preview", kStretchPreview, 1.5f);
    if (!d.stretchInPlace) {
      const int shift = static_cast<int>(static_cast<double>((m.loopOut - m.loopIn) - orig) / m.framesPerPixel);
      if (shift != 0) {
        // The tail as it will sit after the stretch; only visible columns.
        const int64_t frames = m.FrameCount();
        const int first = std::max(0, -xe);
        for (int i = first; xe + i < a.areaWidth; ++i) {
          const int64_t s = d.stretchOrigOut + static_cast<int64_t>(i * static_cast<double>(m.framesPerPixel));
          if (s >= frames) break;
          preview.Column(xe + i, s);
        }
        preview.Draw(out, "stretch-tail", 0x966496C8, 1.0f);
        if (std::abs(shift) > 5) Arrow(out, a, m.XAtFrame(d.stretchOrigOut), xe, shift > 0);
      }
    }
  }
  Handle(out, a, xe, 0xFFFFC832);
}

void DrawRetimeTool(const ViewModel& m, const ToolDragState& d, const ViewLayout& a, DrawList& out) {
  Hint(a, out, RetimeHint(m));
  if (!HasSelection(m) || !m.HasAudio()) return;
  const int xs = m.XAtFrame(m.loopIn), xe = m.XAtFrame(m.loopOut);
  const int w = xe - xs;
  if (w <= 0) return;
  const int64_t frames = m.FrameCount();
  if (m.retimeActive) {
    BandAndBar(out, a, xs, w, kStretchBand, kStretchBar, "retime-band");
    const int64_t orig = d.retimeOrigOut - d.retimeOrigIn;
    const float ratio = orig > 0 ? static_cast<float>(m.loopOut - m.loopIn) / static_cast<float>(orig) : 0.0f;
    out.Text("retime-ratio", LoopRatioText(ratio), static_cast<float>(a.areaX + xs + 5),
             static_cast<float>(a.Top() + 15), 400.0f, 16.0f, kRatioFont, kWhite, TextAlign::kLeftMiddle);
    Preview preview(m, a);
    auto [c0, c1] = Visible(xs, xe, a.areaWidth);
    for (int x = c0; x < c1; ++x) {
      const int64_t s = d.retimeOrigIn + static_cast<int64_t>(static_cast<double>(x - xs) / w * orig);
      if (s >= d.retimeOrigIn && s < d.retimeOrigOut) preview.Column(x, s);
    }
    preview.Draw(out, "retime-preview", kStretchPreview, 1.5f);
    const float top = static_cast<float>(a.Top()), height = static_cast<float>(a.areaHeight);
    if (m.dragOperation == kDragLoopOut) {
      if (d.retimeOrigOut < frames && m.loopOut < frames) {
        const int xf = m.XAtFrame(frames);
        if (xe < a.areaWidth)
          out.FillRect("retime-compensation", static_cast<float>(a.areaX + xe), top,
                       static_cast<float>(std::min(xf, a.areaWidth) - xe), height, 0xC8101010);
        auto [r0, r1] = Visible(xe, xf, a.areaWidth);
        const double span = static_cast<double>(xf - xe);
        for (int x = r0; x < r1; ++x) {
          const int64_t s = d.retimeOrigOut + static_cast<int64_t>((x - xe) / span * (frames - d.retimeOrigOut));
          if (s >= frames) break;
          preview.Column(x, s);
        }
        preview.Draw(out, "retime-tail", 0xBE6496C8, 1.0f);
        const int shift = static_cast<int>(static_cast<double>(d.retimeOrigOut - m.loopOut) / m.framesPerPixel);
        if (std::abs(shift) >= 6) Arrow(out, a, m.XAtFrame(d.retimeOrigOut), xe, m.loopOut > d.retimeOrigOut);
      }
    } else if (m.dragOperation == kDragLoopIn && d.retimeOrigIn > 0 && m.loopIn > 0) {
      const int x0 = m.XAtFrame(0);
      if (xs >= 1)
        out.FillRect("retime-compensation", static_cast<float>(a.areaX + std::max(x0, 0)), top,
                     static_cast<float>(xs - std::max(x0, 0)), height, 0xC8101010);
      auto [r0, r1] = Visible(x0, xs, a.areaWidth);
      const double span = static_cast<double>(xs - x0);
      for (int x = r0; x < r1; ++x) {
        const int64_t s = static_cast<int64_t>((x - x0) / span * d.retimeOrigIn);
        if (s < d.retimeOrigIn) preview.Column(x, s);
      }
      preview.Draw(out, "retime-head", 0xBE6496C8, 1.0f);
      const int shift = static_cast<int>(static_cast<double>(m.loopIn - d.retimeOrigIn) / m.framesPerPixel);
      if (std::abs(shift) >= 6) Arrow(out, a, m.XAtFrame(d.retimeOrigIn), xs, m.loopIn > d.retimeOrigIn);
    }
  }
  Handle(out, a, xs, 0xFF64FF64);
  Handle(out, a, xe, 0xFF64FF64);
}

}  // namespace zandrel

namespace zandrel {

// The view's painters run the overlays with the spans of the current drag
// (none outside a drag: the hints still show).
void ViewDrawing::DrawRearrangeTool() {
  const ToolDragState none;
  zandrel::DrawRearrangeTool(model_, toolDrag ? *toolDrag : none, layout_, out_);
}

void ViewDrawing::DrawTimeStretchTool() {
  const ToolDragState none;
  zandrel::DrawTimeStretchTool(model_, toolDrag ? *toolDrag : none, layout_, out_);
}

void ViewDrawing::DrawRetimeTool() {
  const ToolDragState none;
  zandrel::DrawRetimeTool(model_, toolDrag ? *toolDrag : none, layout_, out_);
}

}  // namespace zandrel

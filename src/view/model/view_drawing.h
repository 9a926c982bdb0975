// The waveform view's picture as a list of drawing operations.
//
// ViewDrawing runs the view's painters over the model and the document and
// appends what they draw (filled rectangles, lines, polygons, texts, all in
// ARGB) to a DrawList; the widget then renders the list with QPainter
// (view_painter.h). Keeping the picture display-free lets tests check what is
// drawn, and where, without comparing pixels. Each paint also records the
// hit rectangles of what it drew into the model.
//
// Coordinates are client pixels. A line or polygon vertex at integer (x, y)
// means the centre of pixel (x, y); a rectangle (x, y, w, h) covers columns
// x .. x + w - 1 and rows y .. y + h - 1, and one with a width or height of
// zero or less covers nothing.
//
// Fonts: the picture asks for the families it was designed with ("Segoe UI",
// "Arial"); FontSpec carries the family that stands in for them on this
// system and the size in pixels, points being converted at 96 DPI.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "view/model/ruler_ticks.h"
#include "view/model/view_geometry.h"
#include "view/model/view_model.h"

namespace zandrel {
struct ToolDragState;
}

namespace zandrel {

struct PointF {
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const PointF&) const = default;
};

inline constexpr std::string_view kUiFontFamily = "DejaVu Sans";
constexpr float PointsToPixels(float points) { return points * 96.0f / 72.0f; }

struct FontSpec {
  std::string_view family = kUiFontFamily;
  float pixelSize = 0.0f;
  bool bold = false;
};
// "Segoe UI" and "Arial" at |points| points.
constexpr FontSpec UiFont(float points, bool bold) { return FontSpec{kUiFontFamily, PointsToPixels(points), bold}; }

// How a text sits in its rectangle. Texts never wrap and are clipped to the
// rectangle.
enum class TextAlign : uint8_t { kLeftMiddle, kCentre, kCentreTop, kLeftTop };

struct DrawOp {
  enum class Kind : uint8_t {
    kFillRect,     // rectangle filled with `color`
    kOutlineRect,  // rectangle outlined with a pen of `color` and `penWidth`
    kLine,         // points[0] to points[1]
    kLines,        // separate segments: points[0]-points[1], points[2]-points[3], ...
    kPolyline,     // connected line through `points`
    kPolygon,      // `points` filled with `color` (alternate rule), outlined with `outline` unless it is 0;
                   // with `gradientColor` set, the fill runs from `color` at y `gradientY1` down to
                   // `gradientColor` at y `gradientY2` (repeating beyond)
    kEllipse,      // the ellipse in the rectangle, filled with `color` unless it is 0, outlined with
                   // `outline` and `penWidth` unless that is 0
    kText,         // `text` in `font` and `color`, placed by `align` in the rectangle
  };
  Kind kind = Kind::kFillRect;
  std::string_view tag;  // which part of the picture this is ("cursor", "selection-bar", ...)
  Argb color = 0;
  Argb outline = 0;
  float penWidth = 1.0f;
  bool dotted = false;
  float x = 0.0f, y = 0.0f, w = 0.0f, h = 0.0f;  // rectangle of kFillRect, kOutlineRect, kEllipse and kText
  Argb gradientColor = 0;
  float gradientY1 = 0.0f, gradientY2 = 0.0f;
  std::vector<PointF> points;
  std::string text;
  FontSpec font;
  TextAlign align = TextAlign::kCentre;
  // kText: drawn only when the whole text fits the rectangle's width, so
  // that a narrow rectangle shows nothing rather than a cut piece of it.
  bool wholeOnly = false;
  // On the first circle of a glowing particle ("particle-glow"): this op and
  // the next glowCircles - 1 are the circles of GlowCircleAt (particles.h)
  // for size factor glowSize and glow `glow`, all centred on the particle. A
  // painter may draw them together as one image of the glow at 1, faded by
  // `glow` (view_painter.h); the circles still describe the picture.
  int glowCircles = 0;
  float glowSize = 0.0f;
  float glow = 0.0f;
};

class DrawList {
 public:
  void FillRect(std::string_view tag, float x, float y, float w, float h, Argb color);
  void OutlineRect(std::string_view tag, float x, float y, float w, float h, Argb color, float penWidth);
  void Line(std::string_view tag, float x1, float y1, float x2, float y2, Argb color, float penWidth = 1.0f,
            bool dotted = false);
  void Lines(std::string_view tag, std::vector<PointF> segments, Argb color, float penWidth = 1.0f,
             bool dotted = false);
  void Polyline(std::string_view tag, std::vector<PointF> points, Argb color, float penWidth);
  void Polygon(std::string_view tag, std::vector<PointF> points, Argb fill, Argb outline, float penWidth = 1.0f);
  // A polygon filled with a vertical gradient from |top| at y1 to |bottom| at y2.
  void GradientPolygon(std::string_view tag, std::vector<PointF> points, Argb top, float y1, Argb bottom, float y2,
                       Argb outline, float penWidth = 1.0f);
  void Ellipse(std::string_view tag, float x, float y, float w, float h, Argb fill, Argb outline, float penWidth);
  void Text(std::string_view tag, std::string text, float x, float y, float w, float h, FontSpec font, Argb color,
            TextAlign align, bool wholeOnly = false);

  // Marks the ops from index |first| to the end as one glowing particle's
  // circles (DrawOp::glowCircles); nothing when there are none.
  void MarkGlow(size_t first, float size, float glow);

  const std::vector<DrawOp>& Ops() const { return ops_; }
  void Clear() { ops_.clear(); }
  // Room for |count| more operations (a picture of many small ones).
  void Reserve(size_t count) { ops_.reserve(ops_.size() + count); }
  // The operations carrying |tag|, in drawing order (for tests).
  std::vector<const DrawOp*> Find(std::string_view tag) const;

 private:
  DrawOp& Add(DrawOp::Kind kind, std::string_view tag, Argb color);
  std::vector<DrawOp> ops_;
};

// The view's painters. One object per paint: it reads the model and its
// document and writes the hit rectangles of the model.
class ViewDrawing {
 public:
  ViewDrawing(ViewModel& model, DrawList& out);

  // The whole client area of |width| x |height| pixels, in painting order.
  void OnDraw(int width, int height);

  void DrawRegionBar();
  void DrawBackground();
  // Centre line and waveform; chooses one of the three renderings.
  void DrawWaveform(int centre);
  // The line through samples below 2 frames per pixel.
  bool UseLineWaveform(int areaWidth) const;
  void DrawWaveformPolyline(int centre, Argb color);
  void DrawWaveformEnvelope(int centre, Argb color, int64_t bucketSize);
  void DrawRegionBoundaries();
  void DrawLoopMarkers();
  void DrawTrimLimitMarker(const TrimLimit& limit);
  void DrawSelection();
  void DrawPaintLevelsEnvelope();
  void DrawLoupe();
  // The ruler's base line at y0 and its ticks with their labels.
  void DrawRulerTicks(const std::vector<RulerTick>& ticks, int y0);

  // The ruler along the bottom of the waveform area, one by the timeline
  // (ruler_drawing.cpp): frame numbers, minutes and seconds, or bars and
  // beats with the beat grid over the whole area.
  void DrawSampleRuler();
  void DrawTimeRuler();
  void DrawBeatRuler();
  // The strip of MIDI keys along the bottom with each region's key range,
  // its root and, while key boundaries are edited, the boundary handles
  // (piano_strip_drawing.cpp). Its hit records are ComputePianoHitRecords.
  void DrawPianoStrip();

  // The overlays of the Rearrange, Time Stretch and Retime tools
  // (tool_overlays.h), drawn with the spans of |toolDrag| when it is set.
  void DrawRearrangeTool();
  void DrawTimeStretchTool();
  void DrawRetimeTool();
  const ToolDragState* toolDrag = nullptr;

  // The screen without audio: the drop hint, and with the animation setting
  // on the particles (DrawEmptyScreen). It starts the animation timer
  // (model's animationTimer) when it is not running, with a new swarm, and
  // stops it when the setting is off; the first paint with audio stops it.
  void DrawEmptyView();
  void DrawEmptyScreen();

  // The "Spectrum" display (spectrum.h): the analysis of the visible range
  // unless the cached one is still valid, and the curve with its peak lines
  // over the bottom third of the waveform area.
  void BuildSpectrum();
  void DrawSpectrumOverlay();

  const ViewLayout& Layout() const { return layout_; }

 private:
  int X(int64_t frame) const { return model_.XAtFrame(frame); }
  // Frame position of pixel column |column| (not truncated).
  double ColumnFrame(int column) const;

  ViewModel& model_;
  const CQuorvelDoc& doc_;
  DrawList& out_;
  ViewLayout layout_;
};

// Colours of the picture that tests and other painters refer to.
namespace view_color {
inline constexpr Argb kClear = 0xFF101010;
inline constexpr Argb kOutsideAudio = 0xFF000000;
inline constexpr Argb kSeparator = 0xFF141414;
inline constexpr Argb kCentreLine = 0xFF006432;
inline constexpr Argb kWaveform = 0xFF00FF00;
inline constexpr Argb kCursor = 0xFFFFFF00;
inline constexpr Argb kCursorFlag = 0xF0FFFF00;
inline constexpr Argb kBeatMarker = 0xB400FFFF;
inline constexpr Argb kTrimLine = 0xFFFF0000;
inline constexpr Argb kTrimShade = 0x8C780000;
inline constexpr Argb kLoopMarkerOn = 0xFFFF6400;
inline constexpr Argb kLoopMarkerOff = 0x8000C8FF;
inline constexpr Argb kSpectrumTop = 0xA000FFFF;
inline constexpr Argb kSpectrumBottom = 0x280064C8;
inline constexpr Argb kSpectrumOutline = 0xC864FFFF;
inline constexpr Argb kSpectrumPeak = 0xFFFF0000;
inline constexpr Argb kSpectrumMinorPeak = 0x78FF3232;
inline constexpr Argb kDropHint = 0xFF808080;
}  // namespace view_color

}  // namespace zandrel

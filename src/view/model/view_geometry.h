// The waveform view's geometry and colours, without a display.
//
// Bands of the client area, the region palette and the colours derived from
// it, the save's trim limit as the view marks it, the hit rectangles each
// paint records and where the magnifier goes. The drawing (view_drawing.h)
// and the mouse handling share these, so what is drawn and what is hit are
// computed in one place. Pixels are client coordinates, origin top-left, y
// downwards.
//
// Colours are ARGB, 0xAARRGGBB. The window system's colour values that the
// pages and widgets exchange (ColorRef, 0x00BBGGRR, platform/colorref.h) meet
// ARGB only through the two helpers below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "document/quorvel_doc.h"
#include "platform/colorref.h"
#include "view/model/rect.h"

namespace zandrel {

using Argb = uint32_t;

constexpr Argb ArgbFromColorref(ColorRef colour, uint8_t alpha = 0xFF) {
  return (static_cast<Argb>(alpha) << 24) | (static_cast<Argb>(RedOf(colour)) << 16) |
         (static_cast<Argb>(GreenOf(colour)) << 8) | static_cast<Argb>(BlueOf(colour));
}
// The alpha channel is dropped.
constexpr ColorRef ColorrefFromArgb(Argb argb) {
  return MakeColorRef(static_cast<int>((argb >> 16) & 0xFFu), static_cast<int>((argb >> 8) & 0xFFu),
                      static_cast<int>(argb & 0xFFu));
}

// Region i is drawn in entry i mod 10 everywhere: region bar, waveform, piano
// strip and the Region page.
inline constexpr std::array<Argb, 10> kRegionPalette = {
    0xFF4682B4, 0xFFDC143C, 0xFFFF8C00, 0xFF32CD32, 0xFF8A2BE2,
    0xFFFFD700, 0xFF00BFFF, 0xFFFF69B4, 0xFF3CB371, 0xFFFF4500,
};

// Entry |region| mod 10 (a negative index counts as 0).
Argb RegionColor(int region);
// The region's block in the region bar: each channel halved, alpha 0x80.
Argb RegionBarColor(int region);
// The region's tint of the waveform area: each channel 0.2 x c + 88 (a fifth
// of the region colour over grey 110), alpha 0x33.
Argb RegionTintColor(int region);
// The strip along the top of the region in the waveform area: alpha 0x66.
Argb RegionStripColor(int region);

// Band heights in pixels (the piano strip's are in view_model.h).
constexpr int kSelectionBarOffset = 13;  // the selection and tool bands start this far below the area's top
constexpr int kSelectionBarHeight = 20;
constexpr int kRulerHeight = 20;

// The bands of a W x H client area.
struct ViewLayout {
  int width = 0;
  int height = 0;
  int pianoStripHeight = 0;
  Rect regionBar;  // (0, 0, W, 40)
  // The waveform area A between the region bar and the piano strip:
  // (0, 40, W, H - 40 - S). Its height is negative in a window too small for it.
  int areaX = 0;
  int areaY = 0;
  int areaWidth = 0;
  int areaHeight = 0;

  int Top() const { return areaY; }
  int Bottom() const { return areaY + areaHeight; }
  // The waveform's zero line.
  int Centre() const { return areaY + areaHeight / 2; }
  Rect PianoStrip() const { return Rect::FromXYWH(0, height - pianoStripHeight, width, pianoStripHeight); }
};

ViewLayout ComputeViewLayout(int width, int height, bool editKeyBoundaries);

// The save's time limit as the view marks it: the effective limit in
// seconds and the first frame beyond it. Only when the document has audio,
// the limit is on and the audio is longer than it.
struct TrimLimit {
  float seconds = 0.0f;
  int64_t frame = 0;
};
std::optional<TrimLimit> TrimLimitOf(const CQuorvelDoc& doc);

// Hit rectangle of a loop marker at pixel x: 4 px either side, from 11 px
// below the area's top to 11 px below its bottom.
Rect LoopHandleRect(int x, const ViewLayout& layout);
// Hit rectangle of the selection's bar between pixels xL and xR: 13 to 33 px
// below the area's top.
Rect SelectionBarRect(int xLeft, int xRight, const ViewLayout& layout);

// Where the magnifier goes for a mouse at (x, y): a square of
// trunc(0.45 x max(1, area height)) pixels, centred horizontally on the
// mouse, 25 px above it when the mouse is in the lower half of the client
// area and 25 px below it otherwise, kept inside the client area.
Rect PlaceLoupe(int mouseX, int mouseY, const Rect& client, int areaHeight);

}  // namespace zandrel

// The piano strip along the bottom of the waveform view.
#include <algorithm>
#include <utility>

#include "platform/text_format.h"
#include "view/model/piano_key_layout.h"
#include "view/model/view_drawing.h"

namespace zandrel {
namespace {

constexpr Argb kStripBackground = 0xFF505050;
constexpr Argb kWhiteKey = 0xFFC8C8C8;
constexpr Argb kKeySeparator = 0xFF646464;
constexpr Argb kOctaveNumber = 0xFF828282;

Argb WithAlpha(Argb colour, uint32_t alpha) { return (colour & 0x00FFFFFFu) | (alpha << 24); }

// Each of R, G and B halved; alpha A / 2 + 127.5 (opaque for the palette).
Argb HalfBright(Argb c) {
  const uint32_t a = static_cast<uint32_t>(((c >> 24) & 0xFFu) / 2.0 + 127.5);
  return (std::min<uint32_t>(a, 255) << 24) | ((((c >> 16) & 0xFFu) / 2) << 16) | ((((c >> 8) & 0xFFu) / 2) << 8) |
         ((c & 0xFFu) / 2);
}

}  // namespace

void ViewDrawing::DrawPianoStrip() {
  const int width = layout_.width;
  const int height = layout_.height;
  const int strip = model_.PianoStripHeight();
  const int ys = height - strip;
  const int h6 = static_cast<int>(strip * 0.6);
  const bool tall = model_.editKeyBoundaries;
  const float fys = static_cast<float>(ys);
  const float fh = static_cast<float>(height);
  out_.FillRect("piano-strip", 0, fys, static_cast<float>(width), static_cast<float>(strip), kStripBackground);

  const PianoKeyLayout keys = PianoKeyLayout::For(width, tall);
  const int lo = keys.lowestKey;
  const int hi = keys.highestKey;
  for (int k = lo; k <= hi; ++k) {
    if (IsBlackKey(k)) continue;
    out_.FillRect("piano-white-key", static_cast<float>(keys.X1(k)), fys, static_cast<float>(keys.X2(k) - keys.X1(k)),
                  static_cast<float>(strip), kWhiteKey);
  }
  std::vector<PointF> separators;
  separators.reserve(static_cast<size_t>(hi - lo + 2) * 2);
  for (int i = 0; i <= hi - lo + 1; ++i) {
    const float x = static_cast<float>(keys.offset + static_cast<int>(static_cast<float>(i) * keys.keyWidth));
    separators.push_back({x, fys});
    separators.push_back({x, fh});
  }
  out_.Lines("piano-separators", std::move(separators), kKeySeparator);
  const FontSpec octaveFont = UiFont(8, false);
  for (int k = lo; k <= hi; ++k) {
    if (k % 12 != 0) continue;
    out_.Text("piano-octave", Format("%d", k / 12 - 1), static_cast<float>(keys.X1(k) + 2), fh - 12, 30, 12,
              octaveFont, kOctaveNumber, TextAlign::kLeftTop);
  }

  const InstrumentData& inst = doc_.instrument;
  if (!inst.hasInstrument) return;
  const auto& regions = inst.regions;
  const size_t count = regions.size();
  auto sharesTop = [&](size_t j) { return j + 1 < count && regions[j + 1].loKey == regions[j].hiKey; };
  auto sharesBottom = [&](size_t j) { return j > 0 && regions[j - 1].hiKey == regions[j].loKey; };

  for (size_t j = 0; j < count; ++j) {
    const Region& r = regions[j];
    const Argb c = RegionColor(static_cast<int>(j));
    const int a = std::max(r.loKey, lo);
    const int b = std::min(r.hiKey, hi);
    const bool top = sharesTop(j);
    const bool bottom = sharesBottom(j);
    for (int k = a; k <= b; ++k) {
      const Argb fill = WithAlpha(c, IsBlackKey(k) ? 0x78 : 0x8C);
      const float x1 = static_cast<float>(keys.X1(k));
      const float x2 = static_cast<float>(keys.X2(k));
      const float y6 = static_cast<float>(ys + h6);
      if (top && k == r.hiKey) {
        out_.Polygon("piano-range", {{x1, fys}, {x2, fys}, {x1, y6}}, fill, 0);
      } else if (bottom && k == r.loKey) {
        out_.Polygon("piano-range", {{x1, y6}, {x2, y6}, {x2, fys}}, fill, 0);
      } else {
        out_.FillRect("piano-range", x1, fys, x2 - x1, static_cast<float>(h6), fill);
      }
    }
    const int root = r.rootNote;
    if (keys.Shows(root)) {
      const int mh = tall ? 20 : 8;
      const int y = tall ? ys + strip - 10 - mh : ys + strip - 3 - mh;
      const int x1 = keys.X1(root);
      const int x2 = keys.X2(root);
      out_.FillRect("piano-root", static_cast<float>(x1 + 2), static_cast<float>(y), static_cast<float>(x2 - x1 - 6),
                    static_cast<float>(mh), c);
      if (tall)
        out_.Text("piano-region-number", Format("%d", static_cast<int>(j) + 1), static_cast<float>(x1 + 2),
                  static_cast<float>(y), static_cast<float>(x2 - x1 - 4), static_cast<float>(mh), UiFont(9, true),
                  0xFFFFFFFF, TextAlign::kCentre);
    }
  }

  if (!tall) return;
  // The handles, where the hit records put them.
  const PianoHitRecords records = ComputePianoHitRecords(inst, width, height, true);
  for (size_t h = 0; h < records.handles.size(); ++h) {
    const KeyHitRecord& rec = records.handles[h];
    const size_t j = static_cast<size_t>(rec.region);
    const Argb c = RegionColor(rec.region);
    const float x = static_cast<float>(records.handleLines[h]);
    if (rec.lowKeyHandle) {
      const bool shared = sharesBottom(j);
      const float from = static_cast<float>(shared ? ys + h6 : ys);
      out_.Line("piano-handle", x, from, x, fh, c, 3.0f);
      if (shared)
        out_.Line("piano-handle-shared", x, fys, x, static_cast<float>(ys + h6),
                  HalfBright(RegionColor(rec.region - 1)), 2.0f);
      out_.Polygon("piano-handle-arrow", {{x - 5, fh}, {x + 5, fh}, {x, fh - 8}}, c, 0);
    } else {
      out_.Line("piano-handle", x, fys, x, fh, c, 3.0f);
      out_.Polygon("piano-handle-arrow", {{x - 4, fh}, {x + 4, fh}, {x, fh - 6}}, c, 0);
    }
  }
}

}  // namespace zandrel

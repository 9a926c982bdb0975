#include "view/model/view_geometry.h"

#include <algorithm>

#include "document/region_ops.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

Argb WithAlphaByte(Argb colour, uint8_t alpha) { return (colour & 0x00FFFFFFu) | (static_cast<Argb>(alpha) << 24); }

// Applies |f| to each of R, G and B.
template <typename F>
Argb MapChannels(Argb colour, F f) {
  Argb out = colour & 0xFF000000u;
  for (int shift : {16, 8, 0}) out |= (static_cast<Argb>(f((colour >> shift) & 0xFFu)) & 0xFFu) << shift;
  return out;
}

}  // namespace

Argb RegionColor(int region) {
  return kRegionPalette[static_cast<size_t>(std::max(region, 0)) % kRegionPalette.size()];
}

Argb RegionBarColor(int region) {
  return WithAlphaByte(MapChannels(RegionColor(region), [](Argb c) { return c >> 1; }), 0x80);
}

Argb RegionTintColor(int region) {
  return WithAlphaByte(MapChannels(RegionColor(region), [](Argb c) { return static_cast<Argb>(0.2 * c + 88); }), 0x33);
}

Argb RegionStripColor(int region) { return WithAlphaByte(RegionColor(region), 0x66); }

ViewLayout ComputeViewLayout(int width, int height, bool editKeyBoundaries) {
  ViewLayout l;
  l.width = width;
  l.height = height;
  l.pianoStripHeight = editKeyBoundaries ? kPianoStripHeightEditing : kPianoStripHeight;
  l.regionBar = Rect{0, 0, width, kRegionBarHeight};
  l.areaX = 0;
  l.areaY = kRegionBarHeight;
  l.areaWidth = width;
  l.areaHeight = height - kRegionBarHeight - l.pianoStripHeight;
  return l;
}

std::optional<TrimLimit> TrimLimitOf(const CQuorvelDoc& doc) {
  if (!(doc.timeLimit > 0) || !doc.HasAudio()) return std::nullopt;
  // The same limit the save enforces, so the marker shows what a save cuts.
  const float seconds = EffectiveTimeLimit(doc.audio.format, doc.audio.data.size(), doc.timeLimit);
  if (!(seconds > 0)) return std::nullopt;
  const float frames = static_cast<float>(doc.audio.format.nSamplesPerSec) * seconds;
  if (!(frames < 9.2e18f)) return std::nullopt;
  const int64_t frame = static_cast<int64_t>(frames);
  if (frame >= doc.FrameCount()) return std::nullopt;
  return TrimLimit{seconds, frame};
}

Rect LoopHandleRect(int x, const ViewLayout& layout) {
  return Rect{x - 4, layout.Top() + 11, x + 4, layout.Bottom() + 11};
}

Rect SelectionBarRect(int xLeft, int xRight, const ViewLayout& layout) {
  const int top = layout.Top() + kSelectionBarOffset;
  return Rect{xLeft, top, xRight, top + kSelectionBarHeight};
}

Rect PlaceLoupe(int mouseX, int mouseY, const Rect& client, int areaHeight) {
  const int size = static_cast<int>(0.45 * std::max(1, areaHeight));
  const int middle = (client.top + client.bottom) / 2;
  int y = mouseY > middle ? mouseY - size - 25 : mouseY + 25;
  int x = mouseX - size / 2;
  x = std::min(client.right - size, std::max(client.left, x));
  y = std::min(client.bottom - size, std::max(client.top, y));
  return Rect::FromXYWH(x, y, size, size);
}

}  // namespace zandrel

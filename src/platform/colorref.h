// Colours as the pages, the note picker and the flat button take them:
// ColorRef values 0x00BBGGRR, red in the lowest byte. The widgets turn them
// into toolkit colours through one helper (widgets/qt_colors.h), so the byte
// order is decided in one place.
#pragma once

#include <cstdint>

namespace zandrel {

using ColorRef = uint32_t;

constexpr ColorRef MakeColorRef(int red, int green, int blue) {
  return static_cast<ColorRef>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int RedOf(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

// The accent of the note picker and the first region colour (steel blue).
constexpr ColorRef kSteelBlue = MakeColorRef(70, 130, 180);

}  // namespace zandrel

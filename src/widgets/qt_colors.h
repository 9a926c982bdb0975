// The conversions to Qt colours: from ColorRef values (0x00BBGGRR), and from
// 0x00RRGGBB values (the alpha byte, if any, left out).
#pragma once

#include <QColor>
#include <cstdint>

#include "platform/colorref.h"

namespace zandrel {

inline QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

inline QColor RgbToQColor(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace zandrel

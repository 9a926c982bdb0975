// The one conversion from ColorRef values (0x00BBGGRR) to Qt colours.
#pragma once

#include <QColor>

#include "platform/colorref.h"

namespace zandrel {

inline QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

}  // namespace zandrel

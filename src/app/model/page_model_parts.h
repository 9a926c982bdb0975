// Small records the property pages' models hand to their Qt pages.
#pragma once

#include "platform/colorref.h"

namespace zandrel {

// A field colour set by the page; unset fields keep the style's colours.
struct FieldColours {
  bool set = false;
  ColorRef background = 0xFFFFFF;
  ColorRef text = 0x000000;
};

// A flat button's scheme as CFlatButton::SetColor takes it.
struct ButtonScheme {
  ColorRef base = 0;
  double light = 1.04;
  double pressed = 0.96;
  bool operator==(const ButtonScheme&) const = default;
};

// What the note picker opens with.
struct NotePickerRequest {
  int low = 0;
  int high = 127;
  int root = 60;
  int mode = 2;  // 0 low, 1 high, 2 root
  ColorRef accent = kSteelBlue;
  int neutralColors = 0;
};

}  // namespace zandrel

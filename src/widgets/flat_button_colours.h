// The flat button's colour scheme, without a window.
//
// A scheme is derived from one base colour: the hover and pressed colours
// keep the base's hue and saturation and scale its lightness. The HSL
// conversions are written out here rather than taken from the toolkit,
// whose integer rounding gives other colours. Colours are ColorRef values.
#pragma once

#include "platform/colorref.h"

namespace zandrel {

struct Hsl {
  double h = 0.0;  // hue, 0 <= h < 1
  double s = 0.0;  // saturation, 0..1
  double l = 0.0;  // lightness, 0..1
};

Hsl RgbToHsl(ColorRef c);
// Channels are truncated toward zero.
ColorRef HslToRgb(const Hsl& hsl);

struct FlatButtonColours {
  ColorRef faceColour = 0xE1E1E1;
  ColorRef frameColour = 0xB2B2B2;          // normal state, also while blinking
  ColorRef hoverFaceColour = 0xFCF1E4;
  ColorRef hoverFrameColour = 0xD77800;     // also the face in blink phase on
  ColorRef pressedFaceColour = 0xF7E4CC;    // also the face in blink phase off
  ColorRef pressedFrameColour = 0x995400;
  ColorRef disabledFaceColour = 0xF0F0F0;
  ColorRef disabledFrameColour = 0xDCDCDC;
  ColorRef textColour = 0x000000;
  ColorRef disabledTextColour = 0xA1A1A1;

  // Derives the scheme from |base|: hover face at lightness x |light|, hover
  // frame x 0.8, pressed face x |pressed|, pressed frame x 0.65 (each capped
  // at 1); black text and the grey frame. The disabled colours stay.
  void SetColor(ColorRef base, double light, double pressed);
};

struct FlatButtonState {
  bool disabled = false;
  bool pressed = false;
  bool hovering = false;
  bool blinking = false;
  bool blinkPhase = true;
};

struct FlatButtonLook {
  ColorRef face = 0;
  ColorRef frame = 0;
  ColorRef text = 0;
  bool operator==(const FlatButtonLook&) const = default;
};

// The colours one paint uses: disabled before pressed before hovering before
// the normal (or blinking) face.
FlatButtonLook PickFlatButtonLook(const FlatButtonColours& colours, const FlatButtonState& state);

}  // namespace zandrel

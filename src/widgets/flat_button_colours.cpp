#include "widgets/flat_button_colours.h"

#include <algorithm>

namespace zandrel {
namespace {

// One channel of HslToRgb for hue offset t.
double HueChannel(double p, double q, double t) {
  if (t < 0.0) t += 1.0;
  if (t > 1.0) t -= 1.0;
  if (t < 1.0 / 6.0) return p + (q - p) * 6.0 * t;
  if (t < 1.0 / 2.0) return q;
  if (t < 2.0 / 3.0) return p + (q - p) * (2.0 / 3.0 - t) * 6.0;
  return p;
}

int ToByte(double v) { return static_cast<int>(v * 255.0); }

}  // namespace

Hsl RgbToHsl(ColorRef c) {
  const double r = RedOf(c) / 255.0;
  const double g = GreenOf(c) / 255.0;
  const double b = BlueOf(c) / 255.0;
  const double max = std::max({r, g, b});
  const double min = std::min({r, g, b});
  Hsl hsl;
  hsl.l = (max + min) / 2.0;
  if (max == min) return hsl;
  const double d = max - min;
  hsl.s = hsl.l > 0.5 ? d / (2.0 - max - min) : d / (max + min);
  if (max == r) {
    hsl.h = (g - b) / d + (g < b ? 6.0 : 0.0);
  } else if (max == g) {
    hsl.h = (b - r) / d + 2.0;
  } else {
    hsl.h = (r - g) / d + 4.0;
  }
  hsl.h /= 6.0;
  return hsl;
}

ColorRef HslToRgb(const Hsl& hsl) {
  if (hsl.s == 0.0) {
    const int v = ToByte(hsl.l);
    return MakeColorRef(v, v, v);
  }
  const double q = hsl.l < 0.5 ? hsl.l * (1.0 + hsl.s) : hsl.l + hsl.s - hsl.l * hsl.s;
  const double p = 2.0 * hsl.l - q;
  return MakeColorRef(ToByte(HueChannel(p, q, hsl.h + 1.0 / 3.0)), ToByte(HueChannel(p, q, hsl.h)),
                      ToByte(HueChannel(p, q, hsl.h - 1.0 / 3.0)));
}

void FlatButtonColours::SetColor(ColorRef base, double light, double pressed) {
  faceColour = base;
  textColour = 0x000000;
  frameColour = 0xB2B2B2;
  const Hsl hsl = RgbToHsl(base);
  auto scaled = [&](double factor) { return HslToRgb({hsl.h, hsl.s, std::min(hsl.l * factor, 1.0)}); };
  hoverFaceColour = scaled(light);
  hoverFrameColour = scaled(0.8);
  pressedFaceColour = scaled(pressed);
  pressedFrameColour = scaled(0.65);
}

FlatButtonLook PickFlatButtonLook(const FlatButtonColours& c, const FlatButtonState& state) {
  if (state.disabled) return {c.disabledFaceColour, c.disabledFrameColour, c.disabledTextColour};
  if (state.pressed) return {c.pressedFaceColour, c.pressedFrameColour, c.textColour};
  if (state.hovering) return {c.hoverFaceColour, c.hoverFrameColour, c.textColour};
  ColorRef face = c.faceColour;
  if (state.blinking) face = state.blinkPhase ? c.hoverFrameColour : c.pressedFaceColour;
  return {face, c.frameColour, c.textColour};
}

}  // namespace zandrel

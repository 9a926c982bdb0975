#include <gmock/gmock.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include "widgets/color_edit.h"
#include "widgets/flat_button.h"
#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

TEST(FlatButtonColoursTest, SchemeKeepsHueAndScalesLightness) {
  struct Case {
    ColorRef base;
    double light, pressed;
    ColorRef hoverFace, hoverFrame, pressedFace, pressedFrame;
  };
  const Case cases[] = {
      // Grey has no saturation: plain scaled greys.
      {0x808080, 1.04, 0.96, 0x858585, 0x666666, 0x7A7A7A, 0x535353},
      // White cannot get lighter: the lightness is capped at 1.
      {0xFFFFFF, 1.04, 0.96, 0xFFFFFF, 0xCCCCCC, 0xF4F4F4, 0xA5A5A5},
      // The Region page's "Update" and "Apply to Region Loop".
      {0xF7E4CC, 1.04, 0.96, 0xF9ECDB, 0xEABA7E, 0xF4DBBC, 0xE19B43},
      {0xDBD0FF, 1.04, 0.96, 0xE9E2FF, 0x9473FF, 0xCCBDFF, 0x5E2DFF},
      // The first region's light tint.
      {0xE1CDB5, 1.1, 0.96, 0xECE0D1, 0xC9A57B, 0xDCC5A9, 0xB8884F},
  };
  for (const Case& c : cases) {
    FlatButtonColours s;
    s.textColour = 0x123456;
    s.SetColor(c.base, c.light, c.pressed);
    EXPECT_EQ(s.faceColour, c.base);
    EXPECT_EQ(s.hoverFaceColour, c.hoverFace) << std::hex << c.base;
    EXPECT_EQ(s.hoverFrameColour, c.hoverFrame) << std::hex << c.base;
    EXPECT_EQ(s.pressedFaceColour, c.pressedFace) << std::hex << c.base;
    EXPECT_EQ(s.pressedFrameColour, c.pressedFrame) << std::hex << c.base;
    EXPECT_EQ(s.frameColour, 0xB2B2B2u);
    EXPECT_EQ(s.textColour, 0u);
    EXPECT_EQ(s.disabledFaceColour, 0xF0F0F0u);
    EXPECT_EQ(s.disabledFrameColour, 0xDCDCDCu);
  }
}

TEST(FlatButtonColoursTest, HslOfPrimaryColours) {
  const Hsl red = RgbToHsl(MakeColorRef(255, 0, 0));
  EXPECT_DOUBLE_EQ(red.h, 0.0);
  EXPECT_DOUBLE_EQ(red.s, 1.0);
  EXPECT_DOUBLE_EQ(red.l, 0.5);
  const Hsl blue = RgbToHsl(MakeColorRef(0, 0, 255));
  EXPECT_DOUBLE_EQ(blue.h, 4.0 / 6.0);
  const Hsl magenta = RgbToHsl(MakeColorRef(255, 0, 128));  // g < b wraps the hue
  EXPECT_GT(magenta.h, 5.0 / 6.0);
  EXPECT_LT(magenta.h, 1.0);
  for (ColorRef c : {MakeColorRef(255, 0, 0), MakeColorRef(0, 255, 0), MakeColorRef(0, 0, 255),
                     MakeColorRef(0, 0, 0), MakeColorRef(255, 255, 255)})
    EXPECT_EQ(HslToRgb(RgbToHsl(c)), c) << std::hex << c;
}

TEST(FlatButtonColoursTest, LookFollowsStatePrecedence) {
  FlatButtonColours c;
  struct Case {
    FlatButtonState state;
    FlatButtonLook look;
  };
  const Case cases[] = {
      {{false, false, false, false, true}, {0xE1E1E1, 0xB2B2B2, 0x000000}},
      {{false, false, false, true, true}, {0xD77800, 0xB2B2B2, 0x000000}},  // blink phase on
      {{false, false, false, true, false}, {0xF7E4CC, 0xB2B2B2, 0x000000}},
      {{false, false, true, true, true}, {0xFCF1E4, 0xD77800, 0x000000}},   // hover beats blinking
      {{false, true, true, false, true}, {0xF7E4CC, 0x995400, 0x000000}},   // pressed beats hover
      {{true, true, true, true, true}, {0xF0F0F0, 0xDCDCDC, 0xA1A1A1}},     // disabled beats all
  };
  for (const Case& k : cases) EXPECT_EQ(PickFlatButtonLook(c, k.state), k.look);
}

QColor PixelOf(QWidget& w, int x, int y) { return w.grab().toImage().pixelColor(x, y); }

TEST(FlatButtonTest, BlinkingKeepsOneTimerAndPaintsTheBlinkFace) {
  CFlatButton button(QStringLiteral("Update"));
  button.resize(80, 24);
  button.StopBlinking();  // not blinking: nothing changes
  EXPECT_FALSE(button.IsBlinking());
  EXPECT_FALSE(button.BlinkTimer().isActive());

  button.StartBlinking();
  const int timer = button.BlinkTimer().timerId();
  EXPECT_TRUE(button.BlinkTimer().isActive());
  EXPECT_EQ(button.BlinkTimer().interval(), 500);
  EXPECT_TRUE(button.BlinkPhase());
  EXPECT_EQ(PixelOf(button, 2, 2), ToQColor(button.colours.hoverFrameColour));
  EXPECT_EQ(PixelOf(button, 0, 0), ToQColor(button.colours.frameColour));

  button.StartBlinking();
  EXPECT_EQ(button.BlinkTimer().timerId(), timer);
  // The phase flips on the timer.
  QTest::qWait(0);
  for (int i = 0; i < 40 && button.BlinkPhase(); ++i) QTest::qWait(50);
  EXPECT_FALSE(button.BlinkPhase());
  EXPECT_EQ(PixelOf(button, 2, 2), ToQColor(button.colours.pressedFaceColour));

  // Disabled, a blinking button shows the disabled colours.
  button.setEnabled(false);
  EXPECT_EQ(PixelOf(button, 2, 2), ToQColor(button.colours.disabledFaceColour));
  button.StopBlinking();
  EXPECT_FALSE(button.BlinkTimer().isActive());
}

TEST(FlatButtonTest, SetColorRepaintsInTheNewScheme) {
  CFlatButton button(QStringLiteral("Apply to Region Loop"));
  button.resize(150, 24);
  button.SetColor(0xDBD0FF, 1.04, 0.96);
  EXPECT_EQ(PixelOf(button, 2, 2), ToQColor(0xDBD0FF));
  EXPECT_EQ(ToQColor(0xDBD0FF), QColor(0xFF, 0xD0, 0xDB));  // ColorRef is 0x00BBGGRR
}

TEST(ColorEditTest, KeepsTheStyleColoursUntilABackgroundIsSet) {
  CColorEdit edit;
  const QColor styleBase = edit.palette().color(QPalette::Base);
  EXPECT_FALSE(edit.ColouringEnabled());
  edit.textColour = 0xFFFFFF;
  EXPECT_EQ(edit.palette().color(QPalette::Base), styleBase);
  edit.SetBkColor(MakeColorRef(42, 78, 108));
  EXPECT_TRUE(edit.ColouringEnabled());
  EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(42, 78, 108));
  EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(255, 255, 255));
  edit.resize(100, 24);
  EXPECT_EQ(PixelOf(edit, 50, 12).rgb() & 0xFFFFFF, QColor(42, 78, 108).rgb() & 0xFFFFFF);
}

}  // namespace
}  // namespace zandrel

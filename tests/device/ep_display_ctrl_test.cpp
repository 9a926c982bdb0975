#include "device/ui/ep_display_ctrl.h"

#include <gtest/gtest.h>

#include <QDir>
#include <cmath>

namespace zandrel {
namespace {

void Save(const QImage& image, const char* name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  image.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
}

TEST(EpDisplayCtrlTest, BlankCellsShowOnlyUnlitSegments) {
  CEpDisplayCtrl display;
  const QImage blank = display.Render(QSize(320, 44));
  bool anyLit = false;
  for (int y = 0; y < blank.height(); ++y)
    for (int x = 0; x < blank.width(); ++x) anyLit = anyLit || blank.pixel(x, y) == display.litColour;
  EXPECT_FALSE(anyLit);
  EXPECT_EQ(blank.pixel(0, 0), display.backgroundColour);

  display.text = MakeEpDisplayName("001 Kick.wav");
  const QImage kick = display.Render(QSize(320, 44));
  // The upper bar of K's neighbour I (cell 1) is lit: middle of the top bar.
  const CellBox cell = DisplayCell(1, 320, 44);
  const QRgb top = kick.pixel(static_cast<int>(cell.x + cell.w / 2), static_cast<int>(cell.y + 0.06 * cell.w + 0.5));
  EXPECT_EQ(top, display.litColour);
  Save(kick, "ep_display_kick");
  display.text = MakeEpDisplayName("UPLOAD 42%. ok!");
  Save(display.Render(QSize(480, 66)), "ep_display_status");
}

TEST(WaveformCtrlTest, DrawsOneOrTwoLanes) {
  CWaveformCtrl wave;
  wave.channelCount = 2;
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 400; ++i) {
    const double env = std::exp(-i / 120.0);
    for (int c = 0; c < 2; ++c) {
      const int v = static_cast<int>(30000 * env * std::sin(i * 0.3 + c));
      for (int16_t s : {static_cast<int16_t>(-std::abs(v)), static_cast<int16_t>(std::abs(v))}) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
      }
    }
  }
  wave.SetData(bytes);
  ASSERT_EQ(wave.Preview().Lane(1).size(), 400u);
  const QImage image = wave.Render(QSize(300, 80));
  EXPECT_EQ(image.pixel(299, 0), wave.backgroundColour.rgba());
  EXPECT_EQ(image.pixel(0, 20), wave.waveformColour.rgba());  // loud start of the first lane
  EXPECT_EQ(image.pixel(299, 20), wave.waveformColour.rgba());  // silent end: a two-pixel stroke
  EXPECT_EQ(image.pixel(299, 10), wave.backgroundColour.rgba());
  Save(image, "waveform_preview");
}

}  // namespace
}  // namespace zandrel

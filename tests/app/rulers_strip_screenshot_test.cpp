// Screenshots of the three rulers and the piano strip at three zooms, in the
// running app, with checks of what they show.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QSettings>

#include <cmath>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/piano_key_layout.h"
#include "view/model/view_drawing.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

constexpr int kRulersStripScreenshotFrames = 441000;  // ten seconds

Bytes DecayingTonesWav(int frames) {
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    const double beat = std::fmod(t, 0.5);  // a hit every half second (120 BPM)
    samples[static_cast<size_t>(i)] =
        static_cast<int16_t>(26000 * std::exp(-8 * beat) * std::sin(2 * 3.14159265 * 220 * t));
  }
  return MakePcm16Wav(samples);
}

class RulersAndStripTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tones.wav", DecayingTonesWav(kRulersStripScreenshotFrames)));
    QApplication::processEvents();
    CQuorvelDoc& doc = app->Document();
    doc.instrument.hasInstrument = true;
    doc.instrument.params.bpm = 120.0f;
    doc.instrument.regions = {{0, 150000, -1, -1, 36, 55, 48},
                              {150000, 300000, 180000, 280000, 55, 67, 60},
                              {300000, kRulersStripScreenshotFrames, -1, -1, 68, 76, 72}};
    doc.UpdateAllViews(DocumentChange::kInstrument);
  }
  ViewModel& Model() { return view->Model(); }
  const QImage& Paint() {
    view->viewport()->repaint();
    return view->BackBuffer();
  }
  void Save(const QImage& image, const QString& name) {
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    image.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
  }
  // True when some pixel of the rectangle differs from |background| by more
  // than a little: something (a label) is drawn there.
  static bool Drawn(const QImage& image, QRect r, QRgb background) {
    r = r.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (std::abs(qGray(image.pixel(x, y)) - qGray(background)) > 40) return true;
    return false;
  }

};

TEST_F(RulersAndStripTest, ScreenshotsOfEachRulerAndTheStripAtThreeZooms) {
  ViewModel& m = Model();
  const int width = view->viewport()->width();
  const int height = view->viewport()->height();
  struct Zoom {
    const char* name;
    float framesPerPixel;
    double viewStart;
  };
  const Zoom zooms[] = {{"whole", static_cast<float>(kRulersStripScreenshotFrames * 1.05 / width), 0.0},
                        {"seconds", 64.0f, 20000.0},
                        {"fine", 2.0f, 22000.0}};
  struct Timeline {
    const char* name;
    TimelineMode mode;
  };
  const Timeline timelines[] = {
      {"time", TimelineMode::kTime}, {"frames", TimelineMode::kFrames}, {"beats", TimelineMode::kBeats}};
  const int y0 = height - kPianoStripHeight - kRulerHeight;  // the ruler's base line
  for (const Zoom& z : zooms) {
    m.framesPerPixel = z.framesPerPixel;
    m.viewStart = z.viewStart;
    view->RebuildPeakCache();
    for (const Timeline& t : timelines) {
      m.timelineMode = t.mode;
      const QImage image = Paint();
      Save(image, QStringLiteral("ruler_%1_%2").arg(t.name, z.name));
      SCOPED_TRACE(std::string(t.name) + " " + z.name);
      // The grey base line runs across the area.
      const QColor line = image.pixelColor(width / 2 + 3, y0);
      EXPECT_NEAR(line.red(), 0x80, 30);
      EXPECT_NEAR(line.green(), 0x80, 30);
      // Labels are written below it, left of the middle too.
      EXPECT_TRUE(Drawn(image, QRect(0, y0 + 6, width / 2, 13), image.pixel(0, y0 - 30)));
    }
  }

  // The strip at the three zooms (it does not depend on them) and tall.
  m.timelineMode = TimelineMode::kTime;
  m.framesPerPixel = zooms[0].framesPerPixel;
  m.viewStart = 0;
  view->RebuildPeakCache();
  for (bool tall : {false, true}) {
    m.editKeyBoundaries = tall;
    const QImage image = Paint();
    Save(image, tall ? QStringLiteral("piano_strip_tall") : QStringLiteral("piano_strip"));
    const int strip = tall ? kPianoStripHeightEditing : kPianoStripHeight;
    const PianoKeyLayout keys = PianoKeyLayout::For(width, tall);
    // A white key outside every range: light grey at the bottom.
    ASSERT_TRUE(keys.Shows(77));  // F5
    const QColor white = image.pixelColor((keys.X1(77) + keys.X2(77)) / 2, height - 3);
    EXPECT_NEAR(white.red(), 0xC8, 6);
    // Key 62 (D4, white) in region 2's range: its colour at alpha 0x8C over the key.
    const QColor ranged = image.pixelColor((keys.X1(62) + keys.X2(62)) / 2, height - strip + 3);
    const QColor expect = QColor::fromRgba(kRegionPalette[1]);
    const double a = 0x8C / 255.0;
    EXPECT_NEAR(ranged.red(), expect.red() * a + 0xC8 * (1 - a), 8);
    EXPECT_NEAR(ranged.blue(), expect.blue() * a + 0xC8 * (1 - a), 8);
    // A black key outside every range keeps the strip's dark grey.
    ASSERT_TRUE(keys.Shows(78));  // F#5
    const QColor black = image.pixelColor((keys.X1(78) + keys.X2(78)) / 2, height - 3);
    EXPECT_NEAR(black.red(), 0x50, 6);
  }
}

}  // namespace
}  // namespace zandrel

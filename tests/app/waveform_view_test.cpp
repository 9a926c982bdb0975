// The waveform view inside the running app: what it shows (screenshots of a
// document with regions, a loop selection and the cursor) and playback from
// the keyboard and the Play menu, through an audio output in memory.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QPainter>
#include <QSettings>
#include <QTest>

#include <cmath>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "platform/audio_output.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/view_commands.h"
#include "view/model/view_drawing.h"
#include "view/view_painter.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;

constexpr int kWaveformViewFrames = 176400;  // four seconds

// A decaying chirp, so that each zoom shows some shape.
Bytes ChirpWav(int frames) {
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    samples[static_cast<size_t>(i)] =
        static_cast<int16_t>(24000 * std::exp(-0.4 * t) * std::sin(2 * 3.14159265 * (110 + 60 * t) * t) *
                             (0.6 + 0.4 * std::sin(2 * 3.14159265 * 1.5 * t)));
  }
  return MakePcm16Wav(samples);
}

class WaveformViewTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("chirp.wav", ChirpWav(kWaveformViewFrames)));
    QApplication::setActiveWindow(frame);
    view->setFocus();
    QApplication::processEvents();
  }
  ViewModel& Model() { return view->Model(); }
  // Three regions, the middle one selected and looped; a selection inside
  // the first with loop playback on; the cursor in the third.
  void SetUpPicture() {
    CQuorvelDoc& doc = app->Document();
    doc.instrument.hasInstrument = true;
    doc.instrument.regions = {{0, 60000, -1, -1, 0, 59, 48},
                              {60000, 120000, 80000, 110000, 60, 71, 64},
                              {120000, kWaveformViewFrames, -1, -1, 72, 127, 76}};
    doc.UpdateAllViews(DocumentChange::kInstrument);
    ViewModel& m = Model();
    m.selectedRegion = 1;
    m.loopIn = 20000;
    m.loopOut = 45000;
    m.loopPlayback = true;
    m.SetCursorPosition(140000);
  }
  // Paints now and returns the picture.
  const QImage& Paint() {
    view->viewport()->repaint();
    return view->BackBuffer();
  }
  void Save(const QImage& image, const QString& name) {
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    image.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
  }
  QStringList LogLines() { return frame->outputPane->logList().Lines(); }
  // Playback goes to `output` from here on.
  void UseMemoryOutput() { outputScope = std::make_unique<ScopedAudioOutput>(&output); }

  // The fixture's TearDown closes the editor while these still stand, so the
  // output outlives the view that plays into it.
  MemoryAudioOutput output;
  std::unique_ptr<ScopedAudioOutput> outputScope;
};

// |actual| within |tolerance| per channel of |expected| (both opaque).
::testing::AssertionResult Near(QRgb actual, QRgb expected, int tolerance = 3) {
  for (int shift : {16, 8, 0}) {
    if (std::abs(static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) > tolerance)
      return ::testing::AssertionFailure() << std::hex << "pixel 0x" << actual << " is not near 0x" << expected;
  }
  return ::testing::AssertionSuccess();
}

// Colour of |argb| painted over the opaque |under|.
QRgb Over(Argb argb, QRgb under) {
  const double a = (argb >> 24) / 255.0;
  auto mix = [&](int shift) {
    return static_cast<int>(std::lround(((argb >> shift) & 0xFF) * a + ((under >> shift) & 0xFF) * (1 - a)));
  };
  return qRgb(mix(16), mix(8), mix(0));
}

// A background of |width| x |height| in |format| whose every pixel differs
// from its neighbours (translucent too where the format has alpha).
QImage PatternedBackground(int width, int height, QImage::Format format) {
  QImage background(width, height, format);
  for (int y = 0; y < background.height(); ++y)
    for (int x = 0; x < background.width(); ++x)
      background.setPixel(x, y, qPremultiply(qRgba((x * 37 + y * 11) & 255, (x * 5 + y * 53) & 255,
                                                   (x * y * 7) & 255, format == QImage::Format_RGB32
                                                                          ? 255
                                                                          : (x * 29 + y * 3) & 255)));
  return background;
}

// |list| painted over a copy of |background|, with or without a clip (with
// one, the painter draws everything itself).
QImage Painted(const QImage& background, const DrawList& list, bool clipped) {
  QImage image = background.copy();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (clipped) p.setClipRect(image.rect());
  PaintDrawList(p, list);
  return image;
}

// One-pixel columns are written into the image directly, translucent ones
// blended there; they must come out as the painter's own fill draws them
// (which it does when a clip is set), to the last bit, over any background.
TEST(ViewPainterColumns, WrittenColumnsMatchThePaintersFill) {
  const Argb colours[] = {0xFF00FF00, 0x966496C8, 0xBE6496C8, 0x01FFFFFF, 0x80808080, 0x00FF0000};
  const QImage::Format formats[] = {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32};
  for (const QImage::Format format : formats) {
    for (const Argb colour : colours) {
      const QImage background = PatternedBackground(64, 48, format);
      DrawList list;
      std::vector<PointF> columns;
      for (int x = -2; x < 66; x += 3) {  // some off the image, some cut by its edges
        columns.push_back({static_cast<float>(x), static_cast<float>(x % 7) * 4.4f - 6.0f});
        columns.push_back({static_cast<float>(x), 20.0f + static_cast<float>(x)});
      }
      list.Lines("columns", columns, colour, 1.0f);
      const QImage written = Painted(background, list, false);
      const QImage filled = Painted(background, list, true);
      if ((colour >> 24) != 0) {
        EXPECT_NE(written, background) << std::hex << colour << " left the image as it was";
      }
      EXPECT_EQ(written, filled) << "colour " << std::hex << colour << ", format " << std::dec << format;
    }
  }
}

// Dotted columns (the beat grid's eighths) are written into the image too;
// they must come out as the painter strokes a dotted line (which it does
// when a clip is set), to the last bit: the same dots, in the same phase,
// for each length, from the image's top row to its bottom one.
TEST(ViewPainterColumns, WrittenDottedColumnsMatchThePaintersDottedLines) {
  const Argb colours[] = {0x783C3C3C, 0xFF00FF00, 0x01FFFFFF};
  const QImage::Format formats[] = {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32};
  constexpr int kHeight = 40;
  for (const QImage::Format format : formats) {
    for (const Argb colour : colours) {
      const QImage background = PatternedBackground(80, kHeight, format);
      DrawList list;
      std::vector<PointF> columns;
      // Tops 0 to 4 and lengths 1 to 15 cover every phase of the dots at
      // both ends; the last columns reach the bottom row.
      for (int x = 0; x < 75; ++x) {
        const int top = x % 5;
        const int bottom = x >= 70 ? kHeight - 1 : top + 1 + x / 5;
        columns.push_back({static_cast<float>(x), static_cast<float>(top)});
        columns.push_back({static_cast<float>(x), static_cast<float>(bottom)});
      }
      list.Lines("dots", columns, colour, 1.0f, true);
      const QImage written = Painted(background, list, false);
      const QImage stroked = Painted(background, list, true);
      EXPECT_EQ(written, stroked) << "colour " << std::hex << colour << ", format " << std::dec << format;
      // Dotted, not solid: of a long column, one pixel in three is painted
      // (a nearly clear colour leaves some pixels as they were).
      if ((colour >> 24) < 0x10) continue;
      int painted = 0;
      for (int y = 0; y < kHeight; ++y) painted += written.pixel(72, y) != background.pixel(72, y);
      EXPECT_EQ(painted, (kHeight - 1 - 2) / 3 + 1) << std::hex << colour;
    }
  }
}

TEST_F(WaveformViewTest, ScreenshotOfRegionsSelectionAndCursor) {
  SetUpPicture();
  ViewModel& m = Model();
  const int width = view->viewport()->width();
  // The whole file with a little room on the right.
  m.framesPerPixel = static_cast<float>(kWaveformViewFrames * 1.1 / width);
  m.viewStart = 0;
  view->RebuildPeakCache();
  const QImage& image = Paint();
  Save(frame->grab().toImage(), QStringLiteral("waveform_regions"));
  Save(image, QStringLiteral("waveform_regions_view"));

  const int top = kRegionBarHeight;
  const int bottom = image.height() - kPianoStripHeight;
  const int centre = top + (bottom - top) / 2;
  // Region bar: the first region's block (no text in its lowest row).
  const int x0 = m.XAtFrame(30000);
  EXPECT_TRUE(Near(image.pixel(x0, 39), Over(RegionBarColor(0), view_color::kClear)));
  // The cursor is yellow down to the bottom of the waveform area.
  const int xc = m.XAtFrame(140000);
  EXPECT_TRUE(Near(image.pixel(xc, bottom - 2), 0xFFFFFF00, 2));
  // Right of the audio: black, the rows above the piano strip keep the clear colour.
  const int xEnd = m.XAtFrame(kWaveformViewFrames) + 5;
  EXPECT_TRUE(Near(image.pixel(xEnd, centre - 20), 0xFF000000, 0));
  EXPECT_TRUE(Near(image.pixel(xEnd, image.height() - 41), view_color::kClear, 0));

  // The hit rectangles describe this picture.
  EXPECT_EQ(m.regionBarRect, (Rect{0, 0, width, 40}));
  EXPECT_EQ(m.selectionBarRect, (Rect{m.XAtFrame(20000), 53, m.XAtFrame(45000), 73}));
  EXPECT_EQ(m.loopOutHandleRect.left, m.XAtFrame(45000) - 4);
}

TEST_F(WaveformViewTest, ScreenshotZoomedInWithTheMagnifierAndTheTrimLimit) {
  SetUpPicture();
  app->Document().timeLimit = 2.0f;
  ViewModel& m = Model();
  m.framesPerPixel = 0.7f;  // a line through samples
  m.viewStart = 88200 - 300;
  view->RebuildPeakCache();
  m.loupeVisible = true;
  m.loupeFrame = 88200 + 150;
  m.loupeRect = PlaceLoupe(650, 150, Rect{0, 0, view->viewport()->width(), view->viewport()->height()},
                           view->viewport()->height() - 80);
  const QImage& image = Paint();
  Save(image, QStringLiteral("waveform_zoomed_in"));
  // Right of the limit (frame 88200) the area is shaded dark red.
  const int x = m.XAtFrame(88200) + 3;
  EXPECT_GT(qRed(image.pixel(x, 60)), qGreen(image.pixel(x, 60)) + 40);
  // The loupe's frame.
  EXPECT_TRUE(Near(image.pixel(m.loupeRect.left, m.loupeRect.top + m.loupeRect.Height() / 3), 0xFF6496FF, 8));

  // At a middling zoom the waveform is a filled outline.
  m.loupeVisible = false;
  m.framesPerPixel = 12;
  m.viewStart = 0;
  view->RebuildPeakCache();
  Save(Paint(), QStringLiteral("waveform_envelope"));
}

TEST_F(WaveformViewTest, SpacePlaysAndStopsWithAMovingPlayhead) {
  UseMemoryOutput();
  Model().SetCursorPosition(1000);
  QTest::keyClick(view, Qt::Key_Space);
  ASSERT_TRUE(view->IsPlaying());
  EXPECT_TRUE(view->PlayheadTimerActive());
  output.Pull(4410);
  view->OnPlayheadTick();
  EXPECT_EQ(Model().cursorFrame, 5410);
  output.Pull(4410);
  view->OnPlayheadTick();
  EXPECT_EQ(Model().cursorFrame, 9820);
  Save(Paint(), QStringLiteral("waveform_playing"));

  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_FALSE(view->IsPlaying());
  EXPECT_FALSE(view->PlayheadTimerActive());
  EXPECT_EQ(Model().cursorFrame, 1000);
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(WaveformViewTest, PlayMenuCommandsAndTheirCheckMarks) {
  UseMemoryOutput();
  QAction* play = frame->Action(cmd::kPlayStop);
  QAction* loop = frame->Action(cmd::kLoop);
  ASSERT_NE(play, nullptr);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(play->text(), QStringLiteral("Play/Stop"));
  EXPECT_EQ(play->shortcut(), QKeySequence(Qt::Key_Space));
  EXPECT_EQ(loop->text(), QStringLiteral("Loop"));
  EXPECT_EQ(loop->shortcut(), QKeySequence(Qt::Key_L));
  QMenu* menu = nullptr;
  for (QAction* a : frame->menuBar()->actions())
    if (a->text() == QStringLiteral("&Play")) menu = a->menu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->actions().contains(play));

  play->trigger();
  ASSERT_TRUE(view->IsPlaying());
  EXPECT_TRUE(frame->commands.Checked(cmd::kPlayStop));
  // Loop while playing stops, toggles and says so.
  loop->trigger();
  EXPECT_FALSE(view->IsPlaying());
  EXPECT_TRUE(Model().loopPlayback);
  EXPECT_TRUE(frame->commands.Checked(cmd::kLoop));
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Loop playback enabled.")));
  QTest::keyClick(view, Qt::Key_L);
  EXPECT_FALSE(Model().loopPlayback);
  EXPECT_EQ(LogLines().back(), QStringLiteral("Loop playback disabled."));
}

TEST_F(WaveformViewTest, PlaybackEndsByItselfAndStopsBeforeTheAudioChanges) {
  UseMemoryOutput();
  Model().SetCursorPosition(kWaveformViewFrames - 100);
  view->StartPlayback();
  output.Pull(200);
  view->OnPlayheadTick();
  EXPECT_FALSE(view->IsPlaying());
  EXPECT_EQ(Model().cursorFrame, kWaveformViewFrames - 100);

  // Opening another file replaces the audio: playback stops first.
  view->StartPlayback();
  ASSERT_TRUE(view->IsPlaying());
  WriteFileBytes(dir / "other.wav", ChirpWav(1000));
  ASSERT_TRUE(app->OpenDocumentFile(dir / "other.wav"));
  EXPECT_FALSE(view->IsPlaying());
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(WaveformViewTest, WithoutAnAudioDeviceSpaceSaysSo) {
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_FALSE(view->IsPlaying());
  EXPECT_EQ(host->Texts(), std::vector<std::string>{"Failed to open audio device."});
}

}  // namespace
}  // namespace zandrel

// Editing with the mouse in the running app: real mouse events sent to the
// waveform view's viewport, each ending with the document, the view and the
// Region page as a user would find them.
#include <gmock/gmock.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <cmath>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "document/note_names.h"
#include "processing/sample_access.h"
#include "processing/snapping.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/piano_key_layout.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;

constexpr int kMouseEditingWidgetFrames = 176400;  // four seconds at 44.1 kHz

// A tone whose rising zero crossings lie 100 frames apart (441 Hz), so a
// snapped position is visibly not the frame under the mouse.
Bytes MouseEditingWidgetToneWav(int frames) {
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i)
    samples[static_cast<size_t>(i)] = static_cast<int16_t>(20000 * std::sin(2 * 3.14159265358979 * i / 100.0 + 1.0));
  return MakePcm16Wav(samples);
}

class MouseEditingWidgetTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MouseEditingWidgetToneWav(kMouseEditingWidgetFrames)));
    QApplication::setActiveWindow(frame);
    view->setFocus();
    QApplication::processEvents();

    // Three regions; the middle one has a loop.
    CQuorvelDoc& doc = app->Document();
    doc.instrument.hasInstrument = true;
    doc.instrument.regions = {{0, 60000, -1, -1, 0, 59, 48},
                              {60000, 120000, 80000, 110000, 60, 71, 64},
                              {120000, kMouseEditingWidgetFrames, -1, -1, 72, 127, 76}};
    doc.UpdateAllViews(DocumentChange::kInstrument);
    doc.SetModifiedFlag(false);
    // 200 frames per pixel from frame 0: the whole file in 882 pixels.
    ASSERT_GT(Viewport()->width(), 882);
    ViewModel& m = Model();
    m.framesPerPixel = 200.0f;
    m.viewStart = 0;
    view->RebuildPeakCache();
    Paint();
  }
  ViewModel& Model() { return view->Model(); }
  CQuorvelDoc& Doc() { return app->Document(); }
  QWidget* Viewport() { return view->viewport(); }
  void Paint() { Viewport()->repaint(); }
  QString PageText(RegionField f) { return frame->propertiesPane->regionPage->Field(f)->text(); }
  QStringList LogLines() { return frame->outputPane->logList().Lines(); }
  int64_t Snapped(int64_t frame) { return FindRisingZeroCrossing(PcmSpan::Of(Doc().audio), frame); }
  // The column of |frame| (a multiple of 200 frames).
  static int At(int64_t frame) { return static_cast<int>(frame / 200); }
  // The middle of the waveform area.
  int WaveY() { return (Model().WaveTop() + Model().WaveBottom()) / 2; }
  std::string LastUndo() {
    const auto& stack = Doc().undoHistory.undoStack;
    return stack.empty() ? std::string() : stack.back().description;
  }
  // Opens the view's context menu at |pos| as a right click does and
  // chooses |item| in it; false when the item is missing or greyed out.
  bool ChooseFromContextMenu(QPoint pos, const QString& item) {
    bool chosen = false;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction* a : menu->actions()) {
        if (a->text() == item && a->isEnabled()) {
          a->trigger();
          chosen = true;
        }
      }
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, Viewport()->mapToGlobal(pos));
    QApplication::sendEvent(Viewport(), &event);
    return chosen;
  }

};

TEST_F(MouseEditingWidgetTest, ClickSetsTheCursorOnARisingZeroCrossing) {
  ASSERT_TRUE(Model().snapToZeroCrossing);  // on from the start
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, QPoint(At(72600), WaveY()));
  const int64_t expected = Snapped(72600);
  ASSERT_NE(expected, 72600);
  EXPECT_EQ(Model().cursorFrame, expected);
  EXPECT_EQ(Model().playAnchor, expected);
  EXPECT_EQ(Model().dragOperation, kDragNone);
  EXPECT_EQ(Model().selectedRegion, 1);
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Cursor at sample: %1. Region 2 selected.").arg(expected)));
  EXPECT_EQ(PageText(kRegionName), QStringLiteral("Region 2"));
  EXPECT_EQ(PageText(kRegionStart), QStringLiteral("60000"));
  EXPECT_FALSE(Doc().IsModified());
  // The yellow cursor line is drawn in that column.
  Paint();
  const QImage& image = view->BackBuffer();
  const QColor line = image.pixelColor(Model().XAtFrame(expected), WaveY() + 40);
  EXPECT_GT(line.red(), 200);
  EXPECT_GT(line.green(), 200);
  EXPECT_LT(line.blue(), 80);
}

TEST_F(MouseEditingWidgetTest, CtrlDragDrawsASelectionThatThePageShows) {
  QTest::mousePress(Viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(At(15000), WaveY()));
  EXPECT_EQ(Model().dragOperation, kDragNewLoop);
  QTest::mouseMove(Viewport(), QPoint(At(30000), WaveY()));
  QTest::mouseMove(Viewport(), QPoint(At(45200), WaveY()));
  QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(At(45200), WaveY()));
  const int64_t end = Snapped(45200);
  EXPECT_EQ(Model().loopIn, 15000);
  EXPECT_EQ(Model().loopOut, end);
  EXPECT_TRUE(Model().loopPlayback);
  EXPECT_EQ(Model().dragOperation, kDragNone);
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Loop region created: Start=15000, End=%1, Length=%2 samples")
                                       .arg(end)
                                       .arg(end - 15000)));
  EXPECT_EQ(PageText(kRegionLoopIn), QStringLiteral("15000"));
  EXPECT_EQ(PageText(kRegionLoopOut), QString::number(end));
  // The selection is painted: its bar spans the dragged columns.
  Paint();
  EXPECT_EQ(Model().selectionBarRect.left, At(15000));
  EXPECT_EQ(Model().selectionBarRect.right, Model().XAtFrame(end));
}

TEST_F(MouseEditingWidgetTest, RegionBarClickFillsTheRegionPageAtOnce) {
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(At(90000), 20));  // region 2
  // Before any other event is handled.
  EXPECT_EQ(PageText(kRegionName), QStringLiteral("Region 2"));
  EXPECT_EQ(PageText(kRegionStart), QStringLiteral("60000"));
  EXPECT_EQ(PageText(kRegionEnd), QStringLiteral("120000"));
  EXPECT_EQ(PageText(kRegionLoopStart), QStringLiteral("80000"));
  EXPECT_EQ(PageText(kRegionLowKey), QString::fromStdString(MidiNoteName(60)));
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(At(90000), 20));
  // The region's loop became the selection.
  EXPECT_EQ(Model().selectedRegion, 1);
  EXPECT_EQ(Model().loopIn, 80000);
  EXPECT_EQ(Model().loopOut, 110000);
  EXPECT_EQ(Model().cursorFrame, 60000);
  EXPECT_EQ(PageText(kRegionLoopIn), QStringLiteral("80000"));
  EXPECT_FALSE(Doc().IsModified());
  // A second click takes the whole region.
  QTest::mouseClick(Viewport(), Qt::LeftButton, {}, QPoint(At(90000), 20));
  EXPECT_EQ(Model().loopIn, 60000);
  EXPECT_EQ(Model().loopOut, 120000);
}

TEST_F(MouseEditingWidgetTest, BoundaryDragSnapsMovesBothRegionsAndCanBeUndone) {
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(At(60800), 20));  // 800 frames off region 1's end: within 1000
  EXPECT_EQ(Model().dragOperation, kDragRegionBoundary);
  EXPECT_EQ(LastUndo(), "Drag Region Boundary");
  EXPECT_EQ(Viewport()->cursor().shape(), Qt::SizeHorCursor);
  QTest::mouseMove(Viewport(), QPoint(At(65000), 20));
  QTest::mouseMove(Viewport(), QPoint(At(70400), 20));
  // The magnifier shows while dragging at 200 frames per pixel.
  EXPECT_TRUE(Model().loupeVisible);
  EXPECT_EQ(Model().loupeFrame, Snapped(70400));
  Paint();
  // Painted where the model placed it: its blue frame on the left edge.
  const Rect loupe = Model().loupeRect;
  ASSERT_GT(loupe.Width(), 0);
  const QColor edge = view->BackBuffer().pixelColor(loupe.left, loupe.top + loupe.Height() / 2);
  EXPECT_NEAR(edge.red(), 0x64, 40);
  EXPECT_NEAR(edge.green(), 0x96, 40);
  EXPECT_GT(edge.blue(), 0xD0);
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(At(70400), 20));

  const int64_t end = Snapped(70400);
  ASSERT_NE(end, 70400);
  const auto& regions = Doc().instrument.regions;
  ASSERT_EQ(regions.size(), 3u);
  EXPECT_EQ(regions[0].endSample, end);
  EXPECT_EQ(regions[1].startSample, end);
  EXPECT_EQ(regions[1].endSample, 120000);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_FALSE(Model().loupeVisible);
  EXPECT_EQ(PageText(kRegionName), QStringLiteral("Region 1"));
  EXPECT_EQ(PageText(kRegionEnd), QString::number(end));
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Region 1 end boundary moved to sample %1. Region 1: [0 - %1], "
                                                  "Region 2: [%1 - 120000]")
                                       .arg(end)));

  ASSERT_TRUE(frame->commands.Run(cmd::kEditUndo));
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 60000);
  EXPECT_EQ(Doc().instrument.regions[1].startSample, 60000);
}

TEST_F(MouseEditingWidgetTest, KeyRangeDragOnThePianoStripMovesTheSharedBoundary) {
  // A double click on the strip turns key-boundary editing on.
  const int stripY = Viewport()->height() - 10;
  QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, QPoint(300, stripY));
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(300, stripY));
  ASSERT_TRUE(Model().editKeyBoundaries);
  Paint();

  const PianoKeyLayout keys = PianoKeyLayout::For(Viewport()->width(), true);
  ASSERT_TRUE(keys.Shows(60) && keys.Shows(62));
  // Region 2's low-key handle sits on key 60's left edge; drag it two keys
  // up in the strip's lower half.
  const int y = Viewport()->height() - 20;
  QTest::mousePress(Viewport(), Qt::LeftButton, {}, QPoint(keys.X1(60), y));
  EXPECT_EQ(Model().dragOperation, kDragKeyBoundary);
  EXPECT_EQ(LastUndo(), "Piano Region");
  QTest::mouseMove(Viewport(), QPoint(keys.X1(61) + 2, y));
  QTest::mouseMove(Viewport(), QPoint(keys.X1(62) + 2, y));
  QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, QPoint(keys.X1(62) + 2, y));

  const auto& regions = Doc().instrument.regions;
  EXPECT_EQ(regions[1].loKey, 62);
  EXPECT_EQ(regions[0].hiKey, 61);  // lower half: the keys are not shared
  EXPECT_EQ(regions[1].hiKey, 71);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(PageText(kRegionName), QStringLiteral("Region 2"));
  EXPECT_EQ(PageText(kRegionLowKey), QString::fromStdString(MidiNoteName(62)));
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Region 2 loKey set to 62 (%1), Region 1 hiKey set to 61 (%2)")
                                       .arg(QString::fromStdString(MidiNoteName(62)),
                                            QString::fromStdString(MidiNoteName(61)))));
}

TEST_F(MouseEditingWidgetTest, LeftAndRightLoopPointsFromTheContextMenu) {
  // Right click in the waveform: the cursor goes there, then the menu opens.
  ASSERT_TRUE(ChooseFromContextMenu(QPoint(At(33400), WaveY()), QStringLiteral("Set Left Loop Point")));
  const int64_t in = Snapped(33400);
  EXPECT_EQ(Model().loopIn, in);
  EXPECT_EQ(Model().loopOut, kMouseEditingWidgetFrames - 1);  // no loop out yet: the end of the audio

  ASSERT_TRUE(ChooseFromContextMenu(QPoint(At(111200), WaveY()), QStringLiteral("Set Right Loop Point")));
  const int64_t out = Snapped(111200);
  EXPECT_EQ(Model().loopIn, in);
  EXPECT_EQ(Model().loopOut, out);
  EXPECT_TRUE(Model().loopPlayback);
  EXPECT_EQ(PageText(kRegionLoopIn), QString::number(in));
  EXPECT_EQ(PageText(kRegionLoopOut), QString::number(out));
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(MouseEditingWidgetTest, DragsRepaintWithoutRebuildingThePeaks) {
  const int64_t before = Model().peakCache.Rebuilds();
  auto drag = [&](QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(Viewport(), Qt::LeftButton, mods, from);
    for (int i = 1; i <= 8; ++i) {
      QTest::mouseMove(Viewport(), from + (to - from) * i / 8);
      Paint();
    }
    QTest::mouseRelease(Viewport(), Qt::LeftButton, mods, to);
    Paint();
  };
  drag(QPoint(At(60000), 20), QPoint(At(90000), 20));                                  // a region boundary
  drag(QPoint(At(20000), WaveY()), QPoint(At(40000), WaveY()), Qt::ControlModifier);  // a new selection
  drag(QPoint(At(10000), WaveY()), QPoint(At(50000), WaveY()));                        // the cursor
  EXPECT_NE(Doc().instrument.regions[0].endSample, 60000);  // the boundary did move
  EXPECT_EQ(Model().peakCache.Rebuilds(), before);
}

}  // namespace
}  // namespace zandrel

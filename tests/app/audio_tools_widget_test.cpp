// The mouse tools chosen as a user chooses them (the Edit menu, the toolbar)
// and dragged with real mouse events on the offscreen view: the document
// afterwards, and a screenshot of each overlay mid-drag.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/view_commands.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;

constexpr int kFrames = 176400;  // four seconds

class AudioToolsWidgetTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    std::vector<int16_t> s(kFrames);
    for (int i = 0; i < kFrames; ++i)
      s[static_cast<size_t>(i)] =
          static_cast<int16_t>(12000 * std::sin(2 * M_PI * i / 100.0) * (0.4 + 0.6 * std::sin(i / 20000.0)));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(s)));
    QApplication::setActiveWindow(frame);
    QApplication::processEvents();
    ViewModel& m = view->Model();
    m.framesPerPixel = 200.0f;
    m.viewStart = 0;
    m.snapToZeroCrossing = false;
    m.loopIn = 40000;
    m.loopOut = 60000;
    view->RebuildPeakCache();
    view->viewport()->repaint();
  }
  ViewModel& Model() { return view->Model(); }
  CQuorvelDoc& Doc() { return app->Document(); }
  int WaveY() { return (Model().WaveTop() + Model().WaveBottom()) / 2; }
  QStringList LogLines() { return frame->outputPane->logList().Lines(); }
  // Press at |from|, move to |to| in steps, shoot the view, release.
  void Drag(QPoint from, QPoint to, const QString& shot, Qt::KeyboardModifiers mods = {}) {
    QWidget* vp = view->viewport();
    QTest::mousePress(vp, Qt::LeftButton, mods, from);
    for (int i = 1; i <= 5; ++i) {
      const QPoint p = from + (to - from) * i / 5;
      QMouseEvent move(QEvent::MouseMove, p, vp->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, mods);
      QApplication::sendEvent(vp, &move);
    }
    vp->repaint();
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    EXPECT_TRUE(view->BackBuffer().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + shot + ".png"));
    QTest::mouseRelease(vp, Qt::LeftButton, mods, to);
  }
  // The item of command |id| in the menu bar's Edit menu.
  QAction* EditMenuItem(int id) {
    for (QAction* title : frame->menuBar()->actions()) {
      if (title->text() != QStringLiteral("&Edit")) continue;
      for (QAction* a : title->menu()->actions())
        if (!a->isSeparator() && a->data().toInt() == id) return a;
    }
    return nullptr;
  }
  // Chooses the tool of command |id| in the Edit menu, as a click on the item
  // does, and checks that the tool now in use is the one marked there.
  void ChooseFromEditMenu(int id, ToolMode mode) {
    QAction* item = EditMenuItem(id);
    ASSERT_NE(item, nullptr) << id;
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
    ASSERT_EQ(Model().toolMode, mode);
    ExpectOnlyMarked(mode == ToolMode::kNormal ? cmd::kNormalTool : id);
  }
  // Clicks the button of command |id| on the Standard toolbar.
  void ClickToolbarButton(int id, ToolMode mode) {
    QToolBar* bar = frame->findChild<QToolBar*>(QStringLiteral("Standard"));
    ASSERT_NE(bar, nullptr);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(frame->Action(id)));
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(Model().toolMode, mode);
    EXPECT_TRUE(button->isChecked());
    ExpectOnlyMarked(id);
  }
  // Of the six tool items of the menu, only |id| carries the mark.
  void ExpectOnlyMarked(int id) {
    for (int tool : {cmd::kNormalTool, cmd::kPaintTool, cmd::kSelectionTool, cmd::kRearrangeTool,
                     cmd::kTimeStretchTool, cmd::kRetimeTool}) {
      QAction* item = EditMenuItem(tool);
      ASSERT_NE(item, nullptr) << tool;
      EXPECT_TRUE(item->isCheckable()) << tool;
      EXPECT_EQ(item->isChecked(), tool == id) << tool;
    }
  }
};

TEST_F(AudioToolsWidgetTest, TimeStretchHandleDragLengthensTheFile) {
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kTimeStretchTool, ToolMode::kTimeStretch));
  Drag(QPoint(300, WaveY()), QPoint(350, WaveY()), "tool_time_stretch_drag");
  EXPECT_EQ(Doc().FrameCount(), kFrames + 10000);
  EXPECT_EQ(Model().loopIn, 40000);
  EXPECT_EQ(Model().loopOut, 70000);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Time Stretch");
}

TEST_F(AudioToolsWidgetTest, RetimeHandleDragKeepsTheLength) {
  ASSERT_NO_FATAL_FAILURE(ClickToolbarButton(cmd::kRetimeTool, ToolMode::kRetime));
  Drag(QPoint(300, WaveY()), QPoint(325, WaveY()), "tool_retime_drag");
  EXPECT_EQ(Doc().FrameCount(), kFrames);
  EXPECT_EQ(Model().loopOut, 65000);
  EXPECT_THAT(LogLines(), Contains(QStringLiteral(
                              "Audio retimed by 1.25x. Loop: 20000 samples -> 25000 samples. Total size preserved.")));
}

TEST_F(AudioToolsWidgetTest, RearrangeBarDragMovesTheAudio) {
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kRearrangeTool, ToolMode::kRearrange));
  view->viewport()->repaint();  // records the selection bar
  const std::vector<uint8_t> before = Doc().audio.data;
  Drag(QPoint(250, Model().WaveTop() + 20), QPoint(350, Model().WaveTop() + 20), "tool_rearrange_drag");
  EXPECT_EQ(Doc().FrameCount(), kFrames);
  EXPECT_EQ(Model().loopIn, 60000);
  // The source now sits at 60000; its old place before that is silent.
  EXPECT_TRUE(std::equal(before.begin() + 80000, before.begin() + 120000, Doc().audio.data.begin() + 120000));
  EXPECT_EQ(Doc().audio.data[90000], 0);
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Audio moved by 20000 samples (right). Loop region: [60000 - 80000]")));
}

TEST_F(AudioToolsWidgetTest, PaintStrokeAppliesTheLevels) {
  ASSERT_NO_FATAL_FAILURE(ClickToolbarButton(cmd::kPaintTool, ToolMode::kPaint));
  const int top = Model().WaveTop() + 5;
  Drag(QPoint(100, top), QPoint(600, top), "tool_paint_drag");
  EXPECT_THAT(LogLines(), Contains(QStringLiteral("Levels applied based on painted envelope.")));
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Paint Levels");
}

TEST_F(AudioToolsWidgetTest, SelectionToolDrawsASelectionWithoutCtrl) {
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kSelectionTool, ToolMode::kSelection));
  const std::vector<uint8_t> before = Doc().audio.data;
  Drag(QPoint(100, WaveY()), QPoint(150, WaveY()), "tool_selection_drag");
  EXPECT_EQ(Model().loopIn, 20000);
  EXPECT_EQ(Model().loopOut, 30000);
  EXPECT_TRUE(Model().loopPlayback);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_THAT(LogLines(),
              Contains(QStringLiteral("Loop region created: Start=20000, End=30000, Length=10000 samples")));
}

TEST_F(AudioToolsWidgetTest, ChoosingTheToolAgainOrNormalGoesBackToCursorClicks) {
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kPaintTool, ToolMode::kPaint));
  // The same item again ends the tool.
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kPaintTool, ToolMode::kNormal));
  ASSERT_NO_FATAL_FAILURE(ClickToolbarButton(cmd::kTimeStretchTool, ToolMode::kTimeStretch));
  ASSERT_NO_FATAL_FAILURE(ChooseFromEditMenu(cmd::kNormalTool, ToolMode::kNormal));
  // A plain drag across the waveform now only scrubs the cursor: the
  // selection and the audio stay.
  const std::vector<uint8_t> before = Doc().audio.data;
  const size_t entries = Doc().undoHistory.undoStack.size();
  Drag(QPoint(100, WaveY()), QPoint(500, WaveY()), "tool_normal_drag");
  EXPECT_EQ(Model().cursorFrame, 100000);
  EXPECT_EQ(Model().loopIn, 40000);
  EXPECT_EQ(Model().loopOut, 60000);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), entries);
  EXPECT_FALSE(Doc().IsModified());
}

}  // namespace
}  // namespace zandrel

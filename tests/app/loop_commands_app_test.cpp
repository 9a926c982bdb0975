// The loop tools in the running app, through the Selection menu: a long
// loop search shows its progress dialog and Cancel leaves everything as it
// was; a finished search selects its loop; a crossfade is undone from the
// Edit menu.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "processing/loop_commands.h"
#include "processing/loop_fixtures.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class LoopAppTest : public EditorOnFileTest {
 protected:
  void Start(const Pcm16Audio& a) {
    ASSERT_NO_FATAL_FAILURE(
        OpenEditorOn("tone.wav", MakePcm16Wav(a.samples, static_cast<uint16_t>(a.channels), a.rate)));
  }
};

TEST_F(LoopAppTest, CancellingALongSearchChangesNothingAndAFinishedOneSelectsItsLoop) {
  // Long enough that the literal search would take seconds.
  Start(InstrumentTone(30.0, 44100));
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  frame.show();
  ViewSelection& view = frame.Context().Selection();
  view.loopIn = 100;
  view.loopOut = 200;
  const size_t logLines = frame.outputPane->logList().Lines().size();
  QAction* slow = frame.Action(cmd::kFindLoopPointsSlow);
  ASSERT_NE(slow, nullptr);
  EXPECT_EQ(slow->text(), QStringLiteral("Find Looping Points (Slow)"));

  bool dialogSeen = false;
  std::function<void()> cancelWhenShown = [&] {
    QProgressDialog* dialog = frame.TaskHost().Dialog();
    if (!dialog) {
      QTimer::singleShot(20, cancelWhenShown);
      return;
    }
    dialogSeen = true;
    EXPECT_EQ(dialog->labelText(), QStringLiteral("Find Looping Points (Slow)"));
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    dialog->grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/loop_search_progress.png"));
    auto* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
  };
  QTimer::singleShot(0, cancelWhenShown);
  slow->trigger();
  ASSERT_TRUE(dialogSeen);
  EXPECT_EQ(view.loopIn, 100);
  EXPECT_EQ(view.loopOut, 200);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_FALSE(doc.IsModified());
  // One line says so, nothing else.
  ASSERT_EQ(frame.outputPane->logList().Lines().size(), logLines + 1);
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("Find Looping Points (Slow) cancelled."));
  EXPECT_TRUE(host->Shown().empty());

  // Run to the end: the loop is selected and logged.
  frame.Action(cmd::kFindLoopPointsPyramid)->trigger();
  EXPECT_GE(view.loopIn, 0);
  EXPECT_GT(view.loopOut, view.loopIn + 44100);
  EXPECT_TRUE(frame.outputPane->logList().Lines().back().startsWith(QStringLiteral("Loop Detection (Searching entire WAV): Start ")));
}

TEST_F(LoopAppTest, ACrossfadeFromTheMenuIsUndoneFromTheEditMenu) {
  Start(Sine(1.0, 44100, 150, 0.3));
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  ViewSelection& view = frame.Context().Selection();
  view.loopIn = 10000;
  view.loopOut = 30123;
  const std::vector<uint8_t> before = doc.audio.data;
  frame.Action(cmd::kEqualPowerCrossfade)->trigger();
  EXPECT_EQ(frame.outputPane->logList().Lines().back(),
            QStringLiteral("Applied Equal-Power Crossfade (3018 samples / 68.44 ms)."));
  EXPECT_NE(doc.audio.data, before);
  EXPECT_EQ(doc.undoHistory.undoStack.back().description, "Loop Crossfade (Equal-Power)");
  frame.Action(cmd::kEditUndo)->trigger();
  EXPECT_EQ(doc.audio.data, before);
}

}  // namespace
}  // namespace zandrel

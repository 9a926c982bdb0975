// The processing commands in the running app: the "&Audio" menu, and long work
// with its progress dialog, Cancel and closing the window meanwhile.
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

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
#include "processing/processing_commands.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

// About three seconds in small steps; stops at Cancel.
struct SlowWork {
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
    for (int i = 0; i < 3000; ++i) {
      if (!p.Report(i / 3000.0)) return WorkOutcome::Done();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int64_t f = r.start; f < r.end; ++f)
      for (int c = 0; c < s.Channels(); ++c) s.Set(f, c, 0);
    return WorkOutcome::Done();
  }
};

class ProcessingAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    std::vector<int16_t> samples(44100);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(12000 * std::sin(i * 0.01));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(samples)));
    slow.id = 1;
    slow.menuText = "Slow Effect";
    slow.undoLabel = "Slow Effect";
    slow.work = SampleWork::Of(SlowWork{});
  }

  ProcessingCommand slow;
};

TEST_F(ProcessingAppTest, ProcessMenuFadesWithUndo) {
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  const std::vector<uint8_t> before = doc.audio.data;
  QAction* fade = frame.Action(32789);
  ASSERT_NE(fade, nullptr);
  EXPECT_EQ(fade->text(), QStringLiteral("Fade Out "));
  fade->trigger();
  EXPECT_EQ(frame.outputPane->logList().Lines().back(),
            QStringLiteral("Applied fade-out to 44100 samples (from sample 0 to 44100)"));
  EXPECT_TRUE(doc.IsModified());
  ASSERT_TRUE(doc.CanUndo());
  EXPECT_EQ(doc.undoHistory.undoStack.back().description, "Fade Out");
  frame.Action(57643)->trigger();  // Undo
  EXPECT_EQ(doc.audio.data, before);
}

TEST_F(ProcessingAppTest, ProgressDialogCancelChangesNothingAndBlocksEdits) {
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  frame.show();
  const std::vector<uint8_t> before = doc.audio.data;
  const size_t logLines = frame.outputPane->logList().Lines().size();
  bool dialogSeen = false;
  bool cursorMoved = false;
  // Within the first 300 ms there is no dialog, but keys reach nothing.
  const auto start = std::chrono::steady_clock::now();
  QTimer::singleShot(100, [&] {
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(250)) {
      EXPECT_EQ(frame.TaskHost().Dialog(), nullptr);
    }
    const int64_t cursor = frame.view->Model().cursorFrame;
    QTest::keyClick(frame.view, Qt::Key_End);
    cursorMoved = frame.view->Model().cursorFrame != cursor;
  });
  QTimer::singleShot(700, [&] {
    QProgressDialog* dialog = frame.TaskHost().Dialog();
    ASSERT_NE(dialog, nullptr);
    dialogSeen = true;
    EXPECT_EQ(dialog->labelText(), QStringLiteral("Slow Effect"));
    EXPECT_GT(dialog->value(), 0);
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    dialog->grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/processing_progress.png"));
    auto* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
  });
  EXPECT_EQ(RunProcessingCommand(slow, frame.Context()), ProcessingResult::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_TRUE(dialogSeen);
  EXPECT_FALSE(cursorMoved);
  EXPECT_EQ(frame.TaskHost().Dialog(), nullptr);
  EXPECT_EQ(doc.audio.data, before);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_FALSE(doc.IsModified());
  // One line says the work was cancelled.
  ASSERT_EQ(frame.outputPane->logList().Lines().size(), logLines + 1);
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("Slow Effect cancelled."));
}

// The view's plain keys are actions of the window: none of them may play,
// loop or move the selection while long work runs, before or after the
// progress dialog shows.
TEST_F(ProcessingAppTest, KeysDuringLongWorkChangeNothing) {
  CMainFrame& frame = app->MainFrame();
  frame.show();
  QApplication::setActiveWindow(&frame);
  frame.view->setFocus();
  QApplication::processEvents();
  ViewModel& model = frame.view->Model();
  model.loopIn = 1000;
  model.loopOut = 20000;
  model.cursorFrame = 5000;
  model.loopPlayback = false;
  struct Seen {
    int64_t in, out, cursor;
    bool loop, playing;
    bool operator==(const Seen&) const = default;
  };
  auto seen = [&] {
    return Seen{model.loopIn, model.loopOut, model.cursorFrame, model.loopPlayback, frame.view->IsPlaying()};
  };
  const Seen before = seen();
  std::vector<Seen> during;
  auto pressAll = [&] {
    for (Qt::Key key : {Qt::Key_L, Qt::Key_Space, Qt::Key_I, Qt::Key_O}) {
      QTest::keyClick(frame.view, key);
      during.push_back(seen());
    }
  };
  QTimer::singleShot(100, pressAll);  // before the dialog shows
  QTimer::singleShot(600, [&] {       // with the dialog up
    pressAll();
    QProgressDialog* dialog = frame.TaskHost().Dialog();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
  });
  EXPECT_EQ(RunProcessingCommand(slow, frame.Context()), ProcessingResult::kCancelled);
  ASSERT_EQ(during.size(), 8u);
  for (const Seen& s : during) EXPECT_TRUE(s == before);
  EXPECT_TRUE(seen() == before);
  // The same keys work again once the work is over: the test can fail.
  QApplication::setActiveWindow(&frame);
  frame.view->setFocus();
  QApplication::processEvents();
  QTest::keyClick(frame.view, Qt::Key_L);
  EXPECT_NE(model.loopPlayback, before.loop);
}

TEST_F(ProcessingAppTest, ClosingTheWindowDuringWorkCancelsItThenCloses) {
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  frame.show();
  const std::vector<uint8_t> before = doc.audio.data;
  QTimer::singleShot(200, [&] { frame.close(); });
  EXPECT_EQ(RunProcessingCommand(slow, frame.Context()), ProcessingResult::kCancelled);
  EXPECT_EQ(doc.audio.data, before);
  EXPECT_FALSE(doc.CanUndo());
  // The close asked for meanwhile happens once the command has returned.
  EXPECT_TRUE(frame.isVisible());
  QTest::qWait(50);
  EXPECT_FALSE(frame.isVisible());
}

}  // namespace
}  // namespace zandrel

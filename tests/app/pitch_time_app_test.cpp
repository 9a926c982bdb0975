// The rate, pitch and time commands in the running app, through their menus:
// the document changes, the view follows, and the dialogs as a user sees them.
#include <gmock/gmock.h>

#include <cmath>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class PitchTimeAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel")).clear();
    host = std::make_unique<ScriptedMessageHost>();
    dialogs = std::make_unique<ScriptedFileDialogs>();
    app = std::make_unique<CQuorvelApp>();
    std::vector<int16_t> samples(88200);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 441.0 * static_cast<double>(i) / 44100));
    WriteFileBytes(dir / "tone.wav", MakePcm16Wav(samples));
    ASSERT_TRUE(app->InitInstance({QString::fromStdString((dir / "tone.wav").string())}));
  }
  void TearDown() override {
    if (app) app->Document().SetModifiedFlag(false);
    app.reset();
    dialogs.reset();
    host.reset();
  }
  QMenu* Menu(const QString& title) {
    for (QAction* a : app->MainFrame().menuBar()->actions())
      if (a->text() == title) return a->menu();
    return nullptr;
  }
  QAction* Item(const QString& menu, const QString& text) {
    QMenu* m = Menu(menu);
    if (!m) return nullptr;
    for (QAction* a : m->actions())
      if (a->text() == text) return a;
    return nullptr;
  }
  void Screenshot(QWidget& w, const QString& name) {
    w.show();
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    EXPECT_TRUE(w.grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png"));
  }

  TempDir dir;
  std::unique_ptr<CQuorvelApp> app;
  std::unique_ptr<ScriptedMessageHost> host;
  std::unique_ptr<ScriptedFileDialogs> dialogs;
};

TEST_F(PitchTimeAppTest, DownsampleFromTheReTimeMenuConvertsTheDocumentAndClearsUndo) {
  CQuorvelDoc& doc = app->Document();
  ASSERT_TRUE(doc.PushUndo(kUndoRegionsOnly, "Before"));
  QAction* item = Item(QStringLiteral("&ReTime/ReSample"), QStringLiteral("Downsample to 22kHz"));
  ASSERT_NE(item, nullptr);
  host->Answer(MessageAnswer::Yes);
  item->trigger();
  EXPECT_EQ(doc.audio.format.nSamplesPerSec, 22050u);
  EXPECT_EQ(doc.FrameCount(), 44100);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_FALSE(app->MainFrame().Action(57643)->isEnabled());  // Undo
  EXPECT_TRUE(app->MainFrame().outputPane->logList().Lines().contains(
      QStringLiteral("Sample rate conversion complete! 44100 Hz to 22050 Hz")));
  Screenshot(app->MainFrame(), "after_downsample_22k");
}

}  // namespace
}  // namespace zandrel

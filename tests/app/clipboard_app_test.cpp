// The clipboard and length edits in the running app, through its menus: a
// copy in one editor window pasted into a second through the desktop
// clipboard, and Add Silence with its knob dialog.
#include <gmock/gmock.h>

#include <cmath>
#include <cstring>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QSettings>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "processing/audio_edit_commands.h"
#include "processing/audio_clipboard.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "widgets/knob_control.h"
#include "widgets/universal_dlg.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

// The item |text| of the menu-bar menu |menu| (its submenus searched too).
QAction* MenuItem(CMainFrame& frame, const QString& menu, const QString& text) {
  for (QAction* m : frame.menuBar()->actions()) {
    if (m->text() != menu || !m->menu()) continue;
    emit m->menu()->aboutToShow();  // the menu brings its items up to date as it opens
    for (QAction* a : m->menu()->actions())
      if (a->text() == text) return a;
  }
  return nullptr;
}

int16_t SampleAt(const CQuorvelDoc& doc, int64_t frame) {
  int16_t v = 0;
  std::memcpy(&v, doc.audio.data.data() + frame * 2, 2);
  return v;
}

class ClipboardAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override { QGuiApplication::clipboard()->clear(); }
  void TearDown() override {
    // The second editor goes first: each puts back the hosts it found.
    if (second) second->Document().SetModifiedFlag(false);
    second.reset();
    EditorOnFileTest::TearDown();
  }
  // A second editor window on |name|, beside the fixture's, behind the same
  // scripted hosts.
  std::unique_ptr<CQuorvelApp> StartSecond(const std::string& name, const Bytes& wav) {
    auto editor = std::make_unique<CQuorvelApp>();
    EXPECT_TRUE(editor->InitInstance({QString::fromStdString(WriteFile(name, wav))}));
    return editor;
  }

  // The fixture's editor is the first window.
  std::unique_ptr<CQuorvelApp>& first = app;
  std::unique_ptr<CQuorvelApp> second;
};

TEST_F(ClipboardAppTest, ACopyInOneWindowPastesInAnother) {
  std::vector<int16_t> ramp(20000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i);
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("ramp.wav", MakePcm16Wav(ramp)));
  second = StartSecond("quiet.wav", MakePcm16Wav(std::vector<int16_t>(5000, 0)));
  CMainFrame& from = first->MainFrame();
  CMainFrame& to = second->MainFrame();
  ASSERT_NE(&from, &to);

  // Nothing on the clipboard yet: Paste is off.
  to.view->Model().cursorFrame = 2000;
  QAction* paste = MenuItem(to, QStringLiteral("&Edit"), QStringLiteral("&Paste"));
  ASSERT_NE(paste, nullptr);
  EXPECT_FALSE(paste->isEnabled());

  from.view->Model().loopIn = 1000;
  from.view->Model().loopOut = 1500;
  QAction* copy = MenuItem(from, QStringLiteral("&Edit"), QStringLiteral("&Copy"));
  ASSERT_NE(copy, nullptr);
  ASSERT_TRUE(copy->isEnabled());
  copy->trigger();
  EXPECT_EQ(from.outputPane->logList().Lines().back(), QStringLiteral("Copied 500 samples to clipboard"));

  // The desktop clipboard holds the block under its own type.
  const QMimeData* held = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(held->hasFormat(QString::fromLatin1(kAudioClipboardType)));
  const QByteArray bytes = held->data(QString::fromLatin1(kAudioClipboardType));
  EXPECT_EQ(bytes.size(), 96 + 1000);
  EXPECT_EQ(bytes.left(4), QByteArray("QRVL"));

  // The other window's Paste came on with the clipboard's change.
  EXPECT_TRUE(to.Action(cmd::kEditPaste)->isEnabled());
  paste = MenuItem(to, QStringLiteral("&Edit"), QStringLiteral("&Paste"));
  ASSERT_TRUE(paste->isEnabled());
  paste->trigger();
  const CQuorvelDoc& doc = second->Document();
  EXPECT_EQ(doc.FrameCount(), 5500);
  EXPECT_EQ(SampleAt(doc, 1999), 0);
  EXPECT_EQ(SampleAt(doc, 2000), 1000);
  EXPECT_EQ(SampleAt(doc, 2499), 1499);
  EXPECT_EQ(SampleAt(doc, 2500), 0);
  EXPECT_EQ(to.outputPane->logList().Lines().back(),
            QStringLiteral("Pasted 500 samples at position 2000. Created new region."));
  EXPECT_EQ(to.view->Model().loopIn, 2000);
  EXPECT_EQ(to.view->Model().loopOut, 2500);
  EXPECT_EQ(doc.undoHistory.undoStack.back().description, "Paste Audio Data");
  // The source window is untouched.
  EXPECT_EQ(first->Document().FrameCount(), 20000);
  EXPECT_FALSE(first->Document().IsModified());

  // Paste in Place overwrites from the cursor, keeping the length.
  to.view->Model().cursorFrame = 0;
  QAction* inPlace = MenuItem(to, QStringLiteral("&Edit"), QStringLiteral("Paste in Place"));
  ASSERT_NE(inPlace, nullptr);
  ASSERT_TRUE(inPlace->isEnabled());
  inPlace->trigger();
  EXPECT_EQ(doc.FrameCount(), 5500);
  EXPECT_EQ(SampleAt(doc, 0), 1000);
  EXPECT_EQ(SampleAt(doc, 499), 1499);

  // Cut in the first window takes the selection out once it is copied.
  from.view->Model().loopIn = 0;
  from.view->Model().loopOut = 3000;
  MenuItem(from, QStringLiteral("&Edit"), QStringLiteral("Cu&t"))->trigger();
  QApplication::processEvents();
  EXPECT_EQ(first->Document().FrameCount(), 17000);
  EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data(QString::fromLatin1(kAudioClipboardType)).size(),
            96 + 6000);
}

TEST_F(ClipboardAppTest, AddSilenceInsertsTheLengthItsKnobsShow) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(std::vector<int16_t>(44100, 3000))));
  CMainFrame& frame = first->MainFrame();
  frame.show();
  {
    CUniversalDlg probe;
    probe.configName = "addsilence";
    QFile::remove(probe.ConfigIniPath());
  }
  frame.view->Model().cursorFrame = 22050;
  QString coarseText;
  bool shown = false;
  first->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
    shown = true;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Add Silence at Cursor"));
    CKnobControl* coarse = dlg.Panel().FindKnob(dlg.Model().keys.at("coarse"));
    CKnobControl* fine = dlg.Panel().FindKnob(dlg.Model().keys.at("fine"));
    ASSERT_NE(coarse, nullptr);
    ASSERT_NE(fine, nullptr);
    coarse->Model().SetNormalizedValue(1.7f / 20.0f);
    fine->Model().SetNormalizedValue(0.25f);
    coarseText = QString::fromStdString(coarse->Model().DisplayText());
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    dlg.grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/add_silence_dialog.png"));
    dlg.accept();
  };
  QAction* add = MenuItem(frame, QStringLiteral("&Region"), QStringLiteral("Add Silence..."));
  ASSERT_NE(add, nullptr);
  add->trigger();
  first->ParameterDialogs().driver = nullptr;
  ASSERT_TRUE(shown);

  // The knob showed "2 s", and 2.25 seconds went in.
  EXPECT_EQ(coarseText, QStringLiteral("2 s"));
  const CQuorvelDoc& doc = first->Document();
  EXPECT_EQ(doc.FrameCount(), 44100 + 99225);
  EXPECT_EQ(SampleAt(doc, 22049), 3000);
  EXPECT_EQ(SampleAt(doc, 22050), 0);
  EXPECT_EQ(SampleAt(doc, 22050 + 99224), 0);
  EXPECT_EQ(SampleAt(doc, 22050 + 99225), 3000);
  EXPECT_EQ(frame.view->Model().cursorFrame, 22050 + 99225);
  EXPECT_EQ(frame.outputPane->logList().Lines().back(),
            QStringLiteral("Inserted 2.25 seconds (99225 samples) of silence"));

  // Undo shortens the audio under the cursor, which comes back to the end.
  MenuItem(frame, QStringLiteral("&Edit"), QStringLiteral("&Undo"))->trigger();
  EXPECT_EQ(doc.FrameCount(), 44100);
  EXPECT_EQ(frame.view->Model().cursorFrame, 44100);
}

TEST_F(ClipboardAppTest, RegionMenuRemovesAllRegionsAfterAsking) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(std::vector<int16_t>(10000, 100))));
  CQuorvelDoc& doc = first->Document();
  doc.instrument.hasInstrument = true;
  doc.instrument.regions = {Region{0, 4000, -1, -1, 0, 63, 60}, Region{4000, 10000, -1, -1, 64, 127, 72}};
  CMainFrame& frame = first->MainFrame();
  host->Answer(MessageAnswer::Yes);
  MenuItem(frame, QStringLiteral("&Region"), QStringLiteral("Remove All Regions"))->trigger();
  EXPECT_TRUE(doc.instrument.regions.empty());
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("All regions removed."));
  ASSERT_EQ(host->Texts().size(), 1u);
  EXPECT_EQ(host->Texts()[0], "Are you sure you want to remove all 2 region(s)?\n\nThis action can be undone.");
}

TEST_F(ClipboardAppTest, AFileDroppedWithCtrlIsAppendedAsANewRegion) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(std::vector<int16_t>(1000, 100))));
  WriteFileBytes(dir / "tail.wav", MakePcm16Wav(std::vector<int16_t>(500, -200)));
  CMainFrame& frame = first->MainFrame();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "tail.wav").string()))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::ControlModifier);
  QApplication::sendEvent(frame.view->viewport(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::ControlModifier);
  QApplication::sendEvent(frame.view->viewport(), &drop);

  const CQuorvelDoc& doc = first->Document();
  EXPECT_EQ(doc.GetTitle(), "tone.wav");
  EXPECT_EQ(doc.FrameCount(), 1500);
  EXPECT_EQ(SampleAt(doc, 999), 100);
  EXPECT_EQ(SampleAt(doc, 1000), -200);
  ASSERT_EQ(doc.instrument.regions.size(), 1u);
  EXPECT_EQ(doc.instrument.regions[0].startSample, 1000);
  EXPECT_EQ(doc.instrument.regions[0].endSample, 1500);
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("Total audio duration: 0.034 seconds"));
}

TEST_F(ClipboardAppTest, SelectionMenuKeepsOnlyTheSelection) {
  std::vector<int16_t> ramp(10000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i);
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("ramp.wav", MakePcm16Wav(ramp)));
  CMainFrame& frame = first->MainFrame();
  frame.view->Model().loopIn = 2500;
  frame.view->Model().loopOut = 4000;
  frame.view->Model().cursorFrame = 9000;
  host->Answer(MessageAnswer::Yes);
  MenuItem(frame, QStringLiteral("&Selection"), QStringLiteral("Delete everyting outside"))->trigger();
  const CQuorvelDoc& doc = first->Document();
  EXPECT_EQ(doc.FrameCount(), 1500);
  EXPECT_EQ(SampleAt(doc, 0), 2500);
  EXPECT_EQ(frame.view->Model().cursorFrame, 0);
  EXPECT_EQ(frame.view->Model().loopOut, 1500);
  // The default region over the kept audio, and one step to undo.
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("Remaining regions: 1"));
  EXPECT_EQ(doc.undoHistory.undoStack.back().description, "Delete Outside Loop");
}

}  // namespace
}  // namespace zandrel

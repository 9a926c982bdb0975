// The chop and tempo commands in the running app: the Region menu, the
// auto-chop dialog with its help text and the Adjust Loop to BPM dialog,
// driven as a user would, with screenshots.
#include <gmock/gmock.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <algorithm>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "processing/ui/chop_tempo_dialogs.h"
#include "device/dialog_driver.h"
#include "support/document_fakes.h"
#include "support/generated_audio.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "widgets/markdown_text_ctrl.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class ChopTempoAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        OpenEditorOn("loop.wav", MakePcm16Wav(RenderMono(6 * 44100, 44100, DrumHits(HitTimes(12, 0.5))))));
  }
};

TEST_F(ChopTempoAppTest, AutoChopFromTheRegionMenuWithItsDialog) {
  CMainFrame& frame = app->MainFrame();
  QAction* chop = frame.Action(32819);
  ASSERT_NE(chop, nullptr);
  EXPECT_EQ(chop->text(), QStringLiteral("Auto Chop (Percussive Simple)"));
  QString label;
  ModalDriver<CAutoChopDlg> driver([&](CAutoChopDlg& dlg) {
    dlg.resize(480, 360);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Autochop"));
    EXPECT_EQ(dlg.Slider()->value(), 19);
    EXPECT_EQ(dlg.SpacingEdit()->text(), QStringLiteral("200"));
    EXPECT_EQ(dlg.Help()->MarkdownText(), AutoChopHelpText(false));
    dlg.Slider()->setValue(25);
    label = dlg.ThresholdLabel()->text();
    SaveScreenshot(dlg, QStringLiteral("auto_chop_dialog"));
    dlg.accept();
  });
  chop->trigger();
  ASSERT_TRUE(WaitUntil([&] { return driver.Opened() == 1 && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(label, QStringLiteral("Threshold: 2.5 (Lower is more sensitive)"));
  EXPECT_EQ(app->Document().instrument.regions.size(), 12u);
  EXPECT_EQ(QSettings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel"))
                .value(QStringLiteral("AutoChopSettings/Sensitivity"))
                .toInt(),
            25);
  frame.view->viewport()->repaint();
  SaveScreenshot(frame, QStringLiteral("auto_chopped_loop"));
}

// After an auto-chop into many short regions, a region block shows its key
// and root labels only when they fit whole: the narrow blocks show none, the
// wide one both, and no label is cut at a block's edge.
TEST_F(ChopTempoAppTest, AutoChoppedRegionsShowOnlyLabelsThatFit) {
  // Twenty hits a quarter second apart, then one that rings on to the end.
  std::vector<double> hits = HitTimes(20, 0.25);
  hits.push_back(5.0);
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("hits.wav", MakePcm16Wav(RenderMono(8 * 44100, 44100, DrumHits(hits)))));
  CMainFrame& frame = app->MainFrame();
  frame.resize(1000, 700);
  ModalDriver<CAutoChopDlg> driver([&](CAutoChopDlg& dlg) { dlg.accept(); });
  frame.Action(32819)->trigger();
  ASSERT_TRUE(WaitUntil([&] { return driver.Opened() == 1 && !QApplication::activeModalWidget(); }));
  const std::vector<Region>& regions = app->Document().instrument.regions;
  ASSERT_GE(regions.size(), 15u);
  ViewModel& model = frame.view->Model();
  model.selectedRegion = -1;
  // The whole file on the screen: the hits' blocks are a few pixels wide,
  // the last one several times its labels' width.
  model.viewStart = 0;
  model.framesPerPixel = static_cast<float>(app->Document().FrameCount()) / static_cast<float>(model.clientWidth);
  frame.view->viewport()->repaint();
  QApplication::processEvents();
  const QImage shot = frame.view->viewport()->grab().toImage();
  SaveScreenshot(frame, QStringLiteral("auto_chopped_labels"));

  // Label ink: the light grey text over the dark blocks.
  auto ink = [&](int x, int y) {
    const QRgb p = shot.pixel(x, y);
    return std::min({qRed(p), qGreen(p), qBlue(p)}) > 120;
  };
  int narrow = 0, labelled = 0;
  for (const Region& r : regions) {
    const int x1 = std::max(0, model.XAtFrame(r.startSample));
    const int x2 = std::min(shot.width(), model.XAtFrame(r.endSample));
    int left = -1, right = -1;
    for (int x = x1 + 1; x < x2; ++x) {
      for (int y = 2; y < 38; ++y) {
        if (!ink(x, y)) continue;
        if (left < 0) left = x;
        right = x;
        break;
      }
    }
    SCOPED_TRACE(::testing::Message() << "block " << x1 << ".." << x2);
    if (x2 - x1 < 30) {
      ++narrow;
      EXPECT_EQ(left, -1);
    }
    if (left < 0) continue;
    ++labelled;
    EXPECT_GT(left, x1 + 2);
    EXPECT_LT(right, x2 - 3);
  }
  EXPECT_GE(narrow, 10);
  EXPECT_GE(labelled, 1);
}

TEST_F(ChopTempoAppTest, AdjustLoopToBpmDialogComputesAndRefuses) {
  CMainFrame& frame = app->MainFrame();
  QAction* adjust = frame.Action(32907);
  ASSERT_NE(adjust, nullptr);
  QString result;
  ModalDriver<CAdjustToBpmDlg> driver([&](CAdjustToBpmDlg& dlg) {
    // 6 s at 120 BPM is 12 beats; 100 BPM over 12 beats is 7.2 s.
    EXPECT_EQ(dlg.BeatsEdit()->text(), QStringLiteral("12"));
    dlg.BpmEdit()->setText(QStringLiteral("0.01"));
    dlg.accept();  // refused: the dialog stays
    dlg.BpmEdit()->setText(QStringLiteral("100"));
    result = dlg.ResultLabel()->text();
    SaveScreenshot(dlg, QStringLiteral("adjust_to_bpm_dialog"));
    dlg.accept();
  });
  adjust->trigger();
  ASSERT_TRUE(WaitUntil([&] { return driver.Opened() == 1 && !QApplication::activeModalWidget(); }));
  ASSERT_FALSE(host->Texts().empty());
  EXPECT_EQ(host->Texts()[0], "Please enter a BPM value from 20 to 999.");
  // trunc(60 / 100 x 12 x 44100) truncates 317519.99... in double precision.
  EXPECT_EQ(result, QStringLiteral("Will add 1.200 seconds (52919 samples)"));
  EXPECT_EQ(app->Document().FrameCount(), 317519);
  EXPECT_FLOAT_EQ(app->Document().instrument.params.bpm, 100.0f);
}

TEST_F(ChopTempoAppTest, DynamicsAndSpectralCommandsRunFromTheAudioMenuWithUndo) {
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  const std::vector<uint8_t> original = doc.audio.data;
  for (int id : {32909, 32910, 32911, 32920}) {
    QAction* action = frame.Action(id);
    ASSERT_NE(action, nullptr) << id;
    action->trigger();
    ASSERT_TRUE(WaitUntil([&] { return doc.audio.data != original; })) << id;
    EXPECT_TRUE(doc.CanUndo());
    doc.Undo();
    EXPECT_EQ(doc.audio.data, original) << id;
  }
  EXPECT_TRUE(host->Texts().empty());
}

}  // namespace
}  // namespace zandrel

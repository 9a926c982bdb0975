// The rate, pitch and time commands in the running app, through their menus:
// the document changes, the view follows, and the dialogs as a user sees them.
#include <gmock/gmock.h>

#include <cmath>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "processing/ui/pitch_dialogs.h"
#include "widgets/color_edit.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class PitchTimeAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    std::vector<int16_t> samples(88200);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 441.0 * static_cast<double>(i) / 44100));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(samples)));
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

// Runs |fill| on the modal dialog of type D once it is open, then presses OK.
template <class D>
void WhenOpen(std::function<void(D&)> fill) {
  QTimer::singleShot(0, [fill] {
    auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    fill(*d);
    d->okButton->click();
  });
}

TEST_F(PitchTimeAppTest, TimeStretchFromItsMenuHalvesTheLength) {
  CQuorvelDoc& doc = app->Document();
  doc.instrument.params.bpm = 120;
  QAction* item = Item(QStringLiteral("&ReTime/ReSample"), QStringLiteral("Time Stretch..."));
  ASSERT_NE(item, nullptr);
  bool shown = false;
  WhenOpen<CTimestretchDlg>([&](CTimestretchDlg& d) {
    EXPECT_EQ(d.fromBpmEdit->text(), QStringLiteral("120"));
    EXPECT_EQ(d.fromBeatsEdit->text(), QStringLiteral("4"));
    d.doubleSpeedButton->click();
    EXPECT_EQ(d.toBpmEdit->text(), QStringLiteral("240"));
    Screenshot(d, "time_stretch_dialog");
    shown = true;
  });
  item->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(doc.FrameCount(), 44100);
  EXPECT_EQ(doc.instrument.params.bpm, 240.0f);
  EXPECT_TRUE(doc.CanUndo());
}

TEST_F(PitchTimeAppTest, PitchShiftFromItsMenuKeepsTheLength) {
  CQuorvelDoc& doc = app->Document();
  doc.instrument.hasInstrument = true;
  doc.instrument.regions = {Region{0, 88200, -1, -1, 60, 127, 64}};
  QAction* item = Item(QStringLiteral("&ReTime/ReSample"), QStringLiteral("Pitch Shift..."));
  ASSERT_NE(item, nullptr);
  WhenOpen<CPitchShiftDlg>([&](CPitchShiftDlg& d) {
    d.semitonesEdit->setText(QStringLiteral("12"));
    Screenshot(d, "pitch_shift_dialog");
  });
  item->trigger();
  EXPECT_EQ(doc.FrameCount(), 88200);
  EXPECT_EQ(doc.instrument.regions[0].rootNote, 76);
  EXPECT_EQ(doc.instrument.regions[0].loKey, 72);
}

TEST_F(PitchTimeAppTest, PitchCorrectionDialogShowsTheTargetAndHidesAnInTuneRow) {
  PitchCorrectionValues v;
  v.measuredHz = 445.0;
  v.noteText = v.targetNoteText = "A4";
  v.outOfTuneCents = 19.56;
  CPitchCorrectDlg d(v);
  EXPECT_EQ(d.targetHzEdit->text(), QStringLiteral("440.00"));
  EXPECT_EQ(d.totalEdit->text(), QStringLiteral("-19.56"));
  d.extraCentsEdit->setText(QStringLiteral("100"));
  emit d.extraCentsEdit->textEdited(QStringLiteral("100"));
  EXPECT_EQ(d.targetHzEdit->text(), QStringLiteral("466.16"));
  Screenshot(d, "pitch_correction_dialog");
  EXPECT_TRUE(d.outOfTuneEdit->isVisible());

  v.outOfTuneCents = 0;
  v.labelText = "Root Note Frequency";
  CPitchCorrectDlg silent(v);
  silent.show();
  EXPECT_FALSE(silent.outOfTuneEdit->isVisible());
  EXPECT_EQ(silent.measuredLabel->text(), QStringLiteral("Root Note Frequency"));
}

}  // namespace
}  // namespace zandrel

namespace zandrel {
namespace {

// Half way through a long Time Stretch the progress dialog shows a bar about
// half filled (read from its pixels); Cancel then leaves the document as it
// was and says so in the log.
TEST_F(PitchTimeAppTest, TimeStretchShowsItsProgressHalfWayAndCancels) {
  // Forty seconds of a chord: long enough for the dialog to show.
  std::vector<int16_t> samples(40 * 44100);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / 44100;
    samples[i] = static_cast<int16_t>(6000 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.2 * t) +
                                              std::sin(2 * M_PI * 329.6 * t)));
  }
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("chord.wav", MakePcm16Wav(samples)));
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  doc.instrument.params.bpm = 120;
  const std::vector<uint8_t> before = doc.audio.data;
  QAction* item = Item(QStringLiteral("&ReTime/ReSample"), QStringLiteral("Time Stretch..."));
  ASSERT_NE(item, nullptr);
  WhenOpen<CTimestretchDlg>([&](CTimestretchDlg& d) { d.toBpmEdit->setText(QStringLiteral("100")); });
  int shownAt = -1;
  double filled = -1.0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QProgressDialog* dialog = frame.TaskHost().Dialog();
    if (!dialog || shownAt >= 0 || dialog->value() < 40) return;
    shownAt = dialog->value();
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
    const QImage shot = dialog->grab().toImage();
    shot.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/time_stretch_progress.png"));
    // The share of the bar's middle row painted in the highlight colour.
    auto* bar = dialog->findChild<QProgressBar*>();
    if (bar) {
      const QImage b = bar->grab().toImage();
      const QColor highlight = bar->palette().color(QPalette::Highlight);
      int lit = 0;
      for (int x = 0; x < b.width(); ++x) {
        const QColor c = b.pixelColor(x, b.height() / 2);
        if (std::abs(c.red() - highlight.red()) + std::abs(c.green() - highlight.green()) +
                std::abs(c.blue() - highlight.blue()) < 90)
          ++lit;
      }
      filled = static_cast<double>(lit) / b.width();
    }
    QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
  });
  watch.start(20);
  item->trigger();
  watch.stop();
  ASSERT_GE(shownAt, 40) << "the bar never passed 40%";
  EXPECT_LE(shownAt, 75);
  EXPECT_NEAR(filled, shownAt / 100.0, 0.15);
  EXPECT_EQ(doc.audio.data, before);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(frame.outputPane->logList().Lines().back(), QStringLiteral("Time Stretch cancelled."));
}

}  // namespace
}  // namespace zandrel

// The note tools in the running app: the four commands through the menu,
// their dialogs driven as a user would, and screenshots of each dialog.
#include <gmock/gmock.h>

#include <cmath>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "notes/ui/note_dialogs.h"
#include "platform/audio_output.h"
#include "sound_design/tuning_previews.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "widgets/markdown_text_ctrl.h"
#include "widgets/note_select_dlg.h"
#include "widgets/piano_selector_wnd.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

QString NoteToolsShot(const char* name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  return QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + QString::fromUtf8(name);
}

class NoteToolsAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    // Three tones of a quarter second each: A2, A3, A4.
    std::vector<int16_t> samples;
    for (double hz : {110.0, 220.0, 440.0})
      for (int i = 0; i < 11025; ++i) samples.push_back(static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / 44100)));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tones.wav", MakePcm16Wav(samples)));
    CQuorvelDoc& doc = app->Document();
    doc.instrument.hasInstrument = true;
    doc.instrument.regions.clear();
    for (int i = 0; i < 3; ++i) {
      Region r;
      r.startSample = i * 11025;
      r.endSample = r.startSample + 11025;
      r.rootNote = 45 + 12 * i;
      doc.instrument.regions.push_back(r);
    }
  }

  // Triggers the menu item |id|; |user| acts on the dialog it opens.
  template <class Dialog>
  void RunWithDialog(int id, const std::function<void(Dialog&)>& user) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      seen = true;
      user(*dialog);
    });
    QAction* action = app->MainFrame().Action(id);
    ASSERT_NE(action, nullptr);
    action->trigger();
    EXPECT_TRUE(seen);
  }

  std::vector<int> Keys(int32_t Region::*field) {
    std::vector<int> out;
    for (const Region& r : app->Document().instrument.regions) out.push_back(r.*field);
    return out;
  }
};

TEST_F(NoteToolsAppTest, TransposeDialogOctaveButtons) {
  RunWithDialog<CTransposeDlg>(cmd::kTranspose, [](CTransposeDlg& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Shift/Transpose all notes by semitones"));
    EXPECT_EQ(d.ValueEdit()->text(), QStringLiteral("0"));
    EXPECT_EQ(d.ValueEdit()->selectedText(), QStringLiteral("0"));
    EXPECT_EQ(d.Help()->MarkdownText(), CTransposeDlg::HelpText());
    d.OctaveUpButton()->click();
    EXPECT_EQ(d.ValueEdit()->text(), QStringLiteral("12"));
    d.PlayHigherButton()->click();
    EXPECT_EQ(d.ValueEdit()->text(), QStringLiteral("-12"));
    d.OctaveDownButton()->click();
    QTest::qWait(20);
    d.grab().save(NoteToolsShot("transpose_dialog.png"));
    d.accept();
  });
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(33, 45, 57));
  EXPECT_EQ(app->Document().undoHistory.undoStack.back().description, "Transpose");
  app->MainFrame().Action(57643)->trigger();  // Undo
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(45, 57, 69));
}

TEST_F(NoteToolsAppTest, PercussiveDialogPicksAKeyAndRemembersIt) {
  RunWithDialog<CSpreadNotesNMDlg>(cmd::kDistributePercussive, [](CSpreadNotesNMDlg& d) {
    EXPECT_EQ(d.StartNoteEdit()->text(), QStringLiteral("G3"));
    EXPECT_TRUE(d.ScaleRadio(1)->isChecked());
    EXPECT_EQ(d.NoteLabel()->text(), QStringLiteral("Start Note"));
    d.ScaleRadio(3)->click();
    EXPECT_EQ(d.NoteLabel()->text(), QStringLiteral("Key Note"));
    // The picker: click D4 and press OK.
    QTimer::singleShot(0, [] {
      auto* picker = qobject_cast<CNoteSelectDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      EXPECT_EQ(picker->rootNote, 55);
      EXPECT_EQ(picker->selectMode, 2);
      EXPECT_EQ(picker->highNote, 128);
      picker->resultNote = 62;
      picker->accept();
    });
    d.PickButton()->click();
    EXPECT_EQ(d.StartNoteEdit()->text(), QStringLiteral("D4"));
    QTest::qWait(20);
    d.grab().save(NoteToolsShot("distribute_percussive_dialog.png"));
    d.accept();
  });
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(62, 64, 66));
  EXPECT_EQ(app->MainFrame().outputPane->logList().Lines().back(),
            QStringLiteral("Distributed 3 regions using Major (D4 Key) scale starting from D4."));
  // Stored in the user's settings, and offered the next time.
  QSettings settings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel"));
  RunWithDialog<CSpreadNotesNMDlg>(cmd::kDistributePercussive, [](CSpreadNotesNMDlg& d) {
    EXPECT_EQ(d.StartNoteEdit()->text(), QStringLiteral("D4"));
    EXPECT_TRUE(d.ScaleRadio(3)->isChecked());
    d.reject();
  });
  EXPECT_EQ(app->Document().undoHistory.undoStack.size(), 1u);
}

TEST_F(NoteToolsAppTest, MelodicDialogEstimatesRoots) {
  for (Region& r : app->Document().instrument.regions) r.rootNote = 0;
  RunWithDialog<CSpreadNotesMelodicDlg>(cmd::kDistributeMelodic, [](CSpreadNotesMelodicDlg& d) {
    EXPECT_TRUE(d.RootRadio(0)->isChecked());
    EXPECT_TRUE(d.DistributionRadio(0)->isChecked());
    d.RootRadio(1)->click();
    d.DistributionRadio(1)->click();
    QTest::qWait(20);
    d.grab().save(NoteToolsShot("distribute_melodic_dialog.png"));
    d.accept();
  });
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(45, 57, 69));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(0, 46, 58));
  EXPECT_THAT(Keys(&Region::hiKey), ElementsAre(46, 58, 127));
}

TEST_F(NoteToolsAppTest, RemapDialogShowsThePlanAndProcesses) {
  std::string quality;
  RunWithDialog<CNon12TETRemapDlg>(cmd::kTuningRemap, [&](CNon12TETRemapDlg& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Micro Tonal, Historic and World Tuning"));
    EXPECT_EQ(d.RegionsEdit()->text(), QStringLiteral("3 (A2, A3, A4)"));
    EXPECT_EQ(d.BaseOctaveEdit()->text(), QStringLiteral("C3 - C4"));
    EXPECT_EQ(d.TuningList()->count(), 251);
    EXPECT_EQ(d.TuningList()->currentRow(), 1);
    EXPECT_EQ(d.MappingTable()->count(), 9);
    // A header hands the selection to the first tuning below it.
    d.TuningList()->setCurrentRow(5);
    EXPECT_EQ(d.TuningList()->currentRow(), 6);
    // The box shows the description's CR LF line breaks as plain breaks.
    EXPECT_EQ(d.DescriptionEdit()->toPlainText(),
              QString::fromStdString(d.Model().Presets()[6].description).remove(QLatin1Char('\r')));
    d.TuningList()->setCurrentRow(3);
    EXPECT_EQ(d.MappingTable()->item(1)->data(Qt::UserRole).toStringList(),
              (QStringList{"C", "C3 (48)", "A2 (45)", "+3.0st", "+0.0c", "+300c", "C3", "87%"}));
    EXPECT_EQ(d.MappingTable()->item(3)->data(Qt::UserRole).toStringList()[4], QStringLiteral("-13.7c"));
    quality = d.QualityEdit()->text().toStdString();
    EXPECT_EQ(quality, "Overall quality: 87% (Very Good), Max pitch shift: \u00B1" "5 semitones");
    d.show();
    QTest::qWait(50);
    d.grab().save(NoteToolsShot("tuning_remap_dialog.png"));
    // "No" keeps the dialog open; "Yes" processes.
    host->Answer(MessageAnswer::No);
    d.ProcessButton()->click();
    EXPECT_TRUE(d.isVisible());
    host->Answer(MessageAnswer::Yes);
    d.ProcessButton()->click();
  });
  const std::vector<std::string> boxes = host->Texts();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "This will replace all current regions with 8 new regions optimized for EP Major Scale mode.\n\n"
                      "Tuning: 5-Limit Just Intonation\nBase octave: C3\nQuality: " +
                          quality + "\n\nContinue?");
  EXPECT_EQ(boxes[2],
            "Successfully created 8 microtuned regions for EP Major Scale mode.\n\nBase octave: C3-C4\nGlobal "
            "root: C3 (MIDI 48)\nTuning: 5-Limit Just Intonation");
  CQuorvelDoc& doc = app->Document();
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(48, 50, 52, 53, 55, 57, 59, 60));
  EXPECT_EQ(doc.instrument.regions.back().endSample, doc.FrameCount());
  EXPECT_EQ(doc.undoHistory.undoStack.back().description, "Non-12TET Microtuning Remap");
}

// A header reached by the mouse or the keyboard hands the highlight, not
// only the current row, to the tuning below it: the row is drawn selected.
TEST_F(NoteToolsAppTest, RemapDialogHighlightFollowsFromAHeaderToItsTuning) {
  RunWithDialog<CNon12TETRemapDlg>(cmd::kTuningRemap, [&](CNon12TETRemapDlg& d) {
    d.show();
    QTest::qWait(20);
    QListWidget* list = d.TuningList();
    const std::vector<TuningPreset>& rows = d.Model().Presets();
    int header = 1;
    while (!rows[header].isCategory) ++header;
    ASSERT_FALSE(rows[header + 1].isCategory);
    ASSERT_FALSE(rows[header + 2].isCategory);
    const std::function<void()> reach[] = {
        [&] { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(header)).center()); },
        [&] {
          list->setCurrentRow(header - 1);
          list->setFocus();
          QTest::keyClick(list, Qt::Key_Down);
        },
    };
    for (size_t way = 0; way < std::size(reach); ++way) {
      SCOPED_TRACE(way == 0 ? "mouse" : "keyboard");
      list->setCurrentRow(1);
      list->scrollToTop();
      reach[way]();
      EXPECT_EQ(list->currentRow(), header + 1);
      EXPECT_TRUE(list->item(header + 1)->isSelected());
      EXPECT_FALSE(list->item(header)->isSelected());
      // What the user sees: the tuning below the header is filled with the
      // selection's mix, unlike its unselected neighbour of the same group.
      QTest::qWait(20);
      const QImage shot = list->viewport()->grab().toImage();
      auto fill = [&](int row) {
        const QRect r = list->visualItemRect(list->item(row));
        return shot.pixelColor(r.left() + 2, r.top() + 2);
      };
      EXPECT_NE(fill(header + 1), fill(header + 2));
      if (way == 0) shot.save(NoteToolsShot("tuning_remap_header_clicked.png"));
    }
    // A tuning row chosen directly keeps its own highlight.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(header + 2)).center());
    EXPECT_EQ(list->currentRow(), header + 2);
    EXPECT_EQ(list->selectedItems(), QList<QListWidgetItem*>{list->item(header + 2)});
    d.reject();
  });
}

TEST_F(NoteToolsAppTest, RemapDialogAuditionsTheSelectedTuning) {
  MemoryAudioOutput output;
  output.channels = 2;
  ScopedAudioOutput scope(&output);
  RunWithDialog<CNon12TETRemapDlg>(cmd::kTuningRemap, [&](CNon12TETRemapDlg& d) {
    QCheckBox* flute = d.AuditionFluteBox();
    QCheckBox* scale = d.AuditionScaleBox();
    EXPECT_EQ(flute->text(), QStringLiteral("Audition using Valdro Flute Synth"));
    EXPECT_EQ(scale->text(), QStringLiteral("Audition Scale"));
    EXPECT_FALSE(flute->isChecked());
    EXPECT_FALSE(scale->isChecked());
    EXPECT_EQ(d.Preview(), nullptr);

    // The scale of the selected row plays once, as the flute renders it, and
    // then the source reports that it has finished.
    scale->click();
    ASSERT_NE(d.Preview(), nullptr);
    EXPECT_FALSE(d.Preview()->Finished());
    const std::vector<int16_t> expected = RenderScalePreview(d.Model().Presets()[1].padCents);
    ASSERT_EQ(expected.size(), 246960u);
    ASSERT_TRUE(output.Pull(123480 + 4410));
    EXPECT_TRUE(d.Preview()->Finished());
    const std::vector<float> played = output.Played();
    ASSERT_EQ(played.size(), 2u * (123480 + 4410));
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_FLOAT_EQ(played[i], expected[i] / 32768.0f) << i;
    for (size_t i = expected.size(); i < played.size(); ++i) ASSERT_EQ(played[i], 0.0f) << i;
    d.show();
    QTest::qWait(50);
    d.grab().save(NoteToolsShot("tuning_remap_audition.png"));

    // A new selection restarts the preview from its start with the new row.
    d.TuningList()->setCurrentRow(3);
    ASSERT_NE(d.Preview(), nullptr);
    EXPECT_FALSE(d.Preview()->Finished());
    EXPECT_EQ(d.Preview()->Position(), 0u);
    ASSERT_TRUE(output.Pull(1000));
    EXPECT_EQ(d.Preview()->Position(), 1000u);

    // The flute box switches the scale box off and plays the demo.
    flute->click();
    EXPECT_TRUE(flute->isChecked());
    EXPECT_FALSE(scale->isChecked());
    ASSERT_NE(d.Preview(), nullptr);
    EXPECT_EQ(d.Preview()->Position(), 0u);
    ASSERT_TRUE(output.Pull(2000));
    EXPECT_EQ(d.Preview()->Position(), 2000u);
    scale->click();
    EXPECT_FALSE(flute->isChecked());
    EXPECT_TRUE(scale->isChecked());

    // Switching the playing box off stops the preview.
    scale->click();
    EXPECT_FALSE(scale->isChecked());
    EXPECT_EQ(d.Preview(), nullptr);
    d.reject();
  });
}

TEST_F(NoteToolsAppTest, RemapDialogDemoPlaysToItsEnd) {
  MemoryAudioOutput output;
  output.channels = 2;
  ScopedAudioOutput scope(&output);
  RunWithDialog<CNon12TETRemapDlg>(cmd::kTuningRemap, [&](CNon12TETRemapDlg& d) {
    d.AuditionFluteBox()->click();
    ASSERT_NE(d.Preview(), nullptr);
    // 20.75 s of stereo: 915075 frames, then silence and the finished flag.
    ASSERT_TRUE(output.Pull(915075 - 10));
    EXPECT_FALSE(d.Preview()->Finished());
    ASSERT_TRUE(output.Pull(20));
    EXPECT_TRUE(d.Preview()->Finished());
    const std::vector<float> played = output.Played();
    float peak = 0;
    for (size_t i = 0; i < 2 * 915075; ++i) peak = std::max(peak, std::fabs(played[i]));
    EXPECT_GT(peak, 0.1f);
    EXPECT_LE(peak, 32000 / 32768.0f);
    // A finished preview is left open until the next start or the end of the
    // dialog; switching the box off then changes nothing.
    d.AuditionFluteBox()->click();
    EXPECT_NE(d.Preview(), nullptr);
    d.reject();
  });
  EXPECT_EQ(output.Closes(), output.Opens());
}

}  // namespace
}  // namespace zandrel

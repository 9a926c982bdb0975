// The micro synth dialog offscreen, over a short generated loop: the engine
// settings files, the opening octave, the looping preview through an audio
// output without a device, the re-render after a knob drag, "Set to
// Default", an engine that cannot play its note, and screenshots.
#include "sound_design/ui/simple_synth_dlg.h"

#include <gmock/gmock.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/audio_output.h"
#include "widgets/knob_control.h"
#include "support/test_host.h"

namespace zandrel::test {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kRate = 8000;
constexpr size_t kFrames = 1000;

std::string ReadText(const QString& path) {
  std::ifstream in(path.toStdString());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const QString& path, const std::string& text) { std::ofstream(path.toStdString()) << text; }

class SimpleSynthDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Test mode: the settings folder is private to the tests; start empty.
    const QString folder = QFileInfo(CSimpleSynthDlg::EngineIniPath("x")).absolutePath();
    for (const QString& name : QDir(folder).entryList({QStringLiteral("Settings_*.ini")}, QDir::Files))
      QFile::remove(folder + QLatin1Char('/') + name);
    output.rate = 0;
    output.channels = 1;
    for (size_t i = 0; i < kFrames; ++i)
      loop.push_back(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 200.0 * static_cast<double>(i) / kRate)));
  }
  void TearDown() override { dialog.reset(); }

  CSimpleSynthDlg& Open(int root = 69) {
    dialog = std::make_unique<CSimpleSynthDlg>();
    dialog->source = loop;
    dialog->sampleRate = kRate;
    dialog->channels = 1;
    dialog->rootNote = root;
    dialog->show();
    return *dialog;
  }
  CKnobControl* Knob(int id) { return dialog->Panel().FindKnob(id); }
  // What the preview should play with the shown engine's knobs as they are.
  std::vector<int16_t> ExpectedMix(int engine, int root) {
    SynthKnobValues knobs;
    for (const int id : dialog->Panel().Model().order) {
      knobs.values[id] = Knob(id)->GetValue();
      if (Knob(id)->GetSelectedIndex() >= 0) knobs.selections[id] = Knob(id)->GetSelectedIndex();
    }
    SynthStates states;
    std::vector<int16_t> note, mix;
    EXPECT_FALSE(RenderSynth(engine, knobs, root, kRate, 1, kFrames, states, note).refused);
    MixSynthWithSource(loop, note, knobs.Value(kSynthMixId), mix);
    return mix;
  }
  std::vector<float> Pull(size_t frames) {
    const size_t before = output.Played().size();
    EXPECT_TRUE(output.Pull(frames));
    const std::vector<float> all = output.Played();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }
  static void ExpectPlays(const std::vector<float>& played, const std::vector<int16_t>& mix, size_t from) {
    for (size_t i = 0; i < played.size(); ++i)
      ASSERT_EQ(played[i], mix[(from + i) % mix.size()] / 32768.0f) << "frame " << i;
  }

  ScriptedMessageHost host;
  MemoryAudioOutput output;
  ScopedAudioOutput scope{&output};
  std::vector<int16_t> loop;
  std::unique_ptr<CSimpleSynthDlg> dialog;
};

TEST_F(SimpleSynthDlgTest, OpensOnTheBasicEngineAtOctavePlusZeroWithItsSavedKnobs) {
  WriteText(CSimpleSynthDlg::EngineIniPath("Basic Waveform"),
            "Octave: Octave -2\nWaveform: square\nCutoff: 0.250000\n");
  CSimpleSynthDlg& d = Open();
  EXPECT_EQ(d.windowTitle(), "Micro Synth");
  EXPECT_EQ(d.CurrentEngine(), kEngineBasic);
  EXPECT_TRUE(d.EngineButton(kEngineBasic)->isChecked());
  EXPECT_EQ(Knob(kSynthOctaveId)->GetSelectedLabel(), "Octave +0");
  EXPECT_EQ(Knob(kSynthWaveformId)->GetSelectedLabel(), "Square");
  EXPECT_FLOAT_EQ(Knob(8)->GetValue(), 0.25f);
  EXPECT_EQ(d.EngineButton(kEngineVoice)->text(), "Vox");
  EXPECT_EQ(d.EngineButton(kEngineBowed)->text(), "Bowed");
  EXPECT_EQ(d.EngineButton(6), nullptr);
}

TEST_F(SimpleSynthDlgTest, EachEngineKeepsItsKnobsInItsOwnFile) {
  CSimpleSynthDlg& d = Open();
  Knob(8)->SetNormalizedValue(0.25f);
  Knob(kSynthWaveformId)->SetSelectedIndex(3);
  d.EngineButton(kEngineFlute)->click();
  EXPECT_EQ(d.CurrentEngine(), kEngineFlute);
  ASSERT_NE(Knob(74), nullptr);  // "Waveguide air loss"
  EXPECT_EQ(Knob(8), nullptr);
  const std::string basic = ReadText(CSimpleSynthDlg::EngineIniPath("Basic Waveform"));
  EXPECT_THAT(basic, HasSubstr("Waveform: Square\n"));
  EXPECT_THAT(basic, HasSubstr("Cutoff: 0.250000\n"));
  EXPECT_TRUE(CSimpleSynthDlg::EngineIniPath("Basic Waveform").endsWith("/Settings_BasicWaveform.ini"));

  Knob(63)->SetNormalizedValue(0.5f);  // "Growl"
  d.EngineButton(kEngineDrum)->click();
  const QString flutePath = CSimpleSynthDlg::EngineIniPath("Flute / Woodwind");
  EXPECT_TRUE(flutePath.endsWith("/Settings_FluteWoodwind.ini"));
  EXPECT_THAT(ReadText(flutePath), HasSubstr("Growl: 0.500000\n"));

  // An unknown choice walks the selector to its last one.
  WriteText(CSimpleSynthDlg::EngineIniPath("Basic Waveform"), "Waveform: Chirp\n");
  d.EngineButton(kEngineBasic)->click();
  EXPECT_EQ(Knob(kSynthWaveformId)->GetSelectedLabel(), "Noise");
}

TEST_F(SimpleSynthDlgTest, CancelSavesNothing) {
  CSimpleSynthDlg& d = Open();
  Knob(8)->SetNormalizedValue(0.25f);
  d.reject();
  EXPECT_FALSE(QFile::exists(CSimpleSynthDlg::EngineIniPath("Basic Waveform")));
}

TEST_F(SimpleSynthDlgTest, PreviewLoopsTheMixAndSwitchesAtTheKeptPosition) {
  CSimpleSynthDlg& d = Open();
  d.PreviewButton()->click();
  ASSERT_TRUE(d.Previewing());
  EXPECT_EQ(d.PreviewButton()->text(), "Stop");
  const std::vector<int16_t> first = ExpectedMix(kEngineBasic, 69);
  ASSERT_NE(first, loop);
  ExpectPlays(Pull(2500), first, 0);  // two and a half times round the loop

  Knob(kSynthMixId)->SetNormalizedValue(1.0f);
  QTRY_COMPARE_WITH_TIMEOUT(d.PreviewRenders(), 2, 2000);
  const std::vector<int16_t> second = ExpectedMix(kEngineBasic, 69);
  ASSERT_NE(second, first);
  ExpectPlays(Pull(800), second, 500);  // the new mix from where the old one was

  d.PreviewButton()->click();
  EXPECT_FALSE(d.Previewing());
  EXPECT_EQ(d.PreviewButton()->text(), "Preview");
  EXPECT_FALSE(output.Pull(10));  // the device closed with the last source
}

TEST_F(SimpleSynthDlgTest, AKnobDragRendersOnceThirtyMillisecondsAfterTheLastChange) {
  CSimpleSynthDlg& d = Open();
  for (float v = 0.1f; v < 0.9f; v += 0.1f) Knob(8)->SetNormalizedValue(v);  // no preview: nothing renders
  QTest::qWait(100);
  EXPECT_EQ(d.PreviewRenders(), 0);

  d.PreviewButton()->click();
  ASSERT_EQ(d.PreviewRenders(), 1);
  QElapsedTimer clock;
  clock.start();
  for (int step = 0; step < 5; ++step) {
    Knob(8)->SetNormalizedValue(0.2f + 0.1f * static_cast<float>(step));
    QTest::qWait(5);
  }
  const qint64 lastChange = clock.elapsed();
  QTRY_COMPARE_WITH_TIMEOUT(d.PreviewRenders(), 2, 2000);
  EXPECT_GE(clock.elapsed() - lastChange, CSimpleSynthDlg::kRerenderMilliseconds - 2);
  QTest::qWait(100);
  EXPECT_EQ(d.PreviewRenders(), 2);
}

TEST_F(SimpleSynthDlgTest, SetToDefaultResetsEveryKnobAndRendersOnce) {
  CSimpleSynthDlg& d = Open();
  Knob(8)->SetNormalizedValue(0.1f);
  Knob(kSynthWaveformId)->SetSelectedIndex(0);
  Knob(4)->SetNormalizedValue(1.0f);
  d.PreviewButton()->click();
  ASSERT_EQ(d.PreviewRenders(), 1);
  d.DefaultButton()->click();
  EXPECT_EQ(d.PreviewRenders(), 2);
  QTest::qWait(100);
  EXPECT_EQ(d.PreviewRenders(), 2);  // the reset itself scheduled nothing
  EXPECT_EQ(Knob(kSynthWaveformId)->GetSelectedLabel(), "Saw");
  EXPECT_FLOAT_EQ(Knob(8)->GetValue(), 1.0f);
  EXPECT_FLOAT_EQ(Knob(4)->GetValue(), 1.0f);
  EXPECT_FLOAT_EQ(Knob(kSynthMixId)->GetValue(), 0.5f);
  EXPECT_TRUE(d.Previewing());
}

TEST_F(SimpleSynthDlgTest, AnEngineThatCannotPlayTheNoteLeavesTheLoopAlone) {
  CSimpleSynthDlg& d = Open(0);
  d.EngineButton(kEngineStrings)->click();
  Knob(kSynthOctaveId)->SetSelectedIndex(0);  // note 0 two octaves down: 2 Hz
  const std::string why = "The Physical Strings engine cannot play this note (2.0 Hz, 0.125 s).";

  d.PreviewButton()->click();
  ASSERT_TRUE(d.Previewing());
  EXPECT_EQ(d.StatusLine()->text().toStdString(), why);
  ExpectPlays(Pull(1500), loop, 0);

  d.OkButton()->click();
  ASSERT_FALSE(host.Shown().empty());
  EXPECT_EQ(host.Shown().back().text, why);
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
  EXPECT_TRUE(d.isVisible());
  EXPECT_NE(d.result(), QDialog::Accepted);

  // A playable octave: the status line clears and OK mixes.
  Knob(kSynthOctaveId)->SetSelectedIndex(4);
  QTRY_VERIFY_WITH_TIMEOUT(d.StatusLine()->text().isEmpty(), 2000);
  d.OkButton()->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.choice.engine, kEngineStrings);
  EXPECT_EQ(d.choice.knobs.Selection(kSynthOctaveId), 4);
  EXPECT_FALSE(d.Previewing());
}

// Ink: a pixel clearly darker than the dialog's light background.
bool Ink(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 140; }

// Every label of the dialog reads whole: the engine buttons' texts end before
// the next button starts, "Wave Engine" keeps to its 43 dialog units, and a
// long knob name ("Waveguide air loss") stays inside its knob.
TEST_F(SimpleSynthDlgTest, LabelsFitTheirPlaces) {
  CSimpleSynthDlg& d = Open(57);
  QTest::qWait(20);
  const QImage shot = d.grab().toImage();

  const int order[] = {kEngineBasic,  kEngineStrings, kEnginePiano, kEngineDrum, kEngineCymbal,
                       kEngineFlute, kEngineVoice,   kEngineBowed, kEngineBrass};
  for (size_t i = 0; i < std::size(order); ++i) {
    QRadioButton* button = d.EngineButton(order[i]);
    SCOPED_TRACE(button->text().toStdString());
    EXPECT_LE(button->sizeHint().width(), button->width());
    QRect next;
    if (i + 1 < std::size(order)) {
      next = d.EngineButton(order[i + 1])->geometry();
    } else {
      for (QPushButton* b : d.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Set to Default")) next = b->geometry();
    }
    ASSERT_TRUE(next.isValid());
    EXPECT_LT(button->geometry().right(), next.left());
    // The column just before the next button is blank: the texts do not run
    // into each other.
    for (int y = button->geometry().top(); y <= button->geometry().bottom(); ++y)
      EXPECT_FALSE(Ink(shot, next.left() - 1, y)) << "ink at y " << y;
  }

  QLabel* wave = nullptr;
  for (QLabel* label : d.findChildren<QLabel*>())
    if (label->text() == QStringLiteral("Wave Engine")) wave = label;
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(wave->width(), 43 * 3 / 2);
  EXPECT_LE(wave->fontMetrics().horizontalAdvance(wave->text()), wave->width());

  d.EngineButton(kEngineFlute)->click();
  QTest::qWait(20);
  CKnobControl* airLoss = d.Panel().FindKnob(74);
  ASSERT_NE(airLoss, nullptr);
  EXPECT_EQ(airLoss->Model().label, "Waveguide air loss");
  const QImage knob = airLoss->grab().toImage();
  knob.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/micro_synth_air_loss_knob.png"));
  // The name's band, below the knob's figure: ink, but none at either edge.
  int inked = 0;
  for (int y = knob.height() * 3 / 4; y < knob.height(); ++y) {
    for (int x = 0; x < knob.width(); ++x) inked += Ink(knob, x, y);
    EXPECT_FALSE(Ink(knob, 0, y) || Ink(knob, 1, y) || Ink(knob, knob.width() - 1, y) || Ink(knob, knob.width() - 2, y))
        << "ink at an edge, y " << y;
  }
  EXPECT_GT(inked, 20);
}

TEST_F(SimpleSynthDlgTest, Screenshots) {
  CSimpleSynthDlg& d = Open(57);
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  const QString dir = QStringLiteral(ZANDREL_SCREENSHOT_DIR);
  QTest::qWait(20);
  EXPECT_TRUE(d.grab().save(dir + QStringLiteral("/micro_synth_basic.png")));
  d.EngineButton(kEngineFlute)->click();
  d.PreviewButton()->click();
  QTest::qWait(20);
  EXPECT_TRUE(d.grab().save(dir + QStringLiteral("/micro_synth_flute.png")));
}

}  // namespace
}  // namespace zandrel::test

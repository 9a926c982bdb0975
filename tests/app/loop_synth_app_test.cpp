// The loop re-synthesis commands in the running app: the knob dialogs with
// their looping previews, the Frequency Cloud's progress bar and log, and
// Cancel leaving the document and the parameter file alone.
#include <gmock/gmock.h>

#include <map>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/quorvel_app.h"
#include "platform/audio_output.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "sound_design/loop_synth_commands.h"
#include "view/quorvel_view.h"
#include "widgets/universal_dlg.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

void Photograph(QWidget& widget, const QString& name) {
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  widget.grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
}

// The file's bytes; "<none>" when it does not exist.
QByteArray FileText(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArrayLiteral("<none>");
  return f.readAll();
}

float Peak(const std::vector<float>& s) {
  float peak = 0.0f;
  for (float v : s) peak = std::max(peak, std::fabs(v));
  return peak;
}

// The names under the dialog's knobs, as the user reads them, left to right.
std::vector<std::string> KnobLabels(CUniversalDlg& dlg) {
  std::vector<std::string> labels;
  for (int id : dlg.Model().panel.order) {
    CKnobControl* knob = dlg.Panel().FindKnob(id);
    if (knob && knob->Model().kind == kKnobRotary) labels.push_back(knob->Model().DisplayText());
  }
  return labels;
}

// The text a knob shows for its value.
std::string KnobValueText(CUniversalDlg& dlg, const std::string& key) {
  CKnobControl* knob = dlg.Panel().FindKnob(dlg.Model().keys.at(key));
  return knob ? knob->Model().FormatValue() : std::string("<no knob>");
}

// Turns the knob of |key| to the real value |value|.
void Turn(CUniversalDlg& dlg, const std::string& key, float value) {
  CKnobControl* knob = dlg.Panel().FindKnob(dlg.Model().keys.at(key));
  ASSERT_NE(knob, nullptr) << key;
  const KnobModel& m = knob->Model();
  knob->Model().SetNormalizedValue((value - m.minimum) / (m.maximum - m.minimum));
}

class LoopSynthAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    std::vector<int16_t> samples(44100);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 220.0 * static_cast<double>(i) / 44100.0));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(samples)));
    ViewModel& m = app->MainFrame().view->Model();
    m.loopIn = 4410;
    m.loopOut = 8820;
    m.loopPlayback = true;
  }
  void TearDown() override {
    if (app) app->ParameterDialogs().driver = {};
    EditorOnFileTest::TearDown();
  }

  MemoryAudioOutput output;
  ScopedAudioOutput outputScope{&output};
};

TEST_F(LoopSynthAppTest, DialogsPreviewInALoopAndCancelChangesNothing) {
  struct Case {
    int id;
    const char* title;
    const char* shot;
    std::vector<std::string> labels;  // under the knobs, in order
    float minPeak;                    // the preview is heard at least this loud
  } cases[] = {
      {cmd::kGranularCloud, "Granular Cloud Settings", "loop_synth_granular_cloud",
       {"Loop Length", "Grain Size", "Density", "Pitch Jitter", "Loop Fade", "Mix"}, 0.5f},
      {cmd::kFrequencyCloud, "Frequency Cloud (Paul's Stretch)", "loop_synth_frequency_cloud",
       {"Str. Coarse", "Str. Fine", "Window", "Loop Length", "Position", "Loop Fade", "Mix"}, 0.5f},
      {cmd::kMorphLoop, "Morph Loop", "loop_synth_morph_loop",
       {"Offset", "Orig X-Fade", "Morph", "Morph Timbre", "Morph Gate", "Morph Comb"}, 0.1f},
      {cmd::kInfiniteSustainSynth, "Synthesize Loop", "loop_synth_infinite_sustain",
       {"Offset", "Orig X-Fade", "Step", "Mix"}, 0.1f},
      {cmd::kVocoder, "Vocoder", "loop_synth_vocoder", {"Frequency Shift", "Phase Mix", "Envelope Smooth"}, 0.01f},
  };
  CMainFrame& frame = app->MainFrame();
  frame.show();
  CQuorvelDoc& doc = app->Document();
  const std::vector<uint8_t> before = doc.audio.data;
  std::map<int, QByteArray> iniBefore;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    QString iniPath;
    float previewPeak = 0.0f;
    bool barHidden = false;
    std::vector<std::string> labels;
    app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
      EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8(c.title));
      labels = KnobLabels(dlg);
      iniPath = dlg.ConfigIniPath();
      iniBefore[c.id] = FileText(iniPath);
      dlg.PreviewButton()->click();  // renders and starts the looping sound at once
      EXPECT_TRUE(output.Pull(44100));
      previewPeak = Peak(output.Played());
      barHidden = !dlg.progressShown && !dlg.progressBar->isVisible();
      Photograph(dlg, c.shot);
      dlg.CancelButton()->click();
    };
    // The Vocoder has no place in the menus: it runs from the registry.
    if (QAction* action = frame.Action(c.id))
      action->trigger();
    else
      ASSERT_TRUE(frame.commands.Run(c.id, frame.Context()));
    EXPECT_EQ(labels, c.labels);
    EXPECT_GT(previewPeak, c.minPeak);
    EXPECT_TRUE(barHidden);
    EXPECT_FALSE(output.Pull(10)) << "the preview still plays";
    ASSERT_FALSE(iniPath.isEmpty());
    // Other tests may have written the file before (OK writes it): Cancel
    // leaves it as it was.
    EXPECT_EQ(FileText(iniPath), iniBefore[c.id]) << iniPath.toStdString();
    EXPECT_EQ(doc.audio.data, before);
    EXPECT_FALSE(doc.CanUndo());
  }
}

// A preview whose device stops (the audio server went away) is not left
// holding a dead device: the output is closed, the user is told once, a
// preview that cannot reopen it says so, and the next preview plays on the
// device that came back.
TEST_F(LoopSynthAppTest, APreviewWhoseDeviceStopsIsClosedAndSaysSoOnce) {
  CMainFrame& frame = app->MainFrame();
  frame.show();
  int opensBeforeReturn = 0;
  float peakAfterReturn = 0.0f;
  app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
    dlg.PreviewButton()->click();
    ASSERT_TRUE(output.IsOpen());
    output.lost = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !output.IsOpen(); }, 10000));
    ASSERT_EQ(host->Texts().size(), 1u);
    EXPECT_EQ(host->Texts()[0].rfind("The audio output stopped", 0), 0u);
    EXPECT_TRUE(frame.outputPane->logList().Lines().contains(QString::fromUtf8(OutputLossWatch::kLogLine)));
    // While the server is still gone a preview cannot reopen the device: it
    // says so, once for the dialog, however often the preview runs again.
    output.lost = false;
    output.openError = "the audio server is not running";
    dlg.PreviewButton()->click();
    dlg.PreviewButton()->click();
    EXPECT_FALSE(output.IsOpen());
    ASSERT_EQ(host->Texts().size(), 2u);
    EXPECT_EQ(host->Texts()[1], "Failed to open audio device.");
    EXPECT_TRUE(frame.outputPane->logList().Lines().contains(
        QStringLiteral("Failed to open audio device: the audio server is not running")));
    // The device is back: the next preview opens it and plays.
    output.openError.clear();
    opensBeforeReturn = output.Opens();
    dlg.PreviewButton()->click();
    ASSERT_TRUE(output.Pull(44100));
    peakAfterReturn = Peak(output.Played());
    dlg.CancelButton()->click();
  };
  ASSERT_TRUE(frame.commands.Run(cmd::kGranularCloud, frame.Context()));
  EXPECT_EQ(output.Opens(), opensBeforeReturn + 1);
  EXPECT_GT(peakAfterReturn, 0.5f);
  EXPECT_EQ(host->Texts().size(), 2u);
  EXPECT_FALSE(output.IsOpen());
}

// Morph Loop and Infinite Sustain Synth keep their values in one parameter
// file: what the Morph dialog saved on OK is what the Sustain dialog shows.
TEST_F(LoopSynthAppTest, SustainOpensWithMorphsOffsetAndCrossfade) {
  // A data folder of its own: tests running beside this one in other
  // processes open and compare the shared file.
  const QByteArray home = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(dir.path().string()));
  struct RestoreHome {
    QByteArray value;
    ~RestoreHome() { qputenv("HOME", value); }
  } restoreHome{home};
  CMainFrame& frame = app->MainFrame();
  frame.show();
  QString morphIni;
  app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
    morphIni = dlg.ConfigIniPath();
    Turn(dlg, "cycleOffset", 30.0f);
    Turn(dlg, "xfade", 500.0f);
    Turn(dlg, "morph", 40.0f);  // Morph's own: not the Sustain's "Mix"
    dlg.OkButton()->click();
  };
  frame.Action(cmd::kMorphLoop)->trigger();
  EXPECT_TRUE(app->Document().CanUndo());

  std::map<std::string, std::string> shown;
  QString sustainIni;
  app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Synthesize Loop"));
    sustainIni = dlg.ConfigIniPath();
    for (const char* key : {"cycleOffset", "xfade", "step", "mix"}) shown[key] = KnobValueText(dlg, key);
    dlg.CancelButton()->click();
  };
  frame.Action(cmd::kInfiniteSustainSynth)->trigger();
  EXPECT_EQ(sustainIni, morphIni);
  EXPECT_TRUE(morphIni.startsWith(QString::fromStdString(dir.path().string()))) << morphIni.toStdString();
  EXPECT_EQ(shown["cycleOffset"], "30 %");
  EXPECT_EQ(shown["xfade"], "500 ms");
  EXPECT_EQ(shown["step"], "1");
  EXPECT_EQ(shown["mix"], "100 %");
}

TEST_F(LoopSynthAppTest, FrequencyCloudOkSplicesAndLogsItsProgress) {
  CMainFrame& frame = app->MainFrame();
  frame.show();
  CQuorvelDoc& doc = app->Document();
  std::vector<int> barValues;
  QString iniPath;
  app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
    iniPath = dlg.ConfigIniPath();
    // The bar moves while the preview renders (drawn without an event loop).
    QObject::connect(dlg.progressBar, &QProgressBar::valueChanged, [&](int v) { barValues.push_back(v); });
    dlg.PreviewButton()->click();
    dlg.OkButton()->click();
  };
  frame.Action(cmd::kFrequencyCloud)->trigger();
  EXPECT_FALSE(barValues.empty());
  EXPECT_TRUE(QFile::exists(iniPath));
  // Default "Loop Length" 200%: 4410 frames became 8820.
  EXPECT_EQ(doc.FrameCount(), 44100 + 4410);
  const QStringList lines = frame.outputPane->logList().Lines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Generating PaulStretch... 100%"));
  EXPECT_EQ(lines.back(), QStringLiteral("Generated PaulStretch Slice."));
  EXPECT_FALSE(lines.contains(QStringLiteral("Starting PaulStretch... 0%")));
  frame.Action(57643)->trigger();  // Undo
  EXPECT_EQ(doc.FrameCount(), 44100);
}

}  // namespace
}  // namespace zandrel

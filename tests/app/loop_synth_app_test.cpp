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

#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/quorvel_app.h"
#include "platform/audio_output.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/loop_synth_commands.h"
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

class LoopSynthAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel")).clear();
    host = std::make_unique<ScriptedMessageHost>();
    dialogs = std::make_unique<ScriptedFileDialogs>();
    app = std::make_unique<CQuorvelApp>();
    std::vector<int16_t> samples(44100);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 220.0 * static_cast<double>(i) / 44100.0));
    WriteFileBytes(dir / "tone.wav", MakePcm16Wav(samples));
    ASSERT_TRUE(app->InitInstance({QString::fromStdString((dir / "tone.wav").string())}));
    ViewModel& m = app->MainFrame().view->Model();
    m.loopIn = 4410;
    m.loopOut = 8820;
    m.loopPlayback = true;
  }
  void TearDown() override {
    app->ParameterDialogs().driver = {};
    if (app) app->Document().SetModifiedFlag(false);
    app.reset();
    dialogs.reset();
    host.reset();
  }

  TempDir dir;
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope{&output};
  std::unique_ptr<CQuorvelApp> app;
  std::unique_ptr<ScriptedMessageHost> host;
  std::unique_ptr<ScriptedFileDialogs> dialogs;
};

TEST_F(LoopSynthAppTest, DialogsPreviewInALoopAndCancelChangesNothing) {
  struct Case {
    int id;
    const char* title;
    const char* shot;
  } cases[] = {{cmd::kGranularCloud, "Granular Cloud Settings", "loop_synth_granular_cloud"},
               {cmd::kFrequencyCloud, "Frequency Cloud (Paul's Stretch)", "loop_synth_frequency_cloud"}};
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
    app->ParameterDialogs().driver = [&](CUniversalDlg& dlg) {
      EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8(c.title));
      iniPath = dlg.ConfigIniPath();
      iniBefore[c.id] = FileText(iniPath);
      dlg.PreviewButton()->click();  // renders and starts the looping sound at once
      EXPECT_TRUE(output.Pull(44100));
      previewPeak = Peak(output.Played());
      barHidden = !dlg.progressShown && !dlg.progressBar->isVisible();
      Photograph(dlg, c.shot);
      dlg.CancelButton()->click();
    };
    frame.Action(c.id)->trigger();
    EXPECT_GT(previewPeak, 0.5f);
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

// The circular loop sampler through the "&Tools" menu, offscreen: an audio
// input in memory (the test pushes a generated tone), an output without a
// device, scripted message boxes and file choosers.
#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <map>
#include <cstring>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/quorvel_app.h"
#include "device/dialog_driver.h"
#include "platform/audio_input.h"
#include "platform/audio_output.h"
#include "platform/settings.h"
#include "support/comma_locale.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "tools/ui/loop_sampler_dlg.h"
#include "view/quorvel_view.h"
#include "widgets/level_displays.h"
#include "widgets/markdown_text_ctrl.h"

namespace zandrel::test {
namespace {
namespace fs = std::filesystem;

// |frames| of a 441 Hz sine at half scale, from frame |from| of the tone.
std::vector<int16_t> Tone(int64_t from, int64_t frames) {
  std::vector<int16_t> pcm(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i)
    pcm[static_cast<size_t>(i)] = static_cast<int16_t>(16384 * std::sin(2 * M_PI * 441.0 * (from + i) / 44100.0));
  return pcm;
}

class LoopSamplerAppTest : public EditorOnFileTest {
 protected:
  QAction* ToolsItem(const QString& text) {
    for (QAction* menu : app->MainFrame().menuBar()->actions())
      if (menu->text() == QStringLiteral("&Tools"))
        for (QAction* a : menu->menu()->actions())
          if (a->text() == text) return a;
    return nullptr;
  }
  QStringList LogLines() { return app->MainFrame().outputPane->logList().Lines(); }

  MemoryAudioInput input;
  ScopedAudioInput inputScope{&input};
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope{&output};
};

TEST_F(LoopSamplerAppTest, FirstRunIsOfflineWithTheDefaultSettingsAndTheHelp) {
  input.AddDevice("Mic", 1);
  ASSERT_TRUE(StartEditor());
  QAction* item = ToolsItem(QStringLiteral("Circular Loop Sampler..."));
  ASSERT_NE(item, nullptr);
  bool checked = false;
  ModalDriver<CLoopSamplerDlg> driver([&](CLoopSamplerDlg& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Circular Loop Sampler"));
    EXPECT_EQ(d.TempoEdit()->text(), QStringLiteral("120"));
    EXPECT_EQ(d.BarsEdit()->text(), QStringLiteral("2"));
    EXPECT_EQ(d.NumeratorEdit()->text(), QStringLiteral("4"));
    EXPECT_EQ(d.DenominatorEdit()->text(), QStringLiteral("4"));
    EXPECT_EQ(d.LatencyEdit()->text(), QStringLiteral("50"));
    EXPECT_EQ(d.CrossfadeEdit()->text(), QStringLiteral("100"));
    EXPECT_FALSE(d.MonitorCheck()->isChecked());
    EXPECT_EQ(d.DeviceList()->count(), 2);
    EXPECT_EQ(d.DeviceList()->currentItem()->text(), QStringLiteral("Offline"));
    EXPECT_FALSE(d.InputOpen());
    EXPECT_TRUE(d.Strip()->offline);
    EXPECT_TRUE(d.Help()->isVisible());
    EXPECT_FALSE(d.TakeStack()->isVisible());
    EXPECT_EQ(d.RecVolumeLabel()->text(), QStringLiteral("Rec Volume 100%"));
    // The latency arrows stop at 500 and 0; the edit itself takes 1000.
    d.LatencyEdit()->setText(QStringLiteral("500"));
    d.OnLatencyStep(1);
    EXPECT_EQ(d.LatencyEdit()->text(), QStringLiteral("500"));
    d.LatencyEdit()->setText(QStringLiteral("0"));
    d.OnLatencyStep(-1);
    EXPECT_EQ(d.LatencyEdit()->text(), QStringLiteral("0"));
    d.LatencyEdit()->setText(QStringLiteral("1000"));
    EXPECT_EQ(d.Engine().LatencyFramesNow(), 44100);
    d.LatencyEdit()->setText(QStringLiteral("50"));
    // A loop too short for the timer, or one whose takes would not fit in
    // memory, arms nothing and says why.
    d.BarsEdit()->setText(QStringLiteral("2000000"));
    d.TempoEdit()->setText(QStringLiteral("1"));
    d.OnRecord();
    EXPECT_FALSE(d.Engine().Armed());
    EXPECT_EQ(d.Strip()->statusText, QStringLiteral("Loop too long: its takes would need more than 2 GB of memory"));
    SaveScreenshot(d, "tools_loop_sampler_too_long");
    d.BarsEdit()->setText(QStringLiteral("2"));
    d.TempoEdit()->setText(QStringLiteral("5000"));
    d.OnRecord();
    EXPECT_FALSE(d.Engine().Armed());
    EXPECT_EQ(d.Strip()->statusText, QStringLiteral("Loop length must be at least 0.1 seconds"));
    EXPECT_TRUE(d.RecordButton()->isEnabled());
    d.TempoEdit()->setText(QStringLiteral("120"));
    SaveScreenshot(d, "tools_loop_sampler_offline");
    // The help: light grey text on dark grey.
    const QImage help = d.Help()->grab().toImage();
    std::map<QRgb, int> counts;
    int brightest = 0;
    for (int y = 0; y < help.height(); ++y)
      for (int x = 0; x < help.width() - 20; ++x) {  // not the scroll bar
        const QColor c = help.pixelColor(x, y);
        ++counts[c.rgb()];
        if (c.red() == c.green() && c.green() == c.blue()) brightest = std::max(brightest, c.red());
      }
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ(QColor(most->first), QColor(30, 30, 30));
    EXPECT_EQ(brightest, 180);
    EXPECT_GT(counts[QColor(180, 180, 180).rgb()], 100);
    checked = true;
    d.reject();
  });
  item->trigger();
  EXPECT_TRUE(checked);
  EXPECT_EQ(driver.Opened(), 1);
  // Close saved the seven settings.
  EXPECT_EQ(CurrentSettings().GetString("LoopSampler", "Tempo", ""), "120");
  EXPECT_EQ(CurrentSettings().GetString("LoopSampler", "UserLatencyMS", ""), "50");
  EXPECT_FALSE(app->Document().HasAudio());
}

TEST_F(LoopSamplerAppTest, RecordsTakesWithTheSpaceBarExportsOneAndLoadsItAsAnUndoableLoop) {
  input.AddDevice("Mic", 1);
  ASSERT_TRUE(StartEditor());  // installs the settings store
  CurrentSettings().SetString("LoopSampler", "AudioInUniqueId", "Memory: Mic");
  // An older document whose loop lies beyond any take.
  WavBuilder().Fmt(1, 1, 22050, 16).Data(Pcm16(std::vector<int16_t>(300000, 7))).WriteTo(dir / "old.wav");
  ASSERT_TRUE(app->Document().LoadWav(dir / "old.wav"));
  app->Document().instrument.params.loopStart = 200000;
  app->Document().instrument.params.loopEnd = 290000;
  const std::vector<uint8_t> oldAudio = app->Document().audio.data;

  const fs::path exported = dir / "take.wav";
  WriteFileBytes(exported, Text("an earlier file"));
  dialogs->Answer(dir / "no such folder" / "x.wav").Answer(exported);
  std::vector<int16_t> expectedTake;
  int takes = 0;
  ModalDriver<CLoopSamplerDlg> driver([&](CLoopSamplerDlg& d) {
    ASSERT_TRUE(d.InputOpen());
    EXPECT_EQ(d.DeviceList()->currentItem()->text(), QStringLiteral("Mic"));
    EXPECT_EQ(input.OpenedRate(), 44100u);
    EXPECT_EQ(input.OpenedChannels(), 1);
    EXPECT_FALSE(d.Help()->isVisible());
    // Space in an edit arms recording and types nothing.
    d.TempoEdit()->setFocus();
    QTest::keyClick(d.TempoEdit(), Qt::Key_Space);
    EXPECT_EQ(d.TempoEdit()->text(), QStringLiteral("120"));
    EXPECT_TRUE(d.Engine().Armed());
    EXPECT_FALSE(d.RecordButton()->isEnabled());
    EXPECT_FALSE(d.TempoEdit()->isEnabled());
    // Two whole loops of 176400 frames and a little of a third.
    int64_t g = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const std::vector<int16_t> loop = Tone(g, 176400);
      ASSERT_TRUE(input.Push(loop));
      g += 176400;
      d.OnTimer();
    }
    input.Push(Tone(g, 4410));
    d.OnTimer();
    EXPECT_GT(d.Meter()->Model().Level(), 40);
    EXPECT_TRUE(d.Strip()->recording);
    QTest::keyClick(d.CrossfadeEdit(), Qt::Key_Space);  // stop
    EXPECT_FALSE(d.Engine().Recording());
    EXPECT_TRUE(d.RecordButton()->isEnabled());
    EXPECT_FALSE(d.StopButton()->isEnabled());
    takes = d.TakeStack()->takeCount;
    // One monitor block per input block: each push is cut into blocks of
    // 1024 frames (173 per loop, 5 for the last push).
    EXPECT_EQ(d.Engine().Monitor()->Pushed() + d.Engine().Monitor()->Dropped(), 2u * 173 + 5);

    // Export with nothing selected, then take 2 (slot 1).
    d.OnExportTake();
    const CTakeStackDisplay* stack = d.TakeStack();
    const int laneH = LaneHeight(stack->height(), stack->laneCount);
    QTest::mouseClick(d.TakeStack(), Qt::LeftButton, {}, QPoint(100, 2 + (laneH + 2) + laneH / 2));
    EXPECT_EQ(d.TakeStack()->selectedTake, 1);
    d.OnExportTake();  // the folder does not exist: an error, nothing written
    d.OnExportTake();
    expectedTake = BuildTakeBuffer(d.Engine().Takes(), 1, 100);
    d.OnPlayTake();
    EXPECT_EQ(d.PlayButton()->text(), QStringLiteral("Stop"));
    EXPECT_EQ(d.Strip()->statusText, QStringLiteral("Playing Take 2"));
    output.Pull(4096);
    SaveScreenshot(d, "tools_loop_sampler_takes");
    d.OnStop();  // ends playback only
    EXPECT_EQ(d.PlayButton()->text(), QStringLiteral("Play Take"));
    d.LoadButton()->click();
  });
  ToolsItem(QStringLiteral("Circular Loop Sampler..."))->trigger();
  ASSERT_EQ(driver.Opened(), 1);
  EXPECT_EQ(takes, 3);

  const std::vector<std::string> texts = host->Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Please select a take to export.");
  EXPECT_EQ(texts[1], "Failed to create export file.");
  EXPECT_EQ(texts[2], "Take 2 exported successfully to:\n" + exported.string() + "\n\nCrossfade applied: 100 ms");
  EXPECT_EQ(dialogs->saveRequests.back().defaultPath, fs::path("Take_2.wav"));
  // The exported file: the 44-byte header and the crossfaded take.
  const std::vector<uint8_t> bytes = ReadFileBytes(exported);
  ASSERT_EQ(bytes.size(), 44u + 352800u);
  EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
  uint32_t riff = 0, rate = 0, data = 0;
  std::memcpy(&riff, bytes.data() + 4, 4);
  std::memcpy(&rate, bytes.data() + 24, 4);
  std::memcpy(&data, bytes.data() + 40, 4);
  EXPECT_EQ(riff, 352800u + 36);
  EXPECT_EQ(rate, 44100u);
  EXPECT_EQ(data, 352800u);
  EXPECT_EQ(std::memcmp(bytes.data() + 44, expectedTake.data(), 352800), 0);

  // The loaded take: 4.00 s, 8 beats, a loop at 120 BPM, shown in beats.
  CQuorvelDoc& doc = app->Document();
  EXPECT_EQ(doc.FrameCount(), 176400);
  EXPECT_EQ(std::memcmp(doc.audio.data.data(), expectedTake.data(), 352800), 0);
  EXPECT_EQ(doc.instrument.params.beats, 8);
  EXPECT_EQ(doc.instrument.params.bars, 2);
  EXPECT_EQ(doc.instrument.params.playMode, "loop");
  EXPECT_EQ(doc.instrument.params.timeMode, "bpm");
  EXPECT_EQ(doc.instrument.params.loopStart, -1);
  EXPECT_EQ(app->MainFrame().view->Model().timelineMode, TimelineMode::kBeats);
  const QStringList log = LogLines();
  EXPECT_TRUE(log.contains(QStringLiteral("Loop recorded successfully: 4.00 seconds, 44100 Hz, 16-bit, Mono")));
  EXPECT_TRUE(log.contains(QStringLiteral("Tempo set to 120.0 BPM, display switched to beats")));
  EXPECT_EQ(input.OpenStreams(), 0);
  EXPECT_FALSE(output.IsOpen());
  SaveScreenshot(app->MainFrame(), "tools_loop_sampler_loaded");

  // One undo step brings the old sample back, loop and all.
  app->Document().Undo();
  EXPECT_EQ(doc.audio.data, oldAudio);
  EXPECT_EQ(doc.instrument.params.loopStart, 200000);
}

// A German user types the tempo with a comma: the dialog remembers it with
// a point, and the grid still counts the whole beats.
TEST_F(LoopSamplerAppTest, ATempoTypedWithACommaIsRememberedWithAPoint) {
  ASSERT_TRUE(StartEditor());  // installs the settings store
  ScopedCommaLocale comma;
  {
    CLoopSamplerDlg dialog;
    dialog.TempoEdit()->setText(QStringLiteral("120,5"));
    EXPECT_EQ(dialog.Engine().Grid().loopFrames, 176400);  // 2 bars of 4/4 at 120
    dialog.reject();
  }
  EXPECT_EQ(CurrentSettings().GetString("LoopSampler", "Tempo", ""), "120.5");
  CLoopSamplerDlg reopened;
  EXPECT_EQ(reopened.TempoEdit()->text(), QStringLiteral("120.5"));
  EXPECT_EQ(reopened.TempoText(), "120.5");
}

TEST_F(LoopSamplerAppTest, ADeviceChangeWhileRecordingGivesBackRecordAndTheEdits) {
  input.AddDevice("Mic", 1);
  input.AddDevice("Line", 1);
  ASSERT_TRUE(StartEditor());  // installs the settings store
  CurrentSettings().SetString("LoopSampler", "AudioInUniqueId", "Memory: Mic");
  bool done = false;
  ModalDriver<CLoopSamplerDlg> driver([&](CLoopSamplerDlg& d) {
    d.OnRecord();
    input.Push(Tone(0, 5000));
    EXPECT_TRUE(d.Engine().Recording());
    d.DeviceList()->setCurrentRow(2);  // Line
    EXPECT_EQ(CurrentSettings().GetString("LoopSampler", "AudioInUniqueId", ""), "Memory: Line");
    EXPECT_FALSE(d.Engine().Recording());
    EXPECT_TRUE(d.RecordButton()->isEnabled());
    EXPECT_FALSE(d.StopButton()->isEnabled());
    EXPECT_TRUE(d.TempoEdit()->isEnabled());
    EXPECT_TRUE(d.InputOpen());
    d.OnTimer();
    EXPECT_EQ(d.TakeStack()->takeCount, 0);  // the take in progress is lost
    d.OnRecord();
    EXPECT_TRUE(d.Engine().Armed());
    d.OnStop();
    done = true;
    d.LoadButton()->click();  // no take selected: an empty result
  });
  ToolsItem(QStringLiteral("Circular Loop Sampler..."))->trigger();
  EXPECT_TRUE(done);
  EXPECT_EQ(host->Texts(), (std::vector<std::string>{"No take was selected or recorded."}));
  EXPECT_FALSE(app->Document().HasAudio());
}

TEST_F(LoopSamplerAppTest, AnInputThatStopsKeepsTheFinishedTakesAndDropsTheLoopInProgress) {
  input.AddDevice("Mic", 1);
  ASSERT_TRUE(StartEditor());  // installs the settings store
  CurrentSettings().SetString("LoopSampler", "AudioInUniqueId", "Memory: Mic");
  bool done = false;
  ModalDriver<CLoopSamplerDlg> driver([&](CLoopSamplerDlg& d) {
    d.OnRecord();
    // One whole loop (4 s at 120 bpm) and half of the next.
    ASSERT_TRUE(input.Push(Tone(0, 176400)));
    ASSERT_TRUE(input.Push(Tone(176400, 88200)));
    input.Lose();
    d.OnTimer();
    EXPECT_FALSE(d.InputOpen());
    EXPECT_FALSE(d.Engine().Recording());
    EXPECT_TRUE(d.RecordButton()->isEnabled());
    EXPECT_FALSE(d.StopButton()->isEnabled());
    EXPECT_EQ(d.TakeStack()->takeCount, 1);  // the whole loop, not the half one
    ASSERT_EQ(d.Engine().Takes().size(), 1u);
    EXPECT_EQ(d.Engine().Takes()[0].size(), 176400u);
    EXPECT_EQ(input.OpenStreams(), 0);
    d.OnTimer();  // said once
    done = true;
    d.reject();
  });
  ToolsItem(QStringLiteral("Circular Loop Sampler..."))->trigger();
  EXPECT_TRUE(done);
  const std::vector<std::string> texts = host->Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("The audio input stopped. The loop being recorded was dropped", 0), 0u);
  ASSERT_FALSE(LogLines().isEmpty());
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Loop sampler: the audio input stopped; the loop being recorded was dropped.")));
}

}  // namespace
}  // namespace zandrel::test

// The editor on a JACK server of the test's own, which the test stops while
// the editor plays or records: playback, the loop sampler and the mini
// sampler each say what happened, keep what was finished, store nothing
// broken, and close. The streams are the real JACK ones (RtAudioInput and
// RtAudioOutput); the message boxes are scripted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <cmath>

#include "app/editor_on_file.h"
#include "app/output_wnd.h"
#include "device/dialog_driver.h"
#include "platform/audio_input.h"
#include "platform/audio_output.h"
#include "platform/rtaudio/rtaudio_input.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "platform/settings.h"
#include "support/jack_probe.h"
#include "support/private_jack.h"
#include "tools/ui/loop_sampler_dlg.h"
#include "tools/ui/play_instrument_dlg.h"
#include "tools/ui/tool_commands.h"
#include "view/model/view_commands.h"

namespace zandrel::test {
namespace {

// Generous: a bound against hangs on a busy machine, not a timing.
constexpr int kLimitMs = 30000;

class DeviceLossAppJack : public EditorOnFileTest {
 protected:
  void SetUp() override { ZANDREL_START_PRIVATE_JACK(server); }
  void TearDown() override {
    EditorOnFileTest::TearDown();
    server.Stop();
  }
  QStringList LogLines() { return app->MainFrame().outputPane->logList().Lines(); }
  bool Said(const std::string& start) {
    for (const std::string& t : host->Texts())
      if (t.rfind(start, 0) == 0) return true;
    return false;
  }

  PrivateJackServer server;
  RtAudioOutput output{AudioBackend::kJack, "Zandrel loss app out"};
  ScopedAudioOutput outputScope{&output};
  RtAudioInput input{AudioBackend::kJack, "Zandrel loss app in"};
  ScopedAudioInput inputScope{&input};
};

// Ten seconds of a quiet tone, so that playback is still running when the
// server goes.
Bytes TenSecondTone() {
  std::vector<int16_t> pcm(441000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(4000 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
  return MakePcm16Wav(pcm);
}

TEST_F(DeviceLossAppJack, PlaybackStopsSaysSoAndPlaysAgainOnceTheServerIsBack) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", TenSecondTone()));
  CMainFrame& frame = app->MainFrame();
  ASSERT_TRUE(frame.commands.Run(cmd::kPlayStop, frame.Context()));
  ASSERT_TRUE(view->IsPlaying()) << (host->Texts().empty() ? "" : host->Texts()[0]);
  ASSERT_TRUE(WaitUntil([&] { return view->Model().cursorFrame > 0; }, kLimitMs));

  server.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !view->IsPlaying(); }, kLimitMs));
  EXPECT_TRUE(Said("Playback stopped: the audio device is no longer available."));
  EXPECT_TRUE(LogLines().contains(QStringLiteral("Playback stopped: the audio device stopped playing.")));
  EXPECT_FALSE(output.IsOpen());
  EXPECT_FALSE(app->Document().IsModified());

  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(frame.commands.Run(cmd::kPlayStop, frame.Context()));
  EXPECT_TRUE(view->IsPlaying());
  EXPECT_TRUE(output.IsOpen());
  ASSERT_TRUE(frame.commands.Run(cmd::kPlayStop, frame.Context()));
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(DeviceLossAppJack, TheLoopSamplerKeepsItsFinishedTakesAndDropsTheOneInProgress) {
  ASSERT_TRUE(StartEditor());
  // The dummy server's capture ports, one-second loops.
  std::string identity;
  for (const AudioInputDevice& d : input.Devices())
    if (d.name == "system") identity = d.identity;
  ASSERT_FALSE(identity.empty());
  SettingsStore& s = CurrentSettings();
  s.SetString("LoopSampler", "AudioInUniqueId", identity);
  s.SetString("LoopSampler", "Tempo", "240");
  s.SetString("LoopSampler", "LoopLength", "1");
  bool done = false;
  size_t finished = 0;
  ModalDriver<CLoopSamplerDlg> driver([&](CLoopSamplerDlg& d) {
    ASSERT_TRUE(d.InputOpen());
    d.OnRecord();
    ASSERT_TRUE(WaitUntil([&] { return d.Engine().Takes().size() >= 2; }, kLimitMs));
    server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !d.InputOpen(); }, kLimitMs));
    finished = d.Engine().Takes().size();
    for (const std::vector<int16_t>& take : d.Engine().Takes()) EXPECT_EQ(take.size(), 44100u);
    EXPECT_FALSE(d.Engine().Recording());
    EXPECT_TRUE(d.RecordButton()->isEnabled());
    done = true;
    d.reject();  // closing returns
  });
  app->MainFrame().commands.Run(cmd::kCircularLoopSampler, app->MainFrame().Context());
  ASSERT_TRUE(done);
  EXPECT_GE(finished, 2u);
  EXPECT_TRUE(Said("The audio input stopped. The loop being recorded was dropped"));
  EXPECT_TRUE(LogLines().contains(
      QStringLiteral("Loop sampler: the audio input stopped; the loop being recorded was dropped.")));
  EXPECT_FALSE(app->Document().IsModified());
}

TEST_F(DeviceLossAppJack, TheMiniSamplerSaysItsOutputStoppedAndPlaysAgainWithTheNextKey) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", TenSecondTone()));
  CQuorvelDoc& doc = app->Document();
  doc.instrument.hasInstrument = true;
  doc.instrument.regions = {Region{.startSample = 0, .endSample = 441000, .loopStart = 0, .loopEnd = 441000}};
  CPlayInstrumentDlg dialog(&doc.audio, &doc.instrument);
  ASSERT_NO_FATAL_FAILURE(ShowModal(dialog));
  ASSERT_TRUE(dialog.Sounding());

  server.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !dialog.Sounding(); }, kLimitMs));
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Audio output stopped."));
  EXPECT_TRUE(Said("The audio output stopped"));
  EXPECT_FALSE(output.IsOpen());

  ASSERT_TRUE(server.Start());
  QTest::keyPress(&dialog, Qt::Key_Z);
  EXPECT_TRUE(dialog.Sounding());
  EXPECT_TRUE(output.IsOpen());
  QTest::keyRelease(&dialog, Qt::Key_Z);
  dialog.reject();  // closing returns
  EXPECT_FALSE(output.IsOpen());
}

}  // namespace
}  // namespace zandrel::test

// Playback through RtAudio on a real audio server: the private JACK server
// that scripts/jack.sh starts (JACK_DEFAULT_SERVER names it), whose dummy
// back end consumes audio in real time without a sound card. Without a
// server every test here is skipped, saying so.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "document/document_fixture.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "support/jack_probe.h"
#include "view/model/playback.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using Clock = std::chrono::steady_clock;

class JackPlaybackTest : public DocumentTest {
 protected:
  void SetUp() override {
    ZANDREL_REQUIRE_JACK_SERVER();
  }
  void Open(uint32_t rate, int64_t frames) {
    WavBuilder b;
    b.Fmt(1, 1, rate, 16);
    std::vector<int16_t> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
    b.Data(Pcm16(samples));
    ASSERT_TRUE(Doc().LoadWav(Write("tone.wav", b.Build())));
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 800;
    model->ResetForDocument();
    playback = std::make_unique<Playback>(*model);
  }
  // Runs the playhead tick every 10 ms, as the view's timer would, until
  // playback stops or |limit| passes; returns the cursor positions seen.
  std::vector<int64_t> TickUntilStopped(std::chrono::seconds limit) {
    std::vector<int64_t> seen;
    const auto deadline = Clock::now() + limit;
    while (playback->IsPlaying() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (const PlaybackSource* s = playback->Source()) copied = s->FramesCopied();
      if (!playback->Tick().stopped) seen.push_back(model->cursorFrame);
    }
    return seen;
  }

  RtAudioOutput output{AudioBackend::kJack, "zandrel-test"};
  ScopedAudioOutput scope{&output};
  std::unique_ptr<ViewModel> model;
  std::unique_ptr<Playback> playback;
  int64_t copied = 0;
};

TEST_F(JackPlaybackTest, PlaysADocumentToItsEndWithAMovingPlayhead) {
  const uint32_t rate = JackServerRate();
  const int64_t frames = rate * 3 / 10;  // 0.3 s
  Open(rate, frames);
  model->SetCursorPosition(0);
  ASSERT_TRUE(playback->Start());
  EXPECT_THAT(output.DeviceName(), ::testing::StartsWith("Jack"));
  EXPECT_EQ(output.DeviceRate(), rate);
  const auto started = Clock::now();
  const std::vector<int64_t> seen = TickUntilStopped(std::chrono::seconds(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_EQ(copied, frames);  // every frame went to the server, once
  EXPECT_GE(seconds, 0.25);   // the dummy back end plays in real time
  ASSERT_GE(seen.size(), 5u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen.back(), seen.front());
  EXPECT_GT(seen.back(), frames / 2);
  EXPECT_EQ(model->cursorFrame, 0);  // back to where playback started
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(JackPlaybackTest, ADocumentAtAnotherRateIsConverted) {
  const uint32_t rate = JackServerRate() == 22050 ? 32000 : 22050;
  const int64_t frames = rate / 5;  // 0.2 s
  Open(rate, frames);
  ASSERT_TRUE(playback->Start());
  EXPECT_EQ(output.DeviceRate(), JackServerRate());
  const auto started = Clock::now();
  TickUntilStopped(std::chrono::seconds(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_EQ(copied, frames);
  EXPECT_GE(seconds, 0.15);
}

TEST_F(JackPlaybackTest, LoopsUntilStoppedAndThenLetsGoOfTheAudio) {
  const uint32_t rate = JackServerRate();
  Open(rate, rate);
  model->SetCursorPosition(0);
  model->loopIn = 0;
  model->loopOut = 999;
  model->loopPlayback = true;
  ASSERT_TRUE(playback->Start());
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int64_t rendered = 0;
  while (rendered < 5000 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rendered = playback->Source()->FramesRendered();
    playback->Tick();
    EXPECT_GE(model->cursorFrame, 0);
    EXPECT_LE(model->cursorFrame, 999);
  }
  EXPECT_GE(rendered, 5000);
  EXPECT_TRUE(playback->Stop());
  EXPECT_FALSE(output.IsOpen());
  // The audio may now change: nothing reads it any more.
  Doc().audio.data.clear();
}

}  // namespace
}  // namespace zandrel

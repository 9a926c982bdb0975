// Audio streams whose server goes away: each test runs a JACK server of its
// own (support/private_jack.h), opens capture and playback streams on it,
// stops the server and checks that the streams say they are lost, that
// closing them returns, and that a new server can be played on again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "platform/rtaudio/rtaudio_input.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "support/jack_probe.h"
#include "support/private_jack.h"

namespace zandrel {
namespace {

using namespace std::chrono_literals;

// Waits for |done| at most |limit| (a bound against hangs, not a timing).
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit = 20s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until)
      return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class Tone final : public AudioSource {
public:
  uint32_t SampleRate() const override { return 48000; }
  int Channels() const override { return 1; }
  void Render(float *out, size_t frames) override {
    for (size_t i = 0; i < frames; ++i)
      out[i] = 0.25f * std::sin(phase_ += 0.05f);
    rendered_.fetch_add(frames, std::memory_order_relaxed);
  }
  size_t Rendered() const { return rendered_.load(std::memory_order_relaxed); }

private:
  float phase_ = 0;
  std::atomic<size_t> rendered_{0};
};

class DeviceLossJack : public ::testing::Test {
protected:
  test::PrivateJackServer server_;
};

// One round: capture and playback run, the server stops, and the streams are
// closed either at once (racing with the back end's own shutdown) or after
// they were seen lost.
void RecordStopClose(test::PrivateJackServer &server, bool closeAtOnce,
                     int round, bool withOutput) {
  SCOPED_TRACE(testing::Message() << "round " << round);
  ZANDREL_START_PRIVATE_JACK(server);
  RtAudioInput input(AudioBackend::kJack, "Zandrel loss input");
  std::atomic<size_t> captured{0};
  AudioInputError error;
  auto stream = input.Open(
      "", 44100, 2, 512,
      [&](const int16_t *, size_t frames) { captured.fetch_add(frames); },
      &error);
  ASSERT_TRUE(stream) << "round " << round << ": " << error.detail;
  RtAudioOutput output(AudioBackend::kJack, "Zandrel loss output");
  auto tone = std::make_shared<Tone>();
  std::string why;
  if (withOutput) {
    ASSERT_TRUE(output.Join(tone, &why)) << "round " << round << ": " << why;
  }
  ASSERT_TRUE(Eventually([&] {
    return captured.load() > 0 && (!withOutput || tone->Rendered() > 0);
  })) << "round "
      << round;
  EXPECT_FALSE(stream->Lost());
  EXPECT_FALSE(output.DeviceLost());

  server.Stop();
  if (!closeAtOnce) {
    EXPECT_TRUE(Eventually([&] { return stream->Lost(); }))
        << "round " << round;
    if (withOutput) {
      EXPECT_TRUE(Eventually([&] { return output.DeviceLost(); }))
          << "round " << round;
    }
  }
  const size_t got = captured.load();
  stream->Close();
  output.Leave(tone.get());
  EXPECT_FALSE(output.IsOpen());
  // Nothing arrives after the close.
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(captured.load(), got);
}

// Thirty rounds, half of them closing at once (racing the server's going),
// half after the loss was seen; every other round with playback too.
TEST_F(DeviceLossJack, RecordingNoticesTheServerStoppingAndClosesEveryTime) {
  for (int round = 0; round < 30; ++round) {
    RecordStopClose(server_, round % 2 == 0, round, round % 4 < 2);
    if (HasFatalFailure() || IsSkipped())
      return;
  }
}

TEST_F(DeviceLossJack, PlaybackOpensAgainOnceTheServerIsBack) {
  RtAudioOutput output(AudioBackend::kJack, "Zandrel loss output");
  auto tone = std::make_shared<Tone>();
  ZANDREL_START_PRIVATE_JACK(server_);
  ASSERT_TRUE(output.Join(tone));
  ASSERT_TRUE(Eventually([&] { return tone->Rendered() > 0; }));
  server_.Stop();
  ASSERT_TRUE(Eventually([&] { return output.DeviceLost(); }));
  output.Leave(tone.get());

  // With no server, joining fails and says why.
  std::string why;
  EXPECT_FALSE(output.Join(tone, &why));
  EXPECT_FALSE(why.empty());

  ZANDREL_START_PRIVATE_JACK(server_);
  const size_t before = tone->Rendered();
  ASSERT_TRUE(output.Join(tone, &why)) << why;
  EXPECT_TRUE(Eventually([&] { return tone->Rendered() > before; }));
  EXPECT_FALSE(output.DeviceLost());
  output.Leave(tone.get());
}

} // namespace
} // namespace zandrel

// Recording from a real audio server: an RtAudio output client of the test
// plays a sine, RtAudioInput captures it (the server runs at its own rate,
// the stream at 44.1 kHz), and the loop sampler engine records a take from
// the captured blocks. scripts/jack.sh starts a private server; without one
// the tests are skipped, saying so.
#include <gtest/gtest.h>

#include <RtAudio.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/rtaudio/rtaudio_input.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "processing/pcm_preview_source.h"
#include "support/jack_probe.h"
#include "tools/sampling/loop_sampler_engine.h"

namespace zandrel {
namespace {

constexpr double kHz = 1000.0;
constexpr double kAmplitude = 0.5;

// One second of a 1 kHz sine at 44.1 kHz: whole cycles, so it loops cleanly.
std::vector<int16_t> Sine() {
  std::vector<int16_t> pcm(44100);
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(std::lrint(std::sin(2 * M_PI * kHz * i / 44100.0) * kAmplitude * 32767));
  return pcm;
}

double Frequency(const std::vector<int16_t>& x, size_t from, size_t to, double rate) {
  std::vector<size_t> ups;
  for (size_t i = from + 1; i < to && i < x.size(); ++i)
    if (x[i - 1] < 0 && x[i] >= 0) ups.push_back(i);
  if (ups.size() < 2) return 0;
  return rate * static_cast<double>(ups.size() - 1) / static_cast<double>(ups.back() - ups.front());
}

int Peak(const std::vector<int16_t>& x, size_t from, size_t to) {
  int p = 0;
  for (size_t i = from; i < to && i < x.size(); ++i) p = std::max(p, std::abs(static_cast<int>(x[i])));
  return p;
}

// A sine playing through an RtAudio output on the server, as a client named
// |name| that the input lists as a device.
struct SinePlayer {
  explicit SinePlayer(const std::string& name) : output(AudioBackend::kJack, name), scope(&output) {
    source = std::make_shared<PcmPreviewSource>(Sine(), 44100, 1, true);
    ok = CurrentAudioOutput().Join(source, &error);
  }
  ~SinePlayer() { CurrentAudioOutput().Leave(source.get()); }
  RtAudioOutput output;
  ScopedAudioOutput scope;
  std::shared_ptr<PcmPreviewSource> source;
  std::string error;
  bool ok = false;
};

std::string IdentityOf(RtAudioInput& input, const std::string& client) {
  for (const AudioInputDevice& d : input.Devices())
    if (d.name.find(client) != std::string::npos) return d.identity;
  return {};
}

TEST(RtAudioInputErrors, DriverErrorsMapOntoTheToolsCodes) {
  const std::pair<RtAudioError::Type, int> cases[] = {
      {RtAudioError::INVALID_DEVICE, 2},    {RtAudioError::NO_DEVICES_FOUND, 6}, {RtAudioError::MEMORY_ERROR, 7},
      {RtAudioError::INVALID_PARAMETER, 32}, {RtAudioError::INVALID_USE, 32},     {RtAudioError::SYSTEM_ERROR, 4},
  };
  for (const auto& [type, code] : cases) EXPECT_EQ(AudioInputErrorCode(type, "x"), code) << type;
  EXPECT_EQ(AudioInputErrorCode(RtAudioError::INVALID_PARAMETER, "Device or resource busy"), 4);
}

TEST(RtAudioInputJack, CapturesASineFromAnOutputClientAtItsPitchAndLevel) {
  ZANDREL_REQUIRE_JACK_SERVER();
  SinePlayer player("zandrel-sine-out");
  ASSERT_TRUE(player.ok) << player.error;
  RtAudioInput input(AudioBackend::kJack, "zandrel-capture");
  const std::string identity = IdentityOf(input, "zandrel-sine-out");
  ASSERT_FALSE(identity.empty());
  EXPECT_EQ(identity.substr(identity.find(": ")), ": zandrel-sine-out");  // "<back end>: <name>"

  std::vector<int16_t> captured(44100 * 2);
  std::atomic<size_t> written{0};
  std::atomic<size_t> largestBlock{0};
  AudioInputError error;
  std::unique_ptr<AudioInputStream> stream = input.Open(
      identity, 44100, 1, 512,
      [&](const int16_t* frames, size_t n) {
        size_t w = written.load(std::memory_order_relaxed);
        for (size_t i = 0; i < n && w < captured.size(); ++i) captured[w++] = frames[i];
        written.store(w, std::memory_order_release);
        if (n > largestBlock.load()) largestBlock.store(n);
      },
      &error);
  ASSERT_NE(stream, nullptr) << error.code << " " << error.detail;
  EXPECT_EQ(stream->SampleRate(), 44100u);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  stream->Close();
  const size_t n = written.load();
  EXPECT_LE(largestBlock.load(), 512u);

  // Skip the first 0.2 s: the connection and the converter settle.
  ASSERT_GT(n, 44100u / 2);
  EXPECT_NEAR(Frequency(captured, 8820, n, 44100), kHz, kHz * 0.005);
  EXPECT_NEAR(Peak(captured, 8820, n), kAmplitude * 32767, 0.03 * 32767);
  // Nothing arrives after Close returned.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(written.load(), n);
}

TEST(RtAudioInputJack, AnUnknownDeviceFailsWithCodeTwo) {
  ZANDREL_REQUIRE_JACK_SERVER();
  RtAudioInput input(AudioBackend::kJack, "zandrel-capture");
  AudioInputError error;
  EXPECT_EQ(input.Open("JACK: no such client", 44100, 1, 512, [](const int16_t*, size_t) {}, &error), nullptr);
  EXPECT_EQ(error.code, AudioInputError::kBadDevice);
}

TEST(RtAudioInputJack, TheLoopSamplerRecordsATakeFromTheInput) {
  ZANDREL_REQUIRE_JACK_SERVER();
  SinePlayer player("zandrel-sine-loop");
  ASSERT_TRUE(player.ok) << player.error;
  RtAudioInput input(AudioBackend::kJack, "zandrel-loop-capture");
  const std::string identity = IdentityOf(input, "zandrel-sine-loop");
  ASSERT_FALSE(identity.empty());

  LoopSamplerEngine engine(1024);
  engine.SetGrid(ComputeLoopGrid("240", "1", "1", "4"));  // 0.25 s
  AudioInputError error;
  std::unique_ptr<AudioInputStream> stream = input.Open(
      identity, 44100, 1, 1024, [&](const int16_t* frames, size_t n) { engine.OnInputBlock(frames, n); }, &error);
  ASSERT_NE(stream, nullptr) << error.code << " " << error.detail;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(engine.Record(), LoopSamplerEngine::RecordResult::kStarted);
  // 40 ms timer ticks until three takes are in: 0.75 s of audio, which on a
  // loaded machine the server's clock may take far longer than 0.8 s of the
  // wall's to deliver (its cycles wait for late clients).
  for (int i = 0; i < 500 && engine.Takes().size() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    engine.TimerTick();
  }
  stream->Close();
  engine.Stop();
  ASSERT_GE(engine.Takes().size(), 3u);
  const std::vector<int16_t>& take = engine.Takes()[1];  // a whole loop
  ASSERT_EQ(take.size(), 11025u);
  EXPECT_NEAR(Frequency(take, 0, take.size(), 44100), kHz, kHz * 0.005);
  EXPECT_NEAR(Peak(take, 0, take.size()), kAmplitude * 32767, 0.03 * 32767);
}

}  // namespace
}  // namespace zandrel

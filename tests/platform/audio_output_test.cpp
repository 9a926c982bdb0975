#include "platform/audio_output.h"

#include <gmock/gmock.h>

#include <cmath>
#include <numbers>

#include "platform/log_sink.h"
#include "support/test_host.h"

namespace zandrel {
namespace {

using ::testing::ElementsAre;

// A source that plays a fixed list of frames and counts what it was asked for.
class ListSource final : public AudioSource {
 public:
  ListSource(uint32_t rate, int channels, std::vector<float> samples)
      : rate_(rate), channels_(channels), samples_(std::move(samples)) {}
  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }
  void Render(float* out, size_t frames) override {
    for (size_t i = 0; i < frames * static_cast<size_t>(channels_); ++i)
      out[i] = position_ + i < samples_.size() ? samples_[position_ + i] : 0.0f;
    position_ += frames * static_cast<size_t>(channels_);
    rendered += frames;
  }
  size_t rendered = 0;

 private:
  uint32_t rate_;
  int channels_;
  std::vector<float> samples_;
  size_t position_ = 0;
};

// A sine of |hz| at |rate|, |frames| long, amplitude 0.5.
std::vector<float> Sine(double hz, uint32_t rate, size_t frames) {
  std::vector<float> s(frames);
  for (size_t i = 0; i < frames; ++i) s[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * i / rate));
  return s;
}

TEST(AudioOutputTest, WithoutAnInstalledOutputNothingJoins) {
  auto source = std::make_shared<ListSource>(44100, 1, std::vector<float>{0.1f});
  std::string error;
  EXPECT_FALSE(CurrentAudioOutput().Join(source, &error));
  EXPECT_EQ(error, "no audio output is installed");
  MemoryAudioOutput memory;
  {
    ScopedAudioOutput scope(&memory);
    EXPECT_EQ(&CurrentAudioOutput(), &memory);
  }
  EXPECT_NE(&CurrentAudioOutput(), &memory);
}

TEST(AudioOutputTest, OpensForTheFirstSourceAndClosesAfterTheLast) {
  MemoryAudioOutput out;
  auto a = std::make_shared<ListSource>(48000, 1, std::vector<float>{0.25f, 0.5f});
  auto b = std::make_shared<ListSource>(48000, 1, std::vector<float>{0.5f, 0.75f});
  EXPECT_FALSE(out.Pull(2));  // closed
  ASSERT_TRUE(out.Join(a));
  EXPECT_EQ(out.DeviceRate(), 48000u);  // the first source's rate
  ASSERT_TRUE(out.Join(b));
  EXPECT_EQ(out.Opens(), 1);
  ASSERT_TRUE(out.Pull(2));
  // Mixed, and clipped at full scale.
  EXPECT_THAT(out.Played(), ElementsAre(0.75f, 1.0f));
  out.Leave(a.get());
  EXPECT_TRUE(out.IsOpen());
  EXPECT_FALSE(out.Joined(a.get()));
  ASSERT_TRUE(out.Pull(1));
  EXPECT_EQ(a->rendered, 2u);  // left alone after Leave
  out.Leave(b.get());
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(out.Closes(), 1);
  out.Leave(b.get());  // not joined: nothing
  EXPECT_EQ(out.Closes(), 1);
}

TEST(AudioOutputTest, ALostDeviceThatNobodyLeavesIsClosedAfterItsUsersHadTheirTurn) {
  MemoryAudioOutput out;
  OutputLossWatch watch;
  auto preview = std::make_shared<ListSource>(48000, 1, std::vector<float>(64, 0.25f));
  auto monitor = std::make_shared<ListSource>(48000, 1, std::vector<float>(64, 0.25f));
  ASSERT_TRUE(out.Join(preview));
  ASSERT_TRUE(out.Join(monitor));
  EXPECT_FALSE(watch.Check(out));  // a playing device: nothing to do
  out.lost = true;
  // The checks before the last leave the device to its users...
  for (int i = 1; i < OutputLossWatch::kChecks; ++i) EXPECT_FALSE(watch.Check(out));
  EXPECT_TRUE(out.Joined(preview.get()));
  // ...then every source leaves and the device closes, once.
  EXPECT_TRUE(watch.Check(out));
  EXPECT_FALSE(out.Joined(preview.get()));
  EXPECT_FALSE(out.Joined(monitor.get()));
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(out.Closes(), 1);
  EXPECT_FALSE(watch.Check(out));
  out.Leave(preview.get());  // its owner's own stop later: nothing
  EXPECT_EQ(out.Closes(), 1);
  // Once the device is back, the next preview opens it anew and plays.
  out.lost = false;
  ASSERT_TRUE(out.Join(preview));
  EXPECT_EQ(out.Opens(), 2);
  ASSERT_TRUE(out.Pull(2));
  EXPECT_THAT(out.Played(), ElementsAre(0.25f, 0.25f));
}

TEST(AudioOutputTest, AFailedOpenReportsWhy) {
  MemoryAudioOutput out;
  out.openError = "device busy";
  std::string error;
  EXPECT_FALSE(out.Join(std::make_shared<ListSource>(44100, 1, std::vector<float>{}), &error));
  EXPECT_EQ(error, "device busy");
  EXPECT_FALSE(out.IsOpen());
  EXPECT_FALSE(out.Join(std::make_shared<ListSource>(0, 1, std::vector<float>{}), &error));
  EXPECT_FALSE(out.Join(std::make_shared<ListSource>(44100, 3, std::vector<float>{}), &error));
}

// After a lost device was closed, a preview started while its server is
// still gone cannot reopen it: the preview says so instead of staying
// silent, and plays once the device is back.
TEST(AudioOutputTest, APreviewThatCannotReopenALostDeviceSaysSo) {
  MemoryAudioOutput out;
  ScopedAudioOutput installed(&out);
  OutputLossWatch watch;
  auto first = std::make_shared<ListSource>(48000, 1, std::vector<float>(64, 0.25f));
  ASSERT_TRUE(JoinOrReport(first));
  out.lost = true;
  for (int i = 0; i < OutputLossWatch::kChecks; ++i) watch.Check(out);
  ASSERT_FALSE(out.IsOpen());

  out.openError = "the audio server is not running";
  test::ScriptedMessageHost host;
  MemoryLog log;
  auto next = std::make_shared<ListSource>(48000, 1, std::vector<float>(64, 0.5f));
  EXPECT_FALSE(JoinOrReport(next, &log));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, "Failed to open audio device.");
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Error);
  EXPECT_THAT(log.Lines(), ElementsAre("Failed to open audio device: the audio server is not running"));

  out.openError.clear();
  out.lost = false;
  EXPECT_TRUE(JoinOrReport(next, &log));
  EXPECT_EQ(host.Shown().size(), 1u);
  ASSERT_TRUE(out.Pull(1));
  EXPECT_THAT(out.Played(), ElementsAre(0.5f));
}

TEST(AudioOutputTest, SpreadsMonoAndAveragesStereoByTheDevicesChannels) {
  MemoryAudioOutput stereo;
  stereo.channels = 2;
  auto mono = std::make_shared<ListSource>(44100, 1, std::vector<float>{0.5f});
  ASSERT_TRUE(stereo.Join(mono));
  ASSERT_TRUE(stereo.Pull(1));
  EXPECT_THAT(stereo.Played(), ElementsAre(0.5f, 0.5f));

  MemoryAudioOutput single;
  auto pair = std::make_shared<ListSource>(44100, 2, std::vector<float>{0.5f, -0.25f});
  ASSERT_TRUE(single.Join(pair));
  ASSERT_TRUE(single.Pull(1));
  EXPECT_THAT(single.Played(), ElementsAre(0.125f));
}

TEST(AudioOutputTest, ConvertsASourceToTheDevicesRate) {
  // A 44.1 kHz source on a 48 kHz device: 1 kHz stays 1 kHz, its level
  // stays, and the source is asked for what the device consumed.
  for (uint32_t deviceRate : {48000u, 22050u}) {
    SCOPED_TRACE(deviceRate);
    MemoryAudioOutput out;
    out.rate = deviceRate;
    auto source = std::make_shared<ListSource>(44100, 1, Sine(1000, 44100, 44100));
    ASSERT_TRUE(out.Join(source));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(out.Pull(deviceRate / 200 + 7));  // odd block sizes
    const std::vector<float> played = out.Played();
    const double seconds = static_cast<double>(played.size()) / deviceRate;
    int crossings = 0;
    float peak = 0;
    for (size_t i = 1; i < played.size(); ++i) {
      if ((played[i - 1] < 0) != (played[i] < 0)) ++crossings;
      peak = std::max(peak, std::fabs(played[i]));
    }
    EXPECT_NEAR(crossings / seconds / 2, 1000, 5);
    EXPECT_NEAR(peak, 0.5, 0.01);
    // A few frames of look-ahead at most: the interpolation window and the
    // rounding of a block's needs.
    EXPECT_NEAR(static_cast<double>(source->rendered), seconds * 44100, 8);
  }
}

TEST(AudioOutputTest, TheSameRateIsPassedThroughUnchanged) {
  MemoryAudioOutput out;
  out.rate = 44100;
  const std::vector<float> sine = Sine(440, 44100, 2000);
  auto source = std::make_shared<ListSource>(44100, 1, sine);
  ASSERT_TRUE(out.Join(source));
  ASSERT_TRUE(out.Pull(700));
  ASSERT_TRUE(out.Pull(1300));
  EXPECT_EQ(out.Played(), sine);
  EXPECT_EQ(source->rendered, 2000u);
}

}  // namespace
}  // namespace zandrel

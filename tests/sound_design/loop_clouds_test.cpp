#include "sound_design/loop_clouds.h"

#include <gmock/gmock.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;

// |frames| frames of a sine of |hz| at |amplitude| on every channel.
std::vector<int16_t> Sine(int64_t frames, double hz, double amplitude = 20000.0, int channels = 1,
                          uint32_t rate = kRate) {
  std::vector<int16_t> s(static_cast<size_t>(frames * channels));
  for (int64_t k = 0; k < frames; ++k)
    for (int c = 0; c < channels; ++c)
      s[static_cast<size_t>(k * channels + c)] =
          static_cast<int16_t>(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(k) / rate));
  return s;
}

LoopPcm Pcm(const std::vector<int16_t>& s, int channels = 1, uint32_t rate = kRate) { return {s, channels, rate}; }

int CloudPeak(const std::vector<int16_t>& s) {
  int peak = 0;
  for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
  return peak;
}

// The frequency of a narrow-band signal on channel 0: its rising zero
// crossings per second.
double CrossingRate(const std::vector<int16_t>& s, int channels, uint32_t rate = kRate) {
  int crossings = 0;
  for (size_t k = static_cast<size_t>(channels); k < s.size(); k += static_cast<size_t>(channels))
    if (s[k - static_cast<size_t>(channels)] <= 0 && s[k] > 0) ++crossings;
  return crossings * static_cast<double>(rate) / (static_cast<double>(s.size()) / channels);
}

// Both engines behind one signature, so the shared properties run as a table.
struct Engine {
  std::string name;
  std::function<std::vector<int16_t>(const LoopPcm&, Rand15&, const CloudProgress&)> run;
};

std::vector<Engine> Engines() {
  return {
      {"granular",
       [](const LoopPcm& l, Rand15& r, const CloudProgress& p) { return GenerateGranularCloud(l, GranularParams{}, r, p); }},
      {"paulstretch",
       [](const LoopPcm& l, Rand15& r, const CloudProgress& p) { return PaulStretchSlice(l, PaulStretchParams{}, r, p); }},
  };
}

TEST(Rand15Test, FromStateOneGivesTheKnownSequence) {
  Rand15 r(1);
  EXPECT_EQ(r.Next(), 41);
  EXPECT_EQ(r.Next(), 18467);
  EXPECT_EQ(r.Next(), 6334);
  EXPECT_EQ(r.Next(), 26500);
  EXPECT_EQ(r.Next(), 19169);
}

TEST(LoopCloudsTest, GranularTargetLengthFollowsRatioAndMixQuantisation) {
  struct Case {
    double ratio;
    float mix;
    size_t frames;
  } cases[] = {
      {2.0, 1.0f, 88200},   // 200%, mix 1: the plain product
      {2.3, 0.5f, 88200},   // 230% with a blend: rounded to 2 loops
      {2.6, 0.5f, 132300},  // 260% with a blend: 3 loops
      {2.6, 1.0f, 114660},  // without a blend no rounding
      {1.0, 0.0f, 44100},
  };
  const auto loop = Sine(44100, 441.0);
  for (const Case& c : cases) {
    Rand15 r(1);
    GranularParams p;
    p.lengthRatio = c.ratio;
    p.mix = c.mix;
    EXPECT_EQ(GenerateGranularCloud(Pcm(loop), p, r).size(), c.frames) << c.ratio << " " << c.mix;
  }
}

TEST(LoopCloudsTest, FrequencyCloudWindowHopAndStretchFloor) {
  EXPECT_EQ(PaulStretchWindow(250.0f, 44100), 16384);  // d = 11025
  EXPECT_EQ(PaulStretchWindow(250.0f, 44100) / 4, 4096);
  EXPECT_EQ(PaulStretchWindow(1000.0f, 44100), 65536);
  EXPECT_EQ(PaulStretchWindow(20.0f, 8000), 256);  // d = 160
  // 20 ms at 100 Hz asks for 2 frames: the hop would be 0; 4 keeps it at 1.
  EXPECT_EQ(PaulStretchWindow(20.0f, 100), 4);
  EXPECT_FLOAT_EQ(PaulStretchFactor(1.0f, -1.0f), 0.1f);
  EXPECT_FLOAT_EQ(PaulStretchFactor(4.0f, 0.5f), 4.5f);
  // A window that small still ends, with T frames.
  const auto loop = Sine(50, 10.0, 20000.0, 1, 100);
  Rand15 r(1);
  PaulStretchParams p;
  p.windowMs = 20.0f;
  p.stretch = 0.0f;  // taken as 0.1
  EXPECT_EQ(PaulStretchSlice(Pcm(loop, 1, 100), p, r).size(), 100u);
}

TEST(LoopCloudsTest, FrequencyCloudLengthIsTenLoopsAtThousandPercent) {
  const auto loop = Sine(4410, 441.0, 20000.0, 2);
  Rand15 r(1);
  PaulStretchParams p;
  p.lengthRatio = 10.0f;
  p.windowMs = 50.0f;
  EXPECT_EQ(PaulStretchSlice(Pcm(loop, 2), p, r).size(), 2u * 44100);
  p.lengthRatio = 2.3f;
  p.mix = 0.5f;
  EXPECT_EQ(PaulStretchSlice(Pcm(loop, 2), p, r).size(), 2u * 2 * 4410);
}

TEST(LoopCloudsTest, NonSilentResultsPeakAt30000AndSilenceStaysSilent) {
  const auto tone = Sine(22050, 220.0, 5000.0, 2);
  const std::vector<int16_t> silence(2 * 22050, 0);
  for (const Engine& e : Engines()) {
    Rand15 r(1);
    const auto out = e.run(Pcm(tone, 2), r, {});
    ASSERT_EQ(out.size(), 2u * 44100) << e.name;
    EXPECT_THAT(CloudPeak(out), ::testing::AnyOf(29999, 30000)) << e.name;
    const auto quiet = e.run(Pcm(silence, 2), r, {});
    ASSERT_EQ(quiet.size(), 2u * 44100) << e.name;
    EXPECT_EQ(CloudPeak(quiet), 0) << e.name;
  }
}

TEST(LoopCloudsTest, EqualSeedsGiveEqualResultsAndRunsContinueTheSequence) {
  const auto tone = Sine(11025, 330.0);
  for (const Engine& e : Engines()) {
    Rand15 a(1), b(1);
    const auto first = e.run(Pcm(tone), a, {});
    EXPECT_EQ(first, e.run(Pcm(tone), b, {})) << e.name;
    EXPECT_EQ(a.State(), b.State());
    EXPECT_NE(a.State(), 1u) << e.name << " drew no random numbers";
    // The next run continues the sequence and so gives another texture.
    EXPECT_NE(first, e.run(Pcm(tone), a, {})) << e.name;
  }
}

TEST(LoopCloudsTest, ResultLoopsWithoutAJump) {
  // A sine whose loop is whole periods: the result's wrap from its last frame
  // to its first must step no further than the steps inside the result.
  const auto tone = Sine(44100, 220.0, 20000.0);
  for (const Engine& e : Engines()) {
    Rand15 r(1);
    const auto out = e.run(Pcm(tone), r, {});
    ASSERT_GT(out.size(), 2u);
    int inner = 0;
    for (size_t k = 1; k < out.size(); ++k) inner = std::max(inner, std::abs(out[k] - out[k - 1]));
    EXPECT_LE(std::abs(out.front() - out.back()), inner) << e.name;
  }
}

TEST(LoopCloudsTest, SineKeepsItsPitch) {
  const auto tone = Sine(44100, 441.0);
  GranularParams g;
  g.jitter = 0.0f;
  Rand15 r(1);
  const auto grains = GenerateGranularCloud(Pcm(tone), g, r);
  const auto stretched = PaulStretchSlice(Pcm(tone), PaulStretchParams{}, r);
  // A semitone would be 26 Hz off.
  EXPECT_NEAR(CrossingRate(grains, 1), 441.0, 3.0);
  EXPECT_NEAR(CrossingRate(stretched, 1), 441.0, 3.0);
}

TEST(LoopCloudsTest, ProgressRisesToHundredAndFalseStopsTheWork) {
  const auto tone = Sine(22050, 220.0);
  for (const Engine& e : Engines()) {
    std::vector<int> seen;
    Rand15 r(1);
    const auto out = e.run(Pcm(tone), r, [&](int p) {
      seen.push_back(p);
      return true;
    });
    ASSERT_FALSE(out.empty());
    ASSERT_GE(seen.size(), 3u) << e.name;
    EXPECT_EQ(seen.front(), 0) << e.name;
    EXPECT_EQ(seen.back(), 100) << e.name;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << e.name;
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << e.name << ": a value twice";

    // Stopping at the third report ends the work there: no result.
    int calls = 0;
    EXPECT_TRUE(e.run(Pcm(tone), r, [&](int) { return ++calls < 3; }).empty()) << e.name;
    EXPECT_EQ(calls, 3) << e.name;
  }
}

TEST(LoopCloudsTest, EdgeLoopsGiveTheirLengthsOrNothing) {
  struct Case {
    int64_t frames;
    int channels;
    uint32_t rate;
  } cases[] = {{1, 1, 8000}, {9, 2, 44100}, {513, 1, 192000}, {44100, 2, 8000}};
  for (const Case& c : cases) {
    const auto loop = Sine(c.frames, 100.0, 20000.0, c.channels, c.rate);
    Rand15 r(1);
    GranularParams g;
    g.lengthRatio = 6.0;
    PaulStretchParams p;
    p.lengthRatio = 3.0f;
    p.windowMs = 20.0f;
    const size_t frames = static_cast<size_t>(c.frames);
    EXPECT_EQ(GenerateGranularCloud(Pcm(loop, c.channels, c.rate), g, r).size(), 6 * frames * c.channels) << c.frames;
    EXPECT_EQ(PaulStretchSlice(Pcm(loop, c.channels, c.rate), p, r).size(), 3 * frames * c.channels) << c.frames;
  }
  Rand15 r(1);
  EXPECT_TRUE(GenerateGranularCloud(LoopPcm{}, GranularParams{}, r).empty());
  EXPECT_TRUE(PaulStretchSlice(LoopPcm{}, PaulStretchParams{}, r).empty());
  EXPECT_EQ(r.State(), 1u);
}

TEST(LoopCloudsTest, FrequencyCloudAtStretchOneAndHalfwayPosition) {
  // Stretch 1 centres its frames (the first read the loop's end); position
  // 0.5 with stretch 4 starts in the loop's middle. Both still loop at T.
  const auto tone = Sine(8820, 441.0);
  for (float stretch : {1.0f, 4.0f}) {
    PaulStretchParams p;
    p.stretch = stretch;
    p.position = 0.5f;
    p.windowMs = 50.0f;
    Rand15 r(1);
    const auto out = PaulStretchSlice(Pcm(tone), p, r);
    ASSERT_EQ(out.size(), 2u * 8820);
    EXPECT_THAT(CloudPeak(out), ::testing::AnyOf(29999, 30000));
  }
}

}  // namespace
}  // namespace zandrel

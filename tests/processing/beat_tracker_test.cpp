#include "processing/beat_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

namespace zandrel {
namespace {

// Mono 16-bit PCM: a click (a 10 ms burst of decaying noise) every 60 / bpm
// seconds, the first at 0.1 s, over digital silence or a noise floor of
// |floor| (full scale 1).
std::vector<uint8_t> ClickTrack(double bpm, double seconds, uint32_t rate = 44100, double floor = 0.0) {
  const auto frames = static_cast<size_t>(seconds * rate);
  std::vector<uint8_t> pcm(frames * 2, 0);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  for (size_t i = 0; i < frames && floor > 0; ++i) {
    const auto s = static_cast<int16_t>(floor * noise(rng) * 32767);
    pcm[2 * i] = static_cast<uint8_t>(s);
    pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
  }
  const double period = 60.0 / bpm;
  const auto clickLength = static_cast<size_t>(0.01 * rate);
  for (double t = 0.1; t < seconds; t += period) {
    const auto start = static_cast<size_t>(t * rate);
    for (size_t i = 0; i < clickLength && start + i < frames; ++i) {
      const double v = 0.8 * noise(rng) * std::exp(-5.0 * static_cast<double>(i) / clickLength);
      const auto s = static_cast<int16_t>(v * 32767);
      pcm[2 * (start + i)] = static_cast<uint8_t>(s);
      pcm[2 * (start + i) + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
  }
  return pcm;
}

TEST(BeatTrackerTest, ClickTrackAt120BpmGivesAHalfSecondGrid) {
  for (uint32_t rate : {44100u, 48000u}) {
    SCOPED_TRACE(rate);
    BeatDetector detector;
    const auto beats = DetectBeats(detector, ClickTrack(120, 14, rate), 1, rate, 16);
    ASSERT_GE(beats.size(), 20u);
    const double period = (beats.back() - beats.front()) / static_cast<double>(beats.size() - 1);
    EXPECT_NEAR(period, 0.5, 0.005);
    EXPECT_GE(beats.front(), 0.0);
    EXPECT_LT(beats.front(), 0.45);
    EXPECT_LE(beats.back(), 14.0);
    EXPECT_NEAR(60.0 / period, 120.0, 1.0);
    EXPECT_NE(detector.tracker, nullptr);  // the run's tracker stays with the detector
    ReleaseTempoTracker(detector);
    EXPECT_EQ(detector.tracker, nullptr);
  }
}

TEST(BeatTrackerTest, SilenceHasNoBeats) {
  BeatDetector detector;
  EXPECT_TRUE(DetectBeats(detector, std::vector<uint8_t>(2 * 44100 * 8, 0), 1, 44100, 16).empty());
  // Clicks one 16-bit step high (-90 dBFS at their peak): every hop stays
  // below the -90 dB gate, so no beat is reported.
  std::vector<uint8_t> faint = ClickTrack(120, 8);
  for (size_t i = 0; i < faint.size(); i += 2) {
    const auto s = static_cast<int16_t>(faint[i] | (faint[i + 1] << 8));
    const int16_t step = s > 0 ? 1 : s < 0 ? -1 : 0;
    faint[i] = static_cast<uint8_t>(step);
    faint[i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(step) >> 8);
  }
  EXPECT_TRUE(DetectBeats(detector, faint, 1, 44100, 16).empty());
  EXPECT_TRUE(DetectBeats(detector, {}, 1, 44100, 16).empty());
  EXPECT_TRUE(DetectBeats(detector, ClickTrack(120, 8), 1, 0, 16).empty());
  // Too low a rate for a detection window (4 hops, no room for a beat).
  EXPECT_TRUE(DetectBeats(detector, ClickTrack(120, 8, 400), 1, 400, 16).empty());
  // A corrupt header's rate is refused before a detection window is sized for it.
  EXPECT_TRUE(DetectBeats(detector, ClickTrack(120, 8), 1, 4000000000u, 16).empty());
  EXPECT_EQ(detector.tracker, nullptr);
}

TEST(BeatTrackerTest, ParallelRunEqualsTheHopByHopTracker) {
  const FloatVec mono = PcmToMonoFloat(ClickTrack(128, 14, 44100, 0.001), 1, 16);
  // The reference: one tracker fed hop by hop, as TrackBeats describes it.
  std::vector<double> expected;
  {
    auto tracker = NewTempoTracker(44100);
    FloatVec signal = mono;
    signal.resize(mono.size() + 2 * 44100, 0.0f);
    for (size_t o = 0; o + kBeatHopSize <= signal.size(); o += kBeatHopSize) {
      if (TempoTrackerStep(*tracker, signal, o / kBeatHopSize) == 0.0f) continue;
      const double t = static_cast<double>(tracker->lastBeat) / 44100;
      if (t <= static_cast<double>(mono.size()) / 44100) expected.push_back(t);
    }
  }
  ASSERT_GT(expected.size(), 15u);
  for (unsigned threads : {1u, 3u, 7u}) {
    BeatDetector detector;
    EXPECT_EQ(TrackBeats(mono, 44100, detector, threads), expected) << threads << " threads";
  }
}

TEST(BeatTrackerTest, GridFollowsTheMedianIntervalWithinTempoBounds) {
  struct Case {
    const char* what;
    double spacing, expectedPeriod;
  };
  for (const Case& c :
       {Case{"150 BPM kept", 0.4, 0.4}, Case{"200 BPM halved", 0.3, 0.6}, Case{"60 BPM doubled", 1.0, 0.5}}) {
    std::vector<double> beats;
    for (double t = 0.23; t < 12.0; t += c.spacing) beats.push_back(t);
    const auto grid = FitBeatGrid(beats, 12.0);
    ASSERT_GE(grid.size(), 2u) << c.what;
    EXPECT_NEAR(grid[1] - grid[0], c.expectedPeriod, 1e-9) << c.what;
    // The grid runs through the beats (at 200 BPM through every other one,
    // either half; at 60 BPM through them and the points between).
    const double on = std::min(c.spacing, c.expectedPeriod);
    const double offset = std::fmod(grid[0] - 0.23 + 100 * on, on);
    EXPECT_LT(std::min(offset, on - offset), 1e-6) << c.what;
    EXPECT_GE(grid.front(), 0.0) << c.what;
    EXPECT_LT(grid.front(), 0.9 * c.expectedPeriod) << c.what;
    EXPECT_LE(grid.back(), 12.0) << c.what;
    EXPECT_GT(grid.back() + c.expectedPeriod, 12.0) << c.what;
  }
}

TEST(BeatTrackerTest, GridIgnoresTheFirstFourSecondsOfLongAudio) {
  // A count-in 0.3 s apart, then the real beat 0.5 s apart.
  std::vector<double> beats;
  for (double t = 0.1; t < 3.9; t += 0.3) beats.push_back(t);
  for (double t = 4.25; t < 10.0; t += 0.5) beats.push_back(t);
  auto grid = FitBeatGrid(beats, 10.0);
  ASSERT_GE(grid.size(), 2u);
  EXPECT_NEAR(grid[1] - grid[0], 0.5, 1e-9);
  EXPECT_NEAR(grid[0], 0.25, 1e-9);

  // In audio of under four seconds every beat counts.
  grid = FitBeatGrid({0.5, 1.0, 1.5, 2.0, 2.5}, 3.0);
  ASSERT_GE(grid.size(), 2u);
  EXPECT_NEAR(grid[1] - grid[0], 0.5, 1e-9);
}

TEST(BeatTrackerTest, GridStaysOnTheBeatsPastAStrayAndBeforeZero) {
  struct Case {
    const char* what;
    double first;               // the beats: first + 0.5 k up to 12 s, +-5 ms
    std::vector<double> stray;  // and these off the beat
    double expectedFirst;
  };
  const Case cases[] = {
      // A lone off-beat has no neighbours on its own grid, so no deviation
      // at all from it; it must not anchor the grid half a beat off.
      {"stray off-beat", 0.1, {6.35}, 0.1},
      // The fitted phase lands just before 0: wrapped by a period, not
      // clamped to 0 (which shifts every grid time 20 ms early).
      {"phase before zero", 0.48, {}, 0.48},
  };
  for (const Case& c : cases) {
    std::vector<double> beats;
    for (int k = 0; c.first + 0.5 * k < 12.0; ++k) beats.push_back(c.first + 0.5 * k + (k % 3 - 1) * 0.005);
    beats.insert(beats.end(), c.stray.begin(), c.stray.end());
    std::sort(beats.begin(), beats.end());
    const auto grid = FitBeatGrid(beats, 12.0);
    ASSERT_GE(grid.size(), 20u) << c.what;
    EXPECT_NEAR(grid[0], c.expectedFirst, 0.005) << c.what;
    EXPECT_NEAR(grid[1] - grid[0], 0.5, 0.001) << c.what;
  }
}

TEST(BeatTrackerTest, LeastSquaresGridFollowsBeatsOverTheirWholeLength) {
  // Beats 0.4967 s apart (120.8 BPM) with a jitter of +-8 ms: the median
  // interval is one of the jittered ones; the fitted grid keeps to the beats
  // from the first to the last.
  std::vector<double> beats;
  for (int k = 0; k < 100; ++k) beats.push_back(0.2 + 0.4967 * k + (k % 3 - 1) * 0.008);
  const auto grid = FitBeatGrid(beats, 50.0);
  ASSERT_GE(grid.size(), 100u);
  EXPECT_NEAR(grid[1] - grid[0], 0.4967, 0.0005);
  for (double b : beats) {
    double nearest = 1e9;
    for (double g : grid) nearest = std::min(nearest, std::fabs(g - b));
    EXPECT_LT(nearest, 0.012) << b;
  }
}

TEST(BeatTrackerTest, GridOctaveFollowsTheAccents) {
  struct Case {
    const char* what;
    double clickBpm;  // clicks on every beat at this tempo
    double gridBpm;   // the grid offered
    double expectedBpm;
  };
  const Case cases[] = {
      {"twice the tempo: every other grid beat silent", 70, 140, 70},
      {"half the tempo: clicks between the grid beats", 174, 87, 174},
      {"the tempo itself", 120, 120, 120},
  };
  for (const Case& c : cases) {
    const FloatVec mono = PcmToMonoFloat(ClickTrack(c.clickBpm, 12), 1, 16);
    std::vector<double> grid;
    for (double t = 0.1; t <= 12.0; t += 60.0 / c.gridBpm) grid.push_back(t);
    const auto out = ChooseGridOctave(grid, mono, 44100, 12.0);
    ASSERT_GE(out.size(), 4u) << c.what;
    EXPECT_NEAR(60.0 / (out[1] - out[0]), c.expectedBpm, 0.01) << c.what;
    // Every click has a grid time on it.
    for (double t = 0.1; t < 11.9; t += 60.0 / c.clickBpm) {
      double nearest = 1e9;
      for (double g : out) nearest = std::min(nearest, std::fabs(g - t));
      EXPECT_LT(nearest, 1e-6) << c.what << " " << t;
    }
  }
}

TEST(BeatTrackerTest, GridNeedsTwoBeatsAndAUsableInterval) {
  EXPECT_EQ(FitBeatGrid({}, 5.0), std::vector<double>{});
  EXPECT_EQ(FitBeatGrid({1.25}, 5.0), std::vector<double>{1.25});
  EXPECT_EQ(FitBeatGrid({1.0, 3.5, 6.0}, 8.0), (std::vector<double>{1.0, 3.5, 6.0}));  // intervals over 2 s
  EXPECT_EQ(FitBeatGrid({1.0, 1.1, 1.2}, 8.0), (std::vector<double>{1.0, 1.1, 1.2}));  // intervals under 0.2 s
}

TEST(BeatTrackerTest, TrackerNeverWritesMoreBeatsThanItsOutputHolds) {
  // A context period of one hop predicts a beat in every hop of the next
  // step: more than the step-sized output has room for.
  BeatTracker tracker = NewBeatTracker(512, kBeatHopSize, 44100);
  ASSERT_EQ(tracker.step, 128u);
  tracker.timeSignature = 4;
  tracker.gp = 1.0f;
  tracker.counter = 5;
  std::fill(tracker.periodWeights.begin(), tracker.periodWeights.end(), 0.0f);
  tracker.periodWeights[1] = 1.0f;
  FloatVec output(tracker.step, -1.0f);
  BeatTrackerStep(tracker, FloatVec(512, 1.0f), output);

  ASSERT_FLOAT_EQ(tracker.bp, 1.0f);
  EXPECT_EQ(output[0], 128.0f);  // the count fills the output, no more
  for (size_t i = 1; i < output.size(); ++i) EXPECT_EQ(output[i], static_cast<float>(i - 1)) << i;
  EXPECT_EQ(tracker.lastBeat, 128.0f);  // the tracker's own state goes on as predicted
}

TEST(BeatTrackerTest, PcmToMonoAveragesChannelsAtEveryWidth) {
  struct Case {
    int bits;
    std::vector<uint8_t> frame;  // two channels
    float expected;
  };
  const auto floatBytes = [](float a, float b) {
    std::vector<uint8_t> out(8);
    std::memcpy(out.data(), &a, 4);
    std::memcpy(out.data() + 4, &b, 4);
    return out;
  };
  const Case cases[] = {
      {8, {0xC0, 0x80}, 0.25f},
      {16, {0x00, 0x40, 0x00, 0xC0}, 0.0f},
      {16, {0x00, 0x40, 0x00, 0x00}, 0.25f},
      {24, {0x00, 0x00, 0x80, 0x00, 0x00, 0x00}, -0.5f},
      {32, floatBytes(0.5f, 0.25f), 0.375f},
      {32, floatBytes(std::numeric_limits<float>::quiet_NaN(), 0.5f), 0.25f},
      {32, floatBytes(std::numeric_limits<float>::infinity(), 0.0f), 0.0f},
      {12, {0x12, 0x34}, 0.0f},
  };
  for (const Case& c : cases) {
    const FloatVec mono = PcmToMonoFloat(c.frame, 2, c.bits);
    ASSERT_EQ(mono.size(), 1u) << c.bits;
    EXPECT_FLOAT_EQ(mono[0], c.expected) << c.bits;
  }
  const std::vector<uint8_t> bytes = {1, 2, 3, 4};
  EXPECT_TRUE(PcmToMonoFloat(bytes, 0, 16).empty());
  EXPECT_TRUE(PcmToMonoFloat(bytes, 1, 4).empty());
}

TEST(BeatTrackerTest, RecursiveFFTUsesTheNegativeExponent) {
  // A unit impulse at index 1 transforms to e^(-2 pi i k / N).
  std::vector<std::complex<float>> x(16);
  x[1] = 1.0f;
  RecursiveFFT(x);
  for (size_t k = 0; k < x.size(); ++k) {
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / 16.0;
    EXPECT_NEAR(x[k].real(), std::cos(angle), 1e-6) << k;
    EXPECT_NEAR(x[k].imag(), std::sin(angle), 1e-6) << k;
  }
  std::vector<std::complex<float>> odd(12, 1.0f);
  RecursiveFFT(odd);
  EXPECT_EQ(odd, std::vector<std::complex<float>>(12, 1.0f));
}

}  // namespace
}  // namespace zandrel

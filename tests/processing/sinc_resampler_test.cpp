#include "processing/sinc_resampler.h"

#include <gtest/gtest.h>
#include <samplerate.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace zandrel {
namespace {

// A test signal with content across the band: two sines and some noise.
std::vector<int16_t> MakeSignal(uint64_t frames, int channels, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-0.1, 0.1);
  std::vector<int16_t> out(frames * channels);
  for (uint64_t i = 0; i < frames; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      const double t = static_cast<double>(i) / 44100.0;
      const double v = 0.45 * std::sin(2 * std::numbers::pi * (440.0 + 110 * ch) * t) +
                       0.3 * std::sin(2 * std::numbers::pi * 15000.0 * t) + noise(rng);
      out[i * channels + ch] = static_cast<int16_t>(v * 32767);
    }
  }
  return out;
}

// libsamplerate's best converter on the same input, with the converter's own
// scaling, clamping and truncation of the float output.
std::vector<int16_t> Reference(const std::vector<int16_t>& in, int channels, double ratio, uint64_t outFrames) {
  const long frames = static_cast<long>(in.size() / channels);
  std::vector<float> fin(in.size());
  for (size_t i = 0; i < in.size(); ++i) fin[i] = static_cast<float>(in[i]) / 32768.0f;
  std::vector<float> fout((outFrames + 16) * channels);
  SRC_DATA data{};
  data.data_in = fin.data();
  data.data_out = fout.data();
  data.input_frames = frames;
  data.output_frames = static_cast<long>(outFrames + 16);
  data.src_ratio = 1.0 / ratio;
  EXPECT_EQ(src_simple(&data, SRC_SINC_BEST_QUALITY, channels), 0);
  EXPECT_GE(static_cast<uint64_t>(data.output_frames_gen), outFrames);
  std::vector<int16_t> out(outFrames * channels);
  for (size_t i = 0; i < out.size(); ++i) {
    const float s = fout[i] * 32768.0f;
    out[i] = s >= 32767.0f ? 32767 : s <= -32768.0f ? -32768 : static_cast<int16_t>(s);
  }
  return out;
}

TEST(SincResamplerTest, EqualsLibsamplerateSampleForSample) {
  struct Case {
    uint32_t from, to;
    int channels;
    uint64_t frames;
  };
  for (const Case& c : {Case{44100, 48000, 1, 20000}, Case{48000, 44100, 2, 20000}, Case{44100, 16000, 1, 9001},
                        Case{22050, 44100, 2, 7777}, Case{44100, 44100, 1, 5000},
                        // ratios with thousands of filter phases
                        Case{44101, 44100, 2, 20000}, Case{41625, 44100, 1, 20000},
                        // more channels than the fast paths handle
                        Case{48000, 32000, 3, 5000}}) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << ", " << c.channels << " ch");
    const auto in = MakeSignal(c.frames, c.channels, c.from + c.to);
    const double ratio = static_cast<double>(c.from) / c.to;
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out;
    ResampleSinc(spec, out, in.data(), c.frames, c.channels, ratio);
    const auto n = static_cast<uint64_t>(static_cast<double>(c.frames) / ratio);
    ASSERT_EQ(out.size(), n * c.channels);
    const auto expected = Reference(in, c.channels, ratio, n);
    size_t differing = 0;
    for (size_t i = 0; i < out.size(); ++i) differing += out[i] != expected[i];
    EXPECT_EQ(differing, 0u);
  }
}

TEST(SincResamplerTest, OutputLengthIsFramesOverRatio) {
  struct Case {
    uint64_t frames;
    int channels;
    double ratio;
    uint64_t expectedFrames;
  };
  for (const Case& c : {Case{1001, 1, 2.0, 500}, Case{1000, 1, 0.5, 2000}, Case{1000, 2, 1.0, 1000}, Case{3, 1, 4.0, 0},
                        Case{100, 3, 1.5, 66}}) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames by " << c.ratio);
    const std::vector<int16_t> in(c.frames * c.channels, 1000);
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out = {1, 2, 3};
    ResampleSinc(spec, out, in.data(), c.frames, c.channels, c.ratio);
    EXPECT_EQ(out.size(), c.expectedFrames * c.channels);
  }
}

TEST(SincResamplerTest, KeepsLevelAndChannelsAndClampsOvershoot) {
  SincFilterSpec spec = SincFilterSpec::Best();
  std::vector<int16_t> out;

  // Unity ratio keeps a constant signal (the taps sum to 1 within 1e-7),
  // away from the edges, where the filter reaches into the silence around it.
  const std::vector<int16_t> constant(4000, 12345);
  ResampleSinc(spec, out, constant.data(), 4000, 1, 1.0);
  for (size_t i = 1000; i < 3000; ++i) ASSERT_NEAR(out[i], 12345, 1) << i;

  // A signal in the left channel only leaves the right channel silent.
  std::vector<int16_t> stereo(2 * 3000, 0);
  for (size_t i = 0; i < 3000; ++i) stereo[2 * i] = static_cast<int16_t>(20000 * std::sin(0.05 * i));
  ResampleSinc(spec, out, stereo.data(), 3000, 2, 48000.0 / 44100.0);
  int16_t leftPeak = 0;
  for (size_t i = 0; i < out.size() / 2; ++i) {
    ASSERT_EQ(out[2 * i + 1], 0) << i;
    leftPeak = std::max(leftPeak, out[2 * i]);
  }
  EXPECT_GT(leftPeak, 19000);

  // A full-scale square wave rings past full scale: clamped, never wrapped.
  std::vector<int16_t> square(4000);
  for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -32768 : 32767;
  ResampleSinc(spec, out, square.data(), square.size(), 1, 0.9);
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
  EXPECT_EQ(*std::min_element(out.begin(), out.end()), -32768);
  // A wrapped overshoot would flip the sign inside a half period.
  for (size_t i = 200; i + 200 < out.size(); ++i) {
    const double phase = std::fmod(static_cast<double>(i) * 0.9, 100.0);
    if (phase > 5 && phase < 45) {
      ASSERT_GT(out[i], 25000) << i;
    } else if (phase > 55 && phase < 95) {
      ASSERT_LT(out[i], -25000) << i;
    }
  }
}

TEST(SincResamplerTest, AnyDescriptorButBestIsReplacedByTheBestTable) {
  const std::vector<int16_t> in = MakeSignal(2000, 1, 3);
  SincFilterSpec best = SincFilterSpec::Best();
  std::vector<int16_t> expected;
  ResampleSinc(best, expected, in.data(), 2000, 1, 1.25);

  // The other qualities, and a descriptor claiming the best quality for another table.
  for (SincFilterSpec spec : {SincFilterSpec::Medium(), SincFilterSpec::Fastest(),
                              SincFilterSpec{kSincMediumTable, 22436, 491, kSincQualityBest}}) {
    std::vector<int16_t> out;
    ResampleSinc(spec, out, in.data(), 2000, 1, 1.25);
    EXPECT_EQ(spec.coeffs, kSincBestTable);
    EXPECT_EQ(spec.halfLen, 340237);
    EXPECT_EQ(spec.increment, 2381);
    EXPECT_EQ(spec.quality, 2);
    EXPECT_EQ(out, expected);
  }
  // The tables are libsamplerate's: centre tap first, 0.0 last.
  EXPECT_EQ(kSincMediumTable[kSincMediumLayout.count - 1], 0.0f);
  EXPECT_EQ(kSincFastestTable[kSincFastestLayout.count - 1], 0.0f);
  EXPECT_EQ(kSincBestTable[kSincBestLayout.count - 1], 0.0f);
  EXPECT_FLOAT_EQ(kSincBestTable[0], 0.9657284f);
}

TEST(SincResamplerTest, RefusesRatiosAndChannelCountsItCannotConvert) {
  const std::vector<int16_t> in(17 * 100, 500);
  struct Case {
    const char* what;
    int channels;
    double ratio;
  };
  const Case cases[] = {
      {"zero ratio", 1, 0.0},
      {"negative ratio", 1, -1.0},
      {"NaN ratio", 1, std::numeric_limits<double>::quiet_NaN()},
      {"infinite ratio", 1, std::numeric_limits<double>::infinity()},
      {"ratio below 1/256", 1, 1e-9},
      {"ratio above 256", 1, 1e6},
      {"no channel", 0, 1.0},
      {"more than 16 channels", 17, 1.0},
  };
  for (const Case& c : cases) {
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out = {1, 2, 3};
    ResampleSinc(spec, out, in.data(), 100, c.channels, c.ratio);
    EXPECT_TRUE(out.empty()) << c.what;
  }
  SincFilterSpec spec = SincFilterSpec::Best();
  std::vector<int16_t> out;
  ResampleSinc(spec, out, nullptr, 100, 1, 1.0);
  EXPECT_TRUE(out.empty());
  ResampleSinc(spec, out, in.data(), 100, 16, 1.0 / 256);  // the limits themselves are fine
  EXPECT_EQ(out.size(), 16u * 25600);
}

TEST(SincResamplerTest, EqualsLibsamplerateOverLongConversionsAtEveryRatioInUse) {
  // Stereo at the ratios the commands use: the common rates both ways, a
  // semitone each way, 2, 1/2 and 0.37. A semitone has thousands of filter
  // phases: there, over a minute, an input position formed as i * ratio
  // instead of walked as libsamplerate walks it drifts far enough to move
  // rounded filter positions and change a few samples by one LSB.
  struct Case {
    uint32_t from, to;
    uint64_t frames;
  };
  constexpr uint64_t kTenSeconds = 441000, kMinute = 2646000;
  for (const Case& c : {Case{44100, 48000, kTenSeconds}, Case{48000, 44100, kTenSeconds}, Case{44100, 46722, kMinute},
                        Case{46722, 44100, kMinute}, Case{2, 1, kTenSeconds}, Case{1, 2, kTenSeconds},
                        Case{37, 100, kTenSeconds}}) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
    const uint64_t frames = c.frames;
    const auto in = MakeSignal(frames, 2, 5);
    const double ratio = static_cast<double>(c.from) / c.to;
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out;
    ResampleSinc(spec, out, in.data(), frames, 2, ratio);
    const auto n = static_cast<uint64_t>(static_cast<double>(frames) / ratio);
    ASSERT_EQ(out.size(), 2 * n);
    const auto expected = Reference(in, 2, ratio, n);
    size_t differing = 0;
    for (size_t i = 0; i < out.size(); ++i) differing += out[i] != expected[i];
    EXPECT_EQ(differing, 0u);
  }
}

TEST(SincResamplerTest, EqualsLibsamplerateAtRatiosThatAreNoSimpleFraction) {
  // Pitch changes of a semitone or a few cents give every output frame its
  // own filter phase, so each frame's taps are interpolated afresh; several
  // frames are formed side by side, their halves one tap longer or shorter
  // than each other's. Mono and stereo, both ways, and the common rates
  // beside them, whose phases repeat.
  struct Case {
    const char* what;
    double ratio;
    int channels;
  };
  const Case cases[] = {
      {"a semitone up", std::exp2(1.0 / 12.0), 1},      {"a semitone up", std::exp2(1.0 / 12.0), 2},
      {"a semitone down", std::exp2(-1.0 / 12.0), 1},   {"a semitone down", std::exp2(-1.0 / 12.0), 2},
      {"37 cents up", std::exp2(37.0 / 1200.0), 1},     {"37 cents up", std::exp2(37.0 / 1200.0), 2},
      {"5 cents down", std::exp2(-5.0 / 1200.0), 1},    {"5 cents down", std::exp2(-5.0 / 1200.0), 2},
      {"a fifth up", std::exp2(7.0 / 12.0), 2},         {"19 semitones down", std::exp2(-19.0 / 12.0), 1},
      {"44100 -> 48000", 44100.0 / 48000.0, 1},         {"44100 -> 48000", 44100.0 / 48000.0, 2},
      {"48000 -> 44100", 48000.0 / 44100.0, 1},         {"48000 -> 44100", 48000.0 / 44100.0, 2},
  };
  constexpr uint64_t kFrames = 100000;  // a few blocks of output
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << ", " << c.channels << " ch");
    const auto in = MakeSignal(kFrames, c.channels, 31);
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out;
    ResampleSinc(spec, out, in.data(), kFrames, c.channels, c.ratio, 1);
    const auto n = static_cast<uint64_t>(static_cast<double>(kFrames) / c.ratio);
    ASSERT_EQ(out.size(), n * c.channels);
    const auto expected = Reference(in, c.channels, c.ratio, n);
    size_t differing = 0;
    for (size_t i = 0; i < out.size(); ++i) differing += out[i] != expected[i];
    EXPECT_EQ(differing, 0u);
  }
}

TEST(SincResamplerTest, SteepestRatiosStayInsideTheirBuffers) {
  // Near 256 the filter is widened 256 times; its rounded step must still
  // read only the padded input (checked by the sanitizer builds) and the
  // output must still match libsamplerate.
  for (double ratio : {256.0, 255.7, 131.3}) {
    SCOPED_TRACE(ratio);
    const auto in = MakeSignal(3000, 2, 9);
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> out;
    ResampleSinc(spec, out, in.data(), 3000, 2, ratio);
    const auto n = static_cast<uint64_t>(3000 / ratio);
    ASSERT_EQ(out.size(), 2 * n);
    EXPECT_EQ(out, Reference(in, 2, ratio, n));
  }
}

TEST(SincResamplerTest, ResultDoesNotDependOnTheNumberOfThreads) {
  for (int channels : {1, 2, 3}) {
    SCOPED_TRACE(channels);
    const auto in = MakeSignal(30000, channels, 11);
    for (double ratio : {44100.0 / 48000.0, 1.0 / 1.0594630943592953}) {
      SincFilterSpec spec = SincFilterSpec::Best();
      std::vector<int16_t> single, parallel;
      ResampleSinc(spec, single, in.data(), 30000, channels, ratio, 1);
      ResampleSinc(spec, parallel, in.data(), 30000, channels, ratio, 7);
      EXPECT_EQ(single, parallel);
    }
  }
}

// What a conversion reported: the fractions in order, and whether two
// threads ever reported at once.
struct Reports {
  std::mutex lock;
  std::vector<double> fractions;
  std::atomic<int> inside{0};
  bool overlapped = false;
  double stopAt = 2.0;  // the first report at or past it asks to stop

  WorkProgress Watch() {
    return [this](double f) {
      if (inside.fetch_add(1) != 0) overlapped = true;
      bool going;
      {
        const std::lock_guard guard(lock);
        fractions.push_back(f);
        going = f < stopAt;
      }
      inside.fetch_sub(1);
      return going;
    };
  }
};

struct WatchedCase {
  int channels;
  double ratio;
  unsigned threads;
};
// Several blocks of output at each of the converter's paths: mono and
// stereo by formed filter phases, more channels frame by frame, a steep
// ratio with wide filters, and upsampling.
constexpr WatchedCase kWatchedCases[] = {{2, 2.0, 1},      {2, 44100.0 / 48000.0, 4}, {1, 0.37, 3},
                                         {3, 1.5, 2},      {2, 150.0, 4},             {1, 1.0, 8}};

TEST(SincResamplerTest, ReportsAsItGoesFromOneThreadAtATimeAndTheOutputStaysTheSame) {
  for (const WatchedCase& c : kWatchedCases) {
    SCOPED_TRACE(testing::Message() << c.channels << " ch, ratio " << c.ratio << ", " << c.threads << " threads");
    const uint64_t frames = c.ratio > 10 ? 400000 : 200000;
    const auto in = MakeSignal(frames, c.channels, 21);
    SincFilterSpec spec = SincFilterSpec::Best();
    std::vector<int16_t> plain, watched;
    ResampleSinc(spec, plain, in.data(), frames, c.channels, c.ratio, c.threads);
    Reports reports;
    ResampleSinc(spec, watched, in.data(), frames, c.channels, c.ratio, c.threads, reports.Watch());
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(watched, plain);
    EXPECT_FALSE(reports.overlapped);
    const std::vector<double>& f = reports.fractions;
    ASSERT_GE(f.size(), 20u);
    EXPECT_TRUE(std::is_sorted(f.begin(), f.end()));
    EXPECT_GE(f.front(), 0.0);
    EXPECT_LE(f.back(), 1.0);
    EXPECT_GT(f.back(), 0.9);
    // No stretch of the work goes unreported: never more than a tenth between
    // two reports.
    for (size_t i = 1; i < f.size(); ++i) EXPECT_LT(f[i] - f[i - 1], 0.1) << i;
  }
}

TEST(SincResamplerTest, AStopEndsTheConversionWithNothingAndNoFurtherReport) {
  for (const WatchedCase& c : kWatchedCases) {
    for (double stopAt : {0.01, 0.5}) {
      SCOPED_TRACE(testing::Message() << c.channels << " ch, ratio " << c.ratio << ", " << c.threads
                                      << " threads, stop at " << stopAt);
      const uint64_t frames = c.ratio > 10 ? 400000 : 200000;
      const auto in = MakeSignal(frames, c.channels, 22);
      SincFilterSpec spec = SincFilterSpec::Best();
      std::vector<int16_t> out = {1, 2, 3};
      Reports reports;
      reports.stopAt = stopAt;
      ResampleSinc(spec, out, in.data(), frames, c.channels, c.ratio, c.threads, reports.Watch());
      EXPECT_TRUE(out.empty());
      ASSERT_FALSE(reports.fractions.empty());
      // The report that asked to stop was the last one.
      EXPECT_GE(reports.fractions.back(), stopAt);
      EXPECT_EQ(std::count_if(reports.fractions.begin(), reports.fractions.end(),
                              [&](double f) { return f >= stopAt; }),
                1);
    }
  }
}

}  // namespace
}  // namespace zandrel

// The adaptive gate and compressor and the spectral clean-up on generated
// 16-bit audio: levels over time, the make-up limit, identity, silence,
// peaks, noise suppression and independent channels.
#include "processing/dynamics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "commands/long_task.h"
#include "processing/registered_commands.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;

struct Pcm16Buffer {
  std::vector<int16_t> samples;
  int channels = 1;
  SampleFrames<SampleFormat::kS16> Frames() {
    return {std::span<uint8_t>(reinterpret_cast<uint8_t*>(samples.data()), samples.size() * 2), channels,
            2 * channels, kRate};
  }
  int64_t FrameCount() const { return static_cast<int64_t>(samples.size()) / channels; }
  template <class Work>
  void Run(const Work& work) {
    TaskProgress progress;
    ASSERT_FALSE(work(Frames(), FrameRange{0, FrameCount()}, progress).refusal.has_value());
  }
};

Pcm16Buffer Constant(double value, double seconds) {
  return {std::vector<int16_t>(static_cast<size_t>(seconds * kRate), static_cast<int16_t>(value * 32768))};
}

Pcm16Buffer SineBuffer(double amplitude, double seconds, double hz = 440.0) {
  Pcm16Buffer b;
  for (int64_t i = 0; i < static_cast<int64_t>(seconds * kRate); ++i)
    b.samples.push_back(static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * i / kRate))));
  return b;
}

int CountAtFullScale(const std::vector<int16_t>& s) {
  int n = 0;
  for (int16_t v : s) n += (v >= 32767 || v <= -32767);
  return n;
}

TEST(GateTest, SilenceStaysSilent) {
  Pcm16Buffer b = Constant(0.0, 1.0);
  b.Run(GateWork{});
  for (int16_t v : b.samples) ASSERT_EQ(v, 0);
}

TEST(GateTest, ASteadySignalIsGatedOffAfterAboutASixthOfASecond) {
  Pcm16Buffer b = Constant(0.5, 1.0);
  b.Run(GateWork{});
  auto at = [&](double t) { return b.samples[static_cast<size_t>(t * kRate)]; };
  // Open while the floor is under a third of the peak (about 0.15 s): the
  // value written is trunc(0.5 x 32767), one LSB under the input.
  EXPECT_EQ(at(0.05), 16383);
  EXPECT_EQ(at(0.14), 16383);
  // Then the 150 ms release: about e^-1 a release time after closing.
  EXPECT_NEAR(at(0.152 + 0.15), 16384 * std::exp(-1.0), 600);
  EXPECT_LT(at(0.99), 100);
}

TEST(CompressorTest, QuietMaterialIsOnlyTruncated) {
  // Under the first threshold, 6 dB over the follower's start of 0.05
  // (0.0998: a constant of exactly 0.1 lies a hair above it).
  Pcm16Buffer b = Constant(0.09, 1.0);
  const std::vector<int16_t> in = b.samples;
  CompressorReport report;
  b.Run(CompressorWork{&report});
  EXPECT_EQ(report.maxReductionDb, 0.0);
  EXPECT_EQ(report.makeupDb, 0.0);
  // Two passes of trunc(x / 32768 x 32767): 2949 -> 2948 -> 2947.
  for (size_t i = 0; i < in.size(); ++i) {
    const auto once = static_cast<int16_t>(in[i] / 32768.0 * 32767.0);
    ASSERT_EQ(b.samples[i], static_cast<int16_t>(once / 32768.0 * 32767.0)) << i;
  }
}

TEST(CompressorTest, SineAtHalfScaleIsReducedThenMadeUpWithoutClipping) {
  Pcm16Buffer b = SineBuffer(0.5, 1.0);
  CompressorReport report;
  b.Run(CompressorWork{&report});
  EXPECT_NEAR(report.maxReductionDb, -10.43, 0.01);
  EXPECT_NEAR(report.makeupDb, 5.22, 0.01);
  EXPECT_EQ(CountAtFullScale(b.samples), 0);
}

TEST(CompressorTest, MakeUpNeverClipsALoudSine) {
  // Half the largest reduction (+7.1 dB) would clip about 16700 samples.
  Pcm16Buffer b = SineBuffer(0.9, 1.0);
  CompressorReport report;
  b.Run(CompressorWork{&report});
  EXPECT_LT(report.maxReductionDb, -14.0);
  EXPECT_LT(report.makeupDb, 7.0);
  int peak = 0;
  for (int16_t v : b.samples) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_GE(peak, 32700);  // brought up to full scale
  EXPECT_LE(CountAtFullScale(b.samples), 2);
}

TEST(CompressorTest, ConstantHalfScaleStartIsReducedByTenAndAHalfDecibels) {
  Pcm16Buffer b = Constant(0.5, 1.0);
  CompressorReport report;
  b.Run(CompressorWork{&report});
  EXPECT_NEAR(report.maxReductionDb, -10.5, 0.05);
  EXPECT_NEAR(report.makeupDb, 5.25, 0.05);
}

// Sine and noise parts of a signal: the sine's amplitude fitted at its
// frequency, the rest counted as noise.
double SnrDb(const std::vector<float>& x, double hz) {
  double c = 0, s = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    c += x[i] * std::cos(2 * std::numbers::pi * hz * i / kRate);
    s += x[i] * std::sin(2 * std::numbers::pi * hz * i / kRate);
  }
  c *= 2.0 / x.size();
  s *= 2.0 / x.size();
  double signal = 0, noise = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double fit = c * std::cos(2 * std::numbers::pi * hz * i / kRate) + s * std::sin(2 * std::numbers::pi * hz * i / kRate);
    signal += fit * fit;
    noise += (x[i] - fit) * (x[i] - fit);
  }
  return 10 * std::log10(signal / noise);
}

std::vector<float> SineAndNoise(int64_t n, double sine, double noise, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> x(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i)
    x[static_cast<size_t>(i)] = static_cast<float>(sine * std::sin(2 * std::numbers::pi * 1000.0 * i / kRate) + noise * u(rng));
  return x;
}

TEST(SpectralDenoiseTest, AMaskOfOneReproducesTheInput) {
  // A floor of 1 holds every bin's mask at 1: analysis and overlap-add alone.
  const SpectralDenoiseSettings identity{0.3f, 1.0f, 0.9f, 0.1f};
  for (int64_t n : {100, 5000, 44100}) {
    std::vector<float> x = SineAndNoise(n, 0.4, 0.2);
    const std::vector<float> in = x;
    ASSERT_TRUE(SpectralDenoiseChannel(x, identity));
    float err = 0;
    for (size_t i = 0; i < x.size(); ++i) err = std::max(err, std::fabs(x[i] - in[i]));
    EXPECT_LT(err, 1e-4f) << n;
  }
}

TEST(SpectralDenoiseTest, SilenceAndEmptyChannelsStayAsTheyAre) {
  std::vector<float> silent(20000, 0.0f);
  ASSERT_TRUE(SpectralDenoiseChannel(silent, SpectralDenoiseSettings::Percussive()));
  for (float v : silent) ASSERT_EQ(v, 0.0f);
  std::vector<float> empty;
  EXPECT_TRUE(SpectralDenoiseChannel(empty, SpectralDenoiseSettings::Melodic()));
  EXPECT_TRUE(empty.empty());
  // The work refuses an empty range instead of sizing buffers from it.
  Pcm16Buffer b = Constant(0.1, 0.1);
  TaskProgress progress;
  EXPECT_TRUE(SpectralDenoiseWork{}(b.Frames(), FrameRange{500, 500}, progress).refusal.has_value());
  EXPECT_TRUE(SpectralDenoiseWork{}(b.Frames(), FrameRange{500, 400}, progress).refusal.has_value());
}

TEST(SpectralDenoiseTest, ReportsAllAlongAChannelAndStopsWhenToldTo) {
  // Ten seconds: about 860 frames per pass. The bar must move in small steps
  // through every part (passes, profile, copy back), never backwards.
  std::vector<float> x = SineAndNoise(10 * kRate, 0.3, 0.05);
  const std::vector<float> in = x;
  std::vector<double> seen;
  ASSERT_TRUE(SpectralDenoiseChannel(x, SpectralDenoiseSettings::Melodic(), [&](double f) {
    seen.push_back(f);
    return true;
  }));
  ASSERT_GE(seen.size(), 40u);
  EXPECT_LT(seen.front(), 0.05);
  EXPECT_GT(seen.back(), 0.95);
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_GE(seen[i], seen[i - 1]) << i;
    EXPECT_LT(seen[i] - seen[i - 1], 0.06) << "a jump at " << seen[i];
  }
  // Told to stop half way, it says so at once.
  std::vector<float> y = in;
  int after = 0;
  bool stop = false;
  EXPECT_FALSE(SpectralDenoiseChannel(y, SpectralDenoiseSettings::Melodic(), [&](double f) {
    if (stop) ++after;
    stop = stop || f >= 0.5;
    return !stop;
  }));
  EXPECT_EQ(after, 0);
}

TEST(SpectralDenoiseTest, TheWorkSharesItsProgressOutAmongTheChannels) {
  Pcm16Buffer b;
  b.channels = 2;
  for (int64_t i = 0; i < 4 * kRate; ++i)
    for (int c = 0; c < 2; ++c)
      b.samples.push_back(static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * (440.0 + 220 * c) * i / kRate)));
  std::vector<double> seen;
  LongTask task;
  task.ObserveReports([&](double f) { seen.push_back(f); });
  task.Start([&](TaskProgress& p) {
    SpectralDenoiseWork{SpectralDenoiseSettings::Percussive()}(b.Frames(), FrameRange{0, b.FrameCount()}, p);
  });
  task.Join();
  ASSERT_GE(seen.size(), 40u);
  // Both halves of the bar are walked, the first channel's before the second's.
  const auto firstHalf = std::count_if(seen.begin(), seen.end(), [](double f) { return f > 0.05 && f < 0.45; });
  const auto secondHalf = std::count_if(seen.begin(), seen.end(), [](double f) { return f > 0.55 && f < 0.95; });
  EXPECT_GE(firstHalf, 10);
  EXPECT_GE(secondHalf, 10);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 1.0);
}

TEST(SpectralDenoiseTest, PercussiveVariantKeepsAToneAndRemovesTheNoise) {
  // Noise throughout, a 1 kHz tone over the middle half second only: the
  // profile learns the noise (a low percentile of each bin), not the tone.
  const int64_t n = 2 * kRate, toneStart = kRate * 3 / 4, toneEnd = kRate * 5 / 4;
  std::vector<float> mix = SineAndNoise(n, 0.0, 0.05);
  for (int64_t i = toneStart; i < toneEnd; ++i)
    mix[static_cast<size_t>(i)] += static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * i / kRate));
  Pcm16Buffer b;
  for (float v : mix) b.samples.push_back(static_cast<int16_t>(v * 32767));
  const std::vector<int16_t> before = b.samples;
  b.Run(SpectralDenoiseWork{SpectralDenoiseSettings::Percussive()});

  auto peakOf = [](const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
  };
  EXPECT_NEAR(peakOf(b.samples), peakOf(before), 1);
  auto part = [](const std::vector<int16_t>& s, int64_t from, int64_t to) {
    return std::vector<float>(s.begin() + from, s.begin() + to);
  };
  // Inside the tone (away from its edges) the SNR rises...
  const int64_t in0 = toneStart + 4096, in1 = toneEnd - 4096;
  const double snrBefore = SnrDb(part(before, in0, in1), 1000.0);
  const double snrAfter = SnrDb(part(b.samples, in0, in1), 1000.0);
  EXPECT_GT(snrAfter - snrBefore, 10.0);
  // ...and the noise alone drops by more than 9 dB.
  auto rms = [](const std::vector<float>& x) {
    double e = 0;
    for (float v : x) e += static_cast<double>(v) * v;
    return std::sqrt(e / x.size());
  };
  EXPECT_LT(rms(part(b.samples, 4096, toneStart - 8192)), 0.35 * rms(part(before, 4096, toneStart - 8192)));

  // The melodic variant keeps a tenth of every bin: it helps, but less.
  Pcm16Buffer m{before};
  m.Run(SpectralDenoiseWork{SpectralDenoiseSettings::Melodic()});
  const double melodicGain = SnrDb(part(m.samples, in0, in1), 1000.0) - snrBefore;
  EXPECT_GT(melodicGain, 3.0);
  EXPECT_LT(melodicGain, snrAfter - snrBefore);
}

TEST(SpectralDenoiseTest, StereoChannelsAreCleanedIndependently) {
  const std::vector<float> left = SineAndNoise(kRate, 0.3, 0.1, 7);
  Pcm16Buffer stereo;
  stereo.channels = 2;
  Pcm16Buffer mono;
  for (float v : left) {
    stereo.samples.push_back(static_cast<int16_t>(v * 32767));
    stereo.samples.push_back(0);
    mono.samples.push_back(static_cast<int16_t>(v * 32767));
  }
  stereo.Run(SpectralDenoiseWork{SpectralDenoiseSettings::Percussive()});
  mono.Run(SpectralDenoiseWork{SpectralDenoiseSettings::Percussive()});
  for (size_t i = 0; i < mono.samples.size(); ++i) {
    ASSERT_EQ(stereo.samples[2 * i], mono.samples[i]) << i;
    ASSERT_EQ(stereo.samples[2 * i + 1], 0) << i;
  }
}

TEST(DynamicsCommandsTest, DeclaredWithTheirTextsAndRegistered) {
  for (int id : {32909, 32910, 32911, 32920}) EXPECT_NE(FindProcessingCommand(id), nullptr) << id;
  EXPECT_EQ(FindProcessingCommand(32910)->rangeFailureText, "No valid loop region set.");
  EXPECT_FALSE(FindProcessingCommand(32910)->silentWithoutAudio);
  EXPECT_EQ(FindProcessingCommand(32911)->undoLabel, "Spectral Denoise");
  EXPECT_EQ(FindProcessingCommand(32920)->menuText, "Spectral Cleanup (Melodic)");
  EXPECT_TRUE(FindProcessingCommand(32920)->silentWithoutAudio);
}

}  // namespace
}  // namespace zandrel

#include "sound_design/vocoder.h"

#include <gmock/gmock.h>

#include <cmath>
#include <string>

#include "processing/rand15.h"

namespace zandrel {
namespace {

constexpr uint32_t kVocoderRate = 44100;
constexpr double kVocoderPi = 3.14159265358979323846;

std::vector<int16_t> Noise(size_t samples, uint32_t seed, int amplitude) {
  Rand15 random(seed);
  std::vector<int16_t> out(samples);
  for (int16_t& v : out) v = static_cast<int16_t>((random.Next() - 16384) * amplitude / 16384);
  return out;
}

// Interleaved tones of a different pitch per channel, peak below 1800.
std::vector<int16_t> Tones(int64_t frames, int channels) {
  std::vector<int16_t> out(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const double t = 2 * kVocoderPi * (220.0 + 110 * c) * double(i) / kVocoderRate;
      out[i * channels + c] = static_cast<int16_t>(std::lround(1000 * std::sin(t) + 700 * std::sin(3.01 * t)));
    }
  return out;
}

double VocoderRms(std::span<const int16_t> x) {
  double sum = 0;
  for (int16_t v : x) sum += double(v) * v;
  return std::sqrt(sum / double(x.size()));
}

// Phase mix 1, no shift, no smoothing: every frame is rebuilt from the
// modulator's own spectrum, so from frame 1536 on (four frames overlap) the
// output is the modulator whatever the carrier. Before that the output fades
// in from silence, as the vocoder always does.
TEST(Vocoder, ModulatorPhaseAndNoSmoothingGiveTheModulator) {
  for (int channels : {1, 2}) {
    for (int64_t frames : {int64_t(4096), int64_t(10000)}) {
      SCOPED_TRACE(testing::Message() << channels << " channels, " << frames << " frames");
      const std::vector<int16_t> modulator = Tones(frames, channels);
      const std::vector<int16_t> carrier = Noise(modulator.size(), 7, 20000);
      VocoderParams params;
      params.binShift = 0;
      params.phaseMix = 1;
      params.envelopeSmooth = 0;
      const VocoderResult r = RunVocoder(carrier, modulator, channels, 16, params);
      ASSERT_TRUE(r.success);
      ASSERT_EQ(r.samples.size(), modulator.size());
      for (size_t i = size_t(1536 * channels); i < modulator.size(); ++i)
        ASSERT_NEAR(r.samples[i], modulator[i], 1) << "sample " << i;
      // The fade-in: frame 0 is silent, the first 256 frames well below the
      // modulator.
      EXPECT_EQ(r.samples[0], 0);
      const size_t head = size_t(256 * channels);
      EXPECT_LT(VocoderRms(std::span(r.samples).first(head)), 0.2 * VocoderRms(std::span(modulator).first(head)));
    }
  }
}

// The classic setting (the carrier's phases under the modulator's smoothed
// envelope) gives audio of the carrier's length that follows the modulator's
// level: a silent modulator gives silence.
TEST(Vocoder, ClassicSettingFollowsTheModulatorsLevel) {
  const int64_t frames = 8192;
  const std::vector<int16_t> carrier = Noise(frames, 3, 10000);
  const VocoderResult loud = RunVocoder(carrier, Tones(frames, 1), 1, 16, VocoderParams{});
  const VocoderResult silent = RunVocoder(carrier, std::vector<int16_t>(frames, 0), 1, 16, VocoderParams{});
  ASSERT_TRUE(loud.success);
  ASSERT_TRUE(silent.success);
  EXPECT_GT(VocoderRms(std::span(loud.samples).subspan(2048)), 100);
  EXPECT_LE(VocoderRms(silent.samples), 0.5);
}

// Smoothing is used limited to 0 .. 0.999.
TEST(Vocoder, SmoothingAboveTheLimitActsAsTheLimit) {
  const std::vector<int16_t> modulator = Tones(5000, 1);
  const std::vector<int16_t> carrier = Noise(5000, 11, 8000);
  VocoderParams limit;
  limit.envelopeSmooth = 0.999f;
  VocoderParams above = limit;
  above.envelopeSmooth = 5.0f;
  EXPECT_EQ(VocoderProcess(carrier, modulator, 1, 1.0f, above), VocoderProcess(carrier, modulator, 1, 1.0f, limit));
}

TEST(Vocoder, RefusesBadInputs) {
  const std::vector<int16_t> a = Tones(3000, 1);
  const std::vector<int16_t> b = Noise(3000, 2, 5000);
  struct Case {
    std::string name;
    std::span<const int16_t> carrier;
    std::span<const int16_t> modulator;
    int channels;
    int bits;
    bool success;
  };
  const std::vector<Case> cases = {
      {"16-bit", a, b, 1, 16, true},
      {"8-bit", a, b, 1, 8, false},
      {"24-bit", a, b, 1, 24, false},
      {"modulator one sample short", a, std::span(b).first(b.size() - 1), 1, 16, false},
      {"carrier one sample short", std::span(a).first(a.size() - 1), b, 1, 16, false},
      {"empty carrier", {}, {}, 1, 16, false},
      {"no channels", a, b, 0, 16, false},
      {"less than a frame", std::span(a).first(1), std::span(b).first(1), 2, 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VocoderResult r = RunVocoder(c.carrier, c.modulator, c.channels, c.bits, VocoderParams{});
    EXPECT_EQ(r.success, c.success);
    EXPECT_EQ(r.samples.empty(), !c.success);
  }
  EXPECT_EQ(kVocoderFailedMessage, "Vocoder processing failed.");
  EXPECT_EQ(kVocoder16BitMessage, "Vocoder supports 16-bit audio only.");
}

// The carrier is the robot's body (from its crossing, whole periods); the
// modulator the loop from its first frame, of the carrier's length. A loop
// with no cycle gives no carrier.
TEST(Vocoder, CarrierAndModulator) {
  // 100 Hz from phase 0, stereo: crossing at frame 1, period 441, 99 periods.
  const int64_t frames = 44100;
  std::vector<int16_t> loop(frames * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const double v = 10000 * std::sin(2 * kVocoderPi * 100 * double(i) / kVocoderRate);
    loop[2 * i] = static_cast<int16_t>(std::lround(v));
    loop[2 * i + 1] = static_cast<int16_t>(std::lround(v / 2));
  }
  const VocoderCarrier made = BuildVocoderCarrier(loop, 2, kVocoderRate);
  ASSERT_FALSE(made.Empty());
  ASSERT_EQ(made.carrier.size(), size_t(99 * 441 * 2));
  ASSERT_EQ(made.modulator.size(), made.carrier.size());
  EXPECT_TRUE(std::equal(made.modulator.begin(), made.modulator.end(), loop.begin()));
  // The carrier is the sine, level kept (the loop's own magnitudes), from
  // its crossing: rising through zero at its start.
  EXPECT_LE(std::abs(made.carrier[0]), 200);
  EXPECT_GT(made.carrier[2 * 20], 2000);
  std::vector<int16_t> left, right;
  for (size_t i = 0; i < made.carrier.size(); i += 2) {
    left.push_back(made.carrier[i]);
    right.push_back(made.carrier[i + 1]);
  }
  EXPECT_NEAR(VocoderRms(left), 10000 / std::sqrt(2.0), 10000 * 0.03);
  EXPECT_NEAR(VocoderRms(right), 5000 / std::sqrt(2.0), 5000 * 0.03);

  EXPECT_TRUE(BuildVocoderCarrier(std::vector<int16_t>(44100, 0), 1, kVocoderRate).Empty());
  EXPECT_TRUE(BuildVocoderCarrier({}, 1, kVocoderRate).Empty());
  EXPECT_EQ(kNoCarrierMessage, "Could not detect fundamental frequency for carrier generation.");
}

TEST(VocoderKnobs, Conversion) {
  const VocoderParams p = VocoderParamsFromKnobs({-59.9f, 0.25f, 0.99f});
  EXPECT_EQ(p.binShift, -59);
  EXPECT_FLOAT_EQ(p.phaseMix, 0.25f);
  EXPECT_FLOAT_EQ(p.envelopeSmooth, 0.99f);
  const VocoderParams defaults = VocoderParamsFromKnobs({});
  EXPECT_EQ(defaults.binShift, 0);
  EXPECT_FLOAT_EQ(defaults.phaseMix, 0);
  EXPECT_FLOAT_EQ(defaults.envelopeSmooth, 0.6f);
}

}  // namespace
}  // namespace zandrel

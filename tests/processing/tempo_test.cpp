// Tempo estimates: from the length, from the transients of a click track,
// the median of beat intervals, and the Adjust Loop to BPM arithmetic.
#include "processing/tempo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "support/generated_audio.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

TEST(TempoTest, BpmFromLength) {
  struct Case {
    double seconds;
    double bpm;
    int beats;
  };
  const Case cases[] = {
      {2.0, 120.0, 4},  // 120 and 60 are both whole: the faster wins
      {0.3, 800.0, 4},  // every candidate is above 190
      {8.0, 120.0, 16},
      {1.0, 120.0, 2},
  };
  for (const Case& c : cases) {
    const LengthTempo t = BpmFromLength(c.seconds);
    EXPECT_NEAR(t.bpm, c.bpm, 1e-9) << c.seconds;
    EXPECT_EQ(t.beats, c.beats) << c.seconds;
  }
}

PcmSpan SpanOf(const std::vector<uint8_t>& bytes, uint32_t rate) {
  PcmSpan s;
  s.bytes = bytes;
  s.channels = 1;
  s.sampleRate = rate;
  s.blockAlign = 2;
  s.bitsPerSample = 16;
  return s;
}

TEST(TempoTest, TransientsOfAClickTrackAt120Bpm) {
  const std::vector<uint8_t> pcm = Pcm16(RenderMono(8 * 44100, 44100, Clicks(HitTimes(16, 0.5))));
  const TransientTempo t = BpmFromTransients(SpanOf(pcm, 44100), 0, 8 * 44100);
  ASSERT_EQ(t.outcome, TransientTempo::Outcome::kFound);
  EXPECT_EQ(t.histogramBpm, 120);
  EXPECT_EQ(t.beats, 16);
  EXPECT_NEAR(t.bpm, 120.0, 1e-9);
  EXPECT_EQ(t.peaks.size(), 15u);  // the click in block 0 has no block before it
}

TEST(TempoTest, TransientsOfARangeThatIsNoLoopKeepTheMeasuredTempo) {
  // Rounded to whole beats over their length these would read 141 and 72
  // (then doubled to 144): the ranges hold 46.7 and 11.7 beats.
  struct Case {
    double bpm, seconds;
  };
  for (const Case& c : {Case{140, 20}, Case{70, 10}, Case{97, 15}}) {
    const auto frames = static_cast<int64_t>(c.seconds * 44100);
    const int clicks = static_cast<int>((c.seconds - 0.1) * c.bpm / 60.0) + 1;
    const std::vector<uint8_t> pcm = Pcm16(RenderMono(frames, 44100, Clicks(HitTimes(clicks, 60.0 / c.bpm, 0.1))));
    const TransientTempo t = BpmFromTransients(SpanOf(pcm, 44100), 0, frames);
    ASSERT_EQ(t.outcome, TransientTempo::Outcome::kFound) << c.bpm;
    EXPECT_NEAR(t.bpm, c.bpm, 0.3) << c.bpm;
    EXPECT_EQ(t.beats, static_cast<int>(c.bpm * c.seconds / 60.0 + 0.5)) << c.bpm;
  }
}

TEST(TempoTest, TransientsCountTheHitsNotTheirTails) {
  // A kick every beat at 90 BPM: a sine falling from 150 to 50 Hz over a
  // 120 ms decay. Over 5 ms blocks its tail ripples; the ripples 160 ms on
  // are above the threshold and their neighbours, but not above the kick.
  const double beat = 60.0 / 90.0;
  const auto kick = [beat](double t) {
    const double d = std::fmod(t, beat);
    const double phase = 2 * std::numbers::pi * (50.0 * d + 100.0 * 0.03 * (1.0 - std::exp(-d / 0.03)));
    return 0.9 * std::exp(-d / 0.12) * std::sin(phase);
  };
  const std::vector<uint8_t> pcm = Pcm16(RenderMono(20 * 44100, 44100, kick));
  const TransientTempo t = BpmFromTransients(SpanOf(pcm, 44100), 0, 20 * 44100);
  ASSERT_EQ(t.outcome, TransientTempo::Outcome::kFound);
  EXPECT_NEAR(t.bpm, 90.0, 0.3);
  EXPECT_NEAR(static_cast<double>(t.peaks.size()), 20.0 / beat, 1.0);  // one peak per kick
}

TEST(TempoTest, TransientsRefusals) {
  // One click: too few peaks.
  const std::vector<uint8_t> one = Pcm16(RenderMono(44100, 44100, Clicks({0.5})));
  EXPECT_EQ(BpmFromTransients(SpanOf(one, 44100), 0, 44100).outcome, TransientTempo::Outcome::kTooFewPeaks);
  // Clicks 0.17 s apart: every interval is under 0.2 s.
  const std::vector<uint8_t> fast = Pcm16(RenderMono(44100, 44100, Clicks(HitTimes(5, 0.17, 0.05))));
  EXPECT_EQ(BpmFromTransients(SpanOf(fast, 44100), 0, 44100).outcome, TransientTempo::Outcome::kInconsistent);
}

TEST(TempoTest, TransientsBelow200HzStillWork) {
  // A block length of rate / 200 would be 0 here.
  const std::vector<uint8_t> pcm = Pcm16(RenderMono(8 * 150, 150, Clicks(HitTimes(8, 1.0), 0.9)));
  const TransientTempo t = BpmFromTransients(SpanOf(pcm, 150), 0, 8 * 150);
  EXPECT_NE(t.outcome, TransientTempo::Outcome::kFound);  // a 5 ms click is under one frame here
}

TEST(TempoTest, MedianOfBeatIntervals) {
  EXPECT_EQ(MedianBeatBpm({}), 0.0);
  EXPECT_EQ(MedianBeatBpm({1.0}), 0.0);
  EXPECT_NEAR(MedianBeatBpm({0.0, 0.5, 1.0, 1.6}), 120.0, 1e-9);       // 120, 120, 100
  EXPECT_NEAR(MedianBeatBpm({0.0, 0.5, 1.1, 1.1, 1.5}), 120.0, 1e-9);  // 120, 100, 150 (0 skipped)
  EXPECT_NEAR(MedianBeatBpm({0.0, 0.5, 1.0, 1.6, 2.1}), 120.0, 1e-9);  // 100, 120, 120, 120
  EXPECT_NEAR(MedianBeatBpm({0.0, 1.0, 1.5}), 90.0, 1e-9);             // 60 and 120
}

TEST(TempoTest, AdjustArithmetic) {
  EXPECT_EQ(BeatsLengthFrames(120.0, 4, 44100), 88200);
  EXPECT_EQ(BeatsLengthFrames(100.0, 4, 44100), 105840);
  EXPECT_EQ(AdjustResultText(120.0, 4, 90000, 44100), "Will cut 0.041 seconds (1800 samples)");
  EXPECT_EQ(AdjustResultText(100.0, 4, 90000, 44100), "Will add 0.359 seconds (15840 samples)");
  EXPECT_EQ(AdjustResultText(120.0, 4, 88200, 44100), "No change needed");
  EXPECT_EQ(AdjustResultText(0.0, 4, 88200, 44100), "Invalid BPM");
  EXPECT_EQ(AdjustResultText(120.0, 0, 88200, 44100), "Invalid beats");
  EXPECT_EQ(AdjustResultText(0.01, 4, 88200, 44100), "BPM must be 20 to 999");
}

TEST(TempoTest, FitPcmLengthKeepsTheStartAndPadsWithSilence) {
  // Never a zero byte in the source, so silence can only come from padding.
  std::vector<uint8_t> pcm(300000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(1 + i % 251);
  for (size_t length : {size_t{0}, size_t{1000}, size_t{299999}, size_t{300000}, size_t{300001}, size_t{5000000}}) {
    SCOPED_TRACE(length);
    const std::optional<std::vector<uint8_t>> out = FitPcmLength(pcm, length);
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->size(), length);
    const size_t kept = std::min(length, pcm.size());
    EXPECT_TRUE(std::equal(out->begin(), out->begin() + static_cast<std::ptrdiff_t>(kept), pcm.begin()));
    EXPECT_TRUE(std::all_of(out->begin() + static_cast<std::ptrdiff_t>(kept), out->end(),
                            [](uint8_t b) { return b == 0; }));
  }
}

}  // namespace
}  // namespace zandrel

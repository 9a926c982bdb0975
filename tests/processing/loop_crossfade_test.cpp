// Loop crossfades and phase alignment: lengths, refusals, levels and the
// loop's seam after a crossfade; the search window and scoring of Align
// Phase.
#include "processing/loop_crossfade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "processing/loop_fixtures.h"

namespace zandrel::test {
namespace {

using ::testing::StartsWith;

LoopCrossfadeResult Crossfade(Pcm16Audio& a, int64_t in, int64_t out, CrossfadeShape shape) {
  return loopCrossfade(a.bytes, a.channels, 16, a.rate, in, out, shape);
}

TEST(LoopCrossfadeTest, LengthIsAShareOfTheLoopButAtLeastOneHundredFrames) {
  EXPECT_EQ(CrossfadeLength(CrossfadeShape::kHanning, 300, 44100), 100);     // a quarter would be 75
  EXPECT_EQ(CrossfadeLength(CrossfadeShape::kEqualPower, 300, 44100), 100);  // 15% would be 45
  EXPECT_EQ(CrossfadeLength(CrossfadeShape::kHanning, 10000, 44100), 2500);
  EXPECT_EQ(CrossfadeLength(CrossfadeShape::kEqualPower, 10000, 44100), 1500);
}

TEST(LoopCrossfadeTest, NeedsRoomOnBothSidesAndSixteenBits) {
  struct Case {
    int64_t frames, in, out;
    int bits;
    LoopCrossfadeResult::Status status;
    const char* message;
  };
  using S = LoopCrossfadeResult::Status;
  const Case cases[] = {
      {1000, 99, 399, 16, S::kRefused, "Not enough audio before loop start. Need 100 samples."},
      {499, 100, 400, 16, S::kRefused, "Not enough audio after loop end. Need 100 samples."},
      {500, 100, 400, 16, S::kApplied, ""},
      {1000, 100, 400, 24, S::kRefused, "Only 16-bit audio is supported."},
      {1000, 1200, 1300, 16, S::kNothing, ""},  // nothing of the loop inside the audio
  };
  for (const Case& c : cases) {
    for (CrossfadeShape shape : {CrossfadeShape::kHanning, CrossfadeShape::kEqualPower}) {
      std::vector<uint8_t> bytes(static_cast<size_t>(c.frames * c.bits / 8), 1);
      const std::vector<uint8_t> before = bytes;
      const LoopCrossfadeResult r = loopCrossfade(bytes, 1, c.bits, 44100, c.in, c.out, shape);
      EXPECT_EQ(r.status, c.status) << c.frames << " " << c.in;
      EXPECT_EQ(r.message, c.message);
      if (r.status != S::kApplied) {
        EXPECT_EQ(bytes, before);
      }
    }
  }
}

TEST(LoopCrossfadeTest, HanningLeavesAConstantUnchanged) {
  for (int16_t level : {30000, -12345, 7, 1, -32768}) {
    Pcm16Audio a;
    a.channels = 2;
    a.samples.assign(2 * 20000, level);
    a.Pack();
    const Bytes before = a.bytes;
    const LoopCrossfadeResult r = Crossfade(a, 5000, 15000, CrossfadeShape::kHanning);
    ASSERT_EQ(r.status, LoopCrossfadeResult::Status::kApplied);
    EXPECT_EQ(a.bytes, before) << level;
    EXPECT_EQ(r.log, "Applied Hanning Crossfade (2500 samples / 56.69 ms).");
  }
}

TEST(LoopCrossfadeTest, EqualPowerOnALoudConstantIsScaledToFullScale) {
  Pcm16Audio a;
  a.samples.assign(20000, 30000);
  a.Pack();
  const LoopCrossfadeResult r = Crossfade(a, 5000, 15000, CrossfadeShape::kEqualPower);
  ASSERT_EQ(r.status, LoopCrossfadeResult::Status::kApplied);
  EXPECT_EQ(r.log, "Applied Equal-Power Crossfade (1500 samples / 34.01 ms).");
  int peak = 0;
  for (int64_t i = 0; i < a.Frames(); ++i) peak = std::max(peak, static_cast<int>(a.At(i)));
  EXPECT_EQ(peak, 32767);  // sin + cos would reach 42426
  // Outside the two passes nothing changed.
  for (int64_t i : {0, 13499, 16500, 19999}) EXPECT_EQ(a.At(i), 30000) << i;
  // The pass starts with the loop's own value (fade-out weight 1) scaled with the rest.
  EXPECT_NEAR(a.At(13500), 30000 * 32767.0 / 42426, 2);
}

// The seam is the jump from the loop's last frame back to its first. A loop
// that is no whole number of periods jumps; after a crossfade the jump is no
// larger than the signal's own largest step from one frame to the next.
TEST(LoopCrossfadeTest, TheLoopSeamBecomesContinuous) {
  for (CrossfadeShape shape : {CrossfadeShape::kHanning, CrossfadeShape::kEqualPower}) {
    for (int channels : {1, 2}) {
      Pcm16Audio a = Sine(1.0, 44100, 150, 0.3, channels);
      const int64_t in = 10000, out = 30123;
      int maxStep = 0;
      for (int64_t i = 1; i < a.Frames(); ++i)
        for (int c = 0; c < channels; ++c) maxStep = std::max(maxStep, std::abs(a.At(i, c) - a.At(i - 1, c)));
      for (int c = 0; c < channels; ++c) ASSERT_GT(std::abs(a.At(out - 1, c) - a.At(in, c)), 3 * maxStep);
      ASSERT_EQ(Crossfade(a, in, out, shape).status, LoopCrossfadeResult::Status::kApplied);
      for (int c = 0; c < channels; ++c) {
        EXPECT_LE(std::abs(a.At(out - 1, c) - a.At(in, c)), maxStep + 2) << channels;
        // Playing on past the loop end also continues: its first frame follows
        // the loop end as the loop start follows the frame before it.
        EXPECT_LE(std::abs(a.At(out, c) - a.At(out - 1, c)), maxStep + 2);
      }
    }
  }
}

// Mono audio at -100 before |rise| and +100 from it on: one rising crossing.
Pcm16Audio Step(int64_t frames, int64_t rise) {
  Pcm16Audio a;
  a.samples.assign(static_cast<size_t>(frames), -100);
  for (int64_t i = std::max<int64_t>(0, rise); i < frames; ++i) a.samples[static_cast<size_t>(i)] = 100;
  return a.Pack(), a;
}

TEST(AlignLoopPhaseTest, SearchesOffsetsUpToTheLoopStartButNeverFrameZero) {
  struct Case {
    int64_t rise;
    int64_t offset;  // 0 with a message: no candidate
    bool found;
  };
  const Case cases[] = {{1, -49, true}, {100, 50, true}, {101, 0, false}, {0, 0, false}};
  for (const Case& c : cases) {
    const Pcm16Audio a = Step(8000, c.rise);
    const AlignPhaseResult r = alignLoopPhase(a.Span(), 50, 3000);
    if (c.found) {
      EXPECT_EQ(r.status, AlignPhaseResult::Status::kMoved) << c.rise;
      EXPECT_EQ(r.offset, c.offset);
      EXPECT_EQ(r.loopIn, 50 + c.offset);
      EXPECT_EQ(r.phase, 0.5);  // the end is no crossing
    } else {
      EXPECT_EQ(r.status, AlignPhaseResult::Status::kRefused) << c.rise;
      EXPECT_EQ(r.message, "No matching zero-crossings found in the search range.");
    }
  }
}

TEST(AlignLoopPhaseTest, ARisingLoopEndPrefersRisingStarts) {
  // 441 Hz at 44100 Hz (rising crossings at 100k + 1, falling ones at
  // 100k + 51) whose level swells over 4000 frames, so that of all the
  // rising starts the one a loop length before the end matches best.
  const Pcm16Audio a = Generate(0.5, 44100, 1, [](int64_t i, int) {
    return (0.3 + 0.2 * std::sin(2 * M_PI * static_cast<double>(i % 4000) / 4000)) *
           std::sin(2 * M_PI * static_cast<double>(i % 100) / 100);
  });
  const AlignPhaseResult r = alignLoopPhase(a.Span(), 1051, 5001);
  ASSERT_EQ(r.status, AlignPhaseResult::Status::kMoved);
  EXPECT_EQ(r.phase, 0.0);
  EXPECT_EQ(r.loopIn, 1001);
  EXPECT_EQ(r.loopOut, 5001);
  EXPECT_THAT(r.log, StartsWith("Adjusted loop start:\nShifted 50 samples left (1.13 ms)\nAlignment quality:\n"
                                "Content: 0.0000, Derivative: 0.0000, Phase: 0.00, Score: 0.0000"));

  // An end that is no crossing gives both directions phase 0.5.
  Pcm16Audio flat = a;
  for (size_t i = 4000; i < flat.samples.size(); ++i) flat.samples[i] = 1000;
  flat.Pack();
  const AlignPhaseResult half = alignLoopPhase(flat.Span(), 1051, 6000);
  ASSERT_NE(half.status, AlignPhaseResult::Status::kRefused) << half.message;
  EXPECT_EQ(half.loopOut, 6000);
  EXPECT_EQ(half.phase, 0.5);
}

TEST(AlignLoopPhaseTest, AStartThatScoresBestStays) {
  // A tone whose level swells with the loop's length, so only the loop start
  // itself matches the neighbourhood of the loop end.
  const Pcm16Audio a = Generate(0.5, 44100, 1, [](int64_t i, int) {
    return (0.3 + 0.2 * std::sin(2 * M_PI * static_cast<double>(i % 4000) / 4000)) *
           std::sin(2 * M_PI * static_cast<double>(i % 100) / 100);
  });
  const AlignPhaseResult r = alignLoopPhase(a.Span(), 1001, 5001);
  ASSERT_EQ(r.status, AlignPhaseResult::Status::kAlreadyOptimal) << r.message;
  EXPECT_EQ(r.loopIn, 1001);
  EXPECT_EQ(r.log, "Loop start already optimal. Quality: Content: 0.0000, Derivative: 0.0000");
}

TEST(AlignLoopPhaseTest, RefusesRegionsWithoutRoom) {
  const Pcm16Audio a = Sine(0.1, 44100, 441);
  const int64_t frames = a.Frames();
  EXPECT_EQ(alignLoopPhase(a.Span(), frames, frames + 10).message, "Invalid loop region.");
  // The end snaps to 4401: only 9 frames follow it.
  EXPECT_EQ(alignLoopPhase(a.Span(), 1001, 4401).message,
            "Loop region is too small or too close to the end of the file for alignment analysis.\n"
            "Minimum 100 samples needed.");
}

TEST(LoopBoundaryMismatchTest, ComparesUpToThirtyTwoSlopes) {
  const Pcm16Audio a = Sine(0.1, 44100, 441);
  EXPECT_EQ(LoopBoundaryMismatch(a.Span(), 101, 1101), 0.0);  // whole periods apart
  EXPECT_GT(LoopBoundaryMismatch(a.Span(), 151, 1101), 100.0);
  EXPECT_EQ(LoopBoundaryMismatch(a.Span(), 100, a.Frames() - 1), std::numeric_limits<double>::max());
}

}  // namespace
}  // namespace zandrel::test

namespace zandrel::test {
namespace {

// Many crossings of both directions, stereo, with a slow swell: every
// candidate start scores differently.
Pcm16Audio BusyStereo(double seconds) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-0.05, 0.05);
  return Generate(seconds, 44100, 2, [&](int64_t i, int c) {
    const double t = static_cast<double>(i) / 44100;
    return (0.4 + 0.2 * std::sin(2 * M_PI * 0.7 * t)) * std::sin(2 * M_PI * (220.0 + 110 * c) * t) + u(rng);
  });
}

TEST(AlignLoopPhaseTest, AWindowOfTheLoopGivesTheWholeAudiosResult) {
  const Pcm16Audio a = BusyStereo(2.0);
  const int64_t frames = a.Frames();
  // Near the start (fewer than 2000 candidates before), in the middle,
  // short loops, ends near and past the audio's end, and a refusal.
  const std::pair<int64_t, int64_t> loops[] = {{30, 9000},         {1500, 3000},          {20000, 60000},
                                               {40000, 40500},     {50000, frames - 3000}, {60000, frames - 20},
                                               {70000, frames + 50}, {frames - 10, frames + 5}};
  for (const auto& [in, out] : loops) {
    const AlignPhaseResult whole = alignLoopPhase(a.Span(), in, out);
    const PcmWindow window = AlignPhaseWindow(a.Span(), in, out);
    const AlignPhaseResult part = alignLoopPhase(window, in, out);
    EXPECT_EQ(part.status, whole.status) << in << ".." << out;
    EXPECT_EQ(part.loopIn, whole.loopIn) << in << ".." << out;
    EXPECT_EQ(part.loopOut, whole.loopOut) << in << ".." << out;
    EXPECT_EQ(part.score, whole.score) << in << ".." << out;
    EXPECT_EQ(part.message, whole.message);
    EXPECT_EQ(part.log, whole.log);
    EXPECT_LE(window.Frames(), std::min(frames, out) - in + 2 * 2000 + 4000 + 1000) << "copies only the loop's frames";
  }
  // A period of 100 frames: every rising start matches the end exactly, and
  // the first of them wins, the farthest candidate 2000 frames before.
  const Pcm16Audio periodic = Sine(1.0, 44100, 441);
  const AlignPhaseResult whole = alignLoopPhase(periodic.Span(), 2101, 30001);
  ASSERT_EQ(whole.loopIn, 101);
  EXPECT_EQ(alignLoopPhase(AlignPhaseWindow(periodic.Span(), 2101, 30001), 2101, 30001).loopIn, 101);
}

TEST(AlignLoopPhaseTest, ReportsAsItGoesAndStopsWhenTold) {
  const Pcm16Audio a = BusyStereo(1.0);
  std::vector<double> seen;
  const AlignPhaseResult done = alignLoopPhase(a.Span(), 10000, 30000, [&](double f) {
    seen.push_back(f);
    return true;
  });
  EXPECT_FALSE(done.cancelled);
  ASSERT_GE(seen.size(), 40u);  // 4001 candidates, one report per 64
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  int after = 0;
  const AlignPhaseResult stopped = alignLoopPhase(a.Span(), 10000, 30000, [&](double f) {
    if (f >= 0.5) ++after;
    return f < 0.5;
  });
  EXPECT_TRUE(stopped.cancelled);
  EXPECT_EQ(after, 1);
}

TEST(LoopCrossfadeTest, AWindowAroundTheLoopGetsWhatTheWholeAudioGets) {
  const Pcm16Audio a = BusyStereo(1.0);
  for (CrossfadeShape shape : {CrossfadeShape::kHanning, CrossfadeShape::kEqualPower}) {
    Pcm16Audio whole = a;
    const LoopCrossfadeResult r = Crossfade(whole, 12000, 30000, shape);
    ASSERT_EQ(r.status, LoopCrossfadeResult::Status::kApplied);
    const LoopCrossfadeResult plan = PlanLoopCrossfade(a.Frames(), 16, a.rate, 12000, 30000, shape);
    EXPECT_EQ(plan.log, r.log);
    PcmWindow window = LoopCrossfadeWindow(a.Span(), plan);
    EXPECT_EQ(window.first, 12000 - r.length);
    EXPECT_EQ(window.Frames(), 18000 + 2 * r.length);
    ASSERT_TRUE(ApplyLoopCrossfade(window, plan, shape));
    Bytes pasted = a.bytes;
    std::copy(window.bytes.begin(), window.bytes.end(), pasted.begin() + window.first * 4);
    EXPECT_TRUE(pasted == whole.bytes);
  }
}

TEST(LoopCrossfadeTest, ReportsAsItGoesAndStopsWhenTold) {
  const Pcm16Audio a = BusyStereo(3.0);
  const LoopCrossfadeResult plan = PlanLoopCrossfade(a.Frames(), 16, a.rate, 30000, 110000, CrossfadeShape::kHanning);
  std::vector<double> seen;
  PcmWindow window = LoopCrossfadeWindow(a.Span(), plan);
  ASSERT_TRUE(ApplyLoopCrossfade(window, plan, CrossfadeShape::kHanning, [&](double f) {
    seen.push_back(f);
    return true;
  }));
  ASSERT_GE(seen.size(), 10u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i] - seen[i - 1], 0.15);
  int after = 0;
  PcmWindow again = LoopCrossfadeWindow(a.Span(), plan);
  EXPECT_FALSE(ApplyLoopCrossfade(again, plan, CrossfadeShape::kHanning, [&](double f) {
    if (f >= 0.5) ++after;
    return f < 0.5;
  }));
  EXPECT_EQ(after, 1);
}

}  // namespace
}  // namespace zandrel::test

// The circular loop sampler's engine fed with generated input blocks of
// several sizes: the grid, the frames that land in each take, the monitor
// blocks and clicks, the ring of eight and the buffer pool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "tools/sampling/loop_sampler_engine.h"

namespace zandrel {
namespace {

// A value for every frame since the input opened, so a take shows where each
// of its frames came from. Never 0, so silence stands out.
int16_t Truth(int64_t g) { return static_cast<int16_t>((g * 7919) % 30000 + 1); }

// Feeds the engine frames [from, to) of Truth in blocks of |block| frames,
// ticking the timer every 40 ms of audio and reading the monitor after each
// block, as the output would.
struct Feeder {
  LoopSamplerEngine& engine;
  size_t block;
  int64_t g = 0;
  int64_t sinceTick = 0;
  size_t inputBlocks = 0;
  size_t monitorBlocks = 0;
  bool tick = true;
  int dropped = 0;
  std::vector<int16_t> monitor;  // every monitor frame in order

  void To(int64_t to) {
    std::vector<int16_t> in(block), out(engine.MaxBlockFrames());
    while (g < to) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), to - g));
      for (size_t i = 0; i < n; ++i) in[i] = Truth(g + static_cast<int64_t>(i));
      engine.OnInputBlock(in.data(), n);
      ++inputBlocks;
      g += static_cast<int64_t>(n);
      size_t frames = 0;
      while (engine.Monitor()->Pop(out.data(), out.size(), &frames)) {
        ++monitorBlocks;
        EXPECT_EQ(frames, n);
        monitor.insert(monitor.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(frames));
      }
      sinceTick += static_cast<int64_t>(n);
      if (tick && sinceTick >= 1764) {
        sinceTick = 0;
        dropped += engine.TimerTick().droppedTakes;
      }
    }
  }
};

TEST(LoopGrid, FromTheTimingTexts) {
  struct Case {
    const char *tempo, *bars, *num, *den;
    int64_t frames;
    double perBeat;
  };
  const Case cases[] = {
      {"120", "2", "4", "4", 176400, 22050.0}, {"90", "1", "6", "8", 88200, 14700.0},
      {"abc", "2", "4", "4", 176400, 22050.0}, {"0", "2", "4", "4", 176400, 22050.0},
      {"120.5", "2", "4", "4", 176400, 22050.0}, {"120", "-3", "0", "x", 88200, 22050.0},
  };
  for (const Case& c : cases) {
    const LoopGrid g = ComputeLoopGrid(c.tempo, c.bars, c.num, c.den);
    EXPECT_EQ(g.loopFrames, c.frames) << c.tempo << " " << c.bars;
    EXPECT_DOUBLE_EQ(g.framesPerBeat, c.perBeat) << c.tempo;
  }
  EXPECT_EQ(ComputeLoopGrid("90", "1", "6", "8").beatsPerBar, 6);
}

TEST(LoopGrid, LatencyIsClampedToOneSecond) {
  const std::pair<const char*, int> cases[] = {{"50", 2205}, {"-20", 0}, {"5000", 44100}, {"x", 0}, {"1000", 44100}};
  for (const auto& [text, frames] : cases) EXPECT_EQ(LatencyFrames(text), frames) << text;
}

TEST(LoopGrid, ShortLoopsAndLoopsBeyondTheTakeMemoryAreRefused) {
  using R = LoopSamplerEngine::RecordResult;
  LoopSamplerEngine engine;
  // The longest loop whose takes fit the memory bound: 2 GiB / (13 * 2 bytes).
  const int64_t longest = static_cast<int64_t>(kMaxTakeMemoryBytes / (kTakesInMemory * 2));
  const std::pair<LoopGrid, R> cases[] = {
      {ComputeLoopGrid("600", "1", "1", "4"), R::kStarted},     // 4410 frames, 0.1 s
      {ComputeLoopGrid("601", "1", "1", "4"), R::kTooShort},    // just under
      {ComputeLoopGrid("4", "2", "4", "4"), R::kStarted},       // 120 s
      {ComputeLoopGrid("30", "16", "4", "4"), R::kStarted},     // 128 s
      {ComputeLoopGrid("1", "2", "4", "4"), R::kStarted},       // 480 s
      {LoopGrid{longest + 1, 22050.0, 4}, R::kTooLong},
      {ComputeLoopGrid("1", "2000000", "4", "4"), R::kTooLong},
  };
  for (const auto& [grid, result] : cases) {
    engine.SetGrid(grid);
    EXPECT_EQ(engine.Record(), result) << grid.loopFrames;
    EXPECT_EQ(engine.Armed(), result == R::kStarted);
    engine.Stop();
  }
  // Checked without recording: takes of that size would take 2 GiB here.
  EXPECT_EQ(CheckLoopLength(longest), LoopLengthCheck::kAllowed);
  EXPECT_EQ(CheckLoopLength(longest + 1), LoopLengthCheck::kTooLong);
  EXPECT_STREQ(kLoopTooShortText, "Loop length must be at least 0.1 seconds");
  EXPECT_STREQ(kLoopTooLongText, "Loop too long: its takes would need more than 2 GB of memory");
}

TEST(LoopGrid, SixteenBarsAtThirtyBeatsPerMinuteRecordWholeTakes) {
  LoopSamplerEngine engine;
  const LoopGrid grid = ComputeLoopGrid("30", "16", "4", "4");
  ASSERT_EQ(grid.loopFrames, 5644800);
  engine.SetGrid(grid);
  Feeder feed{engine, 1024};
  ASSERT_EQ(engine.Record(), LoopSamplerEngine::RecordResult::kStarted);
  feed.To(grid.loopFrames + 3000);
  ASSERT_TRUE(engine.Stop());
  EXPECT_EQ(feed.dropped, 0);
  const std::deque<std::vector<int16_t>>& ring = engine.Takes();
  ASSERT_EQ(ring.size(), 2u);
  ASSERT_EQ(ring[0].size(), 5644800u);
  // The whole first loop, to its last frame, then the next loop's start.
  for (int64_t f : {int64_t{0}, int64_t{1234567}, grid.loopFrames - 1})
    EXPECT_EQ(ring[0][static_cast<size_t>(f)], Truth(f)) << f;
  EXPECT_EQ(ring[1][2999], Truth(grid.loopFrames + 2999));
  EXPECT_EQ(ring[1][3000], 0);  // silent after Stop
}

TEST(Clicks, AccentAndNormalClickShapes) {
  const MetronomeClicks c = BuildClicks();
  ASSERT_EQ(c.accent.size(), 441u);
  ASSERT_EQ(c.normal.size(), 441u);
  EXPECT_EQ(c.accent[10], static_cast<int16_t>(std::sin(10.0 / 44100 * 6283.18) * 26213.6));
  auto peak = [](const std::vector<int16_t>& v) {
    int p = 0;
    for (int16_t s : v) p = std::max(p, std::abs(static_cast<int>(s)));
    return p;
  };
  EXPECT_NEAR(peak(c.accent), 26213, 30);
  EXPECT_NEAR(peak(c.normal), 16383, 30);
  EXPECT_LT(std::abs(c.accent[440]), 400);  // faded out
  // 1000 Hz and 800 Hz: 10 and 8 periods in 10 ms (sign changes).
  auto crossings = [](const std::vector<int16_t>& v) {
    int n = 0;
    for (size_t i = 1; i < 353; ++i) n += (v[i - 1] < 0) != (v[i] < 0);
    return n;
  };
  EXPECT_NEAR(crossings(c.accent), 16, 1);
  EXPECT_NEAR(crossings(c.normal), 13, 1);
}

class BlockSizes : public ::testing::TestWithParam<size_t> {};

TEST_P(BlockSizes, TakesHoldTheirGridFramesAndTheNinthOverwritesSlotZero) {
  LoopSamplerEngine engine;
  engine.SetGrid(ComputeLoopGrid("120", "1", "1", "4"));  // 22050 frames
  const int64_t E = 22050;
  engine.SetMonitor(true);
  Feeder feed{engine, GetParam()};
  feed.To(1000);  // Record pressed mid-loop
  const int64_t start = feed.g;
  ASSERT_EQ(engine.Record(), LoopSamplerEngine::RecordResult::kStarted);
  feed.To(9 * E + 5000);
  ASSERT_TRUE(engine.Stop());
  EXPECT_EQ(feed.dropped, 0);

  const std::deque<std::vector<int16_t>>& ring = engine.Takes();
  ASSERT_EQ(ring.size(), 8u);
  EXPECT_EQ(engine.RingIndex(), 2);
  // Slot 0 holds the ninth take (loop 8), slot 1 the stopped tenth (loop 9),
  // slots 2..7 loops 2..7.
  auto expectLoop = [&](size_t slot, int64_t loop, int64_t from, int64_t to) {
    const std::vector<int16_t>& take = ring[slot];
    ASSERT_EQ(take.size(), static_cast<size_t>(E));
    for (int64_t j = 0; j < E; ++j) {
      const int16_t want = j >= from && j < to ? Truth(loop * E + j) : 0;
      ASSERT_EQ(take[static_cast<size_t>(j)], want) << "slot " << slot << " frame " << j;
    }
  };
  expectLoop(0, 8, 0, E);
  expectLoop(1, 9, 0, 5000);
  for (size_t s = 2; s < 8; ++s) expectLoop(s, static_cast<int64_t>(s), 0, E);
  (void)start;

  // One monitor block per input block, the input itself while monitoring.
  EXPECT_EQ(feed.monitorBlocks, feed.inputBlocks);
  ASSERT_EQ(feed.monitor.size(), static_cast<size_t>(feed.g));
  for (int64_t i = 0; i < feed.g; i += 997) ASSERT_EQ(feed.monitor[static_cast<size_t>(i)], Truth(i)) << i;
}

TEST_P(BlockSizes, RecordMidLoopLeavesSilenceBeforeTheBlockItTookEffectIn) {
  LoopSamplerEngine engine;
  engine.SetGrid(ComputeLoopGrid("120", "1", "1", "4"));
  const int64_t E = 22050;
  Feeder feed{engine, GetParam()};
  feed.To(1000);
  ASSERT_EQ(engine.Record(), LoopSamplerEngine::RecordResult::kStarted);
  EXPECT_TRUE(engine.Armed());
  feed.To(E + 10);
  EXPECT_TRUE(engine.Recording());
  engine.TimerTick();
  ASSERT_GE(engine.Takes().size(), 1u);
  const std::vector<int16_t>& first = engine.Takes()[0];
  for (int64_t j = 0; j < E; ++j) ASSERT_EQ(first[static_cast<size_t>(j)], j < 1000 ? 0 : Truth(j)) << j;
}

TEST_P(BlockSizes, ClicksFallOnBeatsEarlyByTheLatencyWithTheAccentOnTheDownbeat) {
  LoopSamplerEngine engine;
  engine.SetGrid(ComputeLoopGrid("120", "1", "4", "4"));  // 88200 frames, beats of 22050
  engine.SetLatencyFrames(LatencyFrames("50"));
  engine.SetMetronome(true);
  const int64_t block = static_cast<int64_t>(GetParam());
  Feeder feed{engine, GetParam()};
  feed.To(2 * 88200);
  ASSERT_EQ(feed.monitor.size(), 2u * 88200);
  // A frame is mixed at the grid position of the end of its block plus the
  // latency, so a click starts |latency + block| frames before its beat:
  // within a block the offset is the block's length for every frame.
  for (int beat = 1; beat < 8; ++beat) {
    const int64_t at = beat * 22050 - 2205;
    int64_t first = -1;
    for (int64_t g = at - block - 5; g < at + 5; ++g)
      if (g >= 0 && feed.monitor[static_cast<size_t>(g)] != 0) {
        first = g;
        break;
      }
    ASSERT_GE(first, 0) << beat;
    // The click starts with sin(0) = 0: its first audible frame is the next.
    const int64_t end = first + block;  // where the offset came from
    EXPECT_LE(std::abs((first - 1) - (at - block)), 1) << beat << " end " << end;
    int peak = 0;
    for (int64_t g = first; g < first + 441; ++g)
      peak = std::max(peak, std::abs(static_cast<int>(feed.monitor[static_cast<size_t>(g)])));
    EXPECT_NEAR(peak, beat % 4 == 0 ? 26213 : 16383, 40) << beat;
  }
}

INSTANTIATE_TEST_SUITE_P(Frames, BlockSizes, ::testing::Values(1, 441, 1024, 8192));

TEST(LoopSamplerEngine, GainSaturatesAndUnityPassesUntouched) {
  for (double gain : {1.0, 2.0}) {
    LoopSamplerEngine engine;
    engine.SetGrid(ComputeLoopGrid("600", "1", "1", "4"));  // 4410
    engine.SetRecordGain(gain);
    engine.SetMonitor(true);
    engine.Record();
    std::vector<int16_t> in(4410, 20000);
    in[5] = -12345;
    engine.OnInputBlock(in.data(), 4410);
    engine.TimerTick();
    ASSERT_EQ(engine.Takes().size(), 1u);
    EXPECT_EQ(engine.Takes()[0][0], gain == 1.0 ? 20000 : 32767);
    EXPECT_EQ(engine.Takes()[0][5], gain == 1.0 ? -12345 : -24690);
  }
}

TEST(LoopSamplerEngine, MonitorFifoDropsWhenFourBlocksWait) {
  LoopSamplerEngine engine(1024);
  std::vector<int16_t> in(1024, 1);
  for (int i = 0; i < 6; ++i) engine.OnInputBlock(in.data(), in.size());
  EXPECT_EQ(engine.Monitor()->Pushed(), 4u);
  EXPECT_EQ(engine.Monitor()->Dropped(), 2u);
}

TEST(LoopSamplerEngine, WithoutSparesTheFinishedLoopIsDroppedAndCountedAndStopZeroesPastTheStopPoint) {
  LoopSamplerEngine engine;
  engine.SetGrid(ComputeLoopGrid("600", "1", "1", "4"));  // 4410
  const int64_t E = 4410;
  Feeder feed{engine, 441};
  feed.tick = false;  // the timer does not run: only the three spares exist
  ASSERT_EQ(engine.Record(), LoopSamplerEngine::RecordResult::kStarted);
  EXPECT_EQ(engine.SpareCount(), 3u);
  feed.To(6 * E + 100);
  EXPECT_EQ(engine.SpareCount(), 0u);
  const LoopSamplerEngine::TimerReport report = engine.TimerTick();
  EXPECT_EQ(report.droppedTakes, 3);  // boundaries 4, 5 and 6
  EXPECT_TRUE(report.takesChanged);
  ASSERT_EQ(engine.Takes().size(), 3u);
  EXPECT_EQ(engine.Takes()[2][0], Truth(2 * E));
  EXPECT_EQ(engine.SpareCount(), 3u);  // topped up by the tick
  ASSERT_TRUE(engine.Stop());
  ASSERT_EQ(engine.Takes().size(), 4u);
  const std::vector<int16_t>& last = engine.Takes()[3];
  EXPECT_EQ(last[99], Truth(6 * E + 99));
  EXPECT_EQ(last[100], 0);  // loop 5's audio past the stop point is gone
  EXPECT_EQ(last[4409], 0);
}

TEST(LoopSamplerEngine, SeveralBoundariesInOneBlockQueueEveryTakeInOrder) {
  LoopSamplerEngine engine(16384);
  engine.SetGrid(ComputeLoopGrid("600", "1", "1", "4"));  // 4410
  Feeder feed{engine, 16384};
  engine.Record();
  feed.To(16384);  // boundaries at 4410, 8820 and 13230
  engine.TimerTick();
  ASSERT_EQ(engine.Takes().size(), 3u);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(engine.Takes()[static_cast<size_t>(t)][7], Truth(t * 4410 + 7)) << t;
}

TEST(TakeBuffer, CrossfadeFromTheNextTakesStart) {
  std::deque<std::vector<int16_t>> ring;
  for (int t = 0; t < 5; ++t) ring.emplace_back(22050, static_cast<int16_t>(t % 2 ? -1000 : 1000));
  const std::vector<int16_t> faded = BuildTakeBuffer(ring, 3, 100);  // take 3 = -1000, take 4 = 1000
  ASSERT_EQ(faded.size(), 22050u);
  EXPECT_EQ(faded[0], 1000);
  EXPECT_NEAR(faded[2205], 0, 1);
  EXPECT_NEAR(faded[4409], -1000, 1);
  EXPECT_EQ(faded[4410], -1000);
  EXPECT_EQ(BuildTakeBuffer(ring, 4, 100), ring[4]);  // the last slot
  EXPECT_EQ(BuildTakeBuffer(ring, 3, 0), ring[3]);
  EXPECT_TRUE(BuildTakeBuffer(ring, 5, 100).empty());
  EXPECT_TRUE(BuildTakeBuffer(ring, -1, 100).empty());
}

TEST(TakeBuffer, PlayingTakeIsMixedOnTheGrid) {
  LoopSamplerEngine engine(1024);
  engine.SetGrid(ComputeLoopGrid("600", "1", "1", "4"));  // 4410
  std::vector<int16_t> take(4410);
  for (size_t i = 0; i < take.size(); ++i) take[i] = static_cast<int16_t>(i);
  engine.SetPlayingTake(take);
  engine.SetPlaying(true);
  Feeder feed{engine, 1000};
  feed.To(3000);
  // Grid frame (end of block + i): the block of frames 1000..1999 plays
  // take frames 2000..2999.
  EXPECT_EQ(feed.monitor[1000], 2000);
  EXPECT_EQ(feed.monitor[1999], 2999);
  const std::vector<int> levels = TakeLevels(engine.PlayingTakeCopy());
  ASSERT_EQ(levels.size(), 2000u);
  EXPECT_EQ(levels[1999], 3999 * 100 / 32768);  // bins of two samples: 4000 of them
}

TEST(PlainWav, HeaderAndData) {
  const std::vector<uint8_t> wav = PlainWavBytes({1, -2});
  ASSERT_EQ(wav.size(), 48u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(wav[4], 40);  // data + 36
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(wav[28] | wav[29] << 8 | wav[30] << 16, 88200);
  EXPECT_EQ(wav[32], 2);
  EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
  EXPECT_EQ(wav[46], 0xFE);
  EXPECT_EQ(wav[47], 0xFF);
}

}  // namespace
}  // namespace zandrel

// The recording tools' display models: meter segments and peak hold, the
// per-pass level history, PCM overviews, take lanes and the loop strip grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "widgets/model/level_models.h"

namespace zandrel {
namespace {

struct FakeClock {
  uint32_t now = 1000;
  MeterModel::Clock fn() {
    return [this] { return now; };
  }
};

int CountSegments(const MeterModel& m, MeterModel::Segment s) {
  int n = 0;
  for (int i = 0; i < m.segmentCount; ++i) n += m.SegmentAt(i) == s;
  return n;
}

TEST(MeterModel, FullLevelLightsTwentyEightGreenEightYellowFourRed) {
  FakeClock clock;
  MeterModel meter(clock.fn());
  meter.SetLevel(100);
  EXPECT_EQ(CountSegments(meter, MeterModel::Segment::kGreen), 28);
  EXPECT_EQ(CountSegments(meter, MeterModel::Segment::kYellow), 8);
  EXPECT_EQ(CountSegments(meter, MeterModel::Segment::kRed), 4);
  EXPECT_EQ(MeterSegmentColour(meter.SegmentAt(39)), (Rgb{255, 0, 0}));
  EXPECT_TRUE(meter.TakeDirty());
  EXPECT_FALSE(meter.TakeDirty());
}

TEST(MeterModel, PeakHoldsTwoSecondsThenFallsAndTheTimerStops) {
  FakeClock clock;
  MeterModel meter(clock.fn());
  meter.SetLevel(50);
  meter.SetLevel(0);
  EXPECT_EQ(meter.SegmentAt(20), MeterModel::Segment::kPeak);
  EXPECT_EQ(CountSegments(meter, MeterModel::Segment::kPeak), 1);
  for (int t = 50; t < 2000; t += 50) {
    clock.now = 1000 + t;
    meter.TickPeak();
    ASSERT_EQ(meter.Peak(), 50) << t;
  }
  EXPECT_TRUE(meter.PeakTimerRunning());
  clock.now = 3000;
  meter.TickPeak();
  EXPECT_EQ(meter.Peak(), 0);
  EXPECT_FALSE(meter.PeakTimerRunning());
  EXPECT_EQ(CountSegments(meter, MeterModel::Segment::kUnlit), 40);
}

TEST(MeterModel, ValuesAreClampedToTheRange) {
  FakeClock clock;
  MeterModel meter(clock.fn());
  meter.rangeMin = 10;
  meter.rangeMax = 20;
  meter.SetLevel(5);
  EXPECT_EQ(meter.Level(), 0);
  meter.SetLevel(15);
  EXPECT_EQ(meter.Level(), 50);
  meter.rangeMin = 20;
  meter.SetLevel(100);
  EXPECT_EQ(meter.Level(), 0);
}

TEST(LevelHistory, SkippedBinsGetARampAndAnEarlierPositionStartsAPass) {
  LevelHistory h;
  h.position = 0.0;
  h.AddLevel(0);
  h.position = 0.01;  // bin 19
  h.AddLevel(100);
  for (int b = 1; b <= 19; ++b) EXPECT_NEAR(h.bins[static_cast<size_t>(b)], b / 19.0f, 1e-6f) << b;
  EXPECT_EQ(h.bins[20], 0.0f);
  h.position = 0.005;  // bin 9: a new pass writes only its own bin
  h.AddLevel(30);
  EXPECT_FLOAT_EQ(h.bins[9], 0.3f);
  EXPECT_NEAR(h.bins[10], 10 / 19.0f, 1e-6f);
  h.AddLevel(10);  // same bin: the larger stays
  EXPECT_FLOAT_EQ(h.bins[9], 0.3f);
  h.Clear();
  EXPECT_EQ(h.lastBin, -1);
  EXPECT_EQ(*std::max_element(h.bins.begin(), h.bins.end()), 0.0f);
}

TEST(LevelsFromPcm, PeaksPerBar) {
  std::vector<int16_t> pcm = {0, -32768, 16384, 0};
  const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  std::vector<int> levels = LevelsFromPcm(bytes, pcm.size() * 2, 16, 1, 8);
  // Four frames over eight bars: the bars without frames stay 0.
  EXPECT_EQ(levels, (std::vector<int>{0, 0, 0, 100, 0, 50, 0, 0}));
  EXPECT_EQ(LevelsFromPcm(bytes, 0, 16, 1, 4), (std::vector<int>{0, 0, 0, 0}));
  const uint8_t eight[] = {128, 255, 0};
  EXPECT_EQ(LevelsFromPcm(eight, 3, 8, 1, 3), (std::vector<int>{0, 99, 100}));
}

TEST(TakePeaks, AShortTakeFillsOneBinPerFrame) {
  std::vector<int16_t> take(100);
  for (size_t i = 0; i < take.size(); ++i) take[i] = static_cast<int16_t>(i * 100);
  const TakePeakLane lane = ComputeTakePeaks(take.data(), take.size(), 1);
  ASSERT_EQ(lane.maxima.size(), 2048u);
  EXPECT_EQ(lane.maxima[99], 9900);
  EXPECT_EQ(lane.minima[99], 9900);
  EXPECT_EQ(lane.maxima[100], -32768);
  EXPECT_EQ(lane.minima[2047], 32767);
  EXPECT_TRUE(ComputeTakePeaks(take.data(), 0, 1).maxima.empty());
}

TEST(TakeLanes, EightLanesThreeTakesRecordingTheFourth) {
  // Lane colours for 3 takes, ring index 3, recording.
  const Rgb tintedTake0{static_cast<uint8_t>(0.85 * 25 + 0.15 * 70), static_cast<uint8_t>(0.85 * 25 + 0.15 * 130),
                        static_cast<uint8_t>(0.85 * 25 + 0.15 * 180)};
  EXPECT_EQ(LaneColour(0, 3, -1, 3, true), tintedTake0);
  EXPECT_EQ(LaneColour(3, 3, -1, 3, true), (Rgb{180, 20, 20}));
  EXPECT_EQ(LaneColour(1, 3, 1, 3, true), (Rgb{94, 120, 156}));
  for (int c = 4; c < 8; ++c) {
    const Rgb lane = LaneColour(c, 3, -1, 3, true);
    EXPECT_LT(lane.r + lane.g + lane.b, 3 * 60) << c;  // dark
  }
  EXPECT_EQ(LaneColour(3, 3, 3, 3, false), (Rgb{60, 30, 30}));  // ring lane, selected, untinted
  EXPECT_EQ(LaneColour(5, 3, 5, 3, false), (Rgb{40, 40, 80}));
  EXPECT_EQ(LanePalette(12), (Rgb{255, 140, 0}));
  EXPECT_EQ(LaneHeight(200, 8), 22);
  EXPECT_EQ(LaneHeight(50, 8), 15);
}

TEST(LoopGridLines, BarAndBeatLines) {
  const std::vector<GridLine> fourFour = LoopGridLines(800, 2, 4, 4);
  ASSERT_EQ(fourFour.size(), 9u);
  std::vector<int> bars;
  for (const GridLine& l : fourFour)
    if (l.bar) bars.push_back(l.x);
  EXPECT_EQ(bars, (std::vector<int>{0, 400, 800}));
  EXPECT_EQ(fourFour[1], (GridLine{100, false}));

  struct Case {
    int width, bars, beatsPerBar, beatUnit;
    size_t lines;
    int barLines;
  };
  const Case cases[] = {
      {800, 2, 1, 8, 2, 2},   // a bar of an eighth: every line is a bar line (no modulo by zero)
      {800, 4, 2, 16, 3, 3},  // 2/16: half a quarter per bar
      {800, 1, 6, 8, 4, 2},   // 6/8: three quarters per bar
      {800, 2, 4, 0, 0, 0},   // a stored denominator of 0
      {800, 0, 4, 4, 0, 0},
      {800, 2, 4, -4, 0, 0},
      {5, 8, 4, 4, 0, 0},     // 32 lines in 5 pixels
  };
  for (const Case& c : cases) {
    const std::vector<GridLine> lines = LoopGridLines(c.width, c.bars, c.beatsPerBar, c.beatUnit);
    EXPECT_EQ(lines.size(), c.lines) << c.bars << " " << c.beatsPerBar << "/" << c.beatUnit;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const GridLine& l) { return l.bar; }), c.barLines)
        << c.bars << " " << c.beatsPerBar << "/" << c.beatUnit;
  }
}

TEST(StripColours, LevelStrokesAndDimming) {
  EXPECT_EQ(StripLevelColour(0.0f, false), (Rgb{0, 100, 0}));
  EXPECT_EQ(StripLevelColour(1.0f, false), (Rgb{50, 255, 50}));
  EXPECT_EQ(StripLevelColour(1.0f, true), (Rgb{40, 142, 40}));
  const std::vector<float> bins = {0.0f, 1.0f};
  EXPECT_FLOAT_EQ(HistoryAtColumn(bins, 50, 100), 0.5f);
}

}  // namespace
}  // namespace zandrel

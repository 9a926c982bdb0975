#include "view/model/ruler_ticks.h"

#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <set>

namespace zandrel {
namespace {

std::vector<std::string> Labels(const std::vector<RulerTick>& ticks, size_t count) {
  std::vector<std::string> out;
  for (size_t i = 0; i < ticks.size() && i < count; ++i) out.push_back(ticks[i].label);
  return out;
}

TEST(FramesRulerTest, StepIsTheLargestRoundNumberWithinEightyPixels) {
  EXPECT_EQ(FramesRulerStep(256), 20000);
  EXPECT_EQ(FramesRulerStep(10), 500);
  EXPECT_EQ(FramesRulerStep(0.5), 20);
  EXPECT_EQ(FramesRulerStep(1), 50);
  EXPECT_EQ(FramesRulerStep(2.5), 100);  // 200 frames: ratio 2 is not above 2
}

TEST(FramesRulerTest, StepIsAtLeastOneFrameAtAnyZoom) {
  // A zero step would never end the tick loop.
  for (double fpp : {0.01, 0.001, 1e-9, 0.0, -4.0, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_GE(FramesRulerStep(fpp), 1) << fpp;
  // And the tick list still ends: one tick per pixel at most.
  const auto ticks = FramesRulerTicks(0, 0.001, 1600);
  EXPECT_LE(ticks.size(), 1601u);
  EXPECT_FALSE(ticks.empty());
  EXPECT_TRUE(FramesRulerTicks(0, 0.0, 1600).empty());
}

TEST(FramesRulerTest, LabelsAndPositions) {
  const auto coarse = FramesRulerTicks(0, 256, 1600);
  EXPECT_THAT(Labels(coarse, 3), ::testing::ElementsAre("0", "20k", "40k"));
  EXPECT_EQ(coarse[1].x, 78);  // 20000 / 256 = 78.1
  EXPECT_EQ(coarse[1].frame, 20000);

  const auto fine = FramesRulerTicks(1, 10, 1600);
  EXPECT_THAT(Labels(fine, 4), ::testing::ElementsAre("500", "1.0k", "1.5k", "2.0k"));

  EXPECT_EQ(FramesRulerLabel(1000000, 500000), "1.00M");
  EXPECT_EQ(FramesRulerLabel(1500000, 500000), "1.50M");
  EXPECT_EQ(FramesRulerLabel(2000000, 2000000), "2M");
  EXPECT_EQ(FramesRulerLabel(4000000, 2000000), "4M");
  EXPECT_EQ(FramesRulerLabel(999, 1), "999");
}

TEST(FramesRulerTest, NothingLeftOfFrameZero) {
  const auto ticks = FramesRulerTicks(-50000, 256, 1600);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().frame, 0);
  EXPECT_EQ(ticks.front().x, 195);  // 50000 / 256
  for (const auto& t : ticks) EXPECT_LE(t.x, 1600);
}

TEST(TimeRulerTest, StepRoundsUpAndLabelsShowTheRightDecimals) {
  EXPECT_DOUBLE_EQ(TimeRulerStep(256, 44100), 0.5);
  EXPECT_NEAR(TimeRulerStep(4, 44100), 0.01, 1e-12);
  EXPECT_EQ(TimeRulerStep(256, 0), 0.0);

  EXPECT_THAT(Labels(TimeRulerTicks(0, 256, 44100, 1600), 3), ::testing::ElementsAre("00:00.0", "00:00.5", "00:01.0"));
  EXPECT_THAT(Labels(TimeRulerTicks(0, 4, 44100, 1600), 2), ::testing::ElementsAre("00:00.00", "00:00.01"));
  EXPECT_EQ(TimeRulerLabel(1.25, 0.05), "00:01.25");
  EXPECT_EQ(TimeRulerLabel(65, 1), "01:05.0");
  EXPECT_TRUE(TimeRulerTicks(0, 256, 0, 1600).empty());
}

TEST(BeatRulerTest, SubdivisionsFollowTheZoom) {
  auto count = [](const std::vector<BeatLine>& lines, BeatLineKind kind) {
    return std::count_if(lines.begin(), lines.end(), [&](const BeatLine& l) { return l.kind == kind; });
  };
  // 120 BPM at 44100 Hz: a beat is 22050 frames, 86.1 px at 256 frames per pixel.
  const auto fine = BeatRulerLines(0, 256, 44100, 120, 10000000, 1600);
  EXPECT_GT(count(fine, BeatLineKind::kEighth), 0);
  EXPECT_GT(count(fine, BeatLineKind::kQuarter), 0);
  EXPECT_GT(count(fine, BeatLineKind::kHalf), 0);
  EXPECT_GT(count(fine, BeatLineKind::kBeat), 0);
  const auto bar2 = std::find_if(fine.begin(), fine.end(), [](const BeatLine& l) { return l.label == "2"; });
  ASSERT_NE(bar2, fine.end());
  EXPECT_EQ(bar2->frame, 88200);
  const auto beat = std::find_if(fine.begin(), fine.end(), [](const BeatLine& l) { return l.kind == BeatLineKind::kBeat; });
  EXPECT_EQ(beat->label, ".2");
  EXPECT_EQ(beat->frame, 22050);
  // Each grid line appears once, drawn by the coarsest level it belongs to.
  std::set<int64_t> frames;
  for (const auto& l : fine) EXPECT_TRUE(frames.insert(l.frame).second) << l.frame;
  EXPECT_TRUE(frames.count(2756));   // an eighth
  EXPECT_TRUE(frames.count(5512));   // a quarter
  EXPECT_TRUE(frames.count(11025));  // a half

  // At 1024 frames per pixel (21.5 px a beat) only bars remain; tempo 0 is 120 BPM.
  const auto coarse = BeatRulerLines(0, 1024, 44100, 0, 10000000, 1600);
  EXPECT_EQ(count(coarse, BeatLineKind::kBar), static_cast<long>(coarse.size()));
  EXPECT_EQ(coarse[1].frame, 88200);
}

TEST(BeatRulerTest, BarNumbersContinuePastTheAudioWithoutLines) {
  const auto lines = BeatRulerLines(0, 1024, 44100, 120, 100000, 1600);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(lines[1].drawLine);   // bar 2 starts at 88200, inside the audio
  EXPECT_FALSE(lines[2].drawLine);  // bar 3 starts past the end
  EXPECT_EQ(lines[2].label, "3");
  for (const auto& l : BeatRulerLines(-200000, 1024, 44100, 120, 100000, 1600)) EXPECT_GE(l.frame, 0);
}

// An hour at 120 BPM (1800 bars) seen at zooms from 86 pixels a bar down to
// the whole file in 1600 pixels: where bars crowd, lines keep every n-th bar
// and numbers every m-th (powers of two, counted from bar 1), and nothing is
// left out while the bars are wide enough.
TEST(BeatRulerTest, CrowdedBarsAreThinnedToWhatFits) {
  constexpr int64_t kHour = 44100LL * 3600;
  struct Case {
    double framesPerPixel;
    int64_t lineEvery, numberEvery;
  };
  for (const Case& c : {Case{1024, 1, 1}, Case{2048, 1, 1}, Case{4096, 1, 2}, Case{8192, 2, 4},
                        Case{kHour / 1600.0, 16, 64}}) {
    SCOPED_TRACE(c.framesPerPixel);
    const auto lines = BeatRulerLines(0, c.framesPerPixel, 44100, 120, kHour, 1600);
    std::vector<int64_t> lined, numbered;
    int lastLine = -1000, lastNumber = -1000;
    for (const BeatLine& l : lines) {
      ASSERT_EQ(l.kind, BeatLineKind::kBar);
      const int64_t bar = l.frame / 88200;
      if (l.drawLine) {
        lined.push_back(bar);
        EXPECT_GE(l.x - lastLine, kBarLineSpacing - 1);
        lastLine = l.x;
      }
      if (!l.label.empty()) {
        numbered.push_back(bar);
        EXPECT_EQ(l.label, std::to_string(bar + 1));
        EXPECT_GE(l.x - lastNumber, kBarNumberSpacing - 1);
        lastNumber = l.x;
      }
    }
    // Every n-th bar on screen, from the first.
    const auto every = [](int64_t n, size_t count) {
      std::vector<int64_t> bars;
      for (size_t i = 0; i < count; ++i) bars.push_back(static_cast<int64_t>(i) * n);
      return bars;
    };
    const int64_t onScreen = static_cast<int64_t>(1600 * c.framesPerPixel / 88200) + 1;
    EXPECT_EQ(lined, every(c.lineEvery, static_cast<size_t>((std::min<int64_t>(onScreen, 1800) + c.lineEvery - 1) / c.lineEvery)));
    EXPECT_EQ(numbered, every(c.numberEvery, static_cast<size_t>((onScreen + c.numberEvery - 1) / c.numberEvery)));
  }
}

}  // namespace
}  // namespace zandrel

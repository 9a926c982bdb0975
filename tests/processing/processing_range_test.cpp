#include "processing/processing_range.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

constexpr int64_t kProcessingRangeFrames = 1000;

TEST(ProcessingRangeTest, FollowsTheSelectionRules) {
  struct Case {
    const char* what;
    SelectionState selection;
    bool hasRegions;
    std::optional<FrameRange> expected;
  };
  const Case cases[] = {
      {"no regions, loop playback off: whole file despite a selection",
       {100, 200, false},
       false,
       FrameRange{0, kProcessingRangeFrames}},
      {"no regions, loop playback on: the selection", {100, 200, true}, false, FrameRange{100, 200}},
      {"no regions, loop in unset, loop out past the data", {-1, 5000, true}, false, FrameRange{0, kProcessingRangeFrames}},
      {"no regions, an empty selection is still a range", {300, 300, true}, false, FrameRange{300, 300}},
      {"no regions, loop out unset: no range rather than a backward one", {100, -1, true}, false, std::nullopt},
      {"no regions, nothing selected with loop playback on", {-1, -1, true}, false, std::nullopt},
      {"no regions, selection beyond the data", {1500, 1600, true}, false, std::nullopt},
      {"no regions, loop in at the end of the data", {kProcessingRangeFrames, 1200, true}, false, std::nullopt},
      {"no regions, loop in past the data, loop out unset", {1200, -1, true}, false, std::nullopt},
      {"no regions, reversed selection is taken in order", {300, 100, true}, false, FrameRange{100, 300}},
      {"no regions, reversed selection reaching past the data", {5000, 900, true}, false, FrameRange{900, kProcessingRangeFrames}},
      {"regions, selection set", {100, 200, false}, true, FrameRange{100, 200}},
      {"regions, selection clamped to the data", {900, 5000, false}, true, FrameRange{900, kProcessingRangeFrames}},
      {"regions, no selection", {-1, -1, true}, true, std::nullopt},
      {"regions, empty selection", {200, 200, false}, true, std::nullopt},
      {"regions, reversed selection is taken in order", {300, 100, false}, true, FrameRange{100, 300}},
      {"regions, reversed selection with one point unset", {300, -1, false}, true, std::nullopt},
      {"regions, selection beyond the data", {1200, 1300, false}, true, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeProcessingRange(c.selection, c.hasRegions, kProcessingRangeFrames), c.expected) << c.what;
  }
}

TEST(ProcessingRangeTest, RawSelectionIgnoresRegionsAndPlayback) {
  EXPECT_EQ(SelectionRange({100, 200, false}, kProcessingRangeFrames), (FrameRange{100, 200}));
  EXPECT_EQ(SelectionRange({900, 5000, false}, kProcessingRangeFrames), (FrameRange{900, kProcessingRangeFrames}));
  EXPECT_EQ(SelectionRange({-1, 200, true}, kProcessingRangeFrames), std::nullopt);
  EXPECT_EQ(SelectionRange({300, 100, true}, kProcessingRangeFrames), (FrameRange{100, 300}));
  EXPECT_EQ(SelectionRange({5000, 900, true}, kProcessingRangeFrames), (FrameRange{900, kProcessingRangeFrames}));
  EXPECT_EQ(SelectionRange({300, 300, true}, kProcessingRangeFrames), std::nullopt);
  const auto beyond = SelectionRange({1200, 1300, false}, kProcessingRangeFrames);
  ASSERT_TRUE(beyond);
  EXPECT_TRUE(beyond->Empty());
  EXPECT_EQ(beyond->Length(), 0);
}

}  // namespace
}  // namespace zandrel

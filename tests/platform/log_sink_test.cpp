#include "platform/log_sink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zandrel {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct SplitCase {
  const char* text;
  std::vector<std::string> lines;
};

class SplitLogLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLogLinesTest, SplitsAtLineFeedsAndDropsTrailingCarriageReturns) {
  EXPECT_THAT(SplitLogLines(GetParam().text), ElementsAreArray(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLogLinesTest,
    ::testing::Values(SplitCase{"a\r\nb\r\n", {"a", "b"}},       // CRLF line ends leave no CR
                      SplitCase{"a\n\nb", {"a", "", "b"}},        // consecutive LFs give an empty line
                      SplitCase{"\nx", {"", "x"}},                // a leading LF gives an empty first line
                      SplitCase{"x\r\r\n", {"x"}},                // every trailing CR is cut
                      SplitCase{"a\rb", {"a\rb"}},                // a CR inside a line stays
                      SplitCase{"x\n", {"x"}},                    // a final LF adds no empty line
                      SplitCase{"", {}}, SplitCase{"\n", {""}}));

TEST(MemoryLogTest, EmptyTextAddsNothingButStillScrolls) {
  MemoryLog log;
  log.AppendLog("first");
  const int scrolls = log.scrollCount;
  log.AppendLog("");
  EXPECT_THAT(log.Lines(), ElementsAre("first"));
  EXPECT_EQ(log.scrollCount, scrolls + 1);
}

TEST(MemoryLogTest, ScrollsOncePerCallNotPerLine) {
  MemoryLog log;
  std::string text;
  for (int i = 0; i < 1000; ++i) text += (i % 2 ? "word\n" : "\n");
  log.AppendLog(text);
  EXPECT_EQ(log.Lines().size(), 1000u);
  EXPECT_EQ(log.scrollCount, 1);
}

TEST(MemoryLogTest, ProgressReplacesTheLastLine) {
  MemoryLog log;
  log.AppendLog("Working");
  log.AppendLog("10%");
  log.ReplaceLastLine("20%");
  EXPECT_THAT(log.Lines(), ElementsAre("Working", "20%"));
  log.Clear();
  log.RemoveLastLine();  // harmless on an empty log
  EXPECT_TRUE(log.Lines().empty());
}

TEST(LogHelpersTest, NullSinkMeansNoMainFrameAndIsSkipped) {
  Log(nullptr, "nothing");
  LogF(nullptr, "%d", 1);
  MemoryLog log;
  LogF(&log, "BPM = %.2f, Beats = %d", 93.5, 4);
  EXPECT_THAT(log.Lines(), ElementsAre("BPM = 93.50, Beats = 4"));
}

TEST(StepLogTest, EachKindPassesTenTimesAndTheRestIsSummedUpAtTheEnd) {
  MemoryLog target;
  {
    StepLog step(&target);
    for (int i = 1; i <= 25; ++i) LogF(step.Sink(), "Warning: region %d is bad", i);
    Log(step.Sink(), "Done once");
    for (int i = 0; i < 12; ++i) LogF(step.Sink(), "Adjusted key from %d to -%d", i, i);
    Log(step.Sink(), "Warning: region \"x\" is bad");  // another kind: the words differ
  }
  std::vector<std::string> expected;
  for (int i = 1; i <= 10; ++i) expected.push_back("Warning: region " + std::to_string(i) + " is bad");
  expected.push_back("Done once");
  for (int i = 0; i < 10; ++i) expected.push_back("Adjusted key from " + std::to_string(i) + " to -" + std::to_string(i));
  expected.push_back("Warning: region \"x\" is bad");
  expected.push_back("... and 15 more like it");
  expected.push_back("... and 2 more like it");
  EXPECT_THAT(target.Lines(), ElementsAreArray(expected));

  // No main frame: nothing to log into.
  StepLog none(nullptr);
  EXPECT_EQ(none.Sink(), nullptr);
}

}  // namespace
}  // namespace zandrel

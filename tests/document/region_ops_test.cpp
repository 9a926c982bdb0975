#include "document/region_ops.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace zandrel {
namespace {

using ::testing::ElementsAre;

InstrumentData With(std::vector<Region> regions) {
  InstrumentData d;
  d.hasInstrument = true;
  d.regions = std::move(regions);
  return d;
}

TEST(RegionOpsTest, NothingHappensWithoutInstrumentData) {
  InstrumentData d;
  d.regions = {{0, 1}};
  MemoryLog log;
  RemoveOrphanedRegions(d, &log);
  SanitizeKeyRanges(d, &log);
  TrimRegionsToDuration(d, 44100, 0.00001f);
  LimitRegionCount(d, 0, 100, &log);
  TransposeRegions(d, 5, &log);
  EXPECT_EQ(d.regions, (std::vector<Region>{{0, 1}}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(RemoveOrphanedRegionsTest, BoundsWhoseDistanceOverflowsAreRemovedWithTheirTrueSize) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  InstrumentData d = With({{-1, kMax}, {kMin, 100}, {kMax, -2}, {0, 100}, {kMin, kMax}});
  MemoryLog log;
  RemoveOrphanedRegions(d, &log);
  EXPECT_EQ(d.regions, (std::vector<Region>{{0, 100}}));
  EXPECT_THAT(
      log.Lines(),
      ElementsAre(
          "Removed orphaned region: startSample=-1, endSample=9223372036854775807 (size=9223372036854775808 samples)",
          "Removed orphaned region: startSample=-9223372036854775808, endSample=100 (size=9223372036854775908 "
          "samples)",
          "Removed orphaned region: startSample=9223372036854775807, endSample=-2 (size=-9223372036854775809 "
          "samples)",
          "Removed orphaned region: startSample=-9223372036854775808, endSample=9223372036854775807 "
          "(size=18446744073709551615 samples)"));
}

TEST(SanitizeKeyRangesTest, ClosesGapsSharesBoundariesAndKeepsRootsInside) {
  struct Case {
    std::vector<Region> in;
    std::vector<std::pair<int, int>> keys;
  };
  const Case cases[] = {
      // Gap closed, neighbours share their boundary key.
      {{{0, 10, -1, -1, 0, 40, 20}, {10, 20, -1, -1, 50, 80, 60}, {20, 30, -1, -1, 81, 127, 100}},
       {{0, 50}, {50, 81}, {81, 127}}},
      // Unsorted input with a root outside its zone widens the zone.
      {{{20, 30, -1, -1, 64, 127, 60}, {0, 10, -1, -1, 5, 63, 70}}, {{0, 70}, {64, 127}}},
      // Overlap: the high key is pulled back to the neighbour.
      {{{0, 10, -1, -1, 0, 100, 10}, {10, 20, -1, -1, 50, 127, 60}}, {{0, 50}, {50, 127}}},
      // Roots and keys far outside 0..127 never produce a key outside it.
      {{{0, 10, -1, -1, -40, 300, 200}, {10, 20, -1, -1, 300, 500, -9}}, {{0, 127}, {127, 127}}},
      {{{0, 10, -1, -1, 0, 10, 5}, {10, 20, -1, -1, 200, 90, 250}}, {{0, 127}, {127, 127}}},
  };
  for (const Case& c : cases) {
    InstrumentData d = With(c.in);
    SanitizeKeyRanges(d, nullptr);
    std::vector<std::pair<int, int>> keys;
    for (const Region& r : d.regions) {
      keys.emplace_back(r.loKey, r.hiKey);
      EXPECT_GE(r.rootNote, 0);
      EXPECT_LE(r.rootNote, 127);
    }
    EXPECT_EQ(keys, c.keys);
  }
}

TEST(SanitizeKeyRangesTest, LogsOnlyWhatItChanged) {
  MemoryLog log;
  InstrumentData d = With({{0, 10, -1, -1, 3, 60, 30}, {10, 20, -1, -1, 60, 100, 70}});
  SanitizeKeyRanges(d, &log);
  EXPECT_THAT(log.Lines(), ElementsAre("Adjusted first region loKey from 3 to 0", "Adjusted last region hiKey from 100 to 127",
                                       "MIDI key ranges sanitized to ensure continuous coverage."));
  log.Clear();
  SanitizeKeyRanges(d, &log);  // already sound: silent
  EXPECT_TRUE(log.Lines().empty());

  log.Clear();
  d = With({{0, 10, -1, -1, 0, 20, 10}, {10, 20, -1, -1, 30, 30, 30}, {20, 30, -1, -1, 25, 127, 100}});
  SanitizeKeyRanges(d, &log);
  EXPECT_THAT(log.Lines(), ElementsAre("Adjusted region 0 hiKey from 20 to 29 (Closing gap to be adjacent)",
                                       "Adjusted region 1 hiKey from 30 to 24 (Closing gap to be adjacent)",
                                       "Fixed region 1: hiKey was less than loKey",
                                       "MIDI key ranges sanitized to ensure continuous coverage."));
}

TEST(TrimRegionsToDurationTest, RemovesRegionsPastTheLimitAndCutsLoops) {
  InstrumentData d = With({{0, 1000, 100, 900, 0, 40, 20},
                           {1000, 2000, 1500, 2000, 41, 60, 50},
                           {1500, 2500, -1, -1, 61, 90, 70},  // straddles: removed, not shortened
                           {3000, 4000, -1, -1, 91, 127, 100}});
  TrimRegionsToDuration(d, 1000, 1.9f);  // limit frame 1900
  ASSERT_EQ(d.regions.size(), 1u);
  EXPECT_EQ(d.regions[0].loopStart, 100);
  EXPECT_EQ(d.regions[0].hiKey, 127);  // takes the highest key of the removed ones

  d = With({{0, 1000, 100, 1200, 0, 127, 60}});
  TrimRegionsToDuration(d, 1000, 1.1f);  // the loop end passes the limit: both points go
  EXPECT_FALSE(d.regions[0].HasLoop());
  EXPECT_EQ(d.regions[0].loopStart, -1);

  d = With({{0, 1000}});
  TrimRegionsToDuration(d, 0, 1.0f);
  TrimRegionsToDuration(d, 1000, -1.0f);
  EXPECT_EQ(d.regions.size(), 1u);
}

TEST(LimitRegionCountTest, KeepsTheFirstRegionsAndExtendsTheLast) {
  MemoryLog log;
  InstrumentData d = With({{0, 10, 2, 8, 0, 10}, {10, 20, 12, 18, 11, 20}, {20, 30, -1, -1, 21, 127}});
  LimitRegionCount(d, 2, 500, &log);
  ASSERT_EQ(d.regions.size(), 2u);
  EXPECT_EQ(d.regions[1], (Region{10, 500, 12, 18, 11, 127, 60}));
  EXPECT_THAT(log.Lines(), ElementsAre("Save: Trimmed 1 regions to meet EP limit of 2 regions."));
}

TEST(StripNonEssentialChunksTest, KeepsSmplAndListInfoWithTnge) {
  auto chunk = [](const char* id, std::vector<uint8_t> data) {
    RiffChunk c;
    std::memcpy(c.id.data(), id, 4);
    c.size = static_cast<uint32_t>(data.size());
    c.data = std::move(data);
    return c;
  };
  const std::vector<uint8_t> withTnge = {'I', 'N', 'F', 'O', 'T', 'N', 'G', 'E', 2, 0, 0, 0, '{', '}'};
  const std::vector<uint8_t> withoutTnge = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'a', 0};
  std::vector<RiffChunk> chunks = {chunk("acid", std::vector<uint8_t>(24)), chunk("LIST", withoutTnge),
                                   chunk("smpl", {1}), chunk("LIST", {'a', 'd', 't', 'l'}), chunk("LIST", withTnge),
                                   chunk("cue ", std::vector<uint8_t>(4))};
  MemoryLog log;
  StripNonEssentialChunks(chunks, &log);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_TRUE(chunks[0].Is("smpl"));
  EXPECT_EQ(chunks[1].data, withTnge);
  EXPECT_THAT(log.Lines(), ElementsAre("Stripped non-essential chunks. Kept 2 chunks (LIST/INFO/TNGE and smpl)."));
}

TEST(TransposeRegionsTest, ClampsEveryKeyAndMovesTheGlobalRootOfSimpleInstruments) {
  InstrumentData d = With({{0, 10, -1, -1, 120, 127, 125}});
  d.params.rootNote = 125;
  TransposeRegions(d, 12, nullptr);
  EXPECT_EQ(d.regions[0], (Region{0, 10, -1, -1, 127, 127, 127}));
  EXPECT_EQ(d.params.rootNote, 127);
  TransposeRegions(d, -2147483647, nullptr);  // no overflow
  EXPECT_EQ(d.regions[0].loKey, 0);
}

TEST(TimeLimitTest, TheBudgetAndTheUserLimit) {
  const PcmFormat mono44{1, 1, 44100, 88200, 2, 16};
  const PcmFormat mono48{1, 1, 48000, 96000, 2, 16};
  EXPECT_EQ(EffectiveTimeLimit(mono44, 100, 20.0f), 20.0f);
  EXPECT_FLOAT_EQ(EffectiveTimeLimit(mono44, 100, 30.0f), 21.258503f);
  EXPECT_EQ(EffectiveTimeLimit(mono48, 100, 20.0f), 19.53125f);
  EXPECT_EQ(EffectiveTimeLimit(mono44, 100, -1.0f), -1.0f);
  EXPECT_EQ(EffectiveTimeLimit(mono44, 0, 20.0f), -1.0f);
  EXPECT_EQ(EffectiveTimeLimit(PcmFormat{}, 100, 20.0f), -1.0f);
  EXPECT_EQ(SaveDurationSeconds(PcmFormat{}, 100), 0.0f);
}

}  // namespace
}  // namespace zandrel

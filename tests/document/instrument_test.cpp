#include "document/instrument.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

TEST(InstrumentDataTest, ResetRestoresEveryDefault) {
  InstrumentData d;
  d.hasInstrument = true;
  d.params.playMode = "loop";
  d.params.pitch = 5;
  d.params.bpm = 90;
  d.params.loopStart = 3;
  d.params.smplUnityNote = 40;
  d.regions.push_back(Region{});
  d.Reset();

  EXPECT_FALSE(d.hasInstrument);
  EXPECT_TRUE(d.regions.empty());
  const InstrumentParams& p = d.params;
  EXPECT_EQ(p.playMode, "key");
  EXPECT_EQ(p.rootNote, 60);
  EXPECT_EQ(p.pitch, 0);
  EXPECT_EQ(p.pan, 0);
  EXPECT_EQ(p.amplitude, 100);
  EXPECT_EQ(p.attack, 0);
  EXPECT_EQ(p.release, 0);
  EXPECT_EQ(p.timeMode, "off");
  EXPECT_EQ(p.sampleMode, "multi");
  EXPECT_EQ(p.bpm, 120.0f);
  EXPECT_EQ(p.bars, 1);
  EXPECT_EQ(p.beats, 4);
  EXPECT_EQ(p.loopStart, -1);
  EXPECT_EQ(p.loopEnd, -1);
  EXPECT_EQ(p.smplUnityNote, -1);
  EXPECT_EQ(d, InstrumentData{});
}

TEST(InstrumentDataTest, CopiesAreDeep) {
  InstrumentData source;
  source.regions.push_back(Region{0, 100, -1, -1, 0, 127, 60});
  InstrumentData copy = source;
  copy.regions[0].endSample = 5;
  copy.regions.push_back(Region{});
  ASSERT_EQ(source.regions.size(), 1u);
  EXPECT_EQ(source.regions[0].endSample, 100);
}

TEST(RegionTest, DefaultsAndClamping) {
  const Region r;
  EXPECT_EQ(r, (Region{0, 0, -1, -1, 0, 127, 60}));
  EXPECT_FALSE(r.HasLoop());

  // Values read from a file are kept as read; consumers clamp before use.
  const Region wild{-50, 99999, 80000, 120000, -3, 300, 200};
  const Region c = wild.ClampedTo(1000);
  EXPECT_EQ(c.startSample, 0);
  EXPECT_EQ(c.endSample, 1000);
  EXPECT_FALSE(c.HasLoop());  // the loop lies wholly past the end
  EXPECT_EQ(c.loKey, 0);
  EXPECT_EQ(c.hiKey, 127);
  EXPECT_EQ(c.rootNote, 127);
  EXPECT_EQ((Region{10, 20, 12, 30, 0, 127, 60}).ClampedTo(100).loopEnd, 20);
}

TEST(RegionTest, SortKeepsTheOrderOfEqualStarts) {
  std::vector<Region> regions = {{50, 60}, {0, 10, -1, -1, 1}, {0, 20, -1, -1, 2}};
  SortRegions(regions);
  EXPECT_EQ(regions[0].loKey, 1);
  EXPECT_EQ(regions[1].loKey, 2);
  EXPECT_EQ(regions[2].startSample, 50);
}

}  // namespace
}  // namespace zandrel

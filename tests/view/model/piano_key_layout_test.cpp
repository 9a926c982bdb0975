#include "view/model/piano_key_layout.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

TEST(PianoKeyLayoutTest, KeysFitTheWidth) {
  struct Case {
    int width;
    bool tall;
    int lo, hi, offset;
    float keyWidth;
  };
  const Case cases[] = {
      {1000, false, 31, 96, 5, 15.0f},       // 66 keys of 15 px, centred
      {2000, false, 21, 108, 0, 2000.0f / 88},  // the whole piano
      {2000, true, 24, 103, 0, 25.0f},       // 80 keys of 25 px
      {500, true, 54, 73, 0, 25.0f},         // 20 keys around 64
      {100, false, 61, 66, 5, 15.0f},
  };
  for (const Case& c : cases) {
    const PianoKeyLayout l = PianoKeyLayout::For(c.width, c.tall);
    EXPECT_EQ(l.lowestKey, c.lo) << c.width;
    EXPECT_EQ(l.highestKey, c.hi) << c.width;
    EXPECT_EQ(l.offset, c.offset) << c.width;
    EXPECT_FLOAT_EQ(l.keyWidth, c.keyWidth) << c.width;
  }
  const PianoKeyLayout l = PianoKeyLayout::For(1000, false);
  EXPECT_EQ(l.X1(31), 5);
  EXPECT_EQ(l.X2(31), 20);
  EXPECT_EQ(l.X2(96), 995);
}

TEST(PianoKeyLayoutTest, KeyAtBoundaryIsTheNearestLeftEdgeWithinThePiano) {
  const PianoKeyLayout l = PianoKeyLayout::For(1000, false);  // key 31 starts at 5, 15 px each
  EXPECT_EQ(l.KeyAtBoundary(5), 31);
  EXPECT_EQ(l.KeyAtBoundary(12), 31);
  EXPECT_EQ(l.KeyAtBoundary(13), 32);
  EXPECT_EQ(l.KeyAtBoundary(-1000), 21);
  EXPECT_EQ(l.KeyAtBoundary(5000), 108);
}

TEST(PianoKeyLayoutTest, BlackKeys) {
  EXPECT_FALSE(IsBlackKey(60));
  EXPECT_TRUE(IsBlackKey(61));
  EXPECT_TRUE(IsBlackKey(70));
  EXPECT_FALSE(IsBlackKey(71));
}

InstrumentData TwoRegions(int hi0, int lo1) {
  InstrumentData inst;
  inst.hasInstrument = true;
  Region a;
  a.loKey = 0;
  a.hiKey = hi0;
  Region b;
  b.loKey = lo1;
  b.hiKey = 127;
  inst.regions = {a, b};
  return inst;
}

TEST(PianoHitRecordsTest, KeyRectsAndHandlesFollowTheLayout) {
  // 2000 x 600, tall strip: keys 24..103 of 25 px, strip from y 480.
  const PianoKeyLayout l = PianoKeyLayout::For(2000, true);
  const auto shared = ComputePianoHitRecords(TwoRegions(60, 60), 2000, 600, true);
  ASSERT_EQ(shared.keyRects.size(), 2u);
  EXPECT_EQ(shared.keyRects[0].rect, (Rect{l.X1(24), 480, l.X2(60), 600}));
  EXPECT_EQ(shared.keyRects[1].rect, (Rect{l.X1(60), 480, l.X2(103), 600}));
  // Region 0 starts below the shown keys (no low handle) and has no high
  // handle (region 1 starts on its high key); region 1's low handle sits at
  // key 60's left edge; region 1 is last, but key 128 is not shown.
  ASSERT_EQ(shared.handles.size(), 1u);
  EXPECT_EQ(shared.handles[0].region, 1);
  EXPECT_TRUE(shared.handles[0].lowKeyHandle);
  EXPECT_EQ(shared.handles[0].rect, (Rect{l.X1(60) - 5, 480, l.X1(60) + 5, 600}));

  // A gap of keys after region 0 gives it a high handle at its high key's right edge.
  const auto gap = ComputePianoHitRecords(TwoRegions(50, 60), 2000, 600, true);
  ASSERT_EQ(gap.handles.size(), 2u);
  EXPECT_FALSE(gap.handles[0].lowKeyHandle);
  EXPECT_EQ(gap.handleLines[0], l.X1(51));

  // Compact strip: no handles; without instrument data nothing at all.
  EXPECT_TRUE(ComputePianoHitRecords(TwoRegions(50, 60), 2000, 600, false).handles.empty());
  EXPECT_TRUE(ComputePianoHitRecords(InstrumentData{}, 2000, 600, true).keyRects.empty());
}

TEST(PianoHitRecordsTest, ARegionOutsideTheShownKeysHitsNothing) {
  InstrumentData inst = TwoRegions(10, 11);
  inst.regions[0].loKey = 2;  // keys 2..10: left of key 31
  const auto rec = ComputePianoHitRecords(inst, 1000, 400, false);
  ASSERT_EQ(rec.keyRects.size(), 2u);
  EXPECT_LT(rec.keyRects[0].rect.right, rec.keyRects[0].rect.left);
  for (int x = 0; x < 1000; ++x) EXPECT_FALSE(rec.keyRects[0].rect.Contains(x, 390));
}

}  // namespace
}  // namespace zandrel

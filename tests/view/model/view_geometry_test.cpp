#include "view/model/view_geometry.h"

#include <gmock/gmock.h>

#include "document/document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

TEST(ColorrefTest, SwapsRedAndBlueBothWays) {
  // RGB(70, 130, 180) as the window system stores it: red in the low byte.
  const ColorRef steelBlue = 0x00B48246;
  EXPECT_EQ(ArgbFromColorref(steelBlue), 0xFF4682B4u);
  EXPECT_EQ(ArgbFromColorref(steelBlue, 0x80), 0x804682B4u);
  EXPECT_EQ(ColorrefFromArgb(0x804682B4), steelBlue);  // alpha dropped
  for (Argb c : kRegionPalette) EXPECT_EQ(ArgbFromColorref(ColorrefFromArgb(c)), c);
  EXPECT_EQ(ArgbFromColorref(MakeColorRef(1, 2, 3)), 0xFF010203u);
}

TEST(RegionPaletteTest, DerivedColoursOfEachUse) {
  EXPECT_EQ(RegionColor(0), 0xFF4682B4u);
  EXPECT_EQ(RegionColor(13), kRegionPalette[3]);  // i mod 10
  // Bar: channels halved, alpha 0x80. 0x46 >> 1 = 0x23, 0x82 >> 1 = 0x41, 0xB4 >> 1 = 0x5A.
  EXPECT_EQ(RegionBarColor(0), 0x8023415Au);
  // Tint: trunc(0.2 c + 88), alpha 0x33. 0x46 = 70 -> 102, 130 -> 114, 180 -> 124.
  EXPECT_EQ(RegionTintColor(0), (0x33u << 24) | (102u << 16) | (114u << 8) | 124u);
  // Full channels: 255 -> 139; zero channels -> 88.
  EXPECT_EQ(RegionTintColor(5), (0x33u << 24) | (139u << 16) | (131u << 8) | 88u);  // 0xFFD700: 215 -> 131
  EXPECT_EQ(RegionStripColor(1), 0x66DC143Cu);
}

TEST(RectTest, RightAndBottomAreOutsideAndInvertedRectanglesHitNothing) {
  const Rect r = Rect::FromXYWH(10, 20, 5, 3);
  EXPECT_EQ(r, (Rect{10, 20, 15, 23}));
  const struct {
    int x, y;
    bool hit;
  } points[] = {{10, 20, true}, {14, 22, true}, {15, 20, false}, {10, 23, false}, {9, 20, false}, {10, 19, false}};
  for (const auto& p : points) EXPECT_EQ(r.Contains(p.x, p.y), p.hit) << p.x << "," << p.y;

  const Rect inverted{15, 23, 10, 20};
  for (int x = 8; x < 18; ++x)
    for (int y = 18; y < 25; ++y) EXPECT_FALSE(inverted.Contains(x, y));
  EXPECT_TRUE(inverted.IsEmpty());
  EXPECT_FALSE(Rect{}.Contains(0, 0));
}

TEST(ViewLayoutTest, BandsOfTheClientArea) {
  const ViewLayout l = ComputeViewLayout(800, 500, false);
  EXPECT_EQ(l.regionBar, (Rect{0, 0, 800, 40}));
  EXPECT_EQ(l.areaY, 40);
  EXPECT_EQ(l.areaHeight, 420);
  EXPECT_EQ(l.Bottom(), 460);
  EXPECT_EQ(l.Centre(), 250);
  EXPECT_EQ(l.PianoStrip(), (Rect{0, 460, 800, 500}));

  const ViewLayout tall = ComputeViewLayout(800, 501, true);  // taller piano strip while editing key boundaries
  EXPECT_EQ(tall.areaHeight, 341);
  EXPECT_EQ(tall.Centre(), 40 + 170);
  EXPECT_EQ(tall.PianoStrip(), (Rect{0, 381, 800, 501}));
}

TEST(HitRectTest, LoopHandleAndSelectionBar) {
  const ViewLayout l = ComputeViewLayout(800, 500, false);
  EXPECT_EQ(LoopHandleRect(100, l), (Rect{96, 51, 104, 471}));
  EXPECT_EQ(SelectionBarRect(100, 300, l), (Rect{100, 53, 300, 73}));
}

TEST(LoupeTest, PlacedBesideTheMouseAndKeptInsideTheClient) {
  const Rect client{0, 0, 1000, 600};
  const int area = 480;  // size trunc(0.45 x 480) = 216
  const struct {
    int x, y;
    Rect expected;
  } cases[] = {
      {500, 100, Rect::FromXYWH(392, 125, 216, 216)},  // upper half: below the mouse
      {500, 400, Rect::FromXYWH(392, 159, 216, 216)},  // lower half: above it
      {5, 100, Rect::FromXYWH(0, 125, 216, 216)},      // pushed right off the left edge
      {990, 590, Rect::FromXYWH(784, 349, 216, 216)},  // pushed left off the right edge
      {500, 300, Rect::FromXYWH(392, 325, 216, 216)},  // the middle itself counts as the upper half
      {500, 500, Rect::FromXYWH(392, 259, 216, 216)},
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceLoupe(c.x, c.y, client, area), c.expected) << c.x << "," << c.y;
  // An area of no height still gives a (tiny) magnifier.
  EXPECT_EQ(PlaceLoupe(0, 0, client, -5).Width(), 0);
  EXPECT_EQ(PlaceLoupe(0, 0, client, 10).Width(), 4);
}

class TrimLimitTest : public DocumentTest {
 protected:
  void Open(uint32_t rate, int64_t frames) {
    WavBuilder b;
    b.Fmt(1, 1, rate, 16);
    b.Data(Bytes(static_cast<size_t>(frames) * 2, 0));
    ASSERT_TRUE(Doc().LoadWav(Write("t.wav", b.Build())));
  }
};

TEST_F(TrimLimitTest, TheDevicesBudgetLowersTheUsersLimit) {
  Open(48000, 48000 * 30);
  Doc().timeLimit = 20.0f;
  const std::optional<TrimLimit> limit = TrimLimitOf(Doc());
  ASSERT_TRUE(limit);
  EXPECT_FLOAT_EQ(limit->seconds, 1875000.0f / 96000.0f);  // 19.53 s
  EXPECT_EQ(limit->frame, 937500);

  Doc().timeLimit = 10.0f;
  EXPECT_EQ(TrimLimitOf(Doc())->frame, 480000);
}

TEST_F(TrimLimitTest, NothingWithoutALimitOrWhenTheAudioFits) {
  Open(44100, 44100 * 5);
  Doc().timeLimit = -1.0f;
  EXPECT_FALSE(TrimLimitOf(Doc()));
  Doc().timeLimit = 0.0f;
  EXPECT_FALSE(TrimLimitOf(Doc()));
  Doc().timeLimit = 5.0f;  // exactly as long as the audio: nothing beyond it
  EXPECT_FALSE(TrimLimitOf(Doc()));
  Doc().timeLimit = 4.0f;
  EXPECT_EQ(TrimLimitOf(Doc())->frame, 176400);
  Doc().ClearAudio();
  EXPECT_FALSE(TrimLimitOf(Doc()));
}

}  // namespace
}  // namespace zandrel

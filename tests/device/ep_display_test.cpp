#include "device/ep_display.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

std::string Lit(char ch) {
  static const char* kNames[] = {"A", "B", "C", "D", "E", "F", "G1", "G2", "H", "J", "K", "L", "M", "N"};
  const CellGeometry cell = SegmentCharGeometry(ch, 0, 0, 10, 20);
  std::string out;
  for (int s = 0; s < kSegmentCount; ++s)
    if (cell.segments[static_cast<size_t>(s)].lit) out += std::string(out.empty() ? "" : " ") + kNames[s];
  if (cell.decimalPoint) out += std::string(out.empty() ? "" : " ") + "DP";
  return out;
}

TEST(EpFontTest, LightsTheSegmentsOfEachCharacter) {
  const struct {
    char ch;
    const char* segments;
  } cases[] = {{'0', "A B C D E F K L"}, {'8', "A B C D E F G1 G2"}, {'K', "E F G1 K N"}, {'k', "E F G1 K N"},
               {'W', "B C E F L N"},      {'?', "A B G2 M"},          {'.', "DP"},        {'&', "A D E G1 H J N"},
               {' ', ""},                 {'\x7f', ""},               {'\x01', ""},       {static_cast<char>(200), ""}};
  for (const auto& c : cases) EXPECT_EQ(Lit(c.ch), c.segments) << static_cast<int>(static_cast<unsigned char>(c.ch));
  for (int c = 'a'; c <= 'z'; ++c) EXPECT_EQ(kSegmentFont[static_cast<size_t>(c)], kSegmentFont[static_cast<size_t>(c - 32)]);
  for (uint16_t mask : kSegmentFont) EXPECT_EQ(mask & 0x8000, 0);
}

TEST(EpFontTest, TheDecimalPointReachesIntoTheRightMargin) {
  const CellGeometry cell = SegmentCharGeometry('.', 10, 5, 20, 40);
  ASSERT_TRUE(cell.decimalPoint);
  const double d = 0.12 * 20;
  EXPECT_DOUBLE_EQ((*cell.decimalPoint)[0], 10 + 20 - 0.75 * d);
  EXPECT_DOUBLE_EQ((*cell.decimalPoint)[0] + (*cell.decimalPoint)[2], 10 + 20 + 0.75 * d);
  // A bar runs between the cell's corners, G1 is a hexagon ending at the centre.
  EXPECT_EQ(cell.segments[kSegA].points.front(), (PointD{10 + d + 0.3 * d, 5}));
  EXPECT_EQ(cell.segments[kSegG1].points.size(), 6u);
  EXPECT_EQ(cell.segments[kSegG1].points[3], (PointD{20 - 0.3 * d, 25}));
}

TEST(EpDisplayNameTest, ReducesAnyTextToSixteenShowableCharacters) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"C:\\Samples\\Drums\\001 Kick.wav", "Kick            "},
      {"/home/u/a.b.wav", "a.b             "},
      {"1234", "1234            "},
      {"12 Snare", "12 Snare        "},
      {"ABCDEFGHIJ\"KLM\"NOPQRST", "ABCDEFGHIJKLMN  "},
      {"caf\xc3\xa9\ttab", "caf???tab       "},
      {"", std::string(16, ' ')},
      {"a very long sound name indeed", "a very long soun"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeEpDisplayName(c.in), c.out) << c.in;
}

TEST(WaveformPreviewTest, PairsEachChannelsTwoValuesPerPoint) {
  WaveformPreview preview;
  const std::vector<uint8_t> bytes = {0x00, 0x40, 0x00, 0xC0, 0x00, 0x20, 0x00, 0x10, 1, 0, 2, 0, 3, 0, 9};
  preview.SetData(bytes, 2);  // seven samples and an odd byte: one point
  ASSERT_EQ(preview.Lane(0).size(), 1u);
  ASSERT_EQ(preview.Lane(1).size(), 1u);
  EXPECT_FLOAT_EQ(preview.Lane(0)[0].min, -0.5f);
  EXPECT_FLOAT_EQ(preview.Lane(0)[0].max, 0.5f);
  EXPECT_FLOAT_EQ(preview.Lane(1)[0].min, 0.125f);
  EXPECT_FLOAT_EQ(preview.Lane(1)[0].max, 0.25f);
  preview.SetData({}, 1);
  EXPECT_TRUE(preview.Lane(0).empty());
  preview.SetData(bytes, 3);  // only exactly two channels fill the second lane
  EXPECT_TRUE(preview.Lane(1).empty());
}

TEST(WaveformPreviewTest, OneStrokePerColumnAndFlatStretchesShowTwoPixels) {
  std::vector<WaveformPreview::Pair> lane = {{-0.5f, 0.5f}, {0.0f, 0.0f}};
  const auto strokes = WaveformPreview::LaneStrokes(lane, 10, 0, 14, 100);
  ASSERT_EQ(strokes.size(), 4u);  // fewer points than columns: points repeat
  EXPECT_EQ(strokes[0].x, 10);
  EXPECT_EQ(strokes[0].top, 50 - 23);  // 100 x 0.5 x 0.94 x 0.5 truncated
  EXPECT_EQ(strokes[0].bottom, 50 + 23);
  EXPECT_EQ(strokes[2].top, 49);
  EXPECT_EQ(strokes[2].bottom, 51);
  std::vector<WaveformPreview::Pair> many(1000, {-0.1f, 0.1f});
  EXPECT_EQ(WaveformPreview::LaneStrokes(many, 0, 0, 100, 50).size(), 100u);
  EXPECT_TRUE(WaveformPreview::LaneStrokes({}, 0, 0, 100, 50).empty());
}

}  // namespace
}  // namespace zandrel

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/drum_grid_model.h"
#include "tools/kit_fixture.h"
#include "tools/player_model.h"

namespace zandrel {
namespace {

// ------------------------------------------------------------- player --

TEST(PlayerModel, KeyMapCoversTwoRowsAndSkips78) {
  const std::pair<int, int> cases[] = {{'Z', 48}, {'S', 49}, {'M', 59}, {'Q', 60}, {',', 60}, {'.', 62},
                                       {'/', 64}, {'2', 61}, {'0', 75}, {'P', 76}, {'[', 77}, {']', 79},
                                       {'A', -1}, {'1', -1}, {'4', -1}, {0x01000000, -1}};  // Escape
  for (const auto& [key, note] : cases) EXPECT_EQ(PcKeyToMidiNote(key), note) << static_cast<char>(key);
  const std::vector<int> keys = PcKeyCodes();
  EXPECT_EQ(keys.size(), 34u);
  std::vector<int> notes;
  for (int k : keys) notes.push_back(PcKeyToMidiNote(k));
  EXPECT_EQ(std::count(notes.begin(), notes.end(), 78), 0);
  for (int n = 48; n <= 79; ++n) {
    if (n != 78) {
      EXPECT_GE(std::count(notes.begin(), notes.end(), n), 1) << n;
    }
  }
}

TEST(PlayerModel, HeldKeysIgnoreRepeatsAndTwins) {
  HeldKeys keys;
  EXPECT_EQ(keys.KeyDown('Q', false), 60);
  EXPECT_EQ(keys.KeyDown('Q', true), std::nullopt);   // auto-repeat
  EXPECT_EQ(keys.KeyDown(',', false), std::nullopt);  // the same note by another key
  EXPECT_EQ(keys.KeyUp(','), 60);                     // either key releases it
  EXPECT_TRUE(keys.Empty());
  EXPECT_EQ(keys.KeyDown('A', false), std::nullopt);
  EXPECT_EQ(keys.KeyUp('A'), std::nullopt);
  keys.KeyDown('Z', false);
  keys.KeyDown('P', false);
  EXPECT_EQ(keys.ReleaseAll(), (std::vector<int>{48, 76}));
  EXPECT_TRUE(keys.Empty());
}

TEST(PlayerModel, StatusLine) {
  EXPECT_EQ(NoteStatusText(60, 100, 0, 60), "Note: 60 (C4) | Region: 1 | Root: 60 (C4) | Vel: 100");
  EXPECT_EQ(NoteStatusText(61, 7, 11, 0), "Note: 61 (C#4) | Region: 12 | Root: 0 (C-1) | Vel: 7");
  EXPECT_EQ(NoteStatusText(90, 100, -1, -1), "Note: 90 (F#6) | Region: --- | Root: --- | Vel: 100");
}

TEST(PlayerModel, RegionWaveformEveryFiftiethFrame) {
  std::vector<int16_t> samples(12000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i);
  const CWavLoader audio = test::MakeKitAudio(samples);
  const std::vector<int16_t> values = RegionWaveform(audio, test::MakeRegion(1000, 11000, 60));
  ASSERT_EQ(values.size(), 200u);
  EXPECT_EQ(values[0], 1000);
  EXPECT_EQ(values[199], 1000 + 199 * 50);
  EXPECT_EQ(RegionWaveform(audio, test::MakeRegion(11900, 13000, 60)).size(), 2u);  // stops at the audio's end
  EXPECT_TRUE(RegionWaveform(audio, test::MakeRegion(50, 50, 60)).empty());
  // 8-bit and 24-bit first channels.
  CWavLoader eight;
  eight.format = {1, 1, 8000, 8000, 1, 8};
  eight.data = {0, 255, 128};
  EXPECT_EQ(RegionWaveform(eight, test::MakeRegion(0, 3, 60)), (std::vector<int16_t>{-32768}));
  CWavLoader wide;
  wide.format = {1, 2, 8000, 48000, 6, 24};
  wide.data = {0x11, 0x34, 0x12, 0, 0, 0};
  EXPECT_EQ(RegionWaveform(wide, test::MakeRegion(0, 1, 60)), (std::vector<int16_t>{0x1234}));
}

TEST(PlayerModel, ColumnsPerWidth) {
  std::vector<int16_t> values(200);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int16_t>(i * 10);
  const auto narrow = WaveformColumns(values, 187);
  ASSERT_EQ(narrow.size(), 187u);  // step 200 / 187 = 1: the first 187 values
  EXPECT_EQ(narrow[186], (WaveColumn{1860, 1860}));
  EXPECT_EQ(WaveformColumns(values, 200).size(), 200u);
  EXPECT_EQ(WaveformColumns(values, 0).size(), 187u);
  const auto half = WaveformColumns(values, 100);
  ASSERT_EQ(half.size(), 100u);
  EXPECT_EQ(half[3], (WaveColumn{60, 70}));
  EXPECT_TRUE(WaveformColumns({}, 100).empty());
}

TEST(PlayerModel, LoopFractions) {
  Region r = test::MakeRegion(1000, 5000, 60);
  r.loopStart = 2000;
  r.loopEnd = 4000;
  const LoopFractions f = RegionLoopFractions(r);
  EXPECT_FLOAT_EQ(f.start, 0.25f);
  EXPECT_FLOAT_EQ(f.end, 0.75f);
  r.loopEnd = 6000;  // outside the region
  EXPECT_EQ(RegionLoopFractions(r).start, -1);
  r.loopStart = r.loopEnd = -1;
  EXPECT_EQ(RegionLoopFractions(r).end, -1);
}

// --------------------------------------------------------------- grid --

PatternEvent ToolModelsHit(int note, int64_t time) { return {2, time, 240, note, 1.0, 0, 0, 0}; }

TEST(DrumGrid, RowsColumnsAndDots) {
  DrumGridModel grid;
  grid.SetPattern({ToolModelsHit(36, 0), ToolModelsHit(38, 960), ToolModelsHit(42, 1920)}, 2);
  EXPECT_EQ(grid.Steps(), 8);
  ASSERT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(grid.RowNote(0), 42);  // highest on top
  EXPECT_EQ(grid.RowNote(1), 38);
  const DrumGridLayout l = grid.Layout(400, 200);
  ASSERT_EQ(l.kind, DrumGridLayout::Kind::kGrid);
  EXPECT_FLOAT_EQ(l.rowHeight, 50.0f);
  EXPECT_FLOAT_EQ(l.stepWidth, 305.0f / 8);
  int x = 0, y = 0;
  grid.HitCentre(l, ToolModelsHit(38, 960), x, y);
  EXPECT_EQ(x, 85 + 38 + 19);  // centred in the second step column
  EXPECT_EQ(y, 50 + 25 + 20);  // and in the middle row
  EXPECT_EQ(l.hitRadius, 7);
}

TEST(DrumGrid, EmptyAndTinyWindowsHaveNothingToHit) {
  DrumGridModel grid;
  EXPECT_EQ(grid.Layout(300, 200).kind, DrumGridLayout::Kind::kNoPattern);
  EXPECT_EQ(grid.Press(10, 30, 300, 200), std::nullopt);
  grid.SetPattern({ToolModelsHit(36, 0)}, 1);
  EXPECT_EQ(grid.Layout(95, 200).kind, DrumGridLayout::Kind::kTooSmall);
  EXPECT_EQ(grid.Press(10, 30, 95, 200), std::nullopt);
  // A pattern replaced by an empty one: the old rows are gone at once.
  EXPECT_TRUE(grid.Press(10, 30, 300, 200).has_value());
  grid.SetPattern({}, 0);
  EXPECT_EQ(grid.Press(10, 30, 300, 200), std::nullopt);
}

TEST(DrumGrid, ClicksAuditionTheMappedRoot) {
  InstrumentData kit;
  kit.hasInstrument = true;
  for (int i = 0; i < 12; ++i) kit.regions.push_back(test::MakeRegion(i * 10, i * 10 + 10, 36 + i));
  DrumGridModel grid;
  grid.SetPattern({ToolModelsHit(36, 0), ToolModelsHit(38, 960), ToolModelsHit(100, 0)}, 1);
  grid.SetTables(BuildNoteMap(&kit, "C2", {}));
  EXPECT_EQ(grid.RootCount(), 12);
  const DrumGridLayout l = grid.Layout(300, 200);
  ASSERT_EQ(l.rootLabels.size(), 12u);
  EXPECT_EQ(l.rootLabels[0].right - l.rootLabels[0].left, 21);  // (300 - 48) / 12
  // Row 1 from the top is note 38.
  auto click = grid.Press(150, l.rows[1].top + 2, 300, 200);
  ASSERT_TRUE(click);
  EXPECT_EQ(click->root, 38);
  EXPECT_EQ(click->note, 38);
  EXPECT_EQ(grid.HighlightedRoot(), 38);
  EXPECT_TRUE(grid.Release());
  EXPECT_FALSE(grid.Release());
  // Note 100 maps to the nearest root, 47; a label plays its own root.
  click = grid.Press(5, l.rows[0].top + 1, 300, 200);
  EXPECT_EQ(click->root, 47);
  click = grid.Press(l.rootLabels[2].left + 1, 190, 300, 200);
  EXPECT_EQ(click->root, 38);
  // An unmapped row asks for nothing to play.
  grid.SetTables(NoteMapTables{});
  click = grid.Press(150, l.rows[1].top + 2, 300, 200);
  EXPECT_EQ(click->root, -1);
  EXPECT_EQ(grid.RowTint(1), -1);
}

TEST(DrumGrid, Blend) {
  EXPECT_EQ(BlendColour(0xFF0000, 0x000000, 0.5), 0x7F0000u);
  EXPECT_EQ(BlendColour(0x4682B4, DrumGridModel::kBackground, 0.0), 0x4682B4u);
  EXPECT_EQ(BlendColour(0x4682B4, DrumGridModel::kBackground, 1.0), DrumGridModel::kBackground);
}

}  // namespace
}  // namespace zandrel

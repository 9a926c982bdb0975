#include "sound_design/loop_splice.h"

#include <gmock/gmock.h>

#include <cmath>

#include "processing/sample_access.h"
#include "processing/snapping.h"

namespace zandrel {
namespace {

// Mono 16-bit audio of |frames| frames: a 100 Hz sine, so that rising zero
// crossings lie every 441 frames (the sample at 441 m is 0, the one after it
// the first above 0: crossings at 1, 442, 883, ...).
CWavLoader Audio(int64_t frames) {
  CWavLoader a;
  a.format = PcmFormat{1, 1, 44100, 88200, 2, 16};
  a.data.resize(static_cast<size_t>(frames * 2));
  for (int64_t k = 0; k < frames; ++k) {
    const auto v = static_cast<int16_t>(10000.0 * std::sin(2.0 * M_PI * 100.0 * static_cast<double>(k) / 44100.0));
    a.data[static_cast<size_t>(2 * k)] = static_cast<uint8_t>(v & 0xFF);
    a.data[static_cast<size_t>(2 * k + 1)] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return a;
}

int16_t SampleAt(const CWavLoader& a, int64_t frame) {
  return static_cast<int16_t>(a.data[static_cast<size_t>(2 * frame)] | (a.data[static_cast<size_t>(2 * frame + 1)] << 8));
}

Region R(int64_t start, int64_t end, int64_t loopStart = kNoLoop, int64_t loopEnd = kNoLoop) {
  return Region{start, end, loopStart, loopEnd, 0, 127, 60};
}

TEST(LoopSpliceTest, PositionsMoveByOneRule) {
  // Range [100, 200) becomes 50 frames (D = -50), then 300 frames (D = 200).
  const LoopSpliceMove shorter{100, 200, 50};
  const LoopSpliceMove longer{100, 200, 300};
  struct Case {
    int64_t x, shorter, longer;
  } cases[] = {
      {0, 0, 0},        // before the range
      {100, 100, 100},  // at its start
      {120, 120, 120},  // inside, within the new length
      {170, 150, 170},  // inside, past the shorter result's end
      {199, 150, 199},
      {200, 150, 400},  // at the old end: with the audio after it
      {1000, 950, 1200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shorter.Move(c.x), c.shorter) << c.x;
    EXPECT_EQ(longer.Move(c.x), c.longer) << c.x;
  }
}

TEST(LoopSpliceTest, SpliceReplacesTheRangeBytesOnly) {
  CWavLoader audio = Audio(1000);
  const CWavLoader before = audio.Clone();
  const std::vector<int16_t> result(300, 7);
  InstrumentData inst;
  LoopPoints sel{100, 200};
  SpliceLoopResult(LoopTool::kFrequencyCloud, audio, inst, sel, 100, 200, {result});
  ASSERT_EQ(audio.FrameCount(), 1200);
  for (int64_t k : {0, 99}) EXPECT_EQ(SampleAt(audio, k), SampleAt(before, k));
  for (int64_t k : {100, 399}) EXPECT_EQ(SampleAt(audio, k), 7);
  for (int64_t k : {200, 999}) EXPECT_EQ(SampleAt(audio, k + 200), SampleAt(before, k));
  EXPECT_EQ(sel, (LoopPoints{100, 400}));
}

// Each tool on one layout: region 0 holds the range, region 1 lies after it
// but comes first in the list, region 2 ends inside the range, and a global
// loop straddles the range. Frames: range [1000, 2000) of 10000.
struct Expect {
  LoopTool tool;
  int64_t newLength;
  int64_t resultLoopStart, resultLoopEnd;
  std::vector<Region> regions;  // after the splice
  int64_t globalLoopStart, globalLoopEnd;
  LoopPoints selection;
};

TEST(LoopSpliceTest, BookkeepingPerTool) {
  const std::vector<Region> layout = {R(5000, 9000, 6000, 8000), R(0, 5000, 1500, 4000), R(500, 1500)};
  const Expect cases[] = {
      // Morph Loop shortens the range to 600 frames (D = -400) with a body
      // [100, 541): the later region moves back with its audio (it used to
      // stay where it was), the one ending inside ends at the result's end.
      {LoopTool::kMorphLoop, 600, 100, 541,
       {R(4600, 8600, 5600, 7600), R(0, 4600, 1500, 3600), R(500, 1500)}, 300, 7600, {1100, 1541}},
      {LoopTool::kInfiniteSustain, 441, 0, 441,
       {R(4441, 8441, 5441, 7441), R(0, 4441, 1441, 3441), R(500, 1441)}, 300, 7441, {1000, 1441}},
      {LoopTool::kVocoder, 1000, -1, -1,
       {R(5000, 9000, 6000, 8000), R(0, 5000, 1500, 4000), R(500, 1500)}, 300, 8000, {1000, 2000}},
      // Frequency Cloud at 3x: D = 2000, no snapping.
      {LoopTool::kFrequencyCloud, 3000, -1, -1,
       {R(7000, 11000, 8000, 10000), R(0, 7000, 1500, 6000), R(500, 1500)}, 300, 10000, {1000, 4000}},
      // Granular Cloud 1000 -> 2000 frames: the region holding the range
      // ends 1000 later whichever region is selected, the later region moves
      // by 1000 (start and end once), and the loop points moved by 1000 land
      // on the nearest rising zero crossing (the sine's rise 441 m + 1 of the
      // old audio is at 1001 + 441 m after it): 7000 -> 7175, 9000 -> 8939,
      // 5000 -> 4970. Loop points that did not move stay where they are.
      {LoopTool::kGranularCloud, 2000, -1, -1,
       {R(6000, 10000, 7175, 8939), R(0, 6000, 1500, 4970), R(500, 1500)}, 300, 8939, {1000, 3000}},
  };
  for (const Expect& e : cases) {
    CWavLoader audio = Audio(10000);
    InstrumentData inst;
    inst.hasInstrument = true;
    inst.regions = layout;
    inst.params.loopStart = 300;
    inst.params.loopEnd = 8000;
    LoopPoints sel{1000, 2000};
    const std::vector<int16_t> result(static_cast<size_t>(e.newLength), 0);
    const LoopSpliceMove move =
        SpliceLoopResult(e.tool, audio, inst, sel, 1000, 2000, {result, e.resultLoopStart, e.resultLoopEnd});
    EXPECT_EQ(move.Delta(), e.newLength - 1000);
    EXPECT_EQ(audio.FrameCount(), 9000 + e.newLength);
    EXPECT_EQ(inst.regions, e.regions) << static_cast<int>(e.tool);
    EXPECT_EQ(inst.params.loopStart, e.globalLoopStart) << static_cast<int>(e.tool);
    EXPECT_EQ(inst.params.loopEnd, e.globalLoopEnd) << static_cast<int>(e.tool);
    EXPECT_EQ(sel, e.selection) << static_cast<int>(e.tool);
  }
}

TEST(LoopSpliceTest, GranularSnapsMovedLoopPointsToRisingCrossings) {
  // The regions' moved loop points are crossings of the spliced audio.
  CWavLoader audio = Audio(10000);
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.regions = {R(0, 4000), R(4000, 10000, 5000, 9000)};
  LoopPoints sel{1000, 2000};
  const std::vector<int16_t> result(2000, 0);
  SpliceLoopResult(LoopTool::kGranularCloud, audio, inst, sel, 1000, 2000, {result});
  const PcmSpan pcm = PcmSpan::Of(audio);
  for (int64_t x : {inst.regions[1].loopStart, inst.regions[1].loopEnd}) {
    EXPECT_LE(SampleAt(audio, x - 1), 0) << x;
    EXPECT_GT(SampleAt(audio, x), 0) << x;
    EXPECT_EQ(FindRisingZeroCrossing(pcm, x), x);
  }
  EXPECT_EQ(inst.regions[0], R(0, 5000));
  EXPECT_EQ(inst.regions[1].startSample, 5000);
  EXPECT_EQ(inst.regions[1].endSample, 11000);
}

TEST(LoopSpliceTest, GranularKeepsASnappedLoopPointInsideItsRegion) {
  // Region 1's loop start, moved to 5010, has its nearest crossing at 4970:
  // before the region's start at 5000.
  CWavLoader audio = Audio(10000);
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.regions = {R(0, 4000), R(4000, 10000, 4010, 9995)};
  LoopPoints sel{1000, 2000};
  const std::vector<int16_t> result(2000, 0);
  SpliceLoopResult(LoopTool::kGranularCloud, audio, inst, sel, 1000, 2000, {result});
  const Region& r = inst.regions[1];
  EXPECT_EQ(r.startSample, 5000);
  EXPECT_EQ(r.endSample, 11000);
  EXPECT_GE(r.loopStart, r.startSample);
  EXPECT_LT(r.loopStart, r.loopEnd);
  EXPECT_LE(r.loopEnd, r.endSample);
}

TEST(LoopSpliceTest, RangePastTheAudioIsClamped) {
  CWavLoader audio = Audio(1000);
  InstrumentData inst;
  LoopPoints sel{900, 5000};
  const std::vector<int16_t> result(50, 1);
  const LoopSpliceMove move = SpliceLoopResult(LoopTool::kVocoder, audio, inst, sel, 900, 5000, {result});
  EXPECT_EQ(move.end, 1000);
  EXPECT_EQ(audio.FrameCount(), 950);
  EXPECT_EQ(sel, (LoopPoints{900, 950}));
}

}  // namespace
}  // namespace zandrel

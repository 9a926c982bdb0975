// Notes and frequencies, and splicing a re-pitched selection back into the
// audio with the regions after it moving along.
#include "processing/repitch.h"

#include <gmock/gmock.h>

#include <cmath>
#include <cstring>

#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "support/region_frames.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

TEST(Notes, NearestAndTruncatedNotesAndTheAutoTuneBlock) {
  EXPECT_NEAR(NoteFrequency(69), 440.0, 1e-12);
  EXPECT_NEAR(NoteFrequency(60), 261.6256, 1e-4);
  EXPECT_EQ(NearestNote(440.0), 69);
  // A quarter tone below B4 and a hair above it.
  EXPECT_EQ(NearestNote(NoteFrequency(70.49)), 70);
  EXPECT_EQ(NearestNote(NoteFrequency(70.51)), 71);
  EXPECT_EQ(TruncatedNote(NoteFrequency(70.51)), 71);
  EXPECT_NEAR(CentsBetween(NoteFrequency(61), NoteFrequency(60)), 100.0, 1e-9);
  // The root's pitch class inside the detected note's own octave block.
  EXPECT_EQ(AutoTuneTarget(60, 71), 60);  // B4 against C: down to C4, not up to C5
  EXPECT_EQ(AutoTuneTarget(60, 61), 60);
  EXPECT_EQ(AutoTuneTarget(-1, 75), 72);  // no root counts as C
  EXPECT_EQ(AutoTuneTarget(69, 60), 69);  // A against C4 goes up within the block
}

TEST(Notes, SelectionInsideAudioCutsAStaleSelection) {
  ViewSelection v;
  v.loopIn = 100;
  v.loopOut = 5000;
  EXPECT_EQ(SelectionInsideAudio(v, 3000), (FrameRange{100, 3000}));
  v.loopIn = 3000;
  EXPECT_FALSE(SelectionInsideAudio(v, 3000));
  v.loopIn = -1;
  EXPECT_FALSE(SelectionInsideAudio(v, 3000));
}

class SpliceTest : public ::testing::Test {
 protected:
  // 10000 frames of a 441 Hz sine (100-frame period).
  void SetUp() override {
    std::vector<int16_t> s(10000);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * i / 100.0));
    ASSERT_TRUE(wav.LoadFromMemory(MakePcm16Wav(s)));
    inst.hasInstrument = true;
  }
  bool RisingAt(int64_t f) {
    int16_t a, b;
    std::memcpy(&a, wav.data.data() + (f - 1) * 2, 2);
    std::memcpy(&b, wav.data.data() + f * 2, 2);
    return a <= 0 && b > 0;
  }

  CWavLoader wav;
  InstrumentData inst;
  ViewSelection view;
};

TEST_F(SpliceTest, AnOctaveUpHalvesTheSelectionAndPullsLaterRegionsBack) {
  inst.regions = {R(0, 6000), R(6000, 10000, 7000, 9000)};
  view.selectedRegion = 0;
  const std::vector<int16_t> up = ResampleSpan(wav.data, 1, 2000, 5000, 2.0);
  ASSERT_EQ(up.size(), 1500u);
  const RepitchOutcome o = SpliceRepitched(wav, inst, view, 2000, 5000, up);
  EXPECT_EQ(o.newLength, 1500);
  EXPECT_EQ(o.delta, -1500);
  EXPECT_EQ(wav.FrameCount(), 8500);
  EXPECT_EQ(view.loopIn, 2000);
  EXPECT_EQ(view.loopOut, 2000 + 3000 / 2);
  EXPECT_EQ(inst.regions[0].endSample, 4500);
  EXPECT_EQ(inst.regions[1].startSample, 4500);
  EXPECT_EQ(inst.regions[1].endSample, 8500);
  EXPECT_TRUE(RisingAt(inst.regions[1].loopStart));
  EXPECT_LE(std::abs(inst.regions[1].loopStart - 5500), 50);
  EXPECT_TRUE(RisingAt(inst.regions[1].loopEnd));
  // The spliced part sounds an octave up: a 50-frame period.
  EXPECT_NEAR(EstimatePitchYin(PcmSpan::Of(wav), 2000, 3500), 882.0, 2.0);
}

TEST_F(SpliceTest, ASelectionOutsideTheSelectedRegionMovesTheRegionThatHoldsIt) {
  // Region 0 lies after region 1 in the list; the selection is in region 1
  // while region 2 is selected.
  inst.regions = {R(6000, 10000), R(0, 3000), R(3000, 6000)};
  view.selectedRegion = 2;
  const std::vector<int16_t> up = ResampleSpan(wav.data, 1, 1000, 2000, 2.0);
  const RepitchOutcome o = SpliceRepitched(wav, inst, view, 1000, 2000, up);
  EXPECT_EQ(o.adjustedRegion, 1);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{5500, 9500, -1, -1}, {0, 2500, -1, -1}, {2500, 5500, -1, -1}}));
}

// The audio gets shorter by what the splice takes out: every region and loop
// still lies within it afterwards. The table: the regions before, the
// selection spliced an octave up, the regions after.
TEST_F(SpliceTest, ShorterAudioKeepsEveryRegionAndLoopInside) {
  struct Case {
    const char* name;
    std::vector<Region> regions;
    int selected;
    int64_t s, e;
    std::vector<Frames> after;
  };
  const Case cases[] = {
      // The selected region shrinks by 500 frames past its loop's end.
      {"loop after the selection", {R(0, 3000, 2000, 2900), R(3000, 10000)}, 0, 1000, 2000,
       {{0, 2500, 2000, 2500}, {2500, 9500, -1, -1}}},
      // A region that starts inside the selection and ends at the end of the
      // audio stays where it was, and is cut at the new end.
      {"region across the selection's end", {R(0, 4000), R(1500, 10000)}, 0, 1000, 2000,
       {{0, 3500, -1, -1}, {1500, 9500, -1, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    inst.regions = c.regions;
    view.selectedRegion = c.selected;
    const std::vector<int16_t> up = ResampleSpan(wav.data, 1, c.s, c.e, 2.0);
    SpliceRepitched(wav, inst, view, c.s, c.e, up);
    EXPECT_EQ(FramesOf(inst), c.after);
  }
}

}  // namespace
}  // namespace zandrel

// Auto-chop's analysis on generated audio: onsets of a drum loop, the first
// region, short audio, the key mapping and the octave repairs of a melody.
#include "processing/auto_chop.h"

#include <gmock/gmock.h>

#include "processing/snapping.h"
#include "support/generated_audio.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

struct AutoChopMono16 {
  std::vector<uint8_t> bytes;
  uint32_t rate = 44100;
  AutoChopMono16(const std::vector<int16_t>& samples, uint32_t r = 44100) : bytes(Pcm16(samples)), rate(r) {}
  PcmSpan Span() const {
    PcmSpan s;
    s.bytes = bytes;
    s.channels = 1;
    s.sampleRate = rate;
    s.blockAlign = 2;
    s.bitsPerSample = 16;
    return s;
  }
};

TEST(AutoChopTest, BlockLengthIsFiveMillisecondsAndNeverZero) {
  EXPECT_EQ(ChopBlockLength(44100), 220);
  EXPECT_EQ(ChopBlockLength(48000), 240);
  EXPECT_EQ(ChopBlockLength(199), 1);
  EXPECT_EQ(ChopBlockLength(0), 1);
}

TEST(AutoChopTest, BlockLevelIsTheRmsOfTheFrameMeans) {
  // A square wave of 0.5: every frame's value is 0.5, so is every block.
  std::vector<int16_t> s(1000);
  for (size_t i = 0; i < s.size(); ++i) s[i] = (i % 2) ? 16384 : -16384;
  const AutoChopMono16 a(s);
  const std::vector<float> levels = BlockLevels(a.Span(), 0, 1000, 220);
  ASSERT_EQ(levels.size(), 5u);  // the last block holds 120 frames
  for (float l : levels) EXPECT_NEAR(l, 0.5f, 1e-6f);
}

TEST(AutoChopTest, DrumLoopIsChoppedOnTheQuietBlockBeforeEachHit) {
  const std::vector<double> hits = HitTimes(12, 0.5, 0.0);
  const AutoChopMono16 a(RenderMono(6 * 44100, 44100, DrumHits(hits)));
  const std::vector<int64_t> onsets = TransientOnsets(a.Span(), 1.9f, 200);
  // The hit at 0 lies inside the first 30 blocks, where no onset test runs.
  ASSERT_EQ(onsets.size(), 11u);
  for (size_t i = 0; i < onsets.size(); ++i) {
    const auto hit = static_cast<int64_t>(hits[i + 1] * 44100);
    EXPECT_LE(onsets[i], hit) << i;
    EXPECT_GT(onsets[i], hit - 2 * 220) << i;
    EXPECT_EQ(onsets[i] % 220, 0) << i;
  }
  const std::vector<Region> regions = RegionsFromOnsets(onsets, 6 * 44100, 44100);
  ASSERT_EQ(regions.size(), 12u);
  EXPECT_EQ(regions[0].startSample, 0);
  for (size_t i = 0; i + 1 < regions.size(); ++i) EXPECT_EQ(regions[i].endSample, regions[i + 1].startSample);
  EXPECT_EQ(regions.back().endSample, 6 * 44100);
}

TEST(AutoChopTest, SnappedOnsetsSitOnRisingZeroCrossings) {
  const AutoChopMono16 a(RenderMono(3 * 44100, 44100, DrumHits(HitTimes(5, 0.5, 0.25))));
  const PcmSpan span = a.Span();
  const std::vector<int64_t> plain = TransientOnsets(span, 1.9f, 200);
  const std::vector<int64_t> snapped =
      TransientOnsets(span, 1.9f, 200, [&](int64_t f) { return FindRisingZeroCrossing(span, f); });
  ASSERT_EQ(snapped.size(), plain.size());
  ASSERT_FALSE(snapped.empty());
  const auto* x = reinterpret_cast<const int16_t*>(a.bytes.data());
  for (int64_t f : snapped) {
    EXPECT_LE(x[f - 1], 0);
    EXPECT_GT(x[f], 0);
  }
}

TEST(AutoChopTest, TheFirstRegionAlwaysStartsAtZero) {
  struct Case {
    std::vector<int64_t> onsets;
    std::vector<int64_t> starts;
  };
  const Case cases[] = {
      {{}, {0}},                          // no onsets: one region over the file
      {{882, 22050}, {0, 22050}},         // within 20 ms: moves to 0
      {{883, 22050}, {0, 883, 22050}},    // later: a region before it
      {{10000, 10040}, {0, 10040}},       // a region of 40 frames is not made
  };
  for (const Case& c : cases) {
    std::vector<int64_t> starts;
    for (const Region& r : RegionsFromOnsets(c.onsets, 44100, 44100)) starts.push_back(r.startSample);
    EXPECT_EQ(starts, c.starts);
  }
}

TEST(AutoChopTest, AudioUnderSixtyOneBlocksHasNoOnsets) {
  const AutoChopMono16 a(RenderMono(60 * 220, 44100, DrumHits({0.1, 0.2})));
  EXPECT_TRUE(TransientOnsets(a.Span(), 1.9f, 50).empty());
  const std::vector<Region> regions = RegionsFromOnsets({}, 60 * 220, 44100);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].endSample, 60 * 220);
}

TEST(AutoChopTest, MajorScaleMappingOfTheFirstEight) {
  std::vector<Region> regions(12);
  MapMajorScale(regions, 8);
  std::vector<std::array<int, 3>> got;
  for (const Region& r : regions) got.push_back({r.rootNote, r.loKey, r.hiKey});
  const std::vector<std::array<int, 3>> want = {
      {60, 0, 61},  {62, 61, 63}, {64, 63, 65}, {65, 65, 66},  {67, 66, 68},  {69, 68, 70},
      {71, 70, 72}, {72, 72, 73}, {60, 0, 127}, {60, 0, 127}, {60, 0, 127}, {60, 0, 127}};
  EXPECT_EQ(got, want);
  // All twelve: the twelfth runs up to 127.
  MapMajorScale(regions, 12);
  EXPECT_EQ(regions[11].rootNote, 79);
  EXPECT_EQ(regions[11].loKey, 78);
  EXPECT_EQ(regions[11].hiKey, 127);
  EXPECT_EQ(MajorScaleNote(1000), 127);
}

std::vector<NoteSegment> Segments(std::vector<int> notes, int64_t length = 22050) {
  std::vector<NoteSegment> s;
  for (size_t i = 0; i < notes.size(); ++i)
    s.push_back({notes[i], static_cast<int64_t>(i) * length, static_cast<int64_t>(i + 1) * length});
  return s;
}

TEST(AutoChopTest, OctaveRepairs) {
  struct Case {
    std::vector<int> in;
    std::vector<int> out;  // notes after the repairs and the merge
    int corrections;
  };
  const Case cases[] = {
      {{60, 64, 67}, {60, 64, 67}, 0},
      {{60, 48}, {60}, 1},          // an octave under: the same note, merged
      {{60, 57}, {60, 69}, 1},      // lower: an octave up
      {{64, 55, 67}, {64, 67}, 1},  // a dip an octave under the next note
      {{72, 60, 62}, {72, 74}, 2},  // 60 -> 72 (first pass), then 62 -> 74 (last pass)
  };
  for (const Case& c : cases) {
    const MelodySegments m = PrepareMelodySegments(Segments(c.in), 44100);
    std::vector<int> notes;
    for (const NoteSegment& s : m.segments) notes.push_back(s.note);
    EXPECT_EQ(notes, c.out);
    EXPECT_EQ(m.corrections, c.corrections);
  }
}

TEST(AutoChopTest, ShortSegmentsAreDroppedAndMergedRunsSpanTheirParts) {
  std::vector<NoteSegment> s = {{60, 0, 10000}, {62, 10000, 18000}, {60, 20000, 30000}};
  // 0.2 s at 44100 Hz is 8820 frames: the 8000-frame segment goes.
  const MelodySegments m = PrepareMelodySegments(s, 44100);
  ASSERT_EQ(m.segments.size(), 1u);
  EXPECT_EQ(m.segments[0], (NoteSegment{60, 0, 30000}));
  EXPECT_TRUE(PrepareMelodySegments({{60, 0, 8819}}, 44100).segments.empty());
}

TEST(AutoChopTest, RegionsFromSegmentsFlagDescendingRoots) {
  bool descending = true;
  std::vector<Region> r = RegionsFromSegments(Segments({60, 64, 67}), 70000, &descending);
  EXPECT_FALSE(descending);
  ASSERT_EQ(r.size(), 3u);
  KeyRangesFromRoots(r, r.size());
  std::vector<std::array<int, 3>> got;
  for (const Region& x : r) got.push_back({x.rootNote, x.loKey, x.hiKey});
  EXPECT_EQ(got, (std::vector<std::array<int, 3>>{{60, 0, 61}, {64, 61, 65}, {67, 65, 127}}));
  EXPECT_EQ(r[2].endSample, 70000);
  RegionsFromSegments(Segments({64, 60}), 70000, &descending);
  EXPECT_TRUE(descending);
}

}  // namespace
}  // namespace zandrel

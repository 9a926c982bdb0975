#include "notes/tuning_remap.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "notes/tuning_remap_model.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"

namespace zandrel {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<Region> Roots(std::vector<int> roots) {
  std::vector<Region> regions;
  for (size_t i = 0; i < roots.size(); ++i) {
    Region r;
    r.startSample = static_cast<int64_t>(i) * 1000;
    r.endSample = r.startSample + 1000;
    r.rootNote = roots[i];
    regions.push_back(r);
  }
  return regions;
}

std::vector<std::string> Column(const std::vector<PadMapping>& plan, int column) {
  std::vector<std::string> out;
  for (const PadMapping& row : plan) out.push_back(MappingRowCells(row)[column]);
  return out;
}

constexpr std::array<float, 8> kEqual{};

TEST(TuningPlanTest, ThreeRootsOnTheEightPads) {
  const std::vector<Region> regions = Roots({60, 62, 64});
  EXPECT_EQ(BaseOctave(regions), 5);
  EXPECT_EQ(BaseOctaveText(5), "C4 - C5");
  EXPECT_EQ(RegionsText(regions), "3 (C4, D4, E4)");
  const std::vector<PadMapping> plan = BuildPadMapping(regions, 5, kEqual);
  ASSERT_EQ(plan.size(), 8u);
  std::vector<int> targets, sources;
  for (const PadMapping& row : plan) {
    targets.push_back(row.targetNote);
    sources.push_back(row.sourceRoot);
  }
  EXPECT_THAT(targets, ElementsAre(60, 62, 64, 65, 67, 69, 71, 72));
  EXPECT_THAT(sources, ElementsAre(60, 62, 64, 64, 64, 64, 64, 64));
  EXPECT_THAT(Column(plan, 0), ElementsAre("C", "D", "E", "F", "G", "A", "B", "C'"));
  EXPECT_THAT(Column(plan, 1)[3], "F4 (65)");
  EXPECT_THAT(Column(plan, 2)[3], "E4 (64)");
  EXPECT_THAT(Column(plan, 3)[7], "+8.0st");
  EXPECT_THAT(Column(plan, 4)[7], "+0.0c");
  EXPECT_THAT(Column(plan, 5), ElementsAre("+0c", "+0c", "+0c", "+100c", "+300c", "+500c", "+700c", "+800c"));
  EXPECT_THAT(Column(plan, 6), ElementsAre("C4", "D4", "E4", "F4", "G4", "A4", "B4", "C5"));
  EXPECT_THAT(Column(plan, 7), ElementsAre("100%", "100%", "100%", "95%", "87%", "79%", "70%", "66%"));
  EXPECT_EQ(QualityText(plan), "Overall quality: 87% (Very Good), Max pitch shift: \u00B18 semitones");
  EXPECT_EQ(QualityText({}), "N/A");
}

TEST(TuningPlanTest, BaseOctaveClampsAndTiesGoToTheFirstRegion) {
  EXPECT_EQ(BaseOctave(Roots({20})), 2);
  EXPECT_EQ(BuildPadMapping(Roots({20}), 2, kEqual).front().targetNote, 24);
  EXPECT_EQ(BuildPadMapping(Roots({20}), 2, kEqual).back().targetNote, 36);
  EXPECT_EQ(BaseOctave(Roots({100, 110})), 6);
  EXPECT_EQ(BuildPadMapping(Roots({100, 110}), 6, kEqual).front().targetNote, 72);
  EXPECT_EQ(BuildPadMapping(Roots({100, 110}), 6, kEqual).back().targetNote, 84);
  EXPECT_EQ(BaseOctave({}), 4);
  EXPECT_TRUE(BuildPadMapping({}, 4, kEqual).empty());
  // 59 and 61 are both one away from the target 60.
  EXPECT_EQ(BuildPadMapping(Roots({59, 61}), 5, kEqual).front().sourceRegion, 0);
  EXPECT_EQ(BuildPadMapping(Roots({61, 59}), 5, kEqual).front().sourceRegion, 0);
}

TEST(TuningPlanTest, SoundColumnMarksFlatAndSharp) {
  std::array<float, 8> cents{};
  cents[0] = -31.77f;
  cents[1] = 31.77f;
  cents[2] = 4.9f;
  const std::vector<PadMapping> plan = BuildPadMapping(Roots({60, 62, 64}), 5, cents);
  EXPECT_EQ(MappingRowCells(plan[0])[5], "-32c");
  EXPECT_EQ(MappingRowCells(plan[0])[6], "*C4");
  EXPECT_EQ(MappingRowCells(plan[0])[7], "98%");
  EXPECT_EQ(MappingRowCells(plan[0])[4], "-31.8c");
  EXPECT_EQ(MappingRowCells(plan[1])[6], "D4*");
  EXPECT_EQ(MappingRowCells(plan[2])[6], "E4");
  EXPECT_FLOAT_EQ(PadQuality(0.99f), 1.0f);
  EXPECT_FLOAT_EQ(PadQuality(-2400.0f), 0.3f);
}

TEST(TuningRemapModelTest, HeadersHandTheSelectionOnToATuning) {
  TuningRemapModel model(Roots({60, 62, 64}));
  EXPECT_EQ(model.Selection(), 1);
  EXPECT_EQ(model.SelectedName(), "12-TET (Reference: Equal Temperament)");
  EXPECT_EQ(model.QualityText(), "Overall quality: 87% (Very Good), Max pitch shift: \u00B18 semitones");
  EXPECT_EQ(model.Select(5), 6);  // header of the historical group
  EXPECT_EQ(model.SelectedName(), "Pythagorean Tuning (Medieval)");
  EXPECT_EQ(model.Description(), model.Presets()[6].description);
  EXPECT_FLOAT_EQ(model.Plan()[1].tuneCents, 3.91f);
  EXPECT_EQ(model.Select(226), 227);
  EXPECT_EQ(model.Select(300), -1);
  EXPECT_EQ(model.Selection(), 227);  // a row outside the list changes nothing
  EXPECT_FALSE(model.ProcessRefusal());
  EXPECT_EQ(model.ProcessQuestion(),
            "This will replace all current regions with 8 new regions optimized for EP Major Scale mode.\n\n"
            "Tuning: Octatonic / Diminished Scale (Messiaen Mode 2)\nBase octave: C4\nQuality: " +
                model.QualityText() + "\n\nContinue?");
  // The list's colour groups.
  EXPECT_EQ(TuningGroup(model.Presets(), 0), 0);
  EXPECT_EQ(TuningGroup(model.Presets(), 4), 0);
  EXPECT_EQ(TuningGroup(model.Presets(), 5), 1);
  EXPECT_EQ(TuningGroup(model.Presets(), 250), 24);
  EXPECT_EQ(kTuningListPalette[24 % 8].header, MakeColorRef(41, 80, 130));
  // The last header has no tuning below it: the nearest one above is taken.
  std::vector<TuningPreset> rows(3);
  rows[2].isCategory = true;
  EXPECT_EQ(SelectableRow(rows, 2), 1);
  rows[0].isCategory = rows[1].isCategory = true;
  EXPECT_FALSE(SelectableRow(rows, 2));
}

TEST(TuningRemapModelTest, WithoutRegionsThereIsNoPlan) {
  TuningRemapModel model({});
  EXPECT_TRUE(model.Plan().empty());
  EXPECT_EQ(model.QualityText(), "N/A");
  EXPECT_EQ(model.ProcessRefusal(), "Invalid mapping - expected 8 regions.");
  EXPECT_EQ(TuningRemapModel::OpenRefusal(nullptr), "No document available.");
  const std::vector<Region> none;
  EXPECT_EQ(TuningRemapModel::OpenRefusal(&none), "No regions found. Please create at least one region first.");
}

PcmFormat Mono16(uint32_t rate = 44100) {
  PcmFormat f;
  f.wFormatTag = 1;
  f.nChannels = 1;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = 2;
  f.nAvgBytesPerSec = rate * 2;
  f.wBitsPerSample = 16;
  return f;
}

std::vector<uint8_t> Sine(double hz, int64_t frames, uint32_t rate = 44100) {
  std::vector<int16_t> s(frames);
  for (int64_t i = 0; i < frames; ++i) s[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
  std::vector<uint8_t> bytes(s.size() * 2);
  std::memcpy(bytes.data(), s.data(), bytes.size());
  return bytes;
}

double TuningRemapHz(int note, double cents = 0) { return 440.0 * std::pow(2.0, (note - 69 + cents / 100.0) / 12.0); }

TEST(ResampleRegionAudioTest, LoopKeepsItsShareOfThePiece) {
  const std::vector<uint8_t> piece = Sine(220, 40000);
  Region r;
  r.startSample = 1000;
  r.endSample = 41000;
  r.loopStart = 11000;  // 25 %
  r.loopEnd = 31000;    // 75 %
  const ResampledPiece up = ResampleRegionAudio(piece, r, 2.0, Mono16());
  EXPECT_EQ(up.samples.size(), 20000u);
  EXPECT_EQ(up.loopStart, 5000);
  EXPECT_EQ(up.loopEnd, 15000);
  const ResampledPiece down = ResampleRegionAudio(piece, r, 0.8, Mono16());
  EXPECT_EQ(down.samples.size(), 50000u);
  EXPECT_EQ(down.loopStart, 12500);
  EXPECT_EQ(down.loopEnd, 37500);
  r.loopStart = kNoLoop;
  const ResampledPiece none = ResampleRegionAudio(piece, r, 2.0, Mono16());
  EXPECT_EQ(none.loopStart, kNoLoop);
  EXPECT_EQ(none.loopEnd, kNoLoop);
  // Only 16-bit samples are resampled.
  PcmFormat wide = Mono16();
  wide.wBitsPerSample = 24;
  wide.nBlockAlign = 3;
  const ResampledPiece refused = ResampleRegionAudio(piece, r, 1.0, wide);
  EXPECT_TRUE(refused.samples.empty());
  EXPECT_EQ(refused.warning, "Resampling only supports 16-bit audio. Please convert your audio first.");
}

// One region of a sine at its root's pitch, covering the whole audio.
struct OneRegion {
  explicit OneRegion(int root, int64_t frames = 44100) : audio(Sine(TuningRemapHz(root), frames)) {
    Region r;
    r.endSample = frames;
    r.rootNote = root;
    regions.push_back(r);
  }
  std::vector<uint8_t> audio;
  std::vector<Region> regions;
};

TEST(BuildRemappedAudioTest, EightRegionsBackToBackOnTheTargetKeys) {
  OneRegion src(48);
  src.regions[0].loopStart = 11025;
  src.regions[0].loopEnd = 33075;
  const std::vector<PadMapping> plan = BuildPadMapping(src.regions, BaseOctave(src.regions), kEqual);
  ASSERT_EQ(BaseOctave(src.regions), 4);
  const RemapOutcome out = BuildRemappedAudio(src.audio, Mono16(), src.regions, plan);
  ASSERT_TRUE(out.Ok());
  ASSERT_EQ(out.regions.size(), 8u);
  std::vector<int> roots;
  int64_t position = 0;
  for (size_t i = 0; i < 8; ++i) {
    const Region& r = out.regions[i];
    roots.push_back(r.rootNote);
    EXPECT_EQ(r.loKey, r.rootNote);
    EXPECT_EQ(r.hiKey, r.rootNote);
    // Each piece starts where the one before it ends.
    EXPECT_EQ(r.startSample, position) << i;
    const auto expected = static_cast<int64_t>(44100.0 / PadRatio(plan[i]));
    EXPECT_EQ(r.Length(), expected) << i;
    EXPECT_EQ(r.loopStart - r.startSample, r.Length() / 4) << i;
    EXPECT_NEAR(static_cast<double>(r.loopEnd - r.startSample), r.Length() * 0.75, 1.0) << i;
    position = r.endSample;
  }
  EXPECT_THAT(roots, ElementsAre(48, 50, 52, 53, 55, 57, 59, 60));
  EXPECT_EQ(out.regions.front().Length(), 44100);
  EXPECT_EQ(out.regions.back().Length(), 22050);
  // Every region lies inside the new audio, which ends with the last one.
  EXPECT_EQ(static_cast<int64_t>(out.audio.size() / 2), position);
  EXPECT_EQ(RemapOutputFrames(src.regions, plan, 44100), static_cast<uint64_t>(position));
}

TEST(BuildRemappedAudioTest, EachPadSoundsAtItsTunedPitch) {
  // Rows: 12-TET, 432 TuningRemapHz, 5-limit just intonation, Hungarian minor.
  const std::vector<TuningPreset> rows = BuildTuningPresets();
  for (int row : {1, 2, 3, 41}) {
    OneRegion src(57, 22050);  // A3, 220 TuningRemapHz
    const int base = BaseOctave(src.regions);
    const std::vector<PadMapping> plan = BuildPadMapping(src.regions, base, rows[row].padCents);
    const RemapOutcome out = BuildRemappedAudio(src.audio, Mono16(), src.regions, plan);
    ASSERT_TRUE(out.Ok()) << rows[row].name;
    PcmSpan pcm;
    pcm.bytes = out.audio;
    pcm.channels = 1;
    pcm.sampleRate = 44100;
    pcm.blockAlign = 2;
    pcm.bitsPerSample = 16;
    for (size_t i = 0; i < 8; ++i) {
      const double hz = EstimatePitchYin(pcm, out.regions[i].startSample, out.regions[i].endSample);
      const double wanted = TuningRemapHz(base * 12 + kPadSemitones[i], rows[row].padCents[i]);
      EXPECT_NEAR(1200.0 * std::log2(hz / wanted), 0.0, 3.0) << rows[row].name << " pad " << i;
    }
  }
}

TEST(BuildRemappedAudioTest, SharedSourcesAreCopiedPerPad) {
  // Two regions; pads D..C' all come from the second.
  std::vector<uint8_t> audio = Sine(TuningRemapHz(60), 10000);
  const std::vector<uint8_t> second = Sine(TuningRemapHz(62), 10000);
  audio.insert(audio.end(), second.begin(), second.end());
  std::vector<Region> regions = Roots({60, 62});
  regions[0].endSample = 10000;
  regions[1].startSample = 10000;
  regions[1].endSample = 20000;
  std::vector<PadMapping> plan = BuildPadMapping(regions, 5, kEqual);
  const RemapOutcome out = BuildRemappedAudio(audio, Mono16(), regions, plan);
  ASSERT_TRUE(out.Ok());
  // Pad D is the second region at ratio 1: its own copy of those frames.
  EXPECT_EQ(out.regions[1].Length(), 10000);
  EXPECT_EQ(out.regions[0].Length(), 10000);
  int64_t total = 0;
  for (const Region& r : out.regions) total += r.Length();
  EXPECT_EQ(static_cast<int64_t>(out.audio.size() / 2), total);
}

TEST(BuildRemappedAudioTest, ReportsWithinEachPadAndStopsWhenAsked) {
  // Two seconds of source: each pad's resampling reports as it goes, so the
  // bar moves many times per pad, not once.
  OneRegion src(48, 88200);
  const std::vector<PadMapping> plan = BuildPadMapping(src.regions, BaseOctave(src.regions), kEqual);
  std::vector<double> reports;
  const RemapOutcome whole = BuildRemappedAudio(src.audio, Mono16(), src.regions, plan, [&](double f) {
    reports.push_back(f);
    return true;
  });
  ASSERT_TRUE(whole.Ok());
  EXPECT_GT(reports.size(), 8u * 10);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_DOUBLE_EQ(reports.back(), 1.0);
  // The result does not depend on anybody watching.
  EXPECT_EQ(whole.audio, BuildRemappedAudio(src.audio, Mono16(), src.regions, plan).audio);

  // Stopped in the middle of the fourth pad: the outcome is incomplete, and
  // nothing is reported after the stop.
  size_t after = 0;
  bool stopped = false;
  const RemapOutcome cut = BuildRemappedAudio(src.audio, Mono16(), src.regions, plan, [&](double f) {
    if (stopped) ++after;
    stopped = stopped || f >= 0.42;
    return !stopped;
  });
  EXPECT_TRUE(stopped);
  EXPECT_EQ(after, 0u);
  EXPECT_EQ(cut.regions.size(), 3u);
}

TEST(BuildRemappedAudioTest, FailuresNameThePadAndBuildNothing) {
  OneRegion src(48, 4410);
  std::vector<PadMapping> plan = BuildPadMapping(src.regions, 4, kEqual);
  const struct {
    std::function<void(std::vector<PadMapping>&, std::vector<Region>&, PcmFormat&)> spoil;
    std::vector<std::pair<std::string, bool>> failures;
  } cases[] = {
      {[](auto& p, auto&, auto&) { p.pop_back(); }, {{"Invalid mapping - expected 8 regions.", false}}},
      {[](auto& p, auto&, auto&) { p[3].sourceRegion = 5; }, {{"Invalid source region index 5", false}}},
      {[](auto&, auto& r, auto&) { r[0].endSample = 99999; }, {{"Failed to extract audio for region 0", false}}},
      {[](auto&, auto& r, auto&) { r[0].startSample = r[0].endSample; },
       {{"Failed to extract audio for region 0", false}}},
      {[](auto&, auto&, auto& f) { f.wBitsPerSample = 8; f.nBlockAlign = 1; },
       {{"Resampling only supports 16-bit audio. Please convert your audio first.", true},
        {"Resampling failed for region 0", false}}},
      // A ratio the resampler refuses (more than eight octaves).
      {[](auto& p, auto&, auto&) { p[2].tuneCents = -12000; }, {{"Resampling failed for region 2", false}}},
  };
  for (const auto& c : cases) {
    std::vector<PadMapping> p = plan;
    std::vector<Region> r = src.regions;
    PcmFormat f = Mono16();
    c.spoil(p, r, f);
    const RemapOutcome out = BuildRemappedAudio(src.audio, f, r, p);
    EXPECT_EQ(out.failures, c.failures);
    EXPECT_TRUE(out.audio.empty());
    EXPECT_TRUE(out.regions.empty());
  }
}

TEST(BuildRemappedAudioTest, LengthLimitIsCheckedFromThePlan) {
  // A root far above the pads stretches every piece: 5 s at 8 kHz becomes
  // well over ten minutes.
  std::vector<Region> regions = Roots({127});
  regions[0].startSample = 0;
  regions[0].endSample = 40000;
  const std::vector<PadMapping> plan = BuildPadMapping(regions, BaseOctave(regions), kEqual);
  const uint64_t frames = RemapOutputFrames(regions, plan, 40000);
  double expected = 0;
  for (const PadMapping& row : plan) expected += std::floor(40000 / PadRatio(row));
  EXPECT_EQ(frames, static_cast<uint64_t>(expected));
  EXPECT_GT(frames, 600u * 8000u);
  EXPECT_EQ(RemapLengthWarning(frames, 8000),
            "The tuned instrument would be " + std::to_string(std::lround(frames / 8000.0)) +
                " seconds long; the limit is 600 seconds.");
  EXPECT_FALSE(RemapLengthWarning(600u * 8000u, 8000));
}

}  // namespace
}  // namespace zandrel

// Add Silence, Delete Outside, Remove All Silences, Remove All Regions and
// Export Selection, checked on the audio's length and content, the regions
// and selection that follow it, and the bytes of the exported file.
#include "processing/audio_edits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "document/instrument_chunks.h"
#include "platform/text_format.h"
#include "support/region_frames.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel::test {
namespace {

using ::testing::ElementsAre;

CWavLoader AudioEditsRamp(int64_t n, uint32_t rate = 44100) {
  CWavLoader a;
  a.format = PcmFormat{1, 1, rate, rate * 2, 2, 16};
  a.data.resize(static_cast<size_t>(n) * 2);
  for (int64_t i = 0; i < n; ++i) {
    const int16_t v = static_cast<int16_t>(1000 + i % 1000);
    std::memcpy(a.data.data() + i * 2, &v, 2);
  }
  return a;
}

int16_t SampleAt(const CWavLoader& a, int64_t frame) {
  int16_t v = 0;
  std::memcpy(&v, a.data.data() + frame * 2, 2);
  return v;
}

// ------------------------------------------------------------ Add Silence --

TEST(AddSilence, LengthFromTheKnobs) {
  // The coarse knob shows "2 s" at 1.7: two seconds go in, not one.
  EXPECT_FLOAT_EQ(SilenceSeconds(1.7f, 0.25f), 2.25f);
  EXPECT_EQ(SilenceFrames(44100, SilenceSeconds(1.7f, 0.25f)), 99225);
  for (float coarse : {0.0f, 0.4f, 0.5f, 0.6f, 1.2f, 1.5f, 2.5f, 2.51f, 19.6f, 20.0f}) {
    const float shown = std::stof(Format("%.0f", static_cast<double>(coarse)));
    EXPECT_FLOAT_EQ(SilenceSeconds(coarse, 0.0f), shown) << coarse;
  }
  EXPECT_EQ(SilenceFrames(44100, SilenceSeconds(0, 0)), 0);
  EXPECT_EQ(SilenceLogLine(0, 0), "Inserted 0.00 seconds (0 samples) of silence");
  EXPECT_EQ(SilenceLogLine(1.25f, 55125), "Inserted 1.25 seconds (55125 samples) of silence");
}

TEST(AddSilence, RegionsAndSelectionMoveWithTheAudio) {
  CWavLoader a = AudioEditsRamp(100);
  InstrumentData inst;
  // Ends at the cursor; holds it with a loop on both sides; starts at it.
  inst.regions = {R(0, 30), R(20, 50, 25, 45), R(30, 100, 40, 60)};
  ViewSelection view;
  view.cursorFrame = 30;
  view.loopIn = 30;
  view.loopOut = 30;
  EXPECT_EQ(InsertSilence(a, inst, view, 10), 30);
  EXPECT_EQ(a.FrameCount(), 110);
  EXPECT_EQ(SampleAt(a, 29), 1029);
  for (int64_t f = 30; f < 40; ++f) EXPECT_EQ(SampleAt(a, f), 0);
  EXPECT_EQ(SampleAt(a, 40), 1030);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 30, -1, -1}, {20, 60, 25, 55}, {40, 110, 50, 70}}));
  EXPECT_EQ(view.loopIn, 40);
  EXPECT_EQ(view.loopOut, 30);  // loop out moves only when past the cursor
  EXPECT_EQ(view.cursorFrame, 40);
}

TEST(AddSilence, CursorPastTheEndIsClampedToTheEnd) {
  CWavLoader a = AudioEditsRamp(100);
  InstrumentData inst;
  ViewSelection view;
  view.cursorFrame = 500;  // left behind by an undo of an append
  EXPECT_EQ(InsertSilence(a, inst, view, 10), 100);
  EXPECT_EQ(a.FrameCount(), 110);
  EXPECT_EQ(SampleAt(a, 99), 1099);
  EXPECT_EQ(SampleAt(a, 109), 0);
  EXPECT_EQ(view.cursorFrame, 110);
}

TEST(AddSilence, EightBitSilenceIsTheMidpoint) {
  CWavLoader a;
  a.format = PcmFormat{1, 1, 8000, 8000, 1, 8};
  a.data = {10, 20};
  InstrumentData inst;
  ViewSelection view;
  view.cursorFrame = 1;
  InsertSilence(a, inst, view, 3);
  EXPECT_THAT(a.data, ElementsAre(10, 128, 128, 128, 20));
}

// --------------------------------------------------------- Delete Outside --

TEST(DeleteOutside, Checks) {
  const CWavLoader a = AudioEditsRamp(100);
  EXPECT_EQ(CheckKeepRange(a, -1, 50)->message, "No loop points set. Please set loop start and loop end first.");
  EXPECT_EQ(CheckKeepRange(a, 50, 50)->message, "Invalid loop range. Loop start must be before loop end.");
  EXPECT_EQ(CheckKeepRange(CWavLoader{}, 10, 50)->message, "No audio data loaded.");
  EXPECT_EQ(CheckKeepRange(a, 10, 101)->message, "Loop range exceeds file boundaries.");
  EXPECT_EQ(CheckKeepRange(a, 0, 100)->message, "Loop already spans the entire file. Nothing to delete.");
  EXPECT_EQ(CheckKeepRange(a, 0, 100)->icon, MessageIcon::Information);
  EXPECT_FALSE(CheckKeepRange(a, 0, 99));
  EXPECT_EQ(KeepRangeQuestion(10, 50),
            "This will delete:\n- Everything before sample 10\n- Everything after sample 50\n\nOnly the loop region "
            "(40 samples) will remain.\n\nContinue?");
}

TEST(DeleteOutside, TrimsAndMovesTheRegions) {
  CWavLoader a = AudioEditsRamp(100);
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.regions = {R(0, 15), R(0, 100, 5, 95), R(30, 80, 40, 90), R(85, 100)};
  ViewSelection view;
  view.selectedRegion = 2;
  view.cursorFrame = 70;
  MemoryLog log;
  KeepRange(a, inst, view, 20, 70, &log);
  EXPECT_EQ(a.FrameCount(), 50);
  EXPECT_EQ(SampleAt(a, 0), 1020);
  EXPECT_EQ(SampleAt(a, 49), 1069);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 50, 0, 50}, {10, 50, 20, 50}}));
  EXPECT_THAT(log.Lines(), ::testing::IsSupersetOf({"Removing region 3 (outside loop)",
                                                    "Removing region 0 (outside loop)",
                                                    "Deleted audio outside loop. Kept 50 samples.",
                                                    "Remaining regions: 2"}));
  EXPECT_EQ(view.loopIn, 0);
  EXPECT_EQ(view.loopOut, 50);
  EXPECT_EQ(view.cursorFrame, 0);
  EXPECT_EQ(view.selectedRegion, -1);
}

TEST(DeleteOutside, DefaultRegionWhenEveryRegionLiesOutside) {
  CWavLoader a = AudioEditsRamp(100);
  InstrumentData inst;
  inst.regions = {R(0, 20), R(80, 100)};
  ViewSelection view;
  MemoryLog log;
  KeepRange(a, inst, view, 30, 60, &log);
  ASSERT_EQ(inst.regions.size(), 1u);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 30, -1, -1}}));
  EXPECT_EQ(inst.regions[0].loKey, 0);
  EXPECT_EQ(inst.regions[0].hiKey, 127);
  EXPECT_EQ(inst.regions[0].rootNote, 60);
  EXPECT_TRUE(inst.hasInstrument);
  EXPECT_THAT(log.Lines(), ::testing::Contains("WARNING: All regions were removed. Creating default region."));
}

// ---------------------------------------------------- Remove All Silences --

TEST(RemoveSilences, ThresholdsAtEveryWidth) {
  EXPECT_NEAR(SilenceThreshold(16), 163.835, 1e-9);
  EXPECT_NEAR(SilenceThreshold(8), 0.635, 1e-9);
  EXPECT_NEAR(SilenceThreshold(24), 41943.035, 1e-9);
  EXPECT_EQ(MinimumSilentFrames(44100), 2205);
  EXPECT_EQ(MinimumSilentFrames(48000), 2400);

  // loud | quiet stretch of 3000 frames | loud, at the value under test.
  struct Case {
    int bits;
    int64_t quiet;  // raw value (8-bit: byte - 128)
    bool silent;
  };
  const Case cases[] = {{16, 163, true},      {16, -163, true},      {16, 164, false},     {8, 0, true},
                        {8, 1, false},        {8, -1, false},        {24, 41943, true},    {24, -41943, true},
                        {24, 41944, false},   {32, 10737418, true},  {32, 10737419, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.bits << "-bit, value " << c.quiet);
    const int bytes = c.bits / 8;
    const int64_t loud = (int64_t{1} << (c.bits - 2));
    std::vector<uint8_t> pcm;
    auto put = [&](int64_t v) {
      const int64_t stored = c.bits == 8 ? v + 128 : v;
      for (int i = 0; i < bytes; ++i) pcm.push_back(static_cast<uint8_t>(static_cast<uint64_t>(stored) >> (8 * i)));
    };
    for (int i = 0; i < 100; ++i) put(loud);
    for (int i = 0; i < 3000; ++i) put(c.quiet);
    for (int i = 0; i < 100; ++i) put(-loud);
    PcmSpan span{pcm, 1, 1, 44100, static_cast<uint16_t>(bytes), static_cast<uint16_t>(c.bits)};
    const auto spans = FindSilentSpans(span, 0, 3200);
    if (c.silent) {
      EXPECT_THAT(spans, ElementsAre(FrameSpan{100, 3100}));
    } else {
      EXPECT_TRUE(spans.empty());
    }
  }
}

TEST(RemoveSilences, EveryChannelMustBeQuiet) {
  std::vector<int16_t> s;
  for (int i = 0; i < 3000; ++i) s.insert(s.end(), {0, static_cast<int16_t>(i < 1500 ? 0 : 5000)});
  std::vector<uint8_t> pcm(s.size() * 2);
  std::memcpy(pcm.data(), s.data(), pcm.size());
  const PcmSpan span{pcm, 1, 2, 44100, 4, 16};
  EXPECT_TRUE(FindSilentSpans(span, 0, 3000).empty());  // 1500 quiet frames are shorter than 50 ms
  std::fill(s.begin(), s.end(), 0);
  for (int i = 2300; i < 3000; ++i) s[static_cast<size_t>(i) * 2 + 1] = 5000;
  std::memcpy(pcm.data(), s.data(), pcm.size());
  EXPECT_THAT(FindSilentSpans(span, 0, 3000), ElementsAre(FrameSpan{0, 2300}));
}

TEST(RemoveSilences, StretchOfExactlyFiftyMillisecondsGoesOneFrameLessStays) {
  const int64_t m = 2205;
  for (const int64_t len : {m, m - 1}) {
    SCOPED_TRACE(len);
    CWavLoader a = AudioEditsRamp(1000 + len + 1000);
    std::memset(a.data.data() + 1000 * 2, 0, static_cast<size_t>(len) * 2);
    const auto spans = FindSilentSpans(PcmSpan::Of(a), 0, a.FrameCount());
    InstrumentData inst;
    ViewSelection view;
    RemoveSpans(a, inst, view, spans);
    if (len == m) {
      EXPECT_THAT(spans, ElementsAre(FrameSpan{1000, 1000 + m}));
      EXPECT_EQ(a.FrameCount(), 2000);
      EXPECT_EQ(SampleAt(a, 999), 1999);
      EXPECT_EQ(SampleAt(a, 1000), 1000 + (1000 + m) % 1000);
    } else {
      EXPECT_TRUE(spans.empty());
      EXPECT_EQ(a.FrameCount(), 2000 + len);
    }
  }
}

TEST(RemoveSilences, StretchStillOpenAtTheRangeEndEndsThere) {
  CWavLoader a = AudioEditsRamp(10000);
  std::memset(a.data.data() + 5000 * 2, 0, 5000 * 2);
  EXPECT_THAT(FindSilentSpans(PcmSpan::Of(a), 100, 8000), ElementsAre(FrameSpan{5000, 8000}));
  EXPECT_THAT(FindSilentSpans(PcmSpan::Of(a), 100, 7205), ElementsAre(FrameSpan{5000, 7205}));
  EXPECT_TRUE(FindSilentSpans(PcmSpan::Of(a), 100, 7204).empty());
}

TEST(RemoveSilences, EightBitSilenceOnlyAtTheMidpoint) {
  CWavLoader a;
  a.format = PcmFormat{1, 1, 8000, 8000, 1, 8};
  a.data.assign(1000, 128);
  for (int i = 0; i < 100; ++i) a.data[i] = 200;
  for (int i = 500; i < 1000; ++i) a.data[i] = 127;  // one step below the midpoint
  EXPECT_EQ(MinimumSilentFrames(8000), 400);
  EXPECT_THAT(FindSilentSpans(PcmSpan::Of(a), 0, 1000), ElementsAre(FrameSpan{100, 500}));
}

TEST(RemoveSilences, RegionsAndSelectionFollowTheCut) {
  CWavLoader a = AudioEditsRamp(1000);
  InstrumentData inst;
  inst.regions = {
      R(0, 100, 50, 90),      // before the span: unchanged
      R(50, 400, 60, 350),    // over the span: shortened, loop mapped
      R(210, 280, 220, 270),  // inside the span: emptied
      R(100, 250, 120, 220),  // ends inside: ends at its start
      R(250, 600, 260, 500),  // starts inside: starts at the span, loop mapped
      R(600, 1000, 700, 900), // after: moves left
  };
  ViewSelection view;
  view.loopIn = 250;
  view.loopOut = 700;
  view.cursorFrame = 990;
  RemoveSpans(a, inst, view, {{200, 300}});
  EXPECT_EQ(a.FrameCount(), 900);
  EXPECT_EQ(SampleAt(a, 199), 1199);
  EXPECT_EQ(SampleAt(a, 200), 1300);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 100, 50, 90},
                                                 {50, 300, 60, 250},
                                                 {200, 200, 200, 200},
                                                 {100, 200, 120, 200},
                                                 {200, 500, 200, 400},
                                                 {500, 900, 600, 800}}));
  EXPECT_EQ(view.loopIn, 200);
  EXPECT_EQ(view.loopOut, 600);
  EXPECT_EQ(view.cursorFrame, 900);  // clamped into the shorter audio

  EXPECT_EQ(MapPositionAfterRemoval(199, {200, 300}), 199);
  EXPECT_EQ(MapPositionAfterRemoval(200, {200, 300}), 200);
  EXPECT_EQ(MapPositionAfterRemoval(300, {200, 300}), 200);
  EXPECT_EQ(MapPositionAfterRemoval(301, {200, 300}), 201);
}

TEST(RemoveSilences, SeveralSpansAreCutLastFirst) {
  CWavLoader a = AudioEditsRamp(1000);
  InstrumentData inst;
  inst.regions = {R(0, 1000)};
  ViewSelection view;
  view.loopIn = 950;
  view.loopOut = 1000;
  RemoveSpans(a, inst, view, {{100, 200}, {500, 700}});
  EXPECT_EQ(a.FrameCount(), 700);
  EXPECT_EQ(SampleAt(a, 100), 1200);
  EXPECT_EQ(SampleAt(a, 400), 1700);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 700, -1, -1}}));
  EXPECT_EQ(view.loopIn, 650);
  EXPECT_EQ(view.loopOut, 700);
}

// ----------------------------------------------------- Remove All Regions --

TEST(RemoveAllRegions, KeepsSettingsAndClearsTheSelection) {
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.params.bpm = 90;
  inst.regions = {R(0, 10), R(10, 20)};
  ViewSelection view;
  view.loopIn = 3;
  view.loopOut = 8;
  view.selectedRegion = 1;
  ClearRegions(inst, view);
  EXPECT_TRUE(inst.regions.empty());
  EXPECT_TRUE(inst.hasInstrument);
  EXPECT_EQ(inst.params.bpm, 90);
  EXPECT_EQ(view.loopIn, -1);
  EXPECT_EQ(view.loopOut, -1);
  EXPECT_EQ(view.selectedRegion, -1);
}

// ------------------------------------------------------- Export Selection --

class ExportSelectionTest : public ::testing::Test {
 protected:
  ScriptedMessageHost host;
};

TEST_F(ExportSelectionTest, RegionsInsideTheSelectionRebased) {
  CWavLoader a = AudioEditsRamp(10000);
  // An INFO list without instrument data, which a save strips, and a region
  // too short to keep.
  a.chunks.push_back(RiffChunk{MakeFourCC("LIST"), 0, ListInfo({{"INAM", Text("kick")}})});
  InstrumentData inst;
  inst.hasInstrument = true;
  Region first = R(0, 3000);
  first.loKey = 0;
  first.hiKey = 59;
  first.rootNote = 48;
  Region second = R(3000, 8000);
  second.loKey = 60;
  second.hiKey = 127;
  second.rootNote = 72;
  inst.regions = {first, second, R(9000, 9005)};
  const InstrumentData instBefore = inst;
  const std::vector<RiffChunk> chunksBefore = a.chunks;
  const std::vector<uint8_t> dataBefore = a.data;

  MemoryLog log;
  const ExportSelectionResult r = ExportSelection(a, inst, 1000, 5000, &log);
  ASSERT_FALSE(r.refusal);
  EXPECT_EQ(r.frames, 4000);

  CWavLoader file;
  ASSERT_TRUE(file.LoadFromMemory(r.file));
  EXPECT_EQ(file.format, a.format);
  ASSERT_EQ(file.FrameCount(), 4000);
  EXPECT_EQ(SampleAt(file, 0), SampleAt(a, 1000));
  EXPECT_EQ(SampleAt(file, 3999), SampleAt(a, 4999));
  InstrumentData read;
  ParseInstrumentChunk(file.chunks, file.FrameCount(), read, nullptr);
  ASSERT_EQ(read.regions.size(), 2u);
  EXPECT_EQ(FramesOf(read), (std::vector<Frames>{{0, 2000, -1, -1}, {2000, 4000, -1, -1}}));
  EXPECT_EQ(read.regions[0].rootNote, 48);
  EXPECT_EQ(read.regions[1].loKey, 60);
  EXPECT_EQ(read.regions[1].rootNote, 72);

  // The open document is not touched.
  EXPECT_EQ(inst, instBefore);
  EXPECT_EQ(a.chunks, chunksBefore);
  EXPECT_EQ(a.data, dataBefore);
}

TEST_F(ExportSelectionTest, SelectionEndAtTheLastFrameIsTheLimit) {
  const CWavLoader a = AudioEditsRamp(1000);
  const InstrumentData inst;
  EXPECT_FALSE(ExportSelection(a, inst, 0, 1000, nullptr).refusal);
  const auto beyond = ExportSelection(a, inst, 0, 1001, nullptr);
  ASSERT_TRUE(beyond.refusal);
  EXPECT_EQ(beyond.refusal->message, "Selection end is beyond audio data.");
  EXPECT_TRUE(beyond.file.empty());
  EXPECT_EQ(CheckExportSelection(a, 10, 10)->message, "Please select a valid region first (loop start < loop end).");
  EXPECT_EQ(CheckExportSelection(a, -1, 10)->message, "Please select a valid region first (loop start < loop end).");
  EXPECT_EQ(CheckExportSelection(CWavLoader{}, 0, 10)->message, "Please open a WAV file first.");
}

TEST(ExportSelectionName, StemIsDoubled) {
  EXPECT_EQ(ExportSelectionDefaultName("/home/u/kick.wav", "kick.wav"), "/home/u/kick_kick_selection.wav");
  EXPECT_EQ(ExportSelectionDefaultName("/home/u/a.b/kick", "kick"), "/home/u/a.b/kick_kick_selection.wav");
  EXPECT_EQ(ExportSelectionDefaultName("", "Untitled"), "_Untitled_selection.wav");
  EXPECT_EQ(ExportSelectionLogLine("/tmp/x.wav", 44100, 44100),
            "Selection exported successfully to:\n/tmp/x.wav\n(44100 samples, 1.000 seconds)");
}

}  // namespace
}  // namespace zandrel::test

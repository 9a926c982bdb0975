#include "tools/loop_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "document/instrument_chunks.h"
#include "processing/sample_access.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "tools/kit_fixture.h"
#include "tools/midi_builder.h"

namespace zandrel {
namespace {

PatternEvent Hit(int note, int64_t time, double velocity = 1.0) { return {2, time, 240, note, velocity, 0, 0, 0}; }

InstrumentData KitWithRoots(std::initializer_list<int> roots) {
  std::vector<Region> regions;
  int64_t start = 0;
  for (int root : roots) {
    regions.push_back(test::MakeRegion(start, start + 100, root));
    start += 100;
  }
  return test::MakeInstrument(regions);
}

float ReadFrame(const CWavLoader& wav, int64_t frame, int channel = 0) {
  std::vector<float> out;
  ChannelToFloat(wav.data, out, frame, 1, channel, wav.format.wBitsPerSample, wav.format.nBlockAlign);
  return out[0];
}

// ----------------------------------------------------------- note map --

TEST(NoteMap, NearestRootBelowWinsATie) {
  const InstrumentData kit = KitWithRoots({36, 38, 42});
  const NoteMapTables t = BuildNoteMap(&kit, "C2", {});
  const std::pair<int, int> cases[] = {{36, 36}, {37, 36}, {39, 38}, {40, 38}, {41, 42}, {30, 36}, {50, 42}};
  for (const auto& [note, root] : cases) EXPECT_EQ(t.noteMap[note], root) << note;
  EXPECT_EQ(t.regionMap[41], 2);
  EXPECT_EQ(t.regionMap[37], 0);
  EXPECT_EQ(t.rootList[0], 36);
  EXPECT_EQ(t.rootList[2], 42);
  EXPECT_EQ(t.RootCount(), 3);
}

TEST(NoteMap, KitStartNoteShiftsThePattern) {
  InstrumentData kit = KitWithRoots({48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59});
  NoteMapTables t = BuildNoteMap(&kit, "C3", {});
  EXPECT_EQ(t.noteMap[36], 48);
  EXPECT_EQ(t.noteMap[37], 49);
  EXPECT_EQ(t.noteMap[115], 59);
  EXPECT_EQ(t.noteMap[116], -1);  // 116 + 12 lies beyond the keyboard
  EXPECT_EQ(BuildNoteMap(&kit, "48", {}).noteMap[36], 48);
  // Neither a name nor a number reads as 0: pattern note 36 plays kit note 0's nearest root.
  t = BuildNoteMap(&kit, "drums", {});
  EXPECT_EQ(t.noteMap[36], 48);
  EXPECT_EQ(t.noteMap[0], -1);
  // Out of range, oversized included, counts as 36.
  for (const char* text : {"200", "-3", "99999999999999999999", "128"}) EXPECT_EQ(KitStartNote(text), 36) << text;
}

TEST(NoteMap, CustomMappingTable) {
  const std::pair<const char*, CustomMapping> cases[] = {
      {"C2>D4, D2>F#4", {{36, 62}, {38, 66}}},
      {"36>40", {{36, 40}}},
      {"C2>D2, C2>E2", {{36, 40}}},           // the later pair wins
      {"C-1>C4, C4>0, 60>128", {}},           // 0 and 128 cannot be mapped
      {" , C2, >D2, C2>, x>y", {}},           // pieces without both sides; words read as 0
      {"99999999999999>40, 40>-99999999999999999999", {}},  // oversized numbers are out of range
      {"", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseCustomMapping(text), expected) << text;
}

TEST(NoteMap, CustomMappingIgnoresTheKitStartShift) {
  const InstrumentData kit = KitWithRoots({36, 38, 40, 48});
  const NoteMapTables t = BuildNoteMap(&kit, "C3", ParseCustomMapping("C2>E2"));
  EXPECT_EQ(t.noteMap[36], 40);
  EXPECT_EQ(t.regionMap[36], 2);
  EXPECT_EQ(t.noteMap[37], 48);
}

TEST(NoteMap, RootsOutsideTheKeyboardTakeNoPart) {
  InstrumentData kit = KitWithRoots({200, 38, -1, 1000000});
  const NoteMapTables t = BuildNoteMap(&kit, "C2", {});
  for (int n = 0; n < 128; ++n) EXPECT_EQ(t.noteMap[n], n + 0 < 128 ? 38 : -1) << n;
  EXPECT_EQ(t.regionMap[36], 1);
  EXPECT_EQ(t.rootList[0], 200);  // the root list shows what the regions hold
  EXPECT_EQ(BuildNoteMap(nullptr, "C2", {}).noteMap[36], -1);
  InstrumentData none = KitWithRoots({300});
  EXPECT_EQ(BuildNoteMap(&none, "C2", {}).noteMap[36], -1);
}

TEST(NoteMap, AutoMapPairsByRank) {
  const InstrumentData kit = KitWithRoots({38, 36, 37, 36});
  const std::vector<PatternEvent> events = {Hit(46, 0), Hit(36, 0), Hit(38, 10), Hit(42, 20), Hit(36, 30)};
  const AutoMapResult r = AutoMapNotes(events, &kit);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.text, "D2>C#2, F#2>D2");

  const InstrumentData noRoots = KitWithRoots({-1, 200});
  const InstrumentData empty = test::MakeInstrument({});
  EXPECT_EQ(AutoMapNotes({}, &kit).warning, "Please load a pattern file first.");
  EXPECT_EQ(AutoMapNotes(events, &empty).warning, "No instrument regions available.");
  EXPECT_EQ(AutoMapNotes(events, nullptr).warning, "No instrument regions available.");
  EXPECT_EQ(AutoMapNotes({Hit(300, 0)}, &kit).warning, "No note events found in pattern.");
  EXPECT_EQ(AutoMapNotes(events, &noRoots).warning, "No valid root keys found in instrument regions.");
}

// ------------------------------------------------------ pattern loads --

TEST(PatternLoad, BarsFromTheLatestStart) {
  EXPECT_EQ(BarsOfPattern({Hit(36, 3839)}), 1);
  EXPECT_EQ(BarsOfPattern({Hit(36, 3840), Hit(36, 0)}), 2);
  EXPECT_EQ(BarsOfPattern({Hit(36, -50000)}), 1);  // never below one bar
  EXPECT_EQ(BarsOfPattern({Hit(36, 256 * 3840 - 1)}), 256);
  EXPECT_EQ(BarsOfPattern({Hit(36, 256 * 3840)}), -1);
  EXPECT_EQ(BarsOfPattern({Hit(36, INT64_MAX)}), -1);
}

TEST(PatternLoad, StatusTable) {
  auto bytes = [](const std::string& s) { return test::Text(s); };
  struct Case {
    std::string text;
    PatternLoadStatus status;
    const char* warning;
    size_t events;
    int bars;
  };
  const Case cases[] = {
      {R"({"events":[{"type":2,"time":4000,"1":36},{"type":1,"time":0}]})", PatternLoadStatus::kLoaded, "", 1, 2},
      {"nothing here", PatternLoadStatus::kNoEvents, "Failed to parse pattern file or file is empty.", 0, 0},
      {R"({"events":[{"type":1}]})", PatternLoadStatus::kNoNotes, "No note events found in pattern file.", 0, 0},
      {R"({"events":[{"type":2,"time":1e12}]})", PatternLoadStatus::kTooLong, "The pattern is longer than 256 bars.",
       0, 0},
  };
  for (const Case& c : cases) {
    const PatternLoad load = LoadPatternBytes(bytes(c.text), false);
    EXPECT_EQ(load.status, c.status) << c.text;
    EXPECT_EQ(load.warning, c.warning) << c.text;
    EXPECT_EQ(load.events.size(), c.events) << c.text;
    EXPECT_EQ(load.bars, c.bars) << c.text;
  }
  EXPECT_EQ(LoadPatternBytes({}, true).warning, "Failed to parse MIDI file or file is empty.");
}

TEST(PatternLoad, ReaderByEnding) {
  for (const char* name : {"a.mid", "A.MIDI", "x.Mid", "midi"}) EXPECT_TRUE(IsMidiPatternPath(name)) << name;
  for (const char* name : {"a.mpcpattern", "a.mi", "a.txt", "mid"}) EXPECT_FALSE(IsMidiPatternPath(name)) << name;

  test::TempDir dir;
  const test::MidiBytes midi = test::Join(
      {test::MidiHeader(0, 1, 960), test::Track(test::Join({test::NoteOn(0, 36, 100), test::NoteOff(10, 36)}))});
  test::WriteFileBytes(dir / "beat.MIDI", midi);
  EXPECT_EQ(LoadPatternFile(dir / "beat.MIDI").status, PatternLoadStatus::kLoaded);
  test::WriteFileBytes(dir / "beat.mpcpattern", midi);  // MIDI bytes read as a pattern text
  EXPECT_EQ(LoadPatternFile(dir / "beat.mpcpattern").status, PatternLoadStatus::kNoEvents);
}

TEST(PatternLoad, OutputPathEndsInWav) {
  EXPECT_EQ(WithWavExtension("loop"), "loop.wav");
  EXPECT_EQ(WithWavExtension("loop.WAV"), "loop.WAV");
  EXPECT_EQ(WithWavExtension("loop.mp3"), "loop.mp3.wav");
  EXPECT_EQ(WithWavExtension("/tmp/a.b/loop"), "/tmp/a.b/loop.wav");
}

// ------------------------------------------------------------- render --

struct Kit {
  CWavLoader audio;
  InstrumentData instrument;
};

// A mono kit at 44100 Hz: region 0 (root 36) a single full-scale impulse
// followed by silence, region 1 (root 38) a ramp of 30000 frames.
Kit DrumKit() {
  std::vector<int16_t> samples(100, 0);
  samples[0] = 16384;  // 0.5
  for (int i = 0; i < 30000; ++i) samples.push_back(static_cast<int16_t>(1 + i));
  Kit kit{test::MakeKitAudio(samples), test::MakeInstrument({test::MakeRegion(0, 100, 36),
                                                             test::MakeRegion(100, 30100, 38)})};
  return kit;
}

LoopRenderResult Render(const Kit& kit, const std::vector<PatternEvent>& events, int bars, double tempo) {
  LoopRenderInput in;
  in.kit = &kit.audio;
  in.instrument = &kit.instrument;
  in.events = &events;
  in.bars = bars;
  in.tempo = tempo;
  return RenderPatternLoop(in);
}

TEST(LoopRender, LengthIsBarsTimesBeatsAtTheTempo) {
  const Kit kit = DrumKit();
  const std::vector<PatternEvent> events = {Hit(36, 0)};
  struct Case {
    int bars;
    double tempo;
    int64_t frames;
  };
  for (const Case& c : {Case{1, 120, 88200}, Case{2, 90, 235200}, Case{1, 100, 105840}, Case{3, 133.3, 238199}}) {
    const LoopRenderResult r = Render(kit, events, c.bars, c.tempo);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.frames, c.frames) << c.bars << " bars at " << c.tempo;
    EXPECT_EQ(r.wav.FrameCount(), c.frames);
  }
}

TEST(LoopRender, HitsSoundAtTheirFrames) {
  const Kit kit = DrumKit();
  // 120 BPM: a beat is 22050 frames; a sixteenth 5512.5, truncated.
  const LoopRenderResult r = Render(kit, {Hit(36, 0), Hit(36, 960, 0.5), Hit(36, 240)}, 1, 120);
  ASSERT_TRUE(r.ok);
  EXPECT_NEAR(ReadFrame(r.wav, 0), 0.5f, 1e-4);
  EXPECT_NEAR(ReadFrame(r.wav, 22050), 0.25f, 1e-4);
  EXPECT_NEAR(ReadFrame(r.wav, 5512), 0.5f, 1e-4);
  int nonZero = 0;
  for (int64_t f = 0; f < r.frames; ++f) nonZero += ReadFrame(r.wav, f) != 0.0f;
  EXPECT_EQ(nonZero, 3);
}

TEST(LoopRender, TailWrapsToTheLoopStartAndTheSeamIsContinuous) {
  const Kit kit = DrumKit();
  // 1 bar at 120 BPM = 88200 frames; the 30000-frame ramp (1, 2, 3, ...)
  // starts about 10000 frames before the end.
  PatternEvent e = Hit(38, 0);
  e.time = 3400;  // 3400 / 960 beats of 22050 frames: frame 78093
  const LoopRenderResult r = Render(kit, {e}, 1, 120);
  ASSERT_TRUE(r.ok);
  const int64_t start = 78093;
  const int64_t before = r.frames - start;  // frames that fit before the end
  const double lsb = 1.5 / 32768;           // one step of the 16-bit output
  EXPECT_EQ(ReadFrame(r.wav, start - 1), 0.0f);
  EXPECT_NEAR(ReadFrame(r.wav, start + 99), 100 / 32768.0, lsb);
  EXPECT_NEAR(ReadFrame(r.wav, r.frames - 1), before / 32768.0, lsb);
  EXPECT_NEAR(ReadFrame(r.wav, 0), (before + 1) / 32768.0, lsb);  // the seam goes on rising
  EXPECT_NEAR(ReadFrame(r.wav, 0) - ReadFrame(r.wav, r.frames - 1), 1 / 32768.0, lsb);
  EXPECT_NEAR(ReadFrame(r.wav, 30000 - before - 1), 30000 / 32768.0, lsb);  // the region's last frame
  EXPECT_EQ(ReadFrame(r.wav, 30000 - before), 0.0f);
}

TEST(LoopRender, NegativeTimesSoundBeforeTheLoopEnd) {
  const Kit kit = DrumKit();
  const LoopRenderResult r = Render(kit, {Hit(36, -960)}, 1, 120);
  ASSERT_TRUE(r.ok);
  EXPECT_NEAR(ReadFrame(r.wav, r.frames - 22050), 0.5f, 1e-4);
  // Far times land where they fall in the loop's cycle.
  const LoopRenderResult far = Render(kit, {Hit(36, 3840 * 1000 + 960), Hit(36, INT64_MIN)}, 1, 120);
  ASSERT_TRUE(far.ok);
  EXPECT_NEAR(ReadFrame(far.wav, 22050), 0.5f, 1e-4);
}

TEST(LoopRender, ClippingLoopsScaleToNinetyFivePercent) {
  Kit kit = DrumKit();
  reinterpret_cast<int16_t*>(kit.audio.data.data())[0] = 31130;  // 0.95
  const LoopRenderResult loud = Render(kit, {Hit(36, 0), Hit(36, 0)}, 1, 120);  // peaks at 1.9
  ASSERT_TRUE(loud.ok);
  EXPECT_FLOAT_EQ(loud.gain, 0.95f / (2 * 31130 / 32768.0f));
  EXPECT_NEAR(ReadFrame(loud.wav, 0), 0.95f, 1e-4);
  const LoopRenderResult quiet = Render(kit, {Hit(36, 0, 0.5)}, 1, 120);
  EXPECT_EQ(quiet.gain, 1.0f);  // quieter loops are not raised
}

TEST(LoopRender, RegionsAtTheEdgesOfTheKit) {
  Kit kit = DrumKit();
  kit.instrument.regions.push_back(test::MakeRegion(30050, 90000, 40));   // runs past the audio
  kit.instrument.regions.push_back(test::MakeRegion(40000, 50000, 41));   // wholly beyond it
  kit.instrument.regions.push_back(test::MakeRegion(-1000, 1, 42));       // starts before frame 0
  LoopRenderResult r = Render(kit, {Hit(40, 0)}, 1, 120);
  ASSERT_TRUE(r.ok);
  EXPECT_NEAR(ReadFrame(r.wav, 49), 30000 / 32768.0, 1.5 / 32768);  // the kit's last frame
  EXPECT_EQ(ReadFrame(r.wav, 50), 0.0f);  // the audio ended
  r = Render(kit, {Hit(41, 0)}, 1, 120);
  for (int64_t f = 0; f < 100; ++f) EXPECT_EQ(ReadFrame(r.wav, f), 0.0f);
  // A region starting before frame 0 is silent: its first frame is not in
  // the kit, and the kit's frame 0 must not sound anywhere in the loop.
  r = Render(kit, {Hit(42, 0), Hit(42, 960)}, 1, 120);
  ASSERT_TRUE(r.ok);
  float peak = 0.0f;
  for (int64_t f = 0; f < r.frames; ++f) peak = std::max(peak, std::fabs(ReadFrame(r.wav, f)));
  EXPECT_EQ(peak, 0.0f);
}

TEST(LoopRender, RefusalsTable) {
  const Kit kit = DrumKit();
  const std::vector<PatternEvent> events = {Hit(36, 0)};
  const std::vector<PatternEvent> none;
  CWavLoader silent;
  silent.format = kit.audio.format;
  const char* tempoMessage = "The tempo must give a loop between one frame and 10 minutes long.";
  struct Case {
    const CWavLoader* audio;
    const InstrumentData* instrument;
    const std::vector<PatternEvent>* events;
    int bars;
    double tempo;
    const char* message;
    MessageIcon icon;
  };
  const InstrumentData noRegions = test::MakeInstrument({});
  const Case cases[] = {
      {nullptr, &kit.instrument, &events, 1, 120, "Audio source not set.", MessageIcon::Error},
      {&silent, &kit.instrument, &events, 1, 120, "No audio data or regions available.", MessageIcon::Error},
      {&kit.audio, &noRegions, &events, 1, 120, "No audio data or regions available.", MessageIcon::Error},
      {&kit.audio, &kit.instrument, &none, 1, 120, "Please load a pattern file first.", MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 0, 120, "Please load a pattern file first.", MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, -3, 120, "Please load a pattern file first.", MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 1, 0, tempoMessage, MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 1, -5, tempoMessage, MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 1, std::nan(""), tempoMessage, MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 1, INFINITY, tempoMessage, MessageIcon::Warning},
      {&kit.audio, &kit.instrument, &events, 1, 1e9, tempoMessage, MessageIcon::Warning},    // under a frame
      {&kit.audio, &kit.instrument, &events, 256, 1.0, tempoMessage, MessageIcon::Warning},  // over 10 minutes
  };
  for (const Case& c : cases) {
    LoopRenderInput in;
    in.kit = c.audio;
    in.instrument = c.instrument;
    in.events = c.events;
    in.bars = c.bars;
    in.tempo = c.tempo;
    const LoopRenderResult r = RenderPatternLoop(in);
    EXPECT_FALSE(r.ok) << c.message;
    EXPECT_EQ(r.message, c.message) << c.bars << " " << c.tempo;
    EXPECT_EQ(r.icon, c.icon) << c.message;
  }
}

TEST(LoopRender, OtherWidthsWriteThroughSampleAccess) {
  for (const uint16_t bits : {8, 24, 32}) {
    CWavLoader audio;
    audio.format = {1, 1, 1000, static_cast<uint32_t>(1000 * bits / 8), static_cast<uint16_t>(bits / 8), bits};
    audio.data.assign(10 * bits / 8, 0);
    std::vector<float> full = {1.0f, -1.0f, 0.5f};
    FloatToChannel(full, audio.data, 0, 0, bits, bits / 8);
    // Full scale and half scale hit in one tick of a 1-bar loop at 60 BPM (4000 frames).
    Kit kit{std::move(audio), test::MakeInstrument({test::MakeRegion(0, 3, 36)})};
    const LoopRenderResult r = Render(kit, {Hit(36, 0, 1.0)}, 1, 60);
    ASSERT_TRUE(r.ok) << bits;
    EXPECT_EQ(r.frames, 4000);
    const std::span<const uint8_t> pcm = r.wav.data;
    if (bits == 8) {
      EXPECT_EQ(pcm[0], 254);  // 127/128 read, trunc(0.992 * 127 + 128) written
      EXPECT_EQ(pcm[1], 1);
      EXPECT_EQ(pcm[3], 128);
    } else if (bits == 32) {
      int32_t first;
      std::memcpy(&first, pcm.data(), 4);
      EXPECT_EQ(first, 2147483647);  // full scale fits the integer
    } else {
      EXPECT_NEAR(ReadSampleValue(pcm, 0, 0, 1, 24), 8388607, 1);
      EXPECT_NEAR(ReadSampleValue(pcm, 2, 0, 1, 24), 4194303, 1);
    }
  }
}

TEST(LoopRender, WritesTheLoopFileByteForByte) {
  // A pattern at 120 BPM, 1 bar, on a mono 16-bit kit at 44100 Hz.
  const Kit kit = DrumKit();
  const LoopRenderResult r = Render(kit, {Hit(36, 0)}, 1, 120);
  ASSERT_TRUE(r.ok);
  test::TempDir dir;
  CWavLoader wav = r.wav.Clone();
  ASSERT_TRUE(wav.Save(dir / "loop.wav", 0));
  const test::Bytes bytes = test::ReadFileBytes(dir / "loop.wav");

  const std::string json =
      R"({"sound.playmode":"loop","sound.rootnote":60,"sound.pitch":0,"sound.pan":0,"sound.amplitude":100,)"
      R"("envelope.attack":0,"envelope.release":0,"time.mode":"bpm","sample.mode":"single"})";
  ASSERT_EQ(json.size(), 179u);
  test::Bytes pcm(176400, 0);
  pcm[0] = 0xFF;
  pcm[1] = 0x3F;  // 0.5 at the first frame: trunc(0.5 * 32767)
  const test::Bytes expected = test::WavBuilder()
                                   .Fmt(1, 1, 44100, 16)
                                   .Chunk("LIST", test::ListInfo({{"TNGE", test::TngeBody(json)}}))
                                   .Chunk("acid", test::AcidBody(60, 4, 120.0f))
                                   .Data(pcm)
                                   .Build();
  // The list chunk as the device reads it: 192 bytes holding a 180-byte TNGE.
  ASSERT_GE(bytes.size(), 48u);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "LIST");
  EXPECT_EQ(bytes[40] | (bytes[41] << 8), 192);
  EXPECT_EQ(std::string(bytes.begin() + 48, bytes.begin() + 52), "TNGE");
  EXPECT_EQ(bytes[52] | (bytes[53] << 8), 180);
  EXPECT_EQ(bytes, expected);

  // And the document's own readers agree.
  CWavLoader back;
  ASSERT_TRUE(back.Load(dir / "loop.wav"));
  InstrumentData read;
  ParseInstrumentChunk(back.chunks, back.FrameCount(), read, nullptr);
  ReadAcidChunk(back.chunks, read, nullptr);
  EXPECT_TRUE(read.hasInstrument);
  EXPECT_EQ(read.params.playMode, "loop");
  EXPECT_EQ(read.params.timeMode, "bpm");
  EXPECT_EQ(read.params.sampleMode, "single");
  EXPECT_EQ(read.params.beats, 4);
  EXPECT_EQ(read.params.bpm, 120.0f);
  EXPECT_EQ(back.data.size(), 176400u);
}

}  // namespace
}  // namespace zandrel

#include "document/instrument_chunks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

RiffChunk MakeChunk(const char* id, Bytes data) {
  RiffChunk c;
  std::memcpy(c.id.data(), id, 4);
  c.size = static_cast<uint32_t>(data.size());
  c.data = std::move(data);
  return c;
}

std::vector<RiffChunk> TngeChunks(const std::string& json) {
  return {MakeChunk("LIST", ListInfo({{"TNGE", TngeBody(json)}}))};
}

// The TNGE texts stored in a LIST/INFO chunk, in order.
std::vector<std::string> TngeTexts(const std::vector<RiffChunk>& chunks) {
  std::vector<std::string> texts;
  const RiffChunk* list = FindListInfo(chunks);
  if (!list) return texts;
  for (size_t off = 4; off + 8 <= list->data.size();) {
    const uint32_t size = ReadLE32(list->data.data() + off + 4);
    if (std::memcmp(list->data.data() + off, "TNGE", 4) == 0) {
      EXPECT_EQ(list->data[off + 8 + size - 1], 0) << "TNGE text ends with a 0 byte";
      texts.emplace_back(reinterpret_cast<const char*>(list->data.data() + off + 8), size - 1);
    }
    off += 8 + size + (size & 1);
  }
  return texts;
}

InstrumentData TwoRegions() {
  InstrumentData d;
  d.hasInstrument = true;
  d.regions = {{22050, 44100, 30000, 44000, 60, 127, 72}, {0, 22050, -1, -1, 0, 60, 60}};
  return d;
}

constexpr const char* kWorkedExample =
    R"({"sound.playmode":"key","sound.rootnote":60,"sound.pitch":0,"sound.pan":0,"sound.amplitude":100,)"
    R"("envelope.attack":0,"envelope.release":0,"time.mode":"off","sample.mode":"multi","regions":[)"
    R"({"sample.start":0,"sample.end":22050,"sample.lokey":0,"sample.hikey":60,"sound.rootnote":60,)"
    R"("sound.loopstart":-1,"sound.loopend":-1},{"sample.start":22050,"sample.end":44100,"sample.lokey":60,)"
    R"("sample.hikey":127,"sound.rootnote":72,"sound.loopstart":30000,"sound.loopend":44000}]})";

// ------------------------------------------------------------- JSON text --

TEST(InstrumentJsonTest, WorkedExampleByteForByte) {
  InstrumentData d = TwoRegions();
  std::vector<RiffChunk> chunks;
  WriteInstrumentChunk(chunks, d, nullptr);
  EXPECT_EQ(d.regions[0].startSample, 0);  // sorted on the way out
  EXPECT_THAT(TngeTexts(chunks), ElementsAre(kWorkedExample));
}

TEST(InstrumentJsonTest, SingleRegionTravelsAsGlobalLoopWithSingleMode) {
  InstrumentData d;
  d.hasInstrument = true;
  d.regions = {{0, 1000, 100, 900}};
  EXPECT_THAT(BuildInstrumentJson(d), StartsWith(R"({"sound.loopstart":100,"sound.loopend":900,"sound.playmode":)"));
  EXPECT_THAT(BuildInstrumentJson(d), HasSubstr(R"("sample.mode":"single")"));
  EXPECT_THAT(BuildInstrumentJson(d), Not(HasSubstr("regions")));

  // Without a loop, or with half of one (a file can hold a region with one
  // loop point): a reader forms the global loop only from both points, so
  // one alone is not written and the text reads back as written.
  for (const Region& sole : {Region{0, 1000}, Region{0, 1000, kNoLoop, 900}, Region{0, 1000, 100, kNoLoop}}) {
    d.regions = {sole};
    EXPECT_EQ(BuildInstrumentJson(d),
              R"({"sound.playmode":"key","sound.rootnote":60,"sound.pitch":0,"sound.pan":0,"sound.amplitude":100,)"
              R"("envelope.attack":0,"envelope.release":0,"time.mode":"off","sample.mode":"single"})")
        << sole.loopStart << " " << sole.loopEnd;
  }
}

TEST(InstrumentJsonTest, TempoOnlyInLoopModeInShortestForm) {
  InstrumentData d = TwoRegions();
  d.params.playMode = "loop";
  d.params.bpm = 93.5f;
  EXPECT_THAT(BuildInstrumentJson(d), HasSubstr(R"("sound.amplitude":100,"sound.bpm":93.5,"envelope.attack":0)"));
  d.params.bpm = 120.0f;
  EXPECT_THAT(BuildInstrumentJson(d), HasSubstr(R"("sound.bpm":120.0,)"));
  d.params.bpm = 93.3f;  // no float noise such as 93.30000305175781
  EXPECT_THAT(BuildInstrumentJson(d), HasSubstr(R"("sound.bpm":93.3,)"));
  d.params.playMode = "key";
  EXPECT_THAT(BuildInstrumentJson(d), Not(HasSubstr("sound.bpm")));
}

TEST(InstrumentJsonTest, RegionsWithZeroEndAreLeftOut) {
  InstrumentData d = TwoRegions();
  d.regions[0].endSample = 0;
  EXPECT_THAT(BuildInstrumentJson(d), HasSubstr(R"("regions":[{"sample.start":0,"sample.end":22050,)"));
  d.regions[1].endSample = 0;
  EXPECT_THAT(BuildInstrumentJson(d), Not(HasSubstr("regions")));
}

TEST(InstrumentJsonTest, SelectionExportRebasesTheRegionsInside) {
  InstrumentData d = TwoRegions();
  SortRegions(d.regions);
  d.params.sampleMode = "multi";
  // Selection 20000..40000 cuts both regions; the second's loop start is
  // inside, its loop end past the selection.
  const std::string json = BuildSelectionInstrumentJson(d, 20000, 40000);
  EXPECT_THAT(json, StartsWith(R"({"sound.playmode":"key","sound.rootnote":60,"sound.pitch":0,"sound.pan":0,)"
                               R"("sound.amplitude":100,"sound.bpm":120.0,"envelope.attack":0,)"));
  EXPECT_THAT(json, HasSubstr(R"("sample.mode":"multi","regions":[{"sample.start":0,"sample.end":2050,)"));
  EXPECT_THAT(json, HasSubstr(R"({"sample.start":2050,"sample.end":20000,"sample.lokey":60,"sample.hikey":127,)"
                              R"("sound.rootnote":72,"sound.loopstart":10000,"sound.loopend":20000})"));

  // One kept region: loop keys after the settings, and still a regions
  // array. Loop points before the selection move to its start.
  const std::string one = BuildSelectionInstrumentJson(d, 31000, 32000);
  EXPECT_THAT(one, HasSubstr(R"("sample.mode":"multi","sound.loopstart":0,"sound.loopend":1000,"regions":[)"));
}

// --------------------------------------------------------------- reading --

TEST(ParseInstrumentChunkTest, ReadsTheWorkedExampleBack) {
  MemoryLog log;
  InstrumentData d;
  ParseInstrumentChunk(TngeChunks(kWorkedExample), 44100, d, &log);
  ASSERT_TRUE(d.hasInstrument);
  ASSERT_EQ(d.regions.size(), 2u);
  EXPECT_EQ(d.regions[1], (Region{22050, 44100, 30000, 44000, 60, 127, 72}));
  EXPECT_THAT(log.Lines(), ElementsAre("Successfully parsed 'TNGE' instrument data with 2 regions."));
}

TEST(ParseInstrumentChunkTest, WithoutListInfoThereIsNoInstrumentAndNoLog) {
  MemoryLog log;
  InstrumentData d;
  d.hasInstrument = true;
  ParseInstrumentChunk({MakeChunk("LIST", Text("adtl")), MakeChunk("LIS", Text("INFO"))}, 100, d, &log);
  EXPECT_EQ(d, InstrumentData{});
  EXPECT_TRUE(log.Lines().empty());
}

TEST(ParseInstrumentChunkTest, GlobalLoopWithoutRegionsBecomesOneRegion) {
  InstrumentData d;
  ParseInstrumentChunk(TngeChunks(R"({"sound.loopstart":1000,"sound.loopend":5000,"sound.rootnote":50})"), 10000, d,
                       nullptr);
  EXPECT_THAT(d.regions, ElementsAre(Region{0, 10000, 1000, 5000, 0, 127, 50}));
}

TEST(ParseInstrumentChunkTest, SyntaxErrorsAreLoggedAndTheFileOpensAsPlainAudio) {
  MemoryLog log;
  InstrumentData d;
  ParseInstrumentChunk(TngeChunks("{\"sound.rootnote\": 61,"), 100, d, &log);
  EXPECT_FALSE(d.hasInstrument);
  EXPECT_THAT(log.Lines(), ElementsAre(StartsWith("Error parsing TNGE chunk: ")));
}

TEST(ParseInstrumentChunkTest, SeveralTngeChunksOverwriteSettingsAndAppendRegions) {
  const auto chunks = std::vector<RiffChunk>{MakeChunk(
      "LIST", ListInfo({{"TNGE", TngeBody(R"({"sound.pan":5,"regions":[{"sample.end":10}]})")},
                        {"INAM", Text("abc")},
                        {"TNGE", TngeBody("not json")},
                        {"TNGE", Text(R"({"sound.pitch":2,"regions":[{"sample.end":20}]})")}}))};  // no 0 byte
  MemoryLog log;
  InstrumentData d;
  ParseInstrumentChunk(chunks, 100, d, &log);
  EXPECT_EQ(d.params.pan, 0);  // the later object overwrites with its defaults
  EXPECT_EQ(d.params.pitch, 2);
  ASSERT_EQ(d.regions.size(), 2u);
  EXPECT_EQ(d.regions[1].endSample, 20);
  EXPECT_EQ(log.Lines().size(), 3u);
}

TEST(ParseInstrumentChunkTest, WrongTypesAndRangesAreSkippedNeverThrown) {
  const struct {
    const char* json;
    const char* check;
  } cases[] = {
      {R"({"sound.rootnote":"C4"})", "root"},
      {R"({"sound.rootnote":1e20})", "root"},
      {R"({"sound.rootnote":4294967356})", "root"},
      {R"({"sound.loopstart":true,"sound.loopend":5})", "loop"},
      {R"({"sound.loopstart":1e300,"sound.loopend":5})", "loop"},
      {R"({"sound.loopstart":18446744073709551615,"sound.loopend":5})", "loop"},
      {R"({"sound.bpm":1e300})", "bpm"},
      {R"({"sound.bpm":"fast"})", "bpm"},
      {R"({"sound.playmode":3})", "mode"},
      {R"({"sound.bars":99999999999})", "bars"},
      {R"({"regions":[5,{"sample.end":"x"}]})", "regions"},
      {R"([1,2])", "top"},
      {R"("text")", "top"},
  };
  for (const auto& c : cases) {
    MemoryLog log;
    InstrumentData d;
    ASSERT_NO_THROW(ParseInstrumentChunk(TngeChunks(c.json), 100, d, &log)) << c.json;
    EXPECT_FALSE(log.Lines().empty()) << c.json;
    EXPECT_EQ(d.params.rootNote, 60) << c.json;
    EXPECT_EQ(d.params.bpm, 120.0f) << c.json;
    EXPECT_EQ(d.params.playMode, "key") << c.json;
    EXPECT_EQ(d.params.bars, 1) << c.json;
    if (std::string(c.check) == "loop") {
      EXPECT_EQ(d.params.loopStart, -1);
    }
    if (std::string(c.check) == "regions") {
      ASSERT_EQ(d.regions.size(), 1u);  // the non-object is skipped, the bad key defaulted
      EXPECT_EQ(d.regions[0].endSample, 0);
    }
    if (std::string(c.check) == "top") {
      EXPECT_FALSE(d.hasInstrument);
    }
  }
}

TEST(ParseInstrumentChunkTest, AMillionBadRegionsAreSummedUpNotLoggedOneByOne) {
  // 2 MB of instrument data: 10^6 regions that are not objects.
  std::string json = R"({"regions":[)";
  for (int i = 0; i < 1000000; ++i) json += i ? ",1" : "1";
  json += "]}";
  MemoryLog log;
  InstrumentData d;
  const auto chunks = TngeChunks(json);
  ParseInstrumentChunk(chunks, 100, d, &log);
  EXPECT_TRUE(d.regions.empty());
  ASSERT_EQ(log.Lines().size(), 12u);
  EXPECT_EQ(log.Lines()[0], "Warning: TNGE region 1 is not an object; skipped.");
  EXPECT_EQ(log.Lines()[9], "Warning: TNGE region 10 is not an object; skipped.");
  EXPECT_EQ(log.Lines()[10], "... and 999990 more like it");
  EXPECT_EQ(log.Lines()[11], "Successfully parsed 'TNGE' instrument data with 0 regions.");
}

TEST(ParseInstrumentChunkTest, ReadingStopsAfterAThousandRegions) {
  std::string json = R"({"regions":[)";
  for (int i = 0; i < 1500; ++i) {
    json += (i ? "," : "") + std::string(R"({"sample.start":)") + std::to_string(i * 10) + R"(,"sample.end":)" +
            std::to_string(i * 10 + 10) + R"(,"sample.lokey":"x"})";
  }
  json += "]}";
  MemoryLog log;
  InstrumentData d;
  ParseInstrumentChunk(TngeChunks(json), 15000, d, &log);
  ASSERT_EQ(d.regions.size(), kMaxRegionsRead);
  EXPECT_EQ(d.regions.back().endSample, 10000);
  // Ten lines of the bad key, the stop, and the sum of the other 990 bad keys.
  EXPECT_THAT(log.Lines(), Contains("Warning: TNGE holds more than 1000 regions; only the first 1000 are read."));
  EXPECT_THAT(log.Lines(), Contains("... and 990 more like it"));
  EXPECT_EQ(log.Lines().size(), 13u);
}

TEST(ParseInstrumentChunkTest, AcceptsFractionsAndBooleansWhereAllowed) {
  InstrumentData d;
  ParseInstrumentChunk(
      TngeChunks(R"({"sound.rootnote":61.9,"sound.pan":-3.7,"sound.pitch":true,"sound.bpm":false,"sound.loopstart":7.9,"sound.loopend":9})"),
      100, d, nullptr);
  EXPECT_EQ(d.params.rootNote, 61);
  EXPECT_EQ(d.params.pan, -3);
  EXPECT_EQ(d.params.pitch, 1);
  EXPECT_EQ(d.params.bpm, 0.0f);
  EXPECT_EQ(d.params.loopStart, 7);
}

TEST(ParseInstrumentChunkTest, SubChunksThatOverrunTheListEndTheWalk) {
  Bytes list = ListInfo({{"TNGE", TngeBody(R"({"sound.pan":1})")}});
  const Bytes overrun = Cat({Text("TNGE"), LE32(1000), Text("{}")});
  list.insert(list.end(), overrun.begin(), overrun.end());
  InstrumentData d;
  ParseInstrumentChunk({MakeChunk("LIST", list)}, 100, d, nullptr);
  EXPECT_EQ(d.params.pan, 1);
}

TEST(SmplAndAcidReadTest, UnityNoteIsClampedAndBecomesTheRootWithoutInstrumentData) {
  const struct {
    uint32_t unity;
    int expected;
  } cases[] = {{200, 127}, {0xFFFFFFFB, 0}, {64, 64}};
  for (const auto& c : cases) {
    MemoryLog log;
    InstrumentData d;
    ReadSmplChunk({MakeChunk("smpl", SmplBody(c.unity))}, d, &log);
    EXPECT_EQ(d.params.smplUnityNote, c.expected);
    EXPECT_EQ(d.params.rootNote, c.expected);
  }
  MemoryLog log;
  InstrumentData d;
  d.hasInstrument = true;
  d.params.rootNote = 50;
  ReadSmplChunk({MakeChunk("smpl", SmplBody(64))}, d, &log);
  EXPECT_EQ(d.params.rootNote, 50);
  EXPECT_THAT(log.Lines(), ElementsAre("'smpl' chunk: dwMIDIUnityNote = 64 (E4)"));

  log.Clear();
  ReadSmplChunk({}, d, &log);
  ReadSmplChunk({MakeChunk("smpl", Bytes(15, 0))}, d, &log);
  EXPECT_EQ(d.params.smplUnityNote, -1);
  EXPECT_THAT(log.Lines(), ElementsAre("No 'smpl' chunk found in this WAV file.", "'smpl' chunk skipped"));
}

TEST(SmplAndAcidReadTest, AcidTempoOnlyReplacesTheDefaultTempo) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float tngeBpm;
    float acidBpm;
    int32_t acidBeats;
    float bpm;
    int32_t beats;
  } cases[] = {
      {120, 95, 8, 95, 8},   {100, 95, 8, 100, 8},  {120, 20000, 8, 120, 8},
      {120, 0.5f, 0, 120, 4}, {120, nan, -2, 120, 4}, {120, 120, 4, 120, 4},
  };
  for (const auto& c : cases) {
    MemoryLog log;
    InstrumentData d;
    d.params.bpm = c.tngeBpm;
    ReadAcidChunk({MakeChunk("acid", AcidBody(60, static_cast<uint32_t>(c.acidBeats), c.acidBpm))}, d, &log);
    EXPECT_EQ(d.params.bpm, c.bpm) << c.acidBpm;
    EXPECT_EQ(d.params.beats, c.beats);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_THAT(log.Lines()[0], StartsWith("BPM = "));
  }
  MemoryLog log;
  InstrumentData d;
  d.params.beats = 9;
  ReadAcidChunk({MakeChunk("acid", Bytes(23, 0))}, d, &log);
  EXPECT_EQ(d.params.beats, 4);
  EXPECT_THAT(log.Lines(), ElementsAre("'acid' chunk too small, skipped"));
}

// --------------------------------------------------------------- writing --

TEST(WriteInstrumentChunkTest, CreatesListInfoAtTheEndWhenMissing) {
  MemoryLog log;
  InstrumentData d = TwoRegions();
  std::vector<RiffChunk> chunks = {MakeChunk("smpl", SmplBody(60))};
  WriteInstrumentChunk(chunks, d, &log);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_TRUE(chunks[1].Is("LIST"));
  EXPECT_EQ(chunks[1].size, chunks[1].data.size());
  EXPECT_THAT(log.Lines(), ElementsAre("No LIST INFO chunk found. Creating new one.", "Adding TNGE chunk."));

  // Without instrument data nothing is written.
  std::vector<RiffChunk> none;
  InstrumentData plain;
  WriteInstrumentChunk(none, plain, &log);
  UpdateSmplChunk(none, plain, 44100, &log);
  UpdateAcidChunk(none, plain, &log);
  EXPECT_TRUE(none.empty());
}

TEST(WriteInstrumentChunkTest, KeepsOtherSubChunksAndReplacesTngeInPlace) {
  MemoryLog log;
  InstrumentData d = TwoRegions();
  std::vector<RiffChunk> chunks = {
      MakeChunk("LIST", ListInfo({{"INAM", Text("abc")}, {"TNGE", TngeBody("{}")}, {"ICMT", Text("zz")}}))};
  WriteInstrumentChunk(chunks, d, &log);
  EXPECT_TRUE(log.Lines().empty());
  const Bytes expected = ListInfo({{"INAM", Text("abc")}, {"TNGE", TngeBody(kWorkedExample)}, {"ICMT", Text("zz")}});
  EXPECT_EQ(chunks[0].data, expected);
}

TEST(WriteInstrumentChunkTest, OddTextIsPaddedAndCounted) {
  InstrumentData d = TwoRegions();
  d.regions.pop_back();  // single region: shorter text
  const std::string json = BuildInstrumentJson(d);
  std::vector<RiffChunk> chunks = {MakeChunk("LIST", Text("INFO"))};
  WriteInstrumentChunk(chunks, d, nullptr);
  const uint32_t size = ReadLE32(chunks[0].data.data() + 8);
  EXPECT_EQ(size, json.size() + 1);
  EXPECT_EQ(chunks[0].data.size(), 12 + size + (size & 1));
  EXPECT_EQ(chunks[0].size, chunks[0].data.size());
  // Whichever parity this text has, the other one is one character away.
  d.params.playMode = "keys";
  WriteInstrumentChunk(chunks, d, nullptr);
  const uint32_t size2 = ReadLE32(chunks[0].data.data() + 8);
  EXPECT_EQ(chunks[0].data.size(), 12 + size2 + (size2 & 1));
  EXPECT_NE(size & 1, size2 & 1);
}

TEST(WriteInstrumentChunkTest, OverrunningSubChunksAreDroppedAndDuplicateTngeCollapsed) {
  Bytes list = ListInfo({{"INAM", Text("ab")}, {"TNGE", TngeBody("{}")}, {"TNGE", TngeBody("{}")}});
  const Bytes overrun = Cat({Text("ICMT"), LE32(99), Text("xy")});
  list.insert(list.end(), overrun.begin(), overrun.end());
  std::vector<RiffChunk> chunks = {MakeChunk("LIST", list)};
  InstrumentData d = TwoRegions();
  WriteInstrumentChunk(chunks, d, nullptr);
  EXPECT_EQ(chunks[0].data, ListInfo({{"INAM", Text("ab")}, {"TNGE", TngeBody(kWorkedExample)}}));

  // Reading the result back gives the regions once, not twice.
  InstrumentData back;
  ParseInstrumentChunk(chunks, 44100, back, nullptr);
  EXPECT_EQ(back.regions.size(), 2u);
}

TEST(WriteInstrumentChunkTest, SelectionExportWritesWithoutLogging) {
  InstrumentData d = TwoRegions();
  std::vector<RiffChunk> chunks;
  WriteInstrumentChunkFor(d, 0, 44100, chunks);
  ASSERT_EQ(TngeTexts(chunks).size(), 1u);
  EXPECT_THAT(TngeTexts(chunks)[0], HasSubstr("\"sound.bpm\":120.0"));
}

TEST(UpdateSmplChunkTest, CreatesWithSamplePeriodOrUpdatesTheUnityNote) {
  const struct {
    uint32_t rate;
    uint32_t period;
  } cases[] = {{44100, 22675}, {48000, 20833}, {0, 0}};
  for (const auto& c : cases) {
    MemoryLog log;
    InstrumentData d;
    d.hasInstrument = true;
    d.params.rootNote = 62;
    std::vector<RiffChunk> chunks;
    UpdateSmplChunk(chunks, d, c.rate, &log);
    ASSERT_EQ(chunks.size(), 1u);
    Bytes expected(36, 0);
    WriteLE32(expected.data() + 8, c.period);
    WriteLE32(expected.data() + 12, 62);
    EXPECT_EQ(chunks[0].data, expected);
    EXPECT_EQ(chunks[0].size, 36u);
    EXPECT_THAT(log.Lines(), ElementsAre("No smpl chunk found. Creating new one.",
                                         "Created new smpl chunk with dwMIDIUnityNote = 62 (D4)"));
  }

  MemoryLog log;
  InstrumentData d;
  d.hasInstrument = true;
  d.params.rootNote = 48;
  Bytes withLoops = Cat({SmplBody(60, 1234), Bytes(24, 9)});
  std::vector<RiffChunk> chunks = {MakeChunk("smpl", withLoops), MakeChunk("smpl", SmplBody(1))};
  UpdateSmplChunk(chunks, d, 44100, &log);
  WriteLE32(withLoops.data() + 12, 48);
  EXPECT_EQ(chunks[0].data, withLoops);  // only the unity note changes
  EXPECT_EQ(ReadLE32(chunks[1].data.data() + 12), 1u);
  EXPECT_THAT(log.Lines(), ElementsAre("Updated smpl chunk: dwMIDIUnityNote = 48 (C3)"));

  log.Clear();
  chunks = {MakeChunk("smpl", Bytes(12, 0))};
  UpdateSmplChunk(chunks, d, 44100, &log);
  EXPECT_EQ(chunks[0].data, Bytes(12, 0));
  EXPECT_THAT(log.Lines(), ElementsAre("Cannot update smpl chunk: size too small"));
}

TEST(UpdateAcidChunkTest, CreatesForLoopsOrOtherTemposAndUpdatesExisting) {
  MemoryLog log;
  InstrumentData d;
  d.hasInstrument = true;
  std::vector<RiffChunk> chunks;
  UpdateAcidChunk(chunks, d, &log);  // key mode at 120: nothing
  EXPECT_TRUE(chunks.empty());

  d.params.playMode = "loop";
  d.params.bpm = 93.5f;
  d.params.beats = 8;
  d.params.rootNote = 57;
  UpdateAcidChunk(chunks, d, &log);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].data, AcidBody(57, 8, 93.5f));
  EXPECT_THAT(log.Lines(), ElementsAre("No acid chunk found. Creating new one for loop mode.",
                                       "Created new acid chunk: BPM = 93.50, Beats = 8, RootNote = 57"));

  log.Clear();
  d.params.playMode = "key";
  d.params.bpm = 100.0f;
  Bytes existing = AcidBody(1, 2, 3.0f);
  WriteLE32(existing.data(), 0x13);  // flags and meter are kept
  chunks = {MakeChunk("acid", existing)};
  UpdateAcidChunk(chunks, d, &log);
  Bytes expected = AcidBody(57, 8, 100.0f);
  WriteLE32(expected.data(), 0x13);
  EXPECT_EQ(chunks[0].data, expected);
  EXPECT_THAT(log.Lines(), ElementsAre("Updated acid chunk: BPM = 100.00, Beats = 8, RootNote = 57"));

  log.Clear();
  chunks = {MakeChunk("acid", Bytes(20, 0))};
  UpdateAcidChunk(chunks, d, &log);
  EXPECT_THAT(log.Lines(), ElementsAre("Cannot update acid chunk: size too small"));

  log.Clear();
  chunks.clear();
  d.params.playMode = "key";
  d.params.bpm = 120.0f;
  UpdateAcidChunk(chunks, d, &log);
  EXPECT_TRUE(chunks.empty());
}

// ------------------------------------------------------------ round trip --

TEST(InstrumentRoundTripTest, TngeWinsOverSmplForTheRootAndAcidForTheTempo) {
  InstrumentData saved;
  saved.hasInstrument = true;
  saved.params.playMode = "loop";
  saved.params.rootNote = 45;
  saved.params.bpm = 87.25f;
  saved.params.beats = 16;
  saved.regions = {{0, 1000, 10, 900, 0, 60, 45}, {1000, 2000, -1, -1, 61, 127, 70}};
  std::vector<RiffChunk> chunks = {MakeChunk("smpl", SmplBody(99)), MakeChunk("acid", AcidBody(99, 1, 140.0f))};
  WriteInstrumentChunk(chunks, saved, nullptr);
  UpdateSmplChunk(chunks, saved, 44100, nullptr);
  UpdateAcidChunk(chunks, saved, nullptr);

  InstrumentData back;
  ParseInstrumentChunk(chunks, 2000, back, nullptr);
  ReadSmplChunk(chunks, back, nullptr);
  ReadAcidChunk(chunks, back, nullptr);
  EXPECT_EQ(back.regions, saved.regions);
  EXPECT_EQ(back.params.rootNote, 45);
  EXPECT_EQ(back.params.smplUnityNote, 45);
  EXPECT_EQ(back.params.bpm, 87.25f);
  EXPECT_EQ(back.params.beats, 16);
  EXPECT_EQ(back.params.playMode, "loop");
}

}  // namespace
}  // namespace zandrel

#include "tools/pattern_readers.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "support/wav_builder.h"
#include "tools/midi_builder.h"

namespace zandrel {
namespace {

using test::EndOfTrack;
using test::Join;
using test::MidiBytes;
using test::MidiHeader;
using test::NoteOff;
using test::NoteOn;
using test::Track;

// --------------------------------------------------------------- MPC --

TEST(MpcPattern, ReadsNoteObjectsOfTheEventsArray) {
  const std::string text = R"({"pattern":{"length":3840,"events":[
    {"type": 2, "time": 0, "len": 240, "1": 36, "2": 1.0},
    {"type": 2, "time": 960, "1": 38, "2": 0.5}
  ]}, "later": {"type": 2, "time": 5, "1": 40}})";
  const auto events = ReadMpcPatternText(text);
  ASSERT_EQ(events.size(), 2u);  // the ']' of the array stops before the later object
  EXPECT_EQ(events[0], (PatternEvent{2, 0, 240, 36, 1.0, 0, 0, 0.0}));
  EXPECT_EQ(events[1], (PatternEvent{2, 960, 0, 38, 0.5, 0, 0, 0.0}));
}

TEST(MpcPattern, FieldTable) {
  struct Case {
    const char* object;
    const char* key;
    double value;
  };
  const Case cases[] = {
      {R"({"time": "480"})", "\"time\"", 480},  // quoted numbers read as numbers
      {R"({"time": true})", "\"time\"", 0},
      {R"({"time": null})", "\"time\"", 0},
      {R"({"len": 12})", "\"time\"", 0},  // missing
      {R"({"time":-7.5,"x":1})", "\"time\"", -7.5},
      {R"({"time": nan})", "\"time\"", 0},  // not finite
      {R"({"time": inf})", "\"time\"", 0},
      {R"({"time": 1e999})", "\"time\"", 0},  // out of range
      {R"({"time": 2.5x})", "\"time\"", 2.5},  // leading part
      {R"({"time")", "\"time\"", 0},            // no colon
  };
  for (const Case& c : cases) EXPECT_EQ(ReadJsonNumberField(c.object, c.key), c.value) << c.object;
}

TEST(MpcPattern, OversizedNumbersClampIntoTheirFields) {
  const auto events = ReadMpcPatternText(
      R"({"events":[{"type":1e300,"time":1e300,"len":-1e300,"1":-5e20,"3":4e9,"mod":-4e9}]})");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, INT32_MAX);
  EXPECT_GT(events[0].time, int64_t{9'000'000'000'000'000'000});
  EXPECT_LT(events[0].len, int64_t{-9'000'000'000'000'000'000});
  EXPECT_EQ(events[0].note, INT32_MIN);
  EXPECT_EQ(events[0].key3, INT32_MAX);
  EXPECT_EQ(events[0].mod, INT32_MIN);
}

TEST(MpcPattern, FailuresGiveNothing) {
  for (const char* text : {"", "{\"ev\"}", R"({"notevents":[{"1":2}]})", R"({"events": 3})"})
    EXPECT_TRUE(ReadMpcPatternText(text).empty()) << text;
  // An object without its '}' is read to the end of the text.
  const auto events = ReadMpcPatternText(R"({"events":[{"type":2,"1":42)");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].note, 42);
}

TEST(MpcPattern, KeepsAtMostTheEventCap) {
  std::string text = "{\"events\":[";
  for (size_t i = 0; i < kMaxPatternEvents + 10; ++i) text += "{\"type\":2},";
  text += "]}";
  EXPECT_EQ(ReadMpcPatternText(text).size(), kMaxPatternEvents);
}

TEST(MpcPattern, ReadsFilesUpToTheSizeLimit) {
  test::TempDir dir;
  const std::string good = R"({"events":[{"type":2,"time":3840,"1":36,"2":0.75}]})";
  test::WriteFileBytes(dir / "a.mpcpattern", test::Text(good));
  ASSERT_EQ(ReadMpcPattern(dir / "a.mpcpattern").size(), 1u);
  EXPECT_TRUE(ReadMpcPattern(dir / "missing.mpcpattern").empty());
  std::string big = good + std::string(kMaxPatternFileBytes, ' ');
  test::WriteFileBytes(dir / "big.mpcpattern", test::Text(big));
  EXPECT_TRUE(ReadMpcPattern(dir / "big.mpcpattern").empty());
}

// -------------------------------------------------------------- MIDI --

TEST(MidiFile, ScalesTicksToNineHundredSixtyPerQuarter) {
  struct Case {
    uint16_t division;
    uint32_t on, off;
    int64_t time, len;
  };
  const Case cases[] = {
      {480, 480, 480, 960, 960},    // a note from tick 480 to 960
      {96, 0, 0, 0, 1},             // on and off on one tick: length 1
      {1920, 1920, 1920, 960, 960}, // divisions above 960 do not collapse to zero
      {7, 7, 14, 960, 1920},
  };
  for (const Case& c : cases) {
    const auto events =
        ReadMidiBytes(Join({MidiHeader(0, 1, c.division), Track(Join({NoteOn(c.on, 36, 100), NoteOff(c.off, 36),
                                                                       EndOfTrack()}))}));
    ASSERT_EQ(events.size(), 1u) << c.division;
    EXPECT_EQ(events[0].time, c.time) << c.division;
    EXPECT_EQ(events[0].len, c.len) << c.division;
    EXPECT_EQ(events[0].type, 2);
    EXPECT_DOUBLE_EQ(events[0].velocity, 100 / 127.0);
    EXPECT_EQ(events[0].modVal, 0.5);
  }
}

TEST(MidiFile, RunningStatusAndRetriggers) {
  // 00 90 24 64 00 24 00: a note-on and a running-status note-on of velocity 0.
  auto events = ReadMidiBytes(Join({MidiHeader(0, 1, 960), Track({0x00, 0x90, 0x24, 0x64, 0x00, 0x24, 0x00})}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].note, 36);
  EXPECT_EQ(events[0].len, 1);
  EXPECT_DOUBLE_EQ(events[0].velocity, 100 / 127.0);

  // A second note-on of a held note ends the first.
  events = ReadMidiBytes(Join({MidiHeader(0, 1, 960),
                               Track(Join({NoteOn(0, 36, 127), NoteOn(240, 36, 50), NoteOff(240, 36), EndOfTrack()}))}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].time, 0);
  EXPECT_EQ(events[0].len, 240);
  EXPECT_DOUBLE_EQ(events[0].velocity, 1.0);
  EXPECT_EQ(events[1].time, 240);
  EXPECT_EQ(events[1].len, 240);
}

TEST(MidiFile, MergesTracksByTimeAndReadsFormatsAlike) {
  const MidiBytes tempoTrack = Track(Join({test::Tempo(0, 500000), EndOfTrack()}));
  const MidiBytes drums = Join({NoteOn(0, 36, 100), NoteOff(480, 36), NoteOn(480, 38, 90), NoteOff(480, 38),
                                EndOfTrack()});
  const auto format0 = ReadMidiBytes(Join({MidiHeader(0, 1, 960), Track(drums)}));
  const auto format1 = ReadMidiBytes(Join({MidiHeader(1, 2, 960), tempoTrack, Track(drums)}));
  EXPECT_EQ(format0, format1);
  ASSERT_EQ(format0.size(), 2u);

  const auto merged = ReadMidiBytes(Join({MidiHeader(1, 2, 960),
                                          Track(Join({NoteOn(1000, 42, 80), NoteOff(10, 42), EndOfTrack()})),
                                          Track(Join({NoteOn(0, 36, 80), NoteOff(10, 36), NoteOn(2000, 38, 80),
                                                      NoteOff(10, 38), EndOfTrack()}))}));
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0].note, 36);
  EXPECT_EQ(merged[1].note, 42);
  EXPECT_EQ(merged[2].note, 38);
}

TEST(MidiFile, DamagedFilesKeepWhatWasRead) {
  const MidiBytes head = MidiHeader(0, 1, 960);
  const MidiBytes one = Join({NoteOn(0, 36, 100), NoteOff(10, 36)});
  struct Case {
    const char* what;
    MidiBytes file;
    size_t events;
  };
  const Case cases[] = {
      {"division 0", Join({MidiHeader(0, 1, 0), Track(one)}), 0},
      {"SMPTE division", Join({MidiHeader(0, 1, 0xE728), Track(one)}), 0},
      {"no tracks", Join({MidiHeader(0, 0, 960), Track(one)}), 0},
      {"not MThd", Join({{'R', 'I', 'F', 'F'}, MidiBytes(10, 0)}), 0},
      {"short", MidiBytes(head.begin(), head.begin() + 13), 0},
      {"event cut off", Join({head, Track(Join({one, NoteOn(0, 38, 100)})), }), 1},
      {"delta over four bytes", Join({head, Track(Join({one, {0x80, 0x80, 0x80, 0x80, 0x00}, NoteOn(0, 38, 1),
                                                          NoteOff(1, 38)}))}), 1},
      {"meta length past the end", Join({head, Track(Join({one, {0x00, 0xFF, 0x01, 0x7F, 'a'}}))}), 1},
      {"sysex length past the end", Join({head, Track(Join({one, {0x00, 0xF0, 0x7F, 1, 2}}))}), 1},
      {"data byte over 0x7F in a note", Join({head, Track(Join({{0x00, 0x90, 0x24, 0x90}, one}))}), 1},
      {"note without its off", Join({head, Track(Join({one, NoteOn(0, 40, 100), EndOfTrack()}))}), 1},
      {"off without its on", Join({head, Track(Join({NoteOff(0, 40), one, EndOfTrack()}))}), 1},
      {"second track missing", Join({MidiHeader(1, 2, 960), Track(Join({one, EndOfTrack()})), {'X', 'T'}}), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadMidiBytes(c.file).size(), c.events) << c.what;
}

TEST(MidiFile, KeepsAtMostTheEventCap) {
  MidiBytes body;
  for (size_t i = 0; i < kMaxPatternEvents + 5; ++i) {
    const MidiBytes on = NoteOn(1, 36, 100), off = NoteOff(1, 36);
    body.insert(body.end(), on.begin(), on.end());
    body.insert(body.end(), off.begin(), off.end());
  }
  EXPECT_EQ(ReadMidiBytes(Join({MidiHeader(0, 1, 960), Track(body)})).size(), kMaxPatternEvents);
}

TEST(MidiFile, FileSizeLimit) {
  test::TempDir dir;
  const MidiBytes file = Join({MidiHeader(0, 1, 960), Track(Join({NoteOn(0, 36, 100), NoteOff(10, 36)}))});
  test::WriteFileBytes(dir / "a.mid", file);
  EXPECT_EQ(ReadMidiFile(dir / "a.mid").size(), 1u);
  MidiBytes big = file;
  big.resize(kMaxPatternFileBytes + 1, 0);
  test::WriteFileBytes(dir / "big.mid", big);
  EXPECT_TRUE(ReadMidiFile(dir / "big.mid").empty());
  EXPECT_TRUE(ReadFileBytes(dir / "nothing.mid").empty());
}

// --------------------------------------------------------- note names --

TEST(PatternNoteName, Table) {
  const std::pair<const char*, int> cases[] = {
      {"C4", 60},  {"c#2", 37}, {"Eb4", 63}, {"C-1", 0},  {"G9", 127}, {"G#9", -1}, {"H3", -1},
      {"C", -1},   {"Bb3", 58}, {"B3", 59},  {"B#3", 60}, {"CB4", 59}, {" d2 ", 38}, {"", -1},
      {"C4x", 60}, {"Cb", -1},  {"C99999999999999999999", -1}, {"C-99999999999", -1}, {"B", -1},
      // Unlike the editor's note fields: the octave follows the name directly,
      // and after a flat it carries no '+'.
      {"C 4", -1}, {"Bb 3", -1}, {"Bb+3", -1}, {"C#+4", 61},
  };
  for (const auto& [text, note] : cases) EXPECT_EQ(ParsePatternNoteName(text), note) << text;
}

}  // namespace
}  // namespace zandrel

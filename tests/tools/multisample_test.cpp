// The multisample robot without a window: the note range, the texts of its
// checks and device errors, the sample routines, whole runs against a
// simulated instrument (memory MIDI and memory audio input, no real time),
// stopping and aborting, and the result's intake into the document.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "document/document_fixture.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "tools/multisample_fixture.h"
#include "tools/sampling/multisample_audio.h"
#include "tools/sampling/multisample_intake.h"
#include "tools/sampling/multisample_notes.h"
#include "tools/sampling/multisample_run.h"

namespace zandrel {
namespace {

using test::NoteHz;
using test::PlayingWaiter;
using test::SimulatedInstrument;

// ---------------------------------------------------------- note range --

TEST(MultisampleNotes, ReadsNumbersAndNames) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"60", 60},  {"0", 0},    {"127", 127}, {"200", -1}, {"F#5", 78}, {"f#5", 78}, {"A3", 57},
      {"Bb3", 58}, {"C-1", 0},  {"C4", 60},   {"G9", 127}, {"G#9", -1}, {"H4", -1},  {"C", -1},
      {"C#", -1},  {"", -1},    {"x", -1},    {"B3", 59},  {"Cb4", 59}, {"C10", -1}};
  for (const auto& [text, note] : cases) EXPECT_EQ(ParseNoteOrNumber(text), note) << text;
}

TEST(MultisampleNotes, WritesNamesWithSharps) {
  EXPECT_EQ(FormatNoteName(78), "F#5");
  EXPECT_EQ(FormatNoteName(0), "C-1");
  EXPECT_EQ(FormatNoteName(127), "G9");
  EXPECT_EQ(FormatNoteName(58), "A#3");
  EXPECT_EQ(FormatNoteName(-1), "???");
  EXPECT_EQ(FormatNoteName(128), "???");
  for (int note = 0; note < 128; ++note) EXPECT_EQ(ParseNoteOrNumber(FormatNoteName(note)), note);
}

TEST(MultisampleNotes, LinkedEditsArithmetic) {
  EXPECT_EQ(FormatNoteName(MultisampleEndNote(57, 3, 8)), "F#5");
  EXPECT_EQ(FormatNoteName(MultisampleEndNote(57, 3, 1)), "A3");
  EXPECT_EQ(FormatNoteName(MultisampleEndNote(120, 12, 3)), "G9");  // clamped to 127
  EXPECT_EQ(MultisampleNotes(57, 84, 3).size(), 10u);                // To C6 gives 10 notes
  EXPECT_EQ(MultisampleNotes(57, 78, 3), (std::vector<int>{57, 60, 63, 66, 69, 72, 75, 78}));
  EXPECT_TRUE(MultisampleNotes(-1, 78, 3).empty());
  EXPECT_TRUE(MultisampleNotes(57, 78, 0).empty());
  EXPECT_EQ(MultisamplePianoRoot(57, 78, 66), 66);
  EXPECT_EQ(MultisamplePianoRoot(57, 78, 60), 60);
  EXPECT_EQ(MultisamplePianoRoot(62, 78, 60), 62);
  EXPECT_EQ(MultisamplePianoRoot(57, 58, 60), 58);
}

// -------------------------------------------------------------- texts --

TEST(MultisampleTexts, MidiErrors) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "No error"},
      {2, "Device ID is out of range"},
      {4, "Device is already allocated"},
      {5, "Invalid device handle"},
      {6, "No device driver is present"},
      {7, "Unable to allocate or lock memory"},
      {64, "MIDI header was not prepared"},
      {65, "MIDI device is still playing"},
      {67, "MIDI device is not ready"},
      {3, "Unknown MIDI error (code 3)"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(MidiErrorText(code, "USB MIDI"), text) << code;
  for (const char* name : {"EP-133 K.O. II MIDI 1", "EP-1320 Medieval", "EP-40 Riddim"})
    EXPECT_EQ(MidiErrorText(7, name), std::string("Unable to open the ") + name +
                                          ".\n\nThis device may be locked by the EP Sample Tool web application.\n\n"
                                          "Please close any browser tabs/windows that have the EP Sample Tool open "
                                          "and try again.");
  EXPECT_EQ(MidiErrorText(4, "EP-133"), "Device is already allocated");
}

TEST(MultisampleTexts, AudioErrors) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "No error"},
      {2, "Audio device ID is out of range"},
      {4, "Audio device is already allocated"},
      {5, "Invalid audio device handle"},
      {6, "No audio device driver is present"},
      {7, "Unable to allocate or lock memory"},
      {32, "Audio format is not supported"},
      {33, "Audio device is still playing"},
      {34, "Audio buffer was not prepared"},
      {35, "Device is synchronous"},
      {36, "Unknown audio error (code 36)"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(AudioErrorText(code), text) << code;
}

TEST(MultisampleTexts, StartChecksInOrder) {
  const std::string notes =
      "Invalid start or end note. Please enter valid note names (e.g., C3) or MIDI numbers (0-127).";
  const std::string timing = "Invalid timing parameters.";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    int from, to, interval, velocity;
    double hold, wait;
    std::string message;
  };
  const std::vector<Case> cases = {
      {57, 78, 3, 100, 2.0, 0.5, ""},
      {-1, 78, 0, 0, 0, -1, notes},
      {57, -1, 3, 100, 2.0, 0.5, notes},
      {78, 57, 0, 0, 0, -1, "Start note must be less than or equal to end note."},
      {57, 78, 0, 0, 0, -1, "Sample interval must be at least 1."},
      {57, 78, 3, 0, 0, -1, "Key velocity must be between 1 and 127."},
      {57, 78, 3, 128, 2.0, 0.5, "Key velocity must be between 1 and 127."},
      {57, 78, 3, 127, 0.0, 0.5, timing},
      {57, 78, 3, 1, 60.0, 60.0, ""},
      {57, 78, 3, 1, 60.001, 0.5, timing},
      {57, 78, 3, 1, 2.0, 0.0, ""},
      {57, 78, 3, 1, 2.0, -0.01, timing},
      {57, 78, 3, 1, 2.0, 60.5, timing},
      {57, 78, 3, 1, nan, 0.5, timing},
      {57, 78, 3, 1, 1e300, 0.5, timing},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MultisampleStartProblem(c.from, c.to, c.interval, c.velocity, c.hold, c.wait), c.message)
        << c.from << " " << c.to << " " << c.interval << " " << c.velocity << " " << c.hold << " " << c.wait;

  EXPECT_EQ(MidiTestProblem(-1, 0, 0),
            "Invalid start note. Please enter a valid note name (e.g., C3) or MIDI number (0-127).");
  EXPECT_EQ(MidiTestProblem(57, 0, 0), "Key velocity must be between 1 and 127.");
  EXPECT_EQ(MidiTestProblem(57, 100, 0), "Hold time must be greater than 0.");
  EXPECT_EQ(MidiTestProblem(57, 100, 61), "Hold time must be at most 60 seconds.");
  EXPECT_EQ(MidiTestProblem(57, 100, 60), "");
}

// ----------------------------------------------------- sample routines --

std::vector<int16_t> Tone(size_t silentBefore, size_t loud, size_t silentAfter, int16_t peak = 8000) {
  std::vector<int16_t> s(silentBefore + loud + silentAfter, 0);
  for (size_t i = 0; i < loud; ++i)
    s[silentBefore + i] = static_cast<int16_t>(std::lround(peak * std::sin(2 * std::numbers::pi * 440.0 * i / 44100.0)));
  // A loud first and last sample so the edges are exact.
  s[silentBefore] = peak;
  s[silentBefore + loud - 1] = peak;
  return s;
}

TEST(MultisampleAudio, LeadingTrimKeepsTenMilliseconds) {
  // A note that starts 300 ms after recording began, with noise below the
  // threshold before it.
  std::vector<int16_t> s = Tone(13230, 4410, 0);
  for (size_t i = 0; i < 13230; i += 7) s[i] = (i % 2) ? 100 : -100;
  TrimLeadingSilence(s, 44100);
  ASSERT_EQ(s.size(), 441u + 4410u);
  EXPECT_EQ(s[441], 8000);
  for (size_t i = 0; i < 441; ++i) ASSERT_LE(std::abs(s[i]), 100);

  std::vector<int16_t> early = Tone(300, 100, 0);  // less than 10 ms before the sound: unchanged
  TrimLeadingSilence(early, 44100);
  EXPECT_EQ(early.size(), 400u);
  std::vector<int16_t> silent(1000, 50);
  TrimLeadingSilence(silent, 44100);
  EXPECT_EQ(silent.size(), 1000u);
}

TEST(MultisampleAudio, TrailingTrimFadesOverFiftyMilliseconds) {
  std::vector<int16_t> s = Tone(0, 4410, 44100);
  for (size_t i = 4410; i < s.size(); ++i) s[i] = 8000;  // the tail is loud up to a point
  std::fill(s.begin() + 10000, s.end(), 0);
  TrimTrailingSilence(s, 44100);
  ASSERT_EQ(s.size(), 9999u + 2205u);
  EXPECT_EQ(s[9999], 8000);                // full level at the last loud sample
  EXPECT_EQ(s[9999 + 1102], 0);            // silence stays silence inside the fade
  EXPECT_EQ(s[9998], 8000);                // before it: untouched

  std::vector<int16_t> fading(6000, 10000);
  TrimTrailingSilence(fading, 44100);  // loud to the end: the fade starts at the last sample
  EXPECT_EQ(fading.size(), 6000u);
  EXPECT_EQ(fading.back(), 10000);

  std::vector<int16_t> ramp(5000, 4000);
  std::fill(ramp.begin() + 1, ramp.end(), 0);  // only sample 0 is loud, and it is not examined
  ramp[0] = 4000;
  TrimTrailingSilence(ramp, 44100);
  ASSERT_EQ(ramp.size(), 2205u);
  EXPECT_EQ(ramp[0], 4000);

  std::vector<int16_t> midFade(10000, 0);
  midFade[1000] = 1000;
  std::fill(midFade.begin() + 1001, midFade.end(), 80);  // quiet hum after the last loud sample
  TrimTrailingSilence(midFade, 44100);
  ASSERT_EQ(midFade.size(), 1000u + 2205u);
  EXPECT_EQ(midFade[1000 + 1102], static_cast<int16_t>(std::trunc((1.0 - 1102.0 / 2205.0) * 80)));
  EXPECT_EQ(midFade.back(), 0);
}

TEST(MultisampleAudio, NormaliseBringsThePeakTo32000) {
  const std::vector<std::pair<int16_t, double>> cases = {{50, 1.0}, {99, 1.0}, {100, 320.0},
                                                         {16000, 2.0}, {31999, 32000.0 / 31999}, {32000, 1.0},
                                                         {32767, 1.0}};
  for (const auto& [peak, factor] : cases) {
    std::vector<int16_t> s = {0, static_cast<int16_t>(peak / 2), static_cast<int16_t>(-peak), 3};
    const std::vector<int16_t> before = s;
    NormalizePeak(s);
    for (size_t i = 0; i < s.size(); ++i)
      EXPECT_EQ(s[i], static_cast<int16_t>(std::trunc(before[i] * factor))) << peak << " at " << i;
  }
}

TEST(MultisampleAudio, GainAndLevel) {
  const std::vector<int16_t> in = {20000, -20000, 100, -3};
  std::vector<int16_t> out(4);
  ApplyInputGain(in.data(), 4, 2.0, out.data());
  EXPECT_EQ(out, (std::vector<int16_t>{32767, -32768, 200, -6}));
  ApplyInputGain(in.data(), 4, 0.5, out.data());
  EXPECT_EQ(out, (std::vector<int16_t>{10000, -10000, 50, -1}));
  ApplyInputGain(in.data(), 4, 1.0, out.data());
  EXPECT_EQ(out, in);

  std::vector<int16_t> block(4000, 0);
  block[10] = 8192;
  EXPECT_EQ(MeasureLevel(block.data(), block.size()), 50);
  block[10] = 0;
  block[2500] = 32767;  // past the first 2000 samples: not measured
  EXPECT_EQ(MeasureLevel(block.data(), block.size()), 0);
  EXPECT_EQ(MeasureLevel(nullptr, 0), 0);
  block[0] = -32768;
  EXPECT_EQ(MeasureLevel(block.data(), block.size()), 100);
}

TEST(MultisampleAudio, OverviewHasOneLevelPerBar) {
  std::vector<int16_t> s(400, 0);
  s[1] = 32767;    // bar 0
  s[399] = 16384;  // bar 199
  const std::vector<int> levels = OverviewLevels(s.data(), s.size());
  ASSERT_EQ(levels.size(), 200u);
  EXPECT_EQ(levels[0], 100);
  EXPECT_EQ(levels[199], 50);
  EXPECT_EQ(levels[100], 0);
  EXPECT_EQ(OverviewLevels(nullptr, 0), std::vector<int>(200, 0));
  const std::vector<int> few = OverviewLevels(s.data(), 2);  // fewer frames than bars
  EXPECT_EQ(few[199], 100);  // frame 1 falls in the last bar
  EXPECT_EQ(few[100], 0);    // bars without a frame stay 0
  EXPECT_EQ(few[0], 0);
}

// ---------------------------------------------------------------- runs --

struct Recorded {
  std::mutex lock;
  std::vector<std::string> statuses;
  std::vector<int> positions;
  std::vector<int> notes;
  std::vector<std::vector<int>> taken;
  int done = 0;
};

class MultisampleRunTest : public ::testing::Test {
 protected:
  MultisampleRunTest()
      : waiter(instrument),
        run(midi, waiter,
            MultisampleEvents{
                .status =
                    [this](std::string text, int position, int) {
                      std::lock_guard<std::mutex> hold(events.lock);
                      events.statuses.push_back(std::move(text));
                      events.positions.push_back(position);
                    },
                .note =
                    [this](int note) {
                      std::lock_guard<std::mutex> hold(events.lock);
                      events.notes.push_back(note);
                    },
                .taken =
                    [this](std::vector<int> levels) {
                      std::lock_guard<std::mutex> hold(events.lock);
                      events.taken.push_back(std::move(levels));
                    },
                .done =
                    [this] {
                      std::lock_guard<std::mutex> hold(events.lock);
                      ++events.done;
                    }}) {
    setup.startNote = 57;
    setup.endNote = 78;
    setup.interval = 3;
    setup.velocity = 100;
    setup.holdSeconds = 0.2;
    setup.waitSeconds = 0.05;
    setup.midiSystem = &instrument.midi;
    setup.midiOutput = 0;
    setup.audioInput = &instrument.audio;
    setup.audioIdentity = "Memory: Line In";
  }

  // Starts and waits for the worker to end by itself.
  void RunToEnd() {
    ASSERT_EQ(run.Start(setup), "");
    for (int i = 0; i < 1000 && run.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(run.Running());
    run.Join();
  }

  // Note-ons and note-offs as (status, note, velocity).
  std::vector<std::vector<uint8_t>> NoteMessages() { return instrument.Messages(); }

  double PitchOf(const Region& r) const {
    PcmSpan span;
    span.bytes = {reinterpret_cast<const uint8_t*>(run.Audio().data()), run.Audio().size() * 2};
    span.channels = 1;
    span.sampleRate = 44100;
    span.blockAlign = 2;
    span.bitsPerSample = 16;
    return EstimatePitchYin(span, r.startSample, r.endSample);
  }

  SimulatedInstrument instrument;
  PlayingWaiter waiter;
  MultisampleMidiOut midi;
  Recorded events;
  MultisampleSetup setup;
  MultisampleRun run;
};

TEST_F(MultisampleRunTest, DefaultRangeGivesEightRegionsAtTheirPitch) {
  RunToEnd();
  const std::vector<Region>& regions = run.Regions();
  ASSERT_EQ(regions.size(), 8u);
  const std::vector<std::pair<int, int>> keys = {{57, 59}, {60, 62}, {63, 65}, {66, 68},
                                                 {69, 71}, {72, 74}, {75, 77}, {78, 127}};
  const int64_t noteFrames = 44100 * 250 / 1000;  // hold + wait, all of it recorded
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    EXPECT_EQ(r.loKey, keys[i].first);
    EXPECT_EQ(r.hiKey, keys[i].second);
    EXPECT_EQ(r.rootNote, keys[i].first);
    EXPECT_EQ(r.startSample, static_cast<int64_t>(i) * noteFrames);
    EXPECT_EQ(r.Length(), noteFrames);
    EXPECT_FALSE(r.HasLoop());
    EXPECT_NEAR(PitchOf(r), NoteHz(r.rootNote), NoteHz(r.rootNote) * 0.01) << "note " << r.rootNote;
  }
  EXPECT_EQ(run.Audio().size(), static_cast<size_t>(8 * noteFrames));

  // One note-on per note on channel 1 at the velocity, each followed by its
  // note-off (velocity 0) before the next note-on.
  const auto messages = NoteMessages();
  ASSERT_EQ(messages.size(), 16u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(messages[2 * i], (std::vector<uint8_t>{0x90, static_cast<uint8_t>(57 + 3 * i), 100}));
    EXPECT_EQ(messages[2 * i + 1], (std::vector<uint8_t>{0x80, static_cast<uint8_t>(57 + 3 * i), 0}));
  }
  std::lock_guard<std::mutex> hold(events.lock);
  EXPECT_EQ(events.statuses.front(), "Starting sampling process...");
  EXPECT_EQ(events.statuses[1], "Recording note A3 (1 of 8)...");
  EXPECT_EQ(events.statuses.back(), "Sampling complete! (File save not yet implemented)");
  EXPECT_EQ(events.positions.back(), 8);
  EXPECT_EQ(events.notes, (std::vector<int>{57, 60, 63, 66, 69, 72, 75, 78}));
  ASSERT_EQ(events.taken.size(), 8u);
  EXPECT_EQ(events.taken.back().size(), 200u);
  EXPECT_EQ(events.taken.back()[0], 38);   // the first note: 16000 * 100 / 127 of full scale
  EXPECT_EQ(events.taken.back()[199], 0);  // the last wait after the note-off is silent
  EXPECT_EQ(events.done, 1);
  // The devices are closed when the run ends.
  EXPECT_EQ(instrument.audio.OpenStreams(), 0);
  EXPECT_FALSE(midi.IsOpen());
}

TEST_F(MultisampleRunTest, OneNoteRangeAndChannel) {
  setup.startNote = setup.endNote = 60;
  setup.interval = 12;
  setup.channel = 10;
  setup.velocity = 127;
  RunToEnd();
  ASSERT_EQ(run.Regions().size(), 1u);
  EXPECT_EQ(run.Regions()[0].loKey, 60);
  EXPECT_EQ(run.Regions()[0].hiKey, 127);
  const auto messages = NoteMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], (std::vector<uint8_t>{0x99, 60, 127}));
  EXPECT_EQ(messages[1], (std::vector<uint8_t>{0x89, 60, 0}));
}

TEST_F(MultisampleRunTest, TrimAndNormaliseEachNote) {
  setup.endNote = 60;
  setup.autoTrim = true;
  setup.normalize = true;
  instrument.amplitude = 8000;
  instrument.delayFrames = 13230;  // the instrument speaks 300 ms after the note-on
  setup.holdSeconds = 0.5;
  RunToEnd();
  ASSERT_EQ(run.Regions().size(), 2u);
  for (const Region& r : run.Regions()) {
    // 10 ms kept before the sound, the 200 ms sounding, 50 ms after the note-off.
    EXPECT_NEAR(static_cast<double>(r.Length()), 441 + 8820 + 2205, 3) << r.rootNote;
    int peak = 0;
    for (int64_t i = r.startSample; i < r.endSample; ++i)
      peak = std::max(peak, std::abs(static_cast<int>(run.Audio()[static_cast<size_t>(i)])));
    EXPECT_GE(peak, 31900);
    EXPECT_LE(peak, 32000);
    EXPECT_LE(std::abs(run.Audio()[static_cast<size_t>(r.startSample + 440)]), 100);
    EXPECT_EQ(run.Audio()[static_cast<size_t>(r.endSample - 1)] / 200, 0);  // faded out
  }
}

TEST_F(MultisampleRunTest, RecordsOnlyWithinTheReserve) {
  setup.endNote = 57;
  waiter.extraFrames = 2 * 44100;  // the instrument goes on for 2 s more at each wait
  RunToEnd();
  ASSERT_EQ(run.Regions().size(), 1u);
  EXPECT_EQ(run.Regions()[0].Length(), 44100 * 1250 / 1000);  // hold + wait + 1 s
  // Audio pushed while no note records (the gate closed) is not kept.
  std::vector<int16_t> between(8192, 9000);
  EXPECT_FALSE(instrument.audio.Push(between));  // the input closed with the run
}

TEST_F(MultisampleRunTest, StopDuringTheThirdNoteKeepsThree) {
  waiter.onWait = [this](int number) {
    if (number == 4) run.RequestStop();  // the hold of the third note
  };
  ASSERT_EQ(run.Start(setup), "");
  for (int i = 0; i < 1000 && run.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  run.Stop(std::chrono::seconds(5));
  ASSERT_EQ(run.Regions().size(), 3u);
  EXPECT_EQ(run.Regions()[2].rootNote, 63);
  EXPECT_EQ(run.Regions()[2].hiKey, 65);
  EXPECT_EQ(NoteMessages().size(), 6u);
  std::lock_guard<std::mutex> hold(events.lock);
  EXPECT_EQ(events.statuses.back(), "Sampling cancelled.");
  EXPECT_EQ(events.positions.back(), 3);
}

TEST_F(MultisampleRunTest, AbortEndsTheHoldSendsTheNoteOffAndDropsTheNote) {
  std::atomic<bool> holding{false};
  waiter.onWait = [&](int number) {
    if (number == 2) {  // the hold of the second note hangs until aborted
      holding = true;
      EXPECT_TRUE(waiter.WaitInterrupted());
    }
  };
  ASSERT_EQ(run.Start(setup), "");
  for (int i = 0; i < 1000 && !holding; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(holding);
  const auto start = std::chrono::steady_clock::now();
  run.Stop(std::chrono::milliseconds(50));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(run.Running());
  ASSERT_EQ(run.Regions().size(), 1u);  // the second note was not finished
  EXPECT_EQ(run.Audio().size(), static_cast<size_t>(run.Regions()[0].Length()));
  const auto messages = NoteMessages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2], (std::vector<uint8_t>{0x90, 60, 100}));
  EXPECT_EQ(messages[3], (std::vector<uint8_t>{0x80, 60, 0}));
  EXPECT_EQ(instrument.audio.OpenStreams(), 0);
  EXPECT_FALSE(midi.IsOpen());
}

TEST_F(MultisampleRunTest, ADeviceLostDuringTheSecondNoteEndsTheRunKeepingTheFirst) {
  // Wait 2 is the hold of the second note (C4), wait 3 its release.
  struct Case {
    const char* name;
    int wait;
    bool audio;  // the audio input goes; else the MIDI output
    const char* status;
  };
  const Case cases[] = {
      {"audio during the hold", 2, true, "Error: The audio input stopped while recording note C4. 1 note kept."},
      {"audio during the release", 3, true, "Error: The audio input stopped while recording note C4. 1 note kept."},
      {"MIDI during the hold", 2, false, "Error: The MIDI output failed while recording note C4. 1 note kept."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedInstrument inst;
    PlayingWaiter wait(inst);
    MultisampleMidiOut out;
    Recorded seen;
    MultisampleRun robot(out, wait,
                         MultisampleEvents{.status =
                                               [&](std::string text, int position, int) {
                                                 std::lock_guard<std::mutex> hold(seen.lock);
                                                 seen.statuses.push_back(std::move(text));
                                                 seen.positions.push_back(position);
                                               },
                                           .done =
                                               [&] {
                                                 std::lock_guard<std::mutex> hold(seen.lock);
                                                 ++seen.done;
                                               }});
    wait.onWait = [&](int number) {
      if (number != c.wait) return;
      if (c.audio)
        inst.audio.Lose();
      else
        inst.UnplugMidi();
    };
    MultisampleSetup s = setup;
    s.midiSystem = &inst.midi;
    s.audioInput = &inst.audio;
    ASSERT_EQ(robot.Start(s), "");
    for (int i = 0; i < 1000 && robot.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(robot.Running());
    robot.Join();

    // Only the first note, whole, is kept: nothing of the broken one.
    ASSERT_EQ(robot.Regions().size(), 1u);
    EXPECT_EQ(robot.Regions()[0].rootNote, 57);
    EXPECT_EQ(robot.Audio().size(), static_cast<size_t>(robot.Regions()[0].Length()));
    EXPECT_EQ(robot.Audio().size(), static_cast<size_t>(kMultisampleRate * 0.25));
    std::lock_guard<std::mutex> hold(seen.lock);
    EXPECT_EQ(seen.statuses.back(), c.status);
    EXPECT_EQ(seen.positions.back(), 1);
    EXPECT_EQ(seen.done, 1);
    EXPECT_EQ(inst.audio.OpenStreams(), 0);
    EXPECT_FALSE(out.IsOpen());
  }
}

TEST_F(MultisampleRunTest, StartRefusals) {
  setup.holdSeconds = 61;
  EXPECT_EQ(run.Start(setup), "Invalid timing parameters.");
  setup.holdSeconds = 0.2;

  setup.midiOutput = 5;
  EXPECT_EQ(run.Start(setup), "Failed to open MIDI output device.\n\nError: Device ID is out of range");
  setup.midiOutput = 0;

  instrument.audio.FailOpens(AudioInputError::kBusy);
  EXPECT_EQ(run.Start(setup), "Failed to open audio input device.\n\nError: Audio device is already allocated");
  EXPECT_FALSE(midi.IsOpen());  // closed again after the failed audio open
  setup.audioIdentity = "Memory: Gone";
  instrument.audio.FailOpens(AudioInputError::kNone);
  EXPECT_EQ(run.Start(setup), "Failed to open audio input device.\n\nError: Audio device ID is out of range");
  EXPECT_FALSE(run.Running());
  EXPECT_TRUE(NoteMessages().empty());
}

TEST_F(MultisampleRunTest, InputGainAndLevel) {
  setup.endNote = 57;
  run.SetInputGain(0.5);
  RunToEnd();
  int peak = 0;
  for (int16_t s : run.Audio()) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_NEAR(peak, 16000.0 * 100 / 127 / 2, 2);
  EXPECT_EQ(run.RecordingLevel(), 0);  // the last block was the silent wait
}

// "Monitor to Output" during a run: the input callback feeds the monitor
// FIFO only while monitoring is on, with the same gained audio it records.
TEST_F(MultisampleRunTest, InputReachesTheMonitorOnlyWhileMonitoring) {
  for (const bool on : {true, false}) {
    SCOPED_TRACE(on ? "on" : "off");
    auto fifo = std::make_shared<MonitorFifo>(kMultisampleBlockFrames, 1);
    run.SetMonitor(fifo);
    run.SetMonitoring(on);
    setup.endNote = 57;
    run.SetInputGain(0.5);
    RunToEnd();
    if (!on) {
      EXPECT_EQ(fifo->Pushed() + fifo->Dropped(), 0u);
      continue;
    }
    EXPECT_GT(fifo->Pushed(), 0u);
    // The run's blocks in order: their peak is the recorded peak at most.
    std::vector<int16_t> block(kMultisampleBlockFrames);
    size_t frames = 0, total = 0;
    int peak = 0;
    while (fifo->Pop(block.data(), block.size(), &frames)) {
      total += frames;
      for (size_t i = 0; i < frames; ++i) peak = std::max(peak, std::abs(static_cast<int>(block[i])));
    }
    EXPECT_GT(total, 0u);
    EXPECT_LE(peak, static_cast<int>(16000.0 * 100 / 127 / 2) + 2);
  }
}

// -------------------------------------------------------------- intake --

class MultisampleIntakeTest : public test::DocumentTest {};

TEST_F(MultisampleIntakeTest, ReplacesTheSampleAndUndoes) {
  OpenRamp(1000, 22050);
  Doc().instrument.params.loopStart = 10;
  Doc().instrument.params.loopEnd = 900;
  Doc().instrument.params.playMode = "loop";
  const CWavLoader before = Doc().audio.Clone();
  const InstrumentData beforeInst = Doc().instrument;

  std::vector<int16_t> audio(300, 7);
  std::vector<Region> regions = {MultisampleRegion(57, 3, 63, 0, 100), MultisampleRegion(60, 3, 63, 100, 100),
                                 MultisampleRegion(63, 3, 63, 200, 100)};
  ASSERT_TRUE(TakeMultisampleIntoDocument(Doc(), audio, regions));
  CQuorvelDoc& doc = Doc();
  EXPECT_EQ(doc.audio.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(doc.audio.format.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(doc.audio.format.nBlockAlign, 2);
  EXPECT_EQ(doc.FrameCount(), 300);
  ASSERT_EQ(doc.instrument.regions.size(), 3u);
  EXPECT_EQ(doc.instrument.regions[0].loKey, 0);
  EXPECT_EQ(doc.instrument.regions[0].hiKey, 59);
  EXPECT_EQ(doc.instrument.regions[2].hiKey, 127);
  EXPECT_TRUE(doc.instrument.hasInstrument);
  EXPECT_EQ(doc.instrument.params.rootNote, 60);  // the first C root
  EXPECT_EQ(doc.instrument.params.playMode, "key");
  EXPECT_EQ(doc.instrument.params.sampleMode, "multi");
  EXPECT_EQ(doc.instrument.params.loopStart, -1);
  EXPECT_EQ(doc.instrument.params.loopEnd, -1);
  EXPECT_TRUE(doc.IsModified());
  const std::vector<std::string>& lines = frame.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"Multisample complete!", "", "Regions created: 3", "Total samples: 300"}));

  doc.Undo();
  EXPECT_EQ(doc.audio.data, before.data);
  EXPECT_EQ(doc.audio.format, before.format);
  EXPECT_EQ(doc.instrument, beforeInst);
  doc.Redo();
  EXPECT_EQ(doc.FrameCount(), 300);
  EXPECT_EQ(doc.instrument.regions.size(), 3u);
}

TEST_F(MultisampleIntakeTest, RootWithoutACIsSixtyAndEmptyResultsAreRefused) {
  OpenRamp(100);
  std::vector<int16_t> audio(100, 1);
  std::vector<Region> regions = {MultisampleRegion(57, 3, 57, 0, 100)};
  ASSERT_TRUE(TakeMultisampleIntoDocument(Doc(), audio, regions));
  EXPECT_EQ(Doc().instrument.params.rootNote, 60);
  EXPECT_EQ(Doc().instrument.regions[0].loKey, 0);
  EXPECT_EQ(Doc().instrument.regions[0].hiKey, 127);

  const size_t undoBefore = Doc().undoHistory.undoStack.size();
  EXPECT_FALSE(TakeMultisampleIntoDocument(Doc(), {}, regions));
  EXPECT_FALSE(TakeMultisampleIntoDocument(Doc(), audio, {}));
  EXPECT_EQ(host.Texts(), (std::vector<std::string>{"No audio data was recorded.", "No regions were created."}));
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), undoBefore);
}

TEST_F(MultisampleIntakeTest, IntoAnEmptyDocumentUndoesToEmpty) {
  Doc();
  std::vector<int16_t> audio(100, 1);
  std::vector<Region> regions = {MultisampleRegion(60, 12, 60, 0, 100)};
  ASSERT_TRUE(TakeMultisampleIntoDocument(Doc(), audio, regions));
  Doc().Undo();
  EXPECT_FALSE(Doc().HasAudio());
  EXPECT_TRUE(Doc().instrument.regions.empty());
}

}  // namespace
}  // namespace zandrel

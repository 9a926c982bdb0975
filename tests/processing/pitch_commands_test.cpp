// The pitch, root-note, time-stretch and pitch-shift commands through the
// registry with a headless context and scripted dialogs, on generated tones.
#include "processing/pitch_commands.h"

#include <gmock/gmock.h>

#include <cmath>
#include <deque>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "support/scripted_tasks.h"
#include "document/note_names.h"
#include "processing/pitch.h"
#include "processing/processing_commands.h"
#include "processing/repitch.h"
#include "support/region_frames.h"
#include "support/scripted_tasks.h"
#include "view/model/piano_key_layout.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ScriptedPitchDialogs final : public PitchDialogs {
 public:
  bool RunTimeStretch(TimeStretchValues& v) override {
    shownStretch.push_back(v);
    if (!stretch) return false;
    v = *stretch;
    return true;
  }
  bool RunPitchShift(int& semitones) override {
    if (!shift) return false;
    semitones = *shift;
    return true;
  }
  bool RunPitchCorrection(PitchCorrectionValues& v) override {
    shownCorrection.push_back(v);
    if (!target) return false;
    v.targetNoteText = *target;
    v.extraCents = extraCents;
    return true;
  }
  std::optional<TimeStretchValues> stretch;
  std::optional<int> shift;
  std::optional<std::string> target;
  double extraCents = 0;
  std::vector<TimeStretchValues> shownStretch;
  std::vector<PitchCorrectionValues> shownCorrection;
};

class PitchCommandsTest : public DocumentTest, public DocumentObserver {
 protected:
  void SetUp() override {
    DeclareCoreCommands(registry);
    Tone(88200, {{0, 88200}}, 440.0);
  }
  void TearDown() override {
    if (model) Doc().RemoveObserver(this);
  }
  void OnDocumentChanged(DocumentChange change) override { model->Follow(change); }

  // |frames| frames of a sine per segment {start, end} at |hz| (silence
  // elsewhere), one region per segment; fresh model and commands.
  void Tone(int64_t frames, std::vector<std::pair<int64_t, int64_t>> spans, double hz, uint32_t rate = 44100) {
    std::vector<int16_t> s(static_cast<size_t>(frames));
    for (auto [a, b] : spans)
      for (int64_t i = a; i < b; ++i)
        s[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * hz * i / rate)));
    ASSERT_TRUE(Doc().LoadWavFromMemory(MakePcm16Wav(s, 1, rate), "tone.wav"));
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions.clear();
    for (auto [a, b] : spans) Doc().instrument.regions.push_back(R(a, b));
    if (model) Doc().RemoveObserver(this);
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 1000;
    model->clientHeight = 400;
    model->snapToZeroCrossing = false;
    Doc().AddObserver(this);
    registry = CommandRegistry();
    DeclareCoreCommands(registry);
    DeclarePitchCommands(registry, dialogs);
    context = std::make_unique<BasicCommandContext>(&Doc(), model.get());
    frame.log.Clear();
  }
  void Select(int region, int64_t in, int64_t out) {
    model->selectedRegion = region;
    model->loopIn = in;
    model->loopOut = out;
  }
  double Pitch(int64_t a, int64_t b) { return EstimatePitchYin(PcmSpan::Of(Doc().audio), a, b); }
  bool Run(int id) { return registry.Run(id, *context); }

  std::unique_ptr<ViewModel> model;
  CommandRegistry registry;
  std::unique_ptr<BasicCommandContext> context;
  ScriptedPitchDialogs dialogs;
};

TEST_F(PitchCommandsTest, TheRegistryHasNoLooseEnds) { EXPECT_THAT(registry.Problems(), ::testing::IsEmpty()); }

TEST_F(PitchCommandsTest, AutoTuneMovesToTheRootsPitchClassInsideTheDetectedOctave) {
  struct Case {
    int sounding;
    int root;
    int target;
  };
  for (const Case& k : {Case{71, 60, 60}, Case{61, 60, 60}, Case{64, 69, 69}}) {
    SCOPED_TRACE(k.sounding);
    Tone(44100, {{0, 44100}}, NoteFrequency(k.sounding));
    Doc().instrument.regions[0].rootNote = k.root;
    Select(0, 10000, 30000);
    ASSERT_TRUE(Run(cmd::kAutoTuneToRoot));
    const double want = NoteFrequency(k.target);
    EXPECT_NEAR(Pitch(10000, model->loopOut), want, want * 0.005);
    EXPECT_NEAR(static_cast<double>(model->loopOut - model->loopIn), 20000 * NoteFrequency(k.sounding) / want, 30.0);
    EXPECT_THAT(frame.Lines().back(), HasSubstr(Format("(MIDI %d / %s).", k.target, MidiNoteName(k.target).c_str())));
    EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Auto-Pitch");
    // The region's end followed the change of length.
    EXPECT_EQ(Doc().instrument.regions[0].endSample, Doc().FrameCount());
  }
}

// A note already at its root is left alone: resampling by a ratio the
// analysis cannot tell from 1 would only nudge its length.
TEST_F(PitchCommandsTest, AutoTuneOnANoteInTuneChangesNothing) {
  Tone(144000, {{0, 144000}}, NoteFrequency(60));
  Doc().instrument.regions[0].rootNote = 60;
  Select(0, 0, 144000);
  const std::vector<uint8_t> before = Doc().audio.data;
  ASSERT_TRUE(Run(cmd::kAutoTuneToRoot));
  EXPECT_EQ(Doc().FrameCount(), 144000);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_THAT(frame.Lines().back(), HasSubstr("is already in tune; nothing changed."));
}

TEST_F(PitchCommandsTest, AStaleSelectionPastTheEndIsCutToTheAudio) {
  Tone(44100, {{0, 44100}}, NoteFrequency(71));
  Doc().instrument.regions[0].rootNote = 60;
  Select(0, 30000, 44100 + 20000);
  ASSERT_TRUE(Run(cmd::kAutoTuneToRoot));
  // [30000, 44100) was re-pitched: 14100 frames became about 26600.
  EXPECT_EQ(model->loopIn, 30000);
  EXPECT_EQ(Doc().FrameCount(), model->loopOut);
  EXPECT_NEAR(static_cast<double>(model->loopOut - 30000), 14100 * NoteFrequency(71) / NoteFrequency(60), 2.0);
}

TEST_F(PitchCommandsTest, RepitchRefusalsChangeNothing) {
  struct Case {
    int region;
    int64_t in, out;
    int bits;
    const char* text;
  };
  const Case cases[] = {
      {-1, 0, 100, 16, "Please select a region first."},
      {0, -1, 100, 16, "Please select a valid loop region first (use 'I' and 'O' keys or CTRL+Drag)."},
      {0, 500, 500, 16, "Please select a valid loop region first (use 'I' and 'O' keys or CTRL+Drag)."},
      {0, 100000, 100500, 16, "Please select a valid loop region first (use 'I' and 'O' keys or CTRL+Drag)."},
      {0, 0, 1000, 24, "Auto-Pitch supports 16-bit audio only."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    Tone(88200, {{0, 88200}}, 440.0);
    Select(k.region, k.in, k.out);
    if (k.bits == 24) Doc().audio.format.wBitsPerSample = 24;
    const auto before = Doc().audio.data;
    ASSERT_TRUE(Run(cmd::kAutoTuneToRoot));
    EXPECT_EQ(host.Texts().back(), k.text);
    EXPECT_EQ(Doc().audio.data, before);
    EXPECT_FALSE(Doc().CanUndo());
  }
  Tone(88200, {{0, 88200}}, 440.0);
  Tone(88200, {}, 440.0);  // silence
  Doc().instrument.regions = {R(0, 88200)};
  Select(0, 0, 20000);
  ASSERT_TRUE(Run(cmd::kAutoTuneToRoot));
  EXPECT_EQ(host.Texts().back(), "Could not detect pitch.");
  EXPECT_FALSE(Doc().CanUndo());
}

TEST_F(PitchCommandsTest, TuneRepitchProposesTheNearestNoteAndAsksOnlyBeyondAnOctave) {
  Tone(88200, {{0, 88200}}, 445.0);  // 19.56 cents sharp of A4
  Select(0, 0, 40000);
  dialogs.target = "A4";
  ASSERT_TRUE(Run(cmd::kAutoTune));
  ASSERT_EQ(dialogs.shownCorrection.size(), 1u);
  const PitchCorrectionValues& shown = dialogs.shownCorrection[0];
  EXPECT_EQ(shown.noteText, "A4");
  EXPECT_EQ(shown.targetNoteText, "A4");
  EXPECT_EQ(shown.labelText, "Measured Frequency");
  EXPECT_NEAR(shown.outOfTuneCents, 19.56, 0.2);
  // Left as proposed, the total is minus the out-of-tune cents.
  EXPECT_NEAR(ComputePitchCorrectionTarget(shown).totalCents, -shown.outOfTuneCents, 1e-9);
  EXPECT_NEAR(Pitch(0, model->loopOut), 440.0, 1.0);
  EXPECT_THAT(frame.Lines().back(), HasSubstr("Pitch Corrected: 44"));
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Pitch Correction");

  // Two octaves up asks; No leaves everything as it was.
  const auto before = Doc().audio.data;
  const size_t entries = Doc().undoHistory.undoStack.size();
  dialogs.target = "A6";
  host.Answer(MessageAnswer::No);
  ASSERT_TRUE(Run(cmd::kAutoTune));
  EXPECT_THAT(host.Texts().back(), HasSubstr("is extreme (>1 octave). Continue?"));
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), entries);
}

TEST_F(PitchCommandsTest, TuneRepitchOnSilenceFallsBackToTheRootAndAnOctaveAsksNothing) {
  Tone(88200, {}, 440.0);
  Doc().instrument.regions = {R(0, 88200)};
  Doc().instrument.regions[0].rootNote = 60;
  Select(0, 0, 20000);
  dialogs.target = "C5";  // exactly one octave above the root
  ASSERT_TRUE(Run(cmd::kAutoTune));  // an unscripted question would fail here
  const PitchCorrectionValues& shown = dialogs.shownCorrection.at(0);
  EXPECT_EQ(shown.labelText, "Root Note Frequency");
  EXPECT_NEAR(shown.measuredHz, NoteFrequency(60), 1e-9);
  EXPECT_EQ(shown.outOfTuneCents, 0.0);
  EXPECT_THAT(frame.Lines(), Contains("Could not detect pitch, using root note 60 (261.63 Hz) as fallback."));
  EXPECT_NEAR(static_cast<double>(model->loopOut), 10000.0, 1.0);
  // An invalid note is refused before anything changes.
  dialogs.target = "H2";
  const size_t entries = Doc().undoHistory.undoStack.size();
  ASSERT_TRUE(Run(cmd::kAutoTune));
  EXPECT_EQ(host.Texts().back(), "Invalid target note.");
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), entries);
}

TEST_F(PitchCommandsTest, FindRootNotesAnalysesRegionsLongerThan49Frames) {
  // Three regions: 49 frames, 50 frames and a long one, all of 440 Hz.
  Tone(10099, {{0, 49}, {49, 99}, {99, 10099}}, 440.0);
  for (Region& r : Doc().instrument.regions) r.rootNote = 10;
  ASSERT_TRUE(Run(cmd::kFindRootNotesAll));
  // The 50-frame region is analysed together with the audio after it.
  EXPECT_EQ(Doc().instrument.regions[0].rootNote, 10);
  EXPECT_EQ(Doc().instrument.regions[1].rootNote, 69);
  EXPECT_EQ(Doc().instrument.regions[2].rootNote, 69);
  EXPECT_EQ(frame.Lines().back(), "Find Root Notes: Analyzed 3 regions. Success: 2, Failed: 1");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Find Root Notes for All Regions");
}

TEST_F(PitchCommandsTest, FindRootNoteThatFindsNothingKeepsTheRedoHistory) {
  Tone(88200, {{0, 44100}}, 440.0);
  Doc().instrument.regions = {R(0, 44100), R(44100, 88200)};
  // Something to redo.
  ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "Edit"));
  Doc().instrument.regions[0].rootNote = 50;
  Doc().Undo();
  ASSERT_TRUE(Doc().CanRedo());

  model->selectedRegion = 1;  // silence
  ASSERT_TRUE(Run(cmd::kFindRootNote));
  EXPECT_EQ(host.Texts().back(), "Could not detect pitch in selected region (silence or noise).");
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_TRUE(Doc().CanRedo());

  model->selectedRegion = 0;
  ASSERT_TRUE(Run(cmd::kFindRootNote));
  EXPECT_EQ(Doc().instrument.regions[0].rootNote, 69);
  EXPECT_THAT(frame.Lines().back(), HasSubstr("Find Root Note: Region 1 set to A4 (MIDI 69, 44"));
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Find Root Note");
}

TEST_F(PitchCommandsTest, SetRootNoteHitsTheKeyDrawnUnderTheClick) {
  // At 1000 px the strip draws keys 31..96, 15 px wide, 5 px in.
  EXPECT_EQ(PianoKeyAtX(5, 1000, false), 31);
  EXPECT_EQ(PianoKeyAtX(19, 1000, false), 31);
  EXPECT_EQ(PianoKeyAtX(20, 1000, false), 32);
  EXPECT_EQ(PianoKeyAtX(2, 1000, false), -1);
  EXPECT_EQ(PianoKeyAtX(0, 2000, false), 21);

  Doc().instrument.regions = {R(0, 44100), R(44100, 88200)};
  Doc().instrument.regions[0].loKey = 0;
  Doc().instrument.regions[0].hiKey = 40;
  Doc().instrument.regions[1].loKey = 31;
  Doc().instrument.regions[1].hiKey = 127;
  // A right click on the leftmost drawn key, held by both regions.
  EXPECT_EQ(model->ContextMenuAt(10, 390), ContextMenuKind::kPianoRoll);
  ASSERT_TRUE(Run(cmd::kSetRootNote));
  EXPECT_EQ(Doc().instrument.regions[0].rootNote, 31);
  EXPECT_EQ(Doc().instrument.regions[1].rootNote, 60);
  EXPECT_EQ(model->selectedRegion, 0);
  EXPECT_EQ(frame.Lines().back(), "Region 1 root note set to G1 (MIDI 31).");

  Doc().instrument.regions[1].loKey = 50;
  Doc().instrument.regions[0].hiKey = 40;
  model->ContextMenuAt(5 + 15 * (45 - 31) + 3, 390);  // key 45: nobody's
  ASSERT_TRUE(Run(cmd::kSetRootNote));
  EXPECT_EQ(host.Texts().back(), "No region found for MIDI note 45 (A2).");
  model->ContextMenuAt(2, 390);
  ASSERT_TRUE(Run(cmd::kSetRootNote));
  EXPECT_EQ(host.Texts().back(), "Invalid piano key position.");
}

TEST_F(PitchCommandsTest, RemoveRegionLoopAndCreateSingleRegion) {
  Doc().instrument.regions = {R(0, 44100, 100, 4000), R(44100, 88200)};
  model->selectedRegion = 1;
  ASSERT_TRUE(Run(cmd::kRemoveRegionLoop));
  EXPECT_EQ(host.Texts().back(), "Selected region has no loop points to remove.");
  model->selectedRegion = 0;
  ASSERT_TRUE(Run(cmd::kRemoveRegionLoop));
  EXPECT_FALSE(Doc().instrument.regions[0].HasLoop());
  EXPECT_EQ(frame.Lines().back(), "Loop points removed from selected region.");

  host.Answer(MessageAnswer::Yes);  // two regions: it asks first
  ASSERT_TRUE(Run(cmd::kCreateSingleRegion));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 88200, -1, -1}}));
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 88200);
  EXPECT_EQ(model->selectedRegion, 0);
  ASSERT_TRUE(Run(cmd::kCreateSingleRegion));  // one region: no question
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(PitchCommandsTest, CreateSingleRegionInstrumentTakesTheRootAndALoopAndUndoesAsOne) {
  // A4 sounding over two regions of other roots.
  Doc().instrument.regions = {R(0, 44100, 100, 4000), R(44100, 88200)};
  Doc().instrument.regions[0].rootNote = 40;
  Doc().instrument.regions[1].rootNote = 52;
  const std::vector<Region> before = Doc().instrument.regions;
  const size_t entries = Doc().undoHistory.undoStack.size();

  host.Answer(MessageAnswer::No);  // two regions: it asks first
  ASSERT_TRUE(Run(cmd::kCreateSingleRegionInstrument));
  EXPECT_EQ(Doc().instrument.regions, before);

  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kCreateSingleRegionInstrument));
  ASSERT_EQ(Doc().instrument.regions.size(), 1u);
  const Region& r = Doc().instrument.regions[0];
  EXPECT_EQ(r.startSample, 0);
  EXPECT_EQ(r.endSample, 88200);
  EXPECT_EQ(r.rootNote, 69);
  EXPECT_EQ(Doc().instrument.params.rootNote, 69);
  EXPECT_THAT(frame.Lines(), Contains("Single region created and selected (root note: 69)."));
  // The search's loop is the region's loop and the selection.
  ASSERT_TRUE(r.HasLoop());
  EXPECT_EQ(model->selectedRegion, 0);
  EXPECT_EQ(model->loopIn, r.loopStart);
  EXPECT_EQ(model->loopOut, r.loopEnd);
  EXPECT_GE(r.loopStart, 0);
  EXPECT_LE(r.loopEnd, 88200);
  // It loops without a jump: a whole number of the tone's periods, so the
  // samples at both ends agree.
  const double period = 44100.0 / 440.0;
  const double periods = static_cast<double>(r.loopEnd - r.loopStart) / period;
  EXPECT_NEAR(periods, std::round(periods), 0.05);
  EXPECT_GT(periods, 10);
  EXPECT_TRUE(Doc().IsModified());

  // One entry, the region edit's, takes all of it back.
  ASSERT_EQ(Doc().undoHistory.undoStack.size(), entries + 1);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Create Single Region");
  Doc().OnEditUndo();
  EXPECT_EQ(Doc().instrument.regions, before);
}

TEST_F(PitchCommandsTest, CreateSingleRegionInstrumentCancelledDuringItsSearchChangesNothing) {
  Doc().instrument.regions = {R(0, 44100, 100, 4000), R(44100, 88200)};
  Select(1, 500, 900);
  Doc().SetModifiedFlag(false);
  const std::vector<Region> before = Doc().instrument.regions;
  const size_t entries = Doc().undoHistory.undoStack.size();
  ScriptedTasks tasks;
  tasks.during = [](LongTask& task) { task.RequestCancel(); };
  TaskContext cancelling(&Doc(), model.get());
  cancelling.tasks = &tasks;
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kCreateSingleRegionInstrument, cancelling));
  EXPECT_EQ(tasks.waits, 1);
  EXPECT_EQ(Doc().instrument.regions, before);
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), entries);
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(model->selectedRegion, 1);
  EXPECT_EQ(model->loopIn, 500);
  EXPECT_EQ(model->loopOut, 900);
  EXPECT_THAT(frame.Lines(), ElementsAre("Create Single Region Instrument cancelled."));
}

TEST_F(PitchCommandsTest, CreateSingleRegionInstrumentOnSilenceKeepsTheInstrumentsRoot) {
  Tone(44100, {}, 440.0);  // silence, no regions
  Doc().instrument.params.rootNote = 50;
  ASSERT_TRUE(Run(cmd::kCreateSingleRegionInstrument));
  EXPECT_EQ(host.PendingAnswers(), 0u);
  ASSERT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_EQ(Doc().instrument.regions[0].rootNote, 50);
  EXPECT_THAT(frame.Lines(), Contains("Single region created and selected (root note: 50)."));

  // Without audio it says so and changes nothing.
  Doc().audio.data.clear();
  Doc().instrument.regions.clear();
  ASSERT_TRUE(Run(cmd::kCreateSingleRegionInstrument));
  EXPECT_EQ(host.Texts().back(), "No audio data loaded.");
  EXPECT_TRUE(Doc().instrument.regions.empty());
}

TEST_F(PitchCommandsTest, EstimatePitchReportsTheSelection) {
  Select(0, 0, 20000);
  model->loopPlayback = true;
  ASSERT_TRUE(Run(cmd::kEstimatePitch));
  EXPECT_THAT(host.Texts().back(), HasSubstr("Note: A4 (MIDI: 69)"));
  EXPECT_THAT(frame.Lines(), Contains("Estimated Pitch:"));
}

TEST_F(PitchCommandsTest, ACancelInAnyOfACommandsLongWorksChangesNothing) {
  struct Case {
    const char* what;
    int id;
    int cancelledWork;  // 1 = the first long work the command runs
  };
  const Case cases[] = {
      {"Estimate Pitch", cmd::kEstimatePitch, 1},
      {"Find Root Note", cmd::kFindRootNote, 1},
      {"Find Root Notes", cmd::kFindRootNotesAll, 1},
      {"Auto-Tune to Root", cmd::kAutoTuneToRoot, 1},
      {"Tune/Repitch, its estimate", cmd::kAutoTune, 1},
      {"Tune/Repitch, its re-pitch", cmd::kAutoTune, 2},
      {"Create Single Region Instrument", cmd::kCreateSingleRegionInstrument, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    // A4 over two regions with other roots, the selection inside the first.
    Tone(88200, {{0, 44100}, {44100, 88200}}, 440.0);
    Doc().instrument.regions[0].rootNote = 48;
    Select(0, 4000, 30000);
    model->loopPlayback = true;
    dialogs.target = "C5";
    ScriptedTasks tasks;
    tasks.during = [&](LongTask& task) {
      if (tasks.waits == k.cancelledWork) task.RequestCancel();
    };
    TaskContext cancelling(&Doc(), model.get());
    cancelling.tasks = &tasks;
    if (k.id == cmd::kCreateSingleRegionInstrument) host.Answer(MessageAnswer::Yes);
    const std::vector<uint8_t> audio = Doc().audio.data;
    const std::vector<Region> regions = Doc().instrument.regions;
    const size_t boxes = host.Shown().size();

    ASSERT_TRUE(registry.Run(k.id, cancelling));
    EXPECT_EQ(tasks.waits, k.cancelledWork);
    EXPECT_EQ(Doc().audio.data, audio);
    EXPECT_EQ(Doc().instrument.regions, regions);
    EXPECT_EQ(model->loopIn, 4000);
    EXPECT_EQ(model->loopOut, 30000);
    EXPECT_EQ(model->selectedRegion, 0);
    EXPECT_FALSE(Doc().CanUndo());
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_EQ(host.Shown().size(), boxes + (k.id == cmd::kCreateSingleRegionInstrument ? 1 : 0));
    const std::vector<std::string> lines = frame.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("cancelled.") != std::string::npos; }),
              1);
  }
}

TEST_F(PitchCommandsTest, TimeStretchFrom120To240HalvesEverything) {
  Doc().instrument.params.bpm = 120;
  Doc().instrument.regions = {R(0, 44100, 1000, 30001), R(44100, 88200)};
  Select(0, 2001, 40001);
  dialogs.stretch = TimeStretchValues{120, 240, 4, 4};
  ASSERT_TRUE(Run(cmd::kTimeStretch));
  EXPECT_EQ(dialogs.shownStretch.at(0).fromBeats, 4.0f);  // 2 s at 120 BPM
  EXPECT_EQ(Doc().FrameCount(), 44100);
  EXPECT_EQ(FramesOf(Doc().instrument),
            (std::vector<Frames>{{0, 22050, 500, 15000}, {22050, 44100, -1, -1}}));
  EXPECT_EQ(model->loopIn, 1000);
  EXPECT_EQ(model->loopOut, 20000);
  EXPECT_EQ(Doc().instrument.params.bpm, 240.0f);
  EXPECT_EQ(Doc().instrument.params.beats, 4);
  EXPECT_NEAR(Pitch(10000, 20000), 440.0, 4.0);
  EXPECT_EQ(frame.Lines().back(), "Time Stretch Complete.");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Timestretch");
}

TEST_F(PitchCommandsTest, TimeStretchThatDoesNothingOrFailsRecordsNothing) {
  dialogs.stretch = TimeStretchValues{120, 120, 4, 4};
  ASSERT_TRUE(Run(cmd::kTimeStretch));
  EXPECT_FALSE(Doc().CanUndo());

  dialogs.stretch = TimeStretchValues{10, 200, 4, 4};  // 20 times faster
  ASSERT_TRUE(Run(cmd::kTimeStretch));
  EXPECT_THAT(host.Texts().back(), HasSubstr("between 1/16 and 16"));
  EXPECT_FALSE(Doc().CanUndo());

  Tone(2205, {{0, 2205}}, 440.0);  // 0.05 s
  const auto before = Doc().audio.data;
  dialogs.stretch = TimeStretchValues{100, 120, 4, 4};
  ASSERT_TRUE(Run(cmd::kTimeStretch));
  EXPECT_EQ(host.Texts().back(), "Time stretch failed.");
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
}

TEST_F(PitchCommandsTest, PitchShiftMovesKeysAndRootsAndKeepsTheLength) {
  Doc().instrument.regions[0].loKey = 60;
  Doc().instrument.regions[0].hiKey = 127;
  Doc().instrument.regions[0].rootNote = 64;
  dialogs.shift = 12;
  ASSERT_TRUE(Run(cmd::kPitchShift));
  EXPECT_EQ(Doc().FrameCount(), 88200);
  const Region& r = Doc().instrument.regions[0];
  EXPECT_EQ(r.loKey, 72);
  EXPECT_EQ(r.hiKey, 127);
  EXPECT_EQ(r.rootNote, 76);
  EXPECT_EQ(Doc().instrument.params.rootNote, 72);
  EXPECT_NEAR(Pitch(40000, 50000), 880.0, 9.0);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "PitchShift");

  dialogs.shift = 60;
  ASSERT_TRUE(Run(cmd::kPitchShift));
  EXPECT_EQ(host.Texts().back(), "The pitch may be shifted by -48 to +48 semitones.");
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 1u);
}

TEST(TimeStretchDialogModel, HelperButtons) {
  TimeStretchValues v{120, 120, 8, 4};
  ASSERT_FALSE(TimeStretchCalcBpm(v));
  EXPECT_EQ(v.toBpm, 240.0f);
  TimeStretchHalfSpeed(v);
  EXPECT_EQ(v.toBpm, 60.0f);
  TimeStretchDoubleSpeed(v);
  EXPECT_EQ(v.toBpm, 240.0f);
  v.toBeats = 0;
  EXPECT_EQ(TimeStretchCalcBpm(v), "Beat counts must be positive.");
  v = {0, 100, 4, 4};
  EXPECT_EQ(TimeStretchCalcBpm(v), "Please set a valid 'From BPM' first.");
}

}  // namespace
}  // namespace zandrel

// "Micro Synth Shaper..." as a command over a scripted dialog: what it refuses
// and says, what it hands the dialog (the loop's samples, rate, channels and
// root note), what an OK writes into the loop (the chosen note rendered and
// mixed, as long work), with its undo entry, and that a Cancel of that work
// changes nothing.
#include "sound_design/micro_synth_command.h"

#include <gmock/gmock.h>

#include <cstring>
#include <optional>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/processing_commands.h"
#include "support/scripted_tasks.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

// Answers the dialog with a choice (nullopt: Cancel).
class ScriptedSynth final : public MicroSynthDialogs {
 public:
  std::function<std::optional<MicroSynthChoice>(const MicroSynthRequest&)> answer;
  std::vector<MicroSynthRequest> requests;
  bool RunMicroSynth(const MicroSynthRequest& request, MicroSynthChoice& choice) override {
    requests.push_back(request);
    auto r = answer(request);
    if (!r) return false;
    choice = std::move(*r);
    return true;
  }
};

// The oscillator engine at its knobs' defaults, mixed in at |mix|.
MicroSynthChoice Oscillator(float mix) {
  MicroSynthChoice choice;
  choice.engine = kEngineBasic;
  choice.knobs = DefaultKnobValues(BuildSynthEngines().at(kEngineBasic));
  choice.mix = mix;
  return choice;
}

class MicroSynthCommandTest : public DocumentTest {
 protected:
  MicroSynthCommandTest() {
    DeclareCoreCommands(registry);
    DeclareMicroSynthCommand(registry, synth);
  }
  void Open(int64_t frames) {
    OpenRamp(frames);
    Doc().SetModifiedFlag(false);
    Doc().undoHistory.Clear();
    frame.log.Clear();
  }
  int16_t SampleAt(int64_t i) {
    int16_t v;
    std::memcpy(&v, Doc().audio.data.data() + i * 2, 2);
    return v;
  }
  bool Run() { return registry.Run(cmd::kMicroSynth, context); }

  CommandRegistry registry;
  ScriptedSynth synth;
  ViewSelection view;
  BasicCommandContext context{&Doc(), &view};
};

TEST_F(MicroSynthCommandTest, PreconditionsAreSaidAndNothingOpens) {
  struct Case {
    int bits;
    int64_t in;
    int64_t out;
    std::string message;
  };
  const Case cases[] = {
      {8, 10, 20, "Micro Synth only supports 16-bit audio files."},
      {16, -1, 20, "Please set valid loop points first (Loop > Set Loop In/Out)."},
      {16, 20, 20, "Please set valid loop points first (Loop > Set Loop In/Out)."},
      {16, 30, 20, "Please set valid loop points first (Loop > Set Loop In/Out)."},
      {16, 50, 101, "Loop points extend beyond audio data."},
  };
  synth.answer = [](const MicroSynthRequest&) { return Oscillator(1.0f); };
  for (const Case& c : cases) {
    Open(100);
    Doc().audio.format.wBitsPerSample = static_cast<uint16_t>(c.bits);
    view.loopIn = c.in;
    view.loopOut = c.out;
    const size_t before = host.Shown().size();
    Run();
    ASSERT_EQ(host.Shown().size(), before + 1);
    EXPECT_EQ(host.Shown().back().text, c.message);
    EXPECT_TRUE(synth.requests.empty());
    EXPECT_FALSE(Doc().CanUndo());
  }
}

TEST_F(MicroSynthCommandTest, TheDialogGetsTheLoopAndTheSelectedRegionsRoot) {
  Open(100);
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {Region{0, 50, -1, -1, 0, 127, 48}, Region{50, 100, -1, -1, 0, 127, 72}};
  synth.answer = [](const MicroSynthRequest&) { return std::nullopt; };
  view.loopIn = 90;
  view.loopOut = 100;  // ends exactly at the audio's end
  view.selectedRegion = 1;
  Run();
  view.selectedRegion = 5;
  Run();
  ASSERT_EQ(synth.requests.size(), 2u);
  EXPECT_THAT(synth.requests[0].source, ElementsAre(90, 91, 92, 93, 94, 95, 96, 97, 98, 99));
  EXPECT_EQ(synth.requests[0].sampleRate, 44100u);
  EXPECT_EQ(synth.requests[0].channels, 1);
  EXPECT_EQ(synth.requests[0].rootNote, 72);
  EXPECT_EQ(synth.requests[1].rootNote, 60);
  EXPECT_FALSE(Doc().CanUndo());  // Cancel changes nothing
}

TEST_F(MicroSynthCommandTest, OkOverwritesTheLoopInPlaceAndUndoRestoresIt) {
  Open(3000);
  view.loopIn = 1000;
  view.loopOut = 2000;
  synth.answer = [](const MicroSynthRequest&) { return Oscillator(0.75f); };
  Run();
  EXPECT_EQ(Doc().FrameCount(), 3000);
  // The loop holds the note rendered over its 1000 frames, mixed 3:1 with
  // the ramp; around it nothing moved.
  std::vector<int16_t> source(1000), note, mixed;
  for (int i = 0; i < 1000; ++i) source[static_cast<size_t>(i)] = static_cast<int16_t>(1000 + i);
  SynthStates states;
  const MicroSynthChoice choice = Oscillator(0.75f);
  ASSERT_FALSE(RenderSynth(kEngineBasic, choice.knobs, 60, 44100, 1, 1000, states, note).refused);
  MixSynthWithSource(source, note, 0.75f, mixed);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(SampleAt(1000 + i), mixed[static_cast<size_t>(i)]) << i;
  EXPECT_EQ(SampleAt(999), 999);
  EXPECT_EQ(SampleAt(2000), 2000);
  int changed = 0;
  for (int i = 0; i < 1000; ++i) changed += SampleAt(1000 + i) != 1000 + i;
  EXPECT_GT(changed, 900);
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "SimpleSynth");
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(frame.Lines().back(), "Micro Synth mixed into loop.");
  EXPECT_GE(context.stops, 1);
  Doc().Undo();
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(SampleAt(i), i);
}

TEST_F(MicroSynthCommandTest, MixZeroStillRecordsUndo) {
  Open(100);
  view.loopIn = 0;
  view.loopOut = 100;
  synth.answer = [](const MicroSynthRequest&) { return Oscillator(0.0f); };  // Mix 0: the loop itself
  Run();
  EXPECT_TRUE(Doc().CanUndo());
  EXPECT_TRUE(Doc().IsModified());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(SampleAt(i), i);
}

TEST_F(MicroSynthCommandTest, AnEmptyResultIsSaidAndChangesNothing) {
  Open(100);
  view.loopIn = 0;
  view.loopOut = 10;
  // The strings two octaves under note 0 (2 Hz): the engine refuses, so
  // there is nothing to mix.
  synth.answer = [](const MicroSynthRequest&) {
    MicroSynthChoice choice;
    choice.engine = kEngineStrings;
    choice.knobs = DefaultKnobValues(BuildSynthEngines().at(kEngineStrings));
    choice.knobs.selections[kSynthOctaveId] = 0;
    return std::optional<MicroSynthChoice>(std::move(choice));
  };
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {Region{0, 100, -1, -1, 0, 127, 0}};
  view.selectedRegion = 0;
  Run();
  ASSERT_FALSE(host.Shown().empty());
  EXPECT_EQ(host.Shown().back().text, "No mixed audio was generated.");
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(MicroSynthCommandTest, TheNoteIsRenderedAsLongWorkThatACancelDrops) {
  Open(44100);
  view.loopIn = 100;
  view.loopOut = 44000;
  synth.answer = [](const MicroSynthRequest&) { return Oscillator(1.0f); };
  const std::vector<uint8_t> before = Doc().audio.data;
  ScriptedTasks tasks;
  std::vector<double> seen;
  tasks.during = [&](LongTask& task) {
    while (!task.WaitFor(std::chrono::milliseconds(1))) {
    }
    seen.push_back(task.Progress());
  };
  TaskContext watched(&Doc(), &view);
  watched.tasks = &tasks;
  ASSERT_TRUE(registry.Run(cmd::kMicroSynth, watched));
  EXPECT_EQ(tasks.waits, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_GT(seen[0], 0.5);  // the render reported its way through
  ASSERT_TRUE(Doc().CanUndo());

  // Cancelled while it renders: the loop, the history and the flag stay.
  Open(44100);
  tasks.during = [](LongTask& task) { task.RequestCancel(); };
  ASSERT_TRUE(registry.Run(cmd::kMicroSynth, watched));
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), ElementsAre("Micro Synth Shaper cancelled."));
}

}  // namespace
}  // namespace zandrel

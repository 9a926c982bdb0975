// "Micro Synth Shaper..." as a command over a scripted dialog: what it refuses
// and says, what it hands the dialog (the loop's samples, rate, channels and
// root note) and what an OK writes into the loop, with its undo entry.
#include "sound_design/micro_synth_command.h"

#include <gmock/gmock.h>

#include <cstring>
#include <optional>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/processing_commands.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

// Answers the dialog with a result made from the request (nullopt: Cancel).
class ScriptedSynth final : public MicroSynthDialogs {
 public:
  std::function<std::optional<std::vector<int16_t>>(const MicroSynthRequest&)> answer;
  std::vector<MicroSynthRequest> requests;
  bool RunMicroSynth(const MicroSynthRequest& request, std::vector<int16_t>& result) override {
    requests.push_back(request);
    const auto r = answer(request);
    if (!r) return false;
    result = *r;
    return true;
  }
};

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
  synth.answer = [](const MicroSynthRequest& r) { return r.source; };
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
  Open(100);
  view.loopIn = 10;
  view.loopOut = 14;
  synth.answer = [](const MicroSynthRequest&) { return std::vector<int16_t>{-1, -2, -3, -4, -5, -6}; };
  Run();
  EXPECT_EQ(Doc().FrameCount(), 100);
  EXPECT_THAT((std::vector<int16_t>{SampleAt(9), SampleAt(10), SampleAt(13), SampleAt(14)}),
              ElementsAre(9, -1, -4, 14));
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "SimpleSynth");
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(frame.Lines().back(), "Micro Synth mixed into loop.");
  EXPECT_GE(context.stops, 1);
  Doc().Undo();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(SampleAt(i), i);
}

TEST_F(MicroSynthCommandTest, MixZeroStillRecordsUndo) {
  Open(100);
  view.loopIn = 0;
  view.loopOut = 100;
  synth.answer = [](const MicroSynthRequest& r) { return r.source; };  // Mix 0: the loop itself
  Run();
  EXPECT_TRUE(Doc().CanUndo());
  EXPECT_TRUE(Doc().IsModified());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(SampleAt(i), i);
}

TEST_F(MicroSynthCommandTest, AnEmptyResultIsSaidAndChangesNothing) {
  Open(100);
  view.loopIn = 0;
  view.loopOut = 10;
  synth.answer = [](const MicroSynthRequest&) { return std::vector<int16_t>{}; };
  Run();
  ASSERT_FALSE(host.Shown().empty());
  EXPECT_EQ(host.Shown().back().text, "No mixed audio was generated.");
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().IsModified());
}

}  // namespace
}  // namespace zandrel

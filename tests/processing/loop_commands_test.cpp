// The loop tools run through the registry with a headless context: what
// they do to the selection, the regions, the audio and the history, and that
// a cancelled or overtaken search leaves no trace.
#include "processing/loop_commands.h"

#include <gmock/gmock.h>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/loop_fixtures.h"
#include "processing/processing_commands.h"
#include "support/scripted_tasks.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using Context = TaskContext;

class LoopCommandsTest : public DocumentTest {
 protected:
  LoopCommandsTest() { DeclareCoreCommands(registry); }

  void Load(const Pcm16Audio& a) {
    ASSERT_TRUE(Doc().LoadWavFromMemory(MakePcm16Wav(a.samples, static_cast<uint16_t>(a.channels), a.rate),
                                        "tone.wav"));
    Doc().SetModifiedFlag(false);
    frame.log.Clear();
  }
  void OneRegion(int64_t start, int64_t end, int64_t loopStart = kNoLoop, int64_t loopEnd = kNoLoop) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = {Region{start, end, loopStart, loopEnd, 0, 127, 60}};
    view.selectedRegion = 0;
  }
  std::string LastBox() const { return host.Shown().empty() ? std::string() : host.Shown().back().text; }

  CommandRegistry registry;
  ViewSelection view;
  ScriptedTasks tasks;
  Context context{&Doc(), &view};
};

TEST_F(LoopCommandsTest, TheToolsShowInTheSelectionMenuAndHaveBodies) {
  EXPECT_TRUE(registry.Problems().empty());
  std::vector<std::string> items;
  for (const MenuEntry& menu : registry.MenuBar())
    if (menu.text == "&Selection")
      for (const MenuEntry& e : menu.entries) items.push_back(e.kind == MenuEntry::Kind::kSeparator ? "-" : e.text);
  EXPECT_THAT(items, ElementsAre("Delete everyting outside", "-", "Hanning Crossfade", "Equal-Power Crossfade", "Align Phase", "-",
                                 "Find Looping Points (Slow)", "Find Looping Points (Pyramid)",
                                 "Find Looping Points NCC", "-", "Align Looping Points (+/-200ms)",
                                 "Set IN/OUT to Zero Crossing"));
  for (int id : {cmd::kEqualPowerCrossfade, cmd::kSetInOutToZeroCrossing}) EXPECT_TRUE(registry.HasBody(id));
}

TEST_F(LoopCommandsTest, ASearchWritesALoopIntoARegionWithoutOneAsAnUndoableEdit) {
  Load(Sine(3.0, 8000, 200));
  OneRegion(0, 24000);
  context.tasks = &tasks;
  ASSERT_TRUE(registry.Run(cmd::kFindLoopPointsSlow, context));
  EXPECT_EQ(tasks.waits, 1);
  ASSERT_GE(view.loopIn, 0);
  EXPECT_EQ((view.loopOut - view.loopIn) % 40, 0);
  const Region& g = Doc().instrument.regions[0];
  EXPECT_EQ(g.loopStart, view.loopIn);
  EXPECT_EQ(g.loopEnd, view.loopOut);
  EXPECT_TRUE(Doc().IsModified());
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Find Looping Points (Slow)");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().kind, kUndoRegionsOnly);
  EXPECT_THAT(frame.Lines().back(), StartsWith("Searching within region 0: Possible Loop Found!"));
  Doc().Undo();
  EXPECT_FALSE(Doc().instrument.regions[0].HasLoop());
}

TEST_F(LoopCommandsTest, ARegionWithALoopKeepsItWhileTheSelectionChanges) {
  Load(Sine(3.0, 8000, 200));
  OneRegion(0, 24000, 1000, 2000);
  for (int id : {cmd::kFindLoopPointsSlow, cmd::kFindLoopPointsPyramid}) {
    view.loopIn = view.loopOut = -1;
    ASSERT_TRUE(registry.Run(id, context));
    EXPECT_GE(view.loopIn, 0) << id;
    EXPECT_NE(view.loopIn, 1000);
    EXPECT_EQ(Doc().instrument.regions[0].loopStart, 1000);
    EXPECT_EQ(Doc().instrument.regions[0].loopEnd, 2000);
    EXPECT_FALSE(Doc().CanUndo());
    EXPECT_FALSE(Doc().IsModified());
  }
}

TEST_F(LoopCommandsTest, SearchesNeedASelectedRegionAndARegionInsideTheAudio) {
  Load(Sine(1.0, 8000, 200));
  OneRegion(0, 8000);
  view.selectedRegion = -1;
  ASSERT_TRUE(registry.Run(cmd::kFindLoopPointsPyramid, context));
  EXPECT_EQ(LastBox(),
            "Please select a region first.\n\nYou can select a region by clicking on it in the region selector bar at "
            "the top of the waveform.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Information);
  // A region past the end of the audio: too small, for both engines.
  OneRegion(8000, 16000);
  for (int id : {cmd::kFindLoopPointsSlow, cmd::kFindLoopPointsPyramid}) {
    ASSERT_TRUE(registry.Run(id, context));
    EXPECT_THAT(LastBox(), HasSubstr("Search region too small for automatic loop finding.\nRegion length: 0 samples"));
  }
  EXPECT_EQ(view.loopIn, -1);
}

TEST_F(LoopCommandsTest, CancelLeavesAudioRegionsSelectionAndHistoryAlone) {
  Load(InstrumentTone(3.0, 11025));
  OneRegion(0, 33075);
  // Room for either crossfade on both sides of the loop.
  view.loopIn = 9000;
  view.loopOut = 20000;
  const std::vector<Region> regions = Doc().instrument.regions;
  const std::vector<uint8_t> audio = Doc().audio.data;
  context.tasks = &tasks;
  tasks.during = [](LongTask& task) { task.RequestCancel(); };
  const std::pair<int, const char*> commands[] = {
      {cmd::kFindLoopPointsSlow, "Find Looping Points (Slow) cancelled."},
      {cmd::kFindLoopPointsPyramid, "Find Looping Points (Pyramid) cancelled."},
      {cmd::kFindLoopPointsNcc, "Find Looping Points NCC cancelled."},
      {cmd::kAlignLoopingPoints, "Align Looping Points (+/-200ms) cancelled."},
      {cmd::kHanningCrossfade, "Hanning Crossfade cancelled."},
      {cmd::kEqualPowerCrossfade, "Equal-Power Crossfade cancelled."},
      {cmd::kAlignPhase, "Align Phase cancelled."},
  };
  for (const auto& [id, line] : commands) {
    frame.log.Clear();
    ASSERT_TRUE(registry.Run(id, context));
    EXPECT_EQ(view.loopIn, 9000) << id;
    EXPECT_EQ(view.loopOut, 20000);
    EXPECT_EQ(Doc().instrument.regions, regions);
    EXPECT_TRUE(Doc().audio.data == audio) << id;
    EXPECT_FALSE(Doc().CanUndo());
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_THAT(frame.Lines(), ElementsAre(line));
    EXPECT_TRUE(host.Shown().empty());
  }
  EXPECT_EQ(tasks.waits, 7);
}

TEST_F(LoopCommandsTest, AResultIsDroppedWhenTheAudioChangedDuringTheSearch) {
  Load(Sine(3.0, 8000, 200));
  context.tasks = &tasks;
  // Another file replaces the audio while the search runs on its own copy.
  const Bytes other = MakePcm16Wav(std::vector<int16_t>(100, 0), 1, 8000);
  tasks.during = [&](LongTask&) { ASSERT_TRUE(Doc().LoadWavFromMemory(other, "other.wav")); };
  frame.log.Clear();
  ASSERT_TRUE(registry.Run(cmd::kFindLoopPointsSlow, context));
  EXPECT_EQ(view.loopIn, -1);
  EXPECT_EQ(Doc().FrameCount(), 100);
  for (const std::string& line : frame.Lines()) EXPECT_THAT(line, Not(HasSubstr("Possible Loop Found")));
}

TEST_F(LoopCommandsTest, CorrelationSearchSetsTheSelectionWithoutUndo) {
  Load(Sine(2.0, 8000, 200));
  ASSERT_TRUE(registry.Run(cmd::kFindLoopPointsNcc, context));
  EXPECT_GE(view.loopIn, 0);
  EXPECT_EQ((view.loopOut - view.loopIn) % 40, 0);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_THAT(frame.Lines().back(), StartsWith("Best Loop Found: 100.00% Match. Length: "));
}

TEST_F(LoopCommandsTest, CrossfadesRecordTheirUndoAndRefuseWithoutRoom) {
  Load(Sine(1.0, 44100, 150, 0.3));
  view.loopIn = 10000;
  view.loopOut = 30123;
  const std::vector<uint8_t> before = Doc().audio.data;
  ASSERT_TRUE(registry.Run(cmd::kHanningCrossfade, context));
  EXPECT_EQ(context.stops, 1);
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Loop Crossfade (Hanning)");
  EXPECT_EQ(frame.Lines().back(), "Applied Hanning Crossfade (5030 samples / 114.06 ms).");
  EXPECT_NE(Doc().audio.data, before);
  EXPECT_TRUE(Doc().IsModified());
  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, before);

  view.loopIn = 50;
  view.loopOut = 350;
  ASSERT_TRUE(registry.Run(cmd::kEqualPowerCrossfade, context));
  EXPECT_EQ(LastBox(), "Not enough audio before loop start. Need 100 samples.");
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 0u);

  view.loopIn = view.loopOut = -1;
  ASSERT_TRUE(registry.Run(cmd::kEqualPowerCrossfade, context));
  EXPECT_EQ(LastBox(), "No valid loop region set.");
}

TEST_F(LoopCommandsTest, AlignPhaseMovesOnlyTheSelection) {
  Load(Sine(0.5, 44100, 441));
  view.loopIn = 1051;
  view.loopOut = 5001;
  const std::vector<uint8_t> before = Doc().audio.data;
  ASSERT_TRUE(registry.Run(cmd::kAlignPhase, context));
  EXPECT_EQ((view.loopIn - 1) % 100, 0);
  EXPECT_EQ(view.loopOut, 5001);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(context.stops, 0);
  EXPECT_EQ(frame.Lines().front(), "Adjusted loop start:");

  view.loopIn = view.loopOut = -1;
  ASSERT_TRUE(registry.Run(cmd::kAlignPhase, context));
  EXPECT_EQ(LastBox(), "No valid loop region set. Use Playback > Set Loop In/Out first.");
}

TEST_F(LoopCommandsTest, ZeroCrossingSnapAndTheTwoHundredMillisecondAlignment) {
  Load(Sine(1.0, 44100, 100));
  view.loopIn = 1000;
  view.loopOut = 5000;
  ASSERT_TRUE(registry.Run(cmd::kSetInOutToZeroCrossing, context));
  EXPECT_EQ(view.loopIn, 883);
  EXPECT_EQ(view.loopOut, 4852);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(frame.Lines().back(),
            "Loop points snapped to zero-crossings. Start: 1000 -> 883 (-117). End: 5000 -> 4852 (-148).");
  Doc().SetModifiedFlag(false);
  ASSERT_TRUE(registry.Run(cmd::kSetInOutToZeroCrossing, context));
  EXPECT_EQ(LastBox(), "Loop points are already at the nearest zero-crossings.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Information);
  EXPECT_FALSE(Doc().IsModified());

  view.loopIn = 10000;
  view.loopOut = 30000;
  ASSERT_TRUE(registry.Run(cmd::kAlignLoopingPoints, context));
  EXPECT_EQ(view.loopIn % 441, 0);
  EXPECT_EQ(view.loopOut % 441, 0);
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Auto-Loop Optimization");
  EXPECT_THAT(frame.Lines().back(), StartsWith("Auto-Loop: Adjusted Start "));
}

}  // namespace
}  // namespace zandrel

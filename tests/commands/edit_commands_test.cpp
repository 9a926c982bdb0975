// The document's and the region edits' commands, run through the registry
// with a headless context.
#include <gmock/gmock.h>

#include "commands/commands.h"
#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/processing_commands.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using Ev = RecordingObserver::Event;

class EditCommandsTest : public DocumentTest {
 protected:
  EditCommandsTest() { DeclareCoreCommands(registry); }
  // A mono 16-bit ramp of |frames| frames with one region over it.
  void Open(int64_t frames) {
    OpenRamp(frames);
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = {Region{0, frames, -1, -1, 0, 127, 60}};
    frame.log.Clear();
    observer.events.clear();
  }

  CommandRegistry registry;
  ViewSelection view;
  BasicCommandContext context{&Doc(), &view};
};

TEST_F(EditCommandsTest, DeleteWavDataChangesNothingBeforeItsQueuedEditRuns) {
  Open(10000);
  view.loopIn = 2000;
  view.loopOut = 3000;
  view.loopPlayback = true;
  view.selectedRegion = 0;
  view.beatMarkers = {100, 5000};
  ASSERT_TRUE(registry.Run(cmd::kDeleteWavData, context));
  EXPECT_EQ(context.PendingTasks(), 1u);
  EXPECT_EQ(Doc().FrameCount(), 10000);
  EXPECT_EQ(view.beatMarkers, (std::vector<int64_t>{100, 5000}));
  EXPECT_EQ(view.loopIn, 2000);
  EXPECT_TRUE(observer.events.empty());

  EXPECT_EQ(context.RunPosted(), 1);
  EXPECT_EQ(Doc().FrameCount(), 9000);
  EXPECT_TRUE(view.beatMarkers.empty());
  EXPECT_EQ(view.loopIn, -1);
  EXPECT_EQ(view.loopOut, -1);
  EXPECT_EQ(view.selectedRegion, -1);
  // One audio change (one peak rebuild in the view), then the selection.
  EXPECT_EQ(observer.Significant(), (std::vector<Ev>{Ev::kStop, Ev::kAudio, Ev::kSelection}));
}

TEST_F(EditCommandsTest, ARefusedDeleteWavDataKeepsTheBeatMarkers) {
  Open(10000);
  view.beatMarkers = {100, 5000};
  view.cursorFrame = 400;
  ASSERT_TRUE(registry.Run(cmd::kDeleteWavData, context));
  context.RunPosted();
  EXPECT_EQ(host.Texts().back(), "Please set loop points first (loop start and loop end).");
  EXPECT_EQ(Doc().FrameCount(), 10000);
  EXPECT_EQ(view.beatMarkers, (std::vector<int64_t>{100, 5000}));
  EXPECT_EQ(view.cursorFrame, 400);
  EXPECT_TRUE(observer.Significant().empty());
}

TEST_F(EditCommandsTest, SplitReadsTheCursorWhenItRuns) {
  Open(5000);
  view.cursorFrame = 1000;
  ASSERT_TRUE(registry.Run(cmd::kSplitAtCursor, context));
  view.cursorFrame = 3000;  // moved before the queued split ran
  context.RunPosted();
  ASSERT_EQ(Doc().instrument.regions.size(), 2u);
  EXPECT_EQ(Doc().instrument.regions[1].startSample, 3000);
  EXPECT_EQ(frame.Lines().back(), "Region split at sample 3000. Created 2 regions total.");

  // Remove Selected Region takes the region selected when it runs.
  view.selectedRegion = 1;
  ASSERT_TRUE(registry.Run(cmd::kRemoveSelectedRegion, context));
  context.RunPosted();
  EXPECT_THAT(Doc().instrument.regions, ElementsAre(Region{0, 5000, -1, -1, 0, 127, 60}));
  EXPECT_EQ(view.selectedRegion, -1);
}

TEST_F(EditCommandsTest, UndoAndRedoAreEnabledByTheHistory) {
  Open(5000);
  EXPECT_FALSE(registry.Enabled(cmd::kEditUndo, context));
  view.cursorFrame = 1000;
  registry.Run(cmd::kSplitAtCursor, context);
  context.RunPosted();
  EXPECT_TRUE(registry.Enabled(cmd::kEditUndo, context));
  EXPECT_FALSE(registry.Enabled(cmd::kEditRedo, context));
  ASSERT_TRUE(registry.Run(cmd::kEditUndo, context));
  EXPECT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_TRUE(registry.Enabled(cmd::kEditRedo, context));
  ASSERT_TRUE(registry.Run(cmd::kEditRedo, context));
  EXPECT_EQ(Doc().instrument.regions.size(), 2u);

  // Without a document nothing is enabled that needs one.
  BasicCommandContext none(nullptr);
  for (int id : {cmd::kEditUndo, cmd::kSplitAtCursor, cmd::kDeleteWavData, cmd::kExportOverview})
    EXPECT_FALSE(registry.Enabled(id, none)) << id;
}

TEST_F(EditCommandsTest, PageEditsReadThePageWhenTheyRun) {
  Open(5000);
  view.selectedRegion = 0;
  Region page{0, 4000, -1, -1, 0, 127, 60};
  PostEditRegion(context, [&] { return page; });
  page.endSample = 3000;  // typed on before the queued edit ran
  InstrumentParams params = Doc().instrument.params;
  PostEditGlobal(context, [&] { return params; });
  params.rootNote = 48;
  EXPECT_EQ(context.RunPosted(), 2);
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 3000);
  EXPECT_EQ(Doc().instrument.params.rootNote, 48);
  EXPECT_THAT(frame.Lines(), ElementsAre("Updated Region", "Updated Global"));
}

}  // namespace
}  // namespace zandrel

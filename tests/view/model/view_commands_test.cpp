// The view's commands and how the view's model follows the region edits,
// through the registry with a headless context.
#include "view/model/view_commands.h"

#include <gmock/gmock.h>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

class ViewCommandsTest : public DocumentTest, public DocumentObserver {
 protected:
  void SetUp() override {
    OpenRamp(20000);
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 500;
    model->clientHeight = 300;
    model->ResetForDocument();
    DeclareCoreCommands(registry);
    DeclareViewCommands(registry, *model);
    context = std::make_unique<BasicCommandContext>(&Doc(), model.get());
    // The view follows the document as the widget does.
    Doc().AddObserver(this);
    frame.log.Clear();
  }
  void TearDown() override { Doc().RemoveObserver(this); }
  void OnDocumentChanged(DocumentChange change) override { model->Follow(change); }
  void OnSelectionChanged() override { ++selectionNotes; }

  std::unique_ptr<ViewModel> model;
  CommandRegistry registry;
  std::unique_ptr<BasicCommandContext> context;
  int selectionNotes = 0;
};

TEST_F(ViewCommandsTest, SelectionCommandsChangeTheModelAndAnnounceIt) {
  EXPECT_THAT(registry.Problems(), ::testing::IsEmpty());
  ASSERT_TRUE(registry.Run(cmd::kSelectAll, *context));
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 19999);
  EXPECT_TRUE(registry.Checked(cmd::kLoop, *context));
  EXPECT_EQ(selectionNotes, 1);

  ASSERT_TRUE(registry.Run(cmd::kLoop, *context));
  EXPECT_FALSE(registry.Checked(cmd::kLoop, *context));
  ASSERT_TRUE(registry.Run(cmd::kDeselect, *context));
  EXPECT_EQ(model->loopIn, -1);
  EXPECT_EQ(model->loopOut, -1);
  EXPECT_EQ(selectionNotes, 3);

  model->snapToZeroCrossing = false;
  model->SetCursorPosition(700);
  ASSERT_TRUE(registry.Run(cmd::kSetLoopOut, *context));
  model->SetCursorPosition(300);
  ASSERT_TRUE(registry.Run(cmd::kSetLoopIn, *context));
  EXPECT_EQ(model->loopIn, 300);
  EXPECT_EQ(model->loopOut, 700);
  EXPECT_THAT(frame.Lines(), ElementsAre("Selected entire waveform.", "Loop playback disabled."));
}

TEST_F(ViewCommandsTest, PlayStopShowsPlaybackAsItsCheckMark) {
  int starts = 0;
  int stops = 0;
  bool playing = false;
  model->hooks.isPlaying = [&] { return playing; };
  model->hooks.startPlayback = [&] { ++starts, playing = true; };
  model->hooks.stopPlayback = [&] { ++stops, playing = false; };
  context->playing = false;
  ASSERT_TRUE(registry.Run(cmd::kPlayStop, *context));
  ASSERT_TRUE(registry.Run(cmd::kPlayStop, *context));
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(stops, 1);
  context->playing = true;
  EXPECT_TRUE(registry.Checked(cmd::kPlayStop, *context));
}

TEST_F(ViewCommandsTest, DeleteWavDataRebuildsThePeaksOnceAfterItsQueuedEditRan) {
  model->beatMarkers = {100, 9000};
  model->loopIn = 5000;
  model->loopOut = 8000;
  const int64_t before = model->peakCache.Rebuilds();
  ASSERT_TRUE(registry.Run(cmd::kDeleteWavData, *context));
  // Queued: the view is as it was.
  EXPECT_EQ(model->beatMarkers, (std::vector<int64_t>{100, 9000}));
  EXPECT_EQ(model->peakCache.Rebuilds(), before);
  context->RunPosted();
  EXPECT_EQ(Doc().FrameCount(), 17000);
  EXPECT_EQ(model->peakCache.Rebuilds(), before + 1);
  EXPECT_EQ(model->peakCache.size(), (17000 + 255) / 256);
  EXPECT_TRUE(model->beatMarkers.empty());
  EXPECT_EQ(model->loopIn, -1);

  // Refused: no rebuild, the markers stay.
  model->beatMarkers = {100};
  ASSERT_TRUE(registry.Run(cmd::kDeleteWavData, *context));
  context->RunPosted();
  EXPECT_EQ(model->peakCache.Rebuilds(), before + 1);
  EXPECT_EQ(model->beatMarkers, (std::vector<int64_t>{100}));

  // The refusal left its undo entry (of the same audio); the entry before it
  // brings the removed audio back. One rebuild per undo.
  ASSERT_TRUE(registry.Run(cmd::kEditUndo, *context));
  EXPECT_EQ(Doc().FrameCount(), 17000);
  EXPECT_EQ(model->peakCache.Rebuilds(), before + 2);
  ASSERT_TRUE(registry.Run(cmd::kEditUndo, *context));
  EXPECT_EQ(Doc().FrameCount(), 20000);
  EXPECT_EQ(model->peakCache.Rebuilds(), before + 3);
}

}  // namespace
}  // namespace zandrel

// The view's commands and how the view's model follows the region edits,
// through the registry with a headless context.
#include "view/model/view_commands.h"

#include <gmock/gmock.h>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/pitch_commands.h"
#include "processing/processing_commands.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

// The pitch commands share the context menus; their dialogs are not opened here.
class NoPitchDialogs final : public PitchDialogs {
 public:
  bool RunTimeStretch(TimeStretchValues&) override { return false; }
  bool RunPitchShift(int&) override { return false; }
  bool RunPitchCorrection(PitchCorrectionValues&) override { return false; }
};

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
    DeclarePitchCommands(registry, noDialogs);
    context = std::make_unique<BasicCommandContext>(&Doc(), model.get());
    // The view follows the document as the widget does.
    Doc().AddObserver(this);
    frame.log.Clear();
  }
  void TearDown() override { Doc().RemoveObserver(this); }
  void OnDocumentChanged(DocumentChange change) override { model->Follow(change); }
  void OnSelectionChanged() override { ++selectionNotes; }

  std::unique_ptr<ViewModel> model;
  NoPitchDialogs noDialogs;
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

// A menu as texts, "-" for a separator.
std::vector<std::string> Texts(const std::vector<MenuEntry>& entries) {
  std::vector<std::string> out;
  for (const MenuEntry& e : entries) out.push_back(e.kind == MenuEntry::Kind::kSeparator ? "-" : e.text);
  return out;
}

TEST_F(ViewCommandsTest, TheFourContextMenusHoldTheirItemsInOrder) {
  EXPECT_THAT(Texts(registry.ContextMenu("Edit")),
              ElementsAre("Split Region", "Set Left Loop Point", "Set Right Loop Point", "-", "&Undo\tCtrl+Z",
                          "Redo\tCtrl+Y", "-", "&Copy Position as text", "-", "&Paste\tCtrl+V"));
  EXPECT_THAT(Texts(registry.ContextMenu("Region Bar")),
              ElementsAre("Remove Region", "Remove Region's loop", "Remove and Delete Wave", "-",
                          "Find and Set Root Note", "Normalize", "Auto-Tune...", "-", "&Copy\tCtrl+C",
                          "&Paste\tCtrl+V"));
  EXPECT_THAT(Texts(registry.ContextMenu("Piano Roll")), ElementsAre("Edit Key Boundaries", "-", "Set Root Note"));
  EXPECT_THAT(Texts(registry.ContextMenu("Loop Region")),
              ElementsAre("Split Region", "Set Left Loop Point", "Set Right Loop Point", "-", "Fade Out EXP",
                          "Equal-Power Crossfade", "Set IN/OUT to Zero Crossing", "-", "&Undo\tCtrl+Z",
                          "Redo\tCtrl+Y", "-", "&Copy\tCtrl+C", "&Paste\tCtrl+V"));
}

TEST_F(ViewCommandsTest, LeftAndRightLoopPointsNeedTheCursorAndSnapToRisingCrossings) {
  // Without a cursor both are greyed out and do nothing.
  model->SetCursorPosition(-1);
  model->cursorFrame = -1;
  EXPECT_FALSE(registry.Enabled(cmd::kSetLeftLoopPoint, *context));
  EXPECT_FALSE(registry.Enabled(cmd::kSetRightLoopPoint, *context));
  EXPECT_FALSE(registry.Run(cmd::kSetRightLoopPoint, *context));
  EXPECT_EQ(model->loopOut, -1);

  // The ramp rises through zero at frame 1 only (16-bit samples 0, 1, 2, ...
  // wrap at 32768 to -32768 and rise again at 65537): with the snap on a
  // cursor within 10 ms of frame 1 lands there.
  model->SetCursorPosition(300);
  ASSERT_TRUE(registry.Enabled(cmd::kSetRightLoopPoint, *context));
  ASSERT_TRUE(registry.Run(cmd::kSetRightLoopPoint, *context));
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 1);
  EXPECT_TRUE(model->loopPlayback);

  model->snapToZeroCrossing = false;
  model->SetCursorPosition(12000);
  ASSERT_TRUE(registry.Run(cmd::kSetRightLoopPoint, *context));
  model->SetCursorPosition(4000);
  ASSERT_TRUE(registry.Run(cmd::kSetLeftLoopPoint, *context));
  EXPECT_EQ(model->loopIn, 4000);
  EXPECT_EQ(model->loopOut, 12000);
}

TEST_F(ViewCommandsTest, CopyPositionPutsTheCursorFrameOnTheClipboard) {
  CommandRegistry own;
  std::vector<std::string> clipboard;
  DeclareViewCommands(own, *model, [&](const std::string& text) { clipboard.push_back(text); });
  model->cursorFrame = -1;
  EXPECT_FALSE(own.Run(cmd::kCopyPositionAsText, *context));
  model->SetCursorPosition(12345);
  ASSERT_TRUE(own.Run(cmd::kCopyPositionAsText, *context));
  EXPECT_THAT(clipboard, ElementsAre("12345"));
}

TEST_F(ViewCommandsTest, SettingsTogglesKeepTheirValuesAndCheckMarks) {
  MemorySettings settings;
  ScopedSettingsStore scope(&settings);
  int repaints = 0;
  model->hooks.repaint = [&] { ++repaints; };

  struct Case {
    int id;
    bool ViewModel::*flag;
    const char* key;  // nullptr: not kept
  };
  const Case cases[] = {
      {cmd::kShowLoupe, &ViewModel::showLoupe, "ShowLoupeWhenDragging"},
      {cmd::kScrollWheelZoom, &ViewModel::scrollWheelZoom, "ScrollWheelZoom"},
      {cmd::kPlayAnimation, &ViewModel::playAnimation, "PlayAnimationOnEmptyScreen"},
      {cmd::kEditKeyBoundaries, &ViewModel::editKeyBoundaries, nullptr},
      {cmd::kFollowPlayhead, &ViewModel::followPlayhead, nullptr},
      {cmd::kSnapToZeroCrossing, &ViewModel::snapToZeroCrossing, nullptr},
      {cmd::kSpectrum, &ViewModel::showSpectrum, nullptr},
  };
  for (const Case& c : cases) {
    const bool before = (*model).*c.flag;
    ASSERT_TRUE(registry.Run(c.id, *context)) << c.id;
    EXPECT_EQ((*model).*c.flag, !before) << c.id;
    EXPECT_EQ(registry.Checked(c.id, *context), !before) << c.id;
    if (c.key) {
      EXPECT_EQ(settings.GetInt("Settings", c.key, -1), before ? 0 : 1) << c.key;
    }
    ASSERT_TRUE(registry.Run(c.id, *context));
    EXPECT_EQ((*model).*c.flag, before) << c.id;
  }
  // The snap starts on and says what it became.
  EXPECT_THAT(frame.Lines(), ElementsAre("Snap to zero-crossing disabled.", "Snap to zero-crossing enabled."));
  EXPECT_GT(repaints, 0);

  // One timeline at a time.
  ASSERT_TRUE(registry.Run(cmd::kTimelineBeats, *context));
  EXPECT_EQ(model->timelineMode, TimelineMode::kBeats);
  EXPECT_TRUE(registry.Checked(cmd::kTimelineBeats, *context));
  EXPECT_FALSE(registry.Checked(cmd::kTimelineTime, *context));
  ASSERT_TRUE(registry.Run(cmd::kTimelineFrames, *context));
  EXPECT_EQ(model->timelineMode, TimelineMode::kFrames);

  // The save's limit: off, then back to 20 seconds, without marking the
  // document modified.
  Doc().timeLimit = 20.0f;
  Doc().SetModifiedFlag(false);
  ASSERT_TRUE(registry.Run(cmd::kTrimToEpLimits, *context));
  EXPECT_EQ(Doc().timeLimit, -1.0f);
  EXPECT_EQ(settings.GetInt("Settings", "MaxCutoffTime", 0), 100000);
  EXPECT_FALSE(registry.Checked(cmd::kTrimToEpLimits, *context));
  ASSERT_TRUE(registry.Run(cmd::kTrimToEpLimits, *context));
  EXPECT_EQ(Doc().timeLimit, 20.0f);
  EXPECT_EQ(settings.GetInt("Settings", "MaxCutoffTime", 0), 2000);
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(ViewCommandsTest, ToolCommandsChooseOneToolAtATime) {
  int repaints = 0;
  model->hooks.repaint = [&] { ++repaints; };
  const int tools[] = {cmd::kNormalTool,     cmd::kNormalSpare,      cmd::kPaintTool, cmd::kSelectionTool,
                       cmd::kRearrangeTool, cmd::kTimeStretchTool, cmd::kRetimeTool};
  // The mark shows the tool in use, on every item of it.
  auto marked = [&] {
    std::vector<int> ids;
    for (int id : tools)
      if (registry.Checked(id, *context)) ids.push_back(id);
    return ids;
  };
  EXPECT_THAT(marked(), ElementsAre(cmd::kNormalTool, cmd::kNormalSpare));

  struct Case {
    int id;
    ToolMode mode;
  };
  const Case cases[] = {{cmd::kPaintTool, ToolMode::kPaint},
                        {cmd::kSelectionTool, ToolMode::kSelection},
                        {cmd::kRearrangeTool, ToolMode::kRearrange},
                        {cmd::kTimeStretchTool, ToolMode::kTimeStretch},
                        {cmd::kRetimeTool, ToolMode::kRetime}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    model->toolMode = ToolMode::kNormal;
    EXPECT_TRUE(registry.Enabled(c.id, *context));
    const int paints = repaints;
    ASSERT_TRUE(registry.Run(c.id, *context));
    EXPECT_EQ(model->toolMode, c.mode);
    EXPECT_THAT(marked(), ElementsAre(c.id));
    EXPECT_GT(repaints, paints);
    // From another tool straight to this one.
    model->toolMode = c.mode == ToolMode::kPaint ? ToolMode::kRetime : ToolMode::kPaint;
    ASSERT_TRUE(registry.Run(c.id, *context));
    EXPECT_EQ(model->toolMode, c.mode);
    // Chosen again: back to Normal.
    ASSERT_TRUE(registry.Run(c.id, *context));
    EXPECT_EQ(model->toolMode, ToolMode::kNormal);
    // Both Normal items end any tool and stay on Normal.
    for (int normal : {cmd::kNormalTool, cmd::kNormalSpare}) {
      model->toolMode = c.mode;
      ASSERT_TRUE(registry.Run(normal, *context));
      EXPECT_EQ(model->toolMode, ToolMode::kNormal);
      ASSERT_TRUE(registry.Run(normal, *context));
      EXPECT_EQ(model->toolMode, ToolMode::kNormal);
    }
  }
  // Their texts, as the menus show them; "Normal " is only in no menu.
  EXPECT_EQ(registry.Find(cmd::kRearrangeTool)->text, "Rearange Tool ");
  EXPECT_EQ(registry.Find(cmd::kTimeStretchTool)->text, "Time Stretch Tool\n");
  EXPECT_EQ(registry.Find(cmd::kNormalSpare)->text, "Normal ");
  EXPECT_TRUE(registry.Find(cmd::kNormalSpare)->menus.empty());
  EXPECT_EQ(registry.PlainText(cmd::kTimeStretchTool), "Time Stretch Tool");
}

TEST_F(ViewCommandsTest, SpectrumToggleAndAudioChangesInvalidateTheCachedSpectrum) {
  const Command* spectrum = registry.Find(cmd::kSpectrum);
  ASSERT_NE(spectrum, nullptr);
  EXPECT_EQ(spectrum->text, "Spectrum");
  auto build = [&] { return model->spectrum.Build(Doc().audio, model->viewStart, model->framesPerPixel, 500); };
  ASSERT_TRUE(build());
  ASSERT_FALSE(build());
  ASSERT_TRUE(registry.Run(cmd::kSpectrum, *context));
  EXPECT_TRUE(model->showSpectrum);
  EXPECT_TRUE(model->spectrum.IsInvalid());
  ASSERT_TRUE(build());
  // Whatever changed the audio, the next paint computes the spectrum again.
  Doc().UpdateAllViews(DocumentChange::kAudio);
  EXPECT_TRUE(model->spectrum.IsInvalid());
  ASSERT_TRUE(build());
  Doc().UpdateAllViews(DocumentChange::kReplaced);
  EXPECT_TRUE(model->spectrum.IsInvalid());
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

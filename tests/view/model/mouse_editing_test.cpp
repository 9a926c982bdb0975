#include "view/model/mouse_editing.h"

#include <gmock/gmock.h>

#include "document/document_fixture.h"
#include "view/model/view_drawing.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;

Region MakeRegion(int64_t start, int64_t end, int lo = 0, int hi = 127, int root = 60) {
  Region r;
  r.startSample = start;
  r.endSample = end;
  r.loKey = lo;
  r.hiKey = hi;
  r.rootNote = root;
  return r;
}

// A 1000 x 400 view of a 1,000,000-frame ramp at 44100 Hz (samples 0, 1,
// 2, ... as 16-bit, so the audio rises through zero at frames 1, 65537,
// 131073, ...). The region bar is y 0..39, the waveform area y 40..359, the
// compact piano strip y 360..399.
class MouseEditingTest : public DocumentTest {
 protected:
  void SetUp() override {
    OpenRamp(1000000);
    view = std::make_unique<ViewModel>(Doc());
    view->clientWidth = 1000;
    view->clientHeight = 400;
    view->ResetForDocument();
    view->framesPerPixel = 100.0f;
    view->viewStart = 0.0;
    view->snapToZeroCrossing = false;
    view->hooks.showRegion = [this](const Region&, int index) { shownRegions.push_back(index); };
    mouse = std::make_unique<MouseEditing>(*view);
    frame.log.Clear();
    observer.events.clear();
  }
  void WithRegions(std::vector<Region> regions) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = std::move(regions);
  }
  // A paint records the hit rectangles the mouse handling tests.
  void Paint() {
    DrawList list;
    ViewDrawing(*view, list).OnDraw(view->clientWidth, view->clientHeight);
  }
  void Drag(int x0, int y0, int x1, int y1, MouseModifiers mods = {}) {
    Paint();
    ASSERT_TRUE(mouse->Press(x0, y0, mods));
    mouse->Move(x1, y1, mods);
    mouse->Release(x1, y1, mods);
  }
  std::vector<std::string> Log() const { return frame.Lines(); }
  const std::vector<Region>& Regions() { return Doc().instrument.regions; }
  std::string LastUndo() { return Doc().undoHistory.undoStack.empty() ? "" : Doc().undoHistory.undoStack.back().description; }
  bool Notified(RecordingObserver::Event e) const {
    return std::find(observer.events.begin(), observer.events.end(), e) != observer.events.end();
  }

  std::unique_ptr<ViewModel> view;
  std::unique_ptr<MouseEditing> mouse;
  std::vector<int> shownRegions;
};

TEST_F(MouseEditingTest, ClickPlacesTheCursorAndScrubsWhileHeld) {
  Paint();
  ASSERT_TRUE(mouse->Press(123, 200, {}));
  EXPECT_EQ(view->dragOperation, kDragCursor);
  EXPECT_TRUE(mouse->captured);
  EXPECT_EQ(view->cursorFrame, 12300);
  EXPECT_EQ(view->playAnchor, 12300);
  EXPECT_THAT(Log(), ElementsAre("Cursor at sample: 12300"));
  EXPECT_TRUE(Notified(RecordingObserver::kSelection));

  mouse->Move(400, 210, {});
  EXPECT_EQ(view->cursorFrame, 40000);
  mouse->Move(-50, 210, {});
  EXPECT_EQ(view->cursorFrame, 0);  // clamped to the audio
  EXPECT_TRUE(mouse->Release(-50, 210, {}));
  EXPECT_EQ(view->dragOperation, kDragNone);
  EXPECT_FALSE(mouse->captured);
  EXPECT_FALSE(mouse->Move(10, 10, {}));  // no drag: the framework's handling
}

TEST_F(MouseEditingTest, ClickInARegionSelectsItAndShowsItAtOnce) {
  WithRegions({MakeRegion(0, 30000), MakeRegion(30000, 90000)});
  Paint();
  mouse->Press(500, 200, {});
  EXPECT_EQ(view->selectedRegion, 1);
  EXPECT_THAT(shownRegions, ElementsAre(1));
  EXPECT_THAT(Log(), ElementsAre("Cursor at sample: 50000. Region 2 selected."));
}

TEST_F(MouseEditingTest, ClickWhilePlayingRestartsPlaybackAtTheClick) {
  std::vector<std::string> calls;
  bool playing = true;
  view->hooks.isPlaying = [&] { return playing; };
  view->hooks.stopPlayback = [&] { calls.push_back("stop"); };
  view->hooks.startPlayback = [&] { calls.push_back("start@" + std::to_string(view->cursorFrame)); };
  Paint();
  mouse->Press(300, 200, {});
  EXPECT_THAT(calls, ElementsAre("stop", "start@30000"));
}

TEST_F(MouseEditingTest, CursorClickSnapsToTheNextRisingZeroCrossing) {
  view->snapToZeroCrossing = true;
  Paint();
  mouse->Press(654, 200, {});  // frame 65400; the ramp rises through zero at 65537
  EXPECT_EQ(view->cursorFrame, 65537);
  mouse->Release(654, 200, {});
  view->snapToZeroCrossing = false;
  mouse->Press(654, 200, {});
  EXPECT_EQ(view->cursorFrame, 65400);
}

TEST_F(MouseEditingTest, BeatsTimelineSnapsClicksToSixteenthNotes) {
  view->timelineMode = TimelineMode::kBeats;
  Doc().instrument.params.bpm = 0.0f;  // no tempo: 120 BPM, a sixteenth is 5512.5 frames
  Paint();
  mouse->Press(80, 200, {});
  EXPECT_EQ(view->cursorFrame, 5512);
  mouse->Release(80, 200, {});
  mouse->Press(90, 200, {});
  EXPECT_EQ(view->cursorFrame, 11025);
}

TEST_F(MouseEditingTest, CtrlDragDrawsASelectionAroundItsStartingPoint) {
  Paint();
  ASSERT_TRUE(mouse->Press(100, 200, {.ctrl = true}));
  EXPECT_EQ(view->dragOperation, kDragNewLoop);
  EXPECT_TRUE(view->loopPlayback);
  mouse->Move(300, 200, {.ctrl = true});
  EXPECT_EQ(view->loopIn, 10000);
  EXPECT_EQ(view->loopOut, 30000);
  // Back past the start: the starting point stays one end.
  mouse->Move(50, 200, {.ctrl = true});
  EXPECT_EQ(view->loopIn, 5000);
  EXPECT_EQ(view->loopOut, 10000);
  mouse->Release(50, 200, {.ctrl = true});
  EXPECT_THAT(Log(), ElementsAre("Creating loop region from sample 10000. Drag to set loop end.",
                                 "Loop region created: Start=5000, End=10000, Length=5000 samples"));
  EXPECT_EQ(view->dragOperation, kDragNone);
}

TEST_F(MouseEditingTest, ASelectionStartedInTheMarginRightOfTheAudioStaysInsideIt) {
  view->viewStart = 950000.0;  // x = 500 is the audio's end, x = 600 frame 1,010,000
  Paint();
  ASSERT_TRUE(mouse->Press(600, 200, {.ctrl = true}));
  EXPECT_EQ(view->loopIn, 1000000);
  EXPECT_EQ(view->loopOut, 1000000);
  mouse->Move(300, 200, {.ctrl = true});  // frame 980000
  mouse->Release(300, 200, {.ctrl = true});
  EXPECT_EQ(view->loopIn, 980000);
  EXPECT_EQ(view->loopOut, 1000000);
}

TEST_F(MouseEditingTest, CtrlClickWithoutDraggingDropsTheSelectionAndMovesTheCursor) {
  Drag(100, 200, 101, 200, {.ctrl = true});  // 100 frames: under two pixels (200 frames)
  EXPECT_EQ(view->loopIn, -1);
  EXPECT_EQ(view->loopOut, -1);
  EXPECT_FALSE(view->loopPlayback);
  EXPECT_EQ(view->cursorFrame, 10000);
  EXPECT_EQ(Log().back(), "Loop region created: Start=-1, End=-1, Length=0 samples");
}

TEST_F(MouseEditingTest, SelectionToolDrawsWithoutCtrlAndBeatGridAppliesDespiteCtrl) {
  view->toolMode = ToolMode::kSelection;
  Drag(100, 200, 400, 200);
  EXPECT_EQ(view->loopIn, 10000);
  EXPECT_EQ(view->loopOut, 40000);

  view->toolMode = ToolMode::kNormal;
  view->timelineMode = TimelineMode::kBeats;
  view->ClearLoop();
  Drag(100, 200, 400, 200, {.ctrl = true});
  // The grid applies to the drag's moves; the press, made before the drag
  // began, keeps its frame with Ctrl held.
  EXPECT_EQ(view->loopIn, 10000);
  EXPECT_EQ(view->loopOut, 38587);  // 40000 on the grid: 7 x 5512.5
}

TEST_F(MouseEditingTest, MovingTheSelectionKeepsItsLengthUntilItMeetsTheEnd) {
  view->framesPerPixel = 1000.0f;
  view->loopIn = 100000;
  view->loopOut = 200000;
  Paint();
  ASSERT_FALSE(view->selectionBarRect.IsEmpty());
  ASSERT_TRUE(mouse->Press(150, 60, {}));  // in the selection bar (y 53..72)
  EXPECT_EQ(view->dragOperation, kDragMoveSelection);
  mouse->Move(400, 60, {});
  EXPECT_EQ(view->loopIn, 350000);
  EXPECT_EQ(view->loopOut, 450000);
  // Past the end of the audio the end stays at the frame count.
  mouse->Move(1000 + 100, 60, {});
  EXPECT_EQ(view->loopOut, 1000000);
  EXPECT_EQ(view->loopIn, 949999);  // the mouse's frame is clamped to the last frame
  mouse->Move(960, 60, {});
  EXPECT_EQ(view->loopIn, 910000);
  EXPECT_EQ(view->loopOut, 1000000);
  mouse->Release(960, 60, {});
  EXPECT_EQ(view->dragOperation, kDragNone);
}

TEST_F(MouseEditingTest, LoopMarkersMoveAndSwapRolesWhenCrossed) {
  view->loopIn = 10000;
  view->loopOut = 50000;
  Paint();
  ASSERT_TRUE(mouse->Press(100, 200, {}));
  EXPECT_EQ(view->dragOperation, kDragLoopIn);
  mouse->Move(300, 200, {});
  EXPECT_EQ(view->loopIn, 30000);
  EXPECT_EQ(view->loopOut, 50000);
  mouse->Move(700, 200, {});  // past the loop-out marker
  EXPECT_EQ(view->loopIn, 50000);
  EXPECT_EQ(view->loopOut, 70000);
  mouse->Move(600, 200, {});
  EXPECT_EQ(view->loopIn, 50000);  // the marker not grabbed stays
  EXPECT_EQ(view->loopOut, 60000);
  mouse->Release(600, 200, {});

  Paint();
  ASSERT_TRUE(mouse->Press(600, 200, {}));
  EXPECT_EQ(view->dragOperation, kDragLoopOut);
  mouse->Move(800, 200, {});
  EXPECT_EQ(view->loopOut, 80000);
  mouse->Release(800, 200, {});
}

TEST_F(MouseEditingTest, MagnifierFollowsTheMouseOnlyWhenZoomedOut) {
  view->loopIn = 10000;
  view->loopOut = 50000;
  Paint();
  mouse->Press(100, 300, {});
  mouse->Move(300, 300, {});  // below the client's middle (200): above the mouse
  EXPECT_TRUE(view->loupeVisible);
  const int s = 144;  // trunc(0.45 x 320)
  EXPECT_EQ(view->loupeRect, Rect::FromXYWH(300 - s / 2, 300 - s - 25, s, s));
  EXPECT_EQ(view->loupeFrame, 30000);
  mouse->Move(990, 100, {});  // upper half: below the mouse, kept inside the client
  EXPECT_EQ(view->loupeRect, Rect::FromXYWH(1000 - s, 125, s, s));
  mouse->Release(990, 100, {});
  EXPECT_FALSE(view->loupeVisible);

  view->framesPerPixel = 5.5f;
  view->loopIn = 100;
  view->loopOut = 2000;
  Paint();
  ASSERT_TRUE(mouse->Press(view->XAtFrame(100), 300, {}));
  mouse->Move(200, 300, {});
  EXPECT_FALSE(view->loupeVisible);
  mouse->Release(200, 300, {});
}

// Regions [0, 100000), [100000, 200000), [200000, 300000); at 100 frames per
// pixel the boundary tolerance is trunc(5 x 100) = 500 frames.
class BoundaryDragTest : public MouseEditingTest {
 protected:
  void SetUp() override {
    MouseEditingTest::SetUp();
    WithRegions({MakeRegion(0, 100000), MakeRegion(100000, 200000), MakeRegion(200000, 300000)});
    view->viewStart = 90000.0;  // x = 100 is frame 100000
    Doc().undoHistory.Clear();
  }
};

TEST_F(BoundaryDragTest, GrabWithinToleranceRecordsUndoEvenWithoutMovement) {
  Paint();
  ASSERT_TRUE(mouse->Press(105, 20, {}));  // frame 100500: region 1's end, 500 away
  EXPECT_EQ(view->dragOperation, kDragRegionBoundary);
  EXPECT_EQ(mouse->dragRegion, 0);
  EXPECT_TRUE(mouse->dragRegionEnd);
  EXPECT_EQ(view->selectedRegion, 0);
  EXPECT_EQ(LastUndo(), "Drag Region Boundary");
  EXPECT_EQ(Log().back(), "Region 1 end boundary selected for dragging.");
  mouse->Release(105, 20, {});
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 1u);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(Regions()[0].endSample, 100000);
}

TEST_F(BoundaryDragTest, ToleranceIsTruncatedFivePixelsOfFrames) {
  view->framesPerPixel = 100.9f;  // tolerance trunc(504.5) = 504, not 505
  view->viewStart = 100505.0 - 100 * 100.9f;
  Paint();
  const int hitX = 99;  // frame 100404
  const int missX = 100;  // frame 100505
  ASSERT_EQ(view->FrameAtX(missX), 100505);
  EXPECT_TRUE(mouse->BeginBoundaryDrag(hitX, 20));
  mouse->Release(hitX, 20, {});
  EXPECT_FALSE(mouse->BeginBoundaryDrag(missX, 20));
  // Outside the tolerance a click in the bar selects the region under it.
  ASSERT_TRUE(mouse->Press(missX, 20, {}));
  EXPECT_EQ(view->selectedRegion, 1);
  EXPECT_EQ(view->loopIn, 100000);
  EXPECT_EQ(view->loopOut, 200000);
  EXPECT_THAT(shownRegions, Contains(1));
}

TEST_F(BoundaryDragTest, EndBoundaryStopsShortOfTheNextRegionsEndAndReleaseCleansUp) {
  Paint();
  mouse->Press(100, 20, {});
  mouse->Move(999, 20, {});  // frame 189900
  EXPECT_EQ(Regions()[0].endSample, 189900);
  EXPECT_EQ(Regions()[1].startSample, 189900);
  view->viewStart = 150000.0;
  mouse->Move(900, 20, {});  // frame 240000: past region 2's end
  EXPECT_EQ(Regions()[0].endSample, 199999);
  EXPECT_EQ(Regions()[1].startSample, 199999);
  EXPECT_EQ(Regions()[1].Length(), 1);
  observer.events.clear();
  mouse->Release(900, 20, {});
  // The one-frame region is removed; the change is marked and announced.
  ASSERT_EQ(Regions().size(), 2u);
  EXPECT_EQ(Regions()[0].endSample, 199999);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_TRUE(Notified(RecordingObserver::kInstrument));
  EXPECT_EQ(Log().back(),
            "Region 1 end boundary moved to sample 199999. Region 1: [0 - 199999], Region 2: [200000 - 300000]");
  EXPECT_EQ(mouse->dragRegion, -1);
}

// A boundary dragged across a region's loop takes the loop along into the
// region, or removes it when nothing of it is left, and says so.
TEST_F(BoundaryDragTest, LoopsStayInsideTheirRegionsAfterABoundaryDrag) {
  Region a = MakeRegion(0, 100000), b = MakeRegion(100000, 200000);
  a.loopStart = 60000;
  a.loopEnd = 90000;
  b.loopStart = 110000;
  b.loopEnd = 190000;
  WithRegions({a, b});
  view->viewStart = 0.0;
  view->framesPerPixel = 200.0f;  // x = 500 is frame 100000
  Drag(500, 20, 350, 20);         // region 1's end to 70000
  ASSERT_EQ(Regions()[0].endSample, 70000);
  EXPECT_EQ(Regions()[0].loopStart, 60000);
  EXPECT_EQ(Regions()[0].loopEnd, 70000);
  EXPECT_EQ(Regions()[1].loopStart, 110000);  // still inside its region: untouched
  EXPECT_EQ(Regions()[1].loopEnd, 190000);
  EXPECT_THAT(Log(), Contains("Region 1 loop clamped into the region: Start=60000, End=70000."));
  Drag(350, 20, 250, 20);  // to 50000: nothing of the loop is left
  ASSERT_EQ(Regions()[0].endSample, 50000);
  EXPECT_FALSE(Regions()[0].HasLoop());
  EXPECT_THAT(Log(), Contains("Region 1 loop removed: it lay outside the region."));
  // Undo gives the loop back with the boundary.
  Doc().Undo();
  Doc().Undo();
  EXPECT_EQ(Regions()[0].loopEnd, 90000);
}

// While the boundary moves, whoever follows the selection (the Region page)
// sees the region where it now is.
TEST_F(BoundaryDragTest, TheSelectionChangeDuringADragShowsTheNewBoundary) {
  struct Watcher : DocumentObserver {
    CQuorvelDoc* doc = nullptr;
    std::vector<int64_t> endsSeen;
    void OnSelectionChanged() override { endsSeen.push_back(doc->instrument.regions[0].endSample); }
  } watcher;
  watcher.doc = &Doc();
  Doc().AddObserver(&watcher);
  Paint();
  ASSERT_TRUE(mouse->Press(100, 20, {}));
  watcher.endsSeen.clear();
  mouse->Move(150, 20, {});  // frame 105000
  Doc().RemoveObserver(&watcher);
  ASSERT_FALSE(watcher.endsSeen.empty());
  EXPECT_EQ(watcher.endsSeen.back(), 105000);
  mouse->Release(150, 20, {});
}

TEST_F(BoundaryDragTest, StartBoundaryLogNamesBothRegions) {
  view->snapToZeroCrossing = true;  // no crossing within reach of 120000: the frame itself
  WithRegions({MakeRegion(0, 100000), MakeRegion(101000, 200000)});
  Paint();
  ASSERT_TRUE(mouse->Press(110, 20, {}));  // frame 101000
  EXPECT_FALSE(mouse->dragRegionEnd);
  EXPECT_EQ(mouse->dragRegion, 1);
  mouse->Move(300, 20, {});  // frame 120000
  mouse->Release(300, 20, {});
  EXPECT_EQ(Regions()[1].startSample, 120000);
  EXPECT_EQ(Regions()[0].endSample, 120000);
  EXPECT_EQ(Log().back(),
            "Region 2 start boundary moved to sample 120000. Region 1: [0 - 120000], Region 2: [120000 - 200000]");
}

TEST_F(BoundaryDragTest, ZeroSnappedBoundaryIsClampedAgain) {
  view->snapToZeroCrossing = true;
  WithRegions({MakeRegion(0, 60000), MakeRegion(60000, 65300)});
  view->viewStart = 0.0;
  Paint();
  mouse->Press(600, 20, {});
  mouse->Move(652, 20, {});  // 65200 snaps to the crossing at 65537, past region 2's end - 1
  EXPECT_EQ(Regions()[0].endSample, 65299);
  mouse->Release(652, 20, {});
}

TEST_F(BoundaryDragTest, BeatSnappedBoundaryIsClampedAgain) {
  // A beat grid of 5512.5 frames; region 1 is [10000, 14000).
  view->timelineMode = TimelineMode::kBeats;
  view->framesPerPixel = 10.0f;
  view->viewStart = 5000.0;
  WithRegions({MakeRegion(1000, 10000), MakeRegion(10000, 14000), MakeRegion(14000, 50000)});
  Paint();
  ASSERT_TRUE(mouse->Press(500, 20, {}));  // region 1's end (frame 10000)
  ASSERT_EQ(mouse->dragRegion, 0);
  mouse->Move(899, 20, {});  // 13990 on the grid is 16537: past region 2's end - 1
  EXPECT_EQ(Regions()[0].endSample, 13999);
  EXPECT_LE(Regions()[1].startSample, Regions()[1].endSample);
  mouse->Release(899, 20, {});

  // A start boundary cannot be snapped below its lower limit either.
  WithRegions({MakeRegion(1000, 10000), MakeRegion(10000, 50000)});
  mouse->dragRegion = 1;
  mouse->dragRegionEnd = false;
  mouse->DragRegionBoundary(1001);  // the grid's 0 is below region 1's start + 1
  EXPECT_EQ(Regions()[1].startSample, 1001);
  EXPECT_EQ(Regions()[0].endSample, 1001);
  EXPECT_GT(Regions()[0].Length(), 0);
}

TEST_F(BoundaryDragTest, SelectionToolReleaseStillFinishesAChangedRegionDrag) {
  view->toolMode = ToolMode::kSelection;
  Paint();
  mouse->Press(100, 20, {});
  mouse->Move(999, 20, {});
  view->viewStart = 150000.0;
  mouse->Move(900, 20, {});  // region 2 left with one frame
  observer.events.clear();
  mouse->Release(900, 20, {});
  EXPECT_EQ(Regions().size(), 2u);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_TRUE(Notified(RecordingObserver::kInstrument));
  EXPECT_EQ(view->dragOperation, kDragNone);
}

TEST_F(BoundaryDragTest, SelectionToolGrabWithoutChangeLeavesTheDocumentAlone) {
  view->toolMode = ToolMode::kSelection;
  Paint();
  mouse->Press(100, 20, {});
  mouse->Release(100, 20, {});
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(Regions().size(), 3u);
  EXPECT_EQ(LastUndo(), "Drag Region Boundary");
}

TEST_F(MouseEditingTest, RegionLoopHandlesStayInsideTheRegionAndTheLoop) {
  Region r = MakeRegion(10000, 100000);
  r.loopStart = 20000;
  r.loopEnd = 80000;
  WithRegions({r});
  Paint();
  ASSERT_TRUE(mouse->Press(200, 45, {}));  // loop start's handle: x 195..204, y 40..50
  EXPECT_EQ(view->dragOperation, kDragRegionLoopStart);
  EXPECT_EQ(LastUndo(), "Drag Region Loop Start");
  mouse->Move(900, 45, {});
  EXPECT_EQ(Regions()[0].loopStart, 79999);
  mouse->Move(20, 45, {});
  EXPECT_EQ(Regions()[0].loopStart, 10000);
  mouse->Release(20, 45, {});
  EXPECT_EQ(Log().back(), "Region 1 loop points updated: Start=10000, End=80000.");
  EXPECT_TRUE(Doc().IsModified());

  Paint();
  ASSERT_TRUE(mouse->Press(800, 50, {}));
  EXPECT_EQ(view->dragOperation, kDragRegionLoopEnd);
  EXPECT_EQ(LastUndo(), "Drag Region Loop End");
  mouse->Move(999, 45, {});
  EXPECT_EQ(Regions()[0].loopEnd, 99900);
  view->framesPerPixel = 200.0f;
  mouse->Move(999, 45, {});
  EXPECT_EQ(Regions()[0].loopEnd, 100000);  // the region's end
  mouse->Move(0, 45, {});
  EXPECT_EQ(Regions()[0].loopEnd, 10001);  // loop start + 1
  mouse->Release(0, 45, {});
  EXPECT_EQ(Log().back(), "Region 1 loop points updated: Start=10000, End=10001.");
}

TEST_F(MouseEditingTest, GrabOfALoopHandleWithoutMovementStillRecordsUndo) {
  Region r = MakeRegion(10000, 100000);
  r.loopStart = 20000;
  r.loopEnd = 80000;
  WithRegions({r});
  Paint();
  mouse->Press(800, 45, {});
  mouse->Release(800, 45, {});
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 1u);
  EXPECT_EQ(LastUndo(), "Drag Region Loop End");
  EXPECT_EQ(Regions()[0].loopEnd, 80000);
}

TEST_F(MouseEditingTest, PianoStripClicksAlternateBetweenLoopAndWholeRegion) {
  Region a = MakeRegion(0, 100000, 0, 59, 50);
  Region b = MakeRegion(100000, 300000, 60, 127, 70);
  b.loopStart = 150000;
  b.loopEnd = 250000;
  WithRegions({a, b});
  Paint();
  // Compact strip at 1000 px: keys 31..96, 15 px from x 5; key 70 at x 590.
  ASSERT_TRUE(mouse->Press(595, 390, {}));
  EXPECT_EQ(view->selectedRegion, 1);
  EXPECT_EQ(view->loopIn, 150000);
  EXPECT_EQ(view->loopOut, 250000);
  EXPECT_EQ(view->cursorFrame, 100000);
  EXPECT_TRUE(view->loopPlayback);
  EXPECT_EQ(Log().back(), "Region 2 selected Selected Region 2. Sustain loop activated (150000 - 250000). Cursor set to 100000.");
  mouse->Release(595, 390, {});
  mouse->Press(595, 390, {});
  EXPECT_EQ(view->loopIn, 100000);
  EXPECT_EQ(view->loopOut, 300000);
  EXPECT_EQ(Log().back(), "Region 2 selected Selected Region 2. Full region loop activated (100000 - 300000). Cursor set to 100000.");
  mouse->Release(595, 390, {});
  mouse->Press(595, 390, {});
  EXPECT_EQ(view->loopIn, 150000);
  EXPECT_THAT(shownRegions, ElementsAre(1, 1, 1));
  // Re-centred: the region is longer than the 100000 frames on screen.
  EXPECT_EQ(view->viewStart, 100000.0);
}

// Tall strip at 1000 x 400: keys 44..83 of 25 px from x 0, strip from y 280;
// the upper half is y < 340.
class KeyDragTest : public MouseEditingTest {
 protected:
  void SetUp() override {
    MouseEditingTest::SetUp();
    view->editKeyBoundaries = true;
    WithRegions({MakeRegion(0, 100000, 44, 59, 50), MakeRegion(100000, 200000, 60, 75, 70),
                 MakeRegion(200000, 300000, 76, 83, 80)});
    Doc().undoHistory.Clear();
  }
  static int X(int key) { return (key - 44) * 25; }
};

TEST_F(KeyDragTest, LowKeyHandleFollowsTheMouseWithinTheRootNotes) {
  Paint();
  ASSERT_TRUE(mouse->Press(X(60), 300, {}));
  EXPECT_EQ(view->dragOperation, kDragKeyBoundary);
  EXPECT_EQ(mouse->dragKeyRegion, 1);
  EXPECT_TRUE(mouse->dragKeyIsLow);
  EXPECT_EQ(LastUndo(), "Piano Region");

  mouse->Move(X(62) + 3, 300, {});  // upper half: the two regions share the key
  EXPECT_EQ(Regions()[1].loKey, 62);
  EXPECT_EQ(Regions()[0].hiKey, 62);
  mouse->Move(X(62) + 3, 350, {});  // lower half: they meet at it
  EXPECT_EQ(Regions()[1].loKey, 62);
  EXPECT_EQ(Regions()[0].hiKey, 61);
  mouse->Move(0, 350, {});  // at least the previous root + 1
  EXPECT_EQ(Regions()[1].loKey, 51);
  EXPECT_EQ(Regions()[0].hiKey, 50);
  mouse->Move(X(80), 350, {});  // at most the region's own root
  EXPECT_EQ(Regions()[1].loKey, 70);
  mouse->Release(X(80), 350, {});
  EXPECT_EQ(Log().back(), "Region 2 loKey set to 70 (A#4), Region 1 hiKey set to 69 (A4)");
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(shownRegions, Contains(1));
  // The region the pages show is the selected one, which their Update edits.
  EXPECT_EQ(view->selectedRegion, 1);
}

TEST_F(KeyDragTest, CtrlLowKeyDragMovesTheLaterRegionsAlong) {
  Paint();
  mouse->Press(X(60), 300, {.ctrl = true});
  mouse->Move(X(62), 300, {.ctrl = true});
  EXPECT_EQ(Regions()[1].loKey, 62);
  EXPECT_EQ(Regions()[1].rootNote, 72);
  EXPECT_EQ(Regions()[1].hiKey, 77);
  EXPECT_EQ(Regions()[2].loKey, 78);
  EXPECT_EQ(Regions()[2].rootNote, 82);
  EXPECT_EQ(Regions()[2].hiKey, 85);
  mouse->Release(X(62), 300, {.ctrl = true});
}

TEST_F(KeyDragTest, HighKeyHandleKeepsItsKeyWhenGrabbedAndStopsAtTheNextRoot) {
  WithRegions({MakeRegion(0, 100000, 44, 55, 50), MakeRegion(100000, 200000, 60, 83, 70)});
  Paint();
  ASSERT_TRUE(mouse->Press(X(56), 300, {}));  // region 1's high handle, after key 55
  EXPECT_FALSE(mouse->dragKeyIsLow);
  EXPECT_EQ(mouse->dragKeyRegion, 0);
  mouse->Move(X(56), 300, {});
  EXPECT_EQ(Regions()[0].hiKey, 55);
  EXPECT_EQ(Regions()[1].loKey, 55);  // upper half: shared with the next region
  mouse->Move(X(80), 350, {});
  EXPECT_EQ(Regions()[0].hiKey, 69);  // next root 70 - 1
  EXPECT_EQ(Regions()[1].loKey, 70);
  mouse->Move(X(44), 350, {});
  EXPECT_EQ(Regions()[0].hiKey, 50);  // never below its own root
  mouse->Release(X(44), 350, {});
  EXPECT_EQ(Log().back(), "Region 1 hiKey set to 50 (D3), Region 2 loKey set to 51 (D#3)");
}

TEST_F(KeyDragTest, KeysStayMidiKeysAndRangesStayOrdered) {
  // A root note above the range (as a file may hold) would push the next
  // region's low key to 128.
  WithRegions({MakeRegion(0, 100000, 44, 55, 127), MakeRegion(100000, 200000, 60, 83, 70)});
  Paint();
  ASSERT_TRUE(mouse->Press(X(56), 300, {}));
  mouse->Move(X(70), 350, {});
  EXPECT_EQ(Regions()[0].hiKey, 55);
  EXPECT_EQ(Regions()[1].loKey, 60);
  mouse->Release(X(70), 350, {});

  // A sweep over the strip in every combination keeps every region sound.
  WithRegions({MakeRegion(0, 100000, 44, 50, 47), MakeRegion(100000, 200000, 51, 60, 55),
               MakeRegion(200000, 300000, 64, 70, 66), MakeRegion(300000, 400000, 71, 120, 127)});
  for (bool ctrl : {false, true}) {
    Paint();
    const auto handles = mouse->PianoRecords().handles;
    for (const auto& h : handles) {
      const int hx = (h.rect.left + h.rect.right) / 2;
      Paint();
      if (!mouse->Press(hx, 300, {.ctrl = ctrl}) || view->dragOperation != kDragKeyBoundary) continue;
      for (int x = -100; x <= 1100; x += 37) {
        for (int y : {290, 350}) {
          mouse->Move(x, y, {.ctrl = ctrl});
          for (const Region& r : Regions()) {
            EXPECT_GE(r.loKey, 0);
            EXPECT_LE(r.hiKey, 127);
            EXPECT_LE(r.loKey, r.hiKey);
            EXPECT_GE(r.rootNote, 0);
            EXPECT_LE(r.rootNote, 127);
          }
        }
      }
      mouse->Release(0, 300, {.ctrl = ctrl});
    }
  }
}

TEST_F(MouseEditingTest, CursorShapeFollowsWhatIsUnderTheMouse) {
  WithRegions({MakeRegion(0, 30000, 44, 59), MakeRegion(30000, 90000, 60, 83)});
  view->loopIn = 10000;
  view->loopOut = 50000;
  Paint();
  EXPECT_EQ(mouse->CursorAt(200, 60, {}), CursorShape::kMove);                 // selection bar
  EXPECT_EQ(mouse->CursorAt(100, 200, {}), CursorShape::kResizeHorizontal);    // loop-in marker
  EXPECT_EQ(mouse->CursorAt(302, 20, {}), CursorShape::kResizeHorizontal);     // region boundary at 300
  EXPECT_EQ(mouse->CursorAt(250, 20, {}), CursorShape::kDefault);              // region bar
  EXPECT_EQ(mouse->CursorAt(250, 200, {}), CursorShape::kDefault);             // plain waveform
  EXPECT_EQ(mouse->CursorAt(250, 200, {.ctrl = true}), CursorShape::kCrosshair);
  EXPECT_EQ(mouse->CursorAt(250, 20, {.ctrl = true}), CursorShape::kDefault);
  EXPECT_EQ(mouse->CursorAt(250, 390, {.ctrl = true}), CursorShape::kDefault);  // piano strip
  view->toolMode = ToolMode::kSelection;
  EXPECT_EQ(mouse->CursorAt(250, 200, {}), CursorShape::kCrosshair);
  view->toolMode = ToolMode::kTimeStretch;
  EXPECT_EQ(mouse->CursorAt(200, 60, {}), CursorShape::kHand);
  EXPECT_EQ(mouse->CursorAt(505, 200, {}), CursorShape::kResizeHorizontal);  // the stretch handle
  view->toolMode = ToolMode::kPaint;
  EXPECT_EQ(mouse->CursorAt(250, 200, {}), CursorShape::kPaint);
  view->toolMode = ToolMode::kNormal;
  view->editKeyBoundaries = true;
  Paint();
  const auto handles = mouse->PianoRecords().handles;
  ASSERT_FALSE(handles.empty());
  EXPECT_EQ(mouse->CursorAt(handles[0].rect.left + 5, 300, {}), CursorShape::kResizeHorizontal);
}

TEST_F(MouseEditingTest, ToolHandlesStartTheirDrags) {
  view->loopIn = 10000;
  view->loopOut = 50000;
  view->toolMode = ToolMode::kTimeStretch;
  Paint();
  ASSERT_TRUE(mouse->Press(500, 200, {.alt = true}));  // centred on loop-out, area centre 200
  EXPECT_TRUE(view->stretchActive);
  EXPECT_TRUE(mouse->stretchInPlace);
  EXPECT_EQ(view->dragOperation, kDragLoopOut);
  mouse->Release(500, 200, {});
  EXPECT_FALSE(view->stretchActive);

  view->toolMode = ToolMode::kRetime;
  Paint();
  ASSERT_TRUE(mouse->Press(100, 200, {}));
  EXPECT_TRUE(view->retimeActive);
  EXPECT_EQ(view->dragOperation, kDragLoopIn);
  mouse->Release(100, 200, {});
  EXPECT_FALSE(view->retimeActive);
}

TEST_F(MouseEditingTest, ToolEditsRunOnceWhenTheirDragsEnd) {
  std::vector<std::string> calls;
  mouse->tools.paintStroke = [&](int x, int, int64_t frame) {
    calls.push_back("stroke " + std::to_string(x) + " " + std::to_string(frame));
  };
  mouse->tools.applyPaintedLevels = [&] { calls.push_back("paint " + std::to_string(view->paintPoints.size())); };
  mouse->tools.applyRearrange = [&] {
    calls.push_back("rearrange " + std::to_string(mouse->rearrangeSrcStart) + ".." +
                    std::to_string(mouse->rearrangeSrcEnd) + " to " + std::to_string(view->loopIn) + " mode " +
                    std::to_string(view->rearrangeMode));
  };
  mouse->tools.applyTimeStretch = [&](bool inPlace) {
    calls.push_back(std::string("stretch ") + (inPlace ? "in place " : "") + std::to_string(view->loopOut));
  };
  mouse->tools.applyRetime = [&] { calls.push_back("retime " + std::to_string(view->loopIn)); };

  view->toolMode = ToolMode::kPaint;
  Paint();
  ASSERT_TRUE(mouse->Press(100, 100, {}));
  mouse->Move(150, 120, {});
  mouse->Release(150, 120, {});
  EXPECT_TRUE(view->paintPoints.empty());

  view->toolMode = ToolMode::kRearrange;
  view->loopIn = 10000;
  view->loopOut = 20000;
  Paint();
  ASSERT_TRUE(mouse->Press(150, 60, {}));  // the selection bar, 13..33 px below the area's top
  mouse->Move(350, 60, {.shift = true});
  mouse->Release(350, 60, {.shift = true});

  view->toolMode = ToolMode::kTimeStretch;
  Paint();
  ASSERT_TRUE(mouse->Press(400, 200, {}));  // on the new selection's end, 40000
  mouse->Move(450, 200, {.alt = true});
  mouse->Release(450, 200, {.alt = true});

  view->toolMode = ToolMode::kRetime;
  Paint();
  ASSERT_TRUE(mouse->Press(300, 200, {}));  // the left handle at 30000
  mouse->Move(280, 200, {});
  mouse->Release(280, 200, {});

  EXPECT_THAT(calls, ElementsAre("stroke 150 15000", "paint 1", "rearrange 10000..20000 to 30000 mode 2",
                                 "stretch in place 45000", "retime 28000"));
  EXPECT_FALSE(view->rearrangeActive || view->stretchActive || view->retimeActive);
}

TEST_F(MouseEditingTest, ACancelledToolEditPutsTheGrabbedSelectionAndRegionBack) {
  WithRegions({MakeRegion(0, 30000), MakeRegion(30000, 1000000)});
  view->selectedRegion = 0;
  view->loopIn = 10000;
  view->loopOut = 20000;
  view->toolMode = ToolMode::kRetime;
  int regionWhileDragged = -1;
  mouse->tools.applyRetime = [&] {
    regionWhileDragged = view->selectedRegion;
    mouse->DropToolPreview();
  };
  Drag(200, 200, 600, 200);  // the right handle at 20000 pulled to 60000
  EXPECT_EQ(regionWhileDragged, 1);  // the selection's centre moved into region 1
  EXPECT_EQ(view->loopIn, 10000);
  EXPECT_EQ(view->loopOut, 20000);
  EXPECT_EQ(view->selectedRegion, 0);
  EXPECT_EQ(shownRegions.back(), 0);
  EXPECT_FALSE(view->retimeActive);
}

TEST_F(MouseEditingTest, DoubleClickTogglesKeyEditingOrSelectsTheRegionUnderTheMouse) {
  Region looped = MakeRegion(30000, 90000, 60, 71, 64);
  looped.loopStart = 40000;
  looped.loopEnd = 80000;
  WithRegions({MakeRegion(0, 30000, 0, 59, 48), looped});
  Paint();
  // The piano strip (y 360..399): key-boundary editing on, and off again.
  ASSERT_TRUE(mouse->DoubleClick(500, 390, {}));
  EXPECT_TRUE(view->editKeyBoundaries);
  EXPECT_EQ(view->WaveBottom(), 280);
  ASSERT_TRUE(mouse->DoubleClick(500, 390, {}));
  EXPECT_FALSE(view->editKeyBoundaries);

  // The waveform area: the region under the mouse with its loop, not
  // re-centred, the keys in the log line.
  frame.log.Clear();
  ASSERT_TRUE(mouse->DoubleClick(500, 200, {}));
  EXPECT_EQ(view->selectedRegion, 1);
  EXPECT_EQ(view->loopIn, 40000);
  EXPECT_EQ(view->loopOut, 80000);
  EXPECT_EQ(view->viewStart, 0.0);
  EXPECT_THAT(Log(), ElementsAre("Region 2 selected via double-click (keys 60-71: C4-B4). Sustain loop activated "
                                 "(40000 - 80000). Cursor set to 30000."));
  EXPECT_EQ(view->dragOperation, kDragNone);

  // The region bar: a press, here the grab of region 1's end boundary.
  ASSERT_TRUE(mouse->DoubleClick(300, 20, {}));
  EXPECT_EQ(view->dragOperation, kDragRegionBoundary);
  mouse->Release(300, 20, {});

  // Beyond the audio's regions: nothing is chosen.
  frame.log.Clear();
  view->viewStart = 950000;
  Paint();
  ASSERT_TRUE(mouse->DoubleClick(500, 200, {}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(MouseEditingTest, NoAudioLeavesTheClickToTheFramework) {
  Doc().ClearAudio();
  EXPECT_FALSE(mouse->Press(100, 200, {}));
  EXPECT_EQ(view->dragOperation, kDragNone);
}

}  // namespace
}  // namespace zandrel

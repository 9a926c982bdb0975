#include "view/model/view_model.h"

#include <gmock/gmock.h>

#include "document/document_fixture.h"
#include "document/region_edits.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

class ViewModelTest : public DocumentTest, public DocumentObserver {
 protected:
  void SetUp() override {
    OpenRamp(1000000);
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 1000;
    model->clientHeight = 400;
    Doc().AddObserver(this);
    model->ResetForDocument();
    frame.log.Clear();
  }
  void TearDown() override { Doc().RemoveObserver(this); }
  // What the Region page would show: the selection of each announcement.
  void OnSelectionChanged() override { shown.emplace_back(model->loopIn, model->loopOut); }
  void WithRegions(std::vector<Region> regions) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = std::move(regions);
  }

  std::unique_ptr<ViewModel> model;
  std::vector<std::pair<int64_t, int64_t>> shown;
};

TEST_F(ViewModelTest, ConvertsBetweenFramesAndPixels) {
  model->framesPerPixel = 2.5f;
  model->viewStart = -10.0;
  EXPECT_EQ(model->FrameAtX(0), -10);
  EXPECT_EQ(model->FrameAtX(3), -2);  // -2.5 truncated toward zero
  EXPECT_EQ(model->XAtFrame(15), 10);
  EXPECT_EQ(model->XAtFrame(16), 10);
}

TEST_F(ViewModelTest, WheelZoomKeepsTheFrameUnderTheMouseAndStopsAtTheLimits) {
  const int64_t under = model->FrameAtX(400);
  EXPECT_TRUE(model->Wheel(120, 400, false));
  EXPECT_FLOAT_EQ(model->framesPerPixel, 256.0f / 1.25f);
  EXPECT_NEAR(model->FrameAtX(400), under, 1);
  EXPECT_EQ(model->peakCache.bucketSize(), 204);

  // Zoomed all the way out: F x 1.5 / width frames per pixel, then no change.
  while (model->Wheel(-120, 0, false)) {
  }
  EXPECT_FLOAT_EQ(model->framesPerPixel, 1500.0f);
  const double start = model->viewStart;
  EXPECT_FALSE(model->Wheel(-120, 500, false));
  EXPECT_EQ(model->viewStart, start);

  // All the way in: 0.5 frames per pixel; the cache then has one entry per frame.
  while (model->Wheel(120, 0, false)) {
  }
  EXPECT_FLOAT_EQ(model->framesPerPixel, 0.5f);
  EXPECT_EQ(model->peakCache.size(), 1000000);
}

TEST_F(ViewModelTest, AltSwapsWheelZoomAndScroll) {
  const struct {
    bool wheelZooms;
    bool alt;
    bool zooms;
  } cases[] = {{true, false, true}, {true, true, false}, {false, false, false}, {false, true, true}};
  for (const auto& c : cases) {
    model->ResetForDocument();
    model->scrollWheelZoom = c.wheelZooms;
    model->viewStart = 20000;
    model->Wheel(-120, 0, c.alt);
    if (c.zooms) {
      EXPECT_FLOAT_EQ(model->framesPerPixel, 320.0f);
    } else {
      EXPECT_FLOAT_EQ(model->framesPerPixel, 256.0f);
      EXPECT_DOUBLE_EQ(model->viewStart, 20000 + 25600);  // 10% of a page
    }
  }
}

TEST_F(ViewModelTest, ScrollingKeepsHalfAPageOfMargin) {
  model->framesPerPixel = 10;  // a page is 10000 frames
  EXPECT_TRUE(model->Scroll(ScrollAction::kLeft));
  EXPECT_EQ(model->viewStart, -5000);
  EXPECT_FALSE(model->Scroll(ScrollAction::kLineLeft));  // already at the left end
  EXPECT_TRUE(model->Scroll(ScrollAction::kRight));
  EXPECT_EQ(model->viewStart, 1000000 + 5000 - 10000);
  model->Scroll(ScrollAction::kPageLeft);
  EXPECT_EQ(model->viewStart, 985000);
  model->Scroll(ScrollAction::kLineRight);
  EXPECT_EQ(model->viewStart, 985100);
  model->ScrollBar();
  model->Scroll(ScrollAction::kThumb, 123);
  EXPECT_EQ(model->viewStart, 123);
}

TEST_F(ViewModelTest, ScrollBarUnitsFitThirtyTwoBits) {
  double unit = 0;
  const ScrollBarState small = ComputeScrollBar(100000, 10000, -5000, &unit);
  EXPECT_EQ(unit, 1.0);
  EXPECT_EQ(small.min, -5000);
  EXPECT_EQ(small.max, 105000);
  EXPECT_EQ(small.page, 10000);
  EXPECT_EQ(small.pos, -5000);
  const ScrollBarState huge = ComputeScrollBar(3000000000.0, 1e6, 1000001, &unit);
  EXPECT_EQ(unit, 2.0);
  EXPECT_EQ(huge.pos, 500001);  // halves away from zero
  EXPECT_EQ(huge.max, 1500250000);
}

TEST_F(ViewModelTest, KeysMoveTheCursorAndSetTheSelection) {
  model->HandleKey(ViewKey::kSelectAll);
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 999999);
  EXPECT_TRUE(model->loopPlayback);
  model->HandleKey(ViewKey::kLoop);
  model->HandleKey(ViewKey::kLoop);
  EXPECT_THAT(frame.Lines(), ElementsAre("Selected entire waveform.", "Loop playback disabled.", "Loop playback enabled."));

  model->ClearSelection();
  EXPECT_FALSE(model->HandleKey(ViewKey::kLoopIn));  // no cursor
  model->SetCursorPosition(500);
  model->hooks.snapToZeroCrossing = [](int64_t f) { return f + 1; };
  model->HandleKey(ViewKey::kLoopIn);
  EXPECT_EQ(model->loopIn, 501);
  EXPECT_EQ(model->loopOut, 999999);
  model->snapToZeroCrossing = false;
  model->SetCursorPosition(700);
  model->HandleKey(ViewKey::kLoopOut);
  EXPECT_EQ(model->loopOut, 700);
  EXPECT_EQ(shown.back(), (std::pair<int64_t, int64_t>(501, 700)));

  model->HandleKey(ViewKey::kEnd);
  EXPECT_EQ(model->cursorFrame, 999999);
  EXPECT_DOUBLE_EQ(model->viewStart, 1000000 - 256000.0);
  model->HandleKey(ViewKey::kHome);
  EXPECT_EQ(model->cursorFrame, 0);
  EXPECT_EQ(model->viewStart, 0);
  model->SetCursorPosition(10'000'000);
  EXPECT_EQ(model->cursorFrame, 999999);
}

TEST_F(ViewModelTest, TheContextMenuFollowsTheBandUnderTheMouse) {
  model->framesPerPixel = 100;
  WithRegions({{0, 1000}, {1000, 5000}});
  // Region bar at the first region's exclusive end: the next region.
  EXPECT_EQ(model->ContextMenuAt(10, 20), ContextMenuKind::kRegionBar);
  EXPECT_EQ(model->selectedRegion, 1);
  EXPECT_EQ(model->loopIn, 1000);
  EXPECT_EQ(model->loopOut, 5000);
  EXPECT_TRUE(model->loopPlayback);

  model->loopIn = 1000;
  model->loopOut = 2000;
  EXPECT_EQ(model->ContextMenuAt(20, 200), ContextMenuKind::kLoopRegion);  // the last frame counts
  EXPECT_EQ(model->cursorFrame, 2000);
  EXPECT_EQ(model->ContextMenuAt(21, 200), ContextMenuKind::kEdit);
  EXPECT_EQ(model->ContextMenuAt(21, 399), ContextMenuKind::kPianoRoll);
  model->editKeyBoundaries = true;
  EXPECT_EQ(model->ContextMenuAt(21, 300), ContextMenuKind::kPianoRoll);
}

TEST_F(ViewModelTest, DropsOpenTheFirstFileOrAppendWithCtrl) {
  EXPECT_EQ(ViewModel::DropDecision(0, false, true), DropAction::kNone);
  EXPECT_EQ(ViewModel::DropDecision(3, false, true), DropAction::kOpen);
  EXPECT_EQ(ViewModel::DropDecision(1, true, true), DropAction::kAppend);
  EXPECT_EQ(ViewModel::DropDecision(1, true, false), DropAction::kOpen);
}

TEST_F(ViewModelTest, RegionLookupsFromTheSelection) {
  WithRegions({{0, 1000}, {1000, 2000}});
  model->loopIn = 800;
  model->loopOut = 1200;  // midpoint 1000: the end of the first region counts as inside
  EXPECT_EQ(model->FindRegionAtSelectionCenter(), 0);
  EXPECT_EQ(SetRegionLoopFromSelection(Doc().instrument, *model), -1);  // spans two regions
  EXPECT_FALSE(Doc().instrument.regions[0].HasLoop());
  model->loopIn = 1000;
  model->loopOut = 1000;  // a shared boundary: the first region wins
  EXPECT_EQ(SetRegionLoopFromSelection(Doc().instrument, *model), 0);
  EXPECT_EQ(Doc().instrument.regions[0].loopStart, 1000);
  model->loopIn = -1;
  EXPECT_EQ(model->FindRegionAtSelectionCenter(), -1);
}

TEST_F(ViewModelTest, SelectRegionShowsOnlyExistingRegions) {
  std::vector<int> pages;
  model->hooks.showRegion = [&](const Region&, int i) { pages.push_back(i); };
  model->SelectRegion(0);  // no instrument data yet
  EXPECT_EQ(model->selectedRegion, -1);
  WithRegions({{0, 1000}});
  model->SelectRegion(5);  // stored, but nothing to show
  EXPECT_EQ(model->selectedRegion, 5);
  model->SelectRegion(0);
  model->SelectRegion(0);  // unchanged: not shown again
  EXPECT_EQ(pages, std::vector<int>{0});
}

TEST_F(ViewModelTest, AnUpdatedDocumentResetsTheView) {
  int stops = 0;
  model->hooks.stopPlayback = [&] { ++stops; };
  model->framesPerPixel = 3;
  model->viewStart = 77;
  model->SetCursorPosition(5);
  model->loopIn = 1;
  model->loopOut = 2;
  model->loopPlayback = true;
  model->selectedRegion = 3;
  model->beatMarkers = {1, 2};
  model->toolMode = ToolMode::kPaint;
  model->ResetForDocument();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(model->framesPerPixel, 256.0f);
  EXPECT_EQ(model->viewStart, 0);
  EXPECT_EQ(model->cursorFrame, -1);
  EXPECT_EQ(model->playAnchor, -1);
  EXPECT_EQ(model->loopIn, -1);
  EXPECT_FALSE(model->loopPlayback);
  EXPECT_EQ(model->selectedRegion, -1);
  EXPECT_TRUE(model->beatMarkers.empty());
  EXPECT_EQ(model->toolMode, ToolMode::kNormal);
  EXPECT_EQ(model->peakCache.size(), (1000000 + 255) / 256);
}

// After an edit, Undo or Redo leaves less audio, the cursor, selection,
// selected region and beat markers are brought into it, and announced once.
TEST_F(ViewModelTest, AShorterDocumentBringsTheSelectionIntoItsAudio) {
  struct Case {
    int64_t loopIn, loopOut, cursor;
    int32_t region;
    std::vector<int64_t> beats;
    int64_t wantIn, wantOut, wantCursor;
    int32_t wantRegion;
    std::vector<int64_t> wantBeats;
    bool announced;
  } cases[] = {
      {500, 900, 700, 0, {10}, 500, 900, 700, 0, {10}, false},                  // still fits
      {900, 1500, 700, 0, {}, 900, 1000, 700, 0, {}, true},                     // overlaps: clamped
      {1200, 1500, 700, 0, {}, -1, -1, 700, 0, {}, true},                       // past the end: cleared
      {-1, -1, 1000, 0, {}, -1, -1, 1000, 0, {}, false},                        // the cursor at the end stays
      {-1, -1, 5000, 0, {}, -1, -1, 1000, 0, {}, true},                         // past it: back to the end
      {-1, -1, -1, 1, {}, -1, -1, -1, -1, {}, true},                            // no such region
      {-1, -1, -1, 0, {10, 999, 1000, 5000}, -1, -1, -1, 0, {10, 999}, true},  // markers past the end
  };
  WithRegions({Region{.startSample = 0, .endSample = 1000}});
  Doc().audio.data.resize(2000);  // 1000 mono 16-bit frames are left
  ASSERT_EQ(Doc().FrameCount(), 1000);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.loopIn << ".." << c.loopOut << " cursor " << c.cursor);
    model->loopIn = c.loopIn;
    model->loopOut = c.loopOut;
    model->loopPlayback = c.loopIn >= 0;
    model->cursorFrame = model->playAnchor = c.cursor;
    model->selectedRegion = c.region;
    model->beatMarkers = c.beats;
    shown.clear();
    model->Follow(DocumentChange::kInstrument);
    EXPECT_EQ(model->loopIn, c.wantIn);
    EXPECT_EQ(model->loopOut, c.wantOut);
    EXPECT_EQ(model->loopPlayback, c.wantIn >= 0);
    EXPECT_EQ(model->cursorFrame, c.wantCursor);
    EXPECT_EQ(model->playAnchor, c.wantCursor);
    EXPECT_EQ(model->selectedRegion, c.wantRegion);
    EXPECT_EQ(model->beatMarkers, c.wantBeats);
    EXPECT_EQ(shown.size(), c.announced ? 1u : 0u);
  }
}

TEST_F(ViewModelTest, WithoutAudioNothingMoves) {
  Doc().OnNewDocument();
  EXPECT_FALSE(model->Wheel(120, 10, false));
  EXPECT_FALSE(model->Scroll(ScrollAction::kRight));
  EXPECT_FALSE(model->HandleKey(ViewKey::kSelectAll));
  model->SetCursorPosition(3);
  EXPECT_EQ(model->cursorFrame, -1);
  model->RebuildPeakCache();
  EXPECT_TRUE(model->peakCache.empty());
}

}  // namespace
}  // namespace zandrel

// The overlays of the Rearrange, Time Stretch and Retime tools as drawing
// operations: hints, ratio texts, the hole and the ripple zone, the moved
// tail and its arrow, and the columns kept on the screen.
#include "view/model/tool_overlays.h"

#include <gmock/gmock.h>

#include "document/document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class ToolOverlaysTest : public DocumentTest {
 protected:
  void Open(int64_t frames, float framesPerPixel) {
    OpenRamp(frames);
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 1600;
    model->clientHeight = 600;
    model->framesPerPixel = framesPerPixel;
    model->viewStart = 0;
    model->RebuildPeakCache();
    layout = ComputeViewLayout(1600, 600, false);
  }
  std::string HintText() {
    const auto hints = out.Find("tool-hint");
    return hints.empty() ? std::string() : hints.back()->text;
  }
  const DrawOp* One(std::string_view tag) {
    const auto ops = out.Find(tag);
    return ops.empty() ? nullptr : ops.front();
  }

  std::unique_ptr<ViewModel> model;
  ViewLayout layout;
  ToolDragState drag;
  DrawList out;
};

TEST_F(ToolOverlaysTest, HintsFollowTheToolState) {
  Open(100000, 100);
  DrawRearrangeTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Create selection by holding CTRL and dragging");
  EXPECT_EQ(out.Ops().size(), 1u);  // only the hint
  model->loopIn = 1000;
  model->loopOut = 2000;
  DrawRearrangeTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Drag Selection by the top bar to move/copy waveform.");
  DrawTimeStretchTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Drag right handle to time-stretch | Hold ALT for in-place mode (no resize)");
  DrawRetimeTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Drag left/right handles to retime | Compensating region adjusts automatically");
  model->retimeActive = true;
  DrawRetimeTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Release to apply retime (Total duration remains constant)");
  EXPECT_EQ(RearrangeOptionsLine(0), "OPTIONS: Move  | CTRL: Copy | SHIFT: Mix Copy | ALT: Ripple");
  EXPECT_EQ(RearrangeOptionsLine(3), "OPTIONS: ALT = Ripple | CTRL: Copy | SHIFT: Mix Copy ");
  EXPECT_EQ(LoopRatioText(0.9), "Loop: 0.90x (90%)");
}

TEST_F(ToolOverlaysTest, DoublingASelectionShowsTheRatioTheMovedTailAndARightArrow) {
  Open(100000, 100);
  drag.stretchOrigIn = 10000;
  drag.stretchOrigOut = 20000;
  model->loopIn = 10000;
  model->loopOut = 30000;
  model->stretchActive = true;
  DrawTimeStretchTool(*model, drag, layout, out);
  EXPECT_EQ(HintText(), "Release to apply time-stretch (wave data will resize)");
  ASSERT_NE(One("stretch-ratio"), nullptr);
  EXPECT_EQ(One("stretch-ratio")->text, "Stretch: 2.00x (200%)");
  // The tail starts at the new end (pixel 300) with the audio of frame 20000.
  const DrawOp* tail = One("stretch-tail");
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->points.front().x, 300.0f);
  const DrawOp* arrow = One("tool-arrow");
  ASSERT_NE(arrow, nullptr);
  EXPECT_EQ(arrow->points[0].x, 200.0f);  // from the old end
  EXPECT_EQ(arrow->points[1].x, 300.0f);  // head at the new end
  EXPECT_LT(arrow->points[3].x, 300.0f);  // strokes back to the left: points right

  out.Clear();
  drag.stretchInPlace = true;
  DrawTimeStretchTool(*model, drag, layout, out);
  EXPECT_EQ(One("stretch-ratio")->text, "Stretch: 2.00x (200%) - IN-PLACE MODE");
  EXPECT_EQ(HintText(), "Release to apply IN-PLACE time-stretch (ALT mode: no resize)");
  EXPECT_EQ(One("stretch-tail"), nullptr);
  EXPECT_EQ(One("tool-arrow"), nullptr);

  out.Clear();
  drag.stretchInPlace = false;
  model->loopOut = 19500;  // shrunk by 5 pixels: tail, no arrow
  DrawTimeStretchTool(*model, drag, layout, out);
  EXPECT_NE(One("stretch-tail"), nullptr);
  EXPECT_EQ(One("tool-arrow"), nullptr);
}

TEST_F(ToolOverlaysTest, RearrangeHoleDependsOnModeAndDistance) {
  Open(100000, 100);
  model->rearrangeActive = true;
  drag.rearrangeSrcStart = 10000;
  drag.rearrangeSrcEnd = 20000;
  model->loopIn = 15000;  // overlapping the source by half
  model->loopOut = 25000;
  DrawRearrangeTool(*model, drag, layout, out);
  const DrawOp* hole = One("rearrange-hole");
  ASSERT_NE(hole, nullptr);
  EXPECT_EQ(hole->x, 100.0f);
  EXPECT_EQ(hole->w, 50.0f);
  EXPECT_EQ(HintText(), "OPTIONS: Move  | CTRL: Copy | SHIFT: Mix Copy | ALT: Ripple");

  EXPECT_EQ(RearrangeHole(50000, 60000, 10000, 20000).start, 10000);  // moved past its length
  EXPECT_EQ(RearrangeHole(50000, 60000, 10000, 20000).end, 20000);

  out.Clear();
  model->rearrangeMode = 1;  // Copy: no hole
  DrawRearrangeTool(*model, drag, layout, out);
  EXPECT_EQ(One("rearrange-hole"), nullptr);

  out.Clear();
  model->rearrangeMode = 3;  // ripple right by 1000 frames
  model->loopIn = 11000;
  model->loopOut = 21000;
  DrawRearrangeTool(*model, drag, layout, out);
  const DrawOp* zone = One("ripple-zone");
  ASSERT_NE(zone, nullptr);
  EXPECT_EQ(zone->x, 100.0f);
  EXPECT_EQ(zone->w, 10.0f);
  EXPECT_EQ(zone->color, 0xFF6D1E06u);
}

TEST_F(ToolOverlaysTest, RetimeCompensationAndItsArrow) {
  Open(100000, 100);
  model->retimeActive = true;
  model->dragOperation = kDragLoopOut;
  drag.retimeOrigIn = 10000;
  drag.retimeOrigOut = 30000;
  model->loopIn = 10000;
  model->loopOut = 20000;  // right handle dragged left
  DrawRetimeTool(*model, drag, layout, out);
  EXPECT_EQ(One("retime-ratio")->text, "Loop: 0.50x (50%)");
  const DrawOp* fill = One("retime-compensation");
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(fill->x, 200.0f);
  EXPECT_EQ(fill->w, 800.0f);  // to the end of the audio
  const DrawOp* arrow = One("tool-arrow");
  ASSERT_NE(arrow, nullptr);
  EXPECT_GT(arrow->points[3].x, 200.0f);  // points left

  out.Clear();
  model->dragOperation = kDragLoopIn;
  drag.retimeOrigIn = 0;
  model->loopIn = 2000;
  DrawRetimeTool(*model, drag, layout, out);
  EXPECT_EQ(One("retime-compensation"), nullptr);
  EXPECT_EQ(out.Find("tool-handle").size(), 2u);
}

TEST_F(ToolOverlaysTest, AFineZoomOnALongFileDrawsOnlyVisibleColumns) {
  // 45 seconds at 0.5 frames per pixel, the view near the end: frame 0 lies
  // millions of columns to the left.
  Open(2000000, 0.5f);
  model->viewStart = 1900000;
  model->RebuildPeakCache();
  model->retimeActive = true;
  model->dragOperation = kDragLoopIn;
  drag.retimeOrigIn = 1899000;
  drag.retimeOrigOut = 1900400;
  model->loopIn = 1900100;
  model->loopOut = 1900400;
  DrawRetimeTool(*model, drag, layout, out);
  for (const DrawOp& op : out.Ops()) EXPECT_LE(op.points.size(), 2u * 1600u + 64u) << op.tag;

  out.Clear();
  model->retimeActive = false;
  model->stretchActive = true;
  drag.stretchOrigIn = 100;
  drag.stretchOrigOut = 200;
  model->loopIn = 100;
  model->loopOut = 1900300;
  DrawTimeStretchTool(*model, drag, layout, out);
  const DrawOp* tail = One("stretch-tail");
  ASSERT_NE(tail, nullptr);
  EXPECT_LE(tail->points.size(), 2u * 1600u);
}

}  // namespace
}  // namespace zandrel

// What the Rearrange, Time Stretch and Retime tools draw over the waveform:
// a hint line, and while a drag is on, the selection's band with a preview
// of the audio that will land there, the hole or shift zone a move leaves,
// the tail or head that absorbs a stretch, the ratio and the handles.
//
// The painters append to a DrawList (view_drawing.h) from the model and the
// state the drag keeps (ToolDragState); they change nothing. Every column
// loop is clipped to the visible width before it starts, so a paint never
// walks columns off the screen however far out the zoom and the file go.
#pragma once

#include <cstdint>
#include <string>

#include "view/model/view_drawing.h"
#include "view/model/view_model.h"

namespace zandrel {

// The spans a tool drag remembers from its grab.
struct ToolDragState {
  int64_t rearrangeSrcStart = -1;
  int64_t rearrangeSrcEnd = -1;
  bool stretchInPlace = false;
  int64_t stretchOrigIn = -1;
  int64_t stretchOrigOut = -1;
  int64_t retimeOrigIn = -1;
  int64_t retimeOrigOut = -1;
};

// The hint each tool shows at the bottom of the area.
std::string RearrangeHint(const ViewModel& model);
std::string RearrangeOptionsLine(int mode);
std::string TimeStretchHint(const ViewModel& model, bool inPlace);
std::string RetimeHint(const ViewModel& model);
// "Stretch: 2.00x (200%)" (with " - IN-PLACE MODE"), "Loop: 0.90x (90%)".
std::string StretchRatioText(double ratio, bool inPlace);
std::string LoopRatioText(double ratio);

// The frames a Move leaves empty: [start, end), empty when end <= start.
struct FrameSpanHole {
  int64_t start = 0;
  int64_t end = 0;
};
FrameSpanHole RearrangeHole(int64_t loopIn, int64_t loopOut, int64_t srcStart, int64_t srcEnd);

void DrawRearrangeTool(const ViewModel& model, const ToolDragState& drag, const ViewLayout& layout, DrawList& out);
void DrawTimeStretchTool(const ViewModel& model, const ToolDragState& drag, const ViewLayout& layout, DrawList& out);
void DrawRetimeTool(const ViewModel& model, const ToolDragState& drag, const ViewLayout& layout, DrawList& out);

}  // namespace zandrel

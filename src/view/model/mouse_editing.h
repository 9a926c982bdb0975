// Editing with the mouse in the waveform view, without a window.
//
// The widget turns its mouse events into Press, Move and Release (points in
// client pixels, the modifier keys of that event) and asks CursorAt for the
// shape to show; everything else happens here, on the ViewModel and its
// document: the hit tests, the drag state machine (ViewModel::dragOperation),
// snapping, the magnifier's placement, the region-only undo entries recorded
// at the grab, and what a release finishes.
//
// Hit rectangles of the markers, the selection bar and the region bar are the
// ones the last paint recorded in the ViewModel; the region loop handles, the
// tool handles and the piano strip's records are computed from the same
// geometry the drawing uses. User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "document/edit_transaction.h"
#include "document/instrument.h"
#include "view/model/piano_key_layout.h"
#include "view/model/tool_overlays.h"
#include "view/model/view_model.h"

namespace zandrel {

struct MouseModifiers {
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
};

enum class CursorShape {
  kDefault,           // the framework's arrow
  kPaint,             // the Paint tool's cursor
  kHand,              // the selection bar with the Time Stretch tool
  kMove,              // the selection bar: four-way move
  kResizeHorizontal,  // markers, boundaries, handles
  kCrosshair,         // a new selection would start here
};

// The edits of the editing tools, which their own code supplies: the drags
// that start them are handled here, what they do to the audio is theirs.
// Unset, a drag of the tool changes only the selection.
struct ToolEdits {
  // A mouse move during a Paint stroke: (x, y) in client pixels, |frame| the
  // frame under the mouse (beat-snapped, within the audio).
  std::function<void(int x, int y, int64_t frame)> paintStroke;
  // The Paint stroke ended: ViewModel::paintPoints holds it (emptied after).
  std::function<void()> applyPaintedLevels;
  // A selection dragged with the Rearrange tool was dropped: the source is
  // rearrangeSrcStart..rearrangeSrcEnd, the target the selection, the way
  // ViewModel::rearrangeMode.
  std::function<void()> applyRearrange;
  // The Time Stretch handle was released: stretchOrigIn..stretchOrigOut
  // becomes the selection; |inPlace| when Alt was held.
  std::function<void(bool inPlace)> applyTimeStretch;
  // A Retime handle was released: retimeOrigIn..retimeOrigOut becomes the
  // selection.
  std::function<void()> applyRetime;
};

class MouseEditing {
 public:
  explicit MouseEditing(ViewModel& view);

  ToolEdits tools;

  // Left button. False when the framework's handling applies (no audio, or
  // no drag in progress for Move and Release).
  bool Press(int x, int y, MouseModifiers mods);
  bool Move(int x, int y, MouseModifiers mods);
  bool Release(int x, int y, MouseModifiers mods);
  // Left double click, which arrives between the first click's release and
  // the second release: toggles key-boundary editing in the piano strip,
  // counts as a press in the region bar, and selects the region under the
  // mouse in the waveform area. False without audio.
  bool DoubleClick(int x, int y, MouseModifiers mods);
  CursorShape CursorAt(int x, int y, MouseModifiers mods) const;

  // Selects region |index| with its loop (or the whole region when it has
  // none, or when the same looped region was chosen last time with its loop).
  void SelectRegionWithLoop(int index, const std::string& suffix, bool recentre);
  bool SelectRegionFromPianoStrip(int x, int y);
  bool BeginBoundaryDrag(int x, int y);
  bool SelectRegionFromRegionBar(int x, int y);
  // A tool's edit was cancelled after its drag: the selection and the
  // selected region go back to what they were when the drag began.
  void DropToolPreview();
  // Live moves of the grabbed region boundary and key boundary.
  void DragRegionBoundary(int64_t frame);
  // After a boundary drag: every loop inside its region, or removed; logged.
  void FitLoopsIntoRegions();
  void DragKeyBoundary(int x, int y, bool ctrlDown);

  // The beat grid of the Beats timeline (unchanged in other timelines, and
  // while Ctrl is held except during a new-selection drag).
  int64_t SnapToBeatGrid(int64_t frame) const;
  // The nearest rising zero crossing (ViewHooks::snapToZeroCrossing when set).
  int64_t SnapToZeroCrossing(int64_t frame) const;

  // Hit boxes of region |index|'s loop handles (empty without a loop).
  Rect RegionLoopStartHandle(int index) const;
  Rect RegionLoopEndHandle(int index) const;
  // The Time Stretch / right Retime handle and the left Retime handle.
  Rect ToolRightHandle() const;
  Rect RetimeLeftHandle() const;
  PianoHitRecords PianoRecords() const;
  // The spans a tool drag keeps, for the overlays.
  ToolDragState ToolDrag() const {
    return {rearrangeSrcStart, rearrangeSrcEnd, stretchInPlace, stretchOrigIn, stretchOrigOut, retimeOrigIn, retimeOrigOut};
  }

  // Drag state.
  int dragRegion = -1;
  bool dragRegionEnd = false;
  int dragKeyRegion = -1;
  bool dragKeyIsLow = false;
  int lastClickedRegion = -1;
  bool lastClickWasLoop = false;
  int64_t dragAnchorFrame = 0;
  int64_t dragOrigLoopIn = -1;
  int64_t dragOrigLoopOut = -1;
  int64_t rearrangeSrcStart = -1;
  int64_t rearrangeSrcEnd = -1;
  bool stretchInPlace = false;
  int64_t stretchOrigIn = -1;
  int64_t stretchOrigOut = -1;
  int64_t retimeOrigIn = -1;
  int64_t retimeOrigOut = -1;
  bool paintAboveCentre = false;  // the Paint stroke began above the zero line
  bool captured = false;  // the widget holds the mouse while this is set

 private:
  bool HasInstrument() const;
  bool ValidRegion(int index) const;
  int64_t FrameAt(int x) const { return view_.FrameAtX(x); }
  // Zero snap where the moves and boundary drags apply it: option on and the
  // timeline not Beats.
  int64_t ZeroSnapIfApplies(int64_t frame) const;
  void ShowRegion(int index);
  bool PlayingNow() const;
  void Stop();
  void Start();
  void Capture(DragOperation op);
  // Begins the region edit of a grab (its region-only undo entry); false
  // when the user declined.
  bool RecordRegionUndo(const char* description);
  // Ends the region edit begun at the grab.
  void CommitRegionEdit(SelectionMoved moved);
  void UpdateLoopEdge(int64_t frame, bool inEdge);
  void FinishRegionDrag(DragOperation op);
  void FinishSelection();

  ViewModel& view_;
  CQuorvelDoc& doc_;
  // A tool drag (Rearrange, Time Stretch, Retime) began: what a cancelled
  // edit puts back.
  void RecordToolGrab();

  MouseModifiers mods_;
  std::vector<Region> regionsAtGrab_;
  // The region edit of the drag under way, from grab to release.
  std::optional<EditTransaction> regionEdit_;
  struct ToolGrab {
    int64_t loopIn = -1;
    int64_t loopOut = -1;
    int32_t selectedRegion = -1;
  } toolGrab_;
};

}  // namespace zandrel

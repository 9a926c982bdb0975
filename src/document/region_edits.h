// The main frame's edits of the region list.
//
// The Region and Global pages and the view ask the main frame to change the
// instrument (edit, split, delete a region, remove audio, make a single
// region). The frame's handlers call these functions with the document and a
// snapshot of the view's state taken when the handler runs, then apply the
// returned RegionEditResult to the view and the pages. Each function records
// its undo entry, changes the document, writes its log lines (through the
// document's frame) and shows its message boxes (through the current message
// host) exactly as the user sees them; none of them touches a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "document/instrument.h"
#include "document/quorvel_doc.h"

namespace zandrel {

// The view's state a region edit reads.
struct ViewState {
  int32_t selectedRegion = -1;  // -1 = none
  int64_t cursorFrame = -1;     // -1 = none
  int64_t loopIn = -1;          // selection start, -1 = none
  int64_t loopOut = -1;         // selection end, -1 = none
};

// What the caller must do to the view and the pages afterwards.
struct RegionEditResult {
  bool changed = false;            // the document changed (it is marked modified already)
  bool audioChanged = false;       // rebuild the peak cache and the scroll bar
  bool clearSelection = false;     // CQuorvelView::ClearSelection
  bool clearRegionPane = false;    // CMainFrame::ClearRegionPane
  bool clearBeatMarkers = false;   // empty the view's beat markers
  bool showInstrument = false;     // the Global page shows the instrument again
  // The view's selectedRegion becomes this (-1 = none); nothing = unchanged.
  // An index names a region whose place in the sorted list may have changed:
  // the Region page shows that region again so that its copy stays in step.
  std::optional<int32_t> selectRegion;
};

// WM_APP_EDIT_REGION: copies |pageRegion| over the selected region, first
// fitting it into the audio (start in [0, F-1], end in [start+1, F], a loop
// inside the region or none, with a "Warning: " log line saying what changed),
// then sorts the regions by start. Refused without audio.
RegionEditResult EditRegion(CQuorvelDoc& doc, const ViewState& view, const Region& pageRegion);
// WM_APP_EDIT_GLOBAL: copies |pageParams| over the instrument's settings.
RegionEditResult EditGlobalParameters(CQuorvelDoc& doc, const InstrumentParams& pageParams);
// WM_APP_DELETE_REGION: removes the selected region; its neighbours take over its span.
RegionEditResult DeleteRegion(CQuorvelDoc& doc, const ViewState& view);
// WM_APP_SPLIT_REGION: splits the region under the cursor (or the whole file
// in two when there are no regions).
RegionEditResult SplitRegion(CQuorvelDoc& doc, const ViewState& view);
// WM_APP_REMOVE_AUDIO: removes the audio between loopIn and loopOut and moves
// the regions with it. Stops playback (through the document's observers)
// before the audio changes.
RegionEditResult RemoveAudioData(CQuorvelDoc& doc, const ViewState& view);
// WM_APP_CREATE_SINGLE_REGION: one region over the whole audio.
RegionEditResult CreateSingleRegion(CQuorvelDoc& doc);
// One region over the whole audio with |rootNote| (negative: the
// instrument's root, or the smpl unity note of a file without instrument
// data). False without audio.
bool CreateSingleRegionWithRoot(CQuorvelDoc& doc, int rootNote);

// The Global page's "Beats" text for a duration: seconds / 60 x bpm, "%.2f";
// "0.00" when either is not positive.
std::string BeatsText(float seconds, float bpm);

}  // namespace zandrel

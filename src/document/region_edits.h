// The edits of the region list that the pages and the view ask for.
//
// The Region and Global pages and the view's commands ask for a region to be
// edited, split or deleted, for audio to be removed, or for a single region.
// The requests are queued: each function runs after the asking command has
// returned and reads the view's selection as it is then. Each runs as one
// EditTransaction (its undo entry, the change, the modified flag and the
// notifications), writes its log lines (through the
// document's frame) and shows its message boxes (through the current message
// host) exactly as the user sees them. What it changes of the view's state
// (the selected region, the selection, the beat markers) it changes in the
// ViewSelection it was given, and only when the edit goes through; the view
// and the pages learn of it through the transaction's notifications
// (UpdateAllViews with the kind of change, then NotifySelectionChanged).
// None of them touches a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "document/instrument.h"
#include "document/quorvel_doc.h"

namespace zandrel {

struct RegionEditResult {
  bool changed = false;  // the document changed (it is marked modified and the views are told)
};

// The Region page's "Update": copies |pageRegion| over the selected region, first
// fitting it into the audio (start in [0, F-1], end in [start+1, F], a loop
// inside the region or none, with a "Warning: " log line saying what changed),
// then sorts the regions by start; the selected region follows its region to
// its new place. Refused without audio.
RegionEditResult EditRegion(CQuorvelDoc& doc, ViewSelection& view, const Region& pageRegion);
// The Global page's "Update": copies |pageParams| over the instrument's settings.
RegionEditResult EditGlobalParameters(CQuorvelDoc& doc, const InstrumentParams& pageParams);
// Remove Region: removes the selected region; its neighbours take over its
// span. No region stays selected and the selection is cleared.
RegionEditResult DeleteRegion(CQuorvelDoc& doc, ViewSelection& view);
// Split At Cursor: splits the region under the cursor (or the whole file in
// two when there are no regions).
RegionEditResult SplitRegion(CQuorvelDoc& doc, ViewSelection& view);
// Delete Wav Data: removes the audio between loopIn and loopOut and moves
// the regions with it. Stops playback (through the document's observers)
// before the audio changes; clears the beat markers once it has removed it.
RegionEditResult RemoveAudioData(CQuorvelDoc& doc, ViewSelection& view);
// One region over the whole audio (no command sends this request yet).
RegionEditResult CreateSingleRegion(CQuorvelDoc& doc, ViewSelection& view);
// One region over the whole audio with |rootNote| (negative: the
// instrument's root, or the smpl unity note of a file without instrument
// data). False without audio.
bool CreateSingleRegionWithRoot(CQuorvelDoc& doc, int rootNote);

// Writes the selection as the loop of the region whose span holds both of
// its ends; the region's index, or -1 when no region holds the selection
// (nothing changes then).
int SetRegionLoopFromSelection(InstrumentData& instrument, const ViewSelection& view);

// The Global page's "Beats" text for a duration: seconds / 60 x bpm, "%.2f";
// "0.00" when either is not positive.
std::string BeatsText(float seconds, float bpm);

}  // namespace zandrel

#include "document/region_edits.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "document/edit_transaction.h"
#include "document/undo_history.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {


long long LL(int64_t v) { return static_cast<long long>(v); }

// One region over keys 0..127 without a loop.
Region WholeKeyboardRegion(int64_t start, int64_t end, int32_t root) {
  Region r;
  r.startSample = start;
  r.endSample = end;
  r.rootNote = root;
  return r;
}

// Sorts the regions by start frame (equal starts keep their order) and
// returns where the region at |index| went; an index that names no region
// comes back unchanged. |moved| tells whether the order changed at all.
int32_t SortRegionsTracking(std::vector<Region>& regions, int32_t index, bool* moved = nullptr) {
  std::vector<size_t> order(regions.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return regions[a].startSample < regions[b].startSample; });
  std::vector<Region> sorted;
  sorted.reserve(regions.size());
  int32_t newIndex = index;
  bool anyMoved = false;
  for (size_t pos = 0; pos < order.size(); ++pos) {
    sorted.push_back(regions[order[pos]]);
    if (order[pos] != pos) anyMoved = true;
    if (index >= 0 && order[pos] == static_cast<size_t>(index)) newIndex = static_cast<int32_t>(pos);
  }
  regions = std::move(sorted);
  if (moved) *moved = anyMoved;
  return newIndex;
}

// Audio the edits can work on: a document whose data holds no whole frame
// counts as having none.
bool HasFrames(const CQuorvelDoc& doc) { return doc.HasAudio() && doc.FrameCount() > 0; }

bool NamesRegion(const InstrumentData& instrument, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < instrument.regions.size();
}

// Ends an edit that changed the document, telling whether the view's
// selection changed with it (the selection was set before, so that whoever
// follows the document reads the new one).
RegionEditResult Changed(EditTransaction& edit, SelectionMoved moved,
                         DocumentChange change = DocumentChange::kInstrument) {
  edit.Commit(change, moved);
  return RegionEditResult{true};
}

// The region list was rebuilt: no region stays selected, and neither the
// Region page nor the view's selection may keep pointing into the old list.
void DropRegionSelection(ViewSelection& view) {
  view.selectedRegion = -1;
  view.ClearLoop();
}

void LogAndWarn(CQuorvelDoc& doc, const std::string& logText, const std::string& boxText) {
  Log(doc.GetLog(), logText);
  ShowMessage(boxText, MessageIcon::Warning);
}

// Brings a region typed on the Region page inside audio of |frames| frames
// (frames > 0): start in [0, frames-1], end in [start+1, frames], and a loop
// inside the region with its start before its end, or no loop. Returns what
// had to be corrected, empty when the region was sound.
std::vector<std::string> FitRegionToAudio(Region& r, int64_t frames) {
  std::vector<std::string> fixes;
  const int64_t start = std::clamp<int64_t>(r.startSample, 0, frames - 1);
  if (start != r.startSample) fixes.push_back(Format("start %lld -> %lld", LL(r.startSample), LL(start)));
  const int64_t end = std::clamp<int64_t>(r.endSample, start + 1, frames);
  if (end != r.endSample) fixes.push_back(Format("end %lld -> %lld", LL(r.endSample), LL(end)));
  r.startSample = start;
  r.endSample = end;

  const bool hasStart = r.loopStart != kNoLoop;
  const bool hasEnd = r.loopEnd != kNoLoop;
  if (hasStart != hasEnd) {
    fixes.push_back("loop removed (only one loop point was set)");
    r.loopStart = r.loopEnd = kNoLoop;
  } else if (hasStart) {
    const int64_t ls = std::clamp(r.loopStart, start, end);
    const int64_t le = std::clamp(r.loopEnd, start, end);
    if (ls >= le) {
      fixes.push_back(
          Format("loop %lld to %lld removed (not inside the region)", LL(r.loopStart), LL(r.loopEnd)));
      r.loopStart = r.loopEnd = kNoLoop;
    } else {
      if (ls != r.loopStart) fixes.push_back(Format("loop start %lld -> %lld", LL(r.loopStart), LL(ls)));
      if (le != r.loopEnd) fixes.push_back(Format("loop end %lld -> %lld", LL(r.loopEnd), LL(le)));
      r.loopStart = ls;
      r.loopEnd = le;
    }
  }
  return fixes;
}

// After audio removal: set loop points are kept inside the region, and a
// loop left with no length (both points fell into the removed audio) goes.
void KeepLoopInside(Region& r, int index, LogSink* log) {
  // A region that was already inverted is left to the orphan removal.
  const int64_t hi = std::max(r.startSample, r.endSample);
  if (r.loopStart != kNoLoop) r.loopStart = std::clamp(r.loopStart, r.startSample, hi);
  if (r.loopEnd != kNoLoop) r.loopEnd = std::clamp(r.loopEnd, r.startSample, hi);
  if (r.HasLoop() && r.loopStart >= r.loopEnd) {
    LogF(log, "Region %d loop removed (it lay within the deleted area).", index);
    r.loopStart = r.loopEnd = kNoLoop;
  }
}

}  // namespace

RegionEditResult EditRegion(CQuorvelDoc& doc, ViewSelection& view, const Region& pageRegion) {
  RegionEditResult result;
  LogSink* log = doc.GetLog();
  // Recorded before the checks: Undo after a refusal restores an unchanged state.
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Edit Region");
  if (!edit) return result;
  InstrumentData& inst = doc.instrument;
  if (!inst.hasInstrument || !NamesRegion(inst, view.selectedRegion)) {
    Log(log, "No Selected Region !");
    return result;
  }
  // No region fits into audio of no frames.
  if (!HasFrames(doc)) {
    Log(log, kNoAudioText);
    return result;
  }

  Region region = pageRegion;
  const std::vector<std::string> fixes = FitRegionToAudio(region, doc.FrameCount());
  inst.regions[static_cast<size_t>(view.selectedRegion)] = region;
  inst.hasInstrument = true;
  Log(log, "Updated Region");
  if (!fixes.empty()) {
    std::string text = "Warning: Region corrected to fit the audio: ";
    for (size_t i = 0; i < fixes.size(); ++i) text += (i ? ", " : "") + fixes[i];
    Log(log, text + ".");
  }
  if (region.loopStart >= 0 && region.loopEnd >= 0 && inst.params.playMode == "oneshot") {
    inst.params.playMode = "key";
    Log(log, "The Play Mode was changed to key");
  }
  // A changed start can move the region past its neighbours; the list stays
  // sorted and the view follows the region to its new place.
  const int32_t selected = SortRegionsTracking(inst.regions, view.selectedRegion);
  const bool moved = selected != view.selectedRegion;
  view.selectedRegion = selected;
  return Changed(*edit, SelectionMoved{moved});
}

RegionEditResult EditGlobalParameters(CQuorvelDoc& doc, const InstrumentParams& pageParams) {
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Edit Global Parameters");
  if (!edit) return {};
  doc.instrument.params = pageParams;
  doc.instrument.hasInstrument = true;
  Log(doc.GetLog(), "Updated Global");
  return Changed(*edit, SelectionMoved::kNo);
}

RegionEditResult DeleteRegion(CQuorvelDoc& doc, ViewSelection& view) {
  RegionEditResult result;
  LogSink* log = doc.GetLog();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Delete Region");
  if (!edit) return result;
  InstrumentData& inst = doc.instrument;
  if (!inst.hasInstrument || !NamesRegion(inst, view.selectedRegion)) {
    Log(log, "No valid region selected for deletion.");
    return result;
  }

  // The neighbour rules read "previous" and "next" by start frame; an edit
  // may have left the list out of order.
  std::vector<Region>& regions = inst.regions;
  const size_t i = static_cast<size_t>(SortRegionsTracking(regions, view.selectedRegion));
  const size_t n = regions.size();
  if (i > 0 && i + 1 < n) {
    regions[i - 1].endSample = regions[i + 1].startSample;
    regions[i - 1].hiKey = regions[i + 1].loKey;
  } else if (i > 0) {  // the last region
    regions[i - 1].endSample = regions[i].endSample;
    regions[i - 1].hiKey = 127;
  } else if (n > 1) {  // the first of several
    regions[1].startSample = 0;
    regions[1].loKey = 0;
  }
  regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(i));
  doc.SanitizeKeyRanges();
  Log(log, "Region deleted and adjacent regions adjusted.");
  DropRegionSelection(view);
  return Changed(*edit, SelectionMoved::kYes);
}

RegionEditResult SplitRegion(CQuorvelDoc& doc, ViewSelection& view) {
  RegionEditResult result;
  LogSink* log = doc.GetLog();
  InstrumentData& inst = doc.instrument;
  std::vector<Region>& regions = inst.regions;
  const int maxRegions = doc.MaxDeviceRegions();
  if (regions.size() >= static_cast<size_t>(std::max(maxRegions, 0))) {
    const std::string text = Format("Cannot split: Already have maximum of %d regions supported by EP.", maxRegions);
    LogAndWarn(doc, text, text);
    return result;
  }
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Split Region");
  if (!edit) return result;
  if (!HasFrames(doc)) {
    Log(log, kNoAudioText);
    return result;
  }
  const int64_t frames = doc.FrameCount();
  const int64_t c = view.cursorFrame;
  if (!(c > 0 && c < frames)) {
    Log(log, "Invalid cursor position for split.");
    return result;
  }

  if (regions.empty()) {
    Region low = WholeKeyboardRegion(0, c, 60);
    low.hiKey = 63;
    Region high = WholeKeyboardRegion(c, frames, 72);
    high.loKey = 64;
    regions = {low, high};
    inst.hasInstrument = true;
    Log(log, "Created two new regions from split.");
    view.ClearLoop();
    return Changed(*edit, SelectionMoved::kYes);
  }

  inst.hasInstrument = true;
  bool moved = false;
  const int32_t selected = SortRegionsTracking(regions, view.selectedRegion, &moved);
  // A refusal after the sort leaves the list sorted; the view (and with it the
  // Region page's copy) must follow the selected region to its new index.
  auto refuse = [&] {
    const bool followed = selected != view.selectedRegion;
    view.selectedRegion = selected;
    if (moved) doc.UpdateAllViews(DocumentChange::kInstrument);
    if (followed) doc.NotifySelectionChanged();
    return result;
  };

  std::ptrdiff_t a = -1;
  for (size_t k = 0; k < regions.size(); ++k) {
    if (regions[k].startSample == c) {
      Log(log, "Cursor is at the start of a region. Cannot split here.");
      return refuse();
    }
    if (regions[k].startSample > c) break;
    a = static_cast<std::ptrdiff_t>(k);
  }
  if (a < 0) {
    LogAndWarn(doc, "Cursor is not within any region. Place cursor inside a region to split.",
               "Cursor must be within a region to split it.");
    return refuse();
  }

  const size_t ai = static_cast<size_t>(a);
  Region& regionA = regions[ai];
  // The new part reaches the next region even when the cursor lay past A's
  // end, so the split leaves no gap.
  Region part;
  part.startSample = c;
  part.endSample = ai + 1 < regions.size() ? regions[ai + 1].startSample : frames;
  part.loKey = regionA.loKey;
  part.hiKey = regionA.hiKey;
  part.rootNote = (regionA.loKey + regionA.hiKey) / 2;
  regionA.endSample = c;
  if (regionA.loopEnd > c) {
    if (regionA.loopStart >= c) {
      // The whole loop lay in the part that was cut off; cutting its end at
      // the cursor would leave its start at or after its end.
      regionA.loopStart = regionA.loopEnd = kNoLoop;
      Log(log, "Region A loop was removed (it started at or after the split point).");
    } else {
      regionA.loopEnd = c;
      Log(log, "Region A loop was changed.");
    }
  }
  regions.insert(regions.begin() + a + 1, part);
  SortRegions(regions);
  LogF(log, "Region split at sample %lld. Created %d regions total.", LL(c), static_cast<int>(regions.size()));
  DropRegionSelection(view);
  return Changed(*edit, SelectionMoved::kYes);
}

RegionEditResult RemoveAudioData(CQuorvelDoc& doc, ViewSelection& view) {
  RegionEditResult result;
  LogSink* log = doc.GetLog();
  // The snapshot holds the audio before the removal.
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Remove Audio Data");
  if (!edit) return result;
  int64_t a = view.loopIn;
  int64_t b = view.loopOut;
  if (a == -1 || b == -1) {
    LogAndWarn(doc, "No loop points set. Cannot remove data.", "Please set loop points first (loop start and loop end).");
    return result;
  }
  if (a >= b) {
    const std::string text = "Invalid loop range. Loop start must be before loop end.";
    LogAndWarn(doc, text, text);
    return result;
  }
  if (!HasFrames(doc)) {
    Log(log, kNoAudioText);
    return result;
  }
  const int64_t frames = doc.FrameCount();
  // A selection that stops just short of either end of the file means the end.
  if (a >= 0 && a <= 99) a = 0;
  if (b > frames - 100 && b <= frames) b = frames;
  if (a < 0 || b > frames) {
    const std::string text = "Loop range exceeds file boundaries.";
    LogAndWarn(doc, text, text);
    return result;
  }

  doc.NotifyAudioAboutToChange();
  const int64_t n = b - a;
  InstrumentData& inst = doc.instrument;
  std::vector<Region>& regions = inst.regions;
  std::vector<bool> removed(regions.size(), false);
  // Moves a loop point (-1 stays -1).
  auto shift = [](int64_t& p, auto fn) {
    if (p != kNoLoop) p = fn(p);
  };
  for (size_t k = 0; k < regions.size(); ++k) {
    Region& r = regions[k];
    const int64_t s = r.startSample;
    const int64_t e = r.endSample;
    const int index = static_cast<int>(k);
    if (e <= a) continue;  // wholly before: untouched
    if (s >= a && e <= b) {
      removed[k] = true;
      LogF(log, "Region %d will be removed (entirely within deleted area).", index);
      continue;
    }
    if (s >= b) {  // wholly after
      r.startSample -= n;
      r.endSample -= n;
      shift(r.loopStart, [&](int64_t p) { return p - n; });
      shift(r.loopEnd, [&](int64_t p) { return p - n; });
    } else if (s < a && e <= b) {  // cut at its end
      r.endSample = a;
      shift(r.loopStart, [&](int64_t p) { return std::clamp(p, s, a); });
      shift(r.loopEnd, [&](int64_t p) { return std::max(s, std::min(p, a)); });
    } else if (s < a) {  // spans the removed range
      const int64_t newEnd = e - n;
      r.endSample = newEnd;
      auto remap = [&](int64_t p) { return p < a ? p : (p < b ? a : p - n); };
      shift(r.loopStart, [&](int64_t p) { return std::clamp(remap(p), s, newEnd); });
      shift(r.loopEnd, [&](int64_t p) { return std::max(s, std::min(remap(p), newEnd)); });
    } else {  // cut at its start: a <= s < b, e > b
      const int64_t newEnd = e - n;
      r.startSample = a;
      r.endSample = newEnd;
      shift(r.loopStart, [&](int64_t p) { return std::min(std::max(p - n, a), newEnd); });
      shift(r.loopEnd, [&](int64_t p) { return std::max(std::min(p - n, newEnd), a); });
    }
    KeepLoopInside(r, index, log);
  }
  for (size_t k = regions.size(); k-- > 0;) {
    if (removed[k]) regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(k));
  }
  if (regions.empty()) {
    Log(log, "WARNING: All regions were removed. Creating default region.");
    regions.push_back(WholeKeyboardRegion(0, frames - n, 60));
    inst.hasInstrument = true;
  }

  const size_t bytesPerFrame = doc.audio.format.nBlockAlign;
  std::vector<uint8_t>& data = doc.audio.data;
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(a) * bytesPerFrame);
  data.erase(first, first + static_cast<std::ptrdiff_t>(static_cast<size_t>(n) * bytesPerFrame));
  LogF(log, "Removed %lld samples (%lld bytes) from sample %lld to %lld.", LL(n),
       LL(n * static_cast<int64_t>(bytesPerFrame)), LL(a), LL(b));
  LogF(log, "Remaining regions: %d", static_cast<int>(regions.size()));

  doc.RemoveOrphanedRegions();
  doc.SanitizeKeyRanges();
  view.beatMarkers.clear();
  DropRegionSelection(view);
  return Changed(*edit, SelectionMoved::kYes, DocumentChange::kAudio);
}

RegionEditResult CreateSingleRegion(CQuorvelDoc& doc, ViewSelection& view) {
  RegionEditResult result;
  LogSink* log = doc.GetLog();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Create Single Region");
  if (!edit) return result;
  if (!HasFrames(doc)) {
    Log(log, kNoAudioText);
    return result;
  }
  const int64_t frames = doc.FrameCount();
  doc.instrument.regions = {WholeKeyboardRegion(0, frames, 60)};
  doc.instrument.hasInstrument = true;
  LogF(log, "Created single region spanning %lld samples (0 to %lld).", LL(frames), LL(frames));
  DropRegionSelection(view);
  return Changed(*edit, SelectionMoved::kYes);
}

bool CreateSingleRegionWithRoot(CQuorvelDoc& doc, int rootNote) {
  LogSink* log = doc.GetLog();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Create Single Region");
  if (!edit) return false;
  if (!HasFrames(doc)) {
    Log(log, kNoAudioText);
    return false;
  }
  InstrumentData& inst = doc.instrument;
  InstrumentParams& params = inst.params;
  inst.regions.clear();
  int root = rootNote;
  if (root < 0) {
    // A file without instrument data sounds at the pitch its smpl chunk names.
    root = (inst.hasInstrument || params.smplUnityNote == -1) ? params.rootNote : params.smplUnityNote;
  }
  root = std::clamp(root, 0, 127);
  const int64_t frames = doc.FrameCount();
  inst.regions.push_back(WholeKeyboardRegion(0, frames, root));
  inst.hasInstrument = true;
  if (params.playMode == "oneshot") params.playMode = "key";
  params.rootNote = root;
  LogF(log, "Created single region spanning %lld samples (0 to %lld) with root note %d.", LL(frames), LL(frames),
       root);
  edit->Commit(DocumentChange::kInstrument);
  return true;
}

std::string BeatsText(float seconds, float bpm) {
  // Negated tests so that NaN counts as "not positive" too.
  if (!(seconds > 0.0f) || !(bpm > 0.0f)) return "0.00";
  return Format("%.2f", static_cast<double>(seconds / 60.0f * bpm));
}

int SetRegionLoopFromSelection(InstrumentData& inst, const ViewSelection& view) {
  if (!inst.hasInstrument) return -1;
  for (size_t i = 0; i < inst.regions.size(); ++i) {
    Region& r = inst.regions[i];
    if (r.startSample <= view.loopIn && view.loopIn <= r.endSample) {
      if (r.startSample <= view.loopOut && view.loopOut <= r.endSample) {
        r.loopStart = view.loopIn;
        r.loopEnd = view.loopOut;
        return static_cast<int>(i);
      }
      return -1;
    }
  }
  return -1;
}

}  // namespace zandrel

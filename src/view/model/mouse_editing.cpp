#include "view/model/mouse_editing.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "document/note_names.h"
#include "document/undo_history.h"
#include "platform/log_sink.h"
#include "platform/text_format.h"
#include "processing/sample_access.h"
#include "processing/snapping.h"
#include "view/model/view_geometry.h"

namespace zandrel {
namespace {

constexpr int kBoundaryTolerancePixels = 5;
constexpr int kRegionLoopHandleHalfWidth = 5;
constexpr int kRegionLoopHandleHeight = 11;
constexpr int kToolHandleSize = 20;
// The magnifier helps only while one pixel covers several frames.
constexpr float kLoupeMinFramesPerPixel = 5.5f;

long long L(int64_t v) { return static_cast<long long>(v); }

}  // namespace

MouseEditing::MouseEditing(ViewModel& view) : view_(view), doc_(view.doc) {}

bool MouseEditing::HasInstrument() const { return doc_.instrument.hasInstrument; }

bool MouseEditing::ValidRegion(int index) const {
  return HasInstrument() && index >= 0 && index < static_cast<int>(doc_.instrument.regions.size());
}

bool MouseEditing::PlayingNow() const { return view_.hooks.isPlaying && view_.hooks.isPlaying(); }
void MouseEditing::Stop() {
  if (view_.hooks.stopPlayback) view_.hooks.stopPlayback();
}
void MouseEditing::Start() {
  if (view_.hooks.startPlayback) view_.hooks.startPlayback();
}

void MouseEditing::Capture(DragOperation op) {
  view_.dragOperation = op;
  captured = true;
}

void MouseEditing::ShowRegion(int index) {
  if (!ValidRegion(index)) return;
  // The page edits the selected region: the region it shows must be that one,
  // or its "Update" would write this region's values over another.
  view_.selectedRegion = index;
  if (view_.hooks.showRegion) view_.hooks.showRegion(doc_.instrument.regions[static_cast<size_t>(index)], index);
  if (view_.hooks.showInstrument) view_.hooks.showInstrument(view_.DurationSeconds());
}

bool MouseEditing::RecordRegionUndo(const char* description) {
  regionEdit_ = EditTransaction::Begin(doc_, kUndoRegionsOnly, description);
  if (!regionEdit_) return false;
  regionsAtGrab_ = doc_.instrument.regions;
  return true;
}

void MouseEditing::CommitRegionEdit(SelectionMoved moved) {
  EditTransaction edit = regionEdit_ ? std::move(*regionEdit_) : EditTransaction::WithoutUndo(doc_);
  regionEdit_.reset();
  edit.Commit(DocumentChange::kInstrument, moved);
}

int64_t MouseEditing::SnapToZeroCrossing(int64_t frame) const {
  if (view_.hooks.snapToZeroCrossing) return view_.hooks.snapToZeroCrossing(frame);
  return FindRisingZeroCrossing(PcmSpan::Of(doc_.audio), frame);
}

int64_t MouseEditing::ZeroSnapIfApplies(int64_t frame) const {
  return view_.snapToZeroCrossing && view_.timelineMode != TimelineMode::kBeats ? SnapToZeroCrossing(frame) : frame;
}

int64_t MouseEditing::SnapToBeatGrid(int64_t frame) const {
  if (view_.timelineMode != TimelineMode::kBeats || !view_.HasAudio()) return frame;
  if (mods_.ctrl && view_.dragOperation != kDragNewLoop) return frame;
  return SnapToGridStep(frame, BeatGridStep(doc_.instrument.params.bpm, doc_.audio.format.nSamplesPerSec));
}

// ------------------------------------------------------------ hit boxes --

Rect MouseEditing::RegionLoopStartHandle(int index) const {
  if (!ValidRegion(index)) return {};
  const Region& r = doc_.instrument.regions[static_cast<size_t>(index)];
  if (r.loopStart < 0 || r.loopStart >= r.loopEnd) return {};
  const int x = view_.XAtFrame(r.loopStart);
  return {x - kRegionLoopHandleHalfWidth, view_.WaveTop(), x + kRegionLoopHandleHalfWidth,
          view_.WaveTop() + kRegionLoopHandleHeight};
}

Rect MouseEditing::RegionLoopEndHandle(int index) const {
  if (!ValidRegion(index)) return {};
  const Region& r = doc_.instrument.regions[static_cast<size_t>(index)];
  if (r.loopStart < 0 || r.loopStart >= r.loopEnd) return {};
  const int x = view_.XAtFrame(r.loopEnd);
  return {x - kRegionLoopHandleHalfWidth, view_.WaveTop(), x + kRegionLoopHandleHalfWidth,
          view_.WaveTop() + kRegionLoopHandleHeight};
}

Rect MouseEditing::ToolRightHandle() const {
  if (view_.loopOut < 0) return {};
  const ViewLayout l = ComputeViewLayout(view_.clientWidth, view_.clientHeight, view_.editKeyBoundaries);
  const int x = view_.XAtFrame(view_.loopOut);
  return Rect::FromXYWH(x - kToolHandleSize / 2, l.Centre() - kToolHandleSize / 2, kToolHandleSize, kToolHandleSize);
}

Rect MouseEditing::RetimeLeftHandle() const {
  if (view_.loopIn < 0) return {};
  const ViewLayout l = ComputeViewLayout(view_.clientWidth, view_.clientHeight, view_.editKeyBoundaries);
  const int x = view_.XAtFrame(view_.loopIn);
  return Rect::FromXYWH(x - kToolHandleSize / 2, l.Centre() - kToolHandleSize / 2, kToolHandleSize, kToolHandleSize);
}

PianoHitRecords MouseEditing::PianoRecords() const {
  return ComputePianoHitRecords(doc_.instrument, view_.clientWidth, view_.clientHeight, view_.editKeyBoundaries);
}

// ---------------------------------------------------- region selection --

void MouseEditing::SelectRegionWithLoop(int index, const std::string& suffix, bool recentre) {
  if (!ValidRegion(index)) return;
  const Region r = doc_.instrument.regions[static_cast<size_t>(index)];
  view_.selectedRegion = index;
  view_.SetCursorPosition(r.startSample);
  view_.loopPlayback = true;
  const bool loop = r.loopStart >= 0 && r.loopStart < r.loopEnd && !(index == lastClickedRegion && lastClickWasLoop);
  const std::string tail = suffix.empty() ? std::string() : " " + suffix;
  std::string text;
  if (loop) {
    view_.loopIn = r.loopStart;
    view_.loopOut = r.loopEnd;
    text = Format("Region %d selected%s. Sustain loop activated (%lld - %lld). Cursor set to %lld.", index + 1,
                  tail.c_str(), L(r.loopStart), L(r.loopEnd), L(view_.cursorFrame));
  } else {
    view_.loopIn = r.startSample;
    view_.loopOut = r.endSample;
    text = Format("Region %d selected%s. Full region loop activated (%lld - %lld). Cursor set to %lld.", index + 1,
                  tail.c_str(), L(r.startSample), L(r.endSample), L(view_.cursorFrame));
  }
  lastClickedRegion = index;
  lastClickWasLoop = loop;
  if (recentre) {
    const double page = view_.FramesOnScreen();
    if (static_cast<double>(r.Length()) < page)
      view_.viewStart = static_cast<double>((r.startSample + r.endSample) / 2) - page / 2;
    else
      view_.viewStart = static_cast<double>(r.startSample);
    view_.ClampViewStart();
  }
  view_.SelectionChanged();
  ShowRegion(index);
  Log(doc_.GetLog(), text);
}

bool MouseEditing::SelectRegionFromPianoStrip(int x, int y) {
  if (!HasInstrument()) return false;
  const int top = view_.clientHeight - view_.PianoStripHeight();
  if (y < top || y >= view_.clientHeight || x < 0 || x >= view_.clientWidth) return false;
  int hit = -1;
  for (const KeyHitRecord& rec : PianoRecords().keyRects) {
    if (rec.rect.Contains(x, y) && ValidRegion(rec.region)) hit = rec.region;
  }
  if (hit < 0) return false;
  const bool playing = PlayingNow();
  if (playing) Stop();
  SelectRegionWithLoop(hit, Format("Selected Region %d", hit + 1), true);
  if (playing) Start();
  return true;
}

bool MouseEditing::BeginBoundaryDrag(int x, int y) {
  if (!HasInstrument() || !view_.regionBarRect.Contains(x, y)) return false;
  const int64_t f = FrameAt(x);
  const int64_t tolerance = static_cast<int64_t>(kBoundaryTolerancePixels * view_.framesPerPixel);
  const auto& regions = doc_.instrument.regions;
  for (size_t i = 0; i < regions.size(); ++i) {
    const bool start = std::llabs(f - regions[i].startSample) <= tolerance;
    const bool end = !start && std::llabs(f - regions[i].endSample) <= tolerance;
    if (!start && !end) continue;
    if (!RecordRegionUndo("Drag Region Boundary")) return true;
    const int index = static_cast<int>(i);
    view_.selectedRegion = dragRegion = index;
    dragRegionEnd = end;
    Capture(kDragRegionBoundary);
    Stop();
    view_.SelectionChanged();
    ShowRegion(index);
    Log(doc_.GetLog(), Format(end ? "Region %d end boundary selected for dragging."
                                  : "Region %d start boundary selected for dragging.",
                              index + 1));
    return true;
  }
  return false;
}

bool MouseEditing::SelectRegionFromRegionBar(int x, int y) {
  if (!HasInstrument() || !view_.regionBarRect.Contains(x, y)) return false;
  const int64_t f = FrameAt(x);
  const auto& regions = doc_.instrument.regions;
  for (size_t i = 0; i < regions.size(); ++i) {
    if (regions[i].startSample <= f && f < regions[i].endSample) {
      const bool playing = PlayingNow();
      if (playing) Stop();
      SelectRegionWithLoop(static_cast<int>(i), std::string(), false);
      if (playing) Start();
      return true;
    }
  }
  return false;
}

// ------------------------------------------------------- live drags --

void MouseEditing::DragRegionBoundary(int64_t frame) {
  if (!ValidRegion(dragRegion)) return;
  auto& regions = doc_.instrument.regions;
  const size_t i = static_cast<size_t>(dragRegion);
  Region& r = regions[i];
  int64_t low = 0;
  int64_t high = 0;
  if (dragRegionEnd) {
    low = r.startSample + 1;
    high = i + 1 < regions.size() ? regions[i + 1].endSample - 1 : view_.FrameCount();
  } else {
    low = i > 0 ? regions[i - 1].startSample + 1 : 0;
    high = r.endSample - 1;
  }
  if (high < low) return;  // no room to move: the neighbours already touch
  // Every snap is followed by the clamp, so no snap can carry a boundary past
  // its neighbour's far end or its own other end.
  int64_t a = std::clamp(frame, low, high);
  a = std::clamp(SnapToBeatGrid(a), low, high);
  a = std::clamp(ZeroSnapIfApplies(a), low, high);
  if (dragRegionEnd) {
    r.endSample = a;
    if (i + 1 < regions.size()) regions[i + 1].startSample = a;
  } else {
    r.startSample = a;
    if (i > 0) regions[i - 1].endSample = a;
  }
  // Cleared once the boundary has moved, so that what the selection change
  // shows (the Region page) is the new position.
  view_.ClearSelection();
}

void MouseEditing::FitLoopsIntoRegions() {
  auto& regions = doc_.instrument.regions;
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region fitted = regions[i].WithLoopInside();
    if (fitted == regions[i]) continue;
    if (fitted.HasLoop())
      Log(doc_.GetLog(), Format("Region %d loop clamped into the region: Start=%lld, End=%lld.", static_cast<int>(i) + 1,
                                L(fitted.loopStart), L(fitted.loopEnd)));
    else
      Log(doc_.GetLog(), Format("Region %d loop removed: it lay outside the region.", static_cast<int>(i) + 1));
    regions[i] = fitted;
  }
}

void MouseEditing::DragKeyBoundary(int x, int y, bool ctrlDown) {
  if (!ValidRegion(dragKeyRegion)) return;
  const PianoKeyLayout layout = PianoKeyLayout::For(view_.clientWidth, view_.editKeyBoundaries);
  const bool upperHalf = y < view_.clientHeight - (view_.editKeyBoundaries ? 60 : 20);
  std::vector<Region> regions = doc_.instrument.regions;
  const size_t i = static_cast<size_t>(dragKeyRegion);
  const bool hasPrevious = i > 0;
  const bool hasNext = i + 1 < regions.size();
  Region& r = regions[i];
  auto shiftLater = [&](int delta) {
    for (size_t j = i + 1; j < regions.size(); ++j) {
      regions[j].loKey = std::clamp(regions[j].loKey + delta, 0, 127);
      regions[j].rootNote = std::clamp(regions[j].rootNote + delta, 0, 127);
      regions[j].hiKey = std::clamp(regions[j].hiKey + delta, 0, 127);
    }
  };
  if (dragKeyIsLow) {
    int k = layout.KeyAtBoundary(x);
    if (hasPrevious) k = std::max(k, regions[i - 1].rootNote + (upperHalf ? 0 : 1));
    k = std::min(k, ctrlDown ? 127 : r.rootNote);
    const int delta = k - r.loKey;
    r.loKey = k;
    if (hasPrevious) regions[i - 1].hiKey = upperHalf ? k : k - 1;
    if (ctrlDown && delta != 0) {
      r.rootNote = std::clamp(r.rootNote + delta, 0, 127);
      r.hiKey = std::clamp(r.hiKey + delta, 0, 127);
      shiftLater(delta);
    }
  } else {
    // The handle sits on the high key's right edge, the left edge of the key
    // after it; the key left of the nearest boundary is the high key, so a
    // grab without movement keeps it.
    int k = layout.KeyAtBoundary(x) - 1;
    if (hasNext && !ctrlDown) k = std::min(k, regions[i + 1].rootNote - (upperHalf ? 0 : 1));
    k = std::max(k, r.rootNote);
    const int delta = k - r.hiKey;
    r.hiKey = k;
    if (ctrlDown) {
      if (delta != 0) shiftLater(delta);
    } else if (hasNext) {
      regions[i + 1].loKey = upperHalf ? k : k + 1;
    }
  }
  // Keys stay MIDI keys and every range stays ordered: a position that would
  // break that is not taken, so the drag stops at the last sound one.
  for (const Region& each : regions) {
    const bool inRange = each.loKey >= 0 && each.hiKey <= 127 && each.rootNote >= 0 && each.rootNote <= 127;
    if (!inRange || each.loKey > each.hiKey) return;
  }
  doc_.instrument.regions = std::move(regions);
}

void MouseEditing::UpdateLoopEdge(int64_t frame, bool inEdge) {
  if (inEdge)
    view_.loopIn = frame;
  else
    view_.loopOut = frame;
  if (view_.loopOut < view_.loopIn) {
    std::swap(view_.loopIn, view_.loopOut);
    // The marker under the mouse is now the other edge: keep following it,
    // so the marker that was not grabbed stays where it is.
    view_.dragOperation = inEdge ? kDragLoopOut : kDragLoopIn;
  }
  view_.SelectRegion(view_.FindRegionAtSelectionCenter());
  view_.SelectionChanged();
}

// ------------------------------------------------------------- events --

void MouseEditing::RecordToolGrab() {
  toolGrab_ = {view_.loopIn, view_.loopOut, view_.selectedRegion};
}

void MouseEditing::DropToolPreview() {
  view_.loopIn = toolGrab_.loopIn;
  view_.loopOut = toolGrab_.loopOut;
  view_.selectedRegion = toolGrab_.selectedRegion;
  view_.SelectionChanged();
  // The pages show the region selected again.
  ShowRegion(toolGrab_.selectedRegion);
}

bool MouseEditing::Press(int x, int y, MouseModifiers mods) {
  mods_ = mods;
  if (!view_.HasAudio()) return false;
  const int64_t frames = view_.FrameCount();

  // 1. Key-boundary handles.
  if (view_.editKeyBoundaries && HasInstrument()) {
    for (const KeyHitRecord& h : PianoRecords().handles) {
      if (!h.rect.Contains(x, y)) continue;
      if (!RecordRegionUndo("Piano Region")) return true;
      dragKeyRegion = h.region;
      dragKeyIsLow = h.lowKeyHandle;
      Capture(kDragKeyBoundary);
      return true;
    }
  }
  // 2-4. Piano strip, region boundaries, region bar.
  if (SelectRegionFromPianoStrip(x, y) || BeginBoundaryDrag(x, y) || SelectRegionFromRegionBar(x, y)) return true;

  const bool bothLoopPoints = view_.loopIn >= 0 && view_.loopOut >= 0;
  // 5. The Time Stretch handle.
  if (view_.toolMode == ToolMode::kTimeStretch && bothLoopPoints && ToolRightHandle().Contains(x, y)) {
    RecordToolGrab();
    view_.stretchActive = true;
    stretchInPlace = mods.alt;
    stretchOrigIn = view_.loopIn;
    stretchOrigOut = view_.loopOut;
    Capture(kDragLoopOut);
    return true;
  }
  // 6. The Retime handles, left first.
  if (view_.toolMode == ToolMode::kRetime && bothLoopPoints) {
    const bool left = RetimeLeftHandle().Contains(x, y);
    if (left || ToolRightHandle().Contains(x, y)) {
      RecordToolGrab();
      view_.retimeActive = true;
      retimeOrigIn = view_.loopIn;
      retimeOrigOut = view_.loopOut;
      Capture(left ? kDragLoopIn : kDragLoopOut);
      return true;
    }
  }
  // 7. The selection bar: move the selection.
  if (view_.selectionBarRect.Contains(x, y)) {
    dragAnchorFrame = FrameAt(x);
    dragOrigLoopIn = view_.loopIn;
    dragOrigLoopOut = view_.loopOut;
    if (view_.toolMode == ToolMode::kRearrange) {
      RecordToolGrab();
      view_.rearrangeActive = true;
      rearrangeSrcStart = view_.loopIn;
      rearrangeSrcEnd = view_.loopOut;
    }
    Capture(kDragMoveSelection);
    return true;
  }
  // 8. A Paint stroke.
  const ViewLayout layout = ComputeViewLayout(view_.clientWidth, view_.clientHeight, view_.editKeyBoundaries);
  if (view_.toolMode == ToolMode::kPaint && x >= layout.areaX && x < layout.areaX + layout.areaWidth &&
      y >= layout.Top() && y < layout.Bottom()) {
    Capture(kDragPaint);
    view_.paintPoints.clear();
    const double half = layout.areaHeight / 2.0;
    const int centre = layout.Centre();
    paintAboveCentre = y < centre;
    const double level = half > 0 ? std::min(1.0, std::abs(y - centre) / half) : 1.0;
    view_.paintPoints.push_back({FrameAt(x), static_cast<float>(level)});
    return true;
  }
  // 9. Region loop handles.
  if (HasInstrument() && y <= view_.WaveTop() + kRegionLoopHandleHeight) {
    for (int i = 0; i < static_cast<int>(doc_.instrument.regions.size()); ++i) {
      const bool start = RegionLoopStartHandle(i).Contains(x, y);
      if (!start && !RegionLoopEndHandle(i).Contains(x, y)) continue;
      if (!RecordRegionUndo(start ? "Drag Region Loop Start" : "Drag Region Loop End")) return true;
      dragRegion = i;
      Capture(start ? kDragRegionLoopStart : kDragRegionLoopEnd);
      Stop();
      return true;
    }
  }
  // 10. The selection's markers.
  if (view_.loopInHandleRect.Contains(x, y)) {
    Capture(kDragLoopIn);
    return true;
  }
  if (view_.loopOutHandleRect.Contains(x, y)) {
    Capture(kDragLoopOut);
    return true;
  }
  // 11. The cursor, or a new selection.
  const int64_t d = std::max<int64_t>(0, SnapToBeatGrid(FrameAt(x)));
  const bool inRegionBar = view_.regionBarRect.Contains(x, y);
  if ((!mods.ctrl && view_.toolMode != ToolMode::kSelection) || inRegionBar) {
    int64_t cursor = view_.snapToZeroCrossing ? SnapToZeroCrossing(d) : d;
    cursor = std::clamp<int64_t>(cursor, 0, frames - 1);
    int region = -1;
    if (HasInstrument()) {
      const auto& regions = doc_.instrument.regions;
      for (size_t i = 0; i < regions.size() && region < 0; ++i) {
        if (regions[i].startSample <= d && d < regions[i].endSample) region = static_cast<int>(i);
      }
    }
    const bool playing = PlayingNow();
    if (playing) Stop();
    view_.cursorFrame = view_.playAnchor = cursor;
    if (region >= 0) view_.selectedRegion = region;
    view_.SelectionChanged();
    if (region >= 0) {
      ShowRegion(region);
      Log(doc_.GetLog(), Format("Cursor at sample: %lld. Region %d selected.", L(cursor), region + 1));
    } else {
      Log(doc_.GetLog(), Format("Cursor at sample: %lld", L(cursor)));
    }
    if (playing) Start();
    Capture(kDragCursor);
    return true;
  }
  // Pressed in the margin right of the audio: the selection starts at its end.
  const int64_t anchor = std::min(d, frames);
  view_.loopIn = view_.loopOut = anchor;
  dragAnchorFrame = anchor;
  const ToolMode t = view_.toolMode;
  if (t != ToolMode::kRearrange && t != ToolMode::kTimeStretch && t != ToolMode::kRetime) view_.loopPlayback = true;
  Capture(kDragNewLoop);
  Stop();
  Log(doc_.GetLog(), Format("Creating loop region from sample %lld. Drag to set loop end.", L(anchor)));
  view_.SelectionChanged();
  return true;
}

bool MouseEditing::Move(int x, int y, MouseModifiers mods) {
  mods_ = mods;
  const DragOperation op = view_.dragOperation;
  if (op == kDragNone || !view_.HasAudio()) return false;
  const int64_t frames = view_.FrameCount();
  const int64_t u = std::clamp<int64_t>(SnapToBeatGrid(FrameAt(x)), 0, frames - 1);
  if (op == kDragPaint) {
    if (tools.paintStroke) tools.paintStroke(x, y, u);
    return true;
  }

  const bool loupeDrag = op == kDragLoopIn || op == kDragLoopOut || op == kDragRegionBoundary ||
                         op == kDragRegionLoopStart || op == kDragRegionLoopEnd;
  if (loupeDrag && view_.framesPerPixel > kLoupeMinFramesPerPixel && view_.showLoupe) {
    const ViewLayout layout = ComputeViewLayout(view_.clientWidth, view_.clientHeight, view_.editKeyBoundaries);
    view_.loupeVisible = true;
    view_.loupeFrame = view_.snapToZeroCrossing ? SnapToZeroCrossing(u) : u;
    view_.loupeRect = PlaceLoupe(x, y, Rect{0, 0, view_.clientWidth, view_.clientHeight}, layout.areaHeight);
  } else {
    view_.loupeVisible = false;
  }

  switch (op) {
    case kDragLoopIn:
    case kDragLoopOut:
      if (view_.stretchActive) stretchInPlace = mods.alt;
      UpdateLoopEdge(ZeroSnapIfApplies(u), op == kDragLoopIn);
      break;
    case kDragNewLoop: {
      // The frame where the drag began stays one end of the selection.
      const int64_t v = ZeroSnapIfApplies(u);
      view_.loopIn = std::min(dragAnchorFrame, v);
      view_.loopOut = std::max(dragAnchorFrame, v);
      view_.SelectRegion(view_.FindRegionAtSelectionCenter());
      view_.SelectionChanged();
      break;
    }
    case kDragRegionBoundary:
      if (dragRegion >= 0) DragRegionBoundary(u);
      break;
    case kDragCursor:
      view_.SetCursorPosition(u);
      view_.SelectionChanged();
      break;
    case kDragMoveSelection: {
      if (view_.rearrangeActive) view_.rearrangeMode = mods.alt ? 3 : mods.shift ? 2 : mods.ctrl ? 1 : 0;
      const int64_t s = SnapToBeatGrid(dragOrigLoopIn + u - dragAnchorFrame);
      view_.loopIn = std::clamp<int64_t>(s, 0, frames - 1);
      view_.loopOut = std::clamp<int64_t>(s + (dragOrigLoopOut - dragOrigLoopIn), 0, frames);
      if (view_.loopOut < view_.loopIn) std::swap(view_.loopIn, view_.loopOut);
      view_.SelectRegion(view_.FindRegionAtSelectionCenter());
      view_.SelectionChanged();
      break;
    }
    case kDragRegionLoopStart:
      if (ValidRegion(dragRegion)) {
        Region& r = doc_.instrument.regions[static_cast<size_t>(dragRegion)];
        r.loopStart = std::min(r.loopEnd - 1, std::max(r.startSample, ZeroSnapIfApplies(u)));
      }
      break;
    case kDragRegionLoopEnd:
      if (ValidRegion(dragRegion)) {
        Region& r = doc_.instrument.regions[static_cast<size_t>(dragRegion)];
        r.loopEnd = std::max(r.loopStart + 1, std::min(r.endSample, ZeroSnapIfApplies(u)));
      }
      break;
    case kDragKeyBoundary:
      if (dragKeyRegion >= 0) DragKeyBoundary(x, y, mods.ctrl);
      break;
    default:
      break;
  }
  return true;
}

void MouseEditing::FinishSelection() {
  if (view_.loopOut < view_.loopIn) std::swap(view_.loopIn, view_.loopOut);
  const int64_t minimum = static_cast<int64_t>(2 * view_.framesPerPixel);
  if (view_.loopOut - view_.loopIn < minimum) {
    const int64_t start = std::clamp<int64_t>(view_.loopIn, 0, view_.FrameCount() - 1);
    view_.ClearLoop();
    view_.cursorFrame = view_.playAnchor = start;
  }
  view_.SelectionChanged();
  Log(doc_.GetLog(), Format("Loop region created: Start=%lld, End=%lld, Length=%lld samples", L(view_.loopIn),
                            L(view_.loopOut), L(view_.loopOut - view_.loopIn)));
}

void MouseEditing::FinishRegionDrag(DragOperation op) {
  auto& regions = doc_.instrument.regions;
  if (op == kDragRegionBoundary && ValidRegion(dragRegion)) {
    doc_.RemoveOrphanedRegions();
    FitLoopsIntoRegions();
    SelectionMoved moved = SelectionMoved::kNo;
    const int n = dragRegion + 1;
    if (ValidRegion(dragRegion)) {
      const size_t i = static_cast<size_t>(dragRegion);
      const Region& r = regions[i];
      std::string text;
      if (dragRegionEnd) {
        text = Format("Region %d end boundary moved to sample %lld. Region %d: [%lld - %lld]", n, L(r.endSample), n,
                      L(r.startSample), L(r.endSample));
        if (i + 1 < regions.size())
          text += Format(", Region %d: [%lld - %lld]", n + 1, L(regions[i + 1].startSample), L(regions[i + 1].endSample));
      } else if (i == 0) {
        text = Format("Region %d start boundary moved to sample %lld. Region %d: [%lld - %lld]", n, L(r.startSample), n,
                      L(r.startSample), L(r.endSample));
      } else {
        text = Format("Region %d start boundary moved to sample %lld. Region %d: [%lld - %lld], Region %d: [%lld - %lld]",
                      n, L(r.startSample), n - 1, L(regions[i - 1].startSample), L(regions[i - 1].endSample), n,
                      L(r.startSample), L(r.endSample));
      }
      ShowRegion(dragRegion);
      Log(doc_.GetLog(), text);
    } else {
      view_.selectedRegion = -1;
      moved = SelectionMoved::kYes;
    }
    CommitRegionEdit(moved);
    dragRegion = -1;
  } else if (op == kDragKeyBoundary && ValidRegion(dragKeyRegion)) {
    const size_t i = static_cast<size_t>(dragKeyRegion);
    const int n = dragKeyRegion + 1;
    const Region& r = regions[i];
    std::string text;
    if (dragKeyIsLow) {
      text = Format("Region %d loKey set to %d (%s)", n, r.loKey, MidiNoteName(r.loKey).c_str());
      if (i > 0)
        text += Format(", Region %d hiKey set to %d (%s)", n - 1, regions[i - 1].hiKey,
                       MidiNoteName(regions[i - 1].hiKey).c_str());
    } else {
      text = Format("Region %d hiKey set to %d (%s)", n, r.hiKey, MidiNoteName(r.hiKey).c_str());
      if (i + 1 < regions.size())
        text += Format(", Region %d loKey set to %d (%s)", n + 1, regions[i + 1].loKey,
                       MidiNoteName(regions[i + 1].loKey).c_str());
    }
    ShowRegion(dragKeyRegion);
    Log(doc_.GetLog(), text);
    CommitRegionEdit(SelectionMoved::kNo);
    dragKeyRegion = -1;
  } else if ((op == kDragRegionLoopStart || op == kDragRegionLoopEnd) && ValidRegion(dragRegion)) {
    const Region& r = regions[static_cast<size_t>(dragRegion)];
    ShowRegion(dragRegion);
    Log(doc_.GetLog(), Format("Region %d loop points updated: Start=%lld, End=%lld.", dragRegion + 1,
                              L(r.loopStart), L(r.loopEnd)));
    CommitRegionEdit(SelectionMoved::kNo);
    dragRegion = -1;
  }
}

bool MouseEditing::Release(int /*x*/, int /*y*/, MouseModifiers mods) {
  mods_ = mods;
  view_.loupeVisible = false;
  const DragOperation op = view_.dragOperation;
  if (op == kDragNone) return false;
  if (op == kDragPaint) {
    if (tools.applyPaintedLevels) tools.applyPaintedLevels();
    view_.paintPoints.clear();
    view_.dragOperation = kDragNone;
    captured = false;
    return true;
  }
  const bool regionDrag = op == kDragRegionBoundary || op == kDragKeyBoundary || op == kDragRegionLoopStart ||
                          op == kDragRegionLoopEnd;
  if (op == kDragNewLoop || view_.toolMode == ToolMode::kSelection) {
    FinishSelection();
    // A region drag that changed the regions is finished even with the
    // Selection tool, so the change is never left unmarked or half done.
    if (regionDrag && doc_.instrument.regions != regionsAtGrab_) {
      doc_.RemoveOrphanedRegions();
      FitLoopsIntoRegions();
      if (!ValidRegion(view_.selectedRegion)) view_.selectedRegion = -1;
      CommitRegionEdit(SelectionMoved::kYes);
    }
    dragRegion = dragKeyRegion = -1;
  } else {
    FinishRegionDrag(op);
  }
  if (op == kDragMoveSelection && view_.rearrangeActive) {
    if (tools.applyRearrange) tools.applyRearrange();
    view_.rearrangeActive = false;
    view_.rearrangeMode = 0;
  }
  if ((op == kDragLoopIn || op == kDragLoopOut) && view_.stretchActive) {
    if (tools.applyTimeStretch) tools.applyTimeStretch(stretchInPlace);
    view_.stretchActive = false;
    stretchInPlace = false;
  }
  if ((op == kDragLoopIn || op == kDragLoopOut) && view_.retimeActive) {
    if (tools.applyRetime) tools.applyRetime();
    view_.retimeActive = false;
  }
  if (view_.loopOut < view_.loopIn) std::swap(view_.loopIn, view_.loopOut);
  view_.dragOperation = kDragNone;
  captured = false;
  regionsAtGrab_.clear();
  regionEdit_.reset();
  return true;
}

bool MouseEditing::DoubleClick(int x, int y, MouseModifiers mods) {
  mods_ = mods;
  if (!view_.HasAudio()) return false;
  if (y >= view_.clientHeight - view_.PianoStripHeight()) {
    view_.editKeyBoundaries = !view_.editKeyBoundaries;
    return true;
  }
  if (y < kRegionBarHeight) return Press(x, y, mods);
  if (!HasInstrument()) return true;
  const int64_t f = FrameAt(x);
  const auto& regions = doc_.instrument.regions;
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    if (r.startSample <= f && f < r.endSample) {
      const bool playing = PlayingNow();
      if (playing) Stop();
      SelectRegionWithLoop(static_cast<int>(i),
                           Format("via double-click (keys %d-%d: %s-%s)", r.loKey, r.hiKey,
                                  MidiNoteName(r.loKey).c_str(), MidiNoteName(r.hiKey).c_str()),
                           false);
      if (playing) Start();
      break;
    }
  }
  return true;
}

CursorShape MouseEditing::CursorAt(int x, int y, MouseModifiers mods) const {
  if (view_.toolMode == ToolMode::kPaint) return CursorShape::kPaint;
  if (view_.selectionBarRect.Contains(x, y))
    return view_.toolMode == ToolMode::kTimeStretch ? CursorShape::kHand : CursorShape::kMove;
  const bool bothLoopPoints = view_.loopIn >= 0 && view_.loopOut >= 0;
  if (bothLoopPoints && view_.toolMode == ToolMode::kTimeStretch && ToolRightHandle().Contains(x, y))
    return CursorShape::kResizeHorizontal;
  if (bothLoopPoints && view_.toolMode == ToolMode::kRetime &&
      (RetimeLeftHandle().Contains(x, y) || ToolRightHandle().Contains(x, y)))
    return CursorShape::kResizeHorizontal;
  if (view_.loopInHandleRect.Contains(x, y) || view_.loopOutHandleRect.Contains(x, y))
    return CursorShape::kResizeHorizontal;
  if (view_.editKeyBoundaries && HasInstrument()) {
    for (const KeyHitRecord& h : PianoRecords().handles)
      if (h.rect.Contains(x, y)) return CursorShape::kResizeHorizontal;
  }
  if (HasInstrument()) {
    if (view_.regionBarRect.Contains(x, y)) {
      const int64_t f = FrameAt(x);
      const int64_t tolerance = static_cast<int64_t>(kBoundaryTolerancePixels * view_.framesPerPixel);
      for (const Region& r : doc_.instrument.regions)
        if (std::llabs(f - r.startSample) <= tolerance || std::llabs(f - r.endSample) <= tolerance)
          return CursorShape::kResizeHorizontal;
    }
    for (int i = 0; i < static_cast<int>(doc_.instrument.regions.size()); ++i)
      if (RegionLoopStartHandle(i).Contains(x, y) || RegionLoopEndHandle(i).Contains(x, y))
        return CursorShape::kResizeHorizontal;
  }
  if (!mods.ctrl && view_.toolMode != ToolMode::kSelection) return CursorShape::kDefault;
  const bool overBand = view_.regionBarRect.Contains(x, y) || y >= view_.clientHeight - view_.PianoStripHeight();
  return overBand ? CursorShape::kDefault : CursorShape::kCrosshair;
}

}  // namespace zandrel

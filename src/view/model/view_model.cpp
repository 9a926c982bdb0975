#include "view/model/view_model.h"

#include <algorithm>
#include <cmath>

#include "platform/settings.h"
#include "processing/sample_access.h"
#include "processing/snapping.h"
#include "view/model/piano_key_layout.h"

namespace zandrel {

ViewModel::ViewModel(CQuorvelDoc& d) : doc(d) { InitParticles(animation, SteadySeconds()); }

void ViewModel::LoadSettings() {
  const SettingsStore& s = CurrentSettings();
  playAnimation = s.GetInt("Settings", "PlayAnimationOnEmptyScreen", 1) != 0;
  showLoupe = s.GetInt("Settings", "ShowLoupeWhenDragging", 1) != 0;
  scrollWheelZoom = s.GetInt("Settings", "ScrollWheelZoom", 1) != 0;
}

int64_t ViewModel::FrameAtX(double x) const {
  return static_cast<int64_t>(x * static_cast<double>(framesPerPixel) + viewStart);
}

int ViewModel::XAtFrame(int64_t frame) const {
  const double x = (static_cast<double>(frame) - viewStart) / static_cast<double>(framesPerPixel);
  return static_cast<int>(std::clamp(x, -1e8, 1e8));
}

double ViewModel::DurationSeconds() const {
  const uint32_t rate = doc.audio.format.nSamplesPerSec;
  return rate ? static_cast<double>(FrameCount()) / rate : 0.0;
}

void ViewModel::RebuildPeakCache() {
  // The peaks follow the audio, and so must the spectrum.
  spectrum.Invalidate();
  const int64_t bucket = std::max<int64_t>(1, static_cast<int64_t>(framesPerPixel));
  if (!HasAudio()) {
    peakCache.Clear();
    return;
  }
  peakCache.Rebuild(&doc.audio, bucket);
}

void ViewModel::ClampViewStart() {
  if (!HasAudio()) return;
  const double page = FramesOnScreen();
  const double half = page / 2;
  const double frames = static_cast<double>(FrameCount());
  viewStart = std::min(viewStart, frames + half - page);
  viewStart = std::max(viewStart, -half);
}

ScrollBarState ComputeScrollBar(double frames, double page, double viewStart, double* unit) {
  ScrollBarState s;
  const double u = std::max(1.0, std::ceil(frames / 2000000000.0));
  const double half = page / 2;
  s.min = static_cast<int>(std::floor(-half / u));
  s.max = static_cast<int>(std::ceil((frames + half) / u));
  s.page = static_cast<int>(std::ceil(page / u));
  s.pos = static_cast<int>(std::round(viewStart / u));
  if (unit) *unit = u;
  return s;
}

ScrollBarState ViewModel::ScrollBar() {
  if (!HasAudio()) return {};
  return ComputeScrollBar(static_cast<double>(FrameCount()), FramesOnScreen(), viewStart, &scrollUnit);
}

bool ViewModel::Scroll(ScrollAction action, int trackPosition) {
  if (!HasAudio()) return false;
  const double page = FramesOnScreen();
  const double half = page / 2;
  const double frames = static_cast<double>(FrameCount());
  double v = viewStart;
  switch (action) {
    case ScrollAction::kLineLeft: v -= 10.0 * framesPerPixel; break;
    case ScrollAction::kLineRight: v += 10.0 * framesPerPixel; break;
    case ScrollAction::kPageLeft: v -= page; break;
    case ScrollAction::kPageRight: v += page; break;
    case ScrollAction::kThumb: v = trackPosition * scrollUnit; break;
    case ScrollAction::kLeft: v = -half; break;
    case ScrollAction::kRight: v = frames + half - page; break;
    case ScrollAction::kEndScroll: break;
  }
  v = std::min(v, frames + half - page);
  v = std::max(v, -half);
  if (std::fabs(v - viewStart) <= 1e-9) return false;
  viewStart = v;
  return true;
}

bool ViewModel::Wheel(int delta, double mouseX, bool altDown) {
  if (!HasAudio()) return false;
  const bool zoom = scrollWheelZoom ? !altDown : altDown;
  if (zoom) {
    const float old = framesPerPixel;
    float next = delta > 0 ? old / 1.25f : old * 1.25f;
    const double frames = static_cast<double>(FrameCount());
    const float upper = clientWidth >= 1 ? static_cast<float>(frames * 1.5 / clientWidth) : static_cast<float>(frames);
    next = std::min(next, upper);
    next = std::max(next, 0.5f);
    if (next == old) return false;
    framesPerPixel = next;
    // The frame under the mouse stays where it is.
    viewStart = static_cast<double>(old) * mouseX + viewStart - static_cast<double>(next) * mouseX;
    ClampViewStart();
    peakCache.SetBucketSize(std::max<int64_t>(1, static_cast<int64_t>(framesPerPixel)));
  } else {
    const double step = FramesOnScreen() * 0.1;
    viewStart += delta > 0 ? -step : step;
    ClampViewStart();
  }
  return true;
}

std::optional<ClientPoint> ViewModel::ContextMenuPoint() const {
  if (contextMenuX < 0 || contextMenuY < 0) return std::nullopt;
  return ClientPoint{contextMenuX, contextMenuY};
}

std::optional<int> ViewModel::PianoKeyAtContextMenu() const {
  const int x = contextMenuX, y = contextMenuY;
  if (x < 0 || x >= clientWidth || y < clientHeight - PianoStripHeight() || y >= clientHeight) return std::nullopt;
  return PianoKeyAtX(x, clientWidth, editKeyBoundaries);
}

std::function<int64_t(int64_t)> ViewModel::ZeroCrossingSnap() const {
  if (!snapToZeroCrossing) return {};
  return [this](int64_t frame) { return Snap(frame); };
}

void ViewModel::ShowRegion(int index) {
  const std::vector<Region>& regions = doc.instrument.regions;
  if (hooks.showRegion && index >= 0 && index < static_cast<int>(regions.size()))
    hooks.showRegion(regions[static_cast<size_t>(index)], index);
}

void ViewModel::ShowInstrument() {
  if (hooks.showInstrument) hooks.showInstrument(DurationSeconds());
}

void ViewModel::ShowTimelineInBeats() {
  timelineMode = TimelineMode::kBeats;
  if (hooks.repaint) hooks.repaint();
}

int64_t ViewModel::Snap(int64_t frame) const {
  if (!snapToZeroCrossing) return frame;
  if (hooks.snapToZeroCrossing) return hooks.snapToZeroCrossing(frame);
  return FindRisingZeroCrossing(PcmSpan::Of(doc.audio), frame);
}

void ViewModel::SelectionChanged() { doc.NotifySelectionChanged(); }

bool ViewModel::HandleKey(ViewKey key) {
  const bool audio = HasAudio();
  const int64_t frames = FrameCount();
  switch (key) {
    case ViewKey::kSpace:
      if (hooks.isPlaying && hooks.isPlaying()) {
        if (hooks.stopPlayback) hooks.stopPlayback();
      } else if (hooks.startPlayback) {
        hooks.startPlayback();
      }
      return true;
    case ViewKey::kEnd:
      if (!audio) return false;
      cursorFrame = frames - 1;
      viewStart = static_cast<double>(frames) - FramesOnScreen();
      ClampViewStart();
      SelectionChanged();
      return true;
    case ViewKey::kHome:
      cursorFrame = 0;
      viewStart = 0;
      ClampViewStart();
      SelectionChanged();
      return true;
    case ViewKey::kSelectAll:
      if (!audio) return false;
      loopIn = 0;
      loopOut = frames - 1;
      loopPlayback = true;
      SelectionChanged();
      Log(doc.GetLog(), "Selected entire waveform.");
      return true;
    case ViewKey::kLoopIn:
      if (cursorFrame < 0) return false;
      loopIn = Snap(cursorFrame);
      if (loopOut < 0) loopOut = frames - 1;
      SelectionChanged();
      return true;
    case ViewKey::kLoopOut:
      if (cursorFrame < 0) return false;
      loopOut = Snap(cursorFrame);
      if (loopIn < 0) loopIn = 0;
      loopPlayback = true;
      SelectionChanged();
      return true;
    case ViewKey::kLoop:
      if (hooks.isPlaying && hooks.isPlaying() && hooks.stopPlayback) hooks.stopPlayback();
      loopPlayback = !loopPlayback;
      Log(doc.GetLog(), loopPlayback ? "Loop playback enabled." : "Loop playback disabled.");
      SelectionChanged();
      return true;
  }
  return false;
}

void ViewModel::SetCursorPosition(int64_t frame) {
  if (!HasAudio()) {
    cursorFrame = playAnchor = -1;
    return;
  }
  cursorFrame = playAnchor = std::clamp<int64_t>(frame, 0, FrameCount() - 1);
}

void ViewModel::ClearSelection() {
  ClearLoop();
  SelectionChanged();
}

void ViewModel::SelectRegion(int index) {
  const InstrumentData& inst = doc.instrument;
  if (!inst.hasInstrument || index < 0) return;
  const bool currentValid = selectedRegion >= 0 && selectedRegion < static_cast<int>(inst.regions.size());
  if (currentValid && index == selectedRegion) return;
  selectedRegion = index;
  if (index < static_cast<int>(inst.regions.size())) {
    if (hooks.showRegion) hooks.showRegion(inst.regions[static_cast<size_t>(index)], index);
    if (hooks.showInstrument) hooks.showInstrument(DurationSeconds());
  }
}

int ViewModel::FindRegionAtSelectionCenter() const {
  const InstrumentData& inst = doc.instrument;
  if (!inst.hasInstrument || loopIn < 0 || loopOut < 0) return -1;
  const int64_t middle = (loopIn + loopOut) / 2;
  for (size_t i = 0; i < inst.regions.size(); ++i) {
    const Region& r = inst.regions[i];
    if (r.startSample <= middle && middle <= r.endSample) return static_cast<int>(i);
  }
  return -1;
}


void ViewModel::ResetForDocument() {
  if (hooks.stopPlayback) hooks.stopPlayback();
  cursorFrame = playAnchor = loopIn = loopOut = -1;
  loopPlayback = false;
  selectedRegion = -1;
  beatMarkers.clear();
  toolMode = ToolMode::kNormal;
  rearrangeMode = 0;
  rearrangeActive = stretchActive = retimeActive = false;
  dragOperation = kDragNone;
  viewStart = 0;
  framesPerPixel = 256.0f;
  spectrum.Invalidate();
  RebuildPeakCache();
  if (hooks.showInstrument) hooks.showInstrument(DurationSeconds());
  SelectionChanged();
}

void ViewModel::Follow(DocumentChange change) {
  if (change == DocumentChange::kReplaced) {
    ResetForDocument();
  } else if (change == DocumentChange::kAudio) {
    RebuildPeakCache();
    ClampViewStart();
    FitSelectionToDocument();
  } else if (change == DocumentChange::kInstrument) {
    FitSelectionToDocument();
  }
}

bool ViewModel::FitSelectionToDocument() {
  const int64_t frames = HasAudio() ? FrameCount() : 0;
  bool changed = false;
  auto fitFrame = [&](int64_t& f, int64_t last) {
    if (f < 0 || f <= last) return;
    f = frames > 0 ? last : -1;
    changed = true;
  };
  // The cursor may stand at the end, after the last frame (where an insert
  // at the end leaves it).
  fitFrame(cursorFrame, frames);
  fitFrame(playAnchor, frames);
  if (loopIn >= 0 || loopOut >= 0) {
    if (loopIn >= frames || loopOut < 0 || loopIn < 0) {
      ClearLoop();
      changed = true;
    } else if (loopOut > frames) {
      loopOut = frames;
      changed = true;
    }
  }
  const auto regions = static_cast<int32_t>(doc.instrument.regions.size());
  if (selectedRegion >= regions) {
    selectedRegion = -1;
    changed = true;
  }
  if (std::erase_if(beatMarkers, [&](int64_t b) { return b >= frames; }) > 0) changed = true;
  if (changed) SelectionChanged();
  return changed;
}

ContextMenuKind ViewModel::ContextMenuAt(int x, int y) {
  contextMenuX = x;
  contextMenuY = y;
  if (y < kRegionBarHeight) {
    const InstrumentData& inst = doc.instrument;
    if (inst.hasInstrument && x >= 0 && x < clientWidth) {
      const int64_t frame = FrameAtX(x);
      for (size_t i = 0; i < inst.regions.size(); ++i) {
        const Region& r = inst.regions[i];
        if (r.startSample <= frame && frame < r.endSample) {
          selectedRegion = static_cast<int>(i);
          loopIn = r.startSample;
          loopOut = r.endSample;
          loopPlayback = true;
          SelectionChanged();
          break;
        }
      }
    }
    return ContextMenuKind::kRegionBar;
  }
  if (y < WaveBottom()) {
    const int64_t frame = FrameAtX(x);
    SetCursorPosition(frame);
    if (loopIn >= 0 && loopIn < loopOut && loopIn <= frame && frame <= loopOut) return ContextMenuKind::kLoopRegion;
    return ContextMenuKind::kEdit;
  }
  return ContextMenuKind::kPianoRoll;
}

DropAction ViewModel::DropDecision(size_t fileCount, bool ctrlDown, bool hasAudio) {
  if (fileCount == 0) return DropAction::kNone;
  return ctrlDown && hasAudio ? DropAction::kAppend : DropAction::kOpen;
}

}  // namespace zandrel

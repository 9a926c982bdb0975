#include "processing/loop_commands.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "document/edit_transaction.h"
#include "processing/loop_crossfade.h"
#include "processing/loop_search.h"
#include "processing/loop_window.h"
#include "processing/processing_range.h"

namespace zandrel {
namespace {


void Box(CommandContext& c, std::string_view text, MessageIcon icon = MessageIcon::None) {
  c.Messages().Show(text, icon, MessageButtons::Ok);
}

bool SelectionSet(const ViewSelection& s) { return s.loopIn >= 0 && s.loopOut >= 0 && s.loopIn < s.loopOut; }

void SetSelection(CQuorvelDoc& doc, ViewSelection& s, int64_t in, int64_t out) {
  s.loopIn = in;
  s.loopOut = out;
  doc.NotifySelectionChanged();
}

// The loop selection a search or a snap found, as one edit of the document.
void CommitLoopSelection(EditTransaction edit, ViewSelection& s, int64_t in, int64_t out) {
  s.loopIn = in;
  s.loopOut = out;
  edit.CommitSelection();
}

// Watches the document while a search runs on its copy of the audio:
// anything that changes or replaces the audio makes the result stale, so the
// search stops and its result is dropped.
class AudioWatch final : public DocumentObserver {
 public:
  explicit AudioWatch(CQuorvelDoc& doc) : doc_(doc) { doc_.AddObserver(this); }
  ~AudioWatch() override { doc_.RemoveObserver(this); }
  AudioWatch(const AudioWatch&) = delete;
  AudioWatch& operator=(const AudioWatch&) = delete;

  void OnAudioAboutToChange() override { stale_ = true; }
  void OnDocumentChanged(DocumentChange change) override {
    if (change == DocumentChange::kReplaced || change == DocumentChange::kAudio) stale_ = true;
  }
  bool Stale() const { return stale_.load(); }
  // |progress| that also says stop once the audio changed.
  WorkProgress Guard(const std::function<bool(double)>& progress) const {
    return [this, &progress](double fraction) { return !Stale() && progress(fraction); };
  }

 private:
  CQuorvelDoc& doc_;
  std::atomic<bool> stale_{false};
};

// Runs |search| as long work and hands its result to |apply| on the
// user-interface thread, unless it was cancelled or the audio changed.
void RunSearch(CommandContext& c, const std::string& title,
               std::function<LoopSearchResult(const LoopProgress&)> search,
               std::function<void(CQuorvelDoc&, const LoopSearchResult&)> apply) {
  CQuorvelDoc& doc = *c.Document();
  AudioWatch watch(doc);
  auto result = std::make_shared<LoopSearchResult>();
  LongWork work;
  work.title = title;
  work.compute = [&watch, result, search](const std::function<bool(double)>& progress) {
    *result = search(watch.Guard(progress));
    return !result->cancelled;
  };
  work.commit = [&] {
    if (watch.Stale() || result->cancelled) return;
    for (const std::string& line : result->log) Log(doc.GetLog(), line);
    if (!result->found) {
      if (!result->message.empty()) Box(c, result->message);
      return;
    }
    apply(doc, *result);
  };
  c.RunLongWork(work);
}

// "Find Looping Points (Slow)" and "(Pyramid)": the selected region, or the
// whole file when there are no regions.
void FindLoopPoints(CommandContext& c, bool pyramid, const std::string& title) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  ViewSelection& view = c.Selection();
  const std::vector<Region>& regions = doc->instrument.regions;
  int index = -1;
  if (!regions.empty()) {
    if (view.selectedRegion < 0 || static_cast<size_t>(view.selectedRegion) >= regions.size()) {
      Box(c,
          "Please select a region first.\n\nYou can select a region by clicking on it in the region selector bar at "
          "the top of the waveform.",
          MessageIcon::Information);
      return;
    }
    index = view.selectedRegion;
  }
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText);
    return;
  }
  const LoopSearchRangeResult range = LoopSearchRangeFor(doc->FrameCount(), regions, index);
  if (!range.range) {
    Box(c, range.error);
    return;
  }
  // Only the bytes are copied here; their conversion is the search's first
  // step, off this thread.
  const LoopSearchRange searched = *range.range;
  auto window = std::make_shared<PcmWindow>(PcmWindow::Copy(PcmSpan::Of(doc->audio), searched.start, searched.end));
  RunSearch(
      c, title,
      [window, searched, pyramid](const LoopProgress& progress) {
        std::optional<LoopSource> source = LoopSource::Copy(*window, searched, SubProgress(progress, 0.0, 0.02));
        if (!source) return LoopSearchResult{.cancelled = true};
        window->bytes = {};
        const WorkProgress searching = SubProgress(progress, 0.02, 1.0);
        return pyramid ? findLoopPyramid(*source, searching) : findLoopSlow(*source, searching);
      },
      [&c, index, title](CQuorvelDoc& d, const LoopSearchResult& r) {
        ViewSelection& s = c.Selection();
        if (index >= 0 && static_cast<size_t>(index) < d.instrument.regions.size()) {
          const Region& g = d.instrument.regions[static_cast<size_t>(index)];
          // A region that has a loop keeps it; only the selection changes.
          if (!g.HasLoop()) {
            Region next = g;
            next.loopStart = std::max(g.startSample, std::min(r.loopIn, g.endSample));
            next.loopEnd = std::max(g.startSample, std::min(r.loopOut, g.endSample));
            if (next.loopStart >= next.loopEnd) next.loopStart = next.loopEnd = kNoLoop;
            std::optional<EditTransaction> edit;
            if (!(next == g)) edit = EditTransaction::Begin(d, kUndoRegionsOnly, title);
            if (edit) {
              d.instrument.regions[static_cast<size_t>(index)] = next;
              edit->Commit(DocumentChange::kInstrument);
            }
          }
        }
        SetSelection(d, s, r.loopIn, r.loopOut);
      });
}

void FindLoopPointsNcc(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText);
    return;
  }
  if (doc->audio.format.wBitsPerSample != 16) {
    Box(c, "16-bit only for this algo.");
    return;
  }
  const ViewSelection& view = c.Selection();
  const int64_t frames = doc->FrameCount();
  const std::vector<Region>& regions = doc->instrument.regions;
  const std::optional<FrameRange> processing =
      ComputeProcessingRange(SelectionState{view.loopIn, view.loopOut, view.loopPlayback}, !regions.empty(), frames);
  const FrameRange range = processing.value_or(FrameRange{0, frames});
  int64_t spanStart = 0, spanEnd = frames;
  if (view.selectedRegion >= 0 && static_cast<size_t>(view.selectedRegion) < regions.size()) {
    spanStart = regions[static_cast<size_t>(view.selectedRegion)].startSample;
    spanEnd = regions[static_cast<size_t>(view.selectedRegion)].endSample;
  }
  auto window = std::make_shared<PcmWindow>(PcmWindow::Copy(PcmSpan::Of(doc->audio), spanStart, spanEnd));
  RunSearch(
      c, "Find Looping Points NCC",
      [window, spanStart, spanEnd, range](const LoopProgress& progress) {
        std::optional<NccInput> input =
            NccInputFrom(*window, spanStart, spanEnd, range.start, range.end, SubProgress(progress, 0.0, 0.02));
        if (!input) return LoopSearchResult{.cancelled = true};
        window->bytes = {};
        return findLoopNcc(*input, SubProgress(progress, 0.02, 1.0));
      },
      [&c](CQuorvelDoc& d, const LoopSearchResult& r) {
        CommitLoopSelection(EditTransaction::WithoutUndo(d), c.Selection(), r.loopIn, r.loopOut);
      });
}

void AlignLoopingPoints(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText);
    return;
  }
  ViewSelection& view = c.Selection();
  if (!SelectionSet(view)) {
    Box(c, "No valid loop region set.");
    return;
  }
  const int64_t e = std::max<int64_t>(0, view.loopIn);
  const int64_t f = std::min(view.loopOut, doc->FrameCount());
  if (e >= f) return;
  if (doc->audio.format.wBitsPerSample != 16) {
    Box(c, "Only 16-bit audio is supported for Auto-Loop logic.");
    return;
  }
  // The search reads only 200 ms around each end: a copy of those frames.
  auto window = std::make_shared<PcmWindow>(AutoLoopAlignWindow(PcmSpan::Of(doc->audio), e, f));
  auto result = std::make_shared<AutoLoopAlignResult>();
  AudioWatch watch(*doc);
  LongWork work;
  work.title = "Align Looping Points (+/-200ms)";
  work.compute = [&watch, window, result, e, f](const std::function<bool(double)>& progress) {
    *result = autoLoopAlign(*window, e, f, watch.Guard(progress));
    return !result->cancelled;
  };
  work.commit = [&c, doc, result, &watch] {
    if (watch.Stale()) return;
    c.StopPlayback();
    std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Auto-Loop Optimization");
    if (!edit) return;
    CommitLoopSelection(std::move(*edit), c.Selection(), result->loopIn, result->loopOut);
    Log(doc->GetLog(), result->log);
  };
  c.RunLongWork(work);
}

void SnapSelectionToZeroCrossings(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText, MessageIcon::Information);
    return;
  }
  ViewSelection& view = c.Selection();
  if (view.loopIn < 0 || view.loopIn >= view.loopOut) {
    Box(c, "Please set a valid loop region first (use 'I' and 'O' keys or CTRL+Drag).", MessageIcon::Information);
    return;
  }
  const ZeroCrossingSnapResult r = snapLoopToZeroCrossings(PcmSpan::Of(doc->audio), view.loopIn, view.loopOut);
  if (!r.changed) {
    Box(c, r.message, MessageIcon::Information);
    return;
  }
  CommitLoopSelection(EditTransaction::WithoutUndo(*doc), view, r.loopIn, r.loopOut);
  Log(doc->GetLog(), r.log);
}

void LoopCrossfade(CommandContext& c, CrossfadeShape shape) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText);
    return;
  }
  const ViewSelection& view = c.Selection();
  if (!SelectionSet(view)) {
    Box(c, "No valid loop region set.");
    return;
  }
  // The checks refuse before anything changes; the crossfade then runs on a
  // copy of the frames it rewrites, and the undo entry is recorded from the
  // untouched audio when the copy goes back in.
  const PcmFormat& f = doc->audio.format;
  const LoopCrossfadeResult plan =
      PlanLoopCrossfade(doc->FrameCount(), f.wBitsPerSample, f.nSamplesPerSec, view.loopIn, view.loopOut, shape);
  if (plan.status == LoopCrossfadeResult::Status::kNothing) return;
  if (plan.status == LoopCrossfadeResult::Status::kRefused) {
    Box(c, plan.message);
    return;
  }
  auto window = std::make_shared<PcmWindow>(LoopCrossfadeWindow(PcmSpan::Of(doc->audio), plan));
  AudioWatch watch(*doc);
  const char* label =
      shape == CrossfadeShape::kHanning ? HanningCrossfade::kUndoLabel : EqualPowerCrossfade::kUndoLabel;
  LongWork work;
  work.title = shape == CrossfadeShape::kHanning ? "Hanning Crossfade" : "Equal-Power Crossfade";
  work.compute = [&watch, window, plan, shape](const std::function<bool(double)>& progress) {
    return ApplyLoopCrossfade(*window, plan, shape, watch.Guard(progress));
  };
  work.commit = [&c, doc, window, plan, label, &watch] {
    if (watch.Stale()) return;
    c.StopPlayback();
    doc->NotifyAudioAboutToChange();
    std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, label);
    if (!edit) return;
    const size_t align = doc->audio.format.nBlockAlign;
    std::memcpy(doc->audio.data.data() + static_cast<size_t>(window->first) * align, window->bytes.data(),
                window->bytes.size());
    edit->Commit(DocumentChange::kAudio);
    Log(doc->GetLog(), plan.log);
  };
  c.RunLongWork(work);
}

void AlignPhase(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Box(c, kNoAudioText);
    return;
  }
  ViewSelection& view = c.Selection();
  if (!SelectionSet(view)) {
    Box(c, "No valid loop region set. Use Playback > Set Loop In/Out first.");
    return;
  }
  const int64_t in = view.loopIn, out = view.loopOut;
  auto window = std::make_shared<PcmWindow>(AlignPhaseWindow(PcmSpan::Of(doc->audio), in, out));
  auto result = std::make_shared<AlignPhaseResult>();
  AudioWatch watch(*doc);
  LongWork work;
  work.title = "Align Phase";
  work.compute = [&watch, window, result, in, out](const std::function<bool(double)>& progress) {
    *result = alignLoopPhase(*window, in, out, watch.Guard(progress));
    return !result->cancelled;
  };
  work.commit = [&c, doc, result, in, &watch] {
    if (watch.Stale()) return;
    const AlignPhaseResult& r = *result;
    ViewSelection& s = c.Selection();
    // The loop end moves to its crossing before the start is looked at, so
    // it stays there even when no start is found.
    if (r.status == AlignPhaseResult::Status::kRefused) {
      if (r.loopOut != s.loopOut) SetSelection(*doc, s, in, r.loopOut);
      Box(c, r.message);
      return;
    }
    SetSelection(*doc, s, r.loopIn, r.loopOut);
    Log(doc->GetLog(), r.log);
  };
  c.RunLongWork(work);
}

}  // namespace

void DeclareLoopCommands(CommandRegistry& r) {
  r.Add({.id = cmd::kHanningCrossfade,
         .text = "Hanning Crossfade",
         .menus = {{"&Selection", 200}},
         .run = [](CommandContext& c) { LoopCrossfade(c, CrossfadeShape::kHanning); }});
  r.Add({.id = cmd::kEqualPowerCrossfade,
         .text = "Equal-Power Crossfade",
         .menus = {{"&Selection", 201}},
         .contextMenus = {{"Loop Region", 201}},
         .run = [](CommandContext& c) { LoopCrossfade(c, CrossfadeShape::kEqualPower); }});
  r.Add({.id = cmd::kAlignPhase, .text = "Align Phase", .menus = {{"&Selection", 202}}, .run = AlignPhase});
  r.Add({.id = cmd::kFindLoopPointsSlow,
         .text = "Find Looping Points (Slow)",
         .menus = {{"&Selection", 310}},
         .run = [](CommandContext& c) { FindLoopPoints(c, false, "Find Looping Points (Slow)"); }});
  r.Add({.id = cmd::kFindLoopPointsPyramid,
         .text = "Find Looping Points (Pyramid)",
         .menus = {{"&Selection", 311}},
         .run = [](CommandContext& c) { FindLoopPoints(c, true, "Find Looping Points (Pyramid)"); }});
  r.Add({.id = cmd::kFindLoopPointsNcc,
         .text = "Find Looping Points NCC",
         .menus = {{"&Selection", 312}},
         .run = FindLoopPointsNcc});
  r.Add({.id = cmd::kAlignLoopingPoints,
         .text = "Align Looping Points (+/-200ms)",
         .menus = {{"&Selection", 400}},
         .run = AlignLoopingPoints});
  r.Add({.id = cmd::kSetInOutToZeroCrossing,
         .text = "Set IN/OUT to Zero Crossing",
         .menus = {{"&Selection", 401}},
         .contextMenus = {{"Loop Region", 202}},
         .run = SnapSelectionToZeroCrossings});
}

}  // namespace zandrel

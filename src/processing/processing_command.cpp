#include "processing/processing_command.h"

#include <utility>
#include <vector>

#include "document/edit_transaction.h"
#include "document/quorvel_doc.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

// Watches the document while the work runs: anything that changes or
// replaces its audio (a file opened, the document closed) makes the copy
// the work computes from stale, so the work is cancelled and its result
// dropped.
class StaleWatch final : public DocumentObserver {
 public:
  StaleWatch(CQuorvelDoc& doc, LongTask& task) : doc_(doc), task_(task) { doc_.AddObserver(this); }
  ~StaleWatch() override { doc_.RemoveObserver(this); }
  StaleWatch(const StaleWatch&) = delete;
  StaleWatch& operator=(const StaleWatch&) = delete;

  void OnAudioAboutToChange() override { MarkStale(); }
  void OnDocumentChanged(DocumentChange change) override {
    if (change != DocumentChange::kState) MarkStale();
  }
  bool Stale() const { return stale_; }

 private:
  void MarkStale() {
    stale_ = true;
    task_.RequestCancel();
  }

  CQuorvelDoc& doc_;
  LongTask& task_;
  bool stale_ = false;
};

std::optional<FrameRange> RangeFor(RangeRule rule, const CQuorvelDoc& doc, const SelectionState& selection) {
  const int64_t frames = doc.FrameCount();
  switch (rule) {
    case RangeRule::kProcessingRange:
      return ComputeProcessingRange(selection, !doc.instrument.regions.empty(), frames);
    case RangeRule::kRawSelection:
      return SelectionRange(selection, frames);
    case RangeRule::kWholeFile:
      return FrameRange{0, frames};
  }
  return std::nullopt;
}

// The format the work is dispatched on, or nullopt when the audio's format
// cannot be walked safely (unknown width, a frame too small for its samples).
std::optional<SampleFormat> FormatOf(const CWavLoader& audio) {
  const PcmFormat& f = audio.format;
  const std::optional<SampleFormat> format = SampleFormatOf(f.wBitsPerSample, audio.IsFloat());
  if (!format || f.nChannels == 0) return std::nullopt;
  if (f.nBlockAlign < f.nChannels * (f.wBitsPerSample / 8)) return std::nullopt;
  return format;
}

}  // namespace

bool DepthSet::Has(SampleFormat f) const {
  switch (f) {
    case SampleFormat::kU8:
      return u8;
    case SampleFormat::kS16:
      return s16;
    case SampleFormat::kS24:
      return s24;
    case SampleFormat::kS32:
      return s32;
    case SampleFormat::kF32:
      return f32;
  }
  return false;
}

ProcessingResult RunProcessingCommand(const ProcessingCommand& command, const ProcessingContext& context) {
  if (!context.doc) return ProcessingResult::kNoDocument;
  CQuorvelDoc& doc = *context.doc;
  MessageHost& host = context.messages ? *context.messages : CurrentMessageHost();
  auto show = [&host](std::string_view text) { host.Show(text, MessageIcon::None, MessageButtons::Ok); };

  if (!doc.HasAudio()) {
    if (!command.silentWithoutAudio) show(kNoAudioText);
    return ProcessingResult::kNoAudio;
  }

  const std::optional<FrameRange> range = RangeFor(command.range, doc, context.selection);
  if (!range) {
    if (!command.rangeFailureText.empty()) show(command.rangeFailureText);
    return ProcessingResult::kNoRange;
  }
  if (range->Empty() && !command.emptyRangeText.empty()) {
    show(command.emptyRangeText);
    return ProcessingResult::kNoRange;
  }

  auto stopPlayback = [&] {
    if (context.stopPlayback) context.stopPlayback();
    doc.NotifyAudioAboutToChange();
  };

  const std::optional<SampleFormat> format = FormatOf(doc.audio);
  if (!format || !command.depths.Has(*format)) {
    const std::string text = Format(std::string(command.depthFailureText).c_str(), doc.audio.format.wBitsPerSample);
    if (command.depthCheck == DepthCheck::kAfterUndo && !command.undoLabel.empty()) {
      // These commands record their entry before they look at the depth; the
      // audio stays as it is, so an undo restores the same state.
      stopPlayback();
      if (!EditTransaction::Begin(doc, kUndoWithAudio, std::string(command.undoLabel))) {
        return ProcessingResult::kUndoDeclined;
      }
    }
    show(text);
    return ProcessingResult::kUnsupportedDepth;
  }

  // The work computes on a copy; the live document is not touched until the
  // commit below.
  std::vector<uint8_t> copy = doc.audio.data;
  const PcmFormat pcm = doc.audio.format;
  const SampleWork::Fn& work = command.work.For(*format);
  WorkOutcome outcome;
  bool stale = false;
  {
    LongTask task;
    StaleWatch watch(doc, task);
    BlockingTaskHost blocking;
    LongTaskHost& tasks = context.tasks ? *context.tasks : blocking;
    tasks.Prepare(task);
    task.Start([&](TaskProgress& progress) {
      outcome = work(copy, pcm.nChannels, pcm.nBlockAlign, pcm.nSamplesPerSec, *range, progress);
    });
    tasks.Wait(task, command.menuText);
    task.Join();
    stale = watch.Stale();
    if (task.Failed()) {
      show("Out of memory.");
      return ProcessingResult::kFailed;
    }
    if (task.CancelRequested() && !stale) LogCancelled(doc.GetLog(), command.menuText);
    if (task.CancelRequested() || stale) return ProcessingResult::kCancelled;
  }
  if (outcome.refusal) {
    show(*outcome.refusal);
    return ProcessingResult::kRefused;
  }

  stopPlayback();
  // A command without an undo text records no entry.
  std::optional<EditTransaction> edit =
      command.undoLabel.empty() ? EditTransaction::WithoutUndo(doc)
                                : EditTransaction::Begin(doc, kUndoWithAudio, std::string(command.undoLabel));
  if (!edit) return ProcessingResult::kUndoDeclined;
  doc.audio.data.swap(copy);
  if (command.logLine) {
    const std::string line = command.logLine(LogFacts{*range, doc.FrameCount(), pcm.nSamplesPerSec});
    if (!line.empty()) Log(doc.GetLog(), line);
  }
  edit->Commit(DocumentChange::kAudio);
  return ProcessingResult::kDone;
}

}  // namespace zandrel

// Processing commands: edits that rewrite the samples of a frame range.
//
// A processing command is one declaration: what range it works on, what it
// says when there is no audio or no range, which sample formats it handles,
// its undo label and its log line, plus its sample work. The work is a pure
// function of (samples, range, parameters) written as a template over the
// sample format; it never sees the document, the view or a message box.
// RunProcessingCommand performs every step the commands share, in this order:
//
//   1. no document: nothing happens;
//   2. no audio: "No audio data loaded." (or nothing, for silent commands);
//   3. the range (processing range, raw selection or whole file); a failure
//      shows the command's own text;
//   4. the sample format: one the command does not declare gives its depth
//      text ("Unsupported bit depth: %d-bit"), before or after the undo step
//      as declared;
//   5. the work runs on a worker thread over a copy of the audio, with
//      progress and Cancel (LongTaskHost); Cancel changes nothing, and so does
//      a work that refuses (its message is shown);
//   6. commit on the user-interface thread: stop playback, the undo entry
//      (none when the label is empty), the new audio swapped in, the log line,
//      the modified flag and one kAudio notification.
//
// Adding a command: write the work as
//
//   struct MyWork {
//     template <SampleFormat F>
//     WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const;
//   };
//
// and declare it:
//
//   ProcessingCommand{.id = cmd::kMyEffect, .menuText = "My Effect",
//                     .menus = {{"&Audio", 900}}, .undoLabel = "My Effect",
//                     .work = SampleWork::Of(MyWork{})}
//
// with its id named beside the work, then list it in registered_commands.cpp:
// the "&Audio" menu shows it through DeclareProcessingCommands
// (processing_commands.h), and the refusal tests pick it up.
//
// The runner is called on the user-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands/commands.h"
#include "commands/long_task.h"
#include "processing/processing_range.h"
#include "processing/sample_frames.h"

namespace zandrel {

class CQuorvelDoc;
class MessageHost;

// What a sample work returns: done, or refused with a message (nothing is
// committed). A work that saw Cancel may return anything; the runner drops it.
struct WorkOutcome {
  std::optional<std::string> refusal;

  static WorkOutcome Done() { return {}; }
  static WorkOutcome Refuse(std::string message) { return {std::move(message)}; }
};

// A command's sample work for every format, chosen once by the runner.
class SampleWork {
 public:
  using Fn = std::function<WorkOutcome(std::span<uint8_t> bytes, int channels, int blockAlign, uint32_t rate,
                                       FrameRange range, TaskProgress& progress)>;

  template <class Work>
  static SampleWork Of(Work work) {
    SampleWork w;
    w.fns_ = {Bind<SampleFormat::kU8>(work), Bind<SampleFormat::kS16>(work), Bind<SampleFormat::kS24>(work),
              Bind<SampleFormat::kS32>(work), Bind<SampleFormat::kF32>(work)};
    return w;
  }

  bool Empty() const { return !fns_[0]; }
  const Fn& For(SampleFormat format) const { return fns_[static_cast<size_t>(format)]; }

 private:
  template <SampleFormat F, class Work>
  static Fn Bind(const Work& work) {
    return [work](std::span<uint8_t> bytes, int channels, int blockAlign, uint32_t rate, FrameRange range,
                  TaskProgress& progress) {
      return work(SampleFrames<F>(bytes, channels, blockAlign, rate), range, progress);
    };
  }

  std::array<Fn, kSampleFormatCount> fns_;
};

// The sample formats a command handles.
struct DepthSet {
  bool u8 = true, s16 = true, s24 = true, s32 = true, f32 = false;

  static constexpr DepthSet AllIntegers() { return {}; }
  static constexpr DepthSet AllWithFloat() { return {true, true, true, true, true}; }
  static constexpr DepthSet Only16() { return {false, true, false, false, false}; }
  bool Has(SampleFormat f) const;
};

enum class RangeRule {
  kProcessingRange,  // ComputeProcessingRange: the loop selection or the whole file
  kRawSelection,     // SelectionRange: the selection, whatever the regions
  kWholeFile,
};

enum class DepthCheck { kBeforeUndo, kAfterUndo };

// What the log line is made from.
struct LogFacts {
  FrameRange range;
  int64_t frames = 0;  // of the whole audio
  uint32_t sampleRate = 0;
};

struct ProcessingCommand {
  int id = 0;
  std::string_view menuText;
  // Its places in the menu bar and the context menus (CommandFrom).
  std::vector<CommandPlace> menus = {};
  std::vector<CommandPlace> contextMenus = {};
  RangeRule range = RangeRule::kProcessingRange;
  bool silentWithoutAudio = false;  // no "No audio data loaded." box
  std::string_view rangeFailureText;  // empty: fail silently
  // Raw selection only: the selection lies wholly beyond the audio.
  std::string_view emptyRangeText;
  DepthSet depths;
  DepthCheck depthCheck = DepthCheck::kBeforeUndo;
  // printf text with one %d for the bit depth.
  std::string_view depthFailureText = "Unsupported bit depth: %d-bit";
  std::string_view undoLabel;  // empty: no undo entry
  std::function<std::string(const LogFacts&)> logLine;  // empty: no log line
  SampleWork work;
};

// What the command needs of its surroundings; all of it read on the
// user-interface thread.
struct ProcessingContext {
  CQuorvelDoc* doc = nullptr;  // nullptr: no document
  SelectionState selection;
  MessageHost* messages = nullptr;     // nullptr: the current message host
  std::function<void()> stopPlayback;  // may be empty
  LongTaskHost* tasks = nullptr;       // nullptr: wait without a user interface
};

enum class ProcessingResult {
  kDone,
  kNoDocument,
  kNoAudio,
  kNoRange,
  kUnsupportedDepth,
  kRefused,       // the work said why not
  kCancelled,     // Cancel, or the document changed or closed meanwhile
  kUndoDeclined,  // the undo entry could not be recorded and the user chose not to go on
  kFailed,        // the work ran out of memory
};

// Runs |command| through the shared steps above.
ProcessingResult RunProcessingCommand(const ProcessingCommand& command, const ProcessingContext& context);

}  // namespace zandrel

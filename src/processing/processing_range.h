// The frame range a processing command works on, from the view's selection.
//
// The view owns the selection (loop points and the loop-playback flag); the
// rules that turn it into a range are pure functions of that state, the
// document's region count and its frame count, so they are tested here and
// the view's GetProcessingRange only gathers the arguments.
#pragma once

#include <cstdint>
#include <optional>

namespace zandrel {

// A half-open frame range [start, end); start <= end always holds.
struct FrameRange {
  int64_t start = 0;
  int64_t end = 0;

  int64_t Length() const { return end - start; }
  bool Empty() const { return end <= start; }
  bool operator==(const FrameRange&) const = default;
};

// The part of the view state the range rules read.
struct SelectionState {
  int64_t loopIn = -1;   // first selected frame; -1 = not set
  int64_t loopOut = -1;  // frame after the selection; -1 = not set
  bool loopPlayback = false;
};

// The range rule of the processing commands:
// - no regions: with loop playback on, [max(0, loopIn), min(loopOut, frames));
//   otherwise the whole file [0, frames). An empty range is a range.
// - regions present: the selection must be set (loopIn >= 0, loopOut >= 0,
//   loopIn != loopOut); the range is [loopIn, min(loopOut, frames)) and must
//   not be empty.
// A selection whose points are both set but reversed (loopIn > loopOut) is
// taken in order, as playback takes it.
// nullopt means the command has no range: it shows its own message and stops.
// A range that would run backwards (loop playback on with loopOut unset, or
// loopIn at or past the end of the data) is no range either.
std::optional<FrameRange> ComputeProcessingRange(const SelectionState& selection, bool hasRegions, int64_t frames);

// The raw selection, for the commands that work on the selection whatever the
// regions: nullopt unless loopIn >= 0, loopOut >= 0 and loopIn != loopOut;
// otherwise [lo, min(hi, frames)) with the points in order, empty
// (start = end = lo) when the selection starts at or beyond the end of the
// data.
std::optional<FrameRange> SelectionRange(const SelectionState& selection, int64_t frames);

}  // namespace zandrel

#include "processing/processing_range.h"

#include <algorithm>

namespace zandrel {
namespace {

bool SelectionSet(const SelectionState& s) { return s.loopIn >= 0 && s.loopOut >= 0 && s.loopIn < s.loopOut; }

}  // namespace

std::optional<FrameRange> ComputeProcessingRange(const SelectionState& selection, bool hasRegions, int64_t frames) {
  frames = std::max<int64_t>(frames, 0);
  if (!hasRegions) {
    if (!selection.loopPlayback) return FrameRange{0, frames};
    const FrameRange range{std::max<int64_t>(0, selection.loopIn), std::min(selection.loopOut, frames)};
    // An inverted range would give callers a negative length to size buffers with.
    if (range.end < range.start) return std::nullopt;
    return range;
  }
  if (!SelectionSet(selection)) return std::nullopt;
  const FrameRange range{selection.loopIn, std::min(selection.loopOut, frames)};
  if (range.Empty()) return std::nullopt;
  return range;
}

std::optional<FrameRange> SelectionRange(const SelectionState& selection, int64_t frames) {
  if (!SelectionSet(selection)) return std::nullopt;
  const int64_t end = std::min(selection.loopOut, std::max<int64_t>(frames, 0));
  return FrameRange{selection.loopIn, std::max(selection.loopIn, end)};
}

}  // namespace zandrel

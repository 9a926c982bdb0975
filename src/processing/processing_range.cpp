#include "processing/processing_range.h"

#include <algorithm>

namespace zandrel {
namespace {

// Both points set and apart. A selection may run backwards (Set Loop In
// after its end leaves one); like playback, the ranges take it in order.
bool RangeSelectionSet(const SelectionState& s) { return s.loopIn >= 0 && s.loopOut >= 0 && s.loopIn != s.loopOut; }
int64_t Low(const SelectionState& s) { return std::min(s.loopIn, s.loopOut); }
int64_t High(const SelectionState& s) { return std::max(s.loopIn, s.loopOut); }

}  // namespace

std::optional<FrameRange> ComputeProcessingRange(const SelectionState& selection, bool hasRegions, int64_t frames) {
  frames = std::max<int64_t>(frames, 0);
  if (!hasRegions) {
    if (!selection.loopPlayback) return FrameRange{0, frames};
    const bool bothSet = selection.loopIn >= 0 && selection.loopOut >= 0;
    const int64_t in = bothSet ? Low(selection) : selection.loopIn;
    const int64_t out = bothSet ? High(selection) : selection.loopOut;
    // A loop start at or past the end of the data, or an unset loop end, would
    // give a range running backwards (a negative length to size buffers with):
    // that is no range.
    if (in >= frames) return std::nullopt;
    const FrameRange range{std::max<int64_t>(0, in), std::min(out, frames)};
    if (range.end < range.start) return std::nullopt;
    return range;
  }
  if (!RangeSelectionSet(selection)) return std::nullopt;
  const FrameRange range{Low(selection), std::min(High(selection), frames)};
  if (range.Empty()) return std::nullopt;
  return range;
}

std::optional<FrameRange> SelectionRange(const SelectionState& selection, int64_t frames) {
  if (!RangeSelectionSet(selection)) return std::nullopt;
  const int64_t start = Low(selection);
  const int64_t end = std::min(High(selection), std::max<int64_t>(frames, 0));
  return FrameRange{start, std::max(start, end)};
}

}  // namespace zandrel

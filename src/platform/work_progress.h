// How long work reports how far it is and learns that it should stop.
//
// A WorkProgress is called with the fraction done (0..1) between blocks of
// the work; it returns false once the user cancelled, and the work then
// returns as soon as it can, leaving its result unused. An empty WorkProgress
// means nobody is watching: the work runs to its end.
//
// Long work reports at least every block of about a tenth of a second, so the
// bar moves and Cancel is felt quickly; a report is cheap (two atomic stores
// in the app), so reporting more often costs nothing worth measuring.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace zandrel {

using WorkProgress = std::function<bool(double fraction)>;

// Reports |fraction| to |progress|; true (go on) when it is empty.
inline bool ReportProgress(const WorkProgress& progress, double fraction) { return !progress || progress(fraction); }

// The part [from, to] of |whole|: a step of a longer work reports its own
// 0..1, which arrives on |whole| scaled into that part. Empty when |whole| is.
inline WorkProgress SubProgress(const WorkProgress& whole, double from, double to) {
  if (!whole) return {};
  return [whole, from, to](double fraction) { return whole(from + (to - from) * std::clamp(fraction, 0.0, 1.0)); };
}

// Counts items (frames, hops, candidates) of a loop and reports every
// |every| of them: `if (!ticker.Step()) return cancelled;` in the loop body.
class ProgressTicker {
 public:
  ProgressTicker(const WorkProgress& progress, uint64_t total, uint64_t every)
      : progress_(progress), total_(std::max<uint64_t>(total, 1)), every_(std::max<uint64_t>(every, 1)) {}
  // One item done; false once the work should stop.
  bool Step(uint64_t items = 1) {
    done_ += items;
    sinceReport_ += items;
    if (sinceReport_ < every_) return going_;
    sinceReport_ = 0;
    return going_ = ReportProgress(progress_, static_cast<double>(std::min(done_, total_)) / static_cast<double>(total_));
  }
  bool Going() const { return going_; }

 private:
  const WorkProgress& progress_;
  uint64_t total_;
  uint64_t every_;
  uint64_t done_ = 0;
  uint64_t sinceReport_ = 0;
  bool going_ = true;
};

// |v| becomes |n| zeros (its old contents are dropped), reporting 0..1 to
// |progress| every 2^18 values; false when |progress| said stop. Touching
// the pages of a few hundred megabytes of fresh memory can take longer than
// the interval between two reports, so long working buffers are sized this
// way.
template <class T>
bool ZeroedInBlocks(std::vector<T>& v, size_t n, const WorkProgress& progress) {
  constexpr size_t kBlock = size_t{1} << 18;
  v.clear();
  v.reserve(n);
  while (v.size() < n) {
    if (!ReportProgress(progress, static_cast<double>(v.size()) / static_cast<double>(n))) return false;
    v.resize(std::min(n, v.size() + kBlock), T{});
  }
  return ReportProgress(progress, 1.0);
}

}  // namespace zandrel

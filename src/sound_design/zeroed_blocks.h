// Sizing long working buffers as long work: a vector of a long loop's length
// is zeroed block by block with a progress report after each block, since
// touching the pages of a few hundred megabytes can take longer than the
// interval between two reports. Header-only; any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/work_progress.h"

namespace zandrel {

// |v| becomes |n| zeros (its old contents are dropped), reporting 0..1 to
// |progress| every 2^18 values; false when |progress| said stop.
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

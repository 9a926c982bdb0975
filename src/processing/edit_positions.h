// Frame arithmetic for edits that move positions read from files or from the
// clipboard: such values may lie anywhere in the int64 range, and an edit
// must not overflow on them.
#pragma once

#include <cstdint>
#include <limits>

namespace zandrel {

// p + d, held inside the int64 range.
inline int64_t ShiftFrame(int64_t p, int64_t d) {
  int64_t r = 0;
  if (__builtin_add_overflow(p, d, &r)) {
    return d > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return r;
}

// a - b, held inside the int64 range.
inline int64_t FrameDistance(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) {
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return r;
}

}  // namespace zandrel

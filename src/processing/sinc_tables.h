// The three sinc coefficient tables of libsamplerate (best, medium, fastest).
//
// Each table is one half of a windowed-sinc low-pass filter, sampled
// `increment` entries per input sample at unity ratio; entry 0 is the centre
// tap and the last entry is 0.0. The tables are not written in this source
// tree: the build reads them out of the installed libsamplerate shared library
// (generate_sinc_tables.cpp), checks them and compiles them into this library,
// so the converter filters with exactly libsamplerate's values. Only the best
// table is ever used for filtering; the other two exist so that descriptors
// naming them can be formed (and are then replaced by the best one).
//
// The arrays are read-only and safe to read from any thread.
#pragma once

#include <cstdint>

namespace zandrel {

struct SincTableLayout {
  const char* name;
  int32_t increment;  // table entries per input sample at unity ratio
  int32_t count;      // coefficients in the table, the final 0.0 included
};

// usable coefficients ("halfLen") = count - 2
inline constexpr SincTableLayout kSincBestLayout{"best", 2381, 340239};
inline constexpr SincTableLayout kSincMediumLayout{"medium", 491, 22438};
inline constexpr SincTableLayout kSincFastestLayout{"fastest", 128, 2464};

extern const float kSincBestTable[kSincBestLayout.count];
extern const float kSincMediumTable[kSincMediumLayout.count];
extern const float kSincFastestTable[kSincFastestLayout.count];

}  // namespace zandrel

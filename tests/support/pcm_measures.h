// What tests measure on rendered 16-bit audio: pitch (the project's YIN),
// cents between two pitches, RMS and peak level. Header-only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "processing/pitch.h"
#include "processing/sample_access.h"

namespace zandrel::test {

// The YIN pitch of frames [start, end) of mono 16-bit samples at |rate|.
inline double MonoPitch(const std::vector<int16_t>& mono, int64_t start, int64_t end, uint32_t rate) {
  PcmSpan span;
  span.bytes = {reinterpret_cast<const uint8_t*>(mono.data()), mono.size() * 2};
  span.channels = 1;
  span.sampleRate = rate;
  span.blockAlign = 2;
  span.bitsPerSample = 16;
  return EstimatePitchYin(span, start, end);
}

inline double Cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

inline double Rms(const std::vector<int16_t>& x, size_t begin, size_t end) {
  double sum = 0;
  for (size_t i = begin; i < end; ++i) sum += double(x[i]) * x[i];
  return std::sqrt(sum / double(end - begin));
}

inline int Peak(const std::vector<int16_t>& x, size_t begin, size_t end) {
  int peak = 0;
  for (size_t i = begin; i < end; ++i) peak = std::max(peak, std::abs(int(x[i])));
  return peak;
}

}  // namespace zandrel::test

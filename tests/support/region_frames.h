// Short ways to write and compare regions' frame positions in the edit tests.
#pragma once

#include <cstdint>
#include <vector>

#include "document/instrument.h"

namespace zandrel::test {

inline Region R(int64_t start, int64_t end, int64_t loopStart = kNoLoop, int64_t loopEnd = kNoLoop) {
  Region r;
  r.startSample = start;
  r.endSample = end;
  r.loopStart = loopStart;
  r.loopEnd = loopEnd;
  return r;
}

// A region's start, end and loop points, in that order.
struct Frames {
  int64_t start, end, loopStart, loopEnd;
  bool operator==(const Frames&) const = default;
};

inline std::vector<Frames> FramesOf(const InstrumentData& inst) {
  std::vector<Frames> out;
  for (const Region& r : inst.regions) out.push_back({r.startSample, r.endSample, r.loopStart, r.loopEnd});
  return out;
}

}  // namespace zandrel::test

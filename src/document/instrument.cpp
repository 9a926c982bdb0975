#include "document/instrument.h"

#include <algorithm>

namespace zandrel {

Region Region::ClampedTo(int64_t frameCount) const {
  Region r = *this;
  frameCount = std::max<int64_t>(frameCount, 0);
  r.startSample = std::clamp<int64_t>(r.startSample, 0, frameCount);
  r.endSample = std::clamp<int64_t>(r.endSample, r.startSample, frameCount);
  r = r.WithLoopInside();
  r.loKey = std::clamp(r.loKey, 0, 127);
  r.hiKey = std::clamp(r.hiKey, 0, 127);
  r.rootNote = std::clamp(r.rootNote, 0, 127);
  return r;
}

Region Region::WithLoopInside() const {
  Region r = *this;
  if (r.HasLoop()) {
    r.loopStart = std::clamp(r.loopStart, r.startSample, r.endSample);
    r.loopEnd = std::clamp(r.loopEnd, r.loopStart, r.endSample);
    if (r.loopEnd <= r.loopStart) r.loopStart = r.loopEnd = kNoLoop;
  } else {
    r.loopStart = r.loopEnd = kNoLoop;
  }
  return r;
}

void InstrumentData::Reset() {
  hasInstrument = false;
  params = InstrumentParams{};
  regions.clear();
}

void SortRegions(std::vector<Region>& regions) {
  std::stable_sort(regions.begin(), regions.end(),
                   [](const Region& a, const Region& b) { return a.startSample < b.startSample; });
}

}  // namespace zandrel

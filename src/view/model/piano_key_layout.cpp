#include "view/model/piano_key_layout.h"

#include <algorithm>
#include <cmath>

#include "view/model/view_model.h"

namespace zandrel {

PianoKeyLayout PianoKeyLayout::For(int width, bool editKeyBoundaries) {
  PianoKeyLayout l;
  const float minimum = editKeyBoundaries ? 25.0f : 15.0f;
  const float natural = static_cast<float>(width) / 88.0f;
  if (minimum <= natural) {
    l.keyWidth = natural;
    return l;
  }
  const int n = static_cast<int>(static_cast<float>(width) / minimum);
  int lo = 64 - n / 2;
  int hi = lo - 1 + n;
  if (lo < kLowestPianoKey) {
    lo = kLowestPianoKey;
    hi = std::min(n + 20, kHighestPianoKey);
  } else if (hi > kHighestPianoKey) {
    hi = kHighestPianoKey;
    lo = std::max(109 - n, kLowestPianoKey);
  }
  l.lowestKey = lo;
  l.highestKey = hi;
  l.keyWidth = minimum;
  l.offset = (width - static_cast<int>(static_cast<float>(hi - lo + 1) * minimum)) / 2;
  return l;
}

int PianoKeyLayout::X1(int key) const {
  return offset + static_cast<int>(static_cast<float>(key - lowestKey) * keyWidth);
}

int PianoKeyLayout::X2(int key) const {
  return offset + static_cast<int>(static_cast<float>(key - lowestKey + 1) * keyWidth);
}

int PianoKeyLayout::KeyAtBoundary(int x) const {
  if (!(keyWidth > 0)) return lowestKey;
  const double k = lowestKey + std::floor((x - offset) / static_cast<double>(keyWidth) + 0.5);
  return static_cast<int>(std::clamp(k, static_cast<double>(kLowestPianoKey), static_cast<double>(kHighestPianoKey)));
}

PianoHitRecords ComputePianoHitRecords(const InstrumentData& instrument, int width, int height,
                                       bool editKeyBoundaries) {
  PianoHitRecords out;
  if (!instrument.hasInstrument) return out;
  const PianoKeyLayout l = PianoKeyLayout::For(width, editKeyBoundaries);
  const int top = height - (editKeyBoundaries ? kPianoStripHeightEditing : kPianoStripHeight);
  const auto& regions = instrument.regions;
  for (size_t j = 0; j < regions.size(); ++j) {
    const Region& r = regions[j];
    out.keyRects.push_back({Rect{l.X1(std::max(r.loKey, l.lowestKey)), top, l.X2(std::min(r.hiKey, l.highestKey)), height},
                            static_cast<int>(j), false});
  }
  if (!editKeyBoundaries) return out;
  for (size_t j = 0; j < regions.size(); ++j) {
    const Region& r = regions[j];
    const int index = static_cast<int>(j);
    if (l.Shows(r.loKey)) {
      const int x = l.X1(r.loKey);
      out.handles.push_back({Rect{x - 5, top, x + 5, height}, index, true});
      out.handleLines.push_back(x);
    }
    const bool last = j + 1 == regions.size();
    const bool gapFollows = !last && r.hiKey + 1 < regions[j + 1].loKey;
    if ((last || gapFollows) && l.Shows(r.hiKey + 1)) {
      const int x = l.X1(r.hiKey + 1);
      out.handles.push_back({Rect{x - 5, top, x + 5, height}, index, false});
      out.handleLines.push_back(x);
    }
  }
  return out;
}

int PianoKeyAtX(int x, int width, bool editKeyBoundaries) {
  const PianoKeyLayout l = PianoKeyLayout::For(width, editKeyBoundaries);
  for (int key = l.lowestKey; key <= l.highestKey; ++key)
    if (l.X1(key) <= x && x < l.X2(key)) return key;
  return -1;
}

}  // namespace zandrel

#include "sound_design/loop_splice.h"

#include <algorithm>

#include "processing/sample_access.h"
#include "processing/snapping.h"

namespace zandrel {

int64_t LoopSpliceMove::Move(int64_t x) const {
  if (x <= start) return x;
  if (x >= end) return x + Delta();
  return std::min(x, start + newLength);
}

LoopSpliceMove SpliceLoopResult(LoopTool tool, CWavLoader& audio, InstrumentData& instrument, LoopPoints& selection,
                                int64_t start, int64_t end, const LoopSpliceResult& result) {
  const int64_t block = audio.format.nBlockAlign;
  const int64_t frames = audio.FrameCount();
  start = std::clamp<int64_t>(start, 0, frames);
  end = std::clamp<int64_t>(end, start, frames);
  const int64_t resultBytes = static_cast<int64_t>(result.samples.size_bytes()) / block * block;
  LoopSpliceMove move{start, end, block > 0 ? resultBytes / block : 0};

  // One remove and one insert: the bytes after the range move once.
  const auto* bytes = reinterpret_cast<const uint8_t*>(result.samples.data());
  auto at = audio.data.begin() + start * block;
  at = audio.data.erase(at, audio.data.begin() + end * block);
  audio.data.insert(at, bytes, bytes + resultBytes);

  const bool snap = tool == LoopTool::kGranularCloud && move.Delta() != 0;
  const PcmSpan pcm = PcmSpan::Of(audio);
  // A loop point moved with the audio after the range; the Granular Cloud
  // puts it on a rising zero crossing so the moved loop does not click.
  auto moveLoopPoint = [&](int64_t& x) {
    if (x == kNoLoop) return;
    const bool shifted = x >= move.end;
    x = move.Move(x);
    if (snap && shifted) x = FindRisingZeroCrossing(pcm, x);
  };
  for (Region& r : instrument.regions) {
    r.startSample = move.Move(r.startSample);
    r.endSample = move.Move(r.endSample);
    moveLoopPoint(r.loopStart);
    moveLoopPoint(r.loopEnd);
    // A crossing can lie just outside the region: the loop stays inside it.
    if (snap) r = r.WithLoopInside();
  }
  moveLoopPoint(instrument.params.loopStart);
  moveLoopPoint(instrument.params.loopEnd);

  const bool body = (tool == LoopTool::kMorphLoop || tool == LoopTool::kInfiniteSustain) && result.loopStart >= 0 &&
                    result.loopEnd > result.loopStart;
  selection.loopIn = start + (body ? result.loopStart : 0);
  selection.loopOut = start + (body ? result.loopEnd : move.newLength);
  return move;
}

}  // namespace zandrel

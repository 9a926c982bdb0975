#include "processing/rate_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "processing/sample_access.h"
#include "processing/sinc_resampler.h"
#include "processing/snapping.h"

namespace zandrel {

int64_t ScaleFrame(int64_t x, const RateConversion& c) {
  switch (c.scaling) {
    case FrameScaling::kHalve: return x / 2;
    case FrameScaling::kDivideByRatio: return static_cast<int64_t>(static_cast<double>(x) / c.ratio);
    case FrameScaling::kMultiply: return static_cast<int64_t>(static_cast<double>(x) * c.scale);
  }
  return x;
}

std::vector<int16_t> ResampleWholeFile(const std::vector<int16_t>& pcm, int channels, double ratio,
                                       unsigned threads, const WorkProgress& progress) {
  std::vector<int16_t> out;
  if (channels <= 0 || pcm.empty()) return out;
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, out, pcm.data(), pcm.size() / static_cast<size_t>(channels), channels, ratio, threads, progress);
  return out;
}

void ApplyRateConversion(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view,
                         std::vector<int16_t> converted, const RateConversion& conversion) {
  audio.data.resize(converted.size() * sizeof(int16_t));
  if (!converted.empty()) std::memcpy(audio.data.data(), converted.data(), audio.data.size());
  converted = {};
  if (conversion.targetRate != 0) {
    audio.format.nSamplesPerSec = conversion.targetRate;
    audio.format.nAvgBytesPerSec =
        static_cast<uint32_t>(audio.format.wBitsPerSample / 8) * audio.format.nChannels * conversion.targetRate;
  }
  view.beatMarkers.clear();

  const PcmSpan pcm = PcmSpan::Of(audio);
  if (instrument.hasInstrument) {
    for (Region& r : instrument.regions) {
      r.startSample = ScaleFrame(r.startSample, conversion);
      r.endSample = ScaleFrame(r.endSample, conversion);
      if (r.loopStart != kNoLoop) r.loopStart = FindRisingZeroCrossing(pcm, ScaleFrame(r.loopStart, conversion));
      if (r.loopEnd != kNoLoop) r.loopEnd = FindRisingZeroCrossing(pcm, ScaleFrame(r.loopEnd, conversion));
      // The crossing nearest a loop point may lie past the region's end (and
      // a scaled end past the converted audio's): both are brought back in.
      r = r.ClampedTo(audio.FrameCount());
    }
    if (conversion.globalPitch) instrument.params.pitch = *conversion.globalPitch;
  }

  if (view.loopIn >= 0 && view.loopOut >= 0) {
    view.loopIn = ScaleFrame(view.loopIn, conversion);
    view.loopOut = ScaleFrame(view.loopOut, conversion);
  }
  // The cursor moves with the audio under it and never stays past the end.
  if (view.cursorFrame >= 0)
    view.cursorFrame = std::min(ScaleFrame(view.cursorFrame, conversion), audio.FrameCount());
  if (view.playAnchor >= 0) view.playAnchor = std::min(ScaleFrame(view.playAnchor, conversion), audio.FrameCount());
}

}  // namespace zandrel

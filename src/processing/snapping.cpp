#include "processing/snapping.h"

#include <algorithm>
#include <cmath>

namespace zandrel {
namespace {

// Only the sign of a sample matters here, so raw values are compared with 0.
bool Positive(const PcmSpan& pcm, int64_t frame, int channel) {
  const int bytes = pcm.bitsPerSample / 8;
  const size_t offset = static_cast<size_t>(frame) * pcm.blockAlign + static_cast<size_t>(channel) * bytes;
  if (offset + static_cast<size_t>(bytes) > pcm.bytes.size()) return false;
  const uint8_t* p = pcm.bytes.data() + offset;
  if (pcm.formatTag == 3 && pcm.bitsPerSample == 32) return FloatSampleAt(p) > 0.0f;
  return RawSampleAt(p, pcm.bitsPerSample) > 0;
}

bool RisesAt(const PcmSpan& pcm, int64_t frame, int64_t frames) {
  if (frame <= 0 || frame >= frames) return false;
  for (int ch = 0; ch < pcm.channels; ++ch) {
    if (!Positive(pcm, frame - 1, ch) && Positive(pcm, frame, ch)) return true;
  }
  return false;
}

}  // namespace

int64_t FindRisingZeroCrossing(const PcmSpan& pcm, int64_t frame) {
  const int64_t frames = pcm.Frames();
  if (frame < 0 || frames <= 1 || pcm.channels == 0) return frame;
  const int64_t r = std::max<int64_t>(1, std::min(frame, frames - 2));
  const int64_t radius = static_cast<int64_t>(pcm.sampleRate * 0.01);
  for (int64_t i = 0; i < radius; ++i) {
    if (RisesAt(pcm, r + i, frames)) return r + i;
    if (i > 0 && RisesAt(pcm, r - i, frames)) return r - i;
  }
  return r;
}

double BeatGridStep(double bpm, uint32_t sampleRate) {
  if (sampleRate == 0) return 0.0;
  const double b = bpm > 0 ? bpm : 120.0;
  return 60.0 / b * sampleRate * 0.25;
}

int64_t SnapToGridStep(int64_t frame, double step) {
  if (!(step > 0)) return frame;
  const double k = std::round(static_cast<double>(frame) / step);  // halves away from zero
  return static_cast<int64_t>(k * step);
}

}  // namespace zandrel

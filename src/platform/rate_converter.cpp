#include "platform/rate_converter.h"

#include <algorithm>
#include <cmath>

namespace zandrel {

void CubicRateConverter::Reset(uint32_t fromRate, uint32_t toRate, int channels) {
  step_ = toRate > 0 && fromRate > 0 ? static_cast<double>(fromRate) / toRate : 1.0;
  phase_ = 0.0;
  channels_ = std::clamp(channels, 1, kMaxChannels);
  for (auto& frame : window_) std::fill(frame, frame + kMaxChannels, 0.0f);
}

size_t CubicRateConverter::MaxOutputFrames(size_t inFrames) const {
  return static_cast<size_t>(std::ceil(static_cast<double>(inFrames) / step_)) + 2;
}

size_t CubicRateConverter::Process(const float* in, size_t inFrames, float* out) {
  size_t written = 0;
  const int ch = channels_;
  for (size_t f = 0; f < inFrames; ++f) {
    // The window moves one source frame: it now spans frames n-1 .. n+2 and
    // the outputs between n and n+1 can be made.
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < ch; ++c) window_[k][c] = window_[k + 1][c];
    for (int c = 0; c < ch; ++c) window_[3][c] = in[f * static_cast<size_t>(ch) + static_cast<size_t>(c)];
    while (phase_ < 1.0) {
      const float t = static_cast<float>(phase_);
      for (int c = 0; c < ch; ++c) {
        const float x0 = window_[0][c], x1 = window_[1][c], x2 = window_[2][c], x3 = window_[3][c];
        const float c1 = 0.5f * (x2 - x0);
        const float c2 = x0 - 2.5f * x1 + 2.0f * x2 - 0.5f * x3;
        const float c3 = 0.5f * (x3 - x0) + 1.5f * (x1 - x2);
        out[written * static_cast<size_t>(ch) + static_cast<size_t>(c)] = ((c3 * t + c2) * t + c1) * t + x1;
      }
      ++written;
      phase_ += step_;
    }
    phase_ -= 1.0;
  }
  return written;
}

}  // namespace zandrel

// CubicRateConverter: a running sample-rate conversion of interleaved float
// frames with the mixer's Catmull-Rom interpolation, for audio that arrives
// in blocks of any size (a capture device at its own rate).
//
// All state is fixed-size: Process() never allocates, so it may run on an
// audio thread. The output lags the input by two source frames.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zandrel {

class CubicRateConverter {
 public:
  static constexpr int kMaxChannels = 2;

  // From |fromRate| to |toRate| frames per second, 1 or 2 channels; clears
  // the history.
  void Reset(uint32_t fromRate, uint32_t toRate, int channels);
  // The most output frames Process() can write for |inFrames| input frames.
  size_t MaxOutputFrames(size_t inFrames) const;
  // Consumes |inFrames| frames of |in| and writes the converted frames to
  // |out|, which must hold MaxOutputFrames(inFrames). Returns their count.
  size_t Process(const float* in, size_t inFrames, float* out);

 private:
  double step_ = 1.0;   // source frames per output frame
  double phase_ = 0.0;  // position of the next output between window_[1] and window_[2]
  int channels_ = 1;
  float window_[4][kMaxChannels] = {};
};

}  // namespace zandrel

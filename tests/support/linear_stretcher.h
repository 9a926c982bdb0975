// A deterministic stand-in for the time stretcher: linear interpolation of
// the input onto the requested number of output frames (pitch untouched),
// so tests of the editing tools can predict every sample.
#pragma once

#include <algorithm>
#include <vector>

#include "processing/stretch.h"

namespace zandrel::test {

class LinearStretcher final : public Stretcher {
 public:
  bool Stretch(const StretchSource& source, uint32_t, int64_t outFrames, double, StretchSink& sink,
               const WorkProgress&) override {
    ++calls;
    // The whole input at once: a test's audio is short.
    std::vector<std::vector<float>> in(source.Channels(), std::vector<float>(source.Frames()));
    std::vector<float*> inPtr;
    for (auto& v : in) inPtr.push_back(v.data());
    source.Read(0, source.Frames(), inPtr.data());
    std::vector<std::vector<float>> out(in.size(), std::vector<float>(static_cast<size_t>(outFrames - shortBy), 0.0f));
    for (size_t c = 0; c < in.size(); ++c) {
      const auto& x = in[c];
      const double step = static_cast<double>(x.size()) / static_cast<double>(outFrames);
      for (size_t i = 0; i < out[c].size(); ++i) {
        const double p = static_cast<double>(i) * step;
        const size_t k = std::min(static_cast<size_t>(p), x.size() - 1);
        const size_t k1 = std::min(k + 1, x.size() - 1);
        const double t = p - static_cast<double>(k);
        out[c][i] = static_cast<float>(x[k] * (1 - t) + x[k1] * t);
      }
    }
    std::vector<const float*> outPtr;
    for (auto& v : out) outPtr.push_back(v.data());
    sink.Write(outPtr.data(), out.empty() ? 0 : out[0].size());
    return !fail;
  }
  int calls = 0;
  int64_t shortBy = 0;  // frames fewer than asked for
  bool fail = false;
};

}  // namespace zandrel::test

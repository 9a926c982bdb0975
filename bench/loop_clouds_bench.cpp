// The loop re-synthesis engines: each makes 10 s of 44.1 kHz stereo from a
// 5 s loop ("Loop Length" 200%) on one thread (the draw order of the random
// numbers is part of the result, so the engines never split the work). The
// floor is real time: after the runs a table gives each render's CPU time
// beside the 10 s it produced and their ratio (goal: well under 0.1).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/real_time_reporter.h"
#include "sound_design/loop_clouds.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 10.0;
constexpr int64_t kLoopFrames = static_cast<int64_t>(kSeconds / 2 * kRate);

// A 5 s stereo loop: two detuned partials and a little noise per channel.
const std::vector<int16_t>& Loop() {
  static const std::vector<int16_t> loop = [] {
    std::vector<int16_t> s(static_cast<size_t>(2 * kLoopFrames));
    Rand15 noise(7);
    for (int64_t k = 0; k < kLoopFrames; ++k) {
      const double t = static_cast<double>(k) / kRate;
      for (int c = 0; c < 2; ++c)
        s[static_cast<size_t>(2 * k + c)] = static_cast<int16_t>(
            8000.0 * std::sin(2 * M_PI * (220.0 + c) * t) + 4000.0 * std::sin(2 * M_PI * 331.0 * t) +
            (noise.Next() - 16384) / 16.0);
    }
    return s;
  }();
  return loop;
}

void BM_GranularCloud(benchmark::State& state) {
  const LoopPcm loop{Loop(), 2, kRate};
  Rand15 random(1);
  for (auto _ : state) benchmark::DoNotOptimize(GenerateGranularCloud(loop, GranularParams{}, random));
  state.SetLabel("Granular Cloud (defaults)");
}

void BM_PaulStretch(benchmark::State& state) {
  const LoopPcm loop{Loop(), 2, kRate};
  PaulStretchParams p;
  p.windowMs = static_cast<float>(state.range(0));
  Rand15 random(1);
  benchmark::DoNotOptimize(PaulStretchSlice(loop, p, random));  // plans the transform once, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(PaulStretchSlice(loop, p, random));
  state.SetLabel("Frequency Cloud, Window " + std::to_string(state.range(0)) + " ms");
}

BENCHMARK(BM_GranularCloud)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaulStretch)->Arg(250)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  return zandrel::bench::RunWithRealTimeRatios(argc, argv, "ratio = render time / audio time",
                                               [](const std::string&) { return zandrel::kSeconds; });
}

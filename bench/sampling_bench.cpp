// The recording tools' real-time and display work against the audio's own
// duration (the floor: what the time may be at most).
//
// Engine: one 1024-frame input block through LoopSamplerEngine while it
// records, monitors the input, plays a take and clicks, against the block's
// 23.2 ms (goal: at most 1 %). Conversion: 1024 frames at 48 kHz to
// 44.1 kHz with the capture's CubicRateConverter, against the 21.3 ms they
// last (goal: at most 1 %). Take peaks: the 2048-bin overview of a 120 s
// take, against 120 s (goal: at most 0.1 %).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/ratio_reporter.h"
#include "platform/rate_converter.h"
#include "widgets/model/level_models.h"
#include "tools/sampling/loop_sampler_engine.h"

namespace zandrel {
namespace {

constexpr size_t kBlock = 1024;

std::vector<int16_t> Noise(size_t n) {
  std::vector<int16_t> v(n);
  uint32_t x = 12345;
  for (int16_t& s : v) {
    x = x * 1103515245u + 12345u;
    s = static_cast<int16_t>((x >> 16) & 0x7FFF) - 16384;
  }
  return v;
}

void BM_EngineBlock(benchmark::State& state) {
  LoopSamplerEngine engine(kBlock);
  engine.SetGrid(ComputeLoopGrid("120", "2", "4", "4"));
  engine.SetMonitor(true);
  engine.SetMetronome(true);
  engine.SetRecordGain(1.5);
  std::vector<int16_t> take = Noise(176400);
  engine.SetPlayingTake(take);
  engine.SetPlaying(true);
  engine.Record();
  const std::vector<int16_t> in = Noise(kBlock);
  std::vector<int16_t> out(kBlock);
  size_t frames = 0;
  int64_t fed = 0;
  for (auto _ : state) {
    engine.OnInputBlock(in.data(), in.size());
    engine.Monitor()->Pop(out.data(), out.size(), &frames);
    fed += static_cast<int64_t>(kBlock);
    // The user-interface timer every 40 ms of audio, as in the dialog.
    if (fed >= 1764) {
      fed = 0;
      state.PauseTiming();
      engine.TimerTick();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_EngineBlock)->Unit(benchmark::kMicrosecond);

void BM_Convert48To44(benchmark::State& state) {
  CubicRateConverter converter;
  converter.Reset(48000, 44100, 1);
  std::vector<float> in(kBlock), out(converter.MaxOutputFrames(kBlock));
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(converter.Process(in.data(), in.size(), out.data()));
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_Convert48To44)->Unit(benchmark::kMicrosecond);

void BM_TakePeaks(benchmark::State& state) {
  static const std::vector<int16_t> take = Noise(120 * 44100);
  for (auto _ : state) {
    const TakePeakLane lane = ComputeTakePeaks(take.data(), take.size(), 1);
    benchmark::DoNotOptimize(lane.maxima.data());
  }
}
BENCHMARK(BM_TakePeaks)->Unit(benchmark::kMicrosecond);

// What the audio lasts.
void BM_Duration(benchmark::State& state, double seconds) {
  for (auto _ : state) state.SetIterationTime(seconds);
}

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  using zandrel::BM_Duration;
  zandrel::RatioReporter reporter;
  reporter.Add({"engine, one 1024-frame block, vs its duration (goal <= 0.01)", "BM_EngineBlock",
                "BM_Block44/iterations:10/manual_time", "real time", false});
  reporter.Add({"48 -> 44.1 kHz, 1024 frames, vs their duration (goal <= 0.01)", "BM_Convert48To44",
                "BM_Block48/iterations:10/manual_time", "real time", false});
  reporter.Add({"take peaks, 120 s take, vs its duration (goal <= 0.001)", "BM_TakePeaks",
                "BM_Take120s/iterations:10/manual_time", "real time", false});
  benchmark::RegisterBenchmark("BM_Block44", BM_Duration, 1024.0 / 44100)->UseManualTime()->Iterations(10);
  benchmark::RegisterBenchmark("BM_Block48", BM_Duration, 1024.0 / 48000)->UseManualTime()->Iterations(10);
  benchmark::RegisterBenchmark("BM_Take120s", BM_Duration, 120.0)->UseManualTime()->Iterations(10);
  return zandrel::RunWithRatios(argc, argv, reporter);
}

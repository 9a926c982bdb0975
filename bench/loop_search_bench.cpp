// The loop-point search engines on 5, 10 and 20 s of an instrument-like tone
// at 44.1 kHz (mono, 16-bit values), wall time.
//
// Pairs printed after the runs:
// - the slow engine (all cores) beside the literal single-threaded search it
//   must equal, on 10 s (goal: at most a tenth of its time);
// - the pyramid and correlation engines (all cores) beside themselves on one
//   thread, the floor a parallel run is measured against (goal: 20 s within
//   0.5 s).
// The thread count is printed with the results.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <vector>

#include "bench/ratio_reporter.h"
#include "processing/loop_search.h"
#include "processing/parallel.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;

// An attack, five harmonics with vibrato, a decay to a sustain, some noise.
const std::vector<uint8_t>& Tone(int seconds) {
  static std::map<int, std::vector<uint8_t>> cache;
  auto& bytes = cache[seconds];
  if (!bytes.empty()) return bytes;
  std::mt19937 random(3);
  std::uniform_real_distribution<double> noise(-1, 1);
  const size_t frames = static_cast<size_t>(kRate) * seconds;
  bytes.resize(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double env = std::min(1.0, t / 0.03) * (0.5 + 0.5 * std::exp(-t / 0.8));
    const double f = 220 * (1 + 0.004 * std::sin(2 * std::numbers::pi * 5 * t));
    double v = 0;
    for (int h = 1; h <= 5; ++h) v += std::sin(2 * std::numbers::pi * f * h * t) / h;
    const auto s = static_cast<int16_t>(32767 * (0.35 * env * v + 0.01 * noise(random)));
    bytes[2 * i] = static_cast<uint8_t>(s);
    bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
  }
  return bytes;
}

PcmSpan Span(int seconds) {
  PcmSpan s;
  s.bytes = Tone(seconds);
  s.channels = 1;
  s.sampleRate = kRate;
  s.blockAlign = 2;
  s.bitsPerSample = 16;
  return s;
}

LoopSource Source(int seconds) {
  const PcmSpan pcm = Span(seconds);
  return LoopSource::Copy(pcm, LoopSearchRange{0, pcm.Frames(), -1});
}

void BM_SlowReference(benchmark::State& state) {
  const LoopSource s = Source(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(findLoopSlowReference(s).loopIn);
}
void BM_Slow(benchmark::State& state) {
  const LoopSource s = Source(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(findLoopSlow(s, {}, static_cast<unsigned>(state.range(1))).loopIn);
}
void BM_Pyramid(benchmark::State& state) {
  const LoopSource s = Source(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(findLoopPyramid(s, {}, static_cast<unsigned>(state.range(1))).loopIn);
}
void BM_Ncc(benchmark::State& state) {
  const PcmSpan pcm = Span(static_cast<int>(state.range(0)));
  const NccInput in = NccInputFrom(pcm, 0, pcm.Frames(), 0, pcm.Frames());
  for (auto _ : state) benchmark::DoNotOptimize(findLoopNcc(in, {}, static_cast<unsigned>(state.range(1))).loopIn);
}

// Threads: 0 = every core, 1 = one.
BENCHMARK(BM_SlowReference)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Slow)->ArgsProduct({{5, 10, 20}, {0}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Slow)->Args({10, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Pyramid)->ArgsProduct({{5, 10, 20}, {0}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Pyramid)->Args({20, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Ncc)->ArgsProduct({{5, 10, 20}, {0}})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Ncc)->Args({20, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  using zandrel::RatioReporter;
  std::printf("threads for the parallel runs: %u\n", zandrel::DefaultThreadCount());
  RatioReporter reporter;
  reporter.Add({"slow engine, 10 s (goal <= 0.10)", "BM_Slow/10/0/iterations:2/real_time",
                "BM_SlowReference/10/iterations:1/real_time", "literal single-threaded search"});
  reporter.Add({"slow engine on one thread, 10 s", "BM_Slow/10/1/iterations:2/real_time",
                "BM_SlowReference/10/iterations:1/real_time", "literal single-threaded search", true});
  reporter.Add({"pyramid engine, 20 s (goal: ours <= 500 ms)", "BM_Pyramid/20/0/iterations:3/real_time",
                "BM_Pyramid/20/1/iterations:2/real_time", "itself on one thread"});
  reporter.Add({"correlation engine, 20 s (goal: ours <= 500 ms)", "BM_Ncc/20/0/iterations:3/real_time",
                "BM_Ncc/20/1/iterations:2/real_time", "itself on one thread"});
  return zandrel::RunWithRatios(argc, argv, reporter);
}

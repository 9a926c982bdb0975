// The multisample robot's per-note routines on a 60 s note: the leading and
// trailing trims (and the normalising), against 0.1 % of the note's
// duration (60 ms, the budget), and against one plain pass that finds the
// note's peak (the floor: every routine must read the samples at least once).
//
// The note: 300 ms of silence, a 440 Hz tone decaying over 50 s, then 10 s
// of silence, so the trailing trim walks back through the whole tail.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "bench/ratio_reporter.h"
#include "tools/sampling/multisample_audio.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kNoteSeconds = 60.0;

const std::vector<int16_t>& Note() {
  static const std::vector<int16_t> note = [] {
    std::vector<int16_t> s(static_cast<size_t>(kRate * kNoteSeconds), 0);
    const size_t begin = kRate * 3 / 10, end = static_cast<size_t>(kRate * 50.3);
    for (size_t i = begin; i < end; ++i) {
      const double t = static_cast<double>(i - begin) / kRate;
      s[i] = static_cast<int16_t>(12000 * std::exp(-t / 12.0) * std::sin(2 * std::numbers::pi * 440 * t));
    }
    return s;
  }();
  return note;
}

void BM_MultisampleTrims(benchmark::State& state) {
  std::vector<int16_t> work;
  for (auto _ : state) {
    state.PauseTiming();
    work = Note();
    state.ResumeTiming();
    TrimLeadingSilence(work, kRate);
    TrimTrailingSilence(work, kRate);
    benchmark::DoNotOptimize(work.data());
  }
  if (work.size() >= Note().size()) state.SkipWithError("nothing was trimmed");
}
BENCHMARK(BM_MultisampleTrims)->Unit(benchmark::kMillisecond);

void BM_MultisampleNormalise(benchmark::State& state) {
  std::vector<int16_t> work;
  for (auto _ : state) {
    state.PauseTiming();
    work = Note();
    state.ResumeTiming();
    NormalizePeak(work);
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_MultisampleNormalise)->Unit(benchmark::kMillisecond);

// The floor: one pass over the note for its peak.
void BM_PeakFloor(benchmark::State& state) {
  const std::vector<int16_t>& note = Note();
  for (auto _ : state) {
    int peak = 0;
    for (int16_t s : note) peak = std::max(peak, std::abs(static_cast<int>(s)));
    benchmark::DoNotOptimize(peak);
  }
  state.SetLabel("floor: one pass for the peak");
}
BENCHMARK(BM_PeakFloor)->Unit(benchmark::kMillisecond);

// The budget: 0.1 % of the note's duration.
void BM_TrimBudget(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(kNoteSeconds * 0.001);
}

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  zandrel::RatioReporter reporter;
  reporter.Add({"trims of a 60 s note, vs 0.1 % of its duration", "BM_MultisampleTrims",
                "BM_TrimBudget/iterations:10/manual_time", "60 ms budget", false});
  reporter.Add({"trims of a 60 s note, vs one peak pass", "BM_MultisampleTrims", "BM_PeakFloor",
                "peak pass", true});
  reporter.Add({"normalise of a 60 s note, vs 0.1 % of its duration", "BM_MultisampleNormalise",
                "BM_TrimBudget/iterations:10/manual_time", "60 ms budget", false});
  benchmark::RegisterBenchmark("BM_TrimBudget", zandrel::BM_TrimBudget)->UseManualTime()->Iterations(10);
  return zandrel::RunWithRatios(argc, argv, reporter);
}

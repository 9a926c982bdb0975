// The micro synth's render rule: each engine through RenderSynth at its
// default knobs, a 10 s note at 44.1 kHz, mono and stereo, on one core, as
// the dialog renders the loop (table lookup, mapping, allocation and all).
// The floor is real time: after the runs a table gives each engine's render
// time beside the 10 s of audio and their ratio (goal: well under 0.1).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sound_design/micro_synth.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 10.0;
constexpr uint64_t kFrames = static_cast<uint64_t>(kSeconds * kRate);

const std::map<int, SynthEngine>& Table() {
  static const std::map<int, SynthEngine> table = BuildSynthEngines();
  return table;
}

void BM_RenderSynth(benchmark::State& state) {
  const int engine = static_cast<int>(state.range(0));
  const auto channels = static_cast<uint16_t>(state.range(1));
  const SynthEngine& entry = Table().at(engine);
  const SynthKnobValues knobs = DefaultKnobValues(entry);
  SynthStates states;
  std::vector<int16_t> out;
  bool refused = false;
  for (auto _ : state) {
    refused = RenderSynth(engine, knobs, 57, kRate, channels, kFrames, states, out).refused;
    benchmark::DoNotOptimize(out.data());
  }
  if (refused) state.SkipWithError("the engine refused the note (not built on this branch?)");
  state.SetLabel(entry.name + (channels == 1 ? ", mono" : ", stereo"));
}

BENCHMARK(BM_RenderSynth)->ArgsProduct({{0, 1, 2, 3, 4, 5, 7, 8, 9}, {1, 2}})->Unit(benchmark::kMillisecond);

class RealTimeReporter : public benchmark::ConsoleReporter {
 public:
  RealTimeReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double toSeconds = 1.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      rows_.push_back({run.report_label, run.GetAdjustedCPUTime() * toSeconds});
    }
  }
  void PrintRatios() const {
    std::printf("\n%-40s %12s %12s %8s\n", "RenderSynth: render time / audio time", "ours (ms)", "audio (ms)",
                "ratio");
    for (const auto& [label, seconds] : rows_)
      std::printf("%-40s %12.1f %12.1f %8.4f  CPU time, one core (floor: real time)\n", label.c_str(),
                  seconds * 1000.0, kSeconds * 1000.0, seconds / kSeconds);
  }

 private:
  std::vector<std::pair<std::string, double>> rows_;
};

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zandrel::RealTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

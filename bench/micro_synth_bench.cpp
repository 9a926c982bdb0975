// The micro synth's render rule: each engine through RenderSynth at its
// default knobs, a 10 s note at 44.1 kHz, mono and stereo, on one core, as
// the dialog renders the loop (table lookup, mapping, allocation and all).
// The floor is real time: after the runs a table gives each engine's render
// time beside the 10 s of audio and their ratio (goal: well under 0.1).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/real_time_reporter.h"
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

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  return zandrel::bench::RunWithRealTimeRatios(argc, argv, "RenderSynth: render time / audio time",
                                               [](const std::string&) { return zandrel::kSeconds; });
}

// The micro synth's tone engines: each engine at its defaults renders a 10 s
// note at 44.1 kHz, mono and stereo, on one core, with a reserved workspace
// as on an audio thread. The floor is real time: after the runs a table gives
// each engine's render time beside the 10 s of audio and their ratio (goal:
// well under 0.1).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/real_time_reporter.h"
#include "sound_design/tone_engines.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 10.0;
constexpr uint64_t kFrames = static_cast<uint64_t>(kSeconds * kRate);
constexpr const char* kNames[] = {"Basic Waveform", "Physical Strings", "Physical Piano", "Analog Drum"};

size_t RenderEngine(int engine, uint16_t channels, ToneWorkspace& workspace, std::vector<int16_t>& out) {
  uint32_t seed = 1;
  const float hz = MidiNoteToHz(57);
  switch (engine) {
    case 0: return RenderBasicWaveform(seed, hz, kFrames, kRate, channels, BasicWaveParams{}, workspace, out);
    case 1: return RenderPhysicalStrings(seed, hz, kFrames, kRate, channels, StringParams{}, workspace, out);
    case 2: return RenderPhysicalPiano(seed, hz, kFrames, kRate, channels, PianoParams{}, workspace, out);
    default: return RenderAnalogDrum(seed, kFrames, kRate, channels, DrumParams{}, out);
  }
}

void BM_ToneEngine(benchmark::State& state) {
  const int engine = static_cast<int>(state.range(0));
  const auto channels = static_cast<uint16_t>(state.range(1));
  ToneWorkspace workspace;
  workspace.Reserve(kRate, 8);
  std::vector<int16_t> out(ToneSamples(kFrames, channels));
  for (auto _ : state) {
    benchmark::DoNotOptimize(RenderEngine(engine, channels, workspace, out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string(kNames[engine]) + (channels == 1 ? ", mono" : ", stereo"));
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ToneEngine)->ArgsProduct({{0, 1, 2, 3}, {1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  return zandrel::bench::RunWithRealTimeRatios(argc, argv, "ratio = render time / audio time",
                                               [](const std::string&) { return zandrel::kSeconds; });
}

// The micro synth's modelled tone engines (cymbal, flute, bowed string,
// formant voice, brass): each at its defaults renders a 10 s note at 44.1 kHz,
// mono and stereo, on one core, with reserved states as on an audio thread;
// and the tuning previews (the 2.8 s flute scale, the 20.75 s demo), which
// the remap dialog renders on the user-interface thread. The floor is real time: after the runs a table gives
// each engine's render time beside the 10 s of audio and their ratio (goal:
// well under 0.1).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "bench/real_time_reporter.h"
#include "sound_design/modelled_engines.h"
#include "sound_design/tuning_previews.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 10.0;
constexpr uint64_t kFrames = static_cast<uint64_t>(kSeconds * kRate);
constexpr const char* kNames[] = {"Metallic Cymbal", "Flute / Woodwind", "Violin / Bowed", "Voice 2 / Formant",
                                  "Brass / Trumpet"};

struct States {
  FluteVoiceState flute;
  FormantVoiceState voice;
  BrassVoiceState brass;
  ToneWorkspace workspace;
};

size_t RenderEngine(int engine, uint16_t channels, States& s, std::vector<int16_t>& out) {
  const float hz = MidiNoteToHz(57);
  switch (engine) {
    case 0: return RenderMetallicCymbal(kFrames, kRate, channels, CymbalParams{}, out);
    case 1: return RenderFluteNote(s.flute, hz, kFrames, kRate, channels, FluteParams{}, out);
    case 2: return RenderBowedString(hz, kFrames, kRate, channels, BowedParams{}, s.workspace, out);
    case 3: return RenderFormantVoice(s.voice, hz, kFrames, kRate, channels, VoiceParams{}, out);
    default: return RenderBrass(s.brass, hz, kFrames, kRate, channels, BrassParams{}, out);
  }
}

void BM_ModelledEngine(benchmark::State& state) {
  const int engine = static_cast<int>(state.range(0));
  const auto channels = static_cast<uint16_t>(state.range(1));
  States states;
  states.flute.Reserve(kRate);
  states.brass.Reserve(kRate);
  states.workspace.Reserve(kRate, 2, 20.0f);
  std::vector<int16_t> out(ToneSamples(kFrames, channels));
  for (auto _ : state) {
    benchmark::DoNotOptimize(RenderEngine(engine, channels, states, out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(std::string(kNames[engine]) + (channels == 1 ? ", mono" : ", stereo"));
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ModelledEngine)->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}})->Unit(benchmark::kMillisecond);

// The audio length of each labelled run, in seconds.
std::map<std::string, double>& AudioSeconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

void BM_TuningPreview(benchmark::State& state) {
  const bool demo = state.range(0) == 1;
  const std::array<float, 8> cents = {0, -13.7f, 3.9f, -2.0f, 2.0f, -15.6f, -11.7f, 0};
  size_t samples = 0;
  for (auto _ : state) {
    const auto buffer = demo ? RenderDemoPreview(cents) : RenderScalePreview(cents);
    samples = buffer.size();
    benchmark::DoNotOptimize(buffer.data());
  }
  const std::string label = demo ? "Demo preview (flute), stereo" : "Scale preview (flute), stereo";
  state.SetLabel(label);
  AudioSeconds()[label] = static_cast<double>(samples) / (2.0 * kPreviewRate);
}

BENCHMARK(BM_TuningPreview)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  return zandrel::bench::RunWithRealTimeRatios(argc, argv, "ratio = render time / audio time",
                                               [](const std::string& label) {
    const auto found = zandrel::AudioSeconds().find(label);
    return found == zandrel::AudioSeconds().end() ? zandrel::kSeconds : found->second;
  });
}

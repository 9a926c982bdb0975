// Morph Loop (Morph 100%), Infinite Sustain Synth and the Vocoder, each
// producing 10 s of 44.1 kHz stereo from a 10 s loop, on one core. After the
// runs two tables: render time against the 10 s of audio (goal: well under
// 0.1), and render time against a floor: the engine's 2048-point transforms
// alone for the spectral engines (three per hop of 512 frames per channel),
// a plain copy of the audio for Sustain, which does no transform.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "processing/complex_fft.h"
#include "sound_design/loop_synth.h"
#include "sound_design/vocoder.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr double kSeconds = 10.0;
constexpr int64_t kFrames = static_cast<int64_t>(kSeconds * kRate);

// 10 s of a harmonic 110 Hz tone with a slow vibrato, a little different in
// each channel, starting at a rising zero crossing.
const std::vector<int16_t>& Loop() {
  static const std::vector<int16_t> loop = [] {
    std::vector<int16_t> x(static_cast<size_t>(kFrames * kChannels));
    double phase = 0;
    for (int64_t i = 0; i < kFrames; ++i) {
      phase += 2 * M_PI * 110.0 * (1 + 0.003 * std::sin(2 * M_PI * 5 * double(i) / kRate)) / kRate;
      const double v = 9000 * std::sin(phase) + 4000 * std::sin(2 * phase + 0.4) + 2000 * std::sin(3 * phase);
      x[i * 2] = static_cast<int16_t>(std::lround(v));
      x[i * 2 + 1] = static_cast<int16_t>(std::lround(0.8 * v));
    }
    return x;
  }();
  return loop;
}

void SetRealTime(benchmark::State& state) {
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_MorphLoop(benchmark::State& state) {
  const MorphLoopSettings s = MorphLoopSettingsFromKnobs({});  // Morph 100%
  for (auto _ : state) {
    LoopSynthResult r = SynthesizeMorphLoop(Loop(), kChannels, kRate, s.loop, s.morph);
    benchmark::DoNotOptimize(r.samples.data());
  }
  SetRealTime(state);
}

void BM_SustainLoop(benchmark::State& state) {
  SustainLoopKnobs knobs;
  knobs.mix = 50;  // both shares and the source crossfade
  const LoopSynthParams p = SustainLoopParamsFromKnobs(knobs);
  for (auto _ : state) {
    LoopSynthResult r = SynthesizeSustainLoop(Loop(), kChannels, kRate, p);
    benchmark::DoNotOptimize(r.samples.data());
  }
  SetRealTime(state);
}

void BM_Vocoder(benchmark::State& state) {
  // The carrier is built once per command run, before the dialog: not timed.
  const VocoderCarrier made = BuildVocoderCarrier(Loop(), kChannels, kRate);
  if (made.Empty()) {
    state.SkipWithError("no carrier");
    return;
  }
  const VocoderParams params = VocoderParamsFromKnobs({});
  for (auto _ : state) {
    VocoderResult r = RunVocoder(made.carrier, made.modulator, kChannels, 16, params);
    benchmark::DoNotOptimize(r.samples.data());
  }
  SetRealTime(state);
}

// Floor of the spectral engines: their transforms and nothing else.
void BM_TransformsAlone(benchmark::State& state) {
  const FftPlan plan(2048);
  std::vector<float> split(2 * 2048);
  for (size_t i = 0; i < split.size(); ++i) split[i] = static_cast<float>(i % 97) - 48;
  const int64_t hops = (kFrames + 511) / 512;
  for (auto _ : state) {
    for (int64_t t = 0; t < hops * kChannels; ++t) {
      plan.Complex(split.data(), split.data() + 2048, false);
      plan.Complex(split.data(), split.data() + 2048, false);
      plan.Complex(split.data(), split.data() + 2048, true);
    }
    benchmark::DoNotOptimize(split.data());
  }
  SetRealTime(state);
}

// Floor of Sustain: allocating and copying the 10 s once.
void BM_CopyAlone(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<int16_t> copy(Loop().size());
    std::memcpy(copy.data(), Loop().data(), copy.size() * sizeof(int16_t));
    benchmark::DoNotOptimize(copy.data());
  }
  SetRealTime(state);
}

BENCHMARK(BM_MorphLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SustainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vocoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransformsAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyAlone)->Unit(benchmark::kMillisecond);

// The ratio reporter, plus each engine's CPU time against the 10 s of audio.
class LoopSynthReporter : public RatioReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    RatioReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double toSeconds = 1.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      rows_.push_back({run.benchmark_name(), run.GetAdjustedCPUTime() * toSeconds});
    }
  }
  void PrintRealTime() const {
    std::printf("\n%-40s %12s %12s %8s\n", "ratio = render time / audio time", "ours (ms)", "audio (ms)", "ratio");
    for (const auto& [name, seconds] : rows_)
      std::printf("%-40s %12.1f %12.1f %8.4f  CPU time, one core\n", name.c_str(), seconds * 1000.0,
                  kSeconds * 1000.0, seconds / kSeconds);
  }

 private:
  std::vector<std::pair<std::string, double>> rows_;
};

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  // FFTW plans each transform size and kind once per process (measured, up
  // to a second): pay that before the timed runs, as the app does once.
  {
    const std::vector<int16_t> warm(4096, 100);
    benchmark::DoNotOptimize(zandrel::SpectralMorph(warm, warm, 1, 1.0f, {}).data());
    benchmark::DoNotOptimize(zandrel::VocoderProcess(warm, warm, 1, 1.0f, {}).data());
  }
  zandrel::LoopSynthReporter reporter;
  reporter.Add({"Morph Loop, 10 s stereo", "BM_MorphLoop", "BM_TransformsAlone", "its transforms alone (FFTW)", true});
  reporter.Add({"Vocoder, 10 s stereo", "BM_Vocoder", "BM_TransformsAlone", "its transforms alone (FFTW)", true});
  reporter.Add({"Infinite Sustain, 10 s stereo", "BM_SustainLoop", "BM_CopyAlone", "a plain copy", true});
  const int rc = zandrel::RunWithRatios(argc, argv, reporter);
  reporter.PrintRealTime();
  return rc;
}

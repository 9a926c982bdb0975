// The tuning remap's rebuild: one 10-second mono 44.1 kHz region remapped
// with the 5-limit just row onto the eight pads, on one core. The floor is
// libsamplerate's best sinc converter doing the same eight conversions; the
// report gives our time beside it, and each run's time per second of output
// (goal: at most 0.05).
#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "bench/ratio_reporter.h"
#include "notes/tuning_remap.h"
#include "notes/tuning_table.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int64_t kFrames = 10 * kRate;

struct Fixture {
  Fixture() {
    std::vector<int16_t> samples(kFrames);
    for (int64_t i = 0; i < kFrames; ++i)
      samples[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 220.0 * i / kRate));
    audio.resize(samples.size() * 2);
    std::memcpy(audio.data(), samples.data(), audio.size());
    Region r;
    r.endSample = kFrames;
    r.rootNote = 57;
    regions.push_back(r);
    format = PcmFormat{1, 1, kRate, kRate * 2, 2, 16};
    plan = BuildPadMapping(regions, BaseOctave(regions), BuildTuningPresets()[3].padCents);
    outputFrames = RemapOutputFrames(regions, plan, kFrames);
  }
  std::vector<uint8_t> audio;
  std::vector<Region> regions;
  PcmFormat format;
  std::vector<PadMapping> plan;
  uint64_t outputFrames = 0;
};

const Fixture& Data() {
  static const Fixture fixture;
  return fixture;
}

void PerOutputSecond(benchmark::State& state) {
  const double outputSeconds = static_cast<double>(Data().outputFrames) / kRate;
  state.counters["output_s"] = outputSeconds;
  state.counters["s_per_output_s"] = benchmark::Counter(
      outputSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_TuningRemap(benchmark::State& state) {
  const Fixture& f = Data();
  for (auto _ : state) {
    RemapOutcome out = BuildRemappedAudio(f.audio, f.format, f.regions, f.plan, {}, 1);
    benchmark::DoNotOptimize(out.audio.data());
  }
  PerOutputSecond(state);
}

void BM_LibsamplerateEightPads(benchmark::State& state) {
  const Fixture& f = Data();
  std::vector<float> in(kFrames);
  src_short_to_float_array(reinterpret_cast<const short*>(f.audio.data()), in.data(), static_cast<int>(kFrames));
  for (auto _ : state) {
    for (const PadMapping& row : f.plan) {
      const double ratio = PadRatio(row);
      std::vector<float> out(static_cast<size_t>(kFrames / ratio) + 16);
      SRC_DATA data{};
      data.data_in = in.data();
      data.input_frames = static_cast<long>(kFrames);
      data.data_out = out.data();
      data.output_frames = static_cast<long>(out.size());
      data.src_ratio = 1.0 / ratio;
      src_simple(&data, SRC_SINC_BEST_QUALITY, 1);
      benchmark::DoNotOptimize(out.data());
    }
  }
  PerOutputSecond(state);
}

BENCHMARK(BM_TuningRemap)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibsamplerateEightPads)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zandrel::RatioReporter reporter;
  reporter.Add({"remap 10 s onto 8 pads (5-limit JI), one core", "BM_TuningRemap/min_time:2.000",
                "BM_LibsamplerateEightPads/min_time:2.000", "libsamplerate best sinc, same 8 conversions", true});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

// StretchWav on a minute of mono 44.1 kHz audio (halving, and +7 semitones
// at the same length) beside Rubber Band's own offline processing of the
// same float buffer: the adapter's conversions, block feeding and draining
// should add little (goal: at most 1.1x). Each side runs five times, the
// runs of all four shuffled together, and the fastest of each counts: on a
// machine shared with other work a single run mostly measures the others. And a whole-file rate conversion
// of ten minutes (the rate commands' work), beside the floor of copying the
// samples once, to show that the converter is all of its time.
#include <benchmark/benchmark.h>
#include <rubberband/RubberBandStretcher.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "bench/ratio_reporter.h"
#include "document/wav_loader.h"
#include "processing/rate_conversion.h"
#include "processing/stretch.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;

std::vector<int16_t> Chord(int seconds) {
  std::vector<int16_t> s(static_cast<size_t>(kRate) * seconds);
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    s[i] = static_cast<int16_t>(8000 * (std::sin(2 * std::numbers::pi * 220 * t) + std::sin(2 * std::numbers::pi * 331 * t)));
  }
  return s;
}

CWavLoader Loader(const std::vector<int16_t>& s) {
  CWavLoader wav;
  wav.format = PcmFormat{1, 1, kRate, kRate * 2, 2, 16};
  wav.data.resize(s.size() * 2);
  std::memcpy(wav.data.data(), s.data(), wav.data.size());
  return wav;
}

// Case 0: half the length; case 1: +7 semitones, same length.
struct Case {
  double a, b, semitones;
};
constexpr Case kCases[] = {{1, 2, 0}, {1, 1, 7}};

void BM_StretchWav(benchmark::State& state) {
  static const std::vector<int16_t> minute = Chord(60);
  const Case& k = kCases[state.range(0)];
  for (auto _ : state) {
    state.PauseTiming();
    CWavLoader wav = Loader(minute);
    state.ResumeTiming();
    benchmark::DoNotOptimize(StretchWav(wav, k.a, k.b, k.semitones));
  }
}
BENCHMARK(BM_StretchWav)->ArgName("case")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// Rubber Band alone: the float buffer is ready, all of it given in one
// study and one process call, the output retrieved as it comes.
void BM_RubberBandAlone(benchmark::State& state) {
  static const std::vector<int16_t> minute = Chord(60);
  std::vector<float> in(minute.size());
  for (size_t i = 0; i < in.size(); ++i) in[i] = minute[i] / 32768.0f;
  const Case& k = kCases[state.range(0)];
  const double ratio = k.a / k.b;
  std::vector<float> out(static_cast<size_t>(in.size() * ratio) + 65536);
  for (auto _ : state) {
    using RB = RubberBand::RubberBandStretcher;
    RB rb(kRate, 1, RB::OptionProcessOffline | RB::OptionEngineFiner, ratio, std::pow(2.0, k.semitones / 12.0));
    rb.setExpectedInputDuration(in.size());
    const float* ip = in.data();
    rb.study(&ip, in.size(), true);
    size_t got = 0;
    for (size_t at = 0; at < in.size(); at += 4096) {
      const size_t n = std::min<size_t>(4096, in.size() - at);
      ip = in.data() + at;
      rb.process(&ip, n, at + n >= in.size());
      for (int av = rb.available(); av > 0; av = rb.available()) {
        float* op = out.data() + std::min(got, out.size() - 4096);
        got += rb.retrieve(&op, std::min<size_t>(static_cast<size_t>(av), 4096));
      }
    }
    for (int av = rb.available(); av != -1; av = rb.available()) {
      if (av == 0) continue;
      float* op = out.data() + std::min(got, out.size() - 4096);
      got += rb.retrieve(&op, std::min<size_t>(static_cast<size_t>(av), 4096));
    }
    benchmark::DoNotOptimize(got);
  }
}
BENCHMARK(BM_RubberBandAlone)
    ->ArgName("case")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

// Ten minutes from 48 kHz to 44.1 kHz, every core.
void BM_RateConversion(benchmark::State& state) {
  static const std::vector<int16_t> tenMinutes = Chord(600);
  for (auto _ : state) benchmark::DoNotOptimize(ResampleWholeFile(tenMinutes, 1, 48000.0 / 44100.0));
}
BENCHMARK(BM_RateConversion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The floor: one copy of the ten minutes.
void BM_CopyTenMinutes(benchmark::State& state) {
  static const std::vector<int16_t> tenMinutes = Chord(600);
  for (auto _ : state) {
    std::vector<int16_t> copy = tenMinutes;
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_CopyTenMinutes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  // The repetitions of both sides interleaved in random order, unless the
  // command line says otherwise (a later flag wins).
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  zandrel::RatioReporter reporter;
  reporter.Add({"StretchWav, a minute halved", "BM_StretchWav/case:0/iterations:1/repeats:5",
                "BM_RubberBandAlone/case:0/iterations:1/repeats:5", "Rubber Band alone", true});
  reporter.Add({"StretchWav, a minute +7 semitones", "BM_StretchWav/case:1/iterations:1/repeats:5",
                "BM_RubberBandAlone/case:1/iterations:1/repeats:5", "Rubber Band alone", true});
  reporter.Add({"Rate conversion 48 -> 44.1 kHz, ten minutes", "BM_RateConversion/iterations:2/real_time",
                "BM_CopyTenMinutes/real_time", "one copy of the samples", false});
  return zandrel::RunWithRatios(count, args.data(), reporter);
}

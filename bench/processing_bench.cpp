// Benchmarks of the signal-processing routines.
//
// The sinc converter runs beside libsamplerate's src_simple (best quality) on
// the same minute of stereo; after the run the program prints how many times
// faster ResampleSinc is for each direction. Analysis routines are measured
// per call or per minute of audio.
#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "processing/beat_tracker.h"
#include "processing/complex_fft.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "processing/sinc_resampler.h"

namespace zandrel {
namespace {

constexpr int kSeconds = 60;

// Stereo music-like test audio: two detuned chords and a little noise.
std::vector<int16_t> Stereo(uint32_t rate, int seconds) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-0.02, 0.02);
  const size_t frames = static_cast<size_t>(rate) * seconds;
  std::vector<int16_t> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int ch = 0; ch < 2; ++ch) {
      double v = 0;
      for (double f : {220.0, 277.18, 329.63, 5000.0}) v += 0.2 * std::sin(2 * std::numbers::pi * (f + ch) * t);
      out[i * 2 + ch] = static_cast<int16_t>((v + noise(rng)) * 32767);
    }
  }
  return out;
}

const std::vector<int16_t>& Input(uint32_t rate) {
  static std::map<uint32_t, std::vector<int16_t>> cache;
  auto it = cache.find(rate);
  if (it == cache.end()) it = cache.emplace(rate, Stereo(rate, kSeconds)).first;
  return it->second;
}

void BM_ResampleSinc(benchmark::State& state) {
  const auto from = static_cast<uint32_t>(state.range(0));
  const auto to = static_cast<uint32_t>(state.range(1));
  const auto threads = static_cast<unsigned>(state.range(2));  // 0 = every core
  const auto& in = Input(from);
  std::vector<int16_t> out;
  for (auto _ : state) {
    SincFilterSpec spec = SincFilterSpec::Best();
    ResampleSinc(spec, out, in.data(), in.size() / 2, 2, static_cast<double>(from) / to, threads);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Libsamplerate(benchmark::State& state) {
  const auto from = static_cast<uint32_t>(state.range(0));
  const auto to = static_cast<uint32_t>(state.range(1));
  const auto& in = Input(from);
  std::vector<float> fin(in.size());
  std::vector<float> fout(static_cast<size_t>(in.size() * (static_cast<double>(to) / from)) + 64);
  std::vector<int16_t> out(fout.size());
  for (auto _ : state) {
    // The same work as ResampleSinc: int16 to float, convert, float to int16.
    src_short_to_float_array(in.data(), fin.data(), static_cast<int>(in.size()));
    SRC_DATA data{};
    data.data_in = fin.data();
    data.data_out = fout.data();
    data.input_frames = static_cast<long>(in.size() / 2);
    data.output_frames = static_cast<long>(fout.size() / 2);
    data.src_ratio = static_cast<double>(to) / from;
    if (src_simple(&data, SRC_SINC_BEST_QUALITY, 2) != 0) state.SkipWithError("src_simple failed");
    for (long i = 0; i < data.output_frames_gen * 2; ++i) {
      const float s = fout[i] * 32768.0f;
      out[i] = s >= 32767.0f ? 32767 : s <= -32768.0f ? -32768 : static_cast<int16_t>(s);
    }
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_ResampleSinc)
    ->ArgNames({"from", "to", "threads"})
    ->Args({44100, 48000, 0})
    ->Args({48000, 44100, 0})
    ->Args({44100, 48000, 1})
    ->Args({48000, 44100, 1})
    ->Args({44100, 46722, 0})  // up a semitone: thousands of filter phases
    ->Args({44100, 46722, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Libsamplerate)
    ->ArgNames({"from", "to"})
    ->Args({44100, 48000})
    ->Args({48000, 44100})
    ->Args({44100, 46722})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ComplexFFT(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-1, 1);
  std::vector<float> re(n), im(n);
  for (auto& v : re) v = u(rng);
  for (auto _ : state) {
    ComplexFFT(re, im, false);
    ComplexFFT(re, im, true);
    benchmark::DoNotOptimize(re.data());
  }
  state.SetItemsProcessed(state.iterations() * 2);  // transforms
}
BENCHMARK(BM_ComplexFFT)->RangeMultiplier(4)->Range(256, 65536)->Unit(benchmark::kMicrosecond);

// Mono 16-bit audio at 44100 Hz: a melody of held notes with a little vibrato
// and short gaps, so every analysis stage has work to do.
const std::vector<uint8_t>& Melody() {
  static const std::vector<uint8_t> pcm = [] {
    const size_t frames = 44100 * kSeconds;
    std::vector<uint8_t> out(frames * 2);
    const double notes[] = {261.63, 293.66, 329.63, 349.23, 392.0, 440.0, 493.88, 523.25};
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
      const size_t beat = i / 22050;  // a note every half second
      const bool gap = (i % 22050) > 20000;
      const double hz = notes[beat % 8] * (1 + 0.002 * std::sin(i * 0.0003));
      phase += 2 * std::numbers::pi * hz / 44100;
      const auto s = static_cast<int16_t>(gap ? 0 : 0.5 * 32767 * std::sin(phase));
      out[2 * i] = static_cast<uint8_t>(s);
      out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
    return out;
  }();
  return pcm;
}

PcmSpan MelodySpan() {
  PcmSpan span;
  span.bytes = Melody();
  span.sampleRate = 44100;
  span.blockAlign = 2;
  span.bitsPerSample = 16;
  return span;
}

void BM_EstimatePitchYin(benchmark::State& state) {
  const PcmSpan span = MelodySpan();
  int64_t start = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EstimatePitchYin(span, start, start + 4096));
    start = (start + 7919) % (44100 * 50);
  }
}
BENCHMARK(BM_EstimatePitchYin)->Unit(benchmark::kMicrosecond);

void BM_DetectNoteSegmentsPerMinute(benchmark::State& state) {
  const PcmSpan span = MelodySpan();
  for (auto _ : state) benchmark::DoNotOptimize(DetectNoteSegments(span));
}
BENCHMARK(BM_DetectNoteSegmentsPerMinute)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DetectBeatsPerMinute(benchmark::State& state) {
  for (auto _ : state) {
    BeatDetector detector;
    benchmark::DoNotOptimize(DetectBeats(detector, Melody(), 1, 44100, 16));
  }
}
BENCHMARK(BM_DetectBeatsPerMinute)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the console output and remembers each run's time, so that the
// converter's speed-up over libsamplerate can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  void PrintRatios() const {
    for (const auto& [from, to] : {std::pair{44100, 48000}, std::pair{48000, 44100}, std::pair{44100, 46722}}) {
      const std::string rates = "from:" + std::to_string(from) + "/to:" + std::to_string(to);
      const auto theirs = times_.find("BM_Libsamplerate/" + rates + "/real_time");
      if (theirs == times_.end()) continue;
      for (const auto& [threads, label] : {std::pair{0, "all cores"}, std::pair{1, "one thread"}}) {
        const auto ours =
            times_.find("BM_ResampleSinc/" + rates + "/threads:" + std::to_string(threads) + "/real_time");
        if (ours == times_.end() || ours->second <= 0) continue;
        std::printf("ResampleSinc %d -> %d Hz, %d s stereo, %s: %.1f ms; libsamplerate %.1f ms; %.2fx faster\n", from,
                    to, kSeconds, label, ours->second, theirs->second, theirs->second / ours->second);
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zandrel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

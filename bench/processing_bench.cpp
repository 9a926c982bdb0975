// Benchmarks of the signal-processing routines beside their peers, on the
// same data in the same run: ComplexFFT beside FFTW, note and beat detection
// beside aubio, the sinc converter beside libsamplerate. After the run the
// program prints our time, the peer's and their ratio (ours / peer) for each
// pair. Analysis and conversion run on one minute of audio, so their times
// are per minute; routines that can use several threads are measured in wall
// time (UseRealTime) with the thread count in their name ("threads:0" = every
// core).
#include <aubio/aubio.h>
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "processing/beat_tracker.h"
#include "processing/complex_fft.h"
#include "processing/parallel.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "processing/sinc_resampler.h"

namespace zandrel {
namespace {

constexpr int kSeconds = 60;
constexpr uint32_t kRate = 44100;

// --- ComplexFFT beside FFTW ---

std::vector<float> RandomFloats(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1, 1);
  std::vector<float> v(n);
  for (auto& x : v) x = u(rng);
  return v;
}

// Forward-inverse relative error (RMS of the difference over RMS of the input).
double RoundTripError(const std::vector<float>& before, const std::vector<float>& re, const std::vector<float>& im,
                      const std::vector<float>& imBefore) {
  double err = 0, ref = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    err += std::pow(double{re[i]} - before[i], 2) + std::pow(double{im[i]} - imBefore[i], 2);
    ref += std::pow(double{before[i]}, 2) + std::pow(double{imBefore[i]}, 2);
  }
  return std::sqrt(err / ref);
}

// One forward and one inverse transform of random data per iteration.
void BM_ComplexFFT(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const std::vector<float> re0 = RandomFloats(n, 1), im0 = RandomFloats(n, 2);
  std::vector<float> re = re0, im = im0;
  ComplexFFT(re, im, false);  // the first call at a size plans it
  ComplexFFT(re, im, true);
  state.counters["roundtrip_error"] = RoundTripError(re0, re, im, im0);
  for (auto _ : state) {
    ComplexFFT(re, im, false);
    ComplexFFT(re, im, true);
    benchmark::DoNotOptimize(re.data());
  }
}

// FFTW's own interfaces, each with plans measured on the arrays it runs on
// (FFTW_MEASURE: the fastest FFTW finds by timing, which ComplexFFT may not
// do at run time) and the same 1/N scaling of the inverse: interleaved or
// split arrays, in or out of place. Each size is compared with whichever of
// them is fastest there.
enum FftwInterface { kInterleavedInPlace, kInterleavedOutOfPlace, kSplitInPlace, kSplitOutOfPlace };
constexpr const char* kFftwInterfaceNames[] = {"FftwInterleavedInPlace", "FftwInterleavedOutOfPlace",
                                               "FftwSplitInPlace", "FftwSplitOutOfPlace"};

void BM_Fftw(benchmark::State& state, FftwInterface kind) {
  const auto n = static_cast<int>(state.range(0));
  const std::vector<float> re0 = RandomFloats(n, 1), im0 = RandomFloats(n, 2);
  const bool interleaved = kind == kInterleavedInPlace || kind == kInterleavedOutOfPlace;
  const bool inPlace = kind == kInterleavedInPlace || kind == kSplitInPlace;
  // Interleaved: a and b hold n complex values each. Split: re at a, im at
  // a + n; the out-of-place result goes to b likewise.
  float* a = fftwf_alloc_real(2 * n);
  float* b = inPlace ? a : fftwf_alloc_real(2 * n);
  fftwf_plan forward = nullptr, inverse = nullptr;
  auto* ca = reinterpret_cast<fftwf_complex*>(a);
  auto* cb = reinterpret_cast<fftwf_complex*>(b);
  fftwf_iodim dim{n, 1, 1};
  // e^(+2 pi i nk/N) is FFTW's backward sign (split: real and imaginary parts swapped).
  if (interleaved) {
    forward = fftwf_plan_dft_1d(n, ca, cb, FFTW_BACKWARD, FFTW_MEASURE);
    inverse = fftwf_plan_dft_1d(n, cb, ca, FFTW_FORWARD, FFTW_MEASURE);
  } else {
    forward = fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, a + n, a, b + n, b, FFTW_MEASURE);
    inverse = fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, b, b + n, a, a + n, FFTW_MEASURE);
  }
  for (int i = 0; i < n; ++i) {
    if (interleaved) {
      a[2 * i] = re0[i];
      a[2 * i + 1] = im0[i];
    } else {
      a[i] = re0[i];
      a[n + i] = im0[i];
    }
  }
  const float scale = 1.0f / static_cast<float>(n);
  auto roundTrip = [&] {
    fftwf_execute(forward);
    fftwf_execute(inverse);
    for (int i = 0; i < 2 * n; ++i) a[i] *= scale;
  };
  roundTrip();
  std::vector<float> re(n), im(n);
  for (int i = 0; i < n; ++i) {
    re[i] = interleaved ? a[2 * i] : a[i];
    im[i] = interleaved ? a[2 * i + 1] : a[n + i];
  }
  state.counters["roundtrip_error"] = RoundTripError(re0, re, im, im0);
  for (auto _ : state) {
    roundTrip();
    benchmark::DoNotOptimize(a);
  }
  fftwf_destroy_plan(forward);
  fftwf_destroy_plan(inverse);
  if (b != a) fftwf_free(b);
  fftwf_free(a);
}

constexpr int kFftSmallest = 256;
constexpr int kFftLargest = 65536;
BENCHMARK(BM_ComplexFFT)->RangeMultiplier(2)->Range(kFftSmallest, kFftLargest)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Fftw, FftwInterleavedInPlace, kInterleavedInPlace)
    ->RangeMultiplier(2)
    ->Range(kFftSmallest, kFftLargest)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Fftw, FftwInterleavedOutOfPlace, kInterleavedOutOfPlace)
    ->RangeMultiplier(2)
    ->Range(kFftSmallest, kFftLargest)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Fftw, FftwSplitInPlace, kSplitInPlace)
    ->RangeMultiplier(2)
    ->Range(kFftSmallest, kFftLargest)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Fftw, FftwSplitOutOfPlace, kSplitOutOfPlace)
    ->RangeMultiplier(2)
    ->Range(kFftSmallest, kFftLargest)
    ->Unit(benchmark::kMicrosecond);

// --- Note and beat detection beside aubio ---

// Mono 16-bit audio at 44100 Hz: a melody of held notes with a little vibrato
// and short gaps, so every analysis stage has work to do.
const std::vector<uint8_t>& Melody() {
  static const std::vector<uint8_t> pcm = [] {
    const size_t frames = size_t{kRate} * kSeconds;
    std::vector<uint8_t> out(frames * 2);
    const double notes[] = {261.63, 293.66, 329.63, 349.23, 392.0, 440.0, 493.88, 523.25};
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
      const size_t beat = i / 22050;  // a note every half second
      const bool gap = (i % 22050) > 20000;
      const double hz = notes[beat % 8] * (1 + 0.002 * std::sin(i * 0.0003));
      phase += 2 * std::numbers::pi * hz / kRate;
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
  span.sampleRate = kRate;
  span.blockAlign = 2;
  span.bitsPerSample = 16;
  return span;
}

// The melody as floats, as aubio reads it.
const std::vector<float>& MelodyFloats() {
  static const std::vector<float> mono = PcmToMonoFloat(Melody(), 1, 16);
  return mono;
}

void BM_EstimatePitchYin(benchmark::State& state) {
  const PcmSpan span = MelodySpan();
  int64_t start = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(EstimatePitchYin(span, start, start + 4096));
    start = (start + 7919) % (kRate * 50);
  }
}
BENCHMARK(BM_EstimatePitchYin)->Unit(benchmark::kMicrosecond);

void BM_DetectNoteSegments(benchmark::State& state) {
  const PcmSpan span = MelodySpan();
  const auto threads = static_cast<unsigned>(state.range(0));
  // FFT plans are made once per process, on first use: not part of a run.
  DetectNoteSegments(span, threads);
  for (auto _ : state) benchmark::DoNotOptimize(DetectNoteSegments(span, threads));
}
BENCHMARK(BM_DetectNoteSegments)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// aubio's pitch detector over the same minute: a 2048-sample buffer every
// 512 samples (our window is 2205 samples every 512).
void BM_AubioPitch(benchmark::State& state, const char* method) {
  const std::vector<float>& mono = MelodyFloats();
  constexpr uint32_t kHop = 512;
  fvec_t* in = new_fvec(kHop);
  fvec_t* out = new_fvec(1);
  for (auto _ : state) {
    aubio_pitch_t* pitch = new_aubio_pitch(method, 2048, kHop, kRate);
    for (size_t p = 0; p + kHop <= mono.size(); p += kHop) {
      std::copy_n(mono.data() + p, kHop, in->data);
      aubio_pitch_do(pitch, in, out);
    }
    benchmark::DoNotOptimize(out->data[0]);
    del_aubio_pitch(pitch);
  }
  del_fvec(in);
  del_fvec(out);
}
BENCHMARK_CAPTURE(BM_AubioPitch, yin, "yin")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_AubioPitch, yinfft, "yinfft")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DetectBeats(benchmark::State& state) {
  const auto threads = static_cast<unsigned>(state.range(0));
  {
    BeatDetector detector;  // FFT plans are made once per process, on first use: not part of a run
    DetectBeats(detector, Melody(), 1, kRate, 16, threads);
  }
  for (auto _ : state) {
    BeatDetector detector;
    benchmark::DoNotOptimize(DetectBeats(detector, Melody(), 1, kRate, 16, threads));
  }
}
BENCHMARK(BM_DetectBeats)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// aubio's beat tracker with the same window (1024) and hop (512).
void BM_AubioTempo(benchmark::State& state) {
  const std::vector<float>& mono = MelodyFloats();
  constexpr uint32_t kHop = 512;
  fvec_t* in = new_fvec(kHop);
  fvec_t* out = new_fvec(2);
  for (auto _ : state) {
    aubio_tempo_t* tempo = new_aubio_tempo("default", 1024, kHop, kRate);
    for (size_t p = 0; p + kHop <= mono.size(); p += kHop) {
      std::copy_n(mono.data() + p, kHop, in->data);
      aubio_tempo_do(tempo, in, out);
    }
    benchmark::DoNotOptimize(out->data[0]);
    del_aubio_tempo(tempo);
  }
  del_fvec(in);
  del_fvec(out);
}
BENCHMARK(BM_AubioTempo)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The sinc converter beside libsamplerate ---

// Stereo music-like test audio: two detuned chords and a little noise.
const std::vector<int16_t>& Stereo() {
  static const std::vector<int16_t> out = [] {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    const size_t frames = size_t{kRate} * kSeconds;
    std::vector<int16_t> v(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      for (int ch = 0; ch < 2; ++ch) {
        double s = 0;
        for (double f : {220.0, 277.18, 329.63, 5000.0}) s += 0.2 * std::sin(2 * std::numbers::pi * (f + ch) * t);
        v[i * 2 + ch] = static_cast<int16_t>((s + noise(rng)) * 32767);
      }
    }
    return v;
  }();
  return out;
}

// The conversions measured, as ratio = source rate / target rate (ResampleSinc's
// ratio; libsamplerate is given its inverse). The input is always one minute
// of stereo. Ratios of small integers repeat a few filter phases; the others
// (a semitone, a few cents, the rounded 46722 Hz semitone) give every output
// frame its own phase, which is the converter's harder case.
struct RateCase {
  double ratio;
  const char* name;
};
const RateCase kRateCases[] = {
    {44100.0 / 48000.0, "44100 -> 48000"},
    {48000.0 / 44100.0, "48000 -> 44100"},
    {44100.0 / 46722.0, "a semitone down (44100 -> 46722)"},
    {46722.0 / 44100.0, "a semitone up (46722 -> 44100)"},
    {std::exp2(1.0 / 12.0), "ratio 2^(1/12)"},
    {std::exp2(-1.0 / 12.0), "ratio 2^(-1/12)"},
    {std::exp2(37.0 / 1200.0), "ratio 2^(37/1200)"},
    {std::exp2(-5.0 / 1200.0), "ratio 2^(-5/1200)"},
    {2.0, "ratio 2"},
    {0.5, "ratio 1/2"},
    {0.37, "ratio 0.37"},
};

void BM_ResampleSinc(benchmark::State& state) {
  const RateCase& c = kRateCases[state.range(0)];
  const auto threads = static_cast<unsigned>(state.range(1));
  const auto& in = Stereo();
  std::vector<int16_t> out;
  for (auto _ : state) {
    SincFilterSpec spec = SincFilterSpec::Best();
    ResampleSinc(spec, out, in.data(), in.size() / 2, 2, c.ratio, threads);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Libsamplerate(benchmark::State& state) {
  const RateCase& c = kRateCases[state.range(0)];
  const auto& in = Stereo();
  const double srcRatio = 1.0 / c.ratio;
  std::vector<float> fin(in.size());
  std::vector<float> fout(static_cast<size_t>(static_cast<double>(in.size()) * srcRatio) + 64);
  std::vector<int16_t> out(fout.size());
  for (auto _ : state) {
    // The same work as ResampleSinc: int16 to float, convert, float to int16.
    src_short_to_float_array(in.data(), fin.data(), static_cast<int>(in.size()));
    SRC_DATA data{};
    data.data_in = fin.data();
    data.data_out = fout.data();
    data.input_frames = static_cast<long>(in.size() / 2);
    data.output_frames = static_cast<long>(fout.size() / 2);
    data.src_ratio = srcRatio;
    if (src_simple(&data, SRC_SINC_BEST_QUALITY, 2) != 0) state.SkipWithError("src_simple failed");
    for (long i = 0; i < data.output_frames_gen * 2; ++i) {
      const float s = fout[i] * 32768.0f;
      out[i] = s >= 32767.0f ? 32767 : s <= -32768.0f ? -32768 : static_cast<int16_t>(s);
    }
    benchmark::DoNotOptimize(out.data());
  }
}

void RateArgs(benchmark::internal::Benchmark* b, bool withThreads) {
  for (int64_t i = 0; i < static_cast<int64_t>(std::size(kRateCases)); ++i) {
    if (withThreads) {
      b->Args({i, 1});
      b->Args({i, 0});
    } else {
      b->Args({i});
    }
  }
}
BENCHMARK(BM_ResampleSinc)
    ->ArgNames({"case", "threads"})
    ->Apply([](auto* b) { RateArgs(b, true); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Libsamplerate)
    ->ArgNames({"case"})
    ->Apply([](auto* b) { RateArgs(b, false); })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void AddPairs(RatioReporter& reporter) {
  for (int n = kFftSmallest; n <= kFftLargest; n *= 2) {
    // Beside the fastest of FFTW's interfaces at this size.
    RatioReporter::Pair pair{"ComplexFFT " + std::to_string(n) + " points, forward + inverse",
                             "BM_ComplexFFT/" + std::to_string(n), "", "FFTW3 float, measured", true};
    for (const char* name : kFftwInterfaceNames) {
      pair.peers.push_back({"BM_Fftw/" + std::string(name) + "/" + std::to_string(n), name});
    }
    reporter.Add(std::move(pair));
  }
  for (const auto& [threads, label] : {std::pair{1, "one thread"}, std::pair{0, "every core"}}) {
    const std::string t = std::to_string(threads);
    const std::string cores = threads == 0 ? " (" + std::to_string(DefaultThreadCount()) + " threads)" : "";
    reporter.Add({"DetectNoteSegments per minute, " + std::string(label) + cores,
                  "BM_DetectNoteSegments/threads:" + t + "/real_time", "BM_AubioPitch/yinfft/real_time",
                  "aubio FFT-YIN", threads == 1});
    reporter.Add({"DetectNoteSegments per minute, " + std::string(label) + cores,
                  "BM_DetectNoteSegments/threads:" + t + "/real_time", "BM_AubioPitch/yin/real_time", "aubio YIN",
                  threads == 1});
    reporter.Add({"DetectBeats per minute, " + std::string(label) + cores, "BM_DetectBeats/threads:" + t + "/real_time",
                  "BM_AubioTempo/real_time", "aubio tempo", threads == 1});
  }
  for (size_t i = 0; i < std::size(kRateCases); ++i) {
    for (const auto& [threads, label] : {std::pair{1, "one thread"}, std::pair{0, "every core"}}) {
      reporter.Add({"ResampleSinc " + std::string(kRateCases[i].name) + ", " + label,
                    "BM_ResampleSinc/case:" + std::to_string(i) + "/threads:" + std::to_string(threads) + "/real_time",
                    "BM_Libsamplerate/case:" + std::to_string(i) + "/real_time", "libsamplerate best", threads == 1});
    }
  }
}

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  zandrel::RatioReporter reporter;
  zandrel::AddPairs(reporter);
  return zandrel::RunWithRatios(argc, argv, reporter);
}

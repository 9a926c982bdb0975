// Prints a digest of what the pitch, note, beat, stretch and spectral
// analyses make of one generated signal, and of the complex transforms at
// every power of two up to 65536, for the test that runs it in two
// processes and compares the two outputs.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "document/wav_loader.h"
#include "processing/beat_tracker.h"
#include "processing/complex_fft.h"
#include "processing/dynamics.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "processing/stretch.h"

namespace {

struct Digest {
  uint64_t h = 1469598103934665603ull;
  void Add(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  }
  template <class T>
  void Add(const T& v) {
    Add(&v, sizeof v);
  }
};

}  // namespace

int main() {
  using namespace zandrel;
  // Eight seconds of mono 16-bit: a note every half second over clicks on
  // every beat at 120 BPM.
  constexpr uint32_t kRate = 44100;
  constexpr int64_t kFrames = 8 * kRate;
  std::vector<int16_t> samples(kFrames);
  double phase = 0.0;
  uint32_t noise = 1;
  for (int64_t i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const int note = 57 + static_cast<int>(t * 2.0) % 12;
    phase += 2.0 * std::numbers::pi * 440.0 * std::pow(2.0, (note - 69) / 12.0) / kRate;
    noise = noise * 1664525u + 1013904223u;
    const double since = t - std::floor(t * 2.0) / 2.0;
    const double v = 0.4 * std::sin(phase) + 0.3 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) *
                                                 std::exp(-since * 40.0);
    samples[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v * 32767.0));
  }
  CWavLoader wav;
  wav.format = PcmFormat{1, 1, kRate, kRate * 2, 2, 16};
  wav.data.resize(samples.size() * 2);
  std::memcpy(wav.data.data(), samples.data(), wav.data.size());
  const PcmSpan span = PcmSpan::Of(wav);

  const double hz = EstimatePitchYin(span, kRate, 2 * kRate);
  Digest pitch;
  pitch.Add(hz);
  std::printf("pitch %.9f %016llx\n", hz, static_cast<unsigned long long>(pitch.h));

  Digest notes;
  const std::vector<NoteSegment> segments = DetectNoteSegments(span);
  for (const NoteSegment& s : segments) {
    notes.Add(s.note);
    notes.Add(s.start);
    notes.Add(s.end);
  }
  std::printf("notes %zu %016llx\n", segments.size(), static_cast<unsigned long long>(notes.h));

  BeatDetector detector;
  const std::vector<double> beats = DetectBeats(detector, wav.data, 1, kRate, 16);
  Digest beat;
  for (double b : beats) beat.Add(b);
  std::printf("beats %zu %016llx\n", beats.size(), static_cast<unsigned long long>(beat.h));

  CWavLoader stretched = wav.Clone();
  const bool ok = StretchWav(stretched, 120.0, 100.0, 2.0).success;
  Digest stretch;
  stretch.Add(stretched.data.data(), stretched.data.size());
  std::printf("stretch %d %zu %016llx\n", ok ? 1 : 0, stretched.data.size(), static_cast<unsigned long long>(stretch.h));

  std::vector<float> x(samples.begin(), samples.end());
  for (float& v : x) v /= 32768.0f;
  SpectralDenoiseChannel(x, SpectralDenoiseSettings::Melodic());
  Digest clean;
  clean.Add(x.data(), x.size() * sizeof(float));
  std::printf("cleanup %016llx\n", static_cast<unsigned long long>(clean.h));

  // Forward and inverse of the first n samples at each size; the planned
  // sizes and those beyond (estimated plans) alike.
  Digest transforms;
  for (size_t n = 2; n <= (size_t{1} << 17); n *= 2) {
    std::vector<float> re(n), im(n);
    for (size_t i = 0; i < n; ++i) {
      re[i] = static_cast<float>(samples[i % samples.size()]) / 32768.0f;
      im[i] = static_cast<float>(samples[(i * 7 + 11) % samples.size()]) / 32768.0f;
    }
    ComplexFFT(re, im, false);
    transforms.Add(re.data(), n * sizeof(float));
    transforms.Add(im.data(), n * sizeof(float));
    ComplexFFT(re, im, true);
    transforms.Add(re.data(), n * sizeof(float));
    transforms.Add(im.data(), n * sizeof(float));
  }
  std::printf("complex %016llx\n", static_cast<unsigned long long>(transforms.h));
  return 0;
}

#include "view/model/spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "processing/complex_fft.h"
#include "processing/sample_access.h"
#include "view/model/piano_key_layout.h"

namespace zandrel {
namespace {

// The symmetric Hann window over the transform: (1 - cos(2 pi n / 8191)) / 2.
const std::vector<float>& HannWindow() {
  static const std::vector<float> window = [] {
    std::vector<float> w(kSpectrumFftSize);
    for (int n = 0; n < kSpectrumFftSize; ++n)
      w[static_cast<size_t>(n)] =
          static_cast<float>((1.0 - std::cos(2.0 * std::numbers::pi * n / (kSpectrumFftSize - 1))) / 2.0);
    return w;
  }();
  return window;
}

}  // namespace

SpectrumFrames PlanSpectrumFrames(int64_t frameCount, double viewStart, float framesPerPixel, int width) {
  SpectrumFrames f;
  const auto first = static_cast<int64_t>(viewStart);
  f.start = std::max<int64_t>(0, first);
  f.end = std::min(frameCount, first + static_cast<int64_t>(width * static_cast<double>(framesPerPixel)));
  if (f.start >= f.end) return f;
  f.hop = std::max<int64_t>(kSpectrumFftSize, (f.end - f.start) / kSpectrumMaxFrames);
  // Positions start + i x hop below end - 8192.
  const int64_t last = f.end - kSpectrumFftSize;
  if (f.start < last) f.count = static_cast<int>((last - f.start - 1) / f.hop + 1);
  return f;
}

float SpectrumScale(double meanMagnitude) {
  return static_cast<float>(
      std::min(1.0, 20.0 * std::log10(meanMagnitude / kSpectrumReference + 1.0) / kSpectrumRangeDb));
}

std::vector<float> ComputeSpectrum(const CWavLoader& audio, const SpectrumFrames& frames) {
  std::vector<float> spectrum(kSpectrumBins, 0.0f);
  if (frames.count <= 0) return spectrum;
  const int channels = audio.format.nChannels;
  const int bits = audio.format.wBitsPerSample;
  const std::span<const uint8_t> pcm(audio.data);
  const std::vector<float>& window = HannWindow();

  // Only magnitudes are kept, so a real-input transform (bins 0 .. N/2 of
  // the complex one with a zero imaginary part) gives the same values.
  const FftPlan plan(kSpectrumFftSize);
  const size_t offset = FftPlan::SplitOffset(plan.Bins());
  std::vector<float> input(kSpectrumFftSize);
  std::vector<float> output(2 * offset);
  std::vector<double> sums(kSpectrumBins, 0.0);
  for (int i = 0; i < frames.count; ++i) {
    const int64_t p = frames.start + i * frames.hop;
    for (int n = 0; n < kSpectrumFftSize; ++n) {
      double mixed = 0.0;
      for (int c = 0; c < channels; ++c) mixed += ReadSampleValue(pcm, p + n, c, channels, bits);
      input[static_cast<size_t>(n)] = static_cast<float>(mixed / channels * window[static_cast<size_t>(n)]);
    }
    plan.RealForward(input.data(), output.data(), output.data() + offset);
    const float* re = output.data();
    const float* im = output.data() + offset;
    for (int k = 0; k < kSpectrumBins; ++k) sums[static_cast<size_t>(k)] += std::sqrt(re[k] * re[k] + im[k] * im[k]);
  }
  for (int k = 0; k < kSpectrumBins; ++k)
    spectrum[static_cast<size_t>(k)] = SpectrumScale(sums[static_cast<size_t>(k)] / frames.count);
  return spectrum;
}

bool SpectrumCache::Build(const CWavLoader& audio, double viewStart, float framesPerPixel, int width) {
  const int64_t frameCount = audio.FrameCount();
  if (frameCount <= 0 || audio.format.nChannels == 0 || width <= 0) return false;
  const SpectrumFrames frames = PlanSpectrumFrames(frameCount, viewStart, framesPerPixel, width);
  if (frames.start >= frames.end) return false;
  const auto start = static_cast<double>(frames.start);
  // A cache marked invalid is recomputed even when the view stands within
  // the tolerance of the file's start.
  if (!IsInvalid() && std::abs(spectrumStart_ - start) < kSpectrumStartTolerance &&
      std::abs(spectrumZoom_ - framesPerPixel) < kSpectrumZoomTolerance)
    return false;
  spectrumStart_ = start;
  spectrumZoom_ = framesPerPixel;
  spectrum_ = ComputeSpectrum(audio, frames);
  return true;
}

SpectrumCurve ComputeSpectrumCurve(const std::vector<float>& spectrum, uint32_t sampleRate, int width,
                                   bool editKeyBoundaries) {
  SpectrumCurve curve;
  // Without a rate no column has a frequency's bin.
  if (sampleRate == 0 || spectrum.empty() || width <= 0) return curve;
  const PianoKeyLayout layout = PianoKeyLayout::For(width, editKeyBoundaries);
  const int lo = layout.lowestKey;
  const float kw = layout.keyWidth;
  const int o = layout.offset;
  curve.xs = std::max(o, 0);
  curve.xe = std::min(width, o + static_cast<int>(static_cast<float>(layout.highestKey - lo + 1) * kw));
  curve.values.assign(static_cast<size_t>(width), 0.0f);
  const auto bins = static_cast<int>(spectrum.size());
  for (int x = curve.xs; x < curve.xe; ++x) {
    const double note = (x - o) / static_cast<double>(kw) - 0.5 + lo;
    const double f = 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
    const double beta = f / (sampleRate * 0.5) * bins;
    float v = 0.0f;
    if (beta >= 0.0 && beta < bins) {
      const auto i = static_cast<int>(beta);
      v = spectrum[static_cast<size_t>(i)];
      if (i < bins - 1) {
        const auto t = static_cast<float>(beta - i);
        v = (1.0f - t) * spectrum[static_cast<size_t>(i)] + t * spectrum[static_cast<size_t>(i) + 1];
      }
    }
    curve.values[static_cast<size_t>(x)] = v;
  }

  const float largest = *std::max_element(curve.values.begin(), curve.values.end());
  if (largest <= 0.1f) return curve;
  const auto at = [&](int x) { return curve.values[static_cast<size_t>(x)]; };
  for (int x = curve.xs + 2; x <= curve.xe - 3; ++x) {
    const float v = at(x);
    if (v < 0.2f || !(v > at(x - 1)) || !(v > at(x - 2)) || !(v >= at(x + 1)) || !(v >= at(x + 2))) continue;
    if (v > 0.9f * largest)
      curve.peaks.push_back({x, v, true});
    else if (v > 0.5f * largest)
      curve.peaks.push_back({x, v, false});
  }
  return curve;
}

}  // namespace zandrel

// Measurements of rendered 16-bit audio for the knob-effect tests: the
// amplitude of one frequency, power spectra and their centroid or peak,
// level envelopes and their exponential decay, and a zero-crossing pitch.
// Header-only; mono signals (interleaved ones are measured on channel 0 by
// the caller).
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "processing/complex_fft.h"

namespace zandrel::test {

constexpr double kTau = 6.283185307179586;

// Periodic Hann weight of sample i of n.
inline double Hann(size_t i, size_t n) { return 0.5 - 0.5 * std::cos(kTau * double(i) / double(n)); }

// Complex amplitude of |hz| over x[begin, end) through a Hann window, scaled
// so that a steady sine of amplitude a gives magnitude a.
inline std::complex<double> ToneAt(const std::vector<int16_t>& x, double hz, size_t begin, size_t end,
                                   uint32_t rate) {
  std::complex<double> sum = 0;
  double weights = 0;
  const size_t n = end - begin;
  const double step = kTau * hz / rate;
  for (size_t i = 0; i < n; ++i) {
    const double w = Hann(i, n);
    sum += w * double(x[begin + i]) * std::polar(1.0, -step * double(i));
    weights += w;
  }
  return 2.0 * sum / weights;
}

inline double ToneAmplitude(const std::vector<int16_t>& x, double hz, size_t begin, size_t end, uint32_t rate) {
  return std::abs(ToneAt(x, hz, begin, end, rate));
}

// Welch power spectrum of x[begin, end): Hann windows of |size| (a power of
// two) at half overlap, averaged. Bin b lies at b x rate / size Hz.
struct Spectrum {
  std::vector<double> power;
  double binHz = 0;

  size_t Bin(double hz) const {
    return std::min(power.size() - 1, size_t(std::max(0.0, std::round(hz / binHz))));
  }
  // Sum of the bins from loHz to hiHz.
  double Band(double loHz, double hiHz) const {
    double sum = 0;
    for (size_t b = Bin(loHz); b <= Bin(hiHz); ++b) sum += power[b];
    return sum;
  }
  // Mean power per bin from loHz to hiHz.
  double Level(double loHz, double hiHz) const { return Band(loHz, hiHz) / double(Bin(hiHz) - Bin(loHz) + 1); }
  // Power-weighted mean frequency from loHz to hiHz.
  double Centroid(double loHz, double hiHz) const {
    double sum = 0, weighted = 0;
    for (size_t b = Bin(loHz); b <= Bin(hiHz); ++b) {
      sum += power[b];
      weighted += power[b] * double(b) * binHz;
    }
    return sum > 0 ? weighted / sum : 0;
  }
  // Power-weighted standard deviation of the frequency from loHz to hiHz.
  double Spread(double loHz, double hiHz) const {
    const double mean = Centroid(loHz, hiHz);
    double sum = 0, weighted = 0;
    for (size_t b = Bin(loHz); b <= Bin(hiHz); ++b) {
      const double d = double(b) * binHz - mean;
      sum += power[b];
      weighted += power[b] * d * d;
    }
    return sum > 0 ? std::sqrt(weighted / sum) : 0;
  }
  // Frequency of the largest mean over 2 x halfWidth + 1 bins from loHz to
  // hiHz (the mean evens out the scatter of a noise spectrum).
  double PeakHz(double loHz, double hiHz, size_t halfWidth) const {
    double best = -1, bestHz = 0;
    for (size_t b = Bin(loHz); b <= Bin(hiHz); ++b) {
      const size_t from = b >= halfWidth ? b - halfWidth : 0;
      const size_t to = std::min(power.size() - 1, b + halfWidth);
      double sum = 0;
      for (size_t i = from; i <= to; ++i) sum += power[i];
      const double mean = sum / double(to - from + 1);
      if (mean > best) {
        best = mean;
        bestHz = double(b) * binHz;
      }
    }
    return bestHz;
  }
};

inline Spectrum PowerSpectrum(const std::vector<int16_t>& x, size_t begin, size_t end, size_t size,
                              uint32_t rate) {
  FftPlan plan(size);
  const size_t bins = plan.Bins();
  const size_t split = FftPlan::SplitOffset(bins);
  std::vector<float> in(size), spectrum(2 * split);
  Spectrum result;
  result.power.assign(bins, 0.0);
  result.binHz = double(rate) / double(size);
  int frames = 0;
  for (size_t start = begin; start + size <= end; start += size / 2, ++frames) {
    for (size_t i = 0; i < size; ++i) in[i] = float(double(x[start + i]) * Hann(i, size));
    plan.RealForward(in.data(), spectrum.data(), spectrum.data() + split);
    for (size_t b = 0; b < bins; ++b) {
      const double re = spectrum[b], im = spectrum[split + b];
      result.power[b] += re * re + im * im;
    }
  }
  for (double& p : result.power) p /= std::max(1, frames);
  return result;
}

// RMS of x over consecutive windows of |window| frames from |begin| on.
inline std::vector<double> RmsEnvelope(const std::vector<int16_t>& x, size_t begin, size_t end, size_t window) {
  std::vector<double> envelope;
  for (size_t start = begin; start + window <= end; start += window) {
    double sum = 0;
    for (size_t i = start; i < start + window; ++i) sum += double(x[i]) * x[i];
    envelope.push_back(std::sqrt(sum / double(window)));
  }
  return envelope;
}

// The RMS of x[begin, end).
inline double RmsOf(const std::vector<int16_t>& x, size_t begin, size_t end) {
  return RmsEnvelope(x, begin, end, end - begin).at(0);
}

// Exponential decay of x from frame |from| to frame |to|: the least-squares
// slope of ln(RMS) over windows of |window| frames, per frame (negative for
// a decay; -1 / slope is the time constant in frames).
inline double LogDecayPerFrame(const std::vector<int16_t>& x, size_t from, size_t to, size_t window) {
  const std::vector<double> envelope = RmsEnvelope(x, from, to, window);
  double n = 0, st = 0, sy = 0, stt = 0, sty = 0;
  for (size_t i = 0; i < envelope.size(); ++i) {
    if (envelope[i] <= 0) continue;
    const double t = double(i) * double(window);
    const double y = std::log(envelope[i]);
    n += 1;
    st += t;
    sy += y;
    stt += t * t;
    sty += t * y;
  }
  return (n * sty - st * sy) / (n * stt - st * st);
}

// Frequency from the rising zero crossings of x[begin, end), each placed
// between its two samples.
inline double CrossingHz(const std::vector<int16_t>& x, size_t begin, size_t end, uint32_t rate) {
  double first = -1, last = -1;
  int count = 0;
  for (size_t i = std::max<size_t>(begin, 1); i < end; ++i) {
    if (x[i - 1] <= 0 && x[i] > 0) {
      const double at = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
      if (first < 0) first = at;
      last = at;
      ++count;
    }
  }
  return count > 1 ? double(rate) * double(count - 1) / (last - first) : 0;
}

// Channel |c| of interleaved samples with |channels| channels.
inline std::vector<int16_t> ChannelOf(const std::vector<int16_t>& x, int channels, int c) {
  std::vector<int16_t> out;
  for (size_t i = size_t(c); i < x.size(); i += size_t(channels)) out.push_back(x[i]);
  return out;
}

}  // namespace zandrel::test

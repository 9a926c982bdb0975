#include "processing/beat_tracker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "processing/parallel.h"
#include "processing/sample_access.h"

namespace zandrel {
namespace {

using Complex = std::complex<float>;

constexpr float kTwoPi = 6.2831855f;
constexpr uint32_t kTwiddleCacheSize = kBeatWindowSize;

// How the time of a detection divides among its stages on one core (ten
// minutes of 24-bit stereo at 44100 Hz: about 40 % mono conversion, most of
// it spent touching the new pages of the mono signal, 50 % onsets, 7 %
// tracking, the grid next to nothing), so that the progress moves evenly:
// DetectBeats gives the mono conversion [0, kMonoShare), TrackBeats
// [kMonoShare, kGridStart) and the grid fit the rest; inside TrackBeats the
// onsets take the first kOnsetShare of its part.
constexpr double kMonoShare = 0.4;
constexpr double kGridStart = 0.99;
constexpr double kOnsetShare = 0.88;
// Ranges between reports. An onset hop costs about 10 us on one core, a
// tracked hop a few, a grid candidate a few per thousand beats.
constexpr size_t kMostOnsetHopsPerReport = 2048;
constexpr uint64_t kTrackedHopsPerReport = 1024;
constexpr uint64_t kGridCandidatesPerReport = 64;
// The octave check of a grid: the tempo is halved when one of every other
// beat's accents falls under this share of the other's, and doubled when
// the points halfway between the beats are accented at least this share of
// the beats themselves; never below or above these tempi.
constexpr double kWeakBeatShare = 0.4;
constexpr double kHalfBeatShare = 0.8;
constexpr double kSlowestOctaveBpm = 60.0;
constexpr double kFastestOctaveBpm = 200.0;

// Twiddles of every level of a recursive FFT of size N: level M (2 <= M <= N)
// holds M / 2 values w = (cos t, sin t), t = k * (-2 pi) / M in single
// precision, starting at offset M / 2 - 1.
std::vector<Complex> MakeTwiddles(size_t n) {
  std::vector<Complex> table(n > 1 ? n - 1 : 0);
  for (size_t m = 2; m <= n; m <<= 1) {
    for (size_t k = 0; k < m / 2; ++k) {
      const float theta = static_cast<float>(k) * -kTwoPi / static_cast<float>(m);
      table[m / 2 - 1 + k] = Complex(std::cos(theta), std::sin(theta));
    }
  }
  return table;
}

// Decimation in time, out of place: the even-indexed values of |in| (taken
// with |stride|) are transformed into out[0, n/2), the odd ones into
// out[n/2, n), then joined by the butterflies X[k] = E[k] + w O[k],
// X[k + n/2] = E[k] - w O[k].
void RecursiveFFTInto(const Complex* in, size_t stride, Complex* out, size_t n, const Complex* twiddles) {
  if (n == 1) {
    out[0] = in[0];
    return;
  }
  const size_t half = n / 2;
  RecursiveFFTInto(in, 2 * stride, out, half, twiddles);
  RecursiveFFTInto(in + stride, 2 * stride, out + half, half, twiddles);
  const Complex* w = twiddles + half - 1;
  for (size_t k = 0; k < half; ++k) {
    const Complex e = out[k], o = out[k + half];
    const Complex t(w[k].real() * o.real() - w[k].imag() * o.imag(), w[k].real() * o.imag() + w[k].imag() * o.real());
    out[k] = Complex(e.real() + t.real(), e.imag() + t.imag());
    out[k + half] = Complex(e.real() - t.real(), e.imag() - t.imag());
  }
}

// Position of the maximum at m refined by the parabola through its
// neighbours; m itself at either end or when the parabola is flat.
float RefinedPeak(const FloatVec& v, uint32_t m) {
  if (m == 0 || m + 1 >= v.size()) return static_cast<float>(m);
  const float a = v[m - 1], b = v[m], c = v[m + 1];
  const float den = a - 2.0f * b + c;
  if (den == 0.0f) return static_cast<float>(m);
  return static_cast<float>(m) + 0.5f * (a - c) / den;
}

// The comb filter over the autocorrelation: for each lag i in 1..lagLen-2,
// the sum over a = 1..A and b = 1..2a-1 of acf[i a + b - a], each divided by
// 2a - 1 when |normalise|; entries 0 and lagLen - 1 stay 0. The 2a - 1 values
// of the a-th multiple are centred on the lag i a: read from i a onward
// instead, they centre on (i + (a - 1) / a) a, and the comb's peak, hence the
// tempo period, comes out more than half a hop short.
void CombFilter(const FloatVec& acf, uint32_t numerator, bool normalise, FloatVec& comb) {
  std::fill(comb.begin(), comb.end(), 0.0f);
  const size_t lagLen = comb.size();
  for (size_t i = 1; i + 1 < lagLen; ++i) {
    for (uint32_t a = 1; a <= numerator; ++a) {
      for (uint32_t b = 1; b < 2 * a; ++b) {
        const size_t index = i * a + b - a;  // i a - (a - 1) .. i a + (a - 1); i >= 1 keeps it >= 0
        if (index >= acf.size()) continue;
        comb[i] += normalise ? acf[index] / static_cast<float>(2 * a - 1) : acf[index];
      }
    }
  }
}

uint32_t ChooseTimeSignature(const BeatTracker& bt) {
  if (!(bt.gp >= 2.0f)) return 4;
  const auto g = static_cast<int64_t>(bt.gp);
  float three = 0.0f, four = 0.0f;
  for (int64_t k = -2; k <= 1; ++k) {
    if (3 * g + k < static_cast<int64_t>(bt.acf.size())) three += bt.acf[3 * g + k];
    if (4 * g + k < static_cast<int64_t>(bt.acf.size())) four += bt.acf[4 * g + k];
  }
  return three > four ? 3 : 4;
}

// The spectral-flux onset value of one hop: the vocoder and flux stages.
float HopOnset(PhaseVocoder& vocoder, FloatVec& fluxMemory, SpectrumFrame& spectrum, const float* hop) {
  PhaseVocoderStep(vocoder, hop, spectrum);
  return SpectralFlux(fluxMemory, spectrum);
}

// The mean square of the samples of hops h - 2 .. h + 2 of |signal|, hops
// before its start left out and samples past its end counted as silence.
float MeanSquareAround(std::span<const float> signal, size_t h) {
  const size_t first = (h >= 2 ? h - 2 : 0) * kBeatHopSize;
  const size_t last = (h + 3) * kBeatHopSize;
  float sum = 0.0f;
  for (size_t i = first; i < std::min(last, signal.size()); ++i) sum += signal[i] * signal[i];
  return sum / static_cast<float>(last - first);
}

// Everything of a tracker step after the onset value: detection function,
// beat tracking and the beat report of hop |h| of |signal|. A beat is only
// reported where the signal is not silent; the level is judged over the hop
// and two hops either side, because a predicted beat often lands a hop or
// two before the hit it belongs to, in the quiet just before it.
float AdvanceTempoTracker(TempoTracker& tt, std::span<const float> signal, size_t h, float onset) {
  if (tt.step < 2) return 0.0f;  // no room for a single beat
  tt.onset[0] = onset;
  if (tt.blockPosition + 1 == static_cast<int32_t>(tt.step)) {
    BeatTrackerStep(tt.beats, tt.window, tt.beatOutput);
    std::copy(tt.window.begin() + tt.step, tt.window.end(), tt.window.begin());
    std::fill(tt.window.end() - tt.step, tt.window.end(), 0.0f);
    tt.blockPosition = -1;
  }
  tt.blockPosition += 1;
  const float thresholded = PeakPickerStep(tt.picker, onset, &tt.peakOutput[0]);
  tt.window[tt.winlen - tt.step + static_cast<uint32_t>(tt.blockPosition)] = thresholded;

  float result = 0.0f;
  const auto count = std::min<size_t>(static_cast<size_t>(std::max(tt.beatOutput[0], 0.0f)), tt.beatOutput.size());
  for (size_t i = 1; i < count; ++i) {
    if (std::floor(tt.beatOutput[i]) != static_cast<float>(tt.blockPosition)) continue;
    float meanSquare = MeanSquareAround(signal, h);
    if (!(meanSquare > 0.0f)) meanSquare = 1e-20f;
    if (10.0f * std::log10(meanSquare) < tt.silence) continue;  // no beats in silent hops
    result = tt.beatOutput[i] - std::floor(tt.beatOutput[i]);
    tt.lastBeat = tt.framesDone + static_cast<uint64_t>(std::round(static_cast<float>(tt.hopSize) * result));
  }
  tt.framesDone += tt.hopSize;
  return result;
}

}  // namespace

// --- FloatVec helpers ---

uint32_t FloatVecMaxIndex(const FloatVec& v) {
  if (v.size() < 2) return 0;
  uint32_t best = 0;
  for (uint32_t i = 1; i < v.size(); ++i)
    if (v[i] > v[best]) best = i;
  return best;
}

void FloatVecWeight(FloatVec& a, const FloatVec& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) a[i] *= b[i];
}

void FloatVecShift(FloatVec& v) {
  const size_t half = v.size() / 2;
  for (size_t i = 0; i < half; ++i) std::swap(v[i], v[i + half]);
}

// --- FFT and phase vocoder ---

void RecursiveFFT(std::vector<Complex>& values) {
  const size_t n = values.size();
  if (n < 2 || !std::has_single_bit(n)) return;
  static const std::vector<Complex> kCachedTwiddles = MakeTwiddles(kTwiddleCacheSize);
  std::vector<Complex> ownTwiddles;
  const Complex* twiddles = kCachedTwiddles.data();
  if (n > kTwiddleCacheSize) {
    ownTwiddles = MakeTwiddles(n);
    twiddles = ownTwiddles.data();
  }
  std::vector<Complex> out(n);
  RecursiveFFTInto(values.data(), 1, out.data(), n, twiddles);
  values.swap(out);
}

PhaseVocoder NewPhaseVocoder() {
  PhaseVocoder pv;
  for (uint32_t i = 0; i < kBeatWindowSize; ++i) {
    const double angle = 2.0 * std::numbers::pi * i / kBeatWindowSize;
    pv.hann[i] = 0.5f * (1.0f - std::cos(static_cast<float>(angle)));
  }
  return pv;
}

void PhaseVocoderStep(PhaseVocoder& pv, const float* hop, SpectrumFrame& spectrum) {
  std::copy(pv.overlap.begin(), pv.overlap.end(), pv.window.begin());
  std::copy(hop, hop + kBeatHopSize, pv.window.begin() + kBeatHopSize);
  std::copy(hop, hop + kBeatHopSize, pv.overlap.begin());

  // Windowed, with the halves swapped: zero phase at the window's centre.
  constexpr uint32_t kHalf = kBeatWindowSize / 2;
  for (uint32_t i = 0; i < kBeatWindowSize; ++i) pv.windowed[(i + kHalf) % kBeatWindowSize] = pv.window[i] * pv.hann[i];
  // Only the magnitudes of the lower half are used: a real-input transform,
  // and no phases.
  float* const re = pv.bins.data();
  float* const im = re + FftPlan::SplitOffset(kFluxBins);
  pv.plan.RealForward(pv.windowed.data(), re, im);
  spectrum.magnitudes.resize(kFluxBins);
  for (uint32_t k = 0; k < kFluxBins; ++k) spectrum.magnitudes[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
}

float SpectralFlux(FloatVec& memory, const SpectrumFrame& spectrum) {
  float onset = 0.0f;
  const size_t bins = std::min<size_t>({spectrum.magnitudes.size(), memory.size(), kFluxBins});
  for (size_t j = 0; j < bins; ++j) {
    if (spectrum.magnitudes[j] > memory[j]) onset += spectrum.magnitudes[j] - memory[j];
    memory[j] = spectrum.magnitudes[j];
  }
  return onset;
}

// --- Peak picker ---

void FilterFiltBiquad(const PeakPicker& p, FloatVec& values, FloatVec& scratch) {
  scratch.resize(values.size());
  auto run = [&p](auto first, auto last, auto out) {
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    for (; first != last; ++first, ++out) {
      const float x = *first;
      const float y = p.b0 * x + p.b1 * x1 + p.b2 * x2 - p.a1 * y1 - p.a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      *out = y;
    }
  };
  run(values.begin(), values.end(), scratch.begin());      // forwards
  run(scratch.rbegin(), scratch.rend(), values.rbegin());  // and backwards: no phase shift
}

float PeakPickerStep(PeakPicker& p, float onset, float* peak) {
  std::copy(p.kept.begin() + 1, p.kept.end(), p.kept.begin());
  p.kept.back() = onset;
  p.filtered = p.kept;
  FilterFiltBiquad(p, p.filtered, p.scratch);

  float sum = 0.0f;
  for (float v : p.filtered) sum += v;
  const float mean = sum / static_cast<float>(p.filtered.size());
  FloatVec& sorted = p.sorted;
  sorted = p.filtered;  // same size: no allocation
  std::nth_element(sorted.begin(), sorted.begin() + 3, sorted.end());
  const float median = sorted[3];

  std::copy(p.lastThree.begin() + 1, p.lastThree.end(), p.lastThree.begin());
  p.lastThree[2] = p.filtered[p.framesAfter] - median - mean * p.threshold;
  p.thresholded[0] = p.lastThree[2];

  if (peak) {
    const float first = p.lastThree[0], middle = p.lastThree[1], last = p.lastThree[2];
    *peak = 0.0f;
    if (middle > 0.0f && middle > first && middle > last) {
      const float den = first - 2.0f * middle + last;
      *peak = den == 0.0f ? 1.0f : 1.0f + 0.5f * (first - last) / den;
    }
  }
  return p.thresholded[0];
}

// --- Beat tracker ---

BeatTracker NewBeatTracker(uint32_t winlen, uint32_t hopSize, uint32_t sampleRate) {
  BeatTracker bt;
  const uint32_t lagLen = winlen / 4;
  bt.hopSize = hopSize;
  bt.sampleRate = sampleRate;
  bt.winlen = winlen;
  bt.step = lagLen;
  const auto rayleigh = static_cast<float>(sampleRate * 60.0 / 120.0 / std::max<uint32_t>(hopSize, 1));
  bt.rayleighParam = rayleigh;
  bt.rayleighLag = static_cast<uint32_t>(rayleigh);
  bt.rayleighWeights.assign(lagLen, 0.0f);
  bt.dfWeights.assign(winlen, 0.0f);
  bt.periodWeights.assign(lagLen, 0.0f);
  bt.phaseWeights.assign(2 * lagLen, 0.0f);
  bt.reversed.assign(winlen, 0.0f);
  bt.acf.assign(winlen, 0.0f);
  bt.comb.assign(lagLen, 0.0f);
  bt.phaseOut.assign(winlen, 0.0f);

  // Recent detection-function values count more: weights rise by a factor of
  // two per Rayleigh lag toward the end of the window.
  const float rate = std::log(2.0f) / rayleigh;
  const float norm = std::exp(rate * static_cast<float>(winlen + 2));
  for (uint32_t i = 0; i < winlen; ++i) bt.dfWeights[i] = std::exp(rate * static_cast<float>(i + 1)) / norm;
  if (winlen > 3) {
    for (uint32_t k = 0; k < lagLen; ++k) {
      const auto lag = static_cast<float>(k + 1);
      bt.rayleighWeights[k] = (lag / (rayleigh * rayleigh)) * std::exp(-(lag * lag) / (2.0f * rayleigh * rayleigh));
    }
  }
  return bt;
}

void BeatTrackerCheckState(BeatTracker& bt) {
  const float tolerance = bt.periodTolerance;
  if (bt.gp != 0.0f) {
    CombFilter(bt.acf, bt.timeSignature, false, bt.comb);
    FloatVecWeight(bt.comb, bt.periodWeights);
    bt.gp = RefinedPeak(bt.comb, FloatVecMaxIndex(bt.comb));
  }

  if (bt.counter == 0) {
    if (std::fabs(bt.gp - bt.rp) > 2.0f * tolerance) {
      bt.stepChange = 1;  // a step change of the period: look again in two steps
      bt.counter = 2;
    } else {
      bt.stepChange = 0;
    }
  } else if (bt.counter == 1 && bt.stepChange == 1) {
    if (std::fabs(2.0f * bt.rp - bt.rp1 - bt.rp2) < tolerance) {
      // The period has been consistent: follow it with the context model.
      if (bt.gp == 0.0f) bt.gp = bt.rp;
      bt.timeSignature = ChooseTimeSignature(bt);
      for (uint32_t j = 0; j < bt.periodWeights.size(); ++j) {
        const float d = static_cast<float>(j + 1) - bt.gp;
        bt.periodWeights[j] = std::exp(-0.5f * d * d / (tolerance * tolerance));
      }
    } else {
      bt.counter = 0;
    }
  } else if (bt.counter > 0) {
    bt.counter -= 1;
  }

  bt.rp2 = bt.rp1;
  bt.rp1 = bt.rp;

  if (bt.timeSignature == 0) {
    bt.bp = bt.rp;
    std::fill(bt.phaseWeights.begin(), bt.phaseWeights.end(), 1.0f);
  } else {
    bt.bp = bt.gp;
    if (static_cast<float>(bt.step) > bt.lastBeat) {
      for (uint32_t j = 0; j < bt.phaseWeights.size(); ++j) {
        const float d = 1.0f + static_cast<float>(j) - static_cast<float>(bt.step) + bt.lastBeat;
        bt.phaseWeights[j] = std::exp(-0.5f * d * d / (bt.bp / 8.0f));
      }
    } else {
      std::fill(bt.phaseWeights.begin(), bt.phaseWeights.end(), 1.0f);
    }
  }
}

void BeatTrackerStep(BeatTracker& bt, const FloatVec& window, FloatVec& output) {
  std::fill(output.begin(), output.end(), 0.0f);
  const uint32_t winlen = bt.winlen;
  const uint32_t lagLen = bt.step;
  if (lagLen < 2 || window.size() < winlen || bt.dfWeights.size() < winlen) return;

  for (uint32_t i = 0; i < winlen; ++i) bt.reversed[winlen - 1 - i] = window[i] * bt.dfWeights[i];

  for (uint32_t k = 0; k < winlen; ++k) {
    float sum = 0.0f;
    for (uint32_t i = k; i < winlen; ++i) sum += window[i] * window[i - k];
    bt.acf[k] = sum / static_cast<float>(winlen - k);
  }

  CombFilter(bt.acf, bt.timeSignature ? bt.timeSignature : 4, true, bt.comb);
  FloatVecWeight(bt.comb, bt.rayleighWeights);
  const uint32_t m = FloatVecMaxIndex(bt.comb);
  bt.rp = (m > 0 && m < lagLen - 1) ? RefinedPeak(bt.comb, m) : static_cast<float>(bt.rayleighLag);

  BeatTrackerCheckState(bt);
  const float bp = bt.bp;
  if (!(bp > 0.0f) || !std::isfinite(bp)) return;  // no period, no beats

  // Phase: the comb of the weighted, reversed window at the beat period.
  std::fill(bt.phaseOut.begin(), bt.phaseOut.end(), 0.0f);
  const float kmax = std::floor(static_cast<float>(winlen) / bp);
  for (uint32_t i = 0; static_cast<float>(i) < bp && i < winlen; ++i) {
    for (uint32_t k = 0; static_cast<float>(k) < kmax; ++k) {
      const float offset = std::round(static_cast<float>(k) * bp);
      if (static_cast<float>(i) + offset >= static_cast<float>(winlen)) break;  // the later terms lie past it too
      bt.phaseOut[i] += bt.reversed[i + static_cast<uint32_t>(offset)];
    }
  }
  FloatVecWeight(bt.phaseOut, bt.phaseWeights);

  const uint32_t pm = FloatVecMaxIndex(bt.phaseOut);
  float phase = pm < winlen - 1 ? RefinedPeak(bt.phaseOut, pm) : static_cast<float>(lagLen) - bt.lastBeat;
  phase += 1.0f;

  float beat = bp - phase;
  if (static_cast<float>(lagLen) - bt.lastBeat - phase < -0.4f * bp) beat += bp;
  while (beat + bp < 0.0f) beat += bp;

  // output[0] = count n, output[1..n-1] = beat positions. A short period
  // could predict more beats than the output holds; those are left out.
  size_t n = 1;
  if (beat >= 0.0f && n < output.size()) output[n++] = beat;
  while (beat + bp <= static_cast<float>(lagLen)) {
    beat += bp;
    if (n < output.size()) output[n++] = beat;
  }
  bt.lastBeat = beat;
  if (!output.empty()) output[0] = static_cast<float>(n);
}

// --- Tempo tracker ---

std::unique_ptr<TempoTracker> NewTempoTracker(uint32_t sampleRate) {
  auto tt = std::make_unique<TempoTracker>();
  const auto hops = static_cast<uint32_t>(sampleRate * 5.8 / kBeatHopSize);  // about 5.8 s of hops
  tt->winlen = hops < 2 ? 1 : std::bit_ceil(hops);
  tt->step = tt->winlen / 4;
  tt->sampleRate = sampleRate;
  tt->vocoder = NewPhaseVocoder();
  tt->picker.threshold = tt->threshold;
  tt->beats = NewBeatTracker(tt->winlen, kBeatHopSize, sampleRate);
  tt->window.assign(tt->winlen, 0.0f);
  tt->beatOutput.assign(tt->step, 0.0f);
  return tt;
}

float TempoTrackerStep(TempoTracker& tt, std::span<const float> signal, size_t h) {
  const float* hop = signal.data() + h * kBeatHopSize;
  return AdvanceTempoTracker(tt, signal, h, HopOnset(tt.vocoder, tt.fluxMemory, tt.spectrum, hop));
}

void ReleaseTempoTracker(BeatDetector& detector) { detector.tracker.reset(); }

// --- Whole signals ---

FloatVec PcmToMonoFloat(std::span<const uint8_t> pcm, int channels, int bitsPerSample, const WorkProgress& progress) {
  const int bytes = bitsPerSample / 8;
  if (channels < 1 || bytes < 1) return {};
  const size_t frames = pcm.size() / static_cast<size_t>(bytes) / static_cast<size_t>(channels);
  // Filled as it goes rather than zeroed first: the pages of a long file's
  // hundred megabytes are then touched between reports, not all before the
  // first one.
  FloatVec mono;
  mono.reserve(frames);
  const uint8_t* p = pcm.data();
  ProgressTicker ticker(progress, frames, kMonoFramesPerReport);
  for (size_t f = 0; f < frames; ++f) {
    double sum = 0.0;
    for (int ch = 0; ch < channels; ++ch, p += bytes) {
      switch (bitsPerSample) {
        case 8:
          sum += RawSampleAt(p, 8) / 128.0;
          break;
        case 16:
          sum += RawSampleAt(p, 16) / 32768.0;
          break;
        case 24:
          sum += RawSampleAt(p, 24) / 8388608.0;
          break;
        case 32:
          if (const float v = FloatSampleAt(p); std::isfinite(v)) sum += v;  // a NaN would poison every later hop
          break;
        default:
          break;
      }
    }
    const auto mean = static_cast<float>(sum / channels);
    mono.push_back(std::isfinite(mean) ? mean : 0.0f);
    if (!ticker.Step()) return {};
  }
  return mono;
}

std::vector<double> TrackBeats(const FloatVec& mono, uint32_t sampleRate, BeatDetector& detector, unsigned threads,
                               const WorkProgress& progress) {
  ReleaseTempoTracker(detector);
  // The detection window grows with the rate, its autocorrelation with the
  // square of that: a corrupt header's rate must not cost gigabytes and hours.
  if (sampleRate == 0 || sampleRate > kMaxBeatSampleRate) return {};
  detector.tracker = NewTempoTracker(sampleRate);
  TempoTracker& tt = *detector.tracker;
  if (tt.step < 2) return {};

  // Two seconds of silence let the tracker predict the beats near the end.
  // Hops inside the audio are read where they are; the others are formed in
  // a small array (the audio's end, then silence), never a padded copy of
  // the whole signal.
  const size_t hops = (mono.size() + 2 * static_cast<size_t>(sampleRate)) / kBeatHopSize;
  auto hopAt = [&mono](size_t h, std::array<float, kBeatHopSize>& formed) -> const float* {
    const size_t first = h * kBeatHopSize;
    if (first + kBeatHopSize <= mono.size()) return mono.data() + first;
    formed.fill(0.0f);
    if (first < mono.size()) std::copy(mono.begin() + static_cast<std::ptrdiff_t>(first), mono.end(), formed.begin());
    return formed.data();
  };

  // The onset of a hop depends on that hop and the two before it only, so the
  // hops are analysed in parallel chunks, each primed with those two hops,
  // range by range with a report after each.
  std::vector<float> onsets(hops);
  const WorkProgress onsetProgress = SubProgress(progress, 0.0, kOnsetShare);
  const size_t perReport = std::clamp<size_t>(hops / 64, 64, kMostOnsetHopsPerReport);
  for (size_t first = 0; first < hops; first += perReport) {
    const size_t last = std::min(hops, first + perReport);
    ParallelFor(
        last - first, 64,
        [&](size_t begin, size_t end) {
          begin += first;
          end += first;
          PhaseVocoder vocoder = NewPhaseVocoder();
          FloatVec memory(kFluxBins, 0.0f);
          SpectrumFrame spectrum;
          std::array<float, kBeatHopSize> formed;
          for (size_t h = begin >= 2 ? begin - 2 : 0; h < end; ++h) {
            const float onset = HopOnset(vocoder, memory, spectrum, hopAt(h, formed));
            if (h >= begin) onsets[h] = onset;
          }
        },
        threads);
    if (!ReportProgress(onsetProgress, static_cast<double>(last) / static_cast<double>(hops))) return {};
  }

  std::vector<double> times;
  const double duration = static_cast<double>(mono.size()) / sampleRate;
  const WorkProgress trackProgress = SubProgress(progress, kOnsetShare, 1.0);
  ProgressTicker ticker(trackProgress, hops, kTrackedHopsPerReport);
  for (size_t h = 0; h < hops; ++h) {
    const bool beat = AdvanceTempoTracker(tt, mono, h, onsets[h]) != 0.0f;
    if (beat) {
      const double t = static_cast<double>(tt.lastBeat) / sampleRate;
      if (t <= duration) times.push_back(t);
    }
    if (!ticker.Step()) return {};
  }
  return times;
}

std::vector<double> FitBeatGrid(const std::vector<double>& times, double durationSeconds,
                                const WorkProgress& progress) {
  if (times.size() < 2) return times;

  // The first four seconds often hold a count-in or a tracker still settling.
  std::vector<double> beats;
  for (double t : times)
    if (t >= 4.0) beats.push_back(t);
  if (beats.size() < 4) beats = times;

  std::vector<double> intervals;
  for (size_t i = 1; i < beats.size(); ++i) {
    const double d = beats[i] - beats[i - 1];
    if (d > 0.2 && d < 2.0) intervals.push_back(d);
  }
  if (intervals.empty()) return times;
  std::sort(intervals.begin(), intervals.end());
  double period = intervals[intervals.size() / 2];
  if (60.0 / period > 185.0) {
    period *= 2.0;
  } else if (60.0 / period < 70.0) {
    period /= 2.0;
  }

  auto deviation = [&period](double b, double anchor) {
    return b - (std::round((b - anchor) / period) * period + anchor);
  };
  // The anchor whose grid holds the most beats within a quarter period; of
  // those, the one with the smallest sum of squared deviations. (Scoring the
  // sum over the square of the count alone let a stray off-beat with no
  // neighbours on its grid win with a score of 0, and set the whole grid half
  // a beat off.)
  double anchor = beats[0];
  size_t bestNear = 0;
  double bestSum = std::numeric_limits<double>::infinity();
  ProgressTicker ticker(progress, beats.size(), kGridCandidatesPerReport);
  for (double candidate : beats) {
    if (!ticker.Step()) return {};
    double sum = 0.0;
    size_t near = 0;
    for (double b : beats) {
      const double d = std::fabs(deviation(b, candidate));
      if (d < 0.25 * period) {
        ++near;
        sum += d * d;
      }
    }
    if (near > bestNear || (near == bestNear && sum < bestSum)) {
      bestNear = near;
      bestSum = sum;
      anchor = candidate;
    }
  }

  // Period and phase fitted by least squares to the beats near the anchor's
  // grid, each at its grid index: the median interval alone is as coarse as
  // the tracker's period, and over a minute a period 1 % short drifts the
  // grid by more than a beat. The fit starts with the beats within eight
  // periods of the anchor and widens the span twofold with each pass, so
  // that a beat whose drift from the first grid has grown past a period is
  // never counted at the wrong index.
  const double last = std::max(anchor - beats.front(), beats.back() - anchor);
  for (double span = 8.0 * period;; span *= 2.0) {
    double n = 0.0, sumK = 0.0, sumB = 0.0, sumKK = 0.0, sumKB = 0.0;
    for (double b : beats) {
      if (std::fabs(b - anchor) > span || std::fabs(deviation(b, anchor)) >= 0.2 * period) continue;
      const double k = std::round((b - anchor) / period);
      n += 1.0;
      sumK += k;
      sumB += b - anchor;
      sumKK += k * k;
      sumKB += k * (b - anchor);
    }
    const double spread = n * sumKK - sumK * sumK;
    if (n >= 2.0 && spread > 0.0) {
      const double fitted = (n * sumKB - sumK * sumB) / spread;
      if (fitted > 0.0) {
        anchor += (sumB - fitted * sumK) / n;
        period = fitted;
      }
    } else if (n >= 1.0) {
      anchor += (sumB - period * sumK) / n;  // one beat: it is the grid's phase
    }
    if (span >= last) break;
  }

  // The first grid time: a phase a little before 0 wraps round by a period
  // rather than being clamped to 0, which would shift every marker.
  while (anchor > 0.0) anchor -= period;
  while (anchor < -0.1 * period) anchor += period;
  if (anchor < 0.0) anchor += period;

  std::vector<double> grid;
  for (double k = 0.0;; k += 1.0) {
    const double t = anchor + k * period;
    if (t > durationSeconds) break;
    grid.push_back(t);
  }
  return grid;
}

std::vector<double> DetectBeats(BeatDetector& detector, std::span<const uint8_t> pcm, int channels, uint32_t sampleRate,
                                int bitsPerSample, unsigned threads, const WorkProgress& progress) {
  detector.sampleRate = sampleRate;
  if (sampleRate == 0) return {};
  // A stopped stage returns nothing, and the stages after it then find
  // nothing to do.
  const FloatVec mono = PcmToMonoFloat(pcm, channels, bitsPerSample, SubProgress(progress, 0.0, kMonoShare));
  if (mono.empty()) return {};
  const double duration = static_cast<double>(mono.size()) / sampleRate;
  std::vector<double> kept;
  for (double t : TrackBeats(mono, sampleRate, detector, threads, SubProgress(progress, kMonoShare, kGridStart)))
    if (t >= 0.0 && t <= duration) kept.push_back(t);
  const std::vector<double> grid = FitBeatGrid(kept, duration, SubProgress(progress, kGridStart, 1.0));
  return ChooseGridOctave(grid, mono, sampleRate, duration);
}

std::vector<double> ChooseGridOctave(const std::vector<double>& grid, const FloatVec& mono, uint32_t sampleRate,
                                     double durationSeconds) {
  if (grid.size() < 4 || sampleRate == 0) return grid;
  const double period = grid[1] - grid[0];
  if (!(period > 0.0)) return grid;

  // The accent of a hop: how much its RMS level rose over the previous hop's.
  const size_t hops = mono.size() / kBeatHopSize;
  std::vector<float> rise(hops, 0.0f);
  float before = 0.0f;
  for (size_t h = 0; h < hops; ++h) {
    float sum = 0.0f;
    for (size_t i = h * kBeatHopSize; i < (h + 1) * kBeatHopSize; ++i) sum += mono[i] * mono[i];
    const float level = std::sqrt(sum / static_cast<float>(kBeatHopSize));
    rise[h] = std::max(0.0f, level - before);
    before = level;
  }
  // The accent at a time: the largest rise within two hops of it.
  auto accent = [&](double t) {
    const auto at = static_cast<int64_t>(t * sampleRate / kBeatHopSize);
    float most = 0.0f;
    for (int64_t h = at - 2; h <= at + 2; ++h)
      if (h >= 0 && h < static_cast<int64_t>(hops)) most = std::max(most, rise[static_cast<size_t>(h)]);
    return static_cast<double>(most);
  };
  double even = 0.0, odd = 0.0, between = 0.0;
  for (size_t k = 0; k < grid.size(); ++k) {
    (k % 2 ? odd : even) += accent(grid[k]);
    between += accent(grid[k] + 0.5 * period);
  }
  const double half = static_cast<double>(grid.size()) / 2.0;
  even /= std::ceil(half);
  odd /= std::floor(half);
  between /= static_cast<double>(grid.size());
  const double on = (even + odd) / 2.0;

  auto regular = [durationSeconds](double first, double step) {
    while (first - step >= 0.0) first -= step;
    std::vector<double> out;
    for (double k = 0.0;; k += 1.0) {
      const double t = first + k * step;
      if (t > durationSeconds) break;
      out.push_back(t);
    }
    return out;
  };
  const double bpm = 60.0 / period;
  if (bpm / 2.0 >= kSlowestOctaveBpm && std::min(even, odd) < kWeakBeatShare * std::max(even, odd)) {
    // Every other beat carries the accents: the beat is twice as long.
    return regular(even >= odd ? grid[0] : grid[1], 2.0 * period);
  }
  if (bpm * 2.0 <= kFastestOctaveBpm && on > 0.0 && between > kHalfBeatShare * on) {
    // The points between the beats are accented as much as the beats: the
    // beat is half as long.
    return regular(grid[0], 0.5 * period);
  }
  return grid;
}

}  // namespace zandrel

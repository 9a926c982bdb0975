#include "processing/pitch.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "document/note_names.h"
#include "platform/text_format.h"
#include "processing/parallel.h"

namespace zandrel {
namespace {

constexpr int kProbeFrames = 256;        // frames summed per loudest-stretch probe
constexpr int kProbeCount = 9;           // probes at k * step, k = 0..8
constexpr int64_t kMinProbeSpan = 2056;  // range beyond one window needed before probing
constexpr float kMinRms = 0.01f;         // loudness gate, about -40 dBFS
constexpr double kThreshold = 0.15;      // YIN absolute threshold
constexpr double kFallbackThreshold = 0.4;
constexpr double kOctaveRatio = 0.4;
constexpr int64_t kSegmentHop = 512;
constexpr int64_t kSegmentRange = 4096;

// The formats the estimate analyses: 8-, 16-, 24-bit integer, 32-bit float.
bool Analysable(const PcmSpan& a) {
  const int bits = a.bitsPerSample;
  const bool depthOk = bits == 8 || bits == 16 || bits == 24 || (bits == 32 && a.formatTag == 3);
  return depthOk && a.channels >= 1 && a.channels * (bits / 8) <= a.blockAlign;
}

// Loudness of the kProbeFrames frames of channel 0 from |frame| on.
double ProbeEnergy(const PcmSpan& a, int64_t frame) {
  const uint8_t* p = a.bytes.data() + frame * a.blockAlign;
  double sum = 0.0;
  switch (a.bitsPerSample) {
    case 16:
      for (int i = 0; i < kProbeFrames; ++i, p += a.blockAlign) sum += std::fabs(RawSampleAt(p, 16) / 32768.0);
      return sum;
    case 32:
      for (int i = 0; i < kProbeFrames; ++i, p += a.blockAlign) sum += std::fabs(FloatSampleAt(p));
      return sum;
    default:
      return 1.0;
  }
}

// Channel means of frames [first, first + count) scaled to -1..1, into out.
// The sample format is chosen once for the whole stretch; every value is
// formed as the frame-by-frame mean always was (channel sum in double, then
// divided by the channel count and the full scale).
// A 16-bit little-endian sample, read in place.
inline int32_t Sample16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }

template <int kBits>
void MonoInto(const PcmSpan& a, int64_t first, int64_t count, float* out) {
  const uint8_t* p = a.bytes.data() + first * a.blockAlign;
  const int channels = a.channels;
  constexpr int kWidth = kBits / 8;
  if constexpr (kBits == 16) {
    if (channels == 1) {  // the editor's own format: s / 32768 is exact in float
      for (int64_t i = 0; i < count; ++i, p += a.blockAlign)
        out[i] = static_cast<float>(Sample16(p)) * (1.0f / 32768.0f);
      return;
    }
  }
  for (int64_t i = 0; i < count; ++i, p += a.blockAlign) {
    double sum = 0.0;
    if constexpr (kBits == 8) {
      for (int ch = 0; ch < channels; ++ch) sum += RawSampleAt(p + ch, 8) / 128.0;
      out[i] = static_cast<float>(sum / channels);
    } else if constexpr (kBits == 16) {
      for (int ch = 0; ch < channels; ++ch) sum += Sample16(p + kWidth * ch);
      out[i] = static_cast<float>(sum / channels / 32768.0);
    } else if constexpr (kBits == 24) {
      for (int ch = 0; ch < channels; ++ch) sum += RawSampleAt(p + kWidth * ch, 24);
      out[i] = static_cast<float>(sum / channels / 8388608.0);
    } else {  // 32-bit float
      for (int ch = 0; ch < channels; ++ch) sum += FloatSampleAt(p + kWidth * ch);
      out[i] = static_cast<float>(sum / channels);
    }
  }
}

void MonoStretch(const PcmSpan& a, int64_t first, int64_t count, float* out) {
  switch (a.bitsPerSample) {
    case 8:
      return MonoInto<8>(a, first, count, out);
    case 16:
      return MonoInto<16>(a, first, count, out);
    case 24:
      return MonoInto<24>(a, first, count, out);
    default:
      return MonoInto<32>(a, first, count, out);
  }
}

// A stretch of frames: its first frame and its length.
struct AnalysisSpan {
  int64_t start = 0;
  int64_t frames = 0;
};

// The arrays of one estimate, kept from one estimate to the next.
struct YinWorkspace {
  std::vector<float> x;
  YinDifference difference;
  std::vector<double> cmnd;
};

// The start of the analysis window: the loudest of nine probes over a long
// range, else startFrame.
int64_t LoudestStart(const PcmSpan& a, int64_t startFrame, int64_t endFrame, int64_t window, int64_t frames) {
  const int64_t span = endFrame - startFrame;
  if (!(span > 1.5 * static_cast<double>(window) && span - window >= kMinProbeSpan)) return startFrame;
  const int64_t step = (span - window) / 8;
  int64_t best = startFrame;
  double bestEnergy = -1.0;
  for (int k = 0; k < kProbeCount; ++k) {
    const int64_t candidate = startFrame + k * step;
    if (candidate + kProbeFrames >= frames) break;
    const double energy = ProbeEnergy(a, candidate);
    if (energy > bestEnergy) {  // ties keep the earlier probe
      bestEnergy = energy;
      best = candidate;
    }
  }
  return (bestEnergy > 0.001 && frames - best >= window) ? best : startFrame;
}

// The preconditions of an estimate: false when it is 0 without reading.
bool CanEstimate(const PcmSpan& audio, int64_t startFrame, int64_t endFrame) {
  const int64_t frames = audio.Frames();
  return !audio.bytes.empty() && audio.sampleRate >= 1 && startFrame >= 0 && startFrame < frames &&
         startFrame < endFrame && Analysable(audio);
}

int64_t WindowFrames(const PcmSpan& audio) { return std::min<int64_t>(audio.sampleRate / 20, 8192); }

// The frames the estimate analyses: the window from the chosen start, cut at
// the end of the audio. Needs CanEstimate.
AnalysisSpan AnalysedWindow(const PcmSpan& audio, int64_t startFrame, int64_t endFrame) {
  const int64_t frames = audio.Frames();
  const int64_t window = WindowFrames(audio);
  const int64_t start = LoudestStart(audio, startFrame, endFrame, window, frames);
  return {start, std::min(window, frames - start)};
}

double EstimateWith(const PcmSpan& audio, int64_t startFrame, int64_t endFrame, YinWorkspace& work,
                    const WorkProgress& progress = {}) {
  if (!CanEstimate(audio, startFrame, endFrame)) return 0.0;
  const int64_t rate = audio.sampleRate;
  const auto [start, n] = AnalysedWindow(audio, startFrame, endFrame);
  if (2 * (rate / 3000) > n) return 0.0;

  std::vector<float>& x = work.x;
  x.resize(static_cast<size_t>(n));
  MonoStretch(audio, start, n, x.data());

  float energy = 0.0f;
  for (float v : x) energy += v * v;
  if (std::sqrt(energy / static_cast<float>(n)) < kMinRms) return 0.0;
  if (!ReportProgress(progress, 1.0 / 3.0)) return 0.0;

  const int64_t tauMin = rate / 3000;
  const int64_t tauMax = std::min(n / 2, rate / 40);
  if (tauMax <= tauMin) return 0.0;

  const std::vector<double>& d = work.difference.Compute(x.data(), n, tauMax);
  if (!ReportProgress(progress, 2.0 / 3.0)) return 0.0;

  // Cumulative mean normalised difference.
  std::vector<double>& cmnd = work.cmnd;
  cmnd.resize(d.size());
  double running = 0.0;
  cmnd[0] = 1.0;
  for (int64_t tau = 1; tau <= tauMax; ++tau) {
    running += d[tau];
    cmnd[tau] = running == 0.0 ? 1.0 : static_cast<double>(tau) * d[tau] / running;
  }

  // The first dip below the threshold, followed down to its bottom; failing
  // that, the overall minimum when it is low enough.
  int64_t chosen = -1;
  double smallest = 1000.0;
  int64_t smallestLag = -1;
  for (int64_t tau = tauMin; tau < tauMax; ++tau) {
    if (cmnd[tau] < smallest) {
      smallest = cmnd[tau];
      smallestLag = tau;
    }
    if (cmnd[tau] < kThreshold) {
      while (tau + 1 < tauMax && cmnd[tau + 1] < cmnd[tau]) ++tau;
      chosen = tau;
      break;
    }
  }
  if (chosen < 0) {
    if (smallestLag < 0 || smallest > kFallbackThreshold) return 0.0;
    chosen = smallestLag;
  }

  // A much deeper dip at twice the period means the period was an octave short.
  if (chosen > 0 && 2 * chosen <= tauMax && cmnd[2 * chosen] < kOctaveRatio * cmnd[chosen]) chosen *= 2;

  double lag = static_cast<double>(chosen);
  if (chosen >= tauMin && chosen < tauMax && chosen > 0) {
    const double a = cmnd[chosen - 1], b = cmnd[chosen], c = cmnd[chosen + 1];
    const double den = a - 2.0 * b + c;
    if (std::fabs(den) > 1e-6) lag = static_cast<double>(chosen) + 0.5 * (a - c) / den;
  }
  if (!ReportProgress(progress, 1.0)) return 0.0;
  return lag > 0.0 ? static_cast<double>(rate) / lag : 0.0;
}

}  // namespace

namespace {

size_t TransformSize(size_t n) {
  size_t best = std::bit_ceil(std::max<size_t>(n, 16));
  for (size_t threes = 1; threes <= best; threes *= 3)
    for (size_t size = 16 * threes; size < best; size *= 2)
      if (size >= n) best = size;
  return best;
}

}  // namespace

const std::vector<double>& YinDifference::Compute(const float* x, int64_t n, int64_t tauMax) {
  d_.assign(static_cast<size_t>(std::max<int64_t>(tauMax + 1, 0)), 0.0);
  if (n < 2 || tauMax < 1 || tauMax >= n) return d_;
  const int64_t terms = n - tauMax;

  // r(tau) = sum over j < terms of x[j] x[j + tau] is the circular
  // correlation of the terms with the whole window; a transform of at least
  // n points keeps j + tau (at most n - 1) from wrapping around. The size is
  // the smallest 2^a 3^b (a >= 4) from n up, which FFTW transforms about as
  // fast per point as a power of two: 2304 for the 2205-frame window at
  // 44100 Hz instead of 4096.
  const size_t m = TransformSize(static_cast<size_t>(n));
  if (plan_.Size() != m) plan_ = FftPlan(m);
  const size_t bins = plan_.Bins();
  padded_.resize(m);
  spectrumRe_.resize(bins);
  spectrumIm_.resize(bins);
  prefixRe_.resize(bins);
  prefixIm_.resize(bins);
  correlation_.resize(m);

  std::copy(x, x + n, padded_.begin());
  std::fill(padded_.begin() + n, padded_.end(), 0.0f);
  plan_.RealForward(padded_.data(), spectrumRe_.data(), spectrumIm_.data());
  std::fill(padded_.begin() + terms, padded_.begin() + n, 0.0f);
  plan_.RealForward(padded_.data(), prefixRe_.data(), prefixIm_.data());
  // conj(B) A: the correlation of the terms (b) with the window (a).
  for (size_t k = 0; k < bins; ++k) {
    const float ar = spectrumRe_[k], ai = spectrumIm_[k], br = prefixRe_[k], bi = prefixIm_[k];
    spectrumRe_[k] = br * ar + bi * ai;
    spectrumIm_[k] = br * ai - bi * ar;
  }
  plan_.RealInverse(spectrumRe_.data(), spectrumIm_.data(), correlation_.data());

  // energy_[i] = sum of x[j]^2 for j < i, squares in single precision as in
  // the direct sum.
  energy_.resize(static_cast<size_t>(n) + 1);
  energy_[0] = 0.0;
  for (int64_t j = 0; j < n; ++j) energy_[j + 1] = energy_[j] + static_cast<double>(x[j] * x[j]);
  const double e0 = energy_[terms];
  for (int64_t tau = 1; tau <= tauMax; ++tau) {
    const double value = e0 + (energy_[tau + terms] - energy_[tau]) - 2.0 * static_cast<double>(correlation_[tau]);
    d_[tau] = std::max(value, 0.0);  // a sum of squares; rounding must not make it negative
  }
  return d_;
}

double EstimatePitchYin(const PcmSpan& audio, int64_t startFrame, int64_t endFrame, const WorkProgress& progress) {
  YinWorkspace work;
  return EstimateWith(audio, startFrame, endFrame, work, progress);
}

PitchEstimateInput PitchEstimateInput::Copy(const PcmSpan& audio, int64_t startFrame, int64_t endFrame) {
  PitchEstimateInput input;
  input.format_ = audio;
  input.format_.bytes = {};
  if (!CanEstimate(audio, startFrame, endFrame)) return input;
  const auto [start, n] = AnalysedWindow(audio, startFrame, endFrame);
  const auto first = audio.bytes.begin() + static_cast<std::ptrdiff_t>(start * audio.blockAlign);
  input.window_.assign(first, first + static_cast<std::ptrdiff_t>(n * audio.blockAlign));
  return input;
}

double PitchEstimateInput::Estimate(const WorkProgress& progress) const {
  if (window_.empty()) return 0.0;
  // The window alone, estimated from its start: a range no longer than one
  // window is not probed, and the window is read from its first frame, so the
  // same samples are analysed as in the whole audio.
  PcmSpan window = format_;
  window.bytes = window_;
  return EstimatePitchYin(window, 0, window.Frames(), progress);
}

namespace {

// Hops analysed between two progress reports: a sixty-fourth of the audio, so
// that short audio too reports as it goes, but at most some 20 to 30 ms of
// work on one core (a hop costs about 20 us at 44100 Hz; its window, and its
// cost, grow with the rate: about 60 us at 96000 Hz). A range is cut into
// chunks for the cores, so ranges much shorter would spend their time
// starting threads.
size_t HopsPerReport(size_t hops, uint32_t rate) {
  const size_t most = std::max<size_t>(64, size_t{1024} * 44100 / std::max<uint32_t>(rate, 1));
  return std::clamp<size_t>(hops / 64, 64, most);
}

}  // namespace

std::vector<NoteSegment> DetectNoteSegments(const PcmSpan& audio, unsigned threads, const WorkProgress& progress) {
  const int64_t frames = audio.Frames();
  if (frames <= 0 || audio.sampleRate < 1) return {};
  const auto minLength = static_cast<int64_t>(audio.sampleRate * 0.06);

  // Every hop's note (-1 = no pitch) first; the hops are independent, and
  // analysed range by range with a report after each.
  const auto hops = static_cast<size_t>((frames + kSegmentHop - 1) / kSegmentHop);
  std::vector<int32_t> notes(hops);
  const size_t perReport = HopsPerReport(hops, audio.sampleRate);
  for (size_t first = 0; first < hops; first += perReport) {
    const size_t last = std::min(hops, first + perReport);
    ParallelFor(
        last - first, 16,
        [&](size_t begin, size_t end) {
          YinWorkspace work;  // sized by the first hop, reused by the others
          for (size_t h = first + begin; h < first + end; ++h) {
            const int64_t p = static_cast<int64_t>(h) * kSegmentHop;
            const double hz = EstimateWith(audio, p, std::min(frames, p + kSegmentRange), work);
            notes[h] = hz > 0.0 ? static_cast<int32_t>(std::floor(12.0 * std::log2(hz / 440.0) + 69.0 + 0.5)) : -1;
          }
        },
        threads);
    if (!ReportProgress(progress, static_cast<double>(last) / static_cast<double>(hops))) return {};
  }

  // A change is confirmed by the second hop in a row that agrees on it.
  std::vector<NoteSegment> segments;
  int32_t current = -1;  // note of the open segment; -1 = none (a gap)
  int64_t currentStart = 0;
  int32_t candidate = -1;
  int agreeing = 0;
  for (size_t h = 0; h < hops; ++h) {
    const int64_t p = static_cast<int64_t>(h) * kSegmentHop;
    const int32_t note = notes[h];
    if (note == current) {
      agreeing = 0;
      candidate = -1;
    } else if (note != candidate) {
      candidate = note;
      agreeing = 1;
    } else if (++agreeing >= 2) {
      if (current != -1 && p - currentStart > minLength) segments.push_back({current, currentStart, p});
      current = note;
      currentStart = p;
      agreeing = 0;
      candidate = -1;
    }
  }
  if (current != -1 && frames - currentStart > minLength) segments.push_back({current, currentStart, frames});
  return segments;
}

std::string FormatPitchReport(double hz) {
  if (!(hz > 0.0) || !std::isfinite(hz)) return "Pitch not detected.";
  const auto midi = static_cast<int>(std::round(12.0 * std::log2(hz / 440.0) + 69.0));
  const double cents = midi > 0 ? 1200.0 * std::log2(hz / (440.0 * std::pow(2.0, (midi - 69) / 12.0))) : 0.0;
  return Format("Estimated Pitch:\n\nFrequency: %.2f Hz\nNote: %s (MIDI: %d)\nDeviation: %.1f cents\n", hz,
                MidiNoteName(midi).c_str(), midi, cents);
}

}  // namespace zandrel

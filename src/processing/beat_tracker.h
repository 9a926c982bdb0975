// Beat and tempo detection: onset-based tempo tracking in the manner of aubio
// 0.4 (spectral-flux onsets, adaptive peak picking, a context-dependent beat
// tracker with Rayleigh-weighted period search and Gaussian phase weighting)
// with fixed sizes, followed by a fit of a regular beat grid.
//
// Pipeline, once per hop of 512 mono samples:
//   PhaseVocoder (1024-point windowed FFT) -> SpectralFlux (one onset value)
//   -> PeakPicker (adaptive threshold; its thresholded value feeds the
//   detection function) -> every `step` hops BeatTracker (period and phase
//   from the last window of the detection function, predicted beats)
//   -> TempoTracker reports a beat in the hop where one is predicted, unless
//   the signal is silent there (below -90 dB over the hop and two hops either
//   side).
// TrackBeats drives the hops over a whole signal, FitBeatGrid replaces the
// detected beats by a regular grid and DetectBeats joins them for PCM input.
//
// Units: beat positions inside the tracker are in hops (fractional), the
// tracker's last beat in samples, and the results of TrackBeats, FitBeatGrid
// and DetectBeats in seconds. Nothing persists between runs except the
// tracker a BeatDetector holds. Every structure frees its buffers in its
// destructor (there are no separate delete functions). A tracker belongs to
// one thread at a time; TrackBeats computes the spectra of the hops on all
// cores (they depend on the input alone), with results identical to the
// hop-by-hop path.
//
// The whole-signal functions grow with the audio: each takes an optional
// WorkProgress, reports as it goes (per range of frames, of hops, of grid
// candidates) and, once it answers false, returns an empty result at its
// next report.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/work_progress.h"
#include "processing/complex_fft.h"

namespace zandrel {

// A float vector; its length is size().
using FloatVec = std::vector<float>;

constexpr uint32_t kBeatWindowSize = 1024;  // analysis window, samples
constexpr uint32_t kBeatHopSize = 512;      // hop, samples
constexpr uint32_t kFluxBins = kBeatWindowSize / 2 + 1;
constexpr uint32_t kMaxBeatSampleRate = 768000;  // higher rates give no beats

// The magnitudes of bins 0 .. 512 of one window's spectrum (the flux reads
// nothing else; the upper bins mirror these for real input).
struct SpectrumFrame {
  FloatVec magnitudes = FloatVec(kFluxBins);
};

struct PhaseVocoder {
  FftPlan plan{kBeatWindowSize};                // real-input transform of one window
  FloatVec window = FloatVec(kBeatWindowSize);  // the current window's samples
  FloatVec overlap = FloatVec(kBeatHopSize);    // the previous hop's samples
  FloatVec hann = FloatVec(kBeatWindowSize);    // w[i] = 0.5 (1 - cos(2 pi i / 1024))
  FloatVec windowed = FloatVec(kBeatWindowSize);
  // The spectrum: real parts, then the imaginary parts SplitOffset later.
  FloatVec bins = FloatVec(2 * FftPlan::SplitOffset(kFluxBins));
};

struct PeakPicker {
  float threshold = 0.1f;
  uint32_t framesAfter = 5;  // the thresholded value looks at filtered[framesAfter]
  uint32_t framesBefore = 1;
  // Low-pass biquad run forwards and backwards over the kept values.
  float b0 = 0.1599879f, b1 = 0.31997576f, b2 = 0.1599879f, a1 = -0.5948889f, a2 = 0.23484048f;
  FloatVec kept = FloatVec(7);  // the last seven onset values, oldest first
  FloatVec filtered = FloatVec(7);
  FloatVec scratch = FloatVec(7);
  FloatVec sorted = FloatVec(7);  // for the median
  FloatVec lastThree = FloatVec(3);  // the last three thresholded values
  FloatVec thresholded = FloatVec(1);
};

struct BeatTracker {
  uint32_t hopSize = kBeatHopSize;
  uint32_t sampleRate = 0;
  uint32_t winlen = 0;         // detection-function values (hops) per analysis
  FloatVec rayleighWeights;    // lagLen
  FloatVec dfWeights;          // winlen
  FloatVec periodWeights;      // lagLen (Gaussian around the context period)
  FloatVec phaseWeights;       // 2 * lagLen
  FloatVec reversed;           // winlen: weighted window, reversed
  FloatVec acf;                // winlen: autocorrelation
  FloatVec comb;               // lagLen: comb-filter output
  FloatVec phaseOut;           // winlen
  uint32_t timeSignature = 0;  // 0 = none chosen yet, else 3 or 4
  uint32_t step = 0;           // = lagLen = winlen / 4
  uint32_t rayleighLag = 0;    // the Rayleigh parameter, truncated
  float rayleighParam = 0.0f;  // lag of 120 BPM in hops
  float lastBeat = 0.0f;       // hops
  int32_t counter = 0;
  uint32_t stepChange = 0;  // flag
  float periodTolerance = 3.901f;
  float gp = 0.0f;               // context period
  float bp = 0.0f;               // beat period
  float rp = 1.0f;               // Rayleigh period
  float rp1 = 0.0f, rp2 = 0.0f;  // the previous rp and the one before it
};

struct TempoTracker {
  FloatVec fluxMemory = FloatVec(kFluxBins);  // previous magnitudes
  PhaseVocoder vocoder;
  PeakPicker picker;
  BeatTracker beats;
  SpectrumFrame spectrum;
  FloatVec onset = FloatVec(1);
  FloatVec window;      // winlen detection-function values
  FloatVec beatOutput;  // step values: count, then the beat positions in hops
  FloatVec peakOutput = FloatVec(1);
  float silence = -90.0f;  // dB
  float threshold = 0.3f;
  int32_t blockPosition = 0;
  uint32_t winlen = 0;
  uint32_t step = 0;
  uint32_t sampleRate = 0;
  uint32_t hopSize = kBeatHopSize;
  uint64_t framesDone = 0;  // samples
  uint64_t lastBeat = 0;    // sample index
};

// Owner of the tracker of one detection run.
struct BeatDetector {
  std::unique_ptr<TempoTracker> tracker;  // null until TrackBeats creates one
  uint32_t sampleRate = 0;
};

// --- Whole-signal entry points ---

// Beat times in seconds, ascending: a regular grid (FitBeatGrid, then
// ChooseGridOctave), or the raw beats when no grid can be fitted. Empty for no audio, silence or a sample rate of 0.
// |threads| as for TrackBeats (0 = every core). |progress| covers the three
// stages below in turn.
std::vector<double> DetectBeats(BeatDetector& detector, std::span<const uint8_t> pcm, int channels, uint32_t sampleRate,
                                int bitsPerSample, unsigned threads = 0, const WorkProgress& progress = {});
// frames = bytes / (bits / 8) / channels; each frame is the mean of its
// channels: 8-bit (byte - 128) / 128, 16-bit x / 32768, 24-bit x / 8388608,
// 32-bit read as float; other widths give 0. Non-finite values become 0.
// Reports every kMonoFramesPerReport frames.
FloatVec PcmToMonoFloat(std::span<const uint8_t> pcm, int channels, int bitsPerSample,
                        const WorkProgress& progress = {});
constexpr size_t kMonoFramesPerReport = size_t{1} << 16;
// Raw beat times in seconds. Replaces the detector's tracker with a new one,
// which keeps the run's beat-tracking state (its vocoder is not used: the
// hops' onsets are computed apart, in parallel). Rates too low for a
// detection window of 8 hops (below 442 Hz) or above kMaxBeatSampleRate give
// no beats (and, above it, no tracker). Reports after each range of hops.
std::vector<double> TrackBeats(const FloatVec& mono, uint32_t sampleRate, BeatDetector& detector, unsigned threads = 0,
                               const WorkProgress& progress = {});
// A regular grid through the beats, from its first time in [0, P) up to the
// duration; fewer than two beats, or no interval between 0.2 s and 2 s,
// return the beats unchanged. The median interval gives a first period P; the
// grid is anchored at the beat with the most beats within a quarter period of
// its grid, and its period and phase are then fitted by least squares to the
// beats within 0.2 P of it. The search for the grid's anchor tries every
// beat against every other (1200 beats in ten minutes at 120 BPM), and
// reports per range of candidates.
std::vector<double> FitBeatGrid(const std::vector<double>& times, double durationSeconds,
                                const WorkProgress& progress = {});

// The grid at the tempo the signal's accents show: the tracker often locks
// to twice or half the tempo a listener would tap (eighth-note hats, a kick
// and snare a beat apart). The accent of a time is the largest rise of the
// RMS level over 512-sample hops within two hops of it. When one of each two
// grid beats is accented under 0.4 times as much as the other, the grid
// keeps the stronger ones at twice the period; when the points halfway
// between the beats are accented at least 0.8 times as much as the beats, it
// takes them in at half the period. The result stays within 60..200 BPM;
// a grid of fewer than four beats is returned unchanged.
std::vector<double> ChooseGridOctave(const std::vector<double>& grid, const FloatVec& mono, uint32_t sampleRate,
                                     double durationSeconds);

// --- Stages ---

std::unique_ptr<TempoTracker> NewTempoTracker(uint32_t sampleRate);
// Processes hop |h| of |signal| (its samples [512 h, 512 h + 512) must lie
// inside it); returns the fractional position of a beat inside this hop, or 0
// when there is none. Whether the signal is silent there is judged over the
// hop and two hops either side, samples past the signal's end counting as
// silence.
float TempoTrackerStep(TempoTracker& tracker, std::span<const float> signal, size_t h);
// Destroys the detector's tracker (the destructor frees everything).
void ReleaseTempoTracker(BeatDetector& detector);

PhaseVocoder NewPhaseVocoder();
void PhaseVocoderStep(PhaseVocoder& vocoder, const float* hop, SpectrumFrame& spectrum);
// Sum of the rises of the first 513 magnitudes over |memory|, which then
// holds the current magnitudes.
float SpectralFlux(FloatVec& memory, const SpectrumFrame& spectrum);
// Returns the thresholded value; |peak| (when given) receives the peak output.
float PeakPickerStep(PeakPicker& picker, float onset, float* peak = nullptr);
void FilterFiltBiquad(const PeakPicker& coefficients, FloatVec& values, FloatVec& scratch);
BeatTracker NewBeatTracker(uint32_t winlen, uint32_t hopSize, uint32_t sampleRate);
// |output| must hold `step` values: the count n in output[0], then n - 1
// beat positions in hops. Never writes more than output.size() values.
void BeatTrackerStep(BeatTracker& tracker, const FloatVec& window, FloatVec& output);
void BeatTrackerCheckState(BeatTracker& tracker);
// Forward, unscaled radix-2 FFT with kernel e^(-2 pi i nk/N); a length that
// is not a power of two is left unchanged.
void RecursiveFFT(std::vector<std::complex<float>>& values);

// Index of the first largest element; 0 for fewer than two elements.
uint32_t FloatVecMaxIndex(const FloatVec& v);
// a[i] *= b[i] over the shorter length.
void FloatVecWeight(FloatVec& a, const FloatVec& b);
// Swaps the two halves of an even-length vector.
void FloatVecShift(FloatVec& v);

}  // namespace zandrel

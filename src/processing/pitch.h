// Pitch analysis: the fundamental frequency of a stretch of audio (YIN), the
// stretches of stable MIDI note over a whole file, and the text of the
// Estimate Pitch report.
//
// The routines read PCM through a PcmSpan (mono or multichannel; 8-, 16- and
// 24-bit integer or 32-bit float samples) and change nothing; commands copy
// what an estimate reads (PitchEstimateInput) and estimate off the
// user-interface thread. Frequencies are
// in Hz, positions in frames. They hold no state and may run on any thread;
// DetectNoteSegments spreads its analysis hops over the machine's cores, with
// a result that does not depend on the number of threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/work_progress.h"
#include "processing/complex_fft.h"
#include "processing/sample_access.h"

namespace zandrel {

// One stretch of stable pitch.
struct NoteSegment {
  int32_t note = 0;   // MIDI note number
  int64_t start = 0;  // first frame
  int64_t end = 0;    // frame after the last one (exclusive)

  bool operator==(const NoteSegment&) const = default;
};

// YIN's difference function: d(tau) = sum over j < n - tauMax of
// (x[j] - x[j + tau])^2 for tau = 0 .. tauMax, every lag over the same
// n - tauMax terms. It is computed through an FFT autocorrelation,
// d(tau) = e(0) + e(tau) - 2 r(tau) with e(tau) the energy of the terms from
// tau on, which equals the direct sum up to rounding (a few parts in 1e7 of
// the signal's energy) and is never negative. The object keeps its arrays
// and FFT plan, so that repeated calls of similar size allocate nothing; it
// belongs to one thread at a time.
class YinDifference {
 public:
  // d for x[0 .. n), 0 <= tauMax < n; the returned array (tauMax + 1
  // values) stays valid until the next call.
  const std::vector<double>& Compute(const float* x, int64_t n, int64_t tauMax);

 private:
  FftPlan plan_{0};
  std::vector<float> padded_, spectrumRe_, spectrumIm_, prefixRe_, prefixIm_, correlation_;
  std::vector<double> energy_, d_;
};

// The YIN estimate of the fundamental around [startFrame, endFrame), or 0 when
// none is found (no audio, a start outside the data or not before the end, an
// unsupported sample format, a window quieter than -40 dBFS, no reliable
// period). The window is min(rate / 20, 8192) frames; it starts at startFrame,
// or at the loudest of nine probes when the range is long, and may run past
// endFrame up to the end of the data. Periods from rate / 3000 up to rate / 40
// frames are considered (about 40 Hz to 3150 Hz at 44100 Hz).
// |progress| hears the steps of the estimate (the window read, its difference
// function, the lag chosen); when it asks to stop the result is 0.
double EstimatePitchYin(const PcmSpan& audio, int64_t startFrame, int64_t endFrame,
                        const WorkProgress& progress = {});

// A copy of the few frames an estimate of [startFrame, endFrame) reads, so
// that the estimate can run on another thread while the audio may change.
// Copy() makes the estimate's choice of window (nine probes of 256 frames,
// on the calling thread) and copies that window: at most 8192 frames,
// whatever the length of the range. Estimate() then gives exactly what
// EstimatePitchYin gives for the same range of the original audio.
class PitchEstimateInput {
 public:
  static PitchEstimateInput Copy(const PcmSpan& audio, int64_t startFrame, int64_t endFrame);
  double Estimate(const WorkProgress& progress = {}) const;

 private:
  std::vector<uint8_t> window_;  // empty: the estimate is 0 without reading anything
  PcmSpan format_;               // the original's format; its bytes are not used
};

// The segments of stable note over the whole audio, in ascending order of
// start, never overlapping, possibly with gaps. The pitch is estimated every
// 512 frames; a new note (or silence) must be heard on two hops in a row to end
// the current segment, and segments not longer than 60 ms are dropped.
// |progress| hears after each range of hops (a sixty-fourth of the audio, at
// most some 20 to 30 ms of work on one core); when it answers false the
// analysis stops there and the result is empty.
std::vector<NoteSegment> DetectNoteSegments(const PcmSpan& audio, unsigned threads = 0,
                                            const WorkProgress& progress = {});

// The Estimate Pitch report for |hz|: "Pitch not detected." for hz <= 0.
std::string FormatPitchReport(double hz);

}  // namespace zandrel

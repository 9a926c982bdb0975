// The spectrum display's analysis: the average magnitude spectrum of the
// audio the view shows, and where it lies on the piano axis.
//
// The analysis averages up to about 40 Hann-windowed transforms of 8192
// frames spread evenly over the visible range (never closer than 8192 frames
// apart, so they never overlap) and maps each of the 4096 bins (0 up to the
// Nyquist frequency; bin k is k x rate / 8192 Hz) onto 0..1 over a 90 dB
// range. The samples are read as raw integers (ReadSampleValue), the
// magnitude reference 8192 being on that scale: silence gives 0, a
// full-scale 16-bit sine about 0.87 at its bin.
//
// SpectrumCache keeps the last spectrum with the range it was computed for
// and recomputes only when the visible start moved by 100 frames or more,
// the zoom changed by 0.01 or more, or the cache was invalidated (the toggle,
// and every change of the audio or the document, whose old spectrum would
// otherwise stay on the screen). User-interface thread only; no Qt.
#pragma once

#include <cstdint>
#include <vector>

#include "document/wav_loader.h"

namespace zandrel {

inline constexpr int kSpectrumFftSize = 8192;
inline constexpr int kSpectrumBins = kSpectrumFftSize / 2;
inline constexpr int kSpectrumMaxFrames = 40;
inline constexpr double kSpectrumReference = 8192.0;
inline constexpr double kSpectrumRangeDb = 90.0;
inline constexpr double kSpectrumStartTolerance = 100.0;  // frames
inline constexpr double kSpectrumZoomTolerance = 0.01;    // frames per pixel

// The analysis frames of one visible range: transforms at start, start +
// hop, ... while the position is below end - 8192 (end exclusive).
struct SpectrumFrames {
  int64_t start = 0;
  int64_t end = 0;
  int64_t hop = kSpectrumFftSize;
  int count = 0;  // transforms that fit; 0 when the range is 8192 frames or shorter
};

// The visible range of a view |width| pixels wide over |frameCount| frames
// and its analysis frames. An empty range (start >= end) has no frames.
SpectrumFrames PlanSpectrumFrames(int64_t frameCount, double viewStart, float framesPerPixel, int width);

// The display value of a bin whose averaged magnitude is |meanMagnitude|:
// min(1, 20 log10(M / 8192 + 1) / 90).
float SpectrumScale(double meanMagnitude);

// The averaged spectrum of |frames| over |audio| (all channels mixed): 4096
// display values, all 0 when no frame fits.
std::vector<float> ComputeSpectrum(const CWavLoader& audio, const SpectrumFrames& frames);

class SpectrumCache {
 public:
  static constexpr double kInvalid = -1.0;

  // The last spectrum: empty before the first computation, then 4096 values.
  const std::vector<float>& Values() const { return spectrum_; }
  double Start() const { return spectrumStart_; }
  double Zoom() const { return spectrumZoom_; }
  bool IsInvalid() const { return spectrumStart_ == kInvalid; }
  // The next Build recomputes whatever the range.
  void Invalidate() { spectrumStart_ = kInvalid; }

  // Recomputes the spectrum of the view's visible range unless the cached one
  // is still valid. True when it recomputed. Without audio or with a width
  // of 0 or less, or an empty range, nothing changes.
  bool Build(const CWavLoader& audio, double viewStart, float framesPerPixel, int width);

 private:
  std::vector<float> spectrum_;
  double spectrumStart_ = 0.0;  // first frame of the cached range; kInvalid forces a recomputation
  double spectrumZoom_ = 0.0;   // framesPerPixel of the cached range
};

// The spectrum laid over the piano axis of a window |width| pixels wide
// (PianoKeyLayout), in a band of |bandHeight| pixels whose bottom is |bottom|.
struct SpectrumPeak {
  int x = 0;
  float value = 0.0f;
  bool strongest = false;  // above 0.9 of the largest value (else above 0.5 of it)
};
struct SpectrumCurve {
  int xs = 0;  // first pixel column of the curve
  int xe = 0;  // one past its last column
  // The value of each column 0 .. width - 1 (0 outside xs .. xe - 1).
  std::vector<float> values;
  std::vector<SpectrumPeak> peaks;
};

// The curve of |spectrum| for audio at |sampleRate| Hz: each column's key
// (the centre of a key's column being that key), its frequency, and the
// spectrum read there by linear interpolation between bins; then the peaks
// worth a line. A rate of 0 or less, an empty spectrum or a width of 0 or
// less give an empty curve (xs = xe).
SpectrumCurve ComputeSpectrumCurve(const std::vector<float>& spectrum, uint32_t sampleRate, int width,
                                   bool editKeyBoundaries);

}  // namespace zandrel

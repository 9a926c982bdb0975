// The rulers along the bottom of the waveform area, as lists of ticks and
// grid lines with their labels: which frames get a tick at the current zoom
// and what the labels read. The drawing only paints these.
//
// Pixels follow the view's rule x = trunc((frame - viewStart) / framesPerPixel);
// a tick is listed when its frame (or time) is not negative and its pixel
// lies in [0, areaWidth].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zandrel {

struct RulerTick {
  int x = 0;
  int64_t frame = 0;
  std::string label;
};

// Frames ruler: the largest of 1, 2 and 5 times a power of ten not above the
// frames of 80 pixels, and never below 1 frame.
int64_t FramesRulerStep(double framesPerPixel);
// "%lld" below 1000, then thousands ("1.5k", or "20k" at steps of 1000 and
// more) and millions ("1.50M", or "2M" at steps of a million and more).
std::string FramesRulerLabel(int64_t frame, int64_t step);
std::vector<RulerTick> FramesRulerTicks(double viewStart, double framesPerPixel, int areaWidth);

// Time ruler: the smallest of 1, 2, 5 and 10 times a power of ten seconds not
// below the seconds of 80 pixels. 0 without a sample rate.
double TimeRulerStep(double framesPerPixel, uint32_t sampleRate);
// "mm:ss.ss" at steps below half a second, else "mm:ss.s".
std::string TimeRulerLabel(double seconds, double step);
// Empty without a sample rate.
std::vector<RulerTick> TimeRulerTicks(double viewStart, double framesPerPixel, uint32_t sampleRate, int areaWidth);

// Beats ruler: bars of four beats at the tempo (120 BPM when it is not
// above 0) and the subdivisions of a beat that are wide enough to see.
enum class BeatLineKind { kBar, kBeat, kHalf, kQuarter, kEighth };
struct BeatLine {
  BeatLineKind kind = BeatLineKind::kBar;
  int x = 0;
  int64_t frame = 0;
  bool drawLine = true;  // bar numbers continue past the audio's end, their lines do not
  std::string label;     // bar number "%d", beat number ".%d", or empty
};
// Bars too close for their lines or numbers are thinned to every second,
// fourth, eighth ... bar (so bars 1, 3, 5 ..., or 1, 5, 9 ..., in phrases of a
// power of two): a bar number keeps its 40-pixel label rectangle to itself,
// and bar lines stay at least 12 pixels apart, as the grid's half beats do.
// At the zooms where every bar fits nothing is left out.
inline constexpr double kBarNumberSpacing = 40.0;
inline constexpr double kBarLineSpacing = 12.0;
// The smallest power of two n with n x |barPixels| >= |spacing| (1 when the
// bars are that far apart already).
int64_t BarThinning(double barPixels, double spacing);

// Empty without a sample rate. Subdivisions come first (eighths, quarters,
// halves), each line listed once by the coarsest level it belongs to, then
// the bars with their beats; the bars stop after bar 10000. A bar thinned
// away in both its line and its number is not listed; one that keeps only
// its line has no label.
std::vector<BeatLine> BeatRulerLines(double viewStart, double framesPerPixel, uint32_t sampleRate, double bpm,
                                     int64_t frameCount, int areaWidth);

}  // namespace zandrel

// Display-free models of the recording tools' level displays: the segmented
// input meter, the loop strip's and the take stack's per-pass level history,
// the bars of a PCM overview, a take's 2048-bin overview, the take stack's
// lane colours and the loop strip's bar and beat grid.
//
// All of it belongs to the user-interface thread. Owners that measure levels
// on an audio thread hand them over through their own state (atomics) and
// feed these models from a timer. Levels are percent (0..100) unless a field
// says otherwise; the histories hold fractions 0..1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zandrel {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The segmented meter: a value within a range becomes a level in percent,
// the highest level is held for |peakHoldMs| and then falls to the current
// level. Time comes from the injected clock (milliseconds, any epoch), so a
// test can step it; the widget calls TickPeak() every 50 ms while
// PeakTimerRunning().
class MeterModel {
 public:
  using Clock = std::function<uint32_t()>;
  enum class Segment { kUnlit, kGreen, kYellow, kRed, kPeak };

  explicit MeterModel(Clock clock);

  // Clamps |value| to the range, sets the level, raises the held peak (and
  // starts the peak timer) when the level exceeds it, and marks dirty.
  void SetLevel(int value);
  // The 50 ms peak timer: once the hold has passed, the peak falls to the
  // level; the timer stops when that level is 0. True when a repaint is due.
  bool TickPeak();
  // The 33 ms repaint timer: true (and clears the mark) when dirty.
  bool TakeDirty();

  int Level() const { return level_; }
  int Peak() const { return peak_; }
  int Value() const { return value_; }
  bool PeakTimerRunning() const { return peakTimer_; }
  // What segment |i| of |SegmentCount()| shows.
  Segment SegmentAt(int i) const;

  int segmentCount = 40;
  int segmentGap = 1;
  int barHeightPercent = 80;
  int greenLimit = 70;   // positions 100 * i / n below this are green
  int yellowLimit = 90;  // ... below this yellow, the rest red
  int peakHoldMs = 2000;
  int rangeMin = 0;
  int rangeMax = 100;

 private:
  Clock clock_;
  int level_ = 0;  // 0..100
  int peak_ = 0;   // 0..100
  uint32_t peakTime_ = 0;
  bool peakTimer_ = false;
  int value_ = 0;  // last value, clamped to the range
  bool dirty_ = false;
};

inline constexpr Rgb kMeterBackground{20, 20, 20};
inline constexpr Rgb kMeterUnlit{40, 40, 40};
inline constexpr Rgb kMeterGreen{0, 255, 0};
inline constexpr Rgb kMeterYellow{255, 255, 0};
inline constexpr Rgb kMeterRed{255, 0, 0};
inline constexpr Rgb kMeterPeak{255, 255, 255};
Rgb MeterSegmentColour(MeterModel::Segment segment);

// A pass's levels over the loop, one bin per 1/bins of it. AddLevel writes
// the bin of the current position; bins skipped since the last level are
// filled by a linear ramp; a position before the last one starts a new pass.
struct LevelHistory {
  explicit LevelHistory(size_t bins = 2000) : bins(bins, 0.0f) {}
  void AddLevel(int percent);
  // All bins 0, position 0, no last bin.
  void Clear();

  std::vector<float> bins;  // 0..1
  double position = 0.0;    // 0..1 of the loop; the owner sets it before AddLevel
  int lastBin = -1;         // -1: none yet this pass
  float lastLevel = 0.0f;   // 0..1
  bool dirty = false;
};

// |bars| levels (0..100) of interleaved PCM: each bar the peak magnitude of
// its share of the frames (16-bit |s|, 8-bit unsigned |s - 128| * 256,
// 24-bit |s| / 256, other widths 0) over 32767. All zeros when the PCM holds
// no whole frame or |bars| is 0; bars without frames stay 0.
std::vector<int> LevelsFromPcm(const uint8_t* bytes, size_t size, int bitsPerSample, int channels, size_t bars);

// A take's overview: minima and maxima of 2048 bins, each frame the mean of
// its channels. Bins without frames keep 32767 / -32768 (nothing is drawn).
struct TakePeakLane {
  static constexpr size_t kBins = 2048;
  std::vector<int16_t> minima;
  std::vector<int16_t> maxima;
};
// Empty lane for an empty take, a 0-byte frame, or no whole frame; only
// 16-bit audio contributes.
TakePeakLane ComputeTakePeaks(const int16_t* samples, size_t sampleCount, int channels);

// The take stack's lane colours.
inline constexpr Rgb kTakeBackground{30, 30, 30};
inline constexpr Rgb kTakeLane{25, 25, 25};
inline constexpr Rgb kTakeRecordingLane{180, 20, 20};
inline constexpr Rgb kTakeSelectedLane{94, 120, 156};
inline constexpr Rgb kTakeRingLane{60, 30, 30};
inline constexpr Rgb kTakeEmptySelected{40, 40, 80};
inline constexpr Rgb kTakeEmptyLane{20, 20, 20};
inline constexpr Rgb kTakeRingMarker{200, 40, 40};
inline constexpr Rgb kTakeWaveform{80, 220, 80};
inline constexpr Rgb kTakeCentreLine{55, 125, 55};
inline constexpr Rgb kTakeFrame{80, 80, 80};
inline constexpr Rgb kTakeHistoryStroke{190, 50, 50};
// The palette that tints lane c (index c mod 10).
Rgb LanePalette(int lane);
// Lane |lane| with |takes| takes, |selected| (-1 none), |ringIndex| and the
// recording flag (the ring-index lane is then being recorded).
Rgb LaneColour(int lane, int takes, int selected, int ringIndex, bool recording);
// max(15, (height - 2n - 2) / n) for n lanes (0 when n <= 0).
int LaneHeight(int height, int lanes);

// The loop strip's colours.
inline constexpr Rgb kStripIdle{30, 30, 30};
inline constexpr Rgb kStripRecording{80, 30, 30};
inline constexpr Rgb kStripQuiet{0, 100, 0};
inline constexpr Rgb kStripLoud{50, 255, 50};
inline constexpr Rgb kStripPlayhead{255, 200, 0};
inline constexpr Rgb kStripGrid{60, 60, 60};
inline constexpr Rgb kStripBarLine{120, 120, 120};
// The stroke colour of a level v (0..1) on the strip; |dimmed| (right of the
// playhead while not recording) mixes it halfway to the idle background.
Rgb StripLevelColour(float v, bool dimmed);

// One vertical grid line of the loop strip at pixel |x|: a full-height bar
// line or a shortened beat line.
struct GridLine {
  int x = 0;
  bool bar = false;
  friend bool operator==(const GridLine&, const GridLine&) = default;
};
// The strip's grid over |width| pixels: bars * (4 / beatUnit * beatsPerBar)
// quarter-note lines (both ends included), every trunc(quarters per bar)-th
// (at least every one) a bar line. None when the beat unit or the bars are
// not positive, or when there are more lines than pixels.
std::vector<GridLine> LoopGridLines(int width, int bars, int beatsPerBar, int beatUnit);

// The history sampled for pixel column |column| of |width|: linear between
// the two nearest bins.
float HistoryAtColumn(const std::vector<float>& bins, int column, int width);

}  // namespace zandrel

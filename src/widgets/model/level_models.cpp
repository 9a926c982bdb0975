#include "widgets/model/level_models.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zandrel {

// ------------------------------------------------------------ meter --

MeterModel::MeterModel(Clock clock) : clock_(std::move(clock)) {}

void MeterModel::SetLevel(int value) {
  value_ = std::clamp(value, std::min(rangeMin, rangeMax), std::max(rangeMin, rangeMax));
  if (rangeMin >= rangeMax) {
    level_ = 0;
  } else {
    const int64_t l = static_cast<int64_t>(value_ - rangeMin) * 100 / (static_cast<int64_t>(rangeMax) - rangeMin);
    level_ = static_cast<int>(std::clamp<int64_t>(l, 0, 100));
  }
  if (level_ > peak_) {
    peak_ = level_;
    peakTime_ = clock_();
    peakTimer_ = true;
  }
  dirty_ = true;
}

bool MeterModel::TickPeak() {
  if (!peakTimer_) return false;
  const uint32_t now = clock_();
  // Unsigned difference: right across the tick counter's wrap.
  if (now - peakTime_ >= static_cast<uint32_t>(std::max(0, peakHoldMs))) {
    peak_ = level_;
    peakTime_ = now;
    if (level_ == 0) peakTimer_ = false;
  }
  return true;
}

bool MeterModel::TakeDirty() {
  const bool was = dirty_;
  dirty_ = false;
  return was;
}

MeterModel::Segment MeterModel::SegmentAt(int i) const {
  const int n = segmentCount;
  if (n <= 0 || i < 0 || i >= n) return Segment::kUnlit;
  if (i < n * level_ / 100) {
    const int p = 100 * i / n;
    if (p < greenLimit) return Segment::kGreen;
    if (p < yellowLimit) return Segment::kYellow;
    return Segment::kRed;
  }
  if (peak_ > 0 && i == std::min(n * peak_ / 100, n - 1)) return Segment::kPeak;
  return Segment::kUnlit;
}

Rgb MeterSegmentColour(MeterModel::Segment segment) {
  switch (segment) {
    case MeterModel::Segment::kGreen: return kMeterGreen;
    case MeterModel::Segment::kYellow: return kMeterYellow;
    case MeterModel::Segment::kRed: return kMeterRed;
    case MeterModel::Segment::kPeak: return kMeterPeak;
    case MeterModel::Segment::kUnlit: break;
  }
  return kMeterUnlit;
}

// ---------------------------------------------------------- history --

void LevelHistory::AddLevel(int percent) {
  if (bins.empty()) return;
  const float l = std::clamp(static_cast<float>(percent) / 100.0f, 0.0f, 1.0f);
  const int count = static_cast<int>(bins.size());
  const int b = std::clamp(static_cast<int>((count - 1) * std::clamp(position, 0.0, 1.0)), 0, count - 1);
  if (lastBin < 0 || b < lastBin) {
    bins[static_cast<size_t>(b)] = l;
  } else if (b == lastBin) {
    bins[static_cast<size_t>(b)] = std::max(bins[static_cast<size_t>(b)], l);
  } else {
    const int k = b - lastBin;
    for (int j = 1; j <= k; ++j) {
      const int bin = lastBin + j;
      if (bin < count) bins[static_cast<size_t>(bin)] = lastLevel + (l - lastLevel) * static_cast<float>(j) / k;
    }
  }
  lastLevel = l;
  lastBin = b;
  dirty = true;
}

void LevelHistory::Clear() {
  std::fill(bins.begin(), bins.end(), 0.0f);
  position = 0.0;
  lastBin = -1;
  lastLevel = 0.0f;
  dirty = true;
}

// -------------------------------------------------------- overviews --

std::vector<int> LevelsFromPcm(const uint8_t* bytes, size_t size, int bitsPerSample, int channels, size_t bars) {
  std::vector<int> levels(bars, 0);
  const size_t sampleBytes = bitsPerSample > 0 ? static_cast<size_t>(bitsPerSample / 8) : 0;
  const size_t frameBytes = sampleBytes * static_cast<size_t>(std::max(0, channels));
  if (frameBytes == 0 || bars == 0 || bytes == nullptr) return levels;
  const size_t frames = size / frameBytes;
  if (frames == 0) return levels;
  const size_t samplesPerFrame = static_cast<size_t>(channels);
  for (size_t i = 0; i < bars; ++i) {
    const double share = static_cast<double>(frames) / static_cast<double>(bars);
    const size_t from = static_cast<size_t>(share * static_cast<double>(i));
    const size_t to = std::min(frames, static_cast<size_t>(share * static_cast<double>(i + 1)));
    int peak = 0;
    for (size_t f = from; f < to; ++f) {
      for (size_t c = 0; c < samplesPerFrame; ++c) {
        const uint8_t* s = bytes + f * frameBytes + c * sampleBytes;
        int m = 0;
        if (bitsPerSample == 16) {
          m = std::abs(static_cast<int>(static_cast<int16_t>(s[0] | (s[1] << 8))));
        } else if (bitsPerSample == 8) {
          m = std::abs(static_cast<int>(s[0]) - 128) * 256;
        } else if (bitsPerSample == 24) {
          int32_t v = s[0] | (s[1] << 8) | (s[2] << 16);
          if (v & 0x800000) v -= 0x1000000;
          m = std::abs(v) >> 8;
        }
        peak = std::max(peak, m);
      }
    }
    levels[i] = std::min(100, static_cast<int>(peak / 32767.0 * 100.0));
  }
  return levels;
}

TakePeakLane ComputeTakePeaks(const int16_t* samples, size_t sampleCount, int channels) {
  TakePeakLane lane;
  if (samples == nullptr || sampleCount == 0 || channels <= 0) return lane;
  const size_t ch = static_cast<size_t>(channels);
  const size_t frames = sampleCount / ch;
  if (frames == 0) return lane;
  lane.minima.assign(TakePeakLane::kBins, 0);
  lane.maxima.assign(TakePeakLane::kBins, 0);
  const size_t per = std::max<size_t>(1, frames / TakePeakLane::kBins);
  for (size_t b = 0; b < TakePeakLane::kBins; ++b) {
    int lo = 32767, hi = -32768;
    const size_t from = std::min(per * b, frames);
    const size_t to = std::min(per * b + per, frames);
    for (size_t f = from; f < to; ++f) {
      int sum = 0;
      for (size_t c = 0; c < ch; ++c) sum += samples[f * ch + c];
      const int v = sum / channels;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    lane.minima[b] = static_cast<int16_t>(lo);
    lane.maxima[b] = static_cast<int16_t>(hi);
  }
  return lane;
}

// ------------------------------------------------------- take stack --

Rgb LanePalette(int lane) {
  static constexpr Rgb kPalette[10] = {{70, 130, 180}, {220, 20, 60},  {255, 140, 0},  {50, 205, 50},
                                       {138, 43, 226}, {255, 215, 0},  {0, 191, 255},  {255, 105, 180},
                                       {60, 179, 113}, {255, 69, 0}};
  return kPalette[((lane % 10) + 10) % 10];
}

namespace {
Rgb Tint(Rgb c, int lane) {
  const Rgb p = LanePalette(lane);
  auto mix = [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(0.85 * a + 0.15 * b); };
  return {mix(c.r, p.r), mix(c.g, p.g), mix(c.b, p.b)};
}
}  // namespace

Rgb LaneColour(int lane, int takes, int selected, int ringIndex, bool recording) {
  if (recording && lane == ringIndex) return kTakeRecordingLane;
  if (lane < takes) {
    if (lane == selected) return kTakeSelectedLane;
    if (lane == ringIndex) return Tint(kTakeRingLane, lane);
    return Tint(kTakeLane, lane);
  }
  if (lane == ringIndex) return lane == selected ? kTakeRingLane : Tint(kTakeRingLane, lane);
  if (lane == selected) return kTakeEmptySelected;
  return Tint(kTakeEmptyLane, lane);
}

int LaneHeight(int height, int lanes) {
  if (lanes <= 0) return 0;
  return std::max(15, (height - 2 * lanes - 2) / lanes);
}

// ------------------------------------------------------------ strip --

Rgb StripLevelColour(float v, bool dimmed) {
  const float m = std::min(v, 1.0f);
  auto ch = [&](uint8_t quiet, uint8_t loud, uint8_t idle) {
    int c = static_cast<int>(quiet + (loud - quiet) * m);
    if (dimmed) c = static_cast<int>((idle - c) * 0.5 + c);
    return static_cast<uint8_t>(std::clamp(c, 0, 255));
  };
  return {ch(kStripQuiet.r, kStripLoud.r, kStripIdle.r), ch(kStripQuiet.g, kStripLoud.g, kStripIdle.g),
          ch(kStripQuiet.b, kStripLoud.b, kStripIdle.b)};
}

std::vector<GridLine> LoopGridLines(int width, int bars, int beatsPerBar, int beatUnit) {
  std::vector<GridLine> lines;
  if (beatUnit <= 0 || bars <= 0 || width <= 0) return lines;
  const double quarters = 4.0 / beatUnit * beatsPerBar;
  const double total = bars * quarters;
  if (!(total > 0.0) || total > width) return lines;
  const int count = static_cast<int>(total);
  if (count <= 0) return lines;
  // A bar shorter than a quarter note still needs a step of one line.
  const int step = std::max(1, static_cast<int>(quarters));
  lines.reserve(static_cast<size_t>(count) + 1);
  for (int i = 0; i <= count; ++i)
    lines.push_back({static_cast<int>(static_cast<int64_t>(width) * i / count), i % step == 0});
  return lines;
}

float HistoryAtColumn(const std::vector<float>& bins, int column, int width) {
  if (bins.empty() || width <= 0) return 0.0f;
  const float e = static_cast<float>(column) / static_cast<float>(width) * static_cast<float>(bins.size() - 1);
  const size_t k = static_cast<size_t>(e);
  float v = bins[std::min(k, bins.size() - 1)];
  if (k + 1 < bins.size()) v += (bins[k + 1] - v) * (e - static_cast<float>(k));
  return v;
}

}  // namespace zandrel

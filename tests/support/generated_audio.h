// Generated test audio as 16-bit samples: drum hits, clicks, tones and
// melodies, built from a signal function of time. Header-only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace zandrel::test {

// |frames| mono 16-bit samples of signal(t), t in seconds; values clamp at
// full scale.
inline std::vector<int16_t> RenderMono(int64_t frames, uint32_t rate, const std::function<double(double)>& signal) {
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i) {
    const double v = std::clamp(signal(static_cast<double>(i) / rate), -1.0, 1.0);
    out[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v * 32767.0));
  }
  return out;
}

// A drum hit at each of |hits| (seconds): a 200 Hz sine starting at phase 0
// that decays with a 30 ms time constant, over silence.
inline std::function<double(double)> DrumHits(std::vector<double> hits, double amplitude = 0.8) {
  return [hits = std::move(hits), amplitude](double t) {
    double v = 0.0;
    for (double h : hits) {
      const double d = t - h;
      if (d >= 0.0 && d < 0.4) v += amplitude * std::exp(-d / 0.03) * std::sin(2 * std::numbers::pi * 200.0 * d);
    }
    return v;
  };
}

// Evenly spaced hit times: |count| hits |period| seconds apart from |first|.
inline std::vector<double> HitTimes(int count, double period, double first = 0.0) {
  std::vector<double> t;
  for (int i = 0; i < count; ++i) t.push_back(first + i * period);
  return t;
}

// Short clicks (5 ms of a 1 kHz burst) at the given times.
inline std::function<double(double)> Clicks(std::vector<double> times, double amplitude = 0.9) {
  return [times = std::move(times), amplitude](double t) {
    for (double c : times) {
      const double d = t - c;
      if (d >= 0.0 && d < 0.005) return amplitude * std::sin(2 * std::numbers::pi * 1000.0 * d);
    }
    return 0.0;
  };
}

inline double NoteHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Notes played one after the other, each |seconds| long, as sines of
// amplitude 0.5.
inline std::function<double(double)> Melody(std::vector<int> notes, double seconds) {
  return [notes = std::move(notes), seconds](double t) {
    const auto i = static_cast<size_t>(t / seconds);
    if (i >= notes.size()) return 0.0;
    return 0.5 * std::sin(2 * std::numbers::pi * NoteHz(notes[i]) * t);
  };
}

}  // namespace zandrel::test

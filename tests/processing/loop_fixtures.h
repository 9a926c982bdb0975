// Generated 16-bit signals for the loop tools: sines with decays, noise
// bursts and an instrument-like tone, and a view of them as PcmSpan.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "processing/sample_access.h"
#include "support/wav_builder.h"

namespace zandrel::test {

// Interleaved 16-bit samples with their format.
struct Pcm16Audio {
  std::vector<int16_t> samples;
  int channels = 1;
  uint32_t rate = 44100;
  Bytes bytes;

  // Builds |bytes| from |samples|; call after changing the samples.
  Pcm16Audio& Pack() {
    bytes = Pcm16(samples);
    return *this;
  }
  int64_t Frames() const { return static_cast<int64_t>(samples.size()) / channels; }
  PcmSpan Span() const {
    PcmSpan s;
    s.bytes = bytes;
    s.channels = static_cast<uint16_t>(channels);
    s.sampleRate = rate;
    s.bitsPerSample = 16;
    s.blockAlign = static_cast<uint16_t>(channels * 2);
    return s;
  }
  int16_t At(int64_t frame, int channel = 0) const {
    const size_t i = static_cast<size_t>(frame * channels + channel);
    return static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
};

inline int16_t Clip16(double v) { return static_cast<int16_t>(std::lround(std::clamp(v, -32767.0, 32767.0))); }

// |seconds| of audio at |rate| whose channel c, frame i is gen(i, c) in -1..1.
template <class Gen>
Pcm16Audio Generate(double seconds, uint32_t rate, int channels, Gen gen) {
  Pcm16Audio a;
  a.channels = channels;
  a.rate = rate;
  const int64_t frames = std::llround(seconds * rate);
  a.samples.resize(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) a.samples[static_cast<size_t>(i * channels + c)] = Clip16(32767.0 * gen(i, c));
  a.Pack();
  return a;
}

// A sine of |hz| at |level|.
inline Pcm16Audio Sine(double seconds, uint32_t rate, double hz, double level = 0.5, int channels = 1) {
  return Generate(seconds, rate, channels,
                  [&](int64_t i, int c) { return level * std::sin(2 * M_PI * hz * i / rate + c * 0.3); });
}

// A sine that decays exponentially to |floor| of its level with time constant |tau| seconds.
inline Pcm16Audio DecayingSine(double seconds, uint32_t rate, double hz, double tau, double floor = 0.0) {
  return Generate(seconds, rate, 1, [&](int64_t i, int) {
    const double t = static_cast<double>(i) / rate;
    return 0.8 * (floor + (1 - floor) * std::exp(-t / tau)) * std::sin(2 * M_PI * hz * t);
  });
}

// Noise bursts of a fixed seed: 50 ms of noise every 250 ms over a quiet hum.
inline Pcm16Audio NoiseBursts(double seconds, uint32_t rate, int channels = 1) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-1, 1);
  return Generate(seconds, rate, channels, [&](int64_t i, int) {
    const double t = static_cast<double>(i) / rate;
    const bool burst = std::fmod(t, 0.25) < 0.05;
    return 0.05 * std::sin(2 * M_PI * 60 * t) + (burst ? 0.4 * noise(random) : 0.0);
  });
}

// Like a sampled instrument: an attack, harmonics with a slow vibrato, a
// decay to a sustain level and a little breath noise.
inline Pcm16Audio InstrumentTone(double seconds, uint32_t rate, int channels = 1) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> noise(-1, 1);
  return Generate(seconds, rate, channels, [&](int64_t i, int c) {
    const double t = static_cast<double>(i) / rate;
    const double env = std::min(1.0, t / 0.03) * (0.5 + 0.5 * std::exp(-t / 0.4));
    const double f = 220 * (1 + 0.004 * std::sin(2 * M_PI * 5 * t));
    double v = 0;
    for (int h = 1; h <= 5; ++h) v += std::sin(2 * M_PI * f * h * t + c * 0.2 * h) / h;
    return 0.35 * env * v + 0.01 * noise(random);
  });
}

}  // namespace zandrel::test

#include "sound_design/tone_engine.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace zandrel {

uint64_t FramesForSeconds(float seconds, uint32_t sampleRate) {
  const float frames = seconds * static_cast<float>(sampleRate);
  // Beyond 2^63 frames no buffer exists anyway; keep the cast defined.
  if (!(frames >= 1.0f) || !(frames < 9.2e18f)) return 0;
  return static_cast<uint64_t>(frames);
}

size_t ToneSamples(uint64_t frames, uint16_t channels) {
  if (channels != 1 && channels != 2) return 0;
  return static_cast<size_t>(frames) * channels;
}

float NextNoise(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<float>(state & 0x7FFFu) * (1.0f / 16384.0f) - 1.0f;
}

double AdvancePhase(double phase, double increment) {
  phase += increment;
  return phase - std::floor(phase);
}

uint32_t NoteSeed(float frequency, uint32_t offset) {
  const float held = std::clamp(FiniteOr0(frequency), -2147483648.0f, 2147483520.0f);
  return static_cast<uint32_t>(static_cast<int32_t>(held)) + offset;
}

int64_t FramesFromFloat(float value) {
  if (!(value > 0.0f)) return 0;
  return static_cast<int64_t>(std::min(value, 9.0e15f));
}

bool FitsToneOutput(uint64_t frames, uint16_t channels, std::span<const int16_t> out) {
  const size_t samples = ToneSamples(frames, channels);
  return samples > 0 && out.size() >= samples;
}

SvfOutput SvfStep(SvfState& state, float x, float g, float k) {
  const float hp = (x - (k + g) * state.s1 - state.s2) / (1.0f + k * g + g * g);
  const float bp = state.s1 + g * hp;
  const float lp = state.s2 + g * bp;
  state.s1 = bp + g * hp;
  state.s2 = lp + g * bp;
  return {hp, bp, lp};
}

StereoGains EqualPowerGains(float position) {
  const float c = std::clamp(FiniteOr0(position), 0.0f, 1.0f);
  return {std::sqrt(1.0f - c), std::sqrt(c)};
}

float OscillatorShape(int shape, float phase) {
  switch (shape) {
    case 0: return std::sin(2.0f * static_cast<float>(M_PI) * phase);
    case 1: return 4.0f * std::fabs(phase - 0.5f) - 1.0f;
    case 2: return 2.0f * phase - 1.0f;
    case 3: return phase < 0.5f ? 1.0f : -1.0f;
    case 4: return phase < 0.25f ? 1.0f : -1.0f;
    case 5: return phase < 0.1f ? 1.0f : -1.0f;
    default: return 0.0f;
  }
}

float Blep(float t, float dt) {
  if (t < dt) {
    const float u = t / dt;
    return 2.0f * u - u * u - 1.0f;
  }
  if (t > 1.0f - dt) {
    const float u = (t - 1.0f) / dt;
    return u * u + 2.0f * u + 1.0f;
  }
  return 0.0f;
}

float PolyBlepSquare(float t, float dt) {
  return (t < 0.5f ? 1.0f : -1.0f) + Blep(t, dt) - Blep(std::fmod(t + 0.5f, 1.0f), dt);
}

float PolyBlepPulse(float t, float dt, float width) {
  return (t < width ? 1.0f : -1.0f) + Blep(t, dt) - Blep(std::fmod(t - width + 1.0f, 1.0f), dt);
}

float MidiNoteToHz(float note) { return 440.0f * std::exp2((note - 69.0f) / 12.0f); }

int16_t ClampToPcm16(float value) {
  if (value > 32767.0f) return 32767;
  if (value < -32768.0f) return -32768;
  if (std::isnan(value)) return 0;
  return static_cast<int16_t>(value);
}

float FiniteOr0(float value) { return std::isfinite(value) ? value : 0.0f; }

double OnePoleDelay(double pole, double w) {
  if (!(w > 0)) return pole / (1.0 - pole);
  return std::atan2(pole * std::sin(w), 1.0 - pole * std::cos(w)) / w;
}

double AllPassDelay(double c, double w) {
  if (!(w > 0)) return (1.0 - c) / (1.0 + c);
  const std::complex<double> z = std::polar(1.0, -w);
  double phase = std::arg((c + z) / (1.0 + c * z));
  if (phase > 0) phase -= 2 * M_PI;  // the all-pass only ever lags
  return -phase / w;
}

void TuningAllPass::Set(double delay, double w) {
  // The exact phase delay at w (at 0 Hz the coefficient is (1 - d) / (1 + d)).
  // A note at or above half the rate has no phase to match: the 0 Hz value.
  const double denominator = std::sin((1.0 + delay) * w / 2.0);
  const double exact = w > 0 && w < M_PI && std::fabs(denominator) > 1e-9
                           ? std::sin((1.0 - delay) * w / 2.0) / denominator
                           : (1.0 - delay) / (1.0 + delay);
  c = static_cast<float>(std::clamp(exact, -0.9, 0.9));  // a pole well inside the unit circle
  x1 = y1 = 0;
}

LoopSplit SplitLoop(double period, double filterDelay) {
  const double rest = period - filterDelay;
  if (!(rest >= 2.5)) return {2, std::clamp(std::isfinite(rest) ? rest - 2.0 : 0.5, 0.5, 1.5)};
  const auto frames = static_cast<uint64_t>(std::min(rest - 0.5, 9.0e15));
  return {frames, rest - static_cast<double>(frames)};
}

void RemoveMean(std::span<float> values) {
  if (values.empty()) return;
  double sum = 0;
  for (float v : values) sum += v;
  const auto mean = static_cast<float>(sum / static_cast<double>(values.size()));
  for (float& v : values) v -= mean;
}

uint64_t DelayLine::Length(float frequency, uint32_t sampleRate) {
  const float length = static_cast<float>(sampleRate) / frequency;
  // A negative, zero, NaN or sub-hertz frequency would ask for a loop longer
  // than a second (or an undefined cast): it gets the one-second loop.
  if (!(length >= 0.0f) || !(length <= static_cast<float>(sampleRate))) return std::max<uint64_t>(2, sampleRate);
  return std::max<uint64_t>(2, static_cast<uint64_t>(length));
}

void DelayLine::Excite(float frequency, uint32_t sampleRate, uint32_t& seed, float pluckPosition,
                       std::span<float> storage) {
  Excite(Length(frequency, sampleRate), seed, pluckPosition, storage);
}

void DelayLine::Excite(uint64_t requested, uint32_t& seed, float pluckPosition, std::span<float> storage) {
  const uint64_t length = std::min<uint64_t>(std::max<uint64_t>(2, requested), storage.size());
  loop = storage.first(length);
  position = 0;
  filter = 0;
  tuning = TuningAllPass{};
  for (float& value : loop) value = NextNoise(seed);
  if (pluckPosition > 0.01f && pluckPosition < 0.5f) {
    const auto d = static_cast<uint64_t>(static_cast<float>(length) * pluckPosition);
    // (j - d) mod L as a non-negative index: unsigned wrap-around would tap
    // the wrong sample. Entries before j already hold their new values.
    for (uint64_t j = 0; j < length; ++j) loop[j] -= loop[(j + length - d % length) % length];
  }
}

void ToneWorkspace::Reserve(uint32_t sampleRate, int voices, float lowestHz) {
  const size_t count = static_cast<size_t>(std::clamp(voices, 1, kMaxToneVoices));
  const float lowest = std::max(1.0f, FiniteOr0(lowestHz));
  // The piano detunes its strings by up to a quarter of a cent downward,
  // which lengthens the loop by well under 1%.
  const size_t perLine = static_cast<size_t>(static_cast<double>(sampleRate) / lowest * 1.01) + 4;
  floats_.reserve(count * perLine);
  this->voices.reserve(count);
  lines.reserve(count);
  pianoStrings.reserve(count);
}

std::span<float> ToneWorkspace::Floats(size_t count) {
  floats_.assign(count, 0.0f);
  return {floats_.data(), count};
}

}  // namespace zandrel

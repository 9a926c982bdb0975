#include "sound_design/modelled_engines.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <initializer_list>

#include "processing/rand15.h"

namespace zandrel {
namespace {

constexpr float kPi = static_cast<float>(M_PI);
constexpr float kTwoPi = 2.0f * kPi;

// Filters that ring out must not sink into denormals.
float Flushed(float y) { return std::fabs(y) < 1e-20f ? 0.0f : y; }

// A non-finite knob value counts as 0.
void MakeFinite(std::initializer_list<float*> values) {
  for (float* v : values) *v = FiniteOr0(*v);
}

CymbalParams Sanitised(CymbalParams p) {
  MakeFinite({&p.tone, &p.dissonance, &p.decay, &p.attack, &p.colour, &p.gain});
  return p;
}

FluteParams Sanitised(FluteParams p) {
  MakeFinite({&p.vibratoAmount, &p.vibratoRate, &p.growl, &p.swell, &p.release, &p.gain, &p.harmonics, &p.darkness,
              &p.rollOff, &p.envelopeFollow, &p.air, &p.formant, &p.breathBrightness, &p.breathAttack,
              &p.waveguideMix, &p.waveguideFeedback, &p.airLoss});
  return p;
}

BowedParams Sanitised(BowedParams p) {
  MakeFinite({&p.pressure, &p.bowSpeed, &p.bowPosition, &p.rosin, &p.attack, &p.release, &p.vibratoRate,
              &p.vibratoDepth, &p.bodySize, &p.gain});
  return p;
}

VoiceParams Sanitised(VoiceParams p) {
  MakeFinite({&p.vowel, &p.gender, &p.hardness, &p.jitter, &p.vibratoDepth, &p.vibratoSpeed, &p.breath,
              &p.breathCut, &p.attack, &p.release, &p.gain});
  return p;
}

BrassParams Sanitised(BrassParams p) {
  MakeFinite({&p.brilliance, &p.dynamics, &p.breath, &p.tubeResonance, &p.tubeDamping, &p.attack, &p.decay,
              &p.sustain, &p.release, &p.vibratoDepth, &p.vibratoSpeed, &p.gain});
  return p;
}

void WriteMono(std::span<int16_t> out, uint64_t i, uint16_t channels, int16_t sample) {
  if (channels == 1) {
    out[i] = sample;
  } else {
    out[2 * i] = sample;
    out[2 * i + 1] = sample;
  }
}

// The sample of a value that saturates at +-1 (the cymbal's rule).
int16_t Saturated(float y) {
  if (y > 1.0f) return 32767;
  if (y < -1.0f) return -32768;
  return ClampToPcm16(y * 32767.0f);
}

// Linear interpolation in a circular line at a position in [0, length)
// (the caller wraps it there).
float ReadBetween(const std::vector<float>& line, float position) {
  const size_t length = line.size();
  const auto index = static_cast<size_t>(position);
  const float fraction = position - static_cast<float>(index);
  const float next = line[index + 1 == length ? 0 : index + 1];
  return line[index] + (next - line[index]) * fraction;
}

// Two-pole body resonance without zeros.
struct Resonator {
  float alpha = 0;
  float cosine2 = 0;  // 2 cos(w)
  float y1 = 0;
  float y2 = 0;

  Resonator(float fc, float q, float rate) {
    const float w = kTwoPi * fc / rate;
    alpha = std::sin(w) / (2.0f * q);
    cosine2 = 2.0f * std::cos(w);
  }
  // The gain at the centre frequency (without zeros it grows as the centre
  // falls: about 18 at 191 Hz with Q 6 at 44100 Hz).
  float CentreGain(float fc, float rate) const {
    const double w = 2 * M_PI * fc / rate;
    const std::complex<double> z = std::polar(1.0, -w);
    const double a = alpha;
    return static_cast<float>(std::abs((a / (1 + a)) / (1.0 - cosine2 / (1 + a) * z + (1 - a) / (1 + a) * z * z)));
  }
  float Step(float x) {
    const float y = (alpha * x + cosine2 * y1 - (1.0f - alpha) * y2) / (1.0f + alpha);
    y2 = y1;
    y1 = y;
    return y;
  }
};

size_t WaveguideLength(uint32_t sampleRate) { return sampleRate / 20 + 100; }

// The longest period, in frames, whose partials the bowed string's smoothers
// damp at their own strength (a note of about 690 Hz at 44100 Hz).
constexpr float kSmoothedPeriod = 64.0f;

}  // namespace

namespace {

// The peaking equaliser's coefficients for one centre, bandwidth and gain:
// the same arithmetic as PeakingEqStep, worked out once per note where the
// centre does not move.
struct PeakingEq {
  float b0, b1, b2, a0, a1, a2;

  PeakingEq(float centre, float bandwidth, float gain, uint32_t sampleRate) {
    const float rate = static_cast<float>(sampleRate);
    const float w0 = kTwoPi * std::min(0.45f * rate, centre) / rate;
    const float sine = std::sin(w0);
    const float alpha = sine * std::sinh(std::log(2.0f) / 2.0f * bandwidth * w0 / sine);
    const float a = std::sqrt(gain);
    b0 = 1.0f + alpha * a;
    b1 = -2.0f * std::cos(w0);
    b2 = 1.0f - alpha * a;
    a0 = 1.0f + alpha / a;
    a1 = -2.0f * std::cos(w0);
    a2 = 1.0f - alpha / a;
  }

  // The gain at |hz|.
  double Gain(double hz, uint32_t sampleRate) const {
    const std::complex<double> z = std::polar(1.0, -2 * M_PI * hz / sampleRate);
    const double n0 = b0, n1 = b1, n2 = b2, d0 = a0, d1 = a1, d2 = a2;
    return std::abs((n0 + n1 * z + n2 * z * z) / (d0 + d1 * z + d2 * z * z));
  }

  float Step(float x, BiquadState& s) const {
    const float y = Flushed((b0 * x + b1 * s.x1 + b2 * s.x2 - a1 * s.y1 - a2 * s.y2) / a0);
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = y;
    return y;
  }
};

}  // namespace

float PeakingEqStep(float x, float centre, float bandwidth, float gain, uint32_t sampleRate, BiquadState& s) {
  return PeakingEq(centre, bandwidth, gain, sampleRate).Step(x, s);
}

float BandPassStep(float x, float centre, float q, uint32_t sampleRate, BiquadState& s) {
  const float rate = static_cast<float>(sampleRate);
  const float w = kTwoPi * std::max(20.0f, std::min(0.45f * rate, centre)) / rate;
  const float alpha = std::sin(w) / (2.0f * q);
  const float y =
      Flushed((alpha * x - alpha * s.x2 + 2.0f * std::cos(w) * s.y1 - (1.0f - alpha) * s.y2) / (1.0f + alpha));
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

Formants VowelFormants(float vowel, float gender) {
  struct Vowel {
    float f[3];
    float a[3];
  };
  static constexpr std::array<Vowel, 5> kVowels = {{
      {{730, 1090, 2440}, {1.0f, 0.5f, 0.2f}},
      {{530, 1840, 2480}, {1.0f, 0.4f, 0.2f}},
      {{270, 2290, 3010}, {1.0f, 0.3f, 0.1f}},
      {{570, 840, 2410}, {1.0f, 0.6f, 0.2f}},
      {{300, 870, 2240}, {1.0f, 0.5f, 0.1f}},
  }};
  const float w = std::clamp(4.0f * FiniteOr0(vowel), 0.0f, 4.0f);
  const int i = static_cast<int>(w);
  const int j = std::min(i + 1, 4);
  const float x = w - static_cast<float>(i);
  Formants result{};
  for (int k = 0; k < 3; ++k) {
    result.frequency[k] = ((1.0f - x) * kVowels[i].f[k] + x * kVowels[j].f[k]) * gender;
    result.amplitude[k] = (1.0f - x) * kVowels[i].a[k] + x * kVowels[j].a[k];
  }
  return result;
}

void FluteVoiceState::Reserve(uint32_t sampleRate) { waveguide.reserve(WaveguideLength(sampleRate)); }
void BrassVoiceState::Reserve(uint32_t sampleRate) { tube.reserve(WaveguideLength(sampleRate)); }

size_t RenderMetallicCymbal(uint64_t frames, uint32_t sampleRate, uint16_t channels, const CymbalParams& raw,
                            std::span<int16_t> out, const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float rate = static_cast<float>(sampleRate);
  if (!(static_cast<float>(frames) / rate > 0.001f)) return 0;
  const CymbalParams p = Sanitised(raw);

  const float base = 200.0f + 800.0f * p.tone;
  const float d = p.dissonance;
  const std::array<float, 6> ratios = {1.0f,           1.48f + 0.5f * d, 2.15f + d,
                                       2.91f + 1.5f * d, 3.84f + 2.0f * d, 5.31f + 2.5f * d};
  std::array<double, 6> phases{};
  std::array<double, 6> increments{};
  for (size_t i = 0; i < 6; ++i) increments[i] = static_cast<double>(ratios[i] * base) / rate;

  const float decay = 1.0f - std::pow(100.0f, 1.0f - p.decay) * 0.00005f;
  const int64_t attack = FramesFromFloat(static_cast<float>(frames) * p.attack);
  const float step = attack == 0 ? 1.0f : 1.0f / static_cast<float>(attack);
  float envelope = p.attack > 0.01f ? 0.0f : 1.0f;

  const float g1 = std::tan(kPi * std::min(0.4f * rate, 800.0f + 6000.0f * p.colour) / rate);
  // Held below the Nyquist limit like every other filter: at low document
  // rates 300 + 1000 x colour Hz would pass it and the filter would blow up.
  const float g2 = std::tan(kPi * std::min(0.45f * rate, 300.0f + 1000.0f * p.colour) / rate);
  SvfState filter1, filter2;
  const float level = p.gain * 1.5f;
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (uint64_t i = 0; i < frames; ++i) {
    if (!ticker.Step()) return 0;
    float sum = 0;
    for (size_t k = 0; k < 6; ++k) {
      sum += phases[k] < 0.5 ? 1.0f : -1.0f;
      phases[k] = AdvancePhase(phases[k], increments[k]);
    }
    const float band = SvfStep(filter1, 0.16f * sum, g1, 1.0f).bp;
    const float high = SvfStep(filter2, band, g2, 2.828f).hp;
    WriteMono(out, i, channels, Saturated(high * envelope * level));
    if (static_cast<int64_t>(i) < attack)
      envelope += step;
    else
      envelope *= decay;
  }
  return ToneSamples(frames, channels);
}

size_t RenderFluteNote(FluteVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate,
                       uint16_t channels, const FluteParams& raw, std::span<int16_t> out,
                       const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float rate = static_cast<float>(sampleRate);
  if (!(static_cast<float>(frames) / rate > 0.001f)) return 0;
  const FluteParams p = Sanitised(raw);
  frequency = FiniteOr0(frequency);

  const size_t length = WaveguideLength(sampleRate);
  state.waveguide.resize(length);
  std::fill(state.waveguide.begin(), state.waveguide.end(), 0.0f);
  state.position = 0;
  state.dcIn = state.dcOut = state.lowPass = 0;
  state.smoother = 0;
  state.seed = NoteSeed(frequency, 12345);

  const auto n = static_cast<int64_t>(frames);
  const float depth = p.vibratoAmount * 0.03f + 0.005f;
  const int64_t attack = FramesFromFloat((p.swell * 0.4f + 0.02f) * static_cast<float>(frames));
  const int64_t release = FramesFromFloat((p.release * 0.4f + 0.02f) * static_cast<float>(frames));
  const int64_t releaseStart = release < n ? n - release : 0;
  const float fmax = 0.45f * rate;
  const float tilt = (p.darkness - 0.5f) * 2.0f;
  std::array<float, 8> overtone{};
  for (int j = 0; j < 8; ++j) {
    const float jf = static_cast<float>(j);
    overtone[j] = std::pow(jf + 2.0f, -2.0f * p.rollOff) * (tilt > 0 ? 1.0f + 0.2f * jf * tilt : 1.0f / (1.0f - jf * tilt));
  }
  const float loopCoefficient = std::clamp((1.0f - p.darkness) * 0.4f + 0.05f + p.airLoss * 0.2f, 0.01f, 0.95f);
  const float feedback = p.darkness > 0.8f ? p.waveguideFeedback * 0.995f : p.waveguideFeedback;
  const float g1 = std::tan(kPi * std::min(fmax, 800.0f + 500.0f * p.breathBrightness) / rate);
  const float g2 = std::tan(kPi * std::min(fmax, 2200.0f + 1000.0f * p.breathBrightness) / rate);
  const float drive = p.growl * 0.4f + 1.1f;
  const PeakingEq eq1(1200.0f, 0.7f, 2.0f, sampleRate);
  const PeakingEq eq2(2400.0f + 1000.0f * (p.darkness - 0.5f), 0.9f, 1.5f, sampleRate);
  const auto guideLength = static_cast<float>(length);
  // The formant equaliser lifts a note whose fundamental or first overtones
  // lie near its centres by up to 6 dB, which held high notes at the output's
  // limit for most of their length. The note is lowered by the lift its
  // fundamental gets: the equaliser still shapes the spectrum the same way.
  float level = p.gain;
  if (p.formant > 0) {
    const double hz = std::clamp(static_cast<double>(frequency), 20.0, static_cast<double>(fmax));
    const double lift = std::abs((1.0 - p.formant) + p.formant * eq1.Gain(hz, sampleRate)) *
                        (0.3 * eq2.Gain(hz, sampleRate) + 0.7);
    if (lift > 1.0) level = static_cast<float>(level / lift);
  }

  double vibratoPhase = 0, phase = 0;
  float dcInput = 0, dcOutput = 0;  // the output DC blocker
  DcBlocker outputCentre(sampleRate);
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (int64_t k = 0; k < n; ++k) {
    if (!ticker.Step()) return 0;
    const float noise = NextNoise(state.seed);
    state.smoother = state.smoother * 0.99f + noise * 0.05f;
    vibratoPhase = AdvancePhase(vibratoPhase, static_cast<double>(p.vibratoRate) / rate);
    const float s = std::sin(kTwoPi * static_cast<float>(vibratoPhase));
    const float f = std::min(fmax, std::max(20.0f, (s * depth + 1.0f) * frequency));
    const float kf = static_cast<float>(k);
    float envelope;
    if (k < attack) {
      const float x = kf / static_cast<float>(attack);
      envelope = x * x;
    } else if (k < releaseStart) {
      envelope = 1.0f;
    } else {
      envelope = 1.0f - static_cast<float>(k - releaseStart) / static_cast<float>(release);
    }
    const float tremolo = 1.0f - p.vibratoAmount * 0.2f * (1.0f - s);
    phase = AdvancePhase(phase, static_cast<double>(f) / rate);
    const float ph = static_cast<float>(phase);
    float tone = std::sin(kTwoPi * ph);
    if (p.harmonics > 0) {
      float sum = 0;
      for (int j = 0; j < 8; ++j) sum += std::sin(static_cast<float>(j + 2) * ph * kTwoPi) * overtone[j];
      tone += sum * (p.envelopeFollow * envelope + 1.0f - p.envelopeFollow) * p.harmonics *
              (p.growl > 0 ? p.growl * noise * 0.5f + 1.0f : 1.0f);
    }
    const float clipped = p.growl > 0.1f ? std::clamp((2.0f * p.growl + 1.0f) * tone, -1.0f, 1.0f)
                                         : std::clamp(tone, -1.2f, 1.2f);
    const float b1 = SvfStep(state.breath1, p.breathBrightness * noise + state.smoother, g1, 1.3333334f).bp;
    const float b2 = SvfStep(state.breath2, b1, g2, 1.0f).bp;
    const float g3 = std::tan(kPi * std::min(fmax, 1.1f * f) / rate);
    const float breath = SvfStep(state.breath3, b2, g3, 0.6666667f).bp;
    const float breathEnvelope =
        k < attack ? (1.0f - kf / static_cast<float>(attack)) * p.breathAttack * 2.0f + envelope : envelope;
    const float excitation = breath * p.air * 4.0f * breathEnvelope + clipped * envelope;

    // The waveguide is longer than the longest delay (f >= 20 Hz), so one
    // addition of its length brings the read position into range.
    float read = static_cast<float>(state.position) - (rate / f - 0.5f);
    if (read < 0) read += guideLength;
    if (read >= guideLength) read -= guideLength;
    const float r = ReadBetween(state.waveguide, read);
    state.lowPass = loopCoefficient * r + (1.0f - loopCoefficient) * state.lowPass;
    const float h = state.lowPass - state.dcIn + 0.995f * state.dcOut;
    state.dcIn = state.lowPass;
    state.dcOut = h;
    state.waveguide[state.position] = feedback * std::tanh(drive * h) + excitation * 0.4f;
    if (++state.position == length) state.position = 0;

    float y = ((1.0f - p.waveguideMix) * excitation + p.waveguideMix * r) * tremolo;
    if (p.formant > 0) {
      const float e1 = eq1.Step(y, state.eq1);
      const float g = (1.0f - p.formant) * y + p.formant * e1;
      const float e2 = eq2.Step(g, state.eq2);
      y = 0.3f * e2 + 0.7f * g;
    }
    const float yg = y * level;
    float z = yg - dcInput + 0.998f * dcOutput;
    dcInput = yg;
    dcOutput = z;
    if (n >= 200 && k > n - 200) z = z * static_cast<float>(n - k) / 200.0f;
    // High notes, lifted by the formant equaliser and the breath, ran into the
    // clamp at 0.95 for much of their length: a knee below it rounds the
    // loudest peaks instead, and a DC blocker after the knee takes out the
    // offset that rounding a lopsided wave leaves. The clamp stays as the
    // bound it always was.
    const float limited = outputCentre.Step(SoftCeiling(z, 0.9f));
    WriteMono(out, static_cast<uint64_t>(k), channels, ClampToPcm16(std::clamp(limited, -0.95f, 0.95f) * 28000.0f));
  }
  return ToneSamples(frames, channels);
}

size_t RenderBowedString(float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                         const BowedParams& raw, ToneWorkspace& workspace, std::span<int16_t> out,
                         const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  if (!(frequency >= 20.0f && frequency <= 10000.0f)) return 0;
  const BowedParams p = Sanitised(raw);
  const float rate = static_cast<float>(sampleRate);

  const float beta = std::clamp(p.bowPosition, 0.02f, 0.5f);
  const float period = rate / frequency;
  float bridgeSmoothing = (1.0f - p.rosin) * 0.3f;
  float nutSmoothing = 0.7f * bridgeSmoothing;
  // The smoothers are the loop's only damping of the upper partials, and a
  // one-pole works per frame: the longer the period, the less it damps each
  // partial per pass. Below about 690 Hz at 44100 Hz the ripple between bow
  // and bridge then outlived the stick phase and tore the string loose a
  // second time each period, so the note sounded an octave high. Over a
  // longer period the smoothers' corners follow the note down, damping the
  // partials per period as at kSmoothedPeriod frames; shorter periods keep
  // them as they are.
  if (period > kSmoothedPeriod) {
    const float share = kSmoothedPeriod / period;
    bridgeSmoothing = 1.0f - (1.0f - bridgeSmoothing) * share;
    nutSmoothing = 1.0f - (1.0f - nutSmoothing) * share;
  }
  // The wave runs through both lines and both smoothers per period: the nut
  // side takes the whole frames the bridge side leaves, and a tuning all-pass
  // the fraction of a frame.
  const double angle = 2 * M_PI * static_cast<double>(frequency) / rate;
  const LoopSplit split =
      SplitLoop(period, OnePoleDelay(bridgeSmoothing, angle) + OnePoleDelay(nutSmoothing, angle));
  const size_t bridgeLength = std::max<size_t>(2, static_cast<size_t>(period * beta));
  const size_t nutLength = std::max<size_t>(2, static_cast<size_t>(split.frames) - std::min<size_t>(bridgeLength, split.frames));
  TuningAllPass tuning;
  tuning.Set(split.fraction, angle);
  std::span<float> block = workspace.Floats(bridgeLength + nutLength);
  std::span<float> bridge = block.first(bridgeLength);
  std::span<float> nut = block.subspan(bridgeLength);
  size_t pb = 0, pn = 0;

  // Both resonances stay below the Nyquist limit, like every other filter: at
  // low document rates 450 Hz or 2.8 times it would pass it and ring without
  // bound.
  const float fc1 = std::min(0.45f * rate, 450.0f * std::pow(0.18f, p.bodySize));
  const float fc2 = std::min(0.45f * rate, 2.8f * fc1);
  Resonator body1(fc1, 4.0f + 4.0f * p.bodySize, rate);
  Resonator body2(fc2, 3.0f, rate);
  // Without zeros each body resonance peaks far above unity (about 18 at
  // 191 Hz with Q 6 at 44100 Hz) and held the output in its clip for most of
  // a low note. Each is scaled to peak at unity: the body colours the string
  // and the clip only rounds the loudest peaks.
  const float body1Gain = 1.0f / body1.CentreGain(fc1, rate);
  const float body2Gain = 1.0f / body2.CentreGain(fc2, rate);

  const auto n = static_cast<int64_t>(frames);
  const int64_t attackRaw = FramesFromFloat(rate * p.attack);
  const int64_t releaseRaw = FramesFromFloat(rate * p.release);
  const int64_t attack = std::max<int64_t>(1, attackRaw);
  const int64_t release = std::max<int64_t>(1, releaseRaw);
  const int64_t releaseStart = releaseRaw < n ? n - releaseRaw : 0;

  // Equal inputs give equal samples: the bow noise restarts with every note.
  Rand15 random(1);
  float smoothedBridge = 0, smoothedNut = 0;
  const float loudness = 3.0f * (p.pressure + 1.0f);
  DcBlocker centre(sampleRate);
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (int64_t i = 0; i < n; ++i) {
    if (!ticker.Step()) return 0;
    float envelope = 1.0f;
    if (i < attack) {
      const float x = static_cast<float>(i) / static_cast<float>(attack);
      envelope = x * x;
    } else if (i >= releaseStart) {
      const float x = 1.0f - static_cast<float>(i - releaseStart) / static_cast<float>(release);
      envelope = x * x;
    }
    smoothedBridge = bridge[pb] + (smoothedBridge - bridge[pb]) * bridgeSmoothing;
    smoothedNut = nut[pn] + (smoothedNut - nut[pn]) * nutSmoothing;
    const float w = envelope * p.bowSpeed - (smoothedNut + smoothedBridge);
    const float pressure = envelope * p.pressure;
    float friction = std::exp(-std::fabs(w) / (0.08f * pressure + 0.02f)) * w * (0.7f * pressure + 0.3f);
    if (i < 100) friction += (1.0f - static_cast<float>(i) / 100.0f) * pressure * 0.001f;
    const float q = static_cast<float>(random.Next()) / static_cast<float>(Rand15::kMax);
    const float z = ((q - 0.5f) * 0.001f * pressure + friction) * 0.5f;
    const float b = std::clamp(z + smoothedNut, -2.0f, 2.0f);
    bridge[pb] = -0.995f * b;
    nut[pn] = tuning.Step(-0.99f * std::clamp(z + smoothedBridge, -2.0f, 2.0f));
    if (++pb == bridgeLength) pb = 0;
    if (++pn == nutLength) pn = 0;
    const float r1 = body1.Step(b) * body1Gain;
    const float r2 = body2.Step(b) * body2Gain;
    // The bow pushes one way: the loop's waves carry an offset that the body's
    // low resonance amplifies. Blocked before the clip, it neither shifts
    // the note off zero nor drives one side of the clip.
    const float o = ((0.7f * r1 + 0.3f * r2) * 0.7f + 0.3f * b) * loudness;
    // The bow pushes one way, and the clip bends the two sides of an uneven
    // wave unequally: the output DC blocker keeps the note centred on zero.
    WriteMono(out, static_cast<uint64_t>(i), channels,
              ClampToPcm16(centre.Step(BowedSoftClip(o)) * p.gain * 28000.0f));
  }
  return ToneSamples(frames, channels);
}

float BowedSoftClip(float o) {
  // Beyond +-1 the cubic's own end values: a curve that fell back to 0.5
  // there would jump by half of full scale whenever the bow drives it past 1.
  if (o > 1.0f) return 1.0f;
  if (o < -1.0f) return -1.0f;
  return (1.5f - 0.5f * o * o) * o;
}

size_t RenderFormantVoice(FormantVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate,
                          uint16_t channels, const VoiceParams& raw, std::span<int16_t> out,
                          const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float rate = static_cast<float>(sampleRate);
  if (!(static_cast<float>(frames) / rate > 0.001f)) return 0;
  const VoiceParams p = Sanitised(raw);
  frequency = FiniteOr0(frequency);
  state = FormantVoiceState{};
  state.seed = NoteSeed(frequency, 12345);

  const auto n = static_cast<int64_t>(frames);
  const int64_t attack = FramesFromFloat((p.attack * 0.5f + 0.01f) * static_cast<float>(frames));
  const int64_t release = FramesFromFloat((p.release * 0.5f + 0.01f) * static_cast<float>(frames));
  const int64_t releaseStart = release < n ? n - release : 0;
  const Formants formants = VowelFormants(p.vowel, p.gender);
  const float fmax = 0.4f * rate;
  const float c = 0.8f * p.hardness + 0.1f;
  const bool cutBreath = p.breathCut > 0.5f;
  DcBlocker centre(sampleRate);
  DcBlocker outputCentre(sampleRate);

  double vibratoPhase = 0, phase = 0;
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (int64_t k = 0; k < n; ++k) {
    if (!ticker.Step()) return 0;
    const float noise = NextNoise(state.seed);
    state.smoother = state.smoother * 0.9f + noise * 0.1f;
    float breath = p.breath * state.smoother;
    if (cutBreath) breath += (p.breathCut - 0.5f) * noise * p.breath;
    vibratoPhase = AdvancePhase(vibratoPhase, static_cast<double>(p.vibratoSpeed) / rate);
    const float f =
        (std::sin(kTwoPi * static_cast<float>(vibratoPhase)) * 0.05f * p.vibratoDepth + 1.0f + noise * 0.002f * p.jitter) *
        frequency;
    phase = AdvancePhase(phase, static_cast<double>(std::min(fmax, f)) / rate);
    const float ph = static_cast<float>(phase);
    const float s = std::sin(kTwoPi * ph);
    const float pulse = ph < 0.6f ? (1.0f - std::cos(ph / 0.6f * kPi)) * 0.5f : std::cos((ph - 0.6f) / 0.4f * kPi * 0.5f);
    state.glottal = ((2.0f * pulse - 1.0f) * p.hardness + (1.0f - p.hardness) * s) * c + (1.0f - c) * state.glottal;
    const float source = breath + state.glottal;
    const float bp1 = BandPassStep(source, formants.frequency[0], 3.0f, sampleRate, state.formant1);
    const float bp2 = BandPassStep(source, formants.frequency[1], 4.0f, sampleRate, state.formant2);
    const float bp3 = BandPassStep(source, formants.frequency[2], 5.0f, sampleRate, state.formant3);
    const float y =
        std::tanh((formants.amplitude[0] * bp1 + formants.amplitude[1] * bp2 + formants.amplitude[2] * bp3) * 12.0f);
    float envelope;
    if (k < attack) {
      const float x = static_cast<float>(k) / static_cast<float>(attack);
      envelope = x * x;
    } else if (k < releaseStart) {
      envelope = 1.0f;
    } else {
      envelope = 1.0f - static_cast<float>(k - releaseStart) / static_cast<float>(release);
    }
    // The pulse is lopsided, so its saturation is too: DC blockers before and
    // after the output's knee keep the note centred on zero. The tanh drives
    // the notes whose fundamental meets a formant to +-1, where the clamp at
    // 0.98 flattened them: the knee rounds those peaks below it instead.
    const float limited = outputCentre.Step(SoftCeiling(centre.Step(envelope * y * p.gain), 0.9f));
    WriteMono(out, static_cast<uint64_t>(k), channels, ClampToPcm16(std::clamp(limited, -0.98f, 0.98f) * 28000.0f));
  }
  return ToneSamples(frames, channels);
}

size_t RenderBrass(BrassVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                   const BrassParams& raw, std::span<int16_t> out, const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float rate = static_cast<float>(sampleRate);
  if (!(static_cast<float>(frames) / rate > 0.001f)) return 0;
  const BrassParams p = Sanitised(raw);
  frequency = FiniteOr0(frequency);

  const size_t length = WaveguideLength(sampleRate);
  if (state.tube.size() == length) {
    for (float& v : state.tube) v *= 0.1f;  // the previous note rings on 20 dB lower
  } else {
    state.tube.assign(length, 0.0f);
  }
  state.position = 0;
  state.dcIn = state.dcOut = state.lowPass = 0;
  state.seed = NoteSeed(frequency, 12345);

  const auto n = static_cast<int64_t>(frames);
  const auto nf = static_cast<float>(frames);
  const int64_t attack = std::max<int64_t>(1, FramesFromFloat((p.attack * 0.4f + 0.01f) * nf));
  const int64_t decay = FramesFromFloat((p.decay * 0.4f + 0.01f) * nf);
  const int64_t release = FramesFromFloat((p.release * 0.4f + 0.01f) * nf);
  const int64_t releaseStart = release < n ? n - release : 0;
  const int64_t decayEnd = std::min(releaseStart, attack + decay);
  const float index = 6.0f * p.brilliance + 1.0f;
  const float damping = p.tubeDamping * 0.6f + 0.1f;
  const auto tubeLength = static_cast<float>(length);

  double vibratoPhase = 0, phase = 0;
  float breathNoise = 0;
  DcBlocker centre(sampleRate);
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (int64_t i = 0; i < n; ++i) {
    if (!ticker.Step()) return 0;
    float level;
    if (i < attack)
      level = static_cast<float>(i) / static_cast<float>(attack);
    else if (i < decayEnd)
      level = 1.0f - static_cast<float>(i - attack) / static_cast<float>(decay) * (1.0f - p.sustain);
    else if (i >= releaseStart)
      level = (1.0f - static_cast<float>(i - releaseStart) / static_cast<float>(release)) * p.sustain;
    else
      level = p.sustain;

    const float noise = NextNoise(state.seed);
    vibratoPhase = AdvancePhase(vibratoPhase, static_cast<double>(p.vibratoSpeed) / rate);
    breathNoise = noise * 0.05f + breathNoise * 0.95f;
    const float f = (std::sin(kTwoPi * static_cast<float>(vibratoPhase)) * 0.02f * p.vibratoDepth + 1.0f) * frequency;
    phase = AdvancePhase(phase, static_cast<double>(f) / rate);
    const float angle = kTwoPi * static_cast<float>(phase);
    const float modulation = p.dynamics > 0 ? index * (p.dynamics * level + 1.0f - p.dynamics) : index;
    float u = std::sin(angle + std::sin(angle) * modulation) * level;
    if (p.breath > 0) u += breathNoise * 3.0f * p.breath * 0.4f * level;

    // The tube delay is held at 20 Hz (rate / 20 < the tube's length), and the
    // read position is wrapped whatever its distance, so a low note never
    // reads outside the tube; the carrier above keeps its own frequency.
    const float delay = rate / std::max(20.0f, f);
    float read = std::fmod(static_cast<float>(state.position) - delay, tubeLength);
    if (read < 0) read += tubeLength;
    if (!(read < tubeLength)) read = 0;
    const float r = ReadBetween(state.tube, read);
    state.lowPass = damping * r + (1.0f - damping) * state.lowPass;
    const float h = state.lowPass - state.dcIn + 0.995f * state.dcOut;
    state.dcIn = state.lowPass;
    state.dcOut = h;
    state.tube[state.position] = std::clamp(p.tubeResonance * 0.9f * h + u, -1.2f, 1.2f);
    if (++state.position == length) state.position = 0;
    // The saturated horn wave is lopsided: the DC blocker centres it.
    WriteMono(out, static_cast<uint64_t>(i), channels,
              ClampToPcm16(centre.Step(std::tanh((0.6f * u + 0.4f * h) * p.gain * 3.0f)) * 26000.0f));
  }
  return ToneSamples(frames, channels);
}

namespace {

template <typename Render>
void RenderIntoVector(float seconds, uint32_t sampleRate, uint16_t channels, std::vector<int16_t>& out,
                      Render render) {
  const uint64_t frames = FramesForSeconds(seconds, sampleRate);
  out.resize(ToneSamples(frames, channels));
  if (out.empty() || render(frames, std::span<int16_t>(out)) == 0) out.clear();
}

}  // namespace

void RenderMetallicCymbalSeconds(float seconds, uint32_t sampleRate, uint16_t channels, const CymbalParams& params,
                                 std::vector<int16_t>& out) {
  RenderIntoVector(seconds, sampleRate, channels, out, [&](uint64_t frames, std::span<int16_t> span) {
    return RenderMetallicCymbal(frames, sampleRate, channels, params, span);
  });
}

void RenderFluteNoteSeconds(FluteVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                            uint16_t channels, const FluteParams& params, std::vector<int16_t>& out) {
  RenderIntoVector(seconds, sampleRate, channels, out, [&](uint64_t frames, std::span<int16_t> span) {
    return RenderFluteNote(state, frequency, frames, sampleRate, channels, params, span);
  });
}

void RenderBowedStringSeconds(float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                              const BowedParams& params, std::vector<int16_t>& out) {
  ToneWorkspace workspace;
  RenderIntoVector(seconds, sampleRate, channels, out, [&](uint64_t frames, std::span<int16_t> span) {
    return RenderBowedString(frequency, frames, sampleRate, channels, params, workspace, span);
  });
}

void RenderFormantVoiceSeconds(FormantVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                               uint16_t channels, const VoiceParams& params, std::vector<int16_t>& out) {
  RenderIntoVector(seconds, sampleRate, channels, out, [&](uint64_t frames, std::span<int16_t> span) {
    return RenderFormantVoice(state, frequency, frames, sampleRate, channels, params, span);
  });
}

void RenderBrassSeconds(BrassVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                        uint16_t channels, const BrassParams& params, std::vector<int16_t>& out) {
  RenderIntoVector(seconds, sampleRate, channels, out, [&](uint64_t frames, std::span<int16_t> span) {
    return RenderBrass(state, frequency, frames, sampleRate, channels, params, span);
  });
}

}  // namespace zandrel

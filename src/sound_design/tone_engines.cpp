#include "sound_design/tone_engines.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace zandrel {
namespace {

constexpr float kTonePi = static_cast<float>(M_PI);

// Nearest whole number, halves away from zero, kept as a float so that a huge
// product never meets an integer cast.
float Nearest(float x) { return std::round(x); }

int VoiceCount(int count) { return std::clamp(count, 1, kMaxToneVoices); }

// Spread of voice i of n over -0.5 .. 0.5 (0 for a single voice).
float VoiceOffset(int i, int n) {
  return n < 2 ? 0.0f : static_cast<float>(i) / static_cast<float>(n - 1) - 0.5f;
}

// One oscillator of the main pass, band-limited where the shape has steps.
float OscillatorValue(int shape, double phase, double increment, uint32_t& seed) {
  const auto t = static_cast<float>(phase);
  const auto dt = static_cast<float>(increment);
  switch (shape) {
    case 2: return 2.0f * t - 1.0f - Blep(t, dt);
    case 3: return PolyBlepSquare(t, dt);
    case 4: return PolyBlepPulse(t, dt, 0.25f);
    case 5: return PolyBlepPulse(t, dt, 0.1f);
    case 6: return NextNoise(seed);
    default: return OscillatorShape(shape, t);
  }
}

BasicWaveParams SanitisedTone(BasicWaveParams p) {
  for (float* v : {&p.secondDetune, &p.secondMix, &p.attack, &p.release, &p.cutoff, &p.resonance, &p.noise,
                   &p.unisonDetune, &p.stereoSpread})
    *v = FiniteOr0(*v);
  return p;
}

StringParams SanitisedTone(StringParams p) {
  for (float* v : {&p.damping, &p.feedback, &p.pluckPosition, &p.bodyTone, &p.detuneSpread, &p.width})
    *v = FiniteOr0(*v);
  return p;
}

PianoParams SanitisedTone(PianoParams p) {
  for (float* v : {&p.hammer, &p.stiffness, &p.decay, &p.keyWidth}) *v = FiniteOr0(*v);
  return p;
}

DrumParams SanitisedTone(DrumParams p) {
  for (float* v : {&p.basePitch, &p.pitchSweep, &p.toneDecay, &p.punch, &p.noiseMix, &p.noiseLength,
                   &p.snareColour, &p.snap, &p.gain})
    *v = FiniteOr0(*v);
  return p;
}

void WriteFrame(std::span<int16_t> out, uint64_t i, uint16_t channels, float left, float right, float monoScale,
                float stereoScale) {
  if (channels == 1) {
    out[i] = ClampToPcm16((left + right) * 0.5f * monoScale);
  } else {
    out[2 * i] = ClampToPcm16(left * stereoScale);
    out[2 * i + 1] = ClampToPcm16(right * stereoScale);
  }
}

}  // namespace

size_t RenderBasicWaveform(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                           const BasicWaveParams& raw, ToneWorkspace& workspace, std::span<int16_t> out,
                           const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float seconds = static_cast<float>(frames) / static_cast<float>(sampleRate);
  if (!(frequency > 0.0f) || !std::isfinite(frequency) || !(seconds > 0.001f)) return 0;
  const BasicWaveParams p = SanitisedTone(raw);
  const double rate = sampleRate;

  const float reference = std::max(1.0f, Nearest(seconds * frequency));
  const int voiceCount = VoiceCount(p.unisonVoices);
  workspace.voices.resize(static_cast<size_t>(voiceCount));
  for (int i = 0; i < voiceCount; ++i) {
    OscillatorVoice& v = workspace.voices[static_cast<size_t>(i)];
    const float t = VoiceOffset(i, voiceCount);
    float fv = frequency * std::exp2(t * p.unisonDetune * 100.0f / 1200.0f);
    if (p.loopExact) {
      const float cycles = Nearest(seconds * fv);
      fv = std::max(1.0f, cycles) / seconds;
      // Two voices with one cycle count would beat in phase: nudge the outer
      // ones a cycle apart.
      if (voiceCount > 1 && std::fabs(cycles - reference) < 0.5f) {
        if (t < 0) fv = std::max(1.0f, reference - 1.0f) / seconds;
        if (t > 0) fv = std::max(1.0f, reference + 1.0f) / seconds;
      }
    }
    v.phase1 = 0;
    v.increment1 = fv / rate;
    v.phase2 = 0;
    v.increment2 = 0;
    if (p.secondOn) {
      const float d = fv * std::exp2(p.secondDetune / 12.0f);
      if (p.loopExact) {
        const float e = Nearest(seconds * d);
        v.increment2 = std::max(1.0f, e) / seconds / rate;
        const float w = seconds * fv;
        if (std::fabs(p.secondDetune) > 0.02f && std::fabs(e - w) < 0.5f) {
          v.increment2 = p.secondDetune > 0 ? std::max(1.0f, w + 1.0f) / seconds / rate
                                            : std::max(1.0f, std::max(1.0f, w - 1.0f)) / seconds / rate;
        }
      } else {
        v.increment2 = d / rate;
      }
    }
    const StereoGains gains = EqualPowerGains(t * p.stereoSpread + 0.5f);
    v.left = gains.left;
    v.right = gains.right;
  }

  const float fc = std::min(0.495f * static_cast<float>(sampleRate), 20.0f * std::pow(900.0f, p.cutoff));
  const float g = std::tan(kTonePi * fc / static_cast<float>(sampleRate));
  const float k = 1.0f / (0.707f + 9.0f * p.resonance);
  SvfState leftFilter, rightFilter;
  const float unisonGain = 1.0f / std::sqrt(static_cast<float>(voiceCount));
  const float mix1 = 1.0f - p.secondMix;

  ProgressTicker ticker(progress, (p.loopExact ? 2 : 1) * frames, kToneFramesPerReport);
  if (p.loopExact) {
    // One silent pass over the note with naive shapes leaves the filter in the
    // state the note's end will hand to its start.
    seed = 12345;
    for (uint64_t i = 0; i < frames; ++i) {
      if (!ticker.Step()) return 0;
      float left = 0, right = 0;
      for (OscillatorVoice& v : workspace.voices) {
        float x = mix1 * OscillatorShape(p.shape, static_cast<float>(v.phase1));
        if (p.secondOn) x += p.secondMix * OscillatorShape(p.secondShape, static_cast<float>(v.phase2));
        v.phase1 = AdvancePhase(v.phase1, v.increment1);
        v.phase2 = AdvancePhase(v.phase2, v.increment2);
        left += x * v.left;
        right += x * v.right;
      }
      SvfStep(leftFilter, left * unisonGain, g, k);
      SvfStep(rightFilter, right * unisonGain, g, k);
    }
    for (OscillatorVoice& v : workspace.voices) v.phase1 = v.phase2 = 0;
    seed = 12345;
  }

  const int64_t n = static_cast<int64_t>(frames);
  const int64_t attack = FramesFromFloat(static_cast<float>(frames) * p.attack * 0.5f);
  const int64_t release = FramesFromFloat(static_cast<float>(frames) * p.release * 0.5f);
  constexpr float kScale = 32767.0f * 0.8f;
  for (uint64_t i = 0; i < frames; ++i) {
    if (!ticker.Step()) return 0;
    float left = 0, right = 0;
    for (OscillatorVoice& v : workspace.voices) {
      float x = mix1 * OscillatorValue(p.shape, v.phase1, v.increment1, seed);
      if (p.secondOn) x += p.secondMix * OscillatorValue(p.secondShape, v.phase2, v.increment2, seed);
      v.phase1 = AdvancePhase(v.phase1, v.increment1);
      v.phase2 = AdvancePhase(v.phase2, v.increment2);
      left += x * v.left;
      right += x * v.right;
    }
    left *= unisonGain;
    right *= unisonGain;
    if (p.noise > 0) {
      const float noise = NextNoise(seed);
      left = (1.0f - p.noise) * left + noise * p.noise;
      right = (1.0f - p.noise) * right + noise * p.noise;
    }
    left = SvfStep(leftFilter, left, g, k).lp;
    right = SvfStep(rightFilter, right, g, k).lp;
    const auto frame = static_cast<int64_t>(i);
    float envelope = 1.0f;
    if (frame < attack)
      envelope = static_cast<float>(frame) / static_cast<float>(attack);
    else if (release > 0 && frame >= n - release)
      envelope = 1.0f - static_cast<float>(frame - (n - release)) / static_cast<float>(release);
    WriteFrame(out, i, channels, left * envelope, right * envelope, kScale, kScale);
  }
  return ToneSamples(frames, channels);
}

size_t RenderPhysicalStrings(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate,
                             uint16_t channels, const StringParams& raw, ToneWorkspace& workspace,
                             std::span<int16_t> out, const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  if (!(frequency > 10.0f) || !std::isfinite(frequency)) return 0;
  const StringParams p = SanitisedTone(raw);
  seed = NoteSeed(frequency, 12345);

  const int count = VoiceCount(p.strings);
  // The loop filter mixes each sample with its own previous output: a
  // one-pole low-pass whose delay, with the whole frames of the line and a
  // tuning all-pass for the fraction, comes to the string's period.
  const float pole = p.feedback * p.damping * 0.5f;
  // Carve every string's loop out of one block of the workspace.
  std::array<uint64_t, kMaxToneVoices> lengths{};
  std::array<double, kMaxToneVoices> fractions{};
  std::array<double, kMaxToneVoices> angles{};
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const float t = VoiceOffset(i, count);
    const double hz = static_cast<double>(frequency * std::exp2(t * p.detuneSpread * 100.0f / 1200.0f));
    angles[i] = 2 * M_PI * hz / sampleRate;
    const LoopSplit split = SplitLoop(sampleRate / hz, OnePoleDelay(pole, angles[i]));
    lengths[i] = std::min<uint64_t>(split.frames, sampleRate);
    fractions[i] = split.fraction;
    total += lengths[i];
  }
  std::span<float> block = workspace.Floats(total);
  workspace.lines.resize(static_cast<size_t>(count));
  std::array<StereoGains, kMaxToneVoices> gains{};
  for (int i = 0; i < count; ++i) {
    DelayLine& line = workspace.lines[i];
    line.Excite(lengths[i], seed, p.pluckPosition, block.first(lengths[i]));
    // The comb works in place on values it has already changed, so the pluck
    // can reach several times the noise's range: held to a peak of 1, it can
    // no longer drive the string to full scale. A pluck without a mean leaves
    // no offset in the note.
    RemoveMean(line.loop);
    float peak = 0;
    for (float v : line.loop) peak = std::max(peak, std::fabs(v));
    if (peak > 1.0f)
      for (float& v : line.loop) v /= peak;
    line.tuning.Set(fractions[i], angles[i]);
    block = block.subspan(lengths[i]);
    gains[i] = EqualPowerGains(VoiceOffset(i, count) * p.width + 0.5f);
  }

  const float fc = std::min(0.45f * static_cast<float>(sampleRate), 20.0f * std::pow(1000.0f, p.bodyTone));
  const float g = std::tan(kTonePi * fc / static_cast<float>(sampleRate));
  constexpr float k = 1.4144272f;
  SvfState leftFilter, rightFilter;
  const float norm = 1.0f / std::sqrt(static_cast<float>(count));
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (uint64_t i = 0; i < frames; ++i) {
    if (!ticker.Step()) return 0;
    float left = 0, right = 0;
    for (int s = 0; s < count; ++s) {
      DelayLine& line = workspace.lines[s];
      const uint64_t length = line.loop.size();
      const float y = line.loop[line.position];
      // The loop filter's previous output.
      const float q = line.filter;
      line.filter = ((y + q) * 0.5f * p.damping + (1.0f - p.damping) * y) * p.feedback;
      line.loop[line.position] = line.tuning.Step(line.filter);
      if (++line.position == length) line.position = 0;
      left += y * gains[s].left;
      right += y * gains[s].right;
    }
    left = SvfStep(leftFilter, left * norm, g, k).lp;
    right = SvfStep(rightFilter, right * norm, g, k).lp;
    WriteFrame(out, i, channels, left, right, 32000.0f, 32000.0f);
  }
  return ToneSamples(frames, channels);
}

size_t RenderPhysicalPiano(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                           const PianoParams& raw, ToneWorkspace& workspace, std::span<int16_t> out,
                           const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  if (!(frequency > 10.0f) || !std::isfinite(frequency)) return 0;
  const PianoParams p = SanitisedTone(raw);
  seed = NoteSeed(frequency, 66778);

  const float keyPosition = (12.0f * std::log2(frequency / 440.0f) + 69.0f - 60.0f) / 48.0f;
  const int count = VoiceCount(p.strings);
  // Each string's period is its loop of whole frames plus the delays of the
  // stiffness all-pass and the loop low-pass at the string's frequency, plus a
  // tuning all-pass for the fraction of a frame left.
  const float a = -p.stiffness * 0.8f;
  std::array<uint64_t, kMaxToneVoices> lengths{};
  std::array<double, kMaxToneVoices> periods{};
  std::array<double, kMaxToneVoices> fractions{};
  std::array<double, kMaxToneVoices> angles{};
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const float detune = VoiceOffset(i, count) * 0.05f / 12.0f;
    const double hz = static_cast<double>(std::exp2(detune) * frequency);
    periods[i] = sampleRate / hz;
    angles[i] = 2 * M_PI * hz / sampleRate;
    const LoopSplit split = SplitLoop(periods[i], AllPassDelay(a, angles[i]) + OnePoleDelay(0.5, angles[i]));
    lengths[i] = std::min<uint64_t>(split.frames, sampleRate);
    fractions[i] = split.fraction;
    total += lengths[i];
  }
  std::span<float> block = workspace.Floats(total);
  workspace.pianoStrings.resize(static_cast<size_t>(count));
  const float e = 1.0f - p.hammer;
  for (int i = 0; i < count; ++i) {
    PianoString& string = workspace.pianoStrings[i];
    string = PianoString{};
    string.loop = block.first(lengths[i]);
    block = block.subspan(lengths[i]);
    string.tuning.Set(fractions[i], angles[i]);
    // The hammer's width is a share of the string's period, as it sounds.
    const auto length = static_cast<int64_t>(lengths[i]);
    const int64_t excitation =
        std::min(length, FramesFromFloat((e * 0.6f + 0.2f) * static_cast<float>(periods[i])));
    for (int64_t k = 0; k < excitation; ++k) {
      string.loop[k] = (1.0f - std::cos(2.0f * kTonePi * static_cast<float>(k) / static_cast<float>(excitation))) * 0.5f +
                       NextNoise(seed) * 0.2f * e;
    }
    // The hammer's blow is all one way; without its mean the string swings
    // about zero.
    RemoveMean(string.loop);
  }
  const StereoGains gains = EqualPowerGains(keyPosition * p.keyWidth + 0.5f);
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (uint64_t i = 0; i < frames; ++i) {
    if (!ticker.Step()) return 0;
    float left = 0, right = 0;
    for (int s = 0; s < count; ++s) {
      PianoString& string = workspace.pianoStrings[s];
      const float x = string.loop[string.position];
      const float y = a * x + string.apIn - a * string.apOut;
      string.apIn = x;
      string.apOut = y;
      string.lowPass = string.lowPass + (y - string.lowPass) * 0.5f;
      string.loop[string.position] = string.tuning.Step(string.lowPass) * p.decay;
      if (++string.position == string.loop.size()) string.position = 0;
      left += x * gains.left;
      right += x * gains.right;
    }
    WriteFrame(out, i, channels, left * 0.6f, right * 0.6f, 32000.0f, 32000.0f);
  }
  return ToneSamples(frames, channels);
}

size_t RenderAnalogDrum(uint32_t& seed, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                        const DrumParams& raw, std::span<int16_t> out, const WorkProgress& progress) {
  if (sampleRate == 0 || !FitsToneOutput(frames, channels, out)) return 0;
  const float seconds = static_cast<float>(frames) / static_cast<float>(sampleRate);
  if (!(seconds > 0.001f)) return 0;
  const DrumParams p = SanitisedTone(raw);
  seed = 99999;
  const float rate = static_cast<float>(sampleRate);

  const float toneDecay = 1.0f - std::pow(100.0f, 1.0f - p.toneDecay) * 0.0001f;
  const float noiseDecay = 1.0f - std::pow(50.0f, 1.0f - p.noiseLength) * 0.001f;
  const float sweep = 0.9995f - p.pitchSweep * 0.005f;
  const float fc = std::min(0.45f * rate, 100.0f * std::pow(120.0f, p.snareColour));
  const float g = std::tan(kTonePi * fc / rate);
  const float k = 1.0f / (p.snap * 4.0f + 0.5f);
  SvfState filter;

  float f = p.basePitch * p.pitchSweep * 4.0f + p.basePitch;
  double phase = 0;
  float toneEnvelope = 1.0f, noiseEnvelope = 1.0f;
  const bool punched = p.punch > 0.01f;
  const float drive = 3.0f * p.punch + 1.0f;
  ProgressTicker ticker(progress, frames, kToneFramesPerReport);
  for (uint64_t i = 0; i < frames; ++i) {
    if (!ticker.Step()) return 0;
    phase = AdvancePhase(phase, static_cast<double>(f) / rate);
    const float s = std::sin(2.0f * kTonePi * static_cast<float>(phase));
    const float tone = punched ? std::max(-1.0f, std::min(1.0f, drive * s)) : s;
    const SvfOutput filtered = SvfStep(filter, NextNoise(seed), g, k);
    const float noisePart = 0.5f * filtered.lp + 0.5f * filtered.bp;
    const float y = (noisePart * noiseEnvelope * p.noiseMix + tone * toneEnvelope * (1.0f - p.noiseMix)) * p.gain;
    int16_t sample;
    if (y > 1.0f)
      sample = 32767;
    else if (y < -1.0f)
      sample = -32768;
    else
      sample = ClampToPcm16(y * 32767.0f);
    if (channels == 1) {
      out[i] = sample;
    } else {
      out[2 * i] = sample;
      out[2 * i + 1] = sample;
    }
    if (f > p.basePitch) f = std::max(p.basePitch, f * sweep);
    toneEnvelope *= toneDecay;
    noiseEnvelope *= noiseDecay;
  }
  return ToneSamples(frames, channels);
}

namespace {

template <typename Render>
void RenderToneIntoVector(uint64_t frames, uint16_t channels, std::vector<int16_t>& out, Render render) {
  out.resize(ToneSamples(frames, channels));
  if (out.empty() || render(std::span<int16_t>(out)) == 0) out.clear();
}

}  // namespace

void RenderBasicWaveformSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                         const BasicWaveParams& params, std::vector<int16_t>& out) {
  const uint64_t frames = FramesForSeconds(seconds, sampleRate);
  ToneWorkspace workspace;
  RenderToneIntoVector(frames, channels, out, [&](std::span<int16_t> span) {
    return RenderBasicWaveform(seed, frequency, frames, sampleRate, channels, params, workspace, span);
  });
}

void RenderPhysicalStringsSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                           const StringParams& params, std::vector<int16_t>& out) {
  const uint64_t frames = FramesForSeconds(seconds, sampleRate);
  ToneWorkspace workspace;
  RenderToneIntoVector(frames, channels, out, [&](std::span<int16_t> span) {
    return RenderPhysicalStrings(seed, frequency, frames, sampleRate, channels, params, workspace, span);
  });
}

void RenderPhysicalPianoSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                         const PianoParams& params, std::vector<int16_t>& out) {
  const uint64_t frames = FramesForSeconds(seconds, sampleRate);
  ToneWorkspace workspace;
  RenderToneIntoVector(frames, channels, out, [&](std::span<int16_t> span) {
    return RenderPhysicalPiano(seed, frequency, frames, sampleRate, channels, params, workspace, span);
  });
}

void RenderAnalogDrumSeconds(uint32_t& seed, float seconds, uint32_t sampleRate, uint16_t channels, const DrumParams& params,
                      std::vector<int16_t>& out) {
  const uint64_t frames = FramesForSeconds(seconds, sampleRate);
  RenderToneIntoVector(frames, channels, out, [&](std::span<int16_t> span) {
    return RenderAnalogDrum(seed, frames, sampleRate, channels, params, span);
  });
}

}  // namespace zandrel

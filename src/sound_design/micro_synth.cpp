#include "sound_design/micro_synth.h"

#include <algorithm>
#include <cmath>

#include "platform/text_format.h"

#include "platform/work_progress.h"

namespace zandrel {
namespace {

constexpr ColorRef kOrange = 0xFF9632;
constexpr ColorRef kMixRed = 0x6464FF;

std::vector<KnobChoice> OctaveChoices() {
  return {{"Octave -2", 0x865900},
          {"Octave -1", 0xC48200},
          {"Octave +0", 0xFDAB08},
          {"Octave +1", 0xF7BD4A},
          {"Octave +2", 0xFBD68C}};
}

std::vector<KnobChoice> WaveformChoices() {
  return {{"Sine", 0xFFC864},  {"Triangle", 0x64C8FF},  {"Saw", 0x11D600},   {"Square", 0x0847FD},
          {"Pulse 25%", 0x6464FF}, {"Pulse 10%", 0xFF64C8}, {"Noise", 0xFF9632}};
}

KnobParam Selector(int id, std::string label, std::vector<KnobChoice> choices) {
  KnobParam p = SelectorKnob(id, std::move(label), std::move(choices));
  DefaultToThirdChoice(p);
  return p;
}

KnobParam Octave() { return Selector(kSynthOctaveId, "Octave", OctaveChoices()); }

KnobParam Mix(float defaultValue, ColorRef colour = kMixRed) {
  return RotaryKnob(kSynthMixId, "Mix", defaultValue, colour);
}

// A count knob ("Unison", "Strings", "Polyphony") as a whole number of voices:
// truncated, below 1 counting as 1, and held to the engines' limit before any
// integer conversion.
int Count(float value) { return static_cast<int>(std::clamp(value, 1.0f, static_cast<float>(kMaxToneVoices))); }

}  // namespace

void DefaultToThirdChoice(KnobParam& param) {
  const size_t n = param.items.size();
  param.defaultValue = n > 2 ? 2.5f / static_cast<float>(n) : 0.0f;
}

std::map<int, SynthEngine> BuildSynthEngines() {
  std::map<int, SynthEngine> engines;
  const ColorRef blue = 0x0847FD, green = 0x11D600, sky = 0x64C8FF, cream = 0xFFC864, pink = 0xFF64C8;

  KnobParam waveform = Selector(kSynthWaveformId, "Waveform", WaveformChoices());
  engines[kEngineBasic] = {
      "Basic Waveform",
      {Octave(), waveform, RotaryKnob(3, "Detune", 0.0f, kOrange, "%.2f st", -0.5f, 0.5f),
       RotaryKnob(10, "Noise", 0.0f, kOrange), RotaryKnob(6, "Attack", 0.0f, kOrange),
       RotaryKnob(7, "Release", 0.0f, kOrange), RotaryKnob(8, "Cutoff", 1.0f, kOrange),
       RotaryKnob(9, "Resonance", 0.0f, kOrange), RotaryKnob(4, "Unison", 1.0f, kOrange, "%.0f", 1.0f, 8.0f),
       RotaryKnob(5, "Spread", 0.5f, kOrange), Mix(0.5f)}};
  engines[kEngineStrings] = {
      "Physical Strings",
      {Octave(), RotaryKnob(3, "Fine Tune", 0.0f, kOrange, "%.2f st", -0.5f, 0.5f),
       RotaryKnob(4, "Strings", 1.0f, kOrange, "%.0f", 1.0f, 8.0f), RotaryKnob(5, "Width", 0.5f, kOrange),
       RotaryKnob(20, "Brightness", 0.8f, blue), RotaryKnob(21, "Sustain", 0.8f, blue),
       RotaryKnob(22, "Pluck Pos", 0.15f, blue, "%.0f%%", 0.01f, 0.5f), RotaryKnob(8, "Body Tone", 1.0f, green),
       Mix(0.5f)}};
  engines[kEnginePiano] = {"Physical Piano",
                           {Octave(), RotaryKnob(4, "Polyphony", 2.0f, kOrange, "%.0f", 1.0f, 3.0f),
                            RotaryKnob(33, "Key Width", 0.8f, kOrange), RotaryKnob(30, "Hammer", 0.6f, blue),
                            RotaryKnob(31, "Stiffness", 0.7f, blue), RotaryKnob(32, "Decay", 0.8f, blue), Mix(0.5f)}};
  engines[kEngineDrum] = {"Analog Drum",
                          {RotaryKnob(40, "Base Pitch", 55.0f, kMixRed, "%.0f Hz", 30.0f, 300.0f),
                           RotaryKnob(41, "Pitch Sweep", 0.5f, kMixRed), RotaryKnob(42, "Tone Decay", 0.6f, kMixRed),
                           RotaryKnob(43, "Punch", 0.2f, kMixRed), RotaryKnob(44, "Noise Mix", 0.0f, cream),
                           RotaryKnob(45, "Noise Len", 0.3f, cream), RotaryKnob(46, "Snare Color", 0.6f, cream),
                           RotaryKnob(47, "Snap", 0.2f, cream), Mix(0.7f, green)}};
  engines[kEngineCymbal] = {"Metallic Cymbal",
                            {RotaryKnob(50, "Tone", 0.1f, sky), RotaryKnob(51, "Dissonance", 0.5f, sky),
                             RotaryKnob(52, "Decay", 0.7f, sky), RotaryKnob(53, "Color", 0.1f, sky), Mix(0.7f)}};
  engines[kEngineFlute] = {
      "Flute / Woodwind",
      {Octave(), RotaryKnob(63, "Growl", 0.15f, green), RotaryKnob(66, "Harmonics", 1.0f, green),
       RotaryKnob(67, "Tone Color", 0.5f, green), RotaryKnob(62, "Air / Chiff", 0.5f, cream),
       RotaryKnob(71, "Breath Bright", 0.5f, cream), RotaryKnob(72, "Breath Attack", 0.4f, cream),
       RotaryKnob(70, "Formant", 0.7f, cream), RotaryKnob(64, "Swell", 0.2f, kOrange),
       RotaryKnob(65, "Release", 0.3f, kOrange), RotaryKnob(73, "Waveguide", 0.15f, sky),
       RotaryKnob(74, "Waveguide air loss", 0.15f, sky, "%.3f", 0.0f, 1.0f), RotaryKnob(60, "Vibrato Amt", 0.1f, pink),
       RotaryKnob(61, "Vib Rate", 5.0f, pink, "%.1f Hz", 1.0f, 10.0f), Mix(0.8f)}};
  engines[kEngineBowed] = {"Violin / Bowed",
                           {Octave(), RotaryKnob(90, "Pressure", 0.84f, blue), RotaryKnob(91, "Bow Speed", 0.28f, blue),
                            RotaryKnob(92, "Bow Pos", 0.35f, blue), RotaryKnob(93, "Rosin/Bright", 0.58f, sky),
                            RotaryKnob(94, "Attack", 0.0f, kOrange), RotaryKnob(96, "Body Size", 0.5f, green),
                            RotaryKnob(97, "Vibrato", 0.5f, pink), Mix(0.8f)}};
  engines[kEngineVoice] = {
      "Voice 2 / Formant",
      {Octave(), RotaryKnob(100, "Vowel", 0.0f, sky), RotaryKnob(101, "Gender", 1.0f, sky, "%.2f", 0.5f, 2.0f),
       RotaryKnob(102, "Hardness", 0.6f, blue), RotaryKnob(103, "Jitter", 0.05f, pink, "%.0f%%", 0.0f, 0.2f),
       RotaryKnob(104, "Vib Depth", 0.15f, pink, "%.0f%%", 0.0f, 0.5f),
       RotaryKnob(105, "Vib Speed", 5.5f, pink, "%.1f Hz", 2.0f, 10.0f), RotaryKnob(106, "Breath", 0.2f, kOrange),
       RotaryKnob(107, "Breath Cut", 0.6f, kOrange), RotaryKnob(108, "Attack", 0.15f, green, "%.2f s", 0.0f, 0.5f),
       RotaryKnob(109, "Release", 0.2f, green, "%.2f s", 0.0f, 1.0f), Mix(0.8f)}};
  engines[kEngineBrass] = {
      "Brass / Trumpet",
      {Octave(), RotaryKnob(120, "Brilliance", 0.6f, sky), RotaryKnob(121, "Dynamics", 0.8f, sky),
       RotaryKnob(122, "Breath", 0.0f, blue), RotaryKnob(123, "Tube Res", 0.5f, green),
       RotaryKnob(124, "Tube Damp", 0.3f, green), RotaryKnob(125, "Attack", 0.1f, kOrange, "%.2f s", 0.01f, 0.5f),
       RotaryKnob(126, "Decay", 0.2f, kOrange, "%.2f s", 0.01f, 1.0f), RotaryKnob(127, "Sustain", 0.7f, kOrange),
       RotaryKnob(128, "Release", 0.3f, kOrange, "%.2f s", 0.01f, 1.0f),
       RotaryKnob(129, "Vib Depth", 0.1f, pink, "%.0f%%", 0.0f, 0.5f),
       RotaryKnob(130, "Vib Speed", 5.0f, pink, "%.1f Hz", 2.0f, 10.0f), Mix(0.75f)}};
  return engines;
}

float SynthKnobValues::Value(int id) const {
  const auto it = values.find(id);
  return it == values.end() ? 0.0f : FiniteOr0(it->second);
}

int SynthKnobValues::Selection(int id) const {
  const auto it = selections.find(id);
  return it == selections.end() ? -1 : it->second;
}

SynthKnobValues DefaultKnobValues(const SynthEngine& engine) {
  SynthKnobValues knobs;
  for (const KnobParam& p : engine.knobs) {
    if (!p.items.empty()) {
      // The selector's choice at its default position, as the panel snaps it.
      const auto n = static_cast<int>(p.items.size());
      const int index = std::clamp(static_cast<int>(p.defaultValue * static_cast<float>(n)), 0, n - 1);
      knobs.selections[p.id] = index;
      knobs.values[p.id] = p.minimum + (p.maximum - p.minimum) * ((static_cast<float>(index) + 0.5f) / n);
    } else {
      knobs.values[p.id] = p.defaultValue;
    }
  }
  return knobs;
}

SynthStates::SynthStates() {
  flute.seed = 778899;
  formant.seed = 224466;
  brass.seed = 192837;
}

namespace {
constexpr int kStringsFineTuneId = 3;
}  // namespace

float SynthFrequency(const SynthKnobValues& knobs, int root) {
  float factor = 1.0f;
  if (const int s = knobs.Selection(kSynthOctaveId); s >= 0) {
    factor = std::exp2(static_cast<float>(s - 2));
  } else if (knobs.values.count(kSynthOctaveId)) {
    factor = 0.125f;  // an "Octave" that is no selector reads index -1
  }
  return MidiNoteToHz(static_cast<float>(root)) * factor;
}

BasicWaveParams MapBasicWaveParams(const SynthKnobValues& k) {
  BasicWaveParams p;
  if (const int shape = k.Selection(kSynthWaveformId); shape >= 0)
    p.shape = (shape <= 1 || (shape >= 3 && shape <= 6)) ? shape : 2;
  p.noise = k.Value(10);
  p.unisonVoices = Count(k.Value(4));
  p.stereoSpread = k.Value(5);
  p.attack = k.Value(6);
  p.release = k.Value(7);
  p.cutoff = k.Value(8);
  if (p.cutoff <= 0.001f) p.cutoff = 0.001f;
  p.resonance = k.Value(9);
  p.unisonDetune = 0.1f;
  p.loopExact = true;
  const float detune = k.Value(3);
  if (std::fabs(detune) > 0.01f) {
    p.secondOn = true;
    p.secondDetune = detune;
    p.secondShape = p.shape;
    p.secondMix = 0.5f;
  }
  return p;
}

StringParams MapStringParams(const SynthKnobValues& k) {
  StringParams p;
  p.strings = Count(k.Value(4));
  p.width = k.Value(5);
  p.damping = 1.0f - k.Value(20);
  p.feedback = k.Value(21) * 0.099f + 0.9f;
  p.pluckPosition = k.Value(22);
  p.bodyTone = k.Value(8);
  return p;
}

PianoParams MapPianoParams(const SynthKnobValues& k) {
  PianoParams p;
  p.strings = Count(k.Value(4));
  p.keyWidth = k.Value(33);
  p.hammer = k.Value(30);
  p.stiffness = k.Value(31);
  p.decay = k.Value(32) * 0.049f + 0.95f;
  return p;
}

DrumParams MapDrumParams(const SynthKnobValues& k) {
  DrumParams p;
  p.basePitch = k.Value(40);
  p.pitchSweep = k.Value(41);
  p.toneDecay = k.Value(42);
  p.punch = k.Value(43);
  p.noiseMix = k.Value(44);
  p.noiseLength = k.Value(45);
  p.snareColour = k.Value(46);
  p.snap = k.Value(47);
  p.gain = 0.8f;
  return p;
}

CymbalParams MapCymbalParams(const SynthKnobValues& k) {
  CymbalParams p;
  p.tone = k.Value(50);
  p.dissonance = k.Value(51);
  p.decay = k.Value(52);
  p.attack = 0.0f;
  p.colour = k.Value(53);
  p.gain = 0.8f;
  return p;
}

FluteParams MapFluteParams(const SynthKnobValues& k) {
  FluteParams p;
  p.vibratoAmount = k.Value(60);
  p.vibratoRate = k.Value(61);
  p.growl = k.Value(63);
  p.swell = k.Value(64);
  p.release = k.Value(65);
  p.gain = 0.8f;
  p.harmonics = k.Value(66);
  p.darkness = 1.0f - k.Value(67);
  p.rollOff = 1.8f;
  p.envelopeFollow = 1.0f;
  p.air = k.Value(62);
  p.formant = k.Value(70);
  p.breathBrightness = k.Value(71);
  p.breathAttack = k.Value(72);
  p.waveguideMix = k.Value(73);
  p.waveguideFeedback = 0.998f;
  p.airLoss = k.Value(74);
  return p;
}

BowedParams MapBowedParams(const SynthKnobValues& k) {
  BowedParams p;
  p.pressure = k.Value(90);
  p.bowSpeed = k.Value(91) * 0.33f + 0.05f;
  p.bowPosition = k.Value(92) * 0.45f + 0.05f;
  p.rosin = k.Value(93);
  p.attack = k.Value(94) * 0.5f + 0.01f;
  p.release = p.attack + 0.1f;
  p.vibratoRate = 5.5f;
  p.vibratoDepth = k.Value(97) * 0.01f;
  p.bodySize = k.Value(96);
  p.gain = 1.0f;
  return p;
}

VoiceParams MapVoiceParams(const SynthKnobValues& k) {
  VoiceParams p;
  p.vowel = k.Value(100);
  p.gender = k.Value(101);
  p.hardness = k.Value(102);
  p.jitter = k.Value(103);
  p.vibratoDepth = k.Value(104);
  p.vibratoSpeed = k.Value(105);
  p.breath = k.Value(106) * 0.2f;
  p.breathCut = k.Value(107);
  p.attack = k.Value(108);
  p.release = k.Value(109);
  p.gain = 1.0f;
  return p;
}

BrassParams MapBrassParams(const SynthKnobValues& k) {
  BrassParams p;
  p.brilliance = k.Value(120);
  p.dynamics = k.Value(121);
  p.breath = k.Value(122);
  p.tubeResonance = k.Value(123);
  p.tubeDamping = k.Value(124);
  p.attack = k.Value(125);
  p.decay = k.Value(126);
  p.sustain = k.Value(127);
  p.release = k.Value(128);
  p.vibratoDepth = k.Value(129);
  p.vibratoSpeed = k.Value(130);
  p.gain = 0.8f;
  return p;
}

SynthRenderResult ProbeSynth(int engine, const SynthKnobValues& knobs, int root, uint32_t sampleRate,
                             uint16_t channels, uint64_t frames) {
  SynthRenderResult result;
  result.note.frequency = SynthFrequency(knobs, root);
  // The strings' "Fine Tune" is in semitones, as its unit says.
  if (engine == kEngineStrings) result.note.frequency *= std::exp2(knobs.Value(kStringsFineTuneId) / 12.0f);
  result.note.frames = frames;
  result.note.seconds = sampleRate ? static_cast<float>(frames) / static_cast<float>(sampleRate) : 0.0f;
  const float f = result.note.frequency;
  // What each engine checks before it renders anything (tone_engines.cpp,
  // modelled_engines.cpp); the tests hold the two to each other.
  const float seconds = sampleRate ? static_cast<float>(frames) / static_cast<float>(sampleRate) : 0.0f;
  bool plays = sampleRate != 0 && ToneSamples(frames, channels) > 0;
  switch (engine) {
    case kEngineStrings:
    case kEnginePiano:
      plays = plays && f > 10.0f && std::isfinite(f);
      break;
    case kEngineBowed:
      plays = plays && f >= 20.0f && f <= 10000.0f;
      break;
    case kEngineDrum:
    case kEngineCymbal:
    case kEngineFlute:
    case kEngineVoice:
    case kEngineBrass:
      plays = plays && seconds > 0.001f;
      break;
    default:
      plays = plays && f > 0.0f && std::isfinite(f) && seconds > 0.001f;
      break;
  }
  result.refused = !plays;
  return result;
}

SynthRenderResult RenderSynth(int engine, const SynthKnobValues& knobs, int root, uint32_t sampleRate,
                              uint16_t channels, uint64_t frames, SynthStates& states, std::vector<int16_t>& out,
                              const WorkProgress& progress) {
  SynthRenderResult result = ProbeSynth(engine, knobs, root, sampleRate, channels, frames);
  result.refused = false;
  const float f = result.note.frequency;

  // A long note's buffer is zeroed in reported blocks, then rendered.
  const size_t samples = ToneSamples(frames, channels);
  if (!ZeroedInBlocks(out, samples, SubProgress(progress, 0.0, 0.05))) {
    out.clear();
    result.cancelled = true;
    return result;
  }
  bool stopped = false;
  WorkProgress rendering;
  if (progress) rendering = [&](double fraction) {
    stopped = stopped || !progress(0.05 + 0.95 * fraction);
    return !stopped;
  };
  const std::span<int16_t> span(out);
  ToneWorkspace& w = states.workspace;
  size_t written = 0;
  switch (engine) {
    case kEngineStrings:
      written = RenderPhysicalStrings(states.seeds[1], f, frames, sampleRate, channels, MapStringParams(knobs), w,
                                      span, rendering);
      break;
    case kEnginePiano:
      written = RenderPhysicalPiano(states.seeds[2], f, frames, sampleRate, channels, MapPianoParams(knobs), w,
                                      span, rendering);
      break;
    case kEngineDrum:
      written = RenderAnalogDrum(states.seeds[3], frames, sampleRate, channels, MapDrumParams(knobs),
                                      span, rendering);
      break;
    case kEngineCymbal:
      written = RenderMetallicCymbal(frames, sampleRate, channels, MapCymbalParams(knobs),
                                      span, rendering);
      break;
    case kEngineFlute:
      written = RenderFluteNote(states.flute, f, frames, sampleRate, channels, MapFluteParams(knobs),
                                      span, rendering);
      break;
    case kEngineBowed:
      written = RenderBowedString(f, frames, sampleRate, channels, MapBowedParams(knobs), w,
                                      span, rendering);
      break;
    case kEngineVoice:
      written = RenderFormantVoice(states.formant, f, frames, sampleRate, channels, MapVoiceParams(knobs),
                                      span, rendering);
      break;
    case kEngineBrass:
      written = RenderBrass(states.brass, f, frames, sampleRate, channels, MapBrassParams(knobs),
                                      span, rendering);
      break;
    default:
      written = RenderBasicWaveform(states.seeds[0], f, frames, sampleRate, channels, MapBasicWaveParams(knobs), w,
                                    span, rendering);
      break;
  }
  if (written == 0) {
    out.clear();
    if (stopped) {
      result.cancelled = true;
    } else {
      result.refused = true;
    }
  }
  return result;
}

std::string SynthRefusalText(std::string_view engineName, const SynthNote& note) {
  const std::string name(engineName);
  return Format("The %s engine cannot play this note (%.1f Hz, %.3f s).", name.c_str(),
                static_cast<double>(note.frequency), static_cast<double>(note.seconds));
}

bool MixSynthWithSource(const std::vector<int16_t>& source, const std::vector<int16_t>& synth, float mix,
                        std::vector<int16_t>& out, const WorkProgress& progress) {
  const size_t n = std::max(source.size(), synth.size());
  if (n == 0) return true;
  // Appended as it is mixed, so that a long loop's pages are touched between
  // reports.
  out.clear();
  out.reserve(n);
  ProgressTicker ticker(progress, n, size_t{1} << 18);
  const float keep = 1.0f - mix;
  for (size_t i = 0; i < n; ++i) {
    if (!ticker.Step()) return false;
    const float a = i < source.size() ? static_cast<float>(source[i]) : 0.0f;
    const float b = i < synth.size() ? static_cast<float>(synth[i]) : 0.0f;
    out.push_back(ClampToPcm16(a * keep + b * mix));
  }
  return true;
}

std::string EngineIniFileName(std::string_view engineName) {
  std::string clean;
  for (const char c : engineName) {
    if (std::string_view(" \"/\\:*?<>").find(c) == std::string_view::npos) clean += c;
  }
  return "Settings_" + clean + ".ini";
}

}  // namespace zandrel

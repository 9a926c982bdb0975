#include "sound_design/micro_synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  KnobParam p;
  p.id = id;
  p.label = std::move(label);
  p.valueFormat = "%.0f%%";
  p.minimum = 0.0f;
  p.maximum = 1.0f;
  p.colour = kOrange;
  p.items = std::move(choices);
  p.kind = kKnobSelector;
  DefaultToThirdChoice(p);
  return p;
}

KnobParam Octave() { return Selector(kSynthOctaveId, "Octave", OctaveChoices()); }

// A rotary knob; the usual one shows a percentage of 0..1.
KnobParam Knob(int id, std::string label, float defaultValue, ColorRef colour, std::string format = "%.0f%%",
               float minimum = 0.0f, float maximum = 1.0f) {
  KnobParam p;
  p.id = id;
  p.label = std::move(label);
  p.valueFormat = std::move(format);
  p.defaultValue = defaultValue;
  p.minimum = minimum;
  p.maximum = maximum;
  p.colour = colour;
  p.kind = kKnobRotary;
  return p;
}

KnobParam Mix(float defaultValue, ColorRef colour = kMixRed) { return Knob(kSynthMixId, "Mix", defaultValue, colour); }

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
  engines[kEngineBasic] = {"Basic Waveform",
                           {Octave(), waveform, Knob(3, "Detune", 0.0f, kOrange, "%.2f st", -0.5f, 0.5f),
                            Knob(10, "Noise", 0.0f, kOrange), Knob(6, "Attack", 0.0f, kOrange),
                            Knob(7, "Release", 0.0f, kOrange), Knob(8, "Cutoff", 1.0f, kOrange),
                            Knob(9, "Resonance", 0.0f, kOrange), Knob(4, "Unison", 1.0f, kOrange, "%.0f", 1.0f, 8.0f),
                            Knob(5, "Spread", 0.5f, kOrange), Mix(0.5f)}};
  engines[kEngineStrings] = {
      "Physical Strings",
      {Octave(), Knob(3, "Fine Tune", 0.0f, kOrange, "%.2f st", -0.5f, 0.5f),
       Knob(4, "Strings", 1.0f, kOrange, "%.0f", 1.0f, 8.0f), Knob(5, "Width", 0.5f, kOrange),
       Knob(20, "Brightness", 0.8f, blue), Knob(21, "Sustain", 0.8f, blue),
       Knob(22, "Pluck Pos", 0.15f, blue, "%.0f%%", 0.01f, 0.5f), Knob(8, "Body Tone", 1.0f, green), Mix(0.5f)}};
  engines[kEnginePiano] = {"Physical Piano",
                           {Octave(), Knob(4, "Polyphony", 2.0f, kOrange, "%.0f", 1.0f, 3.0f),
                            Knob(33, "Key Width", 0.8f, kOrange), Knob(30, "Hammer", 0.6f, blue),
                            Knob(31, "Stiffness", 0.7f, blue), Knob(32, "Decay", 0.8f, blue), Mix(0.5f)}};
  engines[kEngineDrum] = {"Analog Drum",
                          {Knob(40, "Base Pitch", 55.0f, kMixRed, "%.0f Hz", 30.0f, 300.0f),
                           Knob(41, "Pitch Sweep", 0.5f, kMixRed), Knob(42, "Tone Decay", 0.6f, kMixRed),
                           Knob(43, "Punch", 0.2f, kMixRed), Knob(44, "Noise Mix", 0.0f, cream),
                           Knob(45, "Noise Len", 0.3f, cream), Knob(46, "Snare Color", 0.6f, cream),
                           Knob(47, "Snap", 0.2f, cream), Mix(0.7f, green)}};
  engines[kEngineCymbal] = {"Metallic Cymbal",
                            {Knob(50, "Tone", 0.1f, sky), Knob(51, "Dissonance", 0.5f, sky),
                             Knob(52, "Decay", 0.7f, sky), Knob(53, "Color", 0.1f, sky), Mix(0.7f)}};
  engines[kEngineFlute] = {"Flute / Woodwind",
                           {Octave(), Knob(63, "Growl", 0.15f, green), Knob(66, "Harmonics", 1.0f, green),
                            Knob(67, "Tone Color", 0.5f, green), Knob(62, "Air / Chiff", 0.5f, cream),
                            Knob(71, "Breath Bright", 0.5f, cream), Knob(72, "Breath Attack", 0.4f, cream),
                            Knob(70, "Formant", 0.7f, cream), Knob(64, "Swell", 0.2f, kOrange),
                            Knob(65, "Release", 0.3f, kOrange), Knob(73, "Waveguide", 0.15f, sky),
                            Knob(74, "Waveguide air loss", 0.15f, sky, "%.3f", 0.0f, 1.0f),
                            Knob(60, "Vibrato Amt", 0.1f, pink), Knob(61, "Vib Rate", 5.0f, pink, "%.1f Hz", 1.0f, 10.0f),
                            Mix(0.8f)}};
  engines[kEngineBowed] = {"Violin / Bowed",
                           {Octave(), Knob(90, "Pressure", 0.84f, blue), Knob(91, "Bow Speed", 0.28f, blue),
                            Knob(92, "Bow Pos", 0.35f, blue), Knob(93, "Rosin/Bright", 0.58f, sky),
                            Knob(94, "Attack", 0.0f, kOrange), Knob(96, "Body Size", 0.5f, green),
                            Knob(97, "Vibrato", 0.5f, pink), Mix(0.8f)}};
  engines[kEngineVoice] = {"Voice 2 / Formant",
                           {Octave(), Knob(100, "Vowel", 0.0f, sky), Knob(101, "Gender", 1.0f, sky, "%.2f", 0.5f, 2.0f),
                            Knob(102, "Hardness", 0.6f, blue), Knob(103, "Jitter", 0.05f, pink, "%.0f%%", 0.0f, 0.2f),
                            Knob(104, "Vib Depth", 0.15f, pink, "%.0f%%", 0.0f, 0.5f),
                            Knob(105, "Vib Speed", 5.5f, pink, "%.1f Hz", 2.0f, 10.0f), Knob(106, "Breath", 0.2f, kOrange),
                            Knob(107, "Breath Cut", 0.6f, kOrange), Knob(108, "Attack", 0.15f, green, "%.2f s", 0.0f, 0.5f),
                            Knob(109, "Release", 0.2f, green, "%.2f s", 0.0f, 1.0f), Mix(0.8f)}};
  engines[kEngineBrass] = {"Brass / Trumpet",
                           {Octave(), Knob(120, "Brilliance", 0.6f, sky), Knob(121, "Dynamics", 0.8f, sky),
                            Knob(122, "Breath", 0.0f, blue), Knob(123, "Tube Res", 0.5f, green),
                            Knob(124, "Tube Damp", 0.3f, green), Knob(125, "Attack", 0.1f, kOrange, "%.2f s", 0.01f, 0.5f),
                            Knob(126, "Decay", 0.2f, kOrange, "%.2f s", 0.01f, 1.0f), Knob(127, "Sustain", 0.7f, kOrange),
                            Knob(128, "Release", 0.3f, kOrange, "%.2f s", 0.01f, 1.0f),
                            Knob(129, "Vib Depth", 0.1f, pink, "%.0f%%", 0.0f, 0.5f),
                            Knob(130, "Vib Speed", 5.0f, pink, "%.1f Hz", 2.0f, 10.0f), Mix(0.75f)}};
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

SynthRenderResult RenderSynth(int engine, const SynthKnobValues& knobs, int root, uint32_t sampleRate,
                              uint16_t channels, uint64_t frames, SynthStates& states, std::vector<int16_t>& out) {
  SynthRenderResult result;
  result.note.frequency = SynthFrequency(knobs, root);
  // The strings' "Fine Tune" is in semitones, as its unit says.
  if (engine == kEngineStrings) result.note.frequency *= std::exp2(knobs.Value(kStringsFineTuneId) / 12.0f);
  result.note.frames = frames;
  result.note.seconds = sampleRate ? static_cast<float>(frames) / static_cast<float>(sampleRate) : 0.0f;
  const float f = result.note.frequency;

  out.assign(ToneSamples(frames, channels), 0);
  const std::span<int16_t> span(out);
  ToneWorkspace& w = states.workspace;
  size_t written = 0;
  switch (engine) {
    case kEngineStrings:
      written = RenderPhysicalStrings(states.seeds[1], f, frames, sampleRate, channels, MapStringParams(knobs), w, span);
      break;
    case kEnginePiano:
      written = RenderPhysicalPiano(states.seeds[2], f, frames, sampleRate, channels, MapPianoParams(knobs), w, span);
      break;
    case kEngineDrum:
      written = RenderAnalogDrum(states.seeds[3], frames, sampleRate, channels, MapDrumParams(knobs), span);
      break;
    case kEngineCymbal:
      written = RenderMetallicCymbal(frames, sampleRate, channels, MapCymbalParams(knobs), span);
      break;
    case kEngineFlute:
      written = RenderFluteNote(states.flute, f, frames, sampleRate, channels, MapFluteParams(knobs), span);
      break;
    case kEngineBowed:
      written = RenderBowedString(f, frames, sampleRate, channels, MapBowedParams(knobs), w, span);
      break;
    case kEngineVoice:
      written = RenderFormantVoice(states.formant, f, frames, sampleRate, channels, MapVoiceParams(knobs), span);
      break;
    case kEngineBrass:
      written = RenderBrass(states.brass, f, frames, sampleRate, channels, MapBrassParams(knobs), span);
      break;
    default:
      written = RenderBasicWaveform(states.seeds[0], f, frames, sampleRate, channels, MapBasicWaveParams(knobs), w,
                                    span);
      break;
  }
  if (written == 0) {
    out.clear();
    result.refused = true;
  }
  return result;
}

std::string SynthRefusalText(std::string_view engineName, const SynthNote& note) {
  const std::string name(engineName);
  const int size = std::snprintf(nullptr, 0, "The %s engine cannot play this note (%.1f Hz, %.3f s).", name.c_str(),
                                 static_cast<double>(note.frequency), static_cast<double>(note.seconds));
  std::string text(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(), "The %s engine cannot play this note (%.1f Hz, %.3f s).", name.c_str(),
                static_cast<double>(note.frequency), static_cast<double>(note.seconds));
  text.resize(text.size() - 1);
  return text;
}

void MixSynthWithSource(const std::vector<int16_t>& source, const std::vector<int16_t>& synth, float mix,
                        std::vector<int16_t>& out) {
  const size_t n = std::max(source.size(), synth.size());
  if (n == 0) return;
  out.resize(n);
  const float keep = 1.0f - mix;
  for (size_t i = 0; i < n; ++i) {
    const float a = i < source.size() ? static_cast<float>(source[i]) : 0.0f;
    const float b = i < synth.size() ? static_cast<float>(synth[i]) : 0.0f;
    out[i] = ClampToPcm16(a * keep + b * mix);
  }
}

std::string EngineIniFileName(std::string_view engineName) {
  std::string clean;
  for (const char c : engineName) {
    if (std::string_view(" \"/\\:*?<>").find(c) == std::string_view::npos) clean += c;
  }
  return "Settings_" + clean + ".ini";
}

}  // namespace zandrel

// The micro synth without a display: the table of its nine tone engines and
// their knobs, the rule that turns one engine's knob values into one engine
// call, and the rule that mixes the note into the loop.
//
// The table is plain data, built once by whoever shows it: for each engine
// index (0, 1, 2, 3, 4, 5, 7, 8, 9; there is no engine 6) its name and its
// knob descriptors in panel order, "Mix" (id 11) always last. A selector's
// default is a normalised position; a rotary knob's is in its own units.
//
// RenderSynth renders one note as long as the loop: the caller passes the
// loop's frame count N, never seconds, so the note covers every frame of it
// ("seconds" for the engines is N / rate). An engine that refuses its note
// (Strings or Piano at 10 Hz or below, Bowed outside 20..10000 Hz, a note of
// 0.001 s or less, a channel count other than 1 or 2) leaves the output empty
// and says so in the result, so that a caller never mixes "nothing" into the
// loop as if it were a note; ProbeSynth tells the same without rendering.
// Rendering and mixing a long loop are long work: both report 0..1 to an
// optional WorkProgress and stop when it says so. Any one thread at a time
// (they allocate).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/knob_param.h"
#include "sound_design/tone_engine.h"
#include "sound_design/modelled_engines.h"
#include "sound_design/tone_engines.h"


namespace zandrel {

inline constexpr int kSynthOctaveId = 1;
inline constexpr int kSynthWaveformId = 2;
inline constexpr int kSynthMixId = 11;

// Engine indices (no engine 6).
enum SynthEngineIndex : int {
  kEngineBasic = 0,
  kEngineStrings = 1,
  kEnginePiano = 2,
  kEngineDrum = 3,
  kEngineCymbal = 4,
  kEngineFlute = 5,
  kEngineBowed = 7,
  kEngineVoice = 8,
  kEngineBrass = 9,
};

struct SynthEngine {
  std::string name;
  std::vector<KnobParam> knobs;  // panel order; "Mix" last
};

// The nine engines by index.
std::map<int, SynthEngine> BuildSynthEngines();

// A selector's default from its own choices: 2.5 / n (the centre of the third
// choice) when n > 2, else 0.
void DefaultToThirdChoice(KnobParam& param);

// The knob values of the shown engine, by id: a rotary knob's value in its own
// units, a selector's chosen index. An id that is missing reads as 0 (value)
// or -1 (not a selector). A value that is not finite reads as 0.
struct SynthKnobValues {
  std::map<int, float> values;
  std::map<int, int> selections;

  float Value(int id) const;
  int Selection(int id) const;
};

// Every knob of |engine| at its default.
SynthKnobValues DefaultKnobValues(const SynthEngine& engine);

// The state the engines keep between renders, owned by the dialog: the noise
// seeds of engines 0 to 3, the working memory, and the voice states of the
// flute, formant voice and brass.
struct SynthStates {
  uint32_t seeds[4] = {12345, 54321, 24680, 112233};
  ToneWorkspace workspace;
  FluteVoiceState flute;
  FormantVoiceState formant;
  BrassVoiceState brass;
  SynthStates();
};

// The note the knobs ask for: its frequency (the root's, times the octave
// factor), its length in frames and seconds (frames / rate).
struct SynthNote {
  float frequency = 0;
  uint64_t frames = 0;
  float seconds = 0;
};

// The frequency of |engine| at MIDI note |root| (0..127 are the notes; any
// int is accepted) with the "Octave" selector of |knobs|: x 2^(s - 2) for
// choice s, x 1/8 for an "Octave" that is no selector, x 1 without one.
float SynthFrequency(const SynthKnobValues& knobs, int root);

// The parameter blocks the knobs give each engine.
BasicWaveParams MapBasicWaveParams(const SynthKnobValues& knobs);
StringParams MapStringParams(const SynthKnobValues& knobs);
PianoParams MapPianoParams(const SynthKnobValues& knobs);
DrumParams MapDrumParams(const SynthKnobValues& knobs);
CymbalParams MapCymbalParams(const SynthKnobValues& knobs);
FluteParams MapFluteParams(const SynthKnobValues& knobs);
BowedParams MapBowedParams(const SynthKnobValues& knobs);
VoiceParams MapVoiceParams(const SynthKnobValues& knobs);
BrassParams MapBrassParams(const SynthKnobValues& knobs);

struct SynthRenderResult {
  bool refused = false;
  bool cancelled = false;  // the progress said stop: the output is empty
  SynthNote note;
};

// The note |engine| would play and whether it refuses it (the engines' own
// checks of rate, channels, length and frequency), without rendering.
SynthRenderResult ProbeSynth(int engine, const SynthKnobValues& knobs, int root, uint32_t sampleRate,
                             uint16_t channels, uint64_t frames);

// Renders |engine| (any index outside the table plays as engine 0) at |root|
// for |frames| frames into |out| (resized to channels x frames, or emptied on
// a refusal).
SynthRenderResult RenderSynth(int engine, const SynthKnobValues& knobs, int root, uint32_t sampleRate,
                              uint16_t channels, uint64_t frames, SynthStates& states, std::vector<int16_t>& out,
                              const WorkProgress& progress = {});

// "The <name> engine cannot play this note (<f> Hz, <s> s)."
std::string SynthRefusalText(std::string_view engineName, const SynthNote& note);

// out[i] = source[i] x (1 - mix) + synth[i] x mix over the longer of the two
// (a missing sample is 0), in float, held to 16 bits and truncated toward 0.
// Both empty: |out| is left as it is. False when |progress| said stop (|out|
// is then incomplete).
bool MixSynthWithSource(const std::vector<int16_t>& source, const std::vector<int16_t>& synth, float mix,
                        std::vector<int16_t>& out, const WorkProgress& progress = {});

// "Settings_" + the name without spaces, double quotes and / \ : * ? < > +
// ".ini" ("Flute / Woodwind" gives "Settings_FluteWoodwind.ini").
std::string EngineIniFileName(std::string_view engineName);

}  // namespace zandrel

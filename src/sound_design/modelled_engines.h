// Five tone engines of the micro synth that model an instrument rather than
// an oscillator: the metallic cymbal, the flute (also the voice of the tuning
// previews), the bowed string, the formant voice and the brass. They follow
// the contract of tone_engine.h: N frames into a caller's span, the number of
// samples written returned (0 = refused), interleaved 16-bit PCM. None writes
// stereo content: with two channels both samples of a frame are equal.
//
// State: the flute, the formant voice and the brass keep a voice state that
// the caller owns (one per engine and owner, e.g. the micro synth dialog or a
// tuning preview). The flute's filter states and the brass tube's quietened
// tail carry from one note to the next; the formant voice resets its state on
// every note. The cymbal keeps nothing; the bowed string keeps nothing but
// takes its two delay lines from a ToneWorkspace and draws its bow noise from
// a Rand15 restarted at state 1, so equal inputs give equal samples.
//
// Real time: FluteVoiceState::Reserve / BrassVoiceState::Reserve (and
// ToneWorkspace::Reserve for the bowed string, two voices, 20 Hz) once for the
// rate in use; a render then allocates nothing.
//
// The ...Seconds forms take the length in seconds (frames =
// FramesForSeconds()) and a vector, resize |out| to channels x N (empty on
// refusal); they allocate and are meant for the UI thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sound_design/tone_engine.h"

namespace zandrel {

// The memory of a two-pole, two-zero filter: the previous two inputs and
// outputs.
struct BiquadState {
  float x1 = 0;
  float x2 = 0;
  float y1 = 0;
  float y2 = 0;
};

// One sample of a peaking equaliser (the audio-EQ cookbook's): |bandwidth| in
// octaves, |gain| a linear amplitude ratio at |centre| Hz (held at 0.45 x
// rate). Results below 1e-20 in magnitude are flushed to 0.
float PeakingEqStep(float x, float centre, float bandwidth, float gain, uint32_t sampleRate, BiquadState& state);

// One sample of a band-pass of 0 dB peak gain at |centre| Hz (held inside
// 20 .. 0.45 x rate) with quality |q|. Results below 1e-20 are flushed to 0.
float BandPassStep(float x, float centre, float q, uint32_t sampleRate, BiquadState& state);

// Six inharmonic square waves through a band-pass and a high-pass. Defaults
// are those of the dialog's knobs (attack 0, gain 0.8).
struct CymbalParams {
  float tone = 0.1f;        // 0..1: base 200 + 800 x tone Hz
  float dissonance = 0.5f;  // 0..1: spreads the upper ratios
  float decay = 0.7f;       // 0..1
  float attack = 0;         // fraction of the note
  float colour = 0.1f;      // 0..1: filter centres
  float gain = 0.8f;
};

// Sine with overtones, breath noise and a waveguide. Defaults are the
// dialog's knob defaults as it maps them (darkness = 1 - Tone Color).
struct FluteParams {
  float vibratoAmount = 0.1f;  // 0..1
  float vibratoRate = 5.0f;    // Hz
  float growl = 0.15f;         // 0..1
  float swell = 0.2f;          // 0..1: attack length
  float release = 0.3f;        // 0..1: release length
  float gain = 0.8f;
  float harmonics = 1.0f;      // 0..1: level of the added overtones
  float darkness = 0.5f;       // 0..1
  float rollOff = 1.8f;        // overtone h has amplitude h^(-2 x rollOff) before tilt
  float envelopeFollow = 1.0f; // 0..1: overtones follow the envelope
  float air = 0.5f;            // 0..1: level of the breath excitation
  float formant = 0.7f;        // 0..1: mix of the formant equaliser
  float breathBrightness = 0.5f;
  float breathAttack = 0.4f;   // 0..1: extra breath at the onset
  float waveguideMix = 0.15f;  // 0..1
  float waveguideFeedback = 0.998f;
  float airLoss = 0.15f;       // 0..1: extra damping in the waveguide
};

// Kept by the caller between notes. The equaliser and breath filter states
// carry over; the waveguide (rate / 20 + 100 floats) is cleared per note.
struct FluteVoiceState {
  BiquadState eq1, eq2;
  SvfState breath1, breath2, breath3;
  float smoother = 0;
  uint32_t seed = 0;
  std::vector<float> waveguide;
  size_t position = 0;
  float dcIn = 0;    // the previous loop low-pass output fed to the DC blocker
  float dcOut = 0;   // the DC blocker's previous output
  float lowPass = 0; // loop low-pass

  // Room for the waveguide at |sampleRate|, so that a render allocates nothing.
  void Reserve(uint32_t sampleRate);
};

// Two-sided bowed waveguide with a friction curve and two body resonances.
// Defaults are those of the dialog's knobs as it maps them.
struct BowedParams {
  float pressure = 0.84f;     // 0..1
  float bowSpeed = 0.1424f;   // "Bow Speed" x 0.33 + 0.05
  float bowPosition = 0.2075f;// fraction of the string, held to 0.02..0.5
  float rosin = 0.58f;        // 0..1
  float attack = 0.01f;       // seconds
  float release = 0.11f;      // seconds
  float vibratoRate = 5.5f;   // Hz, not read: the engine has no vibrato path
  float vibratoDepth = 0.005f;// not read
  float bodySize = 0.5f;      // 0..1
  float gain = 1.0f;
};

// The bowed string's output curve: a cubic that reaches +-1 at +-1 with zero
// slope, and +-1 beyond, so a loud bow saturates without a step.
float BowedSoftClip(float o);

// Glottal pulse through three formant band-passes. Defaults: the dialog's.
struct VoiceParams {
  float vowel = 0;            // 0..1 across five vowels
  float gender = 1.0f;        // formant scale, 0.5..2
  float hardness = 0.6f;      // 0..1
  float jitter = 0.05f;       // 0..1
  float vibratoDepth = 0.15f; // 0..1
  float vibratoSpeed = 5.5f;  // Hz
  float breath = 0.04f;
  float breathCut = 0.6f;     // 0..1
  float attack = 0.15f;       // fraction of the note (0..1)
  float release = 0.2f;       // fraction of the note (0..1)
  float gain = 1.0f;
};

// Reset on every note of the formant voice.
struct FormantVoiceState {
  BiquadState formant1, formant2, formant3;
  float glottal = 0;  // glottal low-pass
  uint32_t seed = 0;
  float smoother = 0; // breath noise smoother
};

// The formants (Hz) and amplitudes of a vowel position.
struct Formants {
  float frequency[3];
  float amplitude[3];
};
// |vowel| 0..1 blends the five vowels of the table linearly; frequencies are
// scaled by |gender|.
Formants VowelFormants(float vowel, float gender);

// Two-operator phase modulation into a resonant tube. Defaults: the dialog's.
struct BrassParams {
  float brilliance = 0.6f;     // 0..1
  float dynamics = 0.8f;       // 0..1
  float breath = 0;            // 0..1
  float tubeResonance = 0.5f;  // 0..1
  float tubeDamping = 0.3f;    // 0..1
  float attack = 0.1f;         // fraction of the note (0..1)
  float decay = 0.2f;          // fraction of the note (0..1)
  float sustain = 0.7f;        // level
  float release = 0.3f;        // fraction of the note (0..1)
  float vibratoDepth = 0.1f;   // 0..1
  float vibratoSpeed = 5.0f;   // Hz
  float gain = 0.8f;
};

// Kept by the caller between notes: the tube (rate / 20 + 100 floats), which
// rings on at one tenth into the next note at the same rate.
struct BrassVoiceState {
  std::vector<float> tube;
  size_t position = 0;
  float dcIn = 0;
  float dcOut = 0;
  float lowPass = 0;
  uint32_t seed = 0;

  void Reserve(uint32_t sampleRate);
};

size_t RenderMetallicCymbal(uint64_t frames, uint32_t sampleRate, uint16_t channels, const CymbalParams& params,
                            std::span<int16_t> out, const WorkProgress& progress = {});
size_t RenderFluteNote(FluteVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate,
                       uint16_t channels, const FluteParams& params, std::span<int16_t> out,
                       const WorkProgress& progress = {});
// Refuses notes outside 20..10000 Hz.
size_t RenderBowedString(float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                         const BowedParams& params, ToneWorkspace& workspace, std::span<int16_t> out,
                         const WorkProgress& progress = {});
size_t RenderFormantVoice(FormantVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate,
                          uint16_t channels, const VoiceParams& params, std::span<int16_t> out,
                          const WorkProgress& progress = {});
size_t RenderBrass(BrassVoiceState& state, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                   const BrassParams& params, std::span<int16_t> out, const WorkProgress& progress = {});

void RenderMetallicCymbalSeconds(float seconds, uint32_t sampleRate, uint16_t channels, const CymbalParams& params,
                                 std::vector<int16_t>& out);
void RenderFluteNoteSeconds(FluteVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                            uint16_t channels, const FluteParams& params, std::vector<int16_t>& out);
void RenderBowedStringSeconds(float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                              const BowedParams& params, std::vector<int16_t>& out);
void RenderFormantVoiceSeconds(FormantVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                               uint16_t channels, const VoiceParams& params, std::vector<int16_t>& out);
void RenderBrassSeconds(BrassVoiceState& state, float frequency, float seconds, uint32_t sampleRate,
                        uint16_t channels, const BrassParams& params, std::vector<int16_t>& out);

}  // namespace zandrel

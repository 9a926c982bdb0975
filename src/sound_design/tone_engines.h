// Four tone engines of the micro synth: the subtractive oscillator, the
// plucked string, the hammered piano string and the analog drum. Each follows
// the contract of tone_engine.h: N frames into a caller's span, working memory
// from a ToneWorkspace, the number of samples written returned (0 = refused).
//
// Seeds: each engine owns a 32-bit noise seed held by the caller. The string,
// piano and drum engines, and the oscillator engine with loop exact, set it at
// the start of every render, so equal inputs give equal samples; the
// oscillator engine without loop exact continues from the seed it finds.
//
// The ...Seconds forms take the length in seconds (frames =
// FramesForSeconds()) and a vector,
// resize |out| to channels x N (empty on refusal) and use a workspace of
// their own; they allocate and are meant for the UI thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sound_design/tone_engine.h"

namespace zandrel {

// Subtractive oscillator: shapes 0 sine, 1 triangle, 2 saw, 3 square, 4 pulse
// 25%, 5 pulse 10%, 6 noise.
struct BasicWaveParams {
  int shape = 2;
  bool secondOn = false;
  int secondShape = 2;
  float secondDetune = -0.07f;  // semitones
  float secondMix = 0.5f;       // 0..1
  float attack = 0;             // fraction of half the note
  float release = 0;            // fraction of half the note
  float cutoff = 1.0f;          // 0..1: 20 x 900^cutoff Hz, at most 0.495 x rate
  float resonance = 0;          // 0..1: Q = 0.707 + 9 x resonance
  float noise = 0;              // 0..1 share of white noise
  int unisonVoices = 1;
  float unisonDetune = 0.1f;    // hundreds of cents of total spread
  float stereoSpread = 0.5f;    // 0..1
  // Every voice plays a whole number of cycles per note and the filter starts
  // settled, so the note loops without a seam.
  bool loopExact = true;
};

// Plucked strings through one output low-pass.
struct StringParams {
  float damping = 0.5f;        // 0..1 share of two-point averaging (0 bright)
  float feedback = 0.99f;      // loop gain per pass
  float pluckPosition = 0.5f;  // fraction of the string
  float bodyTone = 1.0f;       // 0..1: 20 x 1000^bodyTone Hz, at most 0.45 x rate
  int strings = 1;
  float detuneSpread = 0.1f;   // hundreds of cents of total spread
  float width = 0.5f;          // 0..1 stereo spread of the strings
};

// Stiff hammered strings.
struct PianoParams {
  float hammer = 0.5f;     // 0..1 hardness: 1 gives the shortest excitation
  float stiffness = 0;     // 0..1 dispersion
  float decay = 0.98f;     // loop gain per pass
  float reserved = 0.1f;   // not read
  int strings = 1;         // strings per key
  float keyWidth = 1.0f;   // 0..1 stereo spread by key position
};

// Swept sine body plus filtered noise; the pitch is a parameter. The block is
// nine plain floats; the defaults are those of the drum's knobs.
struct DrumParams {
  float basePitch = 55.0f;   // Hz
  float pitchSweep = 0.5f;   // 0..1: the sweep starts at base x (1 + 4 x sweep)
  float toneDecay = 0.6f;    // 0..1
  float punch = 0.2f;        // 0..1
  float noiseMix = 0;        // 0..1
  float noiseLength = 0.3f;  // 0..1
  float snareColour = 0.6f;  // 0..1
  float snap = 0.2f;         // 0..1
  float gain = 0.8f;
};

size_t RenderBasicWaveform(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                           const BasicWaveParams& params, ToneWorkspace& workspace, std::span<int16_t> out,
                           const WorkProgress& progress = {});
size_t RenderPhysicalStrings(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate,
                             uint16_t channels, const StringParams& params, ToneWorkspace& workspace,
                             std::span<int16_t> out, const WorkProgress& progress = {});
size_t RenderPhysicalPiano(uint32_t& seed, float frequency, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                           const PianoParams& params, ToneWorkspace& workspace, std::span<int16_t> out,
                           const WorkProgress& progress = {});
size_t RenderAnalogDrum(uint32_t& seed, uint64_t frames, uint32_t sampleRate, uint16_t channels,
                        const DrumParams& params, std::span<int16_t> out, const WorkProgress& progress = {});

void RenderBasicWaveformSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                         const BasicWaveParams& params, std::vector<int16_t>& out);
void RenderPhysicalStringsSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                           const StringParams& params, std::vector<int16_t>& out);
void RenderPhysicalPianoSeconds(uint32_t& seed, float frequency, float seconds, uint32_t sampleRate, uint16_t channels,
                         const PianoParams& params, std::vector<int16_t>& out);
void RenderAnalogDrumSeconds(uint32_t& seed, float seconds, uint32_t sampleRate, uint16_t channels, const DrumParams& params,
                      std::vector<int16_t>& out);

}  // namespace zandrel

// The shared contract and helpers of the micro synth's tone engines.
//
// An engine renders one note of N frames as interleaved signed 16-bit PCM:
// one sample per frame for one channel, two (left, right) for two channels;
// other channel counts are refused. The note length is a frame count, never
// seconds: "seconds" inside an engine is N / rate, so a note meant to fill a
// loop covers every frame of it. FramesForSeconds() is the one place where a
// length in seconds becomes frames (for callers that think in seconds).
//
// Engines are free functions. The render call writes into a caller-provided
// span and takes its working memory (delay lines, voice records) from a
// ToneWorkspace; once the workspace has been reserved for the rate and the
// voice count, a render allocates nothing and may run on an audio thread.
// A render returns the number of samples written (channels x N), or 0 when the
// engine refuses the note (its validity test fails, the channel count is not
// 1 or 2, or the span is too short); the caller then treats the note as silence.
// A render reports 0..1 to an optional WorkProgress every
// kToneFramesPerReport frames (a note as long as a long loop takes a while)
// and returns 0 as well when it says stop; an empty one costs a counter.
//
// All arithmetic is single precision unless a value is double on purpose
// (oscillator phases); builds must not use -ffast-math or contract a*b+c,
// so the same inputs give the same samples on every build.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/work_progress.h"

namespace zandrel {

// Frames between two progress reports of a render: a few milliseconds of the
// costliest engine.
constexpr uint64_t kToneFramesPerReport = 8192;

// The most voices or strings one note may hold: a count below 1 counts as 1,
// one above this as this (the knobs offer 1 to 8).
inline constexpr int kMaxToneVoices = 64;

// frames = trunc(float seconds x rate); 0 for a negative, zero or non-finite
// length.
uint64_t FramesForSeconds(float seconds, uint32_t sampleRate);

// Samples a note of |frames| frames takes in |channels| channels (0 when the
// channel count is neither 1 nor 2).
size_t ToneSamples(uint64_t frames, uint16_t channels);

// One xorshift step of |state|; the noise value (state & 0x7FFF) / 2^14 - 1 in
// [-1, 1). A state of 0 stays 0 (a constant -1).
float NextNoise(uint32_t& state);

// A phase advanced by |increment| and wrapped into [0, 1) with
// phase - floor(phase), so that an increment of 1 or more (a note at or above
// the rate) still stays in range.
double AdvancePhase(double phase, double increment);

// (int32 frequency) + offset as the seed of a note: the same note always
// starts from the same noise. A frequency beyond int32 is held at its limit,
// a non-finite one counts as 0, so the conversion is always defined.
uint32_t NoteSeed(float frequency, uint32_t offset);

// A frame count from a float (an envelope length): 0 for a value that is not
// positive (NaN included), at most 9e15, so any knob value converts without
// undefined behaviour.
int64_t FramesFromFloat(float value);

// True when |out| has room for a note of |frames| frames in |channels| (1 or
// 2) and the note is not empty.
bool FitsToneOutput(uint64_t frames, uint16_t channels, std::span<const int16_t> out);

// Trapezoidal state-variable filter: g = tan(pi fc / rate), k = 1 / Q.
struct SvfState {
  float s1 = 0;
  float s2 = 0;
};
struct SvfOutput {
  float hp;
  float bp;
  float lp;
};
SvfOutput SvfStep(SvfState& state, float x, float g, float k);

// Equal-power gains for a position clamped to [0, 1] (0 left, 1 right).
struct StereoGains {
  float left;
  float right;
};
StereoGains EqualPowerGains(float position);

// Naive waveform for a phase in [0, 1): 0 sine, 1 triangle, 2 saw, 3 square,
// 4 pulse 25%, 5 pulse 10%; any other code (6, noise) gives 0.
float OscillatorShape(int shape, float phase);

// The polyBLEP step correction for phase t and phase increment dt.
float Blep(float t, float dt);
float PolyBlepSquare(float t, float dt);
float PolyBlepPulse(float t, float dt, float width);

// 440 x 2^((note - 69) / 12) in single precision.
float MidiNoteToHz(float note);

// Conversion of a float sample value to 16 bits: clamped to the 16-bit range,
// otherwise truncated toward zero; NaN gives 0.
int16_t ClampToPcm16(float value);

// A float made safe to compute with: a non-finite value becomes 0.
float FiniteOr0(float value);

// The phase delay, in frames, of a one-pole low-pass y = (1 - pole) x + pole
// y[-1] at |w| radians per frame (pole / (1 - pole) towards 0 Hz).
double OnePoleDelay(double pole, double w);

// The phase delay, in frames, of the first-order all-pass
// (c + z^-1) / (1 + c z^-1) at |w| radians per frame.
double AllPassDelay(double c, double w);

// A first-order all-pass that delays a loop by a fraction of a frame, so a
// delay line of whole frames plus the filters in its loop comes to the exact
// period of its note. Flat in level: it moves the pitch, never the timbre.
struct TuningAllPass {
  float c = 0;
  float x1 = 0;
  float y1 = 0;

  // Coefficient for a delay of |delay| frames (best between 0.5 and 1.5) at
  // |w| radians per frame.
  void Set(double delay, double w);
  float Step(float x) {
    const float y = c * x + x1 - c * y1;
    x1 = x;
    y1 = y;
    return y;
  }
};

// Splits a loop that must come to |period| frames, |filterDelay| of which its
// filters already take, into whole frames (at least 2) and the fraction left
// to a TuningAllPass (kept at 0.5 or more, where that filter is well behaved).
struct LoopSplit {
  uint64_t frames;
  double fraction;
};
LoopSplit SplitLoop(double period, double filterDelay);

// A DC blocker: y = x - x[-1] + pole y[-1], a high-pass at 10 Hz whatever the
// rate, so an engine's output swings about zero.
struct DcBlocker {
  float pole = 0;
  float x1 = 0;
  float y1 = 0;

  explicit DcBlocker(uint32_t sampleRate)
      : pole(1.0f - 2.0f * static_cast<float>(M_PI) * 10.0f / static_cast<float>(sampleRate == 0 ? 1 : sampleRate)) {}
  float Step(float x) {
    const float y = x - x1 + pole * y1;
    x1 = x;
    y1 = y;
    return y;
  }
};

// |x| unchanged up to 0.8 x |ceiling|, then bent by a tanh knee that nears
// +-|ceiling| without reaching it (slope 1 at the knee): an output limit that
// rounds the loudest peaks instead of flattening them at the ceiling.
inline float SoftCeiling(float x, float ceiling) {
  const float knee = 0.8f * ceiling;
  const float a = std::fabs(x);
  if (!(a > knee)) return x;
  const float bent = knee + (ceiling - knee) * std::tanh((a - knee) / (ceiling - knee));
  return x < 0 ? -bent : bent;
}

// Removes the mean of |values| (an excitation that leaves a DC offset in a
// loop would leave it in the note).
void RemoveMean(std::span<float> values);

// One string of the plucked-string engine: a loop of L samples over storage
// owned by the workspace, its read/write position and one filter state.
struct DelayLine {
  std::span<float> loop;
  uint64_t position = 0;
  float filter = 0;  // the loop filter's previous output
  TuningAllPass tuning;

  // L = trunc(rate / frequency), at least 2 and at most |rate| (a frequency
  // below 1 Hz, or none, plays as the longest loop).
  static uint64_t Length(float frequency, uint32_t sampleRate);

  // Points the loop at the first Length() values of |storage| and fills them
  // with noise from |seed|; for 0.01 < pluck < 0.5 a comb (x[j] -= x[(j - d)
  // mod L], in place, d = trunc(L x pluck)) shapes the pluck position.
  void Excite(float frequency, uint32_t sampleRate, uint32_t& seed, float pluckPosition, std::span<float> storage);
  // The same for a loop of |length| frames (at least 2, at most the storage).
  void Excite(uint64_t length, uint32_t& seed, float pluckPosition, std::span<float> storage);
};

// One string of the piano engine: its loop, position, the all-pass filter's
// previous input and output and the loop low-pass state.
struct PianoString {
  std::span<float> loop;
  uint64_t position = 0;
  float apIn = 0;
  float apOut = 0;
  float lowPass = 0;
  TuningAllPass tuning;
};

// One voice of the oscillator engine: both oscillators' phases (double, in
// [0, 1)) and increments, and its stereo gains.
struct OscillatorVoice {
  double phase1 = 0;
  double increment1 = 0;
  double phase2 = 0;
  double increment2 = 0;
  float left = 0;
  float right = 0;
};

// Working memory of one render at a time. Reserve() once (off the audio
// thread) for the highest rate and voice count in use; renders then reuse it.
// Without a reservation a render grows it, which allocates.
class ToneWorkspace {
 public:
  ToneWorkspace() = default;
  ToneWorkspace(const ToneWorkspace&) = delete;
  ToneWorkspace& operator=(const ToneWorkspace&) = delete;
  ToneWorkspace(ToneWorkspace&&) = default;
  ToneWorkspace& operator=(ToneWorkspace&&) = default;

  // Room for |voices| (at most kMaxToneVoices) delay lines of notes at or
  // above |lowestHz| (at least 1) at |sampleRate|.
  void Reserve(uint32_t sampleRate, int voices, float lowestHz = 10.0f);

  // |count| floats set to 0, valid until the next call of Floats().
  std::span<float> Floats(size_t count);

  std::vector<OscillatorVoice> voices;
  std::vector<DelayLine> lines;
  std::vector<PianoString> pianoStrings;

 private:
  std::vector<float> floats_;
};

}  // namespace zandrel

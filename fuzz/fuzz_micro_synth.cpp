// Drives the micro synth's render rule with arbitrary knob values, root
// notes, rates, channel counts and lengths: every engine must give a note of
// exactly channels x frames samples or refuse it, never crash, and never
// convert a float to an integer out of range (this target is built with
// UBSan's float-cast-overflow check). Equal inputs on fresh states must give
// equal samples.
//
// Input: a 10-byte header, then 5-byte knob entries.
//   0      engine index (mod 10; 6 and unknown indices play as engine 0)
//   1-2    root note, little-endian signed 16 bits
//   3-5    sample rate, little-endian 24 bits, mod 384001 (0 included)
//   6-7    frames, little-endian 16 bits
//   8      channels (0..3 as is)
//   9      mix byte: the "Mix" value is byte / 100 - 0.5
//   then per entry: a knob id byte (bit 7: a selector index rather than a
//   value) and a little-endian IEEE float (any bits, NaN and infinities too)
#include <cstdint>
#include <cstring>
#include <vector>

#include "sound_design/micro_synth.h"

using namespace zandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  const int engine = data[0] % 10;
  const int root = static_cast<int16_t>(data[1] | (data[2] << 8));
  const uint32_t rate = (data[3] | (data[4] << 8) | (static_cast<uint32_t>(data[5]) << 16)) % 384001u;
  const uint64_t frames = data[6] | (data[7] << 8);
  const auto channels = static_cast<uint16_t>(data[8] & 3);
  const float mix = data[9] / 100.0f - 0.5f;

  SynthKnobValues knobs;
  for (size_t at = 10; at + 5 <= size; at += 5) {
    float value;
    std::memcpy(&value, data + at + 1, sizeof value);
    const int id = data[at] & 0x7F;
    if (data[at] & 0x80) {
      knobs.selections[id] = static_cast<int>(static_cast<int8_t>(data[at + 1]));
    } else {
      knobs.values[id] = value;
    }
  }

  SynthStates states;
  std::vector<int16_t> note;
  const SynthRenderResult result = RenderSynth(engine, knobs, root, rate, channels, frames, states, note);
  if (result.refused != note.empty()) __builtin_trap();
  if (!result.refused && note.size() != frames * channels) __builtin_trap();

  SynthStates fresh;
  std::vector<int16_t> again;
  RenderSynth(engine, knobs, root, rate, channels, frames, fresh, again);
  if (again != note) __builtin_trap();

  std::vector<int16_t> source(note.size() + 3, 1000);
  std::vector<int16_t> mixed;
  MixSynthWithSource(source, note, mix, mixed);
  if (mixed.size() != source.size()) __builtin_trap();
  (void)SynthRefusalText("Basic Waveform", result.note);
  return 0;
}

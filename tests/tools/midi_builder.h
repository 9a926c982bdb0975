// Builds Standard MIDI Files byte by byte for tests, so each fixture shows
// its point (a division, a running status, a cut-off event) at a glance.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace zandrel::test {

using MidiBytes = std::vector<uint8_t>;

// A variable-length quantity.
inline MidiBytes Vlq(uint32_t v) {
  MidiBytes out{static_cast<uint8_t>(v & 0x7F)};
  while (v >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
  return out;
}

inline MidiBytes Join(std::initializer_list<MidiBytes> parts) {
  MidiBytes out;
  for (const MidiBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline MidiBytes MidiHeader(uint16_t format, uint16_t tracks, uint16_t division) {
  return {'M', 'T', 'h', 'd', 0, 0, 0, 6, static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
          static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks), static_cast<uint8_t>(division >> 8),
          static_cast<uint8_t>(division)};
}

// "MTrk", the body's length, the body (an end-of-track event is not added).
inline MidiBytes Track(const MidiBytes& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  MidiBytes out{'M', 'T', 'r', 'k', static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

inline MidiBytes NoteOn(uint32_t delta, uint8_t note, uint8_t velocity, uint8_t channel = 0) {
  return Join({Vlq(delta), {static_cast<uint8_t>(0x90 | channel), note, velocity}});
}
inline MidiBytes NoteOff(uint32_t delta, uint8_t note, uint8_t channel = 0) {
  return Join({Vlq(delta), {static_cast<uint8_t>(0x80 | channel), note, 64}});
}
inline MidiBytes EndOfTrack(uint32_t delta = 0) { return Join({Vlq(delta), {0xFF, 0x2F, 0x00}}); }
inline MidiBytes Tempo(uint32_t delta, uint32_t microsPerQuarter) {
  return Join({Vlq(delta),
               {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsPerQuarter >> 16),
                static_cast<uint8_t>(microsPerQuarter >> 8), static_cast<uint8_t>(microsPerQuarter)}});
}

}  // namespace zandrel::test

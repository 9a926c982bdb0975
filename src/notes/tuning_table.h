// The tuning remap's catalogue: 251 rows, 25 group headers and 226 tunings,
// in the fixed order the remap dialog lists them.
//
// Each tuning gives eight cent offsets, one per pad of an EP device set to
// scale Major with root C: the pads C, D, E, F, G, A, B and the upper C'
// (0, 2, 4, 5, 7, 9, 11 and 12 semitones above the base C). A pad plays its
// twelve-tone equal-tempered pitch plus that many cents; values beyond
// +/-100 move a pad onto another scale step (the pentatonic rows sound
// C D E G A C' D' E', the non-octave rows give C' a value far from 0).
//
// Texts are UTF-8 and shown as stored: "&&" stands for one "&" in the list,
// and two names keep the mis-encoded characters they have always had.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace zandrel {

// Semitones above the base C of each pad.
inline constexpr std::array<int, 8> kPadSemitones = {0, 2, 4, 5, 7, 9, 11, 12};

struct TuningPreset {
  std::string name;         // list entry; header names begin with one space
  std::string description;  // explanation, then CR LF "Character: ..." and "Usage: ..." lines
  std::array<float, 8> padCents{};
  bool isCategory = false;  // a group header: all cents 0
};

// The whole catalogue, built anew on every call.
std::vector<TuningPreset> BuildTuningPresets();

// Replaces |rows| with the catalogue (a rebuild never appends).
void BuildTuningPresets(std::vector<TuningPreset>& rows);

}  // namespace zandrel

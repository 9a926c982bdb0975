// Key data of the instrument without a window: reading a transpose value,
// laying slices on the notes of a scale (percussive distribution) and
// dividing the keyboard into zones between the regions' root notes (melodic
// distribution).
//
// The functions change only low keys, high keys, root notes, the play mode
// and the instrument-data flag of the InstrumentData they are given; they
// record no undo entry and show no message (the commands in
// note_commands.h do both). Every key they write lies in 0..127.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/instrument.h"

namespace zandrel {

// The largest transpose, up or down, in semitones.
constexpr int kMaxTransposeSemitones = 127;

// A decimal integer as a C library's atoi reads it: leading blanks, an
// optional sign, then digits up to the first other character; no digits give
// 0. Digits beyond the int range saturate instead of overflowing, so a long
// number always reads as out of range, never as a small value.
int64_t ReadLeadingInteger(std::string_view text);

// The percussive distribution's scales (the dialog's radio buttons, in order).
enum class SpreadType : int32_t {
  kChromatic = 0,
  kCMajor = 1,
  kCMinor = 2,
  kMajorWithKey = 3,
  kMinorWithKey = 4,
};

// The notes 0..127, ascending, of the scale that |type| picks with the given
// key (a pitch class 0..11).
std::vector<int32_t> ScaleNotes(SpreadType type, int32_t key);

// Lays the regions, in stored order, on consecutive scale notes from
// |startNote| (0..127): chromatic, C major, C minor, or major/minor in the
// key of the start note (any other type value means C major). Neighbouring
// zones share one key; the first zone starts at 0, the last ends at 127.
// Regions past the end of the scale get root 127, and every high key stays
// within 0..127. Returns the scale's name for the log ("C Major",
// "Major (D4 Key)", with |startNoteText| as typed).
std::string DistributePercussive(InstrumentData& instrument, int32_t startNote, int32_t spreadType,
                                 std::string_view startNoteText);

// The nearest MIDI note to |hz| (halves away from zero), clamped to 0..127;
// nullopt when the estimate failed (not above 0, or not finite).
std::optional<int32_t> NoteFromFrequency(double hz);

// The first index j >= 1 whose root does not lie above the root of region
// j - 1, or nullopt when the roots rise strictly.
std::optional<size_t> FirstNonRisingRoot(const std::vector<Region>& regions);

// The warning for the pair found by FirstNonRisingRoot (|j| as returned).
std::string InvalidRootsMessage(const std::vector<Region>& regions, size_t j);

// How the melodic distribution places the boundary between two roots.
enum class MelodicSpread : int32_t { kCenter = 0, kDownwards = 1, kUpwards = 2 };

// Zones between strictly rising roots: the boundary between roots t < u is
// their middle (kCenter, halves away from zero), t + 1 (kDownwards) or u
// (kUpwards); neighbours share it, each zone holds its root. The roots stay.
// Returns the name for the log ("Center", "Sample Downwards",
// "Sample Upwards"). The caller has checked the roots with
// FirstNonRisingRoot.
std::string DistributeMelodic(InstrumentData& instrument, int32_t distribution);

}  // namespace zandrel

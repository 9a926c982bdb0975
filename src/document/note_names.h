// MIDI note numbers as text: middle C (60) is "C4", MIDI 0 is "C-1", sharps
// only ("C#4"). Parsing also accepts flats ("Bb3") and is case-insensitive.
#pragma once

#include <string>
#include <string_view>

namespace zandrel {

// "C4" for 60; "Invalid" outside 0..127.
std::string MidiNoteName(int note);
// "C4" for 60; "---" outside 0..127 (fields that may hold no key).
std::string NoteNameOrDashes(int note);

// How tightly the octave number must follow the letter and accidental.
enum class NoteNameLayout {
  // White space may come between the name and the octave ("C 4" is 60): the
  // editor's note fields, where a name is the whole entry.
  kLoose,
  // The octave follows the name directly, and a 'b' after the letter is a
  // flat only when the octave's digits or its '-' come next ("Bb3" is 58,
  // "Bb+3" and "C 4" are no names): the form the loop maker reads in its kit
  // start note and note mapping texts ("C2>D4, D2>F#4").
  kCompact,
};

// The MIDI note 0..127 that |text| names, or -1. White space around the text
// is allowed, and in the loose layout also between the name and the octave;
// characters after the octave number are ignored ("C4x" is 60).
int ParseNoteName(std::string_view text, NoteNameLayout layout = NoteNameLayout::kLoose);

}  // namespace zandrel

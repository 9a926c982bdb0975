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
// The MIDI note 0..127 that |text| names, or -1. White space around the text
// and between the name and the octave is allowed; characters after the octave
// number are ignored ("C4x" is 60).
int ParseNoteName(std::string_view text);

}  // namespace zandrel

// The multisample robot's note range, as the user types it, and the texts of
// its device errors.
//
// A note is typed as a MIDI number ("60") or a name with an octave ("C4",
// "F#5", "Bb3", "C-1"); this reader is the robot's own and is stricter than
// the editor's note fields (no blanks, a letter and an octave at the start).
// A run samples From, From + interval, ... up to To. Pure functions; any
// thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

// 0..127 for a number 0..127 or a note name; -1 otherwise.
int ParseNoteOrNumber(std::string_view text);
// "F#5" for 78 (sharps only, C4 = 60); "???" outside 0..127.
std::string FormatNoteName(int note);

// To for a count of notes: from + interval * (count - 1), at most 127.
int MultisampleEndNote(int from, int interval, int count);
// The notes a run plays: from, from + interval, ... up to to (0..127 only).
// Empty when a note does not parse (-1) or the interval is below 1.
std::vector<int> MultisampleNotes(int from, int to, int interval);
// The piano's root and picked key: min(to, max(from, current)).
int MultisamplePianoRoot(int from, int to, int current);

// The text of a MIDI output's open failure (the Windows multimedia codes the
// MIDI system reports). For code 7 on an output whose |productName| names an
// EP device the text says which program may hold it.
std::string MidiErrorText(int code, const std::string& productName);
// The text of an audio input's open failure (AudioInputError codes and the
// rest of the same table).
std::string AudioErrorText(int code);

// The check the start of a run makes of its values, in the order the user is
// told about them; empty when the run may start. Hold and wait are seconds.
std::string MultisampleStartProblem(int from, int to, int interval, int velocity, double hold, double wait);
// The same for the MIDI test (From, velocity, hold); empty when it may play.
std::string MidiTestProblem(int from, int velocity, double hold);

// Longest hold and wait, in seconds: the per-note buffer is reserved for the
// whole hold + wait + 1 s, and the waits are whole milliseconds.
inline constexpr double kMaxMultisampleSeconds = 60.0;

}  // namespace zandrel

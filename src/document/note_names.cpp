#include "document/note_names.h"

#include <cctype>

#include "platform/text_format.h"

namespace zandrel {
namespace {

constexpr const char* kPitchClassNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string MidiNoteName(int note) {
  if (note < 0 || note > 127) return "Invalid";
  return Format("%s%d", kPitchClassNames[note % 12], note / 12 - 1);
}

std::string NoteNameOrDashes(int note) {
  if (note < 0 || note > 127) return "---";
  return MidiNoteName(note);
}

int ParseNoteName(std::string_view text, NoteNameLayout layout) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  if (text.empty()) return -1;

  int semitone;
  switch (std::toupper(static_cast<unsigned char>(text[0]))) {
    case 'C': semitone = 0; break;
    case 'D': semitone = 2; break;
    case 'E': semitone = 4; break;
    case 'F': semitone = 5; break;
    case 'G': semitone = 7; break;
    case 'A': semitone = 9; break;
    case 'B': semitone = 11; break;
    default: return -1;
  }
  size_t used = 1;
  if (text.size() >= 2) {
    const char second = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (second == '#') {
      semitone += 1;
      used = 2;
    } else if (second == 'B') {
      if (layout == NoteNameLayout::kCompact &&
          !(text.size() > 2 && (std::isdigit(static_cast<unsigned char>(text[2])) || text[2] == '-')))
        return -1;
      semitone -= 1;
      used = 2;
    }
  }

  std::string_view rest = text.substr(used);
  if (layout == NoteNameLayout::kLoose)
    while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  // A decimal integer with an optional sign. The octave is bounded before any
  // arithmetic so a long number cannot overflow into a valid note.
  size_t i = 0;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
    negative = rest[i] == '-';
    ++i;
  }
  const size_t digitsStart = i;
  long octave = 0;
  while (i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i]))) {
    if (octave < 1000) octave = octave * 10 + (rest[i] - '0');
    ++i;
  }
  if (i == digitsStart) return -1;
  if (negative) octave = -octave;
  if (octave < -2 || octave > 10) return -1;

  const long note = semitone + 12 * octave + 12;
  return (note >= 0 && note <= 127) ? static_cast<int>(note) : -1;
}

}  // namespace zandrel

#include "tools/sampling/multisample_notes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/text_format.h"

namespace zandrel {

namespace {

// The integer at the start of |text| after an optional sign, as atoi reads it
// (0 when there are no digits); saturated so long digit runs stay out of
// range instead of wrapping.
long LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    value = std::min(value * 10 + (text[i] - '0'), 1000000L);
  return negative ? -value : value;
}

}  // namespace

int ParseNoteOrNumber(std::string_view text) {
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const long value = LeadingInteger(text);
    if (value >= 0 && value <= 127) return static_cast<int>(value);
  }
  if (text.size() < 2) return -1;
  int letter = 0;
  switch (std::toupper(static_cast<unsigned char>(text[0]))) {
    case 'C': letter = 12; break;
    case 'D': letter = 14; break;
    case 'E': letter = 16; break;
    case 'F': letter = 17; break;
    case 'G': letter = 19; break;
    case 'A': letter = 21; break;
    case 'B': letter = 23; break;
    default: return -1;
  }
  const char second = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
  int accidental = 0;
  size_t octaveAt = 1;
  if (second == '#' || second == 'B') {
    if (text.size() < 3) return -1;
    accidental = second == '#' ? 1 : -1;
    octaveAt = 2;
  }
  const long note = letter + LeadingInteger(text.substr(octaveAt)) * 12 + accidental;
  return note >= 0 && note <= 127 ? static_cast<int>(note) : -1;
}

std::string FormatNoteName(int note) {
  static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  if (note < 0 || note > 127) return "???";
  return kNames[note % 12] + std::to_string(note / 12 - 1);
}

int MultisampleEndNote(int from, int interval, int count) {
  const long long to = static_cast<long long>(from) + static_cast<long long>(interval) * (count - 1);
  return static_cast<int>(std::min<long long>(to, 127));
}

std::vector<int> MultisampleNotes(int from, int to, int interval) {
  std::vector<int> notes;
  if (from < 0 || to < 0 || interval < 1) return notes;
  for (int note = from; note <= to && note <= 127; note += interval) notes.push_back(note);
  return notes;
}

int MultisamplePianoRoot(int from, int to, int current) { return std::min(to, std::max(from, current)); }

std::string MidiErrorText(int code, const std::string& productName) {
  switch (code) {
    case 0: return "No error";
    case 2: return "Device ID is out of range";
    case 4: return "Device is already allocated";
    case 5: return "Invalid device handle";
    case 6: return "No device driver is present";
    case 7:
      if (productName.find("EP-40") != std::string::npos || productName.find("EP-1320") != std::string::npos ||
          productName.find("EP-133") != std::string::npos)
        return Format(
            "Unable to open the %s.\n\nThis device may be locked by the EP Sample Tool web application.\n\n"
            "Please close any browser tabs/windows that have the EP Sample Tool open and try again.",
            productName.c_str());
      return "Unable to allocate or lock memory";
    case 64: return "MIDI header was not prepared";
    case 65: return "MIDI device is still playing";
    case 67: return "MIDI device is not ready";
    default: return "Unknown MIDI error (code " + std::to_string(code) + ")";
  }
}

std::string AudioErrorText(int code) {
  switch (code) {
    case 0: return "No error";
    case 2: return "Audio device ID is out of range";
    case 4: return "Audio device is already allocated";
    case 5: return "Invalid audio device handle";
    case 6: return "No audio device driver is present";
    case 7: return "Unable to allocate or lock memory";
    case 32: return "Audio format is not supported";
    case 33: return "Audio device is still playing";
    case 34: return "Audio buffer was not prepared";
    case 35: return "Device is synchronous";
    default: return "Unknown audio error (code " + std::to_string(code) + ")";
  }
}

std::string MultisampleStartProblem(int from, int to, int interval, int velocity, double hold, double wait) {
  if (from < 0 || to < 0)
    return "Invalid start or end note. Please enter valid note names (e.g., C3) or MIDI numbers (0-127).";
  if (to < from) return "Start note must be less than or equal to end note.";
  if (interval <= 0) return "Sample interval must be at least 1.";
  if (velocity < 1 || velocity > 127) return "Key velocity must be between 1 and 127.";
  // The negated comparisons refuse NaN as well.
  if (!(hold > 0 && hold <= kMaxMultisampleSeconds) || !(wait >= 0 && wait <= kMaxMultisampleSeconds))
    return "Invalid timing parameters.";
  return {};
}

std::string MidiTestProblem(int from, int velocity, double hold) {
  if (from < 0) return "Invalid start note. Please enter a valid note name (e.g., C3) or MIDI number (0-127).";
  if (velocity < 1 || velocity > 127) return "Key velocity must be between 1 and 127.";
  if (!(hold > 0)) return "Hold time must be greater than 0.";
  if (!(hold <= kMaxMultisampleSeconds)) return "Hold time must be at most 60 seconds.";
  return {};
}

}  // namespace zandrel

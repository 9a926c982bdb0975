// Drum patterns as note events: MPC pattern files (".mpcpattern", a text file
// with an "events" array of note objects) and Standard MIDI Files, both turned
// into PatternEvent records on one time base of 960 ticks per quarter note.
//
// The MPC reader is a tolerant text scanner, not a JSON parser: it looks only
// for braces, brackets, quoted keys and numbers, so files that a strict parser
// would refuse still give their notes. Both readers work on bytes held in
// memory; the file functions read at most kMaxPatternFileBytes and give an
// empty list for anything larger. Failure is always an empty list; nothing
// here shows a message. At most kMaxPatternEvents events are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

inline constexpr int64_t kTicksPerQuarter = 960;
inline constexpr int64_t kTicksPerBar = 4 * kTicksPerQuarter;  // one 4/4 bar
inline constexpr size_t kMaxPatternEvents = 65536;
inline constexpr size_t kMaxPatternFileBytes = 4u << 20;

// One note of a pattern. Only type, time, note and velocity are used further
// on; the other fields are carried along as the file gave them.
struct PatternEvent {
  int32_t type = 0;    // 2 = note (the MIDI reader writes only notes)
  int64_t time = 0;    // start, ticks at 960 per quarter note
  int64_t len = 0;     // length, ticks at 960 per quarter note
  int32_t note = 0;    // MIDI note number
  double velocity = 0; // 0..1
  int32_t key3 = 0;    // the MPC key "3"; 0 from MIDI
  int32_t mod = 0;     // MPC "mod"; 0 from MIDI
  double modVal = 0;   // MPC "modVal"; 0.5 from MIDI

  bool operator==(const PatternEvent&) const = default;
};

// The number after |quotedKey| (key with its quote marks) in |object|: the
// token after the following ':' (white space and '"' skipped) up to ',', '}'
// or white space, read as a decimal number. 0 when the key is missing, the
// token is no number, or the number is out of range or not finite.
double ReadJsonNumberField(std::string_view object, std::string_view quotedKey);

// The events of an MPC pattern text, in file order. Numbers that do not fit
// a field are clamped to its range before they are truncated.
std::vector<PatternEvent> ReadMpcPatternText(std::string_view text);
// The same for a file; a file that cannot be opened also writes
// "Failed to open file: <path>" to the standard error stream.
std::vector<PatternEvent> ReadMpcPattern(const std::filesystem::path& path);

// The notes of a Standard MIDI File, sorted by time. A division of 0 or an
// SMPTE division gives nothing; a cut-off event ends the reading and keeps
// what was found before it.
std::vector<PatternEvent> ReadMidiBytes(std::span<const uint8_t> bytes);
std::vector<PatternEvent> ReadMidiFile(const std::filesystem::path& path);

// The whole file, or nothing when it cannot be read or is larger than
// |maxBytes|.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path, size_t maxBytes = kMaxPatternFileBytes);

// The loop maker's note names, ParseNoteName's compact layout: "C4" = 60,
// "c#2" = 37, "Eb4" = 63, "C-1" = 0; no space before the octave, and a 'b'
// after the letter is a flat only when a digit or '-' follows it ("Bb3" = 58,
// "B3" = 59). -1 for anything that is no note name in 0..127.
int ParsePatternNoteName(std::string_view text);

}  // namespace zandrel

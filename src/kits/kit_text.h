// Text rules shared by the kit readers: saturating digit runs, ASCII case
// folding, the file-name part of a sample reference and the note a sample's
// file name names.
//
// Kit files come from other programs and other disks: digit runs may be any
// length (they saturate instead of overflowing) and references use either
// separator. Text is UTF-8; only ASCII letters fold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zandrel {

// An optional sign and one or more decimal digits at the start of |text|
// (after white space when |skipSpace|), anything after them ignored. The
// value saturates at the 32-bit range. False when no digit follows.
bool ParseSaturatedInt(std::string_view text, int64_t& value, bool skipSpace = false);

std::string FoldAsciiCase(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix);
// Orders names folding ASCII case; names that differ only in case are ordered
// by their bytes, so the order never depends on how a folder lists them.
bool FileNameLess(std::string_view a, std::string_view b);

// The part after the last "/" or "\".
std::string_view FileNamePart(std::string_view reference);

// The MIDI note a sample's name names, or -1: the first note name in it
// ("Piano C3.wav" gives 48, "F#2" 42), else the first run of digits below 128
// ("Pad_072.wav" gives 72; "Kick 808.wav" has none). Only the file-name part
// is read: a folder such as "Library 2" names no note.
int ParseNoteFromFileName(std::string_view name);

}  // namespace zandrel

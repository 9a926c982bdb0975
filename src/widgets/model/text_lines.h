// Small text helpers shared by the readers and writers of the knob presets
// and the parameter files: line splitting that takes LF and CRLF and a last
// line without a newline, trimming, a locale-independent number reader, a
// one-value printf for the knobs' value formats, and whole-file reading.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

// Blanks, tabs, CR, LF, vertical tab and form feed on both sides.
std::string_view TrimBlanks(std::string_view text);

// The lines of |text| without their line ends ("\n" or "\r\n"); a final line
// end adds no empty line, a missing one loses nothing.
std::vector<std::string_view> SplitTextLines(std::string_view text);

// Reading a decimal number the way the files want it, in any locale: an
// optional sign, digits with a point, an optional exponent; what follows the
// number is ignored. Text that is no number reads as 0 (kNotANumber); "nan",
// "inf" and values beyond the double range are refused (kRefused) so that the
// caller keeps what it had.
struct ParsedNumber {
  enum Kind { kNumber, kNotANumber, kRefused };
  Kind kind = kNotANumber;
  double value = 0.0;
};
ParsedNumber ParseFileNumber(std::string_view text);

// Formats one double with a printf format such as "%.0f%%" or "%.1f dB", in
// the "C" locale. The format may hold one floating-point conversion (flags,
// width and precision allowed) and any number of "%%"; any other format is not
// trusted with the value and "%g" is used instead.
std::string FormatOneValue(std::string_view format, double value);

// The whole content of a file; false when it can't be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string* text);

}  // namespace zandrel

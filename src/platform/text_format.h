// Numbers in text that never depend on the process locale.
//
// The UI toolkit switches the process locale to the user's, so a plain
// snprintf("%.2f") could print "120,00" into a log line or a text file, and
// strtod would stop reading "97.5" at its point. Every piece of code that
// turns numbers into text goes through Format(), which formats in the "C"
// locale on the calling thread only; numbers the user types are read with
// the readers below (files and settings use std::from_chars, which never
// looks at the locale either).
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

namespace zandrel {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Numbers typed into a field. A German or French user types "97,5" where
// an English one types "97.5": both are 97.5, whatever the locale. The
// number is an optional sign, digits with at most one decimal separator
// (point or comma; ".5" and "5." count) and an optional exponent ("1e3");
// there are no group separators, so "1,234" is 1.234.

// The number |text| starts with after blanks, as a C reader takes the start
// of a text ("97.5 BPM" is 97.5); nullopt when it starts with none or the
// number lies beyond a double ("1e999").
std::optional<double> ReadLeadingTypedNumber(std::string_view text);
// The whole of |text| as one number (blanks around it allowed); nullopt
// when it is not one ("3.5s", "", "1.5.2").
std::optional<double> ReadTypedNumber(std::string_view text);
// |text| with the decimal comma of the number it starts with written as a
// point ("97,5 BPM" gives "97.5 BPM"); any other text comes back unchanged.
// What a typed field stores, so a stored number always has a point.
std::string WithDecimalPoint(std::string_view text);

}  // namespace zandrel

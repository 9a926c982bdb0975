// How the property pages read the numbers typed into their fields.
//
// The pages never refuse input: text that is no number reads as 0 and the
// page then clamps it. Both readers take what a C reader would (leading
// blanks, a sign, then the longest number; "12abc" is 12) but never depend on
// the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zandrel {

// A decimal integer; 0 when the text starts with no number. Values beyond
// the 64-bit range saturate.
int64_t ParseInteger(std::string_view text);
// A decimal floating-point number; 0 when the text starts with no number.
// "nan" and "inf" read as such, and a number too large or too small for a
// double reads as NaN, so callers can keep their old value for anything that
// is not finite.
double ParseDecimal(std::string_view text);
// |text| with A-Z lowered.
std::string AsciiLower(std::string_view text);

}  // namespace zandrel

// printf-style formatting that never depends on the process locale.
//
// The UI toolkit switches the process locale to the user's, so a plain
// snprintf("%.2f") could print "120,00" into a log line or a text file. Every
// piece of core code that formats numbers into text goes through Format(),
// which formats in the "C" locale on the calling thread only.
#pragma once

#include <cstdarg>
#include <string>

namespace zandrel {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

}  // namespace zandrel

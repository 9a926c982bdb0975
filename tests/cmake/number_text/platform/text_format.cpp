// The helper may convert through the C library: it sets the "C" locale first.
#include <cstdarg>
#include <cstdio>

int Measure(const char* fmt, va_list args) { return std::vsnprintf(nullptr, 0, fmt, args); }

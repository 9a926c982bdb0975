// Nothing here converts a number through the process locale, though the
// names of such calls appear in comments and strings: strtod(text), atof.
#include <cstdio>
#include <cstdlib>

#include "platform/text_format.h"

void Fine(char* out, size_t size, int n, const char* name, const char* text) {
  std::snprintf(out, size, "%d%% of %s, %5.3s", n, name, name);
  const std::string level = zandrel::Format("%.2f", 1.5);
  const char* quoted = "std::stod(s) and snprintf(out, 9, \"%f\", x) in a string";
  const char* raw = R"(sscanf(text, "%f", &v))";
  std::sscanf(text, "%d %s %[0-9.eE]", &n, out, out);
  /* printf("%f", 1.0); */
  const int million = 1'000'000;
  std::snprintf(out, size, "%d", million);
  const long whole = strtol(text, nullptr, 10);
  number.stod(text);  // a member of that name is another function
}

// Every call below turns a number into text, or text into a number, through
// the process locale: the check must name each one, on its line.
#include <cstdio>
#include <cstdlib>
#include <string>

double Reads(const char* text, const std::string& s, int& n) {
  double sum = strtod(text, nullptr);
  sum += std::strtof(text, nullptr);
  sum += atof(text);
  sum += std::stod(s);
  sum += std::stof(s);
  float f = 0;
  std::sscanf(text, "%d %f", &n, &f);
  return sum + f;
}

void Writes(char* out, size_t size, double v, const char* format) {
  std::snprintf(out, size, "%.2f", v);
  std::snprintf(out, size,
                "level %d, "
                "gain %+08.3e dB",
                1, v);
  sprintf(out, "%g", v);
  printf("%Lf\n", 1.0L);
  std::snprintf(out, size, format, v);
}

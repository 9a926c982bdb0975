#include "platform/text_format.h"

#include <clocale>
#include <cstdio>
#include <locale.h>

namespace zandrel {
namespace {

// The "C" locale object is created once and never freed: it is shared by all
// threads and uselocale() only makes it current on the calling thread.
locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

class ScopedCLocale {
 public:
  ScopedCLocale() : previous_(CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(nullptr)) {}
  ~ScopedCLocale() {
    if (previous_) uselocale(previous_);
  }
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

std::string FormatV(const char* fmt, va_list args) {
  ScopedCLocale cLocale;
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string out(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), fmt, args);
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = FormatV(fmt, args);
  va_end(args);
  return out;
}

}  // namespace zandrel

#include "platform/text_format.h"

#include <charconv>
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

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the typed number at the start of a text lies: [begin, end), with
// its decimal separator at |separator| (npos: none). end == begin: none.
struct TypedNumberSpan {
  size_t begin = 0;
  size_t end = 0;
  size_t separator = std::string_view::npos;
};

TypedNumberSpan FindTypedNumber(std::string_view text) {
  TypedNumberSpan span;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && IsBlank(text[i])) ++i;
  span.begin = span.end = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  for (; i < n && IsDigit(text[i]); ++i) ++digits;
  if (i < n && (text[i] == '.' || text[i] == ',')) {
    size_t j = i + 1, fraction = 0;
    for (; j < n && IsDigit(text[j]); ++j) ++fraction;
    // A lone separator, or a sign and a separator, is no number.
    if (digits + fraction > 0) {
      span.separator = i;
      i = j;
      digits += fraction;
    }
  }
  if (digits == 0) return span;
  // An exponent counts only with digits: "2e" is 2 followed by "e".
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < n && IsDigit(text[j])) {
      while (j < n && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  span.end = i;
  return span;
}

std::optional<double> ReadSpan(std::string_view text, const TypedNumberSpan& span) {
  if (span.end == span.begin) return std::nullopt;
  // from_chars wants a point, no plus sign, and a digit on both sides of
  // the point.
  std::string number;
  number.reserve(span.end - span.begin + 2);
  for (size_t i = span.begin; i < span.end; ++i) {
    const char c = text[i];
    if (c == '+' && i == span.begin) continue;
    if (i == span.separator) {
      if (number.empty() || !IsDigit(number.back())) number += '0';
      number += '.';
      if (i + 1 == span.end || !IsDigit(text[i + 1])) number += '0';
      continue;
    }
    number += c;
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> ReadLeadingTypedNumber(std::string_view text) { return ReadSpan(text, FindTypedNumber(text)); }

std::optional<double> ReadTypedNumber(std::string_view text) {
  const TypedNumberSpan span = FindTypedNumber(text);
  for (size_t i = span.end; i < text.size(); ++i)
    if (!IsBlank(text[i])) return std::nullopt;
  return ReadSpan(text, span);
}

std::string WithDecimalPoint(std::string_view text) {
  std::string out(text);
  const TypedNumberSpan span = FindTypedNumber(text);
  if (span.end != span.begin && span.separator != std::string_view::npos) out[span.separator] = '.';
  return out;
}

}  // namespace zandrel

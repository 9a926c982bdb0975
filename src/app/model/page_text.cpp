#include "app/model/page_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/text_format.h"

namespace zandrel {
namespace {

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return text;
}

}  // namespace

int64_t ParseInteger(std::string_view text) {
  text = SkipBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  constexpr uint64_t kMaxMagnitude = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t magnitude = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    magnitude = magnitude > kMaxMagnitude / 10 ? kMaxMagnitude : std::min(kMaxMagnitude, magnitude * 10 + (c - '0'));
  }
  if (negative) return magnitude == kMaxMagnitude ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
  return magnitude >= kMaxMagnitude ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(magnitude);
}

double ParseDecimal(std::string_view typed) {
  // A German or French user types a decimal comma.
  const std::string pointed = WithDecimalPoint(SkipBlanks(typed));
  std::string_view text = pointed;
  // from_chars takes a minus sign but no plus sign.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<double>::quiet_NaN();
  if (error != std::errc()) return 0.0;
  return value;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

}  // namespace zandrel

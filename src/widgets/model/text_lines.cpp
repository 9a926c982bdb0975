#include "widgets/model/text_lines.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/text_format.h"

namespace zandrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool StartsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// True when |format| holds exactly one conversion of a double and otherwise
// only "%%" escapes.
bool IsOneDoubleFormat(std::string_view format) {
  int conversions = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (++i >= format.size()) return false;
    if (format[i] == '%') continue;
    while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) ++i;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    if (i < format.size() && format[i] == '.') {
      ++i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    }
    if (i < format.size() && format[i] == 'l') ++i;  // "%lf" means the same double
    if (i >= format.size() || std::string_view("fFeEgGaA").find(format[i]) == std::string_view::npos) return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string FormatChecked(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitTextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = next;
  }
  return lines;
}

ParsedNumber ParseFileNumber(std::string_view text) {
  text = TrimBlanks(text);
  std::string_view digits = text;
  // from_chars takes a minus sign but no plus sign.
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  std::string_view word = digits;
  if (!word.empty() && word.front() == '-') word.remove_prefix(1);
  if (StartsWithNoCase(word, "nan") || StartsWithNoCase(word, "inf")) return {ParsedNumber::kRefused, 0.0};
  if (!digits.empty() && digits.front() == '-' && text.front() == '+') return {};  // "+-1" is no number
  double value = 0.0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc::invalid_argument) return {};
  if (ec == std::errc::result_out_of_range || !std::isfinite(value)) return {ParsedNumber::kRefused, 0.0};
  return {ParsedNumber::kNumber, value};
}

std::string FormatOneValue(std::string_view format, double value) {
  if (!IsOneDoubleFormat(format)) return Format("%g", value);
  const std::string terminated(format);
  return FormatChecked(terminated.c_str(), value);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace zandrel

#include "kits/kit_text.h"

#include <algorithm>
#include <limits>

#include "document/note_names.h"

namespace zandrel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kMin = std::numeric_limits<int32_t>::min();

}  // namespace

bool ParseSaturatedInt(std::string_view text, int64_t& value, bool skipSpace) {
  size_t i = 0;
  if (skipSpace)
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
      ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t start = i;
  int64_t v = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) v = std::min<int64_t>(v * 10 + (text[i] - '0'), kMax + 1);
  if (i == start) return false;
  value = negative ? std::max(-v, kMin) : std::min(v, kMax);
  return true;
}

std::string FoldAsciiCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

bool FileNameLess(std::string_view a, std::string_view b) {
  const int folded = FoldAsciiCase(a).compare(FoldAsciiCase(b));
  return folded != 0 ? folded < 0 : a < b;
}

std::string_view FileNamePart(std::string_view reference) {
  const size_t slash = reference.find_last_of("/\\");
  return slash == std::string_view::npos ? reference : reference.substr(slash + 1);
}

int ParseNoteFromFileName(std::string_view name) {
  std::string text(FileNamePart(name));
  for (char& c : text) c = UpperAscii(c);

  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] < 'A' || text[i] > 'G') continue;
    std::string candidate(1, text[i]);
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '#' || text[j] == 'B')) candidate += text[j++];
    if (j < text.size() && IsDigit(text[j])) candidate += text[j];
    const int note = ParseNoteName(candidate);
    if (note >= 0 && note <= 127) return note;
  }

  for (size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) value = std::min<int64_t>(value * 10 + (text[i] - '0'), kMax);
    if (value < 128) return static_cast<int>(value);
  }
  return -1;
}

}  // namespace zandrel

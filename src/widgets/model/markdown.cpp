#include "widgets/model/markdown.h"

#include <algorithm>

namespace zandrel {
namespace {

bool IsMarker(char c) { return c == '*' || c == '_' || c == '`'; }

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\v' ||
                        s.back() == '\f'))
    s.remove_suffix(1);
  return s;
}

std::string_view TrimBoth(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

void AddRun(std::vector<TextSegment>& out, std::string_view text, bool bold, bool italic, bool code) {
  if (text.empty()) return;
  TextSegment s;
  s.text = std::string(text);
  s.bold = bold;
  s.italic = italic;
  s.code = code;
  out.push_back(std::move(s));
}

void ParseInline(std::string_view line, std::vector<TextSegment>& out) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    const char c = line[i];
    if ((c == '*' || c == '_') && i + 1 < n && line[i + 1] == c) {
      const char pair[] = {c, c};
      const size_t close = line.find(std::string_view(pair, 2), i + 2);
      if (close != std::string_view::npos) {
        AddRun(out, line.substr(i + 2, close - i - 2), true, false, false);
        i = close + 2;
        continue;
      }
    }
    if ((c == '*' || c == '_') && i + 1 < n) {
      const size_t close = line.find(c, i + 1);
      if (close != std::string_view::npos) {
        AddRun(out, line.substr(i + 1, close - i - 1), false, true, false);
        i = close + 1;
        continue;
      }
    }
    if (c == '`' && i + 1 < n) {
      const size_t close = line.find('`', i + 1);
      if (close != std::string_view::npos) {
        AddRun(out, line.substr(i + 1, close - i - 1), false, false, true);
        i = close + 1;
        continue;
      }
    }
    // A plain run up to the next marker. A marker that found no partner
    // (or ends the line) is shown as it is and the run goes on past it;
    // otherwise the run would be empty and the loop would never advance.
    size_t end = i + (IsMarker(c) ? 1 : 0);
    while (end < n && !IsMarker(line[end])) ++end;
    AddRun(out, line.substr(i, end - i), false, false, false);
    i = end;
  }
}

}  // namespace

std::vector<MarkdownLine> parseMarkdown(std::string_view text) {
  std::vector<MarkdownLine> lines;
  bool inCode = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view source = text.substr(start, end - start);
    start = end + 1;
    if (!source.empty() && source.back() == '\r') source.remove_suffix(1);

    if (TrimBoth(source) == "```") {
      inCode = !inCode;
      continue;
    }
    MarkdownLine line;
    if (inCode) {
      AddRun(line.segments, source, false, false, true);
      lines.push_back(std::move(line));
      continue;
    }
    source = TrimRight(source);
    size_t hashes = 0;
    while (hashes < source.size() && source[hashes] == '#') ++hashes;
    if (hashes >= 1 && hashes < source.size() && source[hashes] == ' ') {
      const std::string_view rest = source.substr(hashes + 1);
      if (!rest.empty()) {
        TextSegment s;
        s.text = std::string(rest);
        s.heading = static_cast<int>(std::min<size_t>(hashes, 3));
        line.segments.push_back(std::move(s));
      }
    } else if (source.size() >= 2 && (source[0] == '-' || source[0] == '*') && source[1] == ' ') {
      line.indent = 1;
      AddRun(line.segments, "\xE2\x80\xA2 ", false, false, false);  // "• "
      ParseInline(source.substr(2), line.segments);
    } else {
      ParseInline(source, line.segments);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

MarkdownFont FontOf(const TextSegment& s) {
  switch (s.heading) {
    case 1: return MarkdownFont::kHeading1;
    case 2: return MarkdownFont::kHeading2;
    case 3: return MarkdownFont::kHeading3;
    default: break;
  }
  if (s.code) return MarkdownFont::kCode;
  if (s.bold && s.italic) return MarkdownFont::kBoldItalic;
  if (s.bold) return MarkdownFont::kBold;
  if (s.italic) return MarkdownFont::kItalic;
  return MarkdownFont::kNormal;
}

int FontPixelSize(MarkdownFont font, int base) {
  switch (font) {
    case MarkdownFont::kCode: return static_cast<int>(base * 0.9);
    case MarkdownFont::kHeading1: return static_cast<int>(base * 1.75);
    case MarkdownFont::kHeading2: return static_cast<int>(base * 1.5);
    case MarkdownFont::kHeading3: return static_cast<int>(base * 1.2);
    default: return base;
  }
}

std::vector<FormattedLine> wrapMarkdown(const std::vector<MarkdownLine>& lines, int available,
                                        const TextMeasure& measure, int blankLineHeight) {
  std::vector<FormattedLine> out;
  for (const MarkdownLine& source : lines) {
    if (source.segments.empty()) {
      FormattedLine blank;
      blank.height = blankLineHeight;
      out.push_back(std::move(blank));
      continue;
    }
    const int start = source.indent * kMarkdownIndentStep + kMarkdownLeftMargin;
    FormattedLine current;
    current.indent = source.indent;
    int pen = start;
    auto finish = [&] {
      int height = 0;
      for (const TextSegment& s : current.segments) height = std::max(height, measure.lineHeight(FontOf(s)));
      current.height = height + kMarkdownLinePadding;
      out.push_back(std::move(current));
      current = FormattedLine();
      current.indent = source.indent;
      pen = start;
    };
    for (const TextSegment& segment : source.segments) {
      const std::string_view text = segment.text;
      size_t from = 0;
      while (from < text.size()) {
        const size_t blank = text.find(' ', from);
        const size_t end = blank == std::string_view::npos ? text.size() : blank + 1;
        TextSegment word = segment;
        word.text = std::string(text.substr(from, end - from));
        from = end;
        const int w = measure.width(FontOf(word), word.text);
        if (pen + w > available && !current.segments.empty()) finish();
        current.x.push_back(pen);
        current.segments.push_back(std::move(word));
        pen += w;
      }
    }
    if (!current.segments.empty()) finish();
  }
  return out;
}

int ContentHeight(const std::vector<FormattedLine>& lines) {
  int total = 0;
  for (const FormattedLine& l : lines) total += l.height;
  return total;
}

bool MarkdownScroll::ScrollTo(int target) {
  const int clamped = std::clamp(target, 0, Maximum());
  if (clamped == position) return false;
  position = clamped;
  return true;
}

bool MarkdownScroll::Wheel(int angleDelta, int lineHeight) {
  if (!NeedsBar()) {
    wheelRemainder = 0;
    return false;
  }
  wheelRemainder += angleDelta;
  const int notches = wheelRemainder / 120;
  wheelRemainder -= notches * 120;
  if (notches != 0) ScrollTo(position - notches * lineHeight * 3);
  return true;
}

}  // namespace zandrel

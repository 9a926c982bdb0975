#include "platform/log_sink.h"

#include <cstdarg>

#include "platform/text_format.h"

namespace zandrel {

std::vector<std::string> SplitLogLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t lf = text.find('\n', pos);
    const size_t end = (lf == std::string_view::npos) ? text.size() : lf;
    std::string_view piece = text.substr(pos, end - pos);
    while (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    lines.emplace_back(piece);
    pos = (lf == std::string_view::npos) ? text.size() : lf + 1;
  }
  return lines;
}

void LogSink::AppendLog(std::string_view text) {
  for (std::string& line : SplitLogLines(text)) AddLine(std::move(line));
  if (LineCount() > 0) ScrollToEnd();
}

void LogSink::ReplaceLastLine(std::string_view text) {
  RemoveLastLine();
  AppendLog(text);
}

void Log(LogSink* sink, std::string_view text) {
  if (sink) sink->AppendLog(text);
}

void LogF(LogSink* sink, const char* fmt, ...) {
  if (!sink) return;
  va_list args;
  va_start(args, fmt);
  const std::string text = FormatV(fmt, args);
  va_end(args);
  sink->AppendLog(text);
}

}  // namespace zandrel

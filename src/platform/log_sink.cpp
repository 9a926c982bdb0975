#include "platform/log_sink.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <utility>

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
  for (std::string& line : SplitLogLines(text)) {
    AddLine(std::move(line));
    ++appended_;
  }
  if (LineCount() > 0) ScrollToEnd();
}

void LogSink::ReplaceLastLine(std::string_view text) {
  RemoveLastLine();
  AppendLog(text);
}

namespace {

// A line with every run of digits (and a minus sign before one) replaced by
// '#': "region 12 ..." and "region 13 ..." are of one kind.
std::string KindOf(const std::string& line) {
  std::string kind;
  kind.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    const bool minus = line[i] == '-' && i + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[i + 1]));
    if (digit || minus) {
      if (kind.empty() || kind.back() != '#') kind += '#';
    } else {
      kind += line[i];
    }
  }
  return kind;
}

}  // namespace

void StepLog::AddLine(std::string line) {
  if (!target_) return;
  Kind& kind = kinds_[KindOf(line)];
  if (++kind.seen <= kMaxPerKind) {
    target_->AppendLog(line);
  } else if (kind.seen == kMaxPerKind + 1) {
    kind.order = ++overflowed_;
  }
}

void StepLog::Finish() {
  if (!target_ || overflowed_ == 0) return;
  std::vector<std::pair<size_t, size_t>> summaries;  // order, count
  for (auto& [text, kind] : kinds_) {
    if (kind.seen > kMaxPerKind) summaries.emplace_back(kind.order, kind.seen - kMaxPerKind);
    kind.seen = std::min(kind.seen, kMaxPerKind);  // summed up once
  }
  std::sort(summaries.begin(), summaries.end());
  for (const auto& [order, count] : summaries) target_->AppendLog(Format("... and %zu more like it", count));
  overflowed_ = 0;
}

void StepLog::Clear() {
  if (target_) target_->Clear();
  kinds_.clear();
  overflowed_ = 0;
}

void StepLog::RemoveLastLine() {
  if (target_) target_->RemoveLastLine();
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

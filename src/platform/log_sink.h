// The system's one log.
//
// Every subsystem reports what a command did, its warnings and its errors by
// appending text to a LogSink. AppendLog() splits the text into lines: each
// line feed ends a line, carriage returns at the end of a line are dropped
// (ones inside a line stay), a line feed at the very end adds no empty line,
// and an empty text adds nothing. The sink then scrolls to its end once per
// call, not once per line.
//
// The log pane of the main frame implements this interface in the app; code
// that runs without a main frame gets a null sink and skips its log lines
// (Log() and LogF() accept nullptr for that reason). Only the user-interface
// thread appends; workers post their lines to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

// Splits a logged text into the lines it becomes, by the rule above.
std::vector<std::string> SplitLogLines(std::string_view text);

class LogSink {
 public:
  virtual ~LogSink() = default;

  void AppendLog(std::string_view text);

  // Removes every line (opening a file starts a fresh log).
  virtual void Clear() = 0;
  // Removes the last line, if any: progress reporters replace their previous
  // progress line this way.
  virtual void RemoveLastLine() = 0;
  virtual size_t LineCount() const = 0;

  // Progress: replaces the last line with |text|.
  void ReplaceLastLine(std::string_view text);
  // How many lines were ever appended: a progress reporter that remembers
  // this and LineCount() after its own line knows whether that line is
  // still the last one.
  uint64_t LinesAppended() const { return appended_; }

 protected:
  virtual void AddLine(std::string line) = 0;
  virtual void ScrollToEnd() {}

 private:
  uint64_t appended_ = 0;
};

// A log held in memory: for tests, and for work that runs without a window.
class MemoryLog final : public LogSink {
 public:
  void Clear() override { lines_.clear(); }
  void RemoveLastLine() override {
    if (!lines_.empty()) lines_.pop_back();
  }
  size_t LineCount() const override { return lines_.size(); }
  const std::vector<std::string>& Lines() const { return lines_; }
  int scrollCount = 0;

 protected:
  void AddLine(std::string line) override { lines_.push_back(std::move(line)); }
  void ScrollToEnd() override { ++scrollCount; }

 private:
  std::vector<std::string> lines_;
};

// The most lines the log pane keeps; older lines give way to newer ones.
constexpr size_t kMaxLogLines = 10000;

// One step of work (a parse, one save step) that may log the same kind of
// line over and over, e.g. once per entry of hostile instrument data. Of each
// kind, the first kMaxPerKind lines pass through to the target; the rest are
// counted and summed up in one line, "... and N more like it", when the step
// ends (Finish() or the destructor). Lines that differ only in their numbers
// are of one kind. A step without a target logs nothing (Sink() is null).
class StepLog final : public LogSink {
 public:
  static constexpr size_t kMaxPerKind = 10;

  explicit StepLog(LogSink* target) : target_(target) {}
  ~StepLog() override { Finish(); }
  StepLog(const StepLog&) = delete;
  StepLog& operator=(const StepLog&) = delete;

  // Where the step logs: this, or nullptr when there is no target.
  LogSink* Sink() { return target_ ? this : nullptr; }
  // Writes the summary lines; the step may go on logging afterwards.
  void Finish();

  void Clear() override;
  void RemoveLastLine() override;
  size_t LineCount() const override { return target_ ? target_->LineCount() : 0; }

 protected:
  void AddLine(std::string line) override;

 private:
  struct Kind {
    size_t seen = 0;
    size_t order = 0;  // summaries come out in the order the kinds overflowed
  };
  LogSink* target_;
  std::map<std::string, Kind> kinds_;
  size_t overflowed_ = 0;
};

// Null-safe helpers: no sink means no main frame, so nothing is logged.
void Log(LogSink* sink, std::string_view text);
void LogF(LogSink* sink, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace zandrel

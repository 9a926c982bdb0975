// The "Output" pane: one tab, "Log", holding the system's log.
#pragma once

#include <QDockWidget>
#include <QListWidget>
#include <QTabWidget>

#include "platform/log_sink.h"

namespace zandrel {

// The log list. Lines are plain items in insertion order, at most the last
// kMaxLogLines of them; a line longer than the pane is read by scrolling
// sideways. A right click only focuses it.
class COutputList final : public QListWidget, public LogSink {
 public:
  explicit COutputList(QWidget* parent = nullptr);
  void Clear() override;
  void RemoveLastLine() override;
  size_t LineCount() const override { return static_cast<size_t>(count()); }
  QStringList Lines() const;

 protected:
  void AddLine(std::string line) override;
  void ScrollToEnd() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A log that was at its end stays there when the pane is shown or resized
  // (lines logged before the pane was laid out included), until the user
  // scrolls away from the end.
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool stickToEnd_ = true;
  int widest_ = 0;  // pixels: the widest line added since the last Clear()
};

class COutputWnd final : public QDockWidget {
 public:
  explicit COutputWnd(QWidget* parent = nullptr);
  COutputList& logList() { return *logList_; }

 private:
  QTabWidget* tabs_;
  COutputList* logList_;
};

}  // namespace zandrel

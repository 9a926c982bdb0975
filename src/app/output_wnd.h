// The "Output" pane: one tab, "Log", holding the system's log.
#pragma once

#include <QDockWidget>
#include <QListWidget>
#include <QTabWidget>

#include "platform/log_sink.h"

namespace zandrel {

// The log list. Lines are plain items in insertion order; long lines are cut
// at the right edge (no horizontal scrolling). A right click only focuses it.
class COutputList final : public QListWidget, public LogSink {
 public:
  explicit COutputList(QWidget* parent = nullptr);
  void Clear() override { clear(); }
  void RemoveLastLine() override;
  size_t LineCount() const override { return static_cast<size_t>(count()); }
  QStringList Lines() const;

 protected:
  void AddLine(std::string line) override;
  void ScrollToEnd() override { scrollToBottom(); }
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Lines logged before the list was laid out still leave it at its end.
  void showEvent(QShowEvent* event) override;
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

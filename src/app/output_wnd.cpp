#include "app/output_wnd.h"

#include <QContextMenuEvent>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <algorithm>

namespace zandrel {

COutputList::COutputList(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("logList"));
  // All lines share one size, read from the newest line, which carries the
  // widest line's width (AddLine): the list scrolls sideways as far as the
  // longest line reaches, and a long line is read by scrolling, not cut.
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  QScrollBar* bar = verticalScrollBar();
  connect(bar, &QScrollBar::actionTriggered, this, [this, bar](int) {
    // The action is applied after this signal: look once it has been.
    QTimer::singleShot(0, this, [this, bar] { stickToEnd_ = bar->value() >= bar->maximum(); });
  });
}

void COutputList::AddLine(std::string line) {
  // A long run (or a hostile file) must not grow the list without bound: the
  // oldest lines give way.
  if (static_cast<size_t>(count()) >= kMaxLogLines) delete takeItem(0);
  auto* item = new QListWidgetItem(QString::fromStdString(line));
  addItem(item);
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QSize natural = itemDelegate()->sizeHint(option, indexFromItem(item));
  widest_ = std::max(widest_, natural.width());
  item->setSizeHint(QSize(widest_, natural.height()));
}

void COutputList::Clear() {
  clear();
  widest_ = 0;
}

void COutputList::RemoveLastLine() {
  if (count() > 0) delete takeItem(count() - 1);
}

QStringList COutputList::Lines() const {
  QStringList lines;
  for (int i = 0; i < count(); ++i) lines << item(i)->text();
  return lines;
}

void COutputList::ScrollToEnd() {
  stickToEnd_ = true;
  if (count() > 0) scrollToItem(item(count() - 1), QAbstractItemView::PositionAtBottom);
}

void COutputList::showEvent(QShowEvent* event) {
  QListWidget::showEvent(event);
  if (stickToEnd_) ScrollToEnd();
}

void COutputList::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  if (stickToEnd_) ScrollToEnd();
}

void COutputList::contextMenuEvent(QContextMenuEvent* event) {
  setFocus(Qt::MouseFocusReason);
  event->accept();
}

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget(QStringLiteral("Output"), parent) {
  setObjectName(QStringLiteral("Output"));
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  logList_ = new COutputList(tabs_);
  tabs_->addTab(logList_, QStringLiteral("Log"));
  setWidget(tabs_);
  logList_->AppendLog("Load WAV");
}

}  // namespace zandrel

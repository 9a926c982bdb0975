#include "app/qt_task_host.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <vector>

namespace zandrel {
namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TabletPress:
    case QEvent::TouchBegin:
      return true;
    default:
      return false;
  }
}

// Lets only the progress dialog take input; turns window close requests into
// a cancel.
class InputGate final : public QObject {
 public:
  InputGate(LongTask& task, QProgressDialog*& dialog) : task_(task), dialog_(dialog) {}
  std::vector<QPointer<QWidget>> closeRequested;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) {
      // A key bound to an action reaches the action itself, which is no
      // widget: those of the window (L, Space, I, O on the view) would edit or
      // play, so only the dialog's own shortcuts get through.
      if (event->type() != QEvent::Shortcut) return false;
      for (QObject* o = watched->parent(); o; o = o->parent())
        if (dialog_ && o == dialog_) return false;
      return true;
    }
    if (dialog_ && (widget == dialog_ || dialog_->isAncestorOf(widget))) return false;
    if (event->type() == QEvent::Close && widget->isWindow()) {
      task_.RequestCancel();
      closeRequested.emplace_back(widget);
      event->ignore();
      return true;
    }
    return IsUserInput(event->type());
  }

 private:
  LongTask& task_;
  QProgressDialog*& dialog_;
};

}  // namespace

void QtTaskHost::Wait(LongTask& task, std::string_view title) {
  if (task.WaitFor(kQuietWait)) return;
  InputGate gate(task, dialog_);
  qApp->installEventFilter(&gate);
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(30);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (task.Done()) {
      loop.quit();
      return;
    }
    if (!dialog_ && clock.elapsed() >= kProgressDelay.count() && !task.CancelRequested()) {
      dialog_ = new QProgressDialog(QString::fromUtf8(title.data(), static_cast<int>(title.size())),
                                    QStringLiteral("Cancel"), 0, 100, parent);
      dialog_->setWindowTitle(QStringLiteral("Zandrel"));
      dialog_->setWindowModality(Qt::WindowModal);
      dialog_->setAutoClose(false);
      dialog_->setAutoReset(false);
      dialog_->setMinimumDuration(0);
      QObject::connect(dialog_, &QProgressDialog::canceled, &loop, [&task] { task.RequestCancel(); });
      dialog_->show();
    }
    if (dialog_) dialog_->setValue(static_cast<int>(task.Progress() * 100.0));
    task.PollProgress();
  });
  poll.start();
  loop.exec();
  poll.stop();
  // The loop also ends when the application quits: the work must not outlive
  // this call.
  if (!task.Done()) task.RequestCancel();
  task.Join();
  delete dialog_;
  dialog_ = nullptr;
  qApp->removeEventFilter(&gate);
  for (const QPointer<QWidget>& window : gate.closeRequested) {
    if (window) QTimer::singleShot(0, window, [window] { window->close(); });
  }
}

}  // namespace zandrel

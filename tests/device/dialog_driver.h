// Driving the device dialogs in tests under the offscreen Qt platform: wait
// (bounded) for a condition, act on a modal dialog from inside its own event
// loop, and save screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

namespace zandrel::test {

// Every wait of a dialog test is bounded by this.
inline constexpr int kDialogDeadlineMs = 10000;

inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = kDialogDeadlineMs) {
  return QTest::qWaitFor(condition, limitMs);
}

// Shows |dialog| as the window a user types into (modal, active).
inline void ShowModal(QDialog& dialog) {
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeModalWidget() == &dialog; }));
}

inline void SaveScreenshot(QWidget& widget, const QString& name) {
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  widget.grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
}

// Runs |drive| on the modal dialog of type T once one is open: install it,
// then start the command that runs the dialog. Should the dialog still be
// open after the deadline, it is ended so that the test fails instead of
// hanging. Lives as long as the test's scope.
template <class T>
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(T&)> drive) : drive_(std::move(drive)) {
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
      T* dialog = dynamic_cast<T*>(QApplication::activeModalWidget());
      if (!dialog || dialog == seen_) return;
      seen_ = dialog;
      ++opened_;
      drive_(*dialog);
    });
    poll_.start(10);
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] {
      if (QDialog* open = seen_.data()) {
        ADD_FAILURE() << "the dialog was still open at the deadline";
        open->done(QDialog::Rejected);
      }
    });
    deadline_.setSingleShot(true);
    deadline_.start(kDialogDeadlineMs);
  }
  // How many dialogs of type T were driven.
  int Opened() const { return opened_; }

 private:
  std::function<void(T&)> drive_;
  QTimer poll_;
  QTimer deadline_;
  QPointer<QDialog> seen_;
  int opened_ = 0;
};

}  // namespace zandrel::test

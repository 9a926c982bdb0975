// The app's LongTaskHost: waits for long work on the user-interface thread.
//
// While the worker runs, a local event loop keeps the windows repainting, but
// an application-wide event filter swallows every mouse, key, wheel, drop and
// context-menu event outside the progress dialog, so no edit can start.
// After kProgressDelay a window-modal QProgressDialog shows the percent and a
// Cancel button. A request to close a window meanwhile cancels the work, waits
// for it, and closes the window again once the command has returned; quitting
// the application ends the loop, and the work is cancelled and waited for.
#pragma once

#include <QPointer>
#include <QWidget>

#include "commands/long_task.h"

class QProgressDialog;

namespace zandrel {

class QtTaskHost final : public LongTaskHost {
 public:
  void Wait(LongTask& task, std::string_view title) override;

  // The progress dialog is centred on this window (the main frame).
  QPointer<QWidget> parent;
  // The dialog while it is shown (for tests), else nullptr.
  QProgressDialog* Dialog() const { return dialog_; }

 private:
  QProgressDialog* dialog_ = nullptr;
};

}  // namespace zandrel

// Parameter dialogs of the core (platform/parameter_dialogs.h) shown as the
// knob dialog CUniversalDlg, which keeps each tool's values in its parameter
// file.
#pragma once

#include <QWidget>
#include <functional>

#include "platform/parameter_dialogs.h"

namespace zandrel {

class CUniversalDlg;

class QtParameterDialogs final : public ParameterDialogHost {
 public:
  std::optional<ParameterValues> Ask(const ParameterDialogRequest& request) override;
  QWidget* parent = nullptr;
  // Called with the dialog once it is shown, instead of waiting for the user
  // (tests drive and photograph it here, then accept or reject it).
  std::function<void(CUniversalDlg&)> driver;
};

// Fills |dlg| with the request's title, parameter file, knobs and texts.
void FillParameterDialog(CUniversalDlg& dlg, const ParameterDialogRequest& request);

}  // namespace zandrel

#include "app/qt_parameter_dialogs.h"

#include <QTimer>

#include "widgets/universal_dlg.h"

namespace zandrel {

void FillParameterDialog(CUniversalDlg& dlg, const ParameterDialogRequest& request) {
  dlg.title = request.title;
  dlg.configName = request.configName;
  for (const ParameterItem& item : request.items) {
    if (item.section) {
      dlg.AddSection(item.label);
    } else {
      dlg.AddKnob(item.key, item.label, item.format, item.minimum, item.maximum, item.defaultValue, item.colour);
    }
  }
}

std::optional<ParameterValues> QtParameterDialogs::Ask(const ParameterDialogRequest& request) {
  CUniversalDlg dlg(parent);
  FillParameterDialog(dlg, request);
  if (driver) QTimer::singleShot(0, &dlg, [this, &dlg] { driver(dlg); });
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  ParameterValues values;
  for (const ParameterItem& item : request.items) {
    if (!item.section) values[item.key] = dlg.GetParamValue(item.key);
  }
  return values;
}

}  // namespace zandrel

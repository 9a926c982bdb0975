#include "app/qt_parameter_dialogs.h"

#include <QProgressBar>
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

namespace {

ParameterValues ValuesOf(const CUniversalDlg& dlg, const ParameterDialogRequest& request) {
  ParameterValues values;
  for (const ParameterItem& item : request.items) {
    if (!item.section) values[item.key] = dlg.GetParamValue(item.key);
  }
  return values;
}

// The dialog's bar follows a preview's progress. The preview runs on this
// thread, so each report repaints the bar at once instead of waiting for an
// event loop that would also deliver clicks (and start a preview inside the
// preview).
void ShowPreviewProgress(CUniversalDlg& dlg, int percent) {
  QProgressBar* bar = dlg.progressBar;
  if (!bar) return;
  if (!dlg.progressShown) {
    bar->setRange(0, 100);
    bar->show();
    dlg.progressShown = true;
  }
  bar->setValue(percent);
  bar->repaint();
  if (percent > 99 || percent == -1) {
    bar->hide();
    dlg.progressShown = false;
  }
}

}  // namespace

std::optional<ParameterValues> QtParameterDialogs::Ask(const ParameterDialogRequest& request) {
  CUniversalDlg dlg(parent);
  FillParameterDialog(dlg, request);
  if (request.preview) {
    dlg.autoPreview = request.autoPreview;
    dlg.SetPreviewCallback([&dlg, &request] {
      request.preview(ValuesOf(dlg, request), [&dlg](int percent) { ShowPreviewProgress(dlg, percent); });
    });
  }
  if (driver) QTimer::singleShot(0, &dlg, [this, &dlg] { driver(dlg); });
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return ValuesOf(dlg, request);
}

}  // namespace zandrel

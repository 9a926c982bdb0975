// CUniversalDlg: the generic parameter dialog of the processing and sound
// design tools.
//
// The command builds it on its stack, adds knobs by key (AddKnob) and
// section texts (AddSection), sets title, configName and autoPreview, maybe a
// preview callback, runs exec() and reads the values back with
// GetParamValue, which stays valid until the dialog is destroyed. The dialog
// grows downwards when its knobs need more than the knob area, remembers the
// values of each tool in "<configName>.ini" in the application's data folder
// (written on OK only), and previews on the Preview button, on Space (once per
// press; held keys don't repeat it), 200 ms after a knob was released with a
// new value (auto-preview), and after Default. Tools drive progressBar and
// progressShown while they work. User-interface thread only.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "widgets/knob_panel.h"
#include "widgets/model/universal_dlg_model.h"

class QProgressBar;
class QPushButton;


namespace zandrel {

class CUniversalDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CUniversalDlg(QWidget* parent = nullptr);
  ~CUniversalDlg() override;

  std::function<void()> previewCallback;
  std::string& title;       // caption when not empty
  std::string& configName;  // name of the parameter file; empty = none
  bool& autoPreview;        // a knob released with a new value schedules a preview
  QProgressBar* progressBar;
  bool progressShown = false;

  int AddKnob(const std::string& key, const std::string& label, const std::string& format, float minimum,
              float maximum, float defaultValue, ColorRef colour);
  int AddSection(const std::string& text);
  void SetPreviewCallback(std::function<void()> callback) { previewCallback = std::move(callback); }
  float GetParamValue(std::string_view key) const { return model_.GetParamValue(key); }

  // The parameter file of configName, its folder created when missing; empty
  // without a config name or a data folder.
  QString ConfigIniPath() const;
  void SchedulePreview();

  const UniversalDlgModel& Model() const { return model_; }
  CKnobPanel& Panel() { return panel_; }
  QWidget* KnobArea() const { return knobArea_; }
  QPushButton* DefaultButton() const { return default_; }
  QPushButton* PreviewButton() const { return preview_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  const QTimer& PreviewTimer() const { return previewTimer_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  void OnDefault();
  void OnBnClickedOk();
  void Preview();

  UniversalDlgModel model_;
  CKnobPanel panel_;
  QFrame* knobArea_;
  QPushButton* default_;
  QPushButton* preview_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QTimer previewTimer_;
  bool initialised_ = false;
  bool spaceHeld_ = false;
};

}  // namespace zandrel

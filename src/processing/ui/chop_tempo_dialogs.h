// The dialogs of the chop and tempo commands: CAutoChopDlg (threshold
// slider, minimal spacing, markdown help) and CAdjustToBpmDlg (tempo, beats
// or bars with a time signature, and what OK will do), and the
// ChopTempoDialogs the main frame gives those commands. User-interface
// thread only.
#pragma once

#include <QDialog>

#include "processing/adjust_bpm_form.h"
#include "processing/chop_tempo_commands.h"

class QLabel;
class QLineEdit;
class QSlider;
class QRadioButton;
class QToolButton;

namespace zandrel {

class CMarkdownTextCtrl;

class CAutoChopDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAutoChopDlg(QWidget* parent = nullptr);

  float threshold = 2.5f;
  int minimalSpacing = 50;  // milliseconds
  std::string helpText;

  int exec() override;
  void accept() override;

  QSlider* Slider() const { return slider_; }
  QLabel* ThresholdLabel() const { return label_; }
  QLineEdit* SpacingEdit() const { return spacing_; }
  CMarkdownTextCtrl* Help() const { return help_; }

 private:
  void OnInitDialog();
  void UpdateThresholdLabel();

  QSlider* slider_;
  QLabel* label_;
  QLineEdit* spacing_;
  CMarkdownTextCtrl* help_;
};

class CAdjustToBpmDlg final : public QDialog {
  Q_OBJECT

 public:
  CAdjustToBpmDlg(const AdjustToBpmValues& values, QWidget* parent = nullptr);

  AdjustToBpmForm& Form() { return form_; }
  void accept() override;

  QLineEdit* BpmEdit() const { return bpm_; }
  QLineEdit* BeatsEdit() const { return beats_; }
  QLineEdit* BarsEdit() const { return bars_; }
  QLabel* ResultLabel() const { return result_; }
  QRadioButton* BarsMode() const { return barsMode_; }

 private:
  void ShowFields();
  void UpdateModeControls();

  AdjustToBpmForm form_;
  bool showing_ = false;
  QLineEdit* bpm_;
  QLabel* length_;
  QLabel* currentBeats_;
  QRadioButton* beatsMode_;
  QRadioButton* barsMode_;
  QLineEdit* beats_;
  QToolButton* beatsUp_;
  QToolButton* beatsDown_;
  QLineEdit* bars_;
  QToolButton* barsUp_;
  QToolButton* barsDown_;
  QLineEdit* numerator_;
  QLineEdit* denominator_;
  QLabel* result_;
};

// The dialogs shown over |parent|, which owns this object.
class QtChopTempoDialogs final : public QObject, public ChopTempoDialogs {
  Q_OBJECT

 public:
  explicit QtChopTempoDialogs(QWidget* parent) : QObject(parent), parent_(parent) {}
  bool RunAutoChop(AutoChopValues& values) override;
  bool RunAdjustToBpm(AdjustToBpmValues& values) override;

 private:
  QWidget* parent_;
};

// The chop and tempo commands with their dialogs over |frame|.
void DeclareChopTempoAppCommands(CommandRegistry& registry, QWidget* frame);

}  // namespace zandrel

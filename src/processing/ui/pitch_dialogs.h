// The dialogs of the pitch and time commands (processing/pitch_commands.h):
// "Time Stretch" (two tempi, two beat counts, 1/2 Speed, 2x Speed, Calc
// BPM), "Pitch Shift" (semitones) and "Pitch Correction" (measured pitch,
// target note, extra cents, the resulting frequency and correction). Each
// is modal; its values go in and come out through the model's value
// structs. User-interface thread only.
#pragma once

#include <QDialog>

#include "processing/pitch_commands.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace zandrel {

class CColorEdit;

class CTimestretchDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTimestretchDlg(const TimeStretchValues& values, QWidget* parent = nullptr);
  TimeStretchValues values;

  QLineEdit* fromBpmEdit;
  QLineEdit* toBpmEdit;
  QLineEdit* fromBeatsEdit;
  QLineEdit* toBeatsEdit;
  QPushButton* halfSpeedButton;
  QPushButton* doubleSpeedButton;
  QPushButton* calcBpmButton;
  QPushButton* okButton;

  // Each button reads the edits first and writes them back after.
  void OnHalfSpeed();
  void OnDoubleSpeed();
  void OnCalcBpm();
  void accept() override;

 private:
  void Read();
  void Write();
};

class CPitchShiftDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPitchShiftDlg(QWidget* parent = nullptr);
  int semitones = 0;
  QLineEdit* semitonesEdit;
  QPushButton* okButton;
  void accept() override;
};

class CPitchCorrectDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPitchCorrectDlg(const PitchCorrectionValues& values, QWidget* parent = nullptr);
  PitchCorrectionValues values;

  QLabel* measuredLabel;
  QLineEdit* measuredEdit;
  QLineEdit* noteEdit;
  QLabel* outOfTuneLabel;
  QLineEdit* outOfTuneEdit;
  QLabel* outOfTuneCentsLabel;
  CColorEdit* extraCentsEdit;
  CColorEdit* targetNoteEdit;
  QPushButton* pickNoteButton;
  QLineEdit* targetHzEdit;
  CColorEdit* totalEdit;
  QPushButton* okButton;

  // The target's frequency and the total, from the target note and the
  // extra cents as they are typed.
  void UpdateTarget();
  void OnPickNote();
};

// Lives as long as its parent window.
class QtPitchDialogs final : public QObject, public PitchDialogs {
 public:
  explicit QtPitchDialogs(QWidget* parent) : QObject(parent), parent_(parent) {}
  bool RunTimeStretch(TimeStretchValues& values) override;
  bool RunPitchShift(int& semitones) override;
  bool RunPitchCorrection(PitchCorrectionValues& values) override;

 private:
  QWidget* parent_;
};

// Declares the pitch and time commands with the Qt dialogs above (owned by
// |frame|).
void DeclarePitchAppCommands(CommandRegistry& registry, QWidget* frame);

}  // namespace zandrel

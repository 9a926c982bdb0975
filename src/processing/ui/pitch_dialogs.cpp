#include "processing/ui/pitch_dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "document/note_names.h"
#include "platform/message_host.h"
#include "platform/text_format.h"
#include "widgets/color_edit.h"
#include "widgets/note_select_dlg.h"

namespace zandrel {
namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }
QString Number(const char* fmt, double v) { return Text(Format(fmt, v)); }

// A number typed in an edit; false (with the framework's message) when the
// text is not one.
bool ReadNumber(const QLineEdit* edit, double& value) {
  // A point or a comma, whatever the locale.
  const std::optional<double> v = ReadTypedNumber(edit->text().toStdString());
  if (!v) {
    ShowMessage("Please enter a number.", MessageIcon::Warning);
    return false;
  }
  value = *v;
  return true;
}

QDialogButtonBox* OkCancel(QDialog* dialog, QPushButton*& ok) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  ok = box->button(QDialogButtonBox::Ok);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

}  // namespace

// ------------------------------------------------------------ Time Stretch --

CTimestretchDlg::CTimestretchDlg(const TimeStretchValues& v, QWidget* parent) : QDialog(parent), values(v) {
  setWindowTitle(QStringLiteral("Time Stretch"));
  auto* grid = new QGridLayout;
  fromBpmEdit = new QLineEdit(this);
  toBpmEdit = new QLineEdit(this);
  fromBeatsEdit = new QLineEdit(this);
  toBeatsEdit = new QLineEdit(this);
  grid->addWidget(new QLabel(QStringLiteral("From "), this), 0, 0);
  grid->addWidget(fromBpmEdit, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("BPM"), this), 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("To"), this), 1, 0);
  grid->addWidget(toBpmEdit, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("BPM"), this), 1, 2);
  halfSpeedButton = new QPushButton(QStringLiteral("1/2 Speed"), this);
  doubleSpeedButton = new QPushButton(QStringLiteral("2x Speed"), this);
  grid->addWidget(halfSpeedButton, 2, 1);
  grid->addWidget(doubleSpeedButton, 2, 2);
  grid->addWidget(new QLabel(QStringLiteral("Helper Function"), this), 3, 0, 1, 3);
  grid->addWidget(fromBeatsEdit, 4, 0);
  grid->addWidget(new QLabel(QStringLiteral("beats"), this), 4, 1);
  grid->addWidget(toBeatsEdit, 5, 0);
  grid->addWidget(new QLabel(QStringLiteral("beats"), this), 5, 1);
  calcBpmButton = new QPushButton(QStringLiteral("Calc BPM"), this);
  grid->addWidget(calcBpmButton, 5, 2);
  auto* note = new QLabel(
      QStringLiteral("Values are relative. The ratio between 'From' and 'To' determines the speed change (e.g., "
                     "100 \u2192 200 doubles the speed)\nThe length may change by a factor between 1/16 and 16."),
      this);
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(note);
  layout->addWidget(OkCancel(this, okButton));
  connect(halfSpeedButton, &QPushButton::clicked, this, &CTimestretchDlg::OnHalfSpeed);
  connect(doubleSpeedButton, &QPushButton::clicked, this, &CTimestretchDlg::OnDoubleSpeed);
  connect(calcBpmButton, &QPushButton::clicked, this, &CTimestretchDlg::OnCalcBpm);
  Write();
}

void CTimestretchDlg::Read() {
  double v = 0;
  if (ReadNumber(fromBpmEdit, v)) values.fromBpm = static_cast<float>(v);
  if (ReadNumber(toBpmEdit, v)) values.toBpm = static_cast<float>(v);
  if (ReadNumber(fromBeatsEdit, v)) values.fromBeats = static_cast<float>(v);
  if (ReadNumber(toBeatsEdit, v)) values.toBeats = static_cast<float>(v);
}

void CTimestretchDlg::Write() {
  // Floats as the framework shows them: shortest form.
  const auto f = [](float v) { return QString::number(static_cast<double>(v), 'g', 7); };
  fromBpmEdit->setText(f(values.fromBpm));
  toBpmEdit->setText(f(values.toBpm));
  fromBeatsEdit->setText(f(values.fromBeats));
  toBeatsEdit->setText(f(values.toBeats));
}

void CTimestretchDlg::OnHalfSpeed() {
  Read();
  TimeStretchHalfSpeed(values);
  Write();
}

void CTimestretchDlg::OnDoubleSpeed() {
  Read();
  TimeStretchDoubleSpeed(values);
  Write();
}

void CTimestretchDlg::OnCalcBpm() {
  Read();
  if (const auto message = TimeStretchCalcBpm(values)) ShowMessage(*message);
  Write();
}

void CTimestretchDlg::accept() {
  double v[4];
  if (!ReadNumber(fromBpmEdit, v[0]) || !ReadNumber(toBpmEdit, v[1]) || !ReadNumber(fromBeatsEdit, v[2]) ||
      !ReadNumber(toBeatsEdit, v[3]))
    return;
  values = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]), static_cast<float>(v[3])};
  QDialog::accept();
}

// ------------------------------------------------------------- Pitch Shift --

CPitchShiftDlg::CPitchShiftDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Pitch Shift"));
  semitonesEdit = new QLineEdit(QStringLiteral("0"), this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Shift by "), this));
  row->addWidget(semitonesEdit);
  row->addWidget(new QLabel(QStringLiteral("semitones"), this));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(new QLabel(QStringLiteral("While keeping the length the same"), this));
  layout->addWidget(new QLabel(QStringLiteral("(-48 to +48 semitones)"), this));
  layout->addWidget(OkCancel(this, okButton));
}

void CPitchShiftDlg::accept() {
  bool ok = false;
  const int v = semitonesEdit->text().trimmed().toInt(&ok);
  if (!ok) {
    ShowMessage("Please enter an integer.", MessageIcon::Warning);
    return;
  }
  semitones = v;
  QDialog::accept();
}

// -------------------------------------------------------- Pitch Correction --

CPitchCorrectDlg::CPitchCorrectDlg(const PitchCorrectionValues& v, QWidget* parent) : QDialog(parent), values(v) {
  setWindowTitle(QStringLiteral("Pitch Correction"));
  const auto readOnly = [this] {
    auto* e = new QLineEdit(this);
    e->setReadOnly(true);
    return e;
  };
  measuredLabel = new QLabel(Text(values.labelText), this);
  measuredEdit = readOnly();
  noteEdit = readOnly();
  outOfTuneLabel = new QLabel(QStringLiteral("Out of tune"), this);
  outOfTuneEdit = readOnly();
  outOfTuneCentsLabel = new QLabel(QStringLiteral("cents"), this);
  extraCentsEdit = new CColorEdit(this);
  targetNoteEdit = new CColorEdit(this);
  pickNoteButton = new QPushButton(QStringLiteral(".."), this);
  targetHzEdit = readOnly();
  totalEdit = new CColorEdit(this);
  totalEdit->setReadOnly(true);

  auto* grid = new QGridLayout;
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("Pitch Correction"), this), row++, 0, 1, 4);
  grid->addWidget(measuredLabel, row, 0);
  grid->addWidget(measuredEdit, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Hz"), this), row++, 2);
  grid->addWidget(new QLabel(QStringLiteral("Note"), this), row, 0);
  grid->addWidget(noteEdit, row++, 1);
  grid->addWidget(outOfTuneLabel, row, 0);
  grid->addWidget(outOfTuneEdit, row, 1);
  grid->addWidget(outOfTuneCentsLabel, row++, 2);
  grid->addWidget(new QLabel(QStringLiteral("Target"), this), row++, 0, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("Target note"), this), row, 0);
  grid->addWidget(targetNoteEdit, row, 1);
  grid->addWidget(pickNoteButton, row++, 2);
  grid->addWidget(new QLabel(QStringLiteral("+ Extra Tuning"), this), row, 0);
  grid->addWidget(extraCentsEdit, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("cents"), this), row++, 2);
  grid->addWidget(new QLabel(QStringLiteral("Final Frequency"), this), row, 0);
  grid->addWidget(targetHzEdit, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Hz"), this), row++, 2);
  grid->addWidget(new QLabel(QStringLiteral("Total"), this), row, 0);
  grid->addWidget(totalEdit, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("cents"), this), row++, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(OkCancel(this, okButton));

  measuredEdit->setText(Number("%.2f", values.measuredHz));
  noteEdit->setText(Text(values.noteText));
  outOfTuneEdit->setText(Number("%.2f", values.outOfTuneCents));
  extraCentsEdit->setText(Number("%g", values.extraCents));
  targetNoteEdit->setText(Text(values.targetNoteText));
  for (CColorEdit* e : {targetNoteEdit, extraCentsEdit}) {
    e->textColour = MakeColorRef(0, 0, 0);
    e->SetBkColor(MakeColorRef(255, 179, 179));
  }
  totalEdit->textColour = MakeColorRef(255, 255, 255);
  totalEdit->SetBkColor(MakeColorRef(153, 0, 0));
  if (values.outOfTuneCents == 0.0) {
    outOfTuneLabel->hide();
    outOfTuneEdit->hide();
    outOfTuneCentsLabel->hide();
  }
  UpdateTarget();
  connect(extraCentsEdit, &QLineEdit::textEdited, this, [this] {
    values.extraCents = ReadTypedNumber(extraCentsEdit->text().toStdString()).value_or(0.0);
    UpdateTarget();
  });
  connect(targetNoteEdit, &QLineEdit::textEdited, this, [this] {
    values.targetNoteText = targetNoteEdit->text().toStdString();
    UpdateTarget();
  });
  connect(pickNoteButton, &QPushButton::clicked, this, &CPitchCorrectDlg::OnPickNote);
}

void CPitchCorrectDlg::UpdateTarget() {
  const PitchCorrectionTarget t = ComputePitchCorrectionTarget(values);
  targetHzEdit->setText(Number("%.2f", t.targetHz));
  totalEdit->setText(Number("%.2f", t.totalCents));
}

void CPitchCorrectDlg::OnPickNote() {
  CNoteSelectDlg picker(this);
  const int current = ParseNoteName(values.targetNoteText);
  picker.lowNote = 0;
  picker.highNote = 128;
  picker.rootNote = current < 0 ? 60 : current;
  picker.selectMode = 2;
  picker.accentColor = MakeColorRef(70, 130, 180);
  picker.neutralColors = 1;
  if (picker.exec() != QDialog::Accepted) return;
  values.targetNoteText = MidiNoteName(picker.resultNote);
  targetNoteEdit->setText(Text(values.targetNoteText));
  UpdateTarget();
}

// ------------------------------------------------------------------- host --

bool QtPitchDialogs::RunTimeStretch(TimeStretchValues& v) {
  CTimestretchDlg dialog(v, parent_);
  if (dialog.exec() != QDialog::Accepted) return false;
  v = dialog.values;
  return true;
}

bool QtPitchDialogs::RunPitchShift(int& semitones) {
  CPitchShiftDlg dialog(parent_);
  if (dialog.exec() != QDialog::Accepted) return false;
  semitones = dialog.semitones;
  return true;
}

bool QtPitchDialogs::RunPitchCorrection(PitchCorrectionValues& v) {
  CPitchCorrectDlg dialog(v, parent_);
  if (dialog.exec() != QDialog::Accepted) return false;
  v = dialog.values;
  return true;
}

void DeclarePitchAppCommands(CommandRegistry& registry, QWidget* frame) {
  DeclarePitchCommands(registry, *new QtPitchDialogs(frame));
}

}  // namespace zandrel

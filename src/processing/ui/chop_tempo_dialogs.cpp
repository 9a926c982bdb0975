#include "processing/ui/chop_tempo_dialogs.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/message_host.h"
#include "platform/text_format.h"
#include "processing/tempo.h"
#include "widgets/markdown_text_ctrl.h"

namespace zandrel {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

QToolButton* ArrowButton(Qt::ArrowType arrow, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setArrowType(arrow);
  b->setAutoRepeat(true);
  return b;
}

}  // namespace

// ------------------------------------------------------------ auto chop --

CAutoChopDlg::CAutoChopDlg(QWidget* parent)
    : QDialog(parent),
      slider_(new QSlider(Qt::Horizontal, this)),
      label_(new QLabel(this)),
      spacing_(new QLineEdit(this)),
      help_(new CMarkdownTextCtrl(this)) {
  setWindowTitle(QStringLiteral("Autochop"));
  slider_->setRange(5, 80);
  spacing_->setValidator(new QIntValidator(0, 100000, spacing_));
  help_->setMinimumSize(420, 150);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(help_, 1);
  layout->addWidget(label_);
  layout->addWidget(slider_);
  auto* spacingRow = new QHBoxLayout;
  spacingRow->addWidget(new QLabel(QStringLiteral("Minimal spacing"), this));
  spacingRow->addWidget(spacing_);
  spacingRow->addWidget(new QLabel(QStringLiteral("mS"), this));
  spacingRow->addStretch(1);
  layout->addLayout(spacingRow);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(slider_, &QSlider::valueChanged, this, [this](int position) {
    threshold = static_cast<float>(position) / 10.0f;
    UpdateThresholdLabel();
  });
}

int CAutoChopDlg::exec() {
  OnInitDialog();
  return QDialog::exec();
}

void CAutoChopDlg::OnInitDialog() {
  {
    const QSignalBlocker block(slider_);
    slider_->setValue(static_cast<int>(threshold * 10.0f + 0.0001f));
  }
  spacing_->setText(QString::number(minimalSpacing));
  help_->SetMarkdownText(helpText);
  help_->update();
  UpdateThresholdLabel();
}

void CAutoChopDlg::UpdateThresholdLabel() {
  label_->setText(Q(Format("Threshold: %.1f (Lower is more sensitive)", threshold)));
}

void CAutoChopDlg::accept() {
  bool ok = false;
  const int spacing = spacing_->text().toInt(&ok);
  if (!ok || spacing < 0) {
    ShowMessage("Please enter a number.", MessageIcon::Warning);
    return;
  }
  minimalSpacing = spacing;
  QDialog::accept();
}

// ------------------------------------------------------- adjust to BPM --

CAdjustToBpmDlg::CAdjustToBpmDlg(const AdjustToBpmValues& values, QWidget* parent)
    : QDialog(parent),
      form_(values.currentLength, values.sampleRate, values.bpm),
      bpm_(new QLineEdit(this)),
      length_(new QLabel(this)),
      currentBeats_(new QLabel(this)),
      beatsMode_(new QRadioButton(QStringLiteral("beats"), this)),
      barsMode_(new QRadioButton(QStringLiteral("bars in"), this)),
      beats_(new QLineEdit(this)),
      beatsUp_(ArrowButton(Qt::UpArrow, this)),
      beatsDown_(ArrowButton(Qt::DownArrow, this)),
      bars_(new QLineEdit(this)),
      barsUp_(ArrowButton(Qt::UpArrow, this)),
      barsDown_(ArrowButton(Qt::DownArrow, this)),
      numerator_(new QLineEdit(this)),
      denominator_(new QLineEdit(this)),
      result_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Adjust Loop to BPM"));
  auto* grid = new QGridLayout(this);
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("BPM"), this), row, 0);
  grid->addWidget(bpm_, row, 1, 1, 3);
  grid->addWidget(new QLabel(Q(Format("(%.0f to %.0f)", kMinAdjustBpm, kMaxAdjustBpm)), this), row++, 4);
  grid->addWidget(new QLabel(QStringLiteral("Current loop length"), this), row, 0);
  grid->addWidget(length_, row++, 1, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("Current Beats"), this), row, 0);
  grid->addWidget(currentBeats_, row++, 1, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("Adjust to "), this), row, 0);
  grid->addWidget(beatsMode_, row, 1);
  grid->addWidget(beats_, row, 2);
  auto* beatsSpin = new QVBoxLayout;
  beatsSpin->setSpacing(0);
  beatsSpin->addWidget(beatsUp_);
  beatsSpin->addWidget(beatsDown_);
  grid->addLayout(beatsSpin, row++, 3);
  grid->addWidget(barsMode_, row, 1);
  grid->addWidget(bars_, row, 2);
  auto* barsSpin = new QVBoxLayout;
  barsSpin->setSpacing(0);
  barsSpin->addWidget(barsUp_);
  barsSpin->addWidget(barsDown_);
  grid->addLayout(barsSpin, row, 3);
  auto* signature = new QHBoxLayout;
  signature->addWidget(numerator_);
  signature->addWidget(new QLabel(QStringLiteral("/"), this));
  signature->addWidget(denominator_);
  grid->addLayout(signature, row++, 4);
  grid->addWidget(result_, row++, 0, 1, 5);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  grid->addWidget(buttons, row, 0, 1, 5);
  numerator_->setMaximumWidth(40);
  denominator_->setMaximumWidth(40);

  auto* group = new QButtonGroup(this);
  group->addButton(beatsMode_, 0);
  group->addButton(barsMode_, 1);
  beatsMode_->setChecked(true);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto edited = [this](auto change) {
    return [this, change](const QString& text) {
      if (showing_) return;
      change(S(text));
      ShowFields();
    };
  };
  connect(bpm_, &QLineEdit::textChanged, this, edited([this](std::string t) { form_.bpmText = std::move(t); }));
  connect(beats_, &QLineEdit::textChanged, this, edited([this](std::string t) { form_.SetBeatsText(std::move(t)); }));
  connect(bars_, &QLineEdit::textChanged, this, edited([this](std::string t) { form_.SetBarsText(std::move(t)); }));
  connect(numerator_, &QLineEdit::textChanged, this,
          edited([this](std::string t) { form_.SetTimeSignature(std::move(t), form_.denominatorText); }));
  connect(denominator_, &QLineEdit::textChanged, this,
          edited([this](std::string t) { form_.SetTimeSignature(form_.numeratorText, std::move(t)); }));
  auto step = [this](auto fn) {
    return [this, fn] {
      fn();
      ShowFields();
    };
  };
  connect(beatsUp_, &QToolButton::clicked, this, step([this] { form_.StepBeats(1); }));
  connect(beatsDown_, &QToolButton::clicked, this, step([this] { form_.StepBeats(-1); }));
  connect(barsUp_, &QToolButton::clicked, this, step([this] { form_.StepBars(1); }));
  connect(barsDown_, &QToolButton::clicked, this, step([this] { form_.StepBars(-1); }));
  connect(group, &QButtonGroup::idClicked, this, [this](int id) {
    form_.SetMode(id == 1 ? AdjustToBpmForm::Mode::kBars : AdjustToBpmForm::Mode::kBeats);
    ShowFields();
  });
  ShowFields();
}

void CAdjustToBpmDlg::ShowFields() {
  showing_ = true;
  auto set = [](QLineEdit* edit, const std::string& text) {
    if (S(edit->text()) != text) edit->setText(Q(text));
  };
  set(bpm_, form_.bpmText);
  set(beats_, form_.beatsText);
  set(bars_, form_.barsText);
  set(numerator_, form_.numeratorText);
  set(denominator_, form_.denominatorText);
  length_->setText(Q(form_.CurrentLengthText()));
  currentBeats_->setText(Q(form_.CurrentBeatsText()));
  result_->setText(Q(form_.ResultText()));
  UpdateModeControls();
  showing_ = false;
}

void CAdjustToBpmDlg::UpdateModeControls() {
  const bool beats = form_.mode == AdjustToBpmForm::Mode::kBeats;
  for (QWidget* w : std::initializer_list<QWidget*>{beats_, beatsUp_, beatsDown_}) w->setEnabled(beats);
  for (QWidget* w : std::initializer_list<QWidget*>{bars_, barsUp_, barsDown_, numerator_, denominator_})
    w->setEnabled(!beats);
}

void CAdjustToBpmDlg::accept() {
  if (const auto warning = form_.Accept()) {
    ShowMessage(*warning, MessageIcon::Warning);
    return;
  }
  QDialog::accept();
}

// ----------------------------------------------------------- the hosts --

bool QtChopTempoDialogs::RunAutoChop(AutoChopValues& values) {
  CAutoChopDlg dlg(parent_);
  dlg.threshold = values.threshold;
  dlg.minimalSpacing = values.minSpacingMs;
  dlg.helpText = values.helpText;
  if (dlg.exec() != QDialog::Accepted) return false;
  values.threshold = dlg.threshold;
  values.minSpacingMs = dlg.minimalSpacing;
  return true;
}

bool QtChopTempoDialogs::RunAdjustToBpm(AdjustToBpmValues& values) {
  CAdjustToBpmDlg dlg(values, parent_);
  if (dlg.exec() != QDialog::Accepted) return false;
  values.bpm = dlg.Form().Bpm();
  values.targetLength = dlg.Form().TargetLength();
  return true;
}

void DeclareChopTempoAppCommands(CommandRegistry& registry, QWidget* frame) {
  DeclareChopTempoCommands(registry, *new QtChopTempoDialogs(frame));
}

}  // namespace zandrel

#include "app/global_props_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <functional>

namespace zandrel {

CGlobalPropsDlg::CGlobalPropsDlg(PageRequests& requests, QWidget* parent) : CPropertyPage(requests, parent) {
  setObjectName(QStringLiteral("GlobalPage"));
  rootField_ = new CColorEdit(this);
  for (int f = 0; f < kGlobalFieldCount; ++f) {
    QLineEdit* edit = f == kGlobalRoot ? rootField_ : new QLineEdit(this);
    fields_[static_cast<size_t>(f)] = edit;
    KeepFieldKeys(edit);
    connect(edit, &QLineEdit::textChanged, this,
            [this, f](const QString& text) { OnFieldEdited(static_cast<GlobalField>(f), text); });
  }
  ShowAsReadOnly(fields_[kGlobalBeats]);

  updateButton = new CFlatButton(QStringLiteral("Update"), this);
  pickRootButton = new QPushButton(QStringLiteral(".."), this);
  pickRootButton->setFixedWidth(28);
  connect(updateButton, &QPushButton::clicked, this, &CGlobalPropsDlg::ApplyGlobalEdits);
  connect(pickRootButton, &QPushButton::clicked, this, &CGlobalPropsDlg::OnPickRootNote);

  // A row of value buttons; each writes its texts and applies the page.
  auto buttonRow = [this](std::initializer_list<const char*> texts, std::function<void(std::string_view)> preset) {
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    for (const char* text : texts) {
      auto* b = new QPushButton(QString::fromLatin1(text), this);
      FitToText(b);
      const std::string value = text;
      connect(b, &QPushButton::clicked, this, [this, preset, value] {
        preset(value);
        Sync();
        Post(requests_.editGlobal);
      });
      valueButtons_.push_back(b);
      row->addWidget(b);
    }
    return row;
  };

  auto* grid = new QGridLayout;
  int row = 0;
  auto addField = [&](const char* label, GlobalField field, QWidget* after = nullptr) {
    grid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
    grid->addWidget(fields_[field], row, 1);
    if (after) grid->addWidget(after, row, 2);
    ++row;
  };
  auto addRow = [&](QLayout* buttons) {
    grid->addLayout(buttons, row, 0, 1, 3);
    ++row;
  };
  addField("Mode", kGlobalMode);
  addRow(buttonRow({"key", "oneshot", "legato", "loop"}, [this](std::string_view m) { model_.PresetPlayMode(m); }));
  addField("Default Root", kGlobalRoot, pickRootButton);
  addField("Pitch", kGlobalPitch, new QLabel(QStringLiteral("-12+"), this));
  addField("Pan", kGlobalPan, new QLabel(QStringLiteral("-16+"), this));
  addField("Amplitude", kGlobalAmplitude);
  addField("Attack", kGlobalAttack);
  addField("Release", kGlobalRelease);
  addField("Time Mode", kGlobalTimeMode);
  addRow(buttonRow({"off", "bpm", "bar"}, [this](std::string_view m) { model_.PresetTimeMode(m); }));
  addField("BPM", kGlobalBpm);
  addField("Beats", kGlobalBeats);
  addField("Sample Mode", kGlobalSampleMode);
  addRow(buttonRow({"single", "multi"}, [this](std::string_view m) { model_.PresetSampleMode(m); }));
  grid->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(grid);
  layout->addWidget(updateButton);
  layout->addStretch(1);
  Sync();
}

QPushButton* CGlobalPropsDlg::ValueButton(const QString& text) const {
  for (QPushButton* b : valueButtons_)
    if (b->text() == text) return b;
  return nullptr;
}

void CGlobalPropsDlg::Sync() {
  WriteTexts(fields_, model_.fields);
  ApplyColours(rootField_, model_.rootColours);
  model_.updateBlinking ? updateButton->StartBlinking() : updateButton->StopBlinking();
}

void CGlobalPropsDlg::OnFieldEdited(GlobalField field, const QString& text) {
  if (updatingControls || field == kGlobalBeats) return;
  model_.fields[field] = text.toStdString();
  if (field == kGlobalBpm) {
    model_.BpmEdited();
  } else {
    model_.FieldEdited();
  }
  Sync();
}

void CGlobalPropsDlg::ShowInstrument(const InstrumentParams& params, float seconds) {
  model_.ShowInstrument(params, seconds);
  Sync();
}

void CGlobalPropsDlg::SetDuration(float seconds) {
  model_.SetDuration(seconds);
  Sync();
}

void CGlobalPropsDlg::ApplyGlobalEdits() {
  model_.ApplyEdits();
  Sync();
  Post(requests_.editGlobal);
}

void CGlobalPropsDlg::OnPickRootNote() {
  if (!model_.PickRoot(RunNotePicker(model_.PickerRequest()))) return;
  Sync();
  Post(requests_.editGlobal);
}

}  // namespace zandrel

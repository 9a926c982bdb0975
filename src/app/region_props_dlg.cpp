#include "app/region_props_dlg.h"

#include <QGridLayout>
#include <QLabel>

namespace zandrel {

CRegionPropsDlg::CRegionPropsDlg(PageRequests& requests, QWidget* parent) : CPropertyPage(requests, parent) {
  setObjectName(QStringLiteral("RegionPage"));
  nameField_ = new CColorEdit(this);
  rootField_ = new CColorEdit(this);
  for (int f = 0; f < kRegionFieldCount; ++f) {
    QLineEdit* edit = f == kRegionName ? nameField_ : f == kRegionRootKey ? rootField_ : new QLineEdit(this);
    fields_[static_cast<size_t>(f)] = edit;
    KeepFieldKeys(edit);
    connect(edit, &QLineEdit::textChanged, this,
            [this, f](const QString& text) { OnFieldEdited(static_cast<RegionField>(f), text); });
  }
  // The name field keeps its own colours: it is coloured by the region.
  ShowAsReadOnly(nameField_, false);
  ShowAsReadOnly(fields_[kRegionLoopIn]);
  ShowAsReadOnly(fields_[kRegionLoopOut]);
  nameField_->setAlignment(Qt::AlignCenter);
  QFont bold = nameField_->font();
  bold.setBold(true);
  nameField_->setFont(bold);

  applyLoopButton = new CFlatButton(QStringLiteral("Apply to Region Loop"), this);
  updateButton = new CFlatButton(QStringLiteral("Update"), this);
  removeLoopButton = new QPushButton(QStringLiteral("Remove Loop"), this);
  for (QPushButton*& b : pickButtons) {
    b = new QPushButton(QStringLiteral(".."), this);
    b->setFixedWidth(28);
  }
  splitButton = new QPushButton(QStringLiteral("Split At Cursor"), this);
  removeRegionButton = new QPushButton(QStringLiteral("Remove Region"), this);
  deleteWavButton = new QPushButton(QStringLiteral("Delete Wav Data"), this);
  for (QPushButton* b : {static_cast<QPushButton*>(applyLoopButton), static_cast<QPushButton*>(updateButton),
                         removeLoopButton, splitButton, removeRegionButton, deleteWavButton})
    FitToText(b);

  connect(updateButton, &QPushButton::clicked, this, &CRegionPropsDlg::ApplyRegionEdits);
  connect(applyLoopButton, &QPushButton::clicked, this, &CRegionPropsDlg::OnApplyToRegionLoop);
  connect(removeLoopButton, &QPushButton::clicked, this, &CRegionPropsDlg::OnRemoveLoop);
  for (int which = 0; which < 3; ++which)
    connect(pickButtons[static_cast<size_t>(which)], &QPushButton::clicked, this, [this, which] { OnPickKey(which); });
  connect(splitButton, &QPushButton::clicked, this, [this] { Post(requests_.splitRegion); });
  connect(removeRegionButton, &QPushButton::clicked, this, [this] { Post(requests_.deleteRegion); });
  connect(deleteWavButton, &QPushButton::clicked, this, [this] { Post(requests_.removeAudio); });

  // Top to bottom: the region, the selection, the region's loop, its keys,
  // Update, then the tools; in four columns so that pairs share a row.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 6, 6, 6);
  grid->setVerticalSpacing(3);
  int row = 0;
  auto label = [this](const char* text) { return new QLabel(QString::fromLatin1(text), this); };
  auto heading = [&](const char* text) {
    QLabel* l = label(text);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->setContentsMargins(0, 4, 0, 0);
    grid->addWidget(l, row++, 0, 1, 4);
  };
  // Two fields side by side, each under its label.
  auto pair = [&](const char* first, RegionField a, const char* second, RegionField b) {
    grid->addWidget(label(first), row, 0, 1, 2);
    grid->addWidget(label(second), row++, 2, 1, 2);
    grid->addWidget(fields_[a], row, 0, 1, 2);
    grid->addWidget(fields_[b], row++, 2, 1, 2);
  };
  auto wide = [&](QWidget* w) { grid->addWidget(w, row++, 0, 1, 4); };

  wide(nameField_);
  pair("Start Sample", kRegionStart, "End Sample", kRegionEnd);
  heading("Selection");
  pair("Loop IN", kRegionLoopIn, "Loop OUT", kRegionLoopOut);
  wide(applyLoopButton);
  heading("Region Loop");
  pair("Loop Start", kRegionLoopStart, "Loop End", kRegionLoopEnd);
  wide(removeLoopButton);
  heading("Key Range");
  const char* keyLabels[3] = {"Low Key", "High Key", "Root Key"};
  const RegionField keyFields[3] = {kRegionLowKey, kRegionHighKey, kRegionRootKey};
  for (int i = 0; i < 3; ++i) {
    grid->addWidget(label(keyLabels[i]), row, 0);
    grid->addWidget(fields_[keyFields[i]], row, 1, 1, 2);
    grid->addWidget(pickButtons[static_cast<size_t>(i)], row++, 3, Qt::AlignLeft);
  }
  wide(updateButton);
  heading("Region Tools");
  grid->addWidget(splitButton, row, 0, 1, 2);
  grid->addWidget(removeRegionButton, row++, 2, 1, 2);
  wide(deleteWavButton);
  grid->setRowStretch(row, 1);
  for (int column = 0; column < 4; ++column) grid->setColumnStretch(column, 1);

  // OnInitDialog: the two flat buttons' schemes, the region controls off.
  appliedLoopScheme_ = model_.applyLoopScheme;
  applyLoopButton->SetColor(appliedLoopScheme_.base, appliedLoopScheme_.light, appliedLoopScheme_.pressed);
  const ButtonScheme update = RegionPageModel::kUpdateScheme;
  updateButton->SetColor(update.base, update.light, update.pressed);
  Sync();
}

void CRegionPropsDlg::Sync() {
  WriteTexts(fields_, model_.fields);
  EnableRegionControls(model_.regionControlsEnabled);
  ApplyColours(nameField_, model_.nameColours);
  ApplyColours(rootField_, model_.rootColours);
  if (!(model_.applyLoopScheme == appliedLoopScheme_)) {
    appliedLoopScheme_ = model_.applyLoopScheme;
    applyLoopButton->SetColor(appliedLoopScheme_.base, appliedLoopScheme_.light, appliedLoopScheme_.pressed);
  }
  model_.updateBlinking ? updateButton->StartBlinking() : updateButton->StopBlinking();
  model_.applyLoopBlinking ? applyLoopButton->StartBlinking() : applyLoopButton->StopBlinking();
}

void CRegionPropsDlg::OnFieldEdited(RegionField field, const QString& text) {
  if (updatingControls) return;
  model_.fields[field] = text.toStdString();
  if (field == kRegionName || field == kRegionLoopIn || field == kRegionLoopOut) return;
  model_.FieldEdited();
  Sync();
}

void CRegionPropsDlg::ShowRegion(const Region& region, int index) {
  model_.ShowRegion(region, index);
  Sync();
}

void CRegionPropsDlg::ShowSelection(int64_t a, int64_t b) {
  model_.ShowSelection(a, b);
  Sync();
}

void CRegionPropsDlg::EnableRegionControls(bool enable) {
  for (RegionField f : {kRegionStart, kRegionEnd, kRegionLoopStart, kRegionLoopEnd, kRegionLowKey, kRegionHighKey,
                        kRegionRootKey})
    fields_[f]->setEnabled(enable);
  for (QPushButton* b : {static_cast<QPushButton*>(updateButton), static_cast<QPushButton*>(applyLoopButton),
                         removeLoopButton, removeRegionButton, pickButtons[0], pickButtons[1], pickButtons[2]})
    b->setEnabled(enable);
}

void CRegionPropsDlg::ClearRegionPage() {
  model_.Clear();
  Sync();
}

bool CRegionPropsDlg::Shows(const Region& region, int index) const {
  return model_.regionControlsEnabled && model_.shownIndex == index && model_.editRegion == region;
}

void CRegionPropsDlg::ApplyRegionEdits() {
  model_.ApplyEdits();
  Sync();
  Post(requests_.editRegion);
}

void CRegionPropsDlg::OnApplyToRegionLoop() {
  const auto [in, out] = requests_.selection ? requests_.selection() : std::pair<int64_t, int64_t>{0, 0};
  model_.ApplyToRegionLoop(in, out);
  Sync();
  Post(requests_.editRegion);
}

void CRegionPropsDlg::OnRemoveLoop() {
  model_.RemoveLoop();
  Sync();
  Post(requests_.editRegion);
}

void CRegionPropsDlg::OnPickKey(int which) {
  if (!model_.PickNote(which, RunNotePicker(model_.PickerRequest(which)))) return;
  Sync();
  Post(requests_.editRegion);
}

}  // namespace zandrel

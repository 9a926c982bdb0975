#include "app/customize_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

namespace zandrel {

CCustomizeDlg::CCustomizeDlg(ToolbarLayout& layout, std::map<int, QString> commands, QWidget* parent)
    : QDialog(parent), layout_(layout), names_(std::move(commands)) {
  setWindowTitle(QStringLiteral("Customize"));
  toolbars_ = new QListWidget(this);
  commands_ = new QListWidget(this);
  newButton_ = new QPushButton(QStringLiteral("New Toolbar"), this);
  deleteButton_ = new QPushButton(QStringLiteral("Delete Toolbar"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("Toolbars:"), this), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Commands on the toolbar:"), this), 0, 1);
  grid->addWidget(toolbars_, 1, 0);
  grid->addWidget(commands_, 1, 1);
  auto* row = new QHBoxLayout;
  row->addWidget(newButton_);
  row->addWidget(deleteButton_);
  row->addStretch();
  grid->addLayout(row, 2, 0, 1, 2);
  grid->addWidget(buttons, 3, 0, 1, 2);

  connect(toolbars_, &QListWidget::currentRowChanged, this, [this](int r) { ShowToolbar(r); });
  connect(commands_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (filling_) return;
    const int row = toolbars_->currentRow();
    if (row < 0) return;
    std::vector<int>& ids = layout_.Toolbars()[static_cast<size_t>(row)].commands;
    const int id = item->data(Qt::UserRole).toInt();
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (item->checkState() == Qt::Checked) ids.push_back(id);
  });
  connect(newButton_, &QPushButton::clicked, this, [this] {
    if (layout_.AddUserToolbar()) RefreshToolbars(static_cast<int>(layout_.Toolbars().size()) - 1);
  });
  connect(deleteButton_, &QPushButton::clicked, this, [this] {
    const int row = toolbars_->currentRow();
    layout_.RemoveToolbar(static_cast<size_t>(std::max(row, 0)));
    RefreshToolbars(0);
  });
  RefreshToolbars(0);
  resize(520, 420);
}

void CCustomizeDlg::RefreshToolbars(int select) {
  toolbars_->clear();
  for (const ToolbarSpec& spec : layout_.Toolbars()) toolbars_->addItem(QString::fromStdString(spec.name));
  toolbars_->setCurrentRow(select);
  ShowToolbar(select);
}

void CCustomizeDlg::ShowToolbar(int row) {
  filling_ = true;
  commands_->clear();
  if (row >= 0 && row < static_cast<int>(layout_.Toolbars().size())) {
    const ToolbarSpec& spec = layout_.Toolbars()[static_cast<size_t>(row)];
    for (const auto& [id, name] : names_) {
      auto* item = new QListWidgetItem(name, commands_);
      item->setData(Qt::UserRole, id);
      const bool on = std::find(spec.commands.begin(), spec.commands.end(), id) != spec.commands.end();
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    deleteButton_->setEnabled(spec.user);
  }
  newButton_->setEnabled(true);
  filling_ = false;
}

}  // namespace zandrel

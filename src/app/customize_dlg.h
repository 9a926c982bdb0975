// "Customize...": choose the toolbars and the commands each one holds.
#pragma once

#include <QDialog>
#include <functional>
#include <map>

#include "app/model/toolbar_layout.h"

class QListWidget;
class QPushButton;

namespace zandrel {

class CCustomizeDlg final : public QDialog {
 public:
  // |commands| maps command ids to the names shown in the list.
  CCustomizeDlg(ToolbarLayout& layout, std::map<int, QString> commands, QWidget* parent = nullptr);

  QListWidget* toolbarList() const { return toolbars_; }
  QListWidget* commandList() const { return commands_; }
  QPushButton* newButton() const { return newButton_; }
  QPushButton* deleteButton() const { return deleteButton_; }

 private:
  void ShowToolbar(int row);
  void RefreshToolbars(int select);

  ToolbarLayout& layout_;
  std::map<int, QString> names_;
  QListWidget* toolbars_;
  QListWidget* commands_;
  QPushButton* newButton_;
  QPushButton* deleteButton_;
  bool filling_ = false;
};

}  // namespace zandrel

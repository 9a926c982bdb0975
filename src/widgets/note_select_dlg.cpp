#include "widgets/note_select_dlg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/piano_selector_wnd.h"

namespace zandrel {

CNoteSelectDlg::CNoteSelectDlg(QWidget* parent)
    : QDialog(parent),
      piano_(new CPianoSelectorWnd(this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setWindowTitle(QStringLiteral("Note Selector"));
  // About 17 white keys wide, as the dialog's 295 x 123 unit frame shows them.
  piano_->setFixedSize(442, 200);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CNoteSelectDlg::OnClickedOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(piano_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CNoteSelectDlg::showEvent(QShowEvent* event) {
  if (!initialised_) OnInitDialog();
  QDialog::showEvent(event);
  raise();
  activateWindow();
}

void CNoteSelectDlg::OnInitDialog() {
  initialised_ = true;
  piano_->SetKeyRange(lowNote, highNote, rootNote, selectMode);
  // SetKeyRange resets the accent colour, so the caller's colours go after it.
  piano_->Model().accentColor = accentColor;
  piano_->Model().neutralColors = neutralColors;
  piano_->update();
  piano_->setFocus();
}

void CNoteSelectDlg::OnClickedOk() {
  resultNote = piano_->Model().pickedNote;
  accept();
}

}  // namespace zandrel

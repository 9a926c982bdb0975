// CNoteSelectDlg: the modal note picker ("Note Selector").
//
// The caller builds it on its stack, sets lowNote, highNote, rootNote,
// selectMode (0 low, 1 high, 2 root) and, where wanted, accentColor and
// neutralColors, runs exec(), and on QDialog::Accepted reads resultNote,
// accepting it only when it is a note 0..127. resultNote is the last key
// clicked, or the key that selectMode names when none was clicked (-1 for a
// mode other than 0..2).
#pragma once

#include <QDialog>

#include "platform/colorref.h"

class QPushButton;

namespace zandrel {

class CPianoSelectorWnd;

class CNoteSelectDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CNoteSelectDlg(QWidget* parent = nullptr);

  int32_t resultNote = -1;
  int32_t lowNote = 0;
  int32_t highNote = 127;
  int32_t rootNote = 60;
  ColorRef accentColor = kSteelBlue;
  int32_t neutralColors = 0;
  int32_t selectMode = 2;

  CPianoSelectorWnd* Piano() const { return piano_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnInitDialog();
  void OnClickedOk();

  CPianoSelectorWnd* piano_;
  QPushButton* ok_;
  QPushButton* cancel_;
  bool initialised_ = false;
};

}  // namespace zandrel

// CColorEdit: a line edit whose background and text colours can be set.
//
// Until the first SetBkColor it keeps the style's colours, so it looks like
// any other field. Owners that change textColour call SetBkColor afterwards,
// which applies both. User-interface thread only.
#pragma once

#include <QLineEdit>

#include "platform/colorref.h"

namespace zandrel {

class CColorEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CColorEdit(QWidget* parent = nullptr);

  ColorRef backgroundColour = 0xFFFFFF;
  ColorRef textColour = 0x000000;

  void SetBkColor(ColorRef colour);
  bool ColouringEnabled() const { return colouringEnabled_; }

 private:
  bool colouringEnabled_ = false;
};

}  // namespace zandrel

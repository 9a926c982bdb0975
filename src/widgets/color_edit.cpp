#include "widgets/color_edit.h"

#include <QPalette>

#include "widgets/qt_colors.h"

namespace zandrel {

CColorEdit::CColorEdit(QWidget* parent) : QLineEdit(parent) {}

void CColorEdit::SetBkColor(ColorRef colour) {
  backgroundColour = colour;
  colouringEnabled_ = true;
  QPalette pal = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    pal.setColor(group, QPalette::Base, ToQColor(backgroundColour));
    pal.setColor(group, QPalette::Text, ToQColor(textColour));
  }
  setPalette(pal);
  update();
}

}  // namespace zandrel

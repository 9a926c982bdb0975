#include "widgets/flat_button.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "widgets/qt_colors.h"

namespace zandrel {

CFlatButton::CFlatButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  blinkTimer_.setInterval(500);
  connect(&blinkTimer_, &QTimer::timeout, this, &CFlatButton::OnBlinkTimer);
  setAttribute(Qt::WA_Hover);
}

void CFlatButton::SetColor(ColorRef base, double light, double pressed) {
  colours.SetColor(base, light, pressed);
  repaint();
}

void CFlatButton::StartBlinking() {
  if (blinking_) return;
  blinking_ = true;
  blinkPhase_ = true;
  blinkTimer_.start();
  update();
}

void CFlatButton::StopBlinking() {
  if (!blinking_) return;
  blinking_ = false;
  blinkTimer_.stop();
  repaint();
}

void CFlatButton::OnBlinkTimer() {
  blinkPhase_ = !blinkPhase_;
  repaint();
}

FlatButtonLook CFlatButton::CurrentLook() const {
  FlatButtonState state;
  state.disabled = !isEnabled();
  state.pressed = isDown();
  state.hovering = hovering_;
  state.blinking = blinking_;
  state.blinkPhase = blinkPhase_;
  return PickFlatButtonLook(colours, state);
}

void CFlatButton::paintEvent(QPaintEvent*) {
  const FlatButtonLook look = CurrentLook();
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, ToQColor(look.face));
  p.setPen(ToQColor(look.frame));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.setPen(ToQColor(look.text));
  p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text());
  if (hasFocus() && isEnabled()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = r.adjusted(3, 3, -3, -3);
    focus.backgroundColor = ToQColor(look.face);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
  }
}

void CFlatButton::enterEvent(QEnterEvent* event) {
  if (!hovering_) {
    hovering_ = true;
    repaint();
  }
  QPushButton::enterEvent(event);
}

void CFlatButton::leaveEvent(QEvent* event) {
  hovering_ = false;
  repaint();
  QPushButton::leaveEvent(event);
}

}  // namespace zandrel

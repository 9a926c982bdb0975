// CFlatButton: a push button painted in flat colours.
//
// Face, one-pixel frame and centred text in the colours of its state
// (disabled, pressed, hovering, normal), a scheme derived from one base
// colour (SetColor), and a blinking mode that alternates the face every
// 500 ms to draw attention to a pending action ("Update", "Apply to Region
// Loop"). User-interface thread only; the blink timer belongs to the button.
#pragma once

#include <QPushButton>
#include <QTimer>

#include "widgets/flat_button_colours.h"

namespace zandrel {

class CFlatButton : public QPushButton {
  Q_OBJECT

 public:
  explicit CFlatButton(const QString& text, QWidget* parent = nullptr);

  // The colours in use; SetColor derives them from a base colour.
  FlatButtonColours colours;

  void SetColor(ColorRef base, double light, double pressed);
  // A blinking button keeps its timer: starting again changes nothing.
  void StartBlinking();
  void StopBlinking();

  bool IsBlinking() const { return blinking_; }
  bool BlinkPhase() const { return blinkPhase_; }
  bool IsHovering() const { return hovering_; }
  const QTimer& BlinkTimer() const { return blinkTimer_; }
  // What the next paint shows.
  FlatButtonLook CurrentLook() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void OnBlinkTimer();

  QTimer blinkTimer_;
  bool blinking_ = false;
  bool blinkPhase_ = true;
  bool hovering_ = false;
};

}  // namespace zandrel

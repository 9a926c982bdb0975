// CKnobControl: the widget of one knob, selector, section text or label row.
//
// It paints the KnobModel it shares with its panel and turns mouse, wheel
// and key events into model calls: drag right or up to raise the value
// (Shift for fine steps), wheel by 1% (0.1% with Shift) or by items, arrow
// keys, Page Up/Down, Home and End, a double click for the default, the right
// button held to show the value. Every value change is reported to the parent
// through the scrolled() signal, connected directly so it arrives before the
// change returns. The model outlives the widget, so values stay readable after
// the hosting window is gone. User-interface thread only.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

#include "widgets/model/knob_model.h"

class QPainter;

namespace zandrel {

class CKnobControl : public QWidget {
  Q_OBJECT

 public:
  // A knob of its own when |model| is null.
  explicit CKnobControl(std::shared_ptr<KnobModel> model = nullptr, QWidget* parent = nullptr);
  ~CKnobControl() override;

  KnobModel& Model() { return *model_; }
  const KnobModel& Model() const { return *model_; }
  const std::shared_ptr<KnobModel>& SharedModel() const { return model_; }

  bool SetNormalizedValue(float value) { return model_->SetNormalizedValue(value); }
  float GetValue() const { return model_->GetValue(); }
  int GetSelectedIndex() const { return model_->GetSelectedIndex(); }
  void SetSelectedIndex(int index) { model_->SetSelectedIndex(index); }
  std::string GetSelectedLabel() const { return model_->GetSelectedLabel(); }
  std::string FormatValue() const { return model_->FormatValue(); }
  // The 1500 ms timer that ends the value display after a wheel turn.
  const QTimer& ValueDisplayTimer() const { return valueDisplayTimer_; }

  // The control id the owner gave it (the parameter id).
  int id = 0;

 signals:
  // After every change through SetNormalizedValue: the position (value x 100,
  // truncated) and the knob.
  void scrolled(int position, CKnobControl* knob);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Attach();
  void PaintFigure(QPainter& p);

  std::shared_ptr<KnobModel> model_;
  QTimer valueDisplayTimer_;
  int wheelRemainder_ = 0;
};

}  // namespace zandrel

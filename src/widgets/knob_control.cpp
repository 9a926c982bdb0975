#include "widgets/knob_control.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <cmath>

#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

// Colours given with their alpha in the top byte (0xAARRGGBB).
QColor Argb(uint32_t argb) { return QColor::fromRgba(argb); }

QColor WithAlpha(ColorRef c, int alpha) {
  QColor q = ToQColor(c);
  q.setAlpha(alpha);
  return q;
}

QFont SansFont(const QWidget& w, int points) {
  QFont f = w.font();
  f.setFamily(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  f.setStyleHint(QFont::SansSerif);
  f.setPointSize(points);
  return f;
}

// Qt measures arcs counter-clockwise in sixteenths of a degree; the figure's
// angles run clockwise on the screen.
int QtAngle(double clockwiseDegrees) { return static_cast<int>(std::lround(-clockwiseDegrees * 16.0)); }

QPointF OnCircle(double cx, double cy, double radius, double degrees) {
  const double r = degrees * 3.14159 / 180.0;
  return {cx + radius * std::cos(r), cy + radius * std::sin(r)};
}

}  // namespace

CKnobControl::CKnobControl(std::shared_ptr<KnobModel> model, QWidget* parent)
    : QWidget(parent), model_(model ? std::move(model) : std::make_shared<KnobModel>()) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  valueDisplayTimer_.setSingleShot(true);
  valueDisplayTimer_.setInterval(1500);
  connect(&valueDisplayTimer_, &QTimer::timeout, this, [this] {
    model_->valueDisplay = false;
    update();
  });
  Attach();
}

CKnobControl::~CKnobControl() {
  // The model lives on with the panel; it must not call into a dead widget.
  model_->repaint = nullptr;
  model_->scrollNotification = nullptr;
}

void CKnobControl::Attach() {
  model_->repaint = [this] { update(); };
  model_->scrollNotification = [this](int position) { emit scrolled(position, this); };
}

void CKnobControl::mousePressEvent(QMouseEvent* event) {
  if (!model_->TakesMouse()) return;
  if (event->button() == Qt::LeftButton) {
    setFocus(Qt::MouseFocusReason);
    const QPoint p = event->position().toPoint();
    model_->BeginDrag(p.x(), p.y());
  } else if (event->button() == Qt::RightButton) {
    model_->valueDisplay = true;
    update();
  }
}

void CKnobControl::mouseMoveEvent(QMouseEvent* event) {
  if (!model_->TakesMouse()) return;
  if (model_->mouseState == KnobMouseState::kDragging) {
    const QPoint p = event->position().toPoint();
    model_->DragTo(p.x(), p.y(), event->modifiers().testFlag(Qt::ShiftModifier));
  } else if (model_->mouseState != KnobMouseState::kHover) {
    model_->mouseState = KnobMouseState::kHover;
    update();
  }
}

void CKnobControl::mouseReleaseEvent(QMouseEvent* event) {
  if (!model_->TakesMouse()) return;
  if (event->button() == Qt::LeftButton) {
    model_->EndDrag(rect().contains(event->position().toPoint()));
  } else if (event->button() == Qt::RightButton) {
    model_->valueDisplay = false;
    update();
  }
}

void CKnobControl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (!model_->TakesMouse()) return;
  if (event->button() == Qt::LeftButton) {
    // The release that follows compares with the value at the first press,
    // so a reset to the default is committed like a drag.
    model_->DoubleClick();
  }
}

void CKnobControl::wheelEvent(QWheelEvent* event) {
  if (!model_->TakesMouse()) {
    event->ignore();
    return;
  }
  // Whole notches of 120; touchpads send less and it adds up.
  wheelRemainder_ += event->angleDelta().y();
  const bool fine = event->modifiers().testFlag(Qt::ShiftModifier);
  while (wheelRemainder_ >= 120 || wheelRemainder_ <= -120) {
    const bool up = wheelRemainder_ > 0;
    wheelRemainder_ += up ? -120 : 120;
    model_->Wheel(up, fine);
    valueDisplayTimer_.start();
  }
  event->accept();
}

void CKnobControl::keyPressEvent(QKeyEvent* event) {
  KnobKey key;
  switch (event->key()) {
    case Qt::Key_PageUp: key = KnobKey::kPageUp; break;
    case Qt::Key_PageDown: key = KnobKey::kPageDown; break;
    case Qt::Key_Home: key = KnobKey::kHome; break;
    case Qt::Key_End: key = KnobKey::kEnd; break;
    case Qt::Key_Left: key = KnobKey::kLeft; break;
    case Qt::Key_Right: key = KnobKey::kRight; break;
    case Qt::Key_Up: key = KnobKey::kUp; break;
    case Qt::Key_Down: key = KnobKey::kDown; break;
    default: QWidget::keyPressEvent(event); return;
  }
  model_->Key(key, event->modifiers().testFlag(Qt::ShiftModifier));
  event->accept();
}

void CKnobControl::enterEvent(QEnterEvent*) {
  if (model_->mouseState == KnobMouseState::kIdle && model_->TakesMouse()) {
    model_->mouseState = KnobMouseState::kHover;
    update();
  }
}

void CKnobControl::leaveEvent(QEvent*) {
  if (model_->mouseState != KnobMouseState::kDragging) {
    model_->mouseState = KnobMouseState::kIdle;
    update();
  }
}

void CKnobControl::paintEvent(QPaintEvent*) {
  const KnobModel& k = *model_;
  QPainter p(this);
  p.fillRect(rect(), ToQColor(k.backgroundColour));
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRect inset = rect().adjusted(5, 5, -5, -5);
  if (k.kind == kKnobLabelRow) {
    p.fillRect(rect(), ToQColor(k.accentColour));
    p.setFont(SansFont(*this, 9));
    p.setPen(ToQColor(k.textColour));
    // A label row is only 15 pixels tall: the text keeps the 5-pixel margins
    // at the sides and is centred in the full height, where a 9-point line
    // fits, rather than being cut to the 5 pixels left between the margins.
    const QRect band = rect().adjusted(5, 0, -5, 0);
    const QString text = p.fontMetrics().elidedText(QString::fromStdString(k.label), Qt::ElideRight, band.width());
    p.drawText(band, Qt::AlignCenter | Qt::TextSingleLine, text);
    return;
  }
  if (k.kind == kKnobSection) {
    p.setFont(SansFont(*this, 9));
    p.setPen(QColor(0x3C, 0x3C, 0x3C));
    p.drawText(inset, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, QString::fromStdString(k.label));
    return;
  }
  PaintFigure(p);
}

void CKnobControl::PaintFigure(QPainter& p) {
  const KnobModel& k = *model_;
  const KnobFigure f = LayoutKnobFigure(k, width(), height());
  const QRectF arcBox(f.squareLeft + 4, f.top + 4, 82, 82);
  QColor arcColour, pointerColour;
  switch (k.mouseState) {
    case KnobMouseState::kIdle:
      arcColour = WithAlpha(k.accentColour, 180);
      pointerColour = Argb(0xFF969696);
      break;
    case KnobMouseState::kHover:
      arcColour = WithAlpha(k.accentColour, 220);
      pointerColour = ToQColor(k.accentColour);
      break;
    case KnobMouseState::kDragging:
      arcColour = pointerColour = ToQColor(k.accentColour);
      break;
  }

  if (k.IsSelector()) {
    const int n = static_cast<int>(k.items.size());
    const double a = 270.0 / n;
    for (int i = 0; i < n; ++i) {
      const bool selected = i == k.selectedIndex;
      QPen pen(WithAlpha(k.items[static_cast<size_t>(i)].colour, selected ? 255 : 80), selected ? 6.0 : 3.0);
      pen.setCapStyle(Qt::FlatCap);
      p.setPen(pen);
      p.drawArc(arcBox, QtAngle(135.0 + i * a), QtAngle(a));
    }
    QPen tick(Argb(0x96B4B4B4), 1.5);
    p.setPen(tick);
    for (int j = 1; j < n; ++j) {
      const double angle = 135.0 + j * a;
      p.drawLine(OnCircle(f.centreX, f.centreY, 0.85 * f.arcRadius, angle),
                 OnCircle(f.centreX, f.centreY, 1.05 * f.arcRadius, angle));
    }
  } else if (f.drawArc) {
    QPen pen(arcColour, 6.0);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.drawArc(arcBox, QtAngle(f.arcStart), QtAngle(f.arcSweep));
  }

  p.setPen(QPen(Argb(0xFFB4B4B4), 1.0));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(f.centreX, f.centreY), f.bodyRadius, f.bodyRadius);

  QPen pointer(pointerColour, 2.0);
  pointer.setCapStyle(Qt::RoundCap);
  p.setPen(pointer);
  p.drawLine(QPointF(f.centreX, f.centreY), OnCircle(f.centreX, f.centreY, f.pointerLength, f.pointerAngle));

  const std::string text = k.DisplayText();
  if (text.empty()) return;
  // A name longer than the knob is wide ("Waveguide air loss") is set a
  // little smaller until it fits, rather than cut at the knob's edges.
  const QString shown = QString::fromStdString(text);
  QFont font = SansFont(*this, 8);
  for (qreal points = 7.5; points >= 6.0 && QFontMetricsF(font).horizontalAdvance(shown) > width(); points -= 0.5)
    font.setPointSizeF(points);
  p.setFont(font);
  p.setPen(QColor(0x64, 0x64, 0x64));
  p.drawText(QRect(0, f.textTop, width(), f.textBottom - f.textTop), Qt::AlignCenter | Qt::TextSingleLine, shown);
}

}  // namespace zandrel

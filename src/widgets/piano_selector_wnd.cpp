#include "widgets/piano_selector_wnd.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>

#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

QRect ToQRect(const PianoRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// A one-pixel outline along the inside of |r|.
void FrameRect(QPainter& p, const PianoRect& r, ColorRef colour) {
  p.setPen(QPen(ToQColor(colour), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(r.left, r.top, r.Width() - 1, r.Height() - 1));
}

PianoScroll ScrollOf(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return PianoScroll::kLineLeft;
    case QAbstractSlider::SliderSingleStepAdd: return PianoScroll::kLineRight;
    case QAbstractSlider::SliderPageStepSub: return PianoScroll::kPageLeft;
    case QAbstractSlider::SliderPageStepAdd: return PianoScroll::kPageRight;
    case QAbstractSlider::SliderMove: return PianoScroll::kThumbTrack;
    default: return PianoScroll::kOther;
  }
}

}  // namespace

CPianoSelectorWnd::CPianoSelectorWnd(QWidget* parent) : QWidget(parent), scrollBar_(new QScrollBar(Qt::Horizontal, this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  connect(scrollBar_, &QScrollBar::actionTriggered, this, &CPianoSelectorWnd::OnScrollAction);
  UpdateScrollBar();
}

PianoRect CPianoSelectorWnd::ClientRect() const {
  return PianoRect{0, 0, width(), std::max(0, height() - scrollBar_->sizeHint().height())};
}

void CPianoSelectorWnd::SetKeyRange(int low, int high, int root, int mode) {
  model_.SetKeyRange(low, high, root, mode, GetVisibleWhiteKeys());
  UpdateScrollBar();
  update();
}

void CPianoSelectorWnd::UpdateScrollBar() {
  const PianoScrollBar bar = model_.ScrollBar(GetVisibleWhiteKeys());
  const QSignalBlocker block(scrollBar_);
  // Qt's maximum is the last thumb position: the range's end less the page.
  scrollBar_->setRange(bar.min, std::max(bar.min, bar.max + 1 - bar.page));
  scrollBar_->setPageStep(bar.page);
  scrollBar_->setSingleStep(1);
  scrollBar_->setValue(bar.pos);
}

void CPianoSelectorWnd::OnScrollAction(int action) {
  const int next = model_.Scroll(ScrollOf(action), GetVisibleWhiteKeys(), scrollBar_->sliderPosition());
  scrollBar_->setSliderPosition(next);
  update();
}

QImage CPianoSelectorWnd::Render() const {
  const PianoRect client = ClientRect();
  QImage image(std::max(1, client.Width()), std::max(1, client.Height()), QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.fillRect(image.rect(), ToQColor(kPianoBackground));
  const PianoPicture picture = model_.Picture(client);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(8);
  p.setFont(font);

  for (const PianoWhiteKey& key : picture.whiteKeys) {
    p.fillRect(ToQRect(key.body), ToQColor(key.fill));
    if (key.rootMark) p.fillRect(ToQRect(*key.rootMark), ToQColor(model_.accentColor));
    p.setPen(QPen(ToQColor(kPianoKeySeparator), 1));
    p.drawLine(key.separatorX, key.body.top, key.separatorX, key.body.bottom - 1);
    p.setPen(ToQColor(key.labelColour));
    p.drawText(ToQRect(key.labelRect), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(key.label));
  }
  for (const PianoBlackKey& key : picture.blackKeys) {
    const PianoRect& r = key.body;
    p.fillRect(ToQRect(r), ToQColor(key.fill));
    p.setPen(QPen(ToQColor(kPianoBlackEdgeLight), 1));
    p.drawLine(r.left, r.top, r.right - 2, r.top);
    p.drawLine(r.left, r.top, r.left, r.bottom - 2);
    p.setPen(QPen(ToQColor(kPianoBlackEdgeDark), 1));
    p.drawLine(r.right - 1, r.top, r.right - 1, r.bottom - 1);
    p.drawLine(r.left, r.bottom - 1, r.right - 1, r.bottom - 1);
    if (key.rootMark) p.fillRect(ToQRect(*key.rootMark), ToQColor(model_.accentColor));
  }
  if (picture.marker) {
    const PianoMarker& m = *picture.marker;
    if (m.black) {
      FrameRect(p, m.inner, kPianoMarkerWhite);
      FrameRect(p, m.outer, kPianoMarkerShadow);
    } else {
      QPolygon outline;
      for (const PianoPoint& pt : m.outline) outline << QPoint(pt.x, pt.y);
      p.setPen(QPen(ToQColor(kPianoMarkerOutline), 2));
      p.setBrush(Qt::NoBrush);
      p.drawPolygon(outline);
    }
  }
  p.setRenderHint(QPainter::Antialiasing);
  for (const PianoDot& dot : picture.dots) {
    p.setPen(QPen(ToQColor(kPianoMarkPen), 1));
    p.setBrush(ToQColor(dot.fill));
    p.drawEllipse(QRectF(dot.box.left, dot.box.top, dot.box.Width() - 1, dot.box.Height() - 1));
  }
  return image;
}

void CPianoSelectorWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Render());
}

void CPianoSelectorWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int h = scrollBar_->sizeHint().height();
  scrollBar_->setGeometry(0, std::max(0, height() - h), width(), h);
  UpdateScrollBar();
}

void CPianoSelectorWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  if (model_.Click(at.x(), at.y(), ClientRect())) {
    update();
    emit keyClicked(model_.pickedNote);
  }
  event->accept();
}

}  // namespace zandrel

#include "device/ui/ep_display_ctrl.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace zandrel {

CEpDisplayCtrl::CEpDisplayCtrl(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

QImage CEpDisplayCtrl::Render(QSize size) const {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(backgroundColour);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.setPen(Qt::NoPen);
  // Half-pixel offset, as a pixel-centred drawing surface would place shapes.
  p.translate(0.5, 0.5);
  const QColor lit = QColor::fromRgba(litColour);
  const QColor unlit = QColor::fromRgba(unlitColour);
  for (int i = 0; i < 16; ++i) {
    const char ch = i < static_cast<int>(text.size()) ? text[static_cast<size_t>(i)] : ' ';
    const CellBox box = DisplayCell(i, size.width(), size.height());
    const CellGeometry cell = SegmentCharGeometry(ch, box.x, box.y, box.w, box.h);
    for (const SegmentPolygon& segment : cell.segments) {
      QPolygonF polygon;
      for (const PointD& pt : segment.points) polygon << QPointF(pt.x, pt.y);
      p.setBrush(segment.lit ? lit : unlit);
      p.drawPolygon(polygon, Qt::OddEvenFill);
    }
    if (cell.decimalPoint) {
      const auto& [x, y, diameter] = *cell.decimalPoint;
      p.setBrush(lit);
      p.drawEllipse(QRectF(x, y, diameter, diameter));
    }
  }
  return image;
}

void CEpDisplayCtrl::paintEvent(QPaintEvent*) {
  QPainter screen(this);
  screen.drawImage(0, 0, Render(size()));
}

CWaveformCtrl::CWaveformCtrl(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void CWaveformCtrl::SetData(std::span<const uint8_t> bytes) { preview_.SetData(bytes, channelCount); }

void CWaveformCtrl::DrawChannel(QPainter& painter, const std::vector<WaveformPreview::Pair>& lane,
                                const QRect& rect) const {
  const int left = rect.left();
  const int right = rect.left() + rect.width();
  const int top = rect.top();
  const int bottom = rect.top() + rect.height();
  const int mid = (top + bottom) / 2;
  painter.setPen(QPen(centreLineColour, 1));
  painter.drawLine(left, mid, right, mid);
  painter.setPen(QPen(waveformColour, 1));
  for (const WaveformPreview::Stroke& s : WaveformPreview::LaneStrokes(lane, left, top, right, bottom))
    painter.drawLine(s.x, s.top, s.x, s.bottom);
}

QImage CWaveformCtrl::Render(QSize size) const {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(backgroundColour);
  QPainter p(&image);
  const int h = size.height();
  if (channelCount == 1) {
    DrawChannel(p, preview_.Lane(0), QRect(0, 0, size.width(), h));
  } else {
    DrawChannel(p, preview_.Lane(0), QRect(0, 0, size.width(), h / 2));
    DrawChannel(p, preview_.Lane(1), QRect(0, h / 2, size.width(), h - h / 2));
  }
  return image;
}

void CWaveformCtrl::paintEvent(QPaintEvent*) {
  QPainter screen(this);
  screen.drawImage(0, 0, Render(size()));
}

}  // namespace zandrel

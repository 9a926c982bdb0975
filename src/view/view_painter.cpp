#include "view/view_painter.h"

#include <QFont>
#include <QPen>
#include <QPolygonF>
#include <vector>

namespace zandrel {
namespace {

// Qt puts pixel centres at +0.5; the picture puts them at integer points.
constexpr qreal kCentre = 0.5;

QPointF At(const PointF& p) { return QPointF(p.x + kCentre, p.y + kCentre); }

QPolygonF Points(const std::vector<PointF>& points) {
  QPolygonF polygon;
  polygon.reserve(static_cast<qsizetype>(points.size()));
  for (const PointF& p : points) polygon.append(At(p));
  return polygon;
}

QPen Pen(const DrawOp& op) {
  QPen pen(QColor::fromRgba(op.color));
  pen.setWidthF(op.penWidth);
  if (op.dotted) pen.setStyle(Qt::DotLine);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

QFont Font(const FontSpec& spec) {
  QFont font(QString::fromUtf8(spec.family.data(), static_cast<qsizetype>(spec.family.size())));
  font.setPixelSize(qMax(1, qRound(spec.pixelSize)));
  font.setBold(spec.bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

int AlignmentFlags(TextAlign align) {
  switch (align) {
    case TextAlign::kLeftMiddle: return Qt::AlignLeft | Qt::AlignVCenter;
    case TextAlign::kCentre: return Qt::AlignCenter;
    case TextAlign::kCentreTop: return Qt::AlignHCenter | Qt::AlignTop;
    case TextAlign::kLeftTop: return Qt::AlignLeft | Qt::AlignTop;
  }
  return Qt::AlignCenter;
}

}  // namespace

void PaintDrawList(QPainter& p, const DrawList& list) {
  for (const DrawOp& op : list.Ops()) {
    switch (op.kind) {
      case DrawOp::Kind::kFillRect:
        if (op.w > 0 && op.h > 0) p.fillRect(QRectF(op.x, op.y, op.w, op.h), QColor::fromRgba(op.color));
        break;
      case DrawOp::Kind::kOutlineRect:
        if (op.w > 0 && op.h > 0) {
          p.setPen(Pen(op));
          p.setBrush(Qt::NoBrush);
          p.drawRect(QRectF(op.x + kCentre, op.y + kCentre, op.w, op.h));
        }
        break;
      case DrawOp::Kind::kLine:
        p.setPen(Pen(op));
        p.drawLine(At(op.points[0]), At(op.points[1]));
        break;
      case DrawOp::Kind::kLines: {
        std::vector<QLineF> lines;
        lines.reserve(op.points.size() / 2);
        for (size_t i = 0; i + 1 < op.points.size(); i += 2) lines.emplace_back(At(op.points[i]), At(op.points[i + 1]));
        p.setPen(Pen(op));
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
        break;
      }
      case DrawOp::Kind::kPolyline:
        if (op.points.size() >= 2) {
          p.setPen(Pen(op));
          p.drawPolyline(Points(op.points));
        }
        break;
      case DrawOp::Kind::kPolygon:
        if (op.points.size() >= 3) {
          p.setPen(op.outline ? QPen(QColor::fromRgba(op.outline), op.penWidth) : QPen(Qt::NoPen));
          p.setBrush(QColor::fromRgba(op.color));
          p.drawPolygon(Points(op.points), Qt::OddEvenFill);
          p.setBrush(Qt::NoBrush);
        }
        break;
      case DrawOp::Kind::kText:
        if (op.w > 0 && op.h > 0) {
          const QRectF rect(op.x, op.y, op.w, op.h);
          p.save();
          p.setClipRect(rect);
          p.setFont(Font(op.font));
          p.setPen(QColor::fromRgba(op.color));
          p.drawText(rect, AlignmentFlags(op.align) | Qt::TextSingleLine, QString::fromStdString(op.text));
          p.restore();
        }
        break;
    }
  }
}

}  // namespace zandrel

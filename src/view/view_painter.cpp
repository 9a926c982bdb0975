#include "view/view_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "view/model/particles.h"

namespace zandrel {
namespace {

// Qt puts pixel centres at +0.5; the picture puts them at integer points.
constexpr qreal kCentre = 0.5;
constexpr size_t kSmoothPolygonPoints = 64;

QPointF At(const PointF& p) { return QPointF(p.x + kCentre, p.y + kCentre); }

QPolygonF Points(const std::vector<PointF>& points) {
  QPolygonF polygon;
  polygon.reserve(static_cast<qsizetype>(points.size()));
  for (const PointF& p : points) polygon.append(At(p));
  return polygon;
}

// Lines that run along a pixel row or column with a whole-pixel width cover
// whole pixels: smoothing them changes nothing but their ends and costs a
// great deal for the waveform's columns and the grids.
bool AxisAligned(const DrawOp& op) {
  if (op.penWidth != static_cast<float>(static_cast<int>(op.penWidth))) return false;
  for (size_t i = 0; i + 1 < op.points.size(); i += 2)
    if (op.points[i].x != op.points[i + 1].x && op.points[i].y != op.points[i + 1].y) return false;
  return true;
}

// Turns antialiasing off for its lifetime when |on|.
class Sharp {
 public:
  Sharp(QPainter& p, bool on) : p_(p), restore_(on && p.testRenderHint(QPainter::Antialiasing)) {
    if (restore_) p_.setRenderHint(QPainter::Antialiasing, false);
  }
  ~Sharp() {
    if (restore_) p_.setRenderHint(QPainter::Antialiasing, true);
  }
  Sharp(const Sharp&) = delete;
  Sharp& operator=(const Sharp&) = delete;

 private:
  QPainter& p_;
  bool restore_;
};

// Each 8-bit channel of |x| times |a| / 255, rounded as the painter rounds
// when it blends a solid colour.
uint32_t ByteMul(uint32_t x, uint32_t a) {
  uint64_t t = ((static_cast<uint64_t>(x) | (static_cast<uint64_t>(x) << 24)) & 0x00ff00ff00ff00ffULL) * a;
  t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
  t &= 0x00ff00ff00ff00ffULL;
  return static_cast<uint32_t>(t) | static_cast<uint32_t>(t >> 24);
}

// One-pixel vertical lines (the waveform's columns, the overlays' previews
// of a moved or stretched tail) written straight into the painter's image:
// filling them one by one costs the painter a span per row of each column,
// several milliseconds for a wide view, and a translucent column is handed
// to its fill threads besides, some 50 ms for a view wide of them. A
// translucent colour is blended over the pixels exactly as the painter's
// solid fill blends it (its premultiplied colour plus each pixel times the
// colour's remaining alpha), so the picture is the same. Only for an image in
// a 32-bit premultiplied format painted without transformation, clipping or
// opacity; false otherwise, and nothing is written.
//
// A dotted column (the beat grid's eighths) is written as the painter's
// cosmetic stroker draws a one-pixel dotted line from top to bottom: its
// pixels from the row below its top one to its bottom row, one on and two
// off, starting over with each line. The stroker hands a translucent one to
// its threads too, some 4 ms for a view full of them. Only for whole-pixel
// columns drawn downwards and lying within the image's rows (the stroker's
// clipping shifts the dots); false otherwise.
bool WriteColumns(QPainter& p, const DrawOp& op) {
  const bool opaque = (op.color >> 24) == 0xFF;
  if (p.hasClipping() || !p.transform().isIdentity() || p.opacity() != 1.0 ||
      p.compositionMode() != QPainter::CompositionMode_SourceOver)
    return false;
  auto* image = dynamic_cast<QImage*>(p.device());
  // The painter holds the image's own pixels (a shared image would be copied
  // by bits() and the painter would go on drawing into the old ones).
  if (!image || !image->isDetached() || image->devicePixelRatio() != 1.0 ||
      (image->format() != QImage::Format_ARGB32_Premultiplied && image->format() != QImage::Format_RGB32 &&
       !(opaque && image->format() == QImage::Format_ARGB32)))
    return false;
  const int width = image->width();
  const int height = image->height();
  const auto whole = [](float v) { return v == std::floor(v); };
  for (size_t i = 0; i + 1 < op.points.size(); i += 2) {
    const PointF& a = op.points[i];
    const PointF& b = op.points[i + 1];
    if (a.x != b.x) return false;
    if (op.dotted && !(whole(a.x) && whole(a.y) && whole(b.y) && a.y < b.y && a.y >= 0 && b.y <= height - 1))
      return false;
  }
  const qsizetype stride = image->bytesPerLine() / 4;
  auto* bits = reinterpret_cast<uint32_t*>(image->bits());
  // The painter premultiplies the colour at 16 bits a channel and rounds it back.
  const uint32_t colour = QColor::fromRgba(op.color).rgba64().premultiplied().toArgb32();
  const uint32_t rest = 255 - (colour >> 24);
  // Dotted: one pixel on, two off, from the row below the top one.
  constexpr int kDotPeriod = 3;
  for (size_t i = 0; i + 1 < op.points.size(); i += 2) {
    const int x = qRound(op.points[i].x);
    if (x < 0 || x >= width) continue;
    if (op.dotted) {
      const int y2 = static_cast<int>(op.points[i + 1].y);
      uint32_t* pixel = bits + static_cast<qsizetype>(op.points[i].y + 1) * stride + x;
      for (int y = static_cast<int>(op.points[i].y) + 1; y <= y2; y += kDotPeriod, pixel += kDotPeriod * stride)
        *pixel = opaque ? op.color : colour + ByteMul(*pixel, rest);
      continue;
    }
    const int y1 = std::max(0, qRound(std::min(op.points[i].y, op.points[i + 1].y)));
    const int y2 = std::min(height - 1, qRound(std::max(op.points[i].y, op.points[i + 1].y)));
    uint32_t* pixel = bits + static_cast<qsizetype>(y1) * stride + x;
    if (opaque) {
      for (int y = y1; y <= y2; ++y, pixel += stride) *pixel = op.color;
    } else {
      for (int y = y1; y <= y2; ++y, pixel += stride) *pixel = colour + ByteMul(*pixel, rest);
    }
  }
  return true;
}

QPen Pen(const DrawOp& op) {
  QPen pen(QColor::fromRgba(op.color));
  pen.setWidthF(op.penWidth);
  // One-pixel lines take the painter's fast path for hairlines; at the
  // view's 1:1 scale they look the same.
  pen.setCosmetic(op.penWidth <= 1.0f);
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

void FillInBands(QPainter& p, const QRect& rect, const QColor& colour) {
  for (int y = rect.top(); y <= rect.bottom(); y += kBandRows)
    p.fillRect(QRect(rect.left(), y, rect.width(), std::min(kBandRows, rect.bottom() + 1 - y)), colour);
}

void DrawImageInBands(QPainter& p, const QRect& rect, const QImage& image) {
  for (int y = rect.top(); y <= rect.bottom(); y += kBandRows) {
    const QRect band(rect.left(), y, rect.width(), std::min(kBandRows, rect.bottom() + 1 - y));
    p.drawImage(band.topLeft(), image, band);
  }
}

namespace {

void DrawEllipse(QPainter& p, const DrawOp& op, QPointF at) {
  if (op.outline != 0 && op.penWidth > 0) {
    QPen pen(QColor::fromRgba(op.outline));
    pen.setWidthF(op.penWidth);
    p.setPen(pen);
  } else {
    p.setPen(Qt::NoPen);
  }
  p.setBrush(op.color != 0 ? QBrush(QColor::fromRgba(op.color)) : QBrush(Qt::NoBrush));
  p.drawEllipse(QRectF(at.x() + kCentre, at.y() + kCentre, op.w, op.h));
  p.setBrush(Qt::NoBrush);
}

// Sizes of the glow images: powers of two from a quarter (the glow's
// smallest size factor is 0.2) to 4, its largest.
constexpr float kSmallestGlowImage = 0.25f;
constexpr float kLargestGlowImage = 4.0f;

// A glowing particle (the circles from |op| on) from the glow image of the
// next larger size, scaled to its size and faded by its glow.
void DrawGlow(QPainter& p, const DrawOp& op, ParticleSprites& sprites) {
  float level = kSmallestGlowImage;
  while (level < op.glowSize && level < kLargestGlowImage) level *= 2;
  const QImage& image = sprites.Glow(op.color, level);
  const qreal scale = static_cast<qreal>(op.glowSize) / level;
  // The circles are centred on the first one's centre; the image's centre
  // is its middle.
  const qreal cx = op.x + op.w / 2.0 + kCentre, cy = op.y + op.h / 2.0 + kCentre;
  const qreal half = image.width() / 2.0 * scale;
  // On whole pixels, and in bands of a few rows: a scaled image at a
  // fraction of a pixel, or one of many rows, is blended by the painter's
  // thread pool (see kBandRows), which would cost more than the whole frame.
  // The glow moves by half a pixel at most.
  const QRect target = QRectF(cx - half, cy - half, 2 * half, 2 * half).toRect();
  if (target.isEmpty()) return;
  const qreal opacity = p.opacity();
  const bool smooth = p.testRenderHint(QPainter::SmoothPixmapTransform);
  p.setOpacity(opacity * std::clamp(static_cast<qreal>(op.glow), 0.0, 1.0));
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  constexpr int kGlowBandRows = 32;
  const qreal sourceRows = static_cast<qreal>(image.height()) / target.height();
  for (int y = target.top(); y <= target.bottom(); y += kGlowBandRows) {
    const int rows = std::min(kGlowBandRows, target.bottom() + 1 - y);
    p.drawImage(QRectF(target.left(), y, target.width(), rows), image,
                QRectF(0, (y - target.top()) * sourceRows, image.width(), rows * sourceRows));
  }
  p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
  p.setOpacity(opacity);
}

// Rings of up to this size are drawn from images.
constexpr float kLargestRingImage = 32.0f;

bool RingSprite(const DrawOp& op) {
  const auto whole = [](float v) { return v == std::floor(v); };
  return op.color == 0 && op.outline != 0 && op.penWidth > 0 && op.penWidth <= kLargestRingImage &&
         whole(op.penWidth * 4) && op.w > 0 && op.h > 0 && op.w <= kLargestRingImage && op.h <= kLargestRingImage &&
         whole(op.w) && whole(op.h);
}

uint64_t SizeBits(float size) {
  uint32_t bits;
  std::memcpy(&bits, &size, sizeof bits);
  return bits;
}

}  // namespace

void ParticleSprites::Bound() {
  // A few new swarms' worth of colours; beyond that most images are stale.
  constexpr size_t kMostImages = 4096;
  if (size() < kMostImages) return;
  glows_.clear();
  rings_.clear();
}

const QImage& ParticleSprites::Glow(Argb rgb, float size) {
  const Argb colour = rgb & 0x00FFFFFFu;
  const uint64_t key = (SizeBits(size) << 32) | colour;
  if (const auto it = glows_.find(key); it != glows_.end()) return it->second;
  Bound();
  // The circles share one colour, so the glow is that colour at the alpha
  // they build up: the white glow of this size, tinted.
  const uint64_t white = (SizeBits(size) << 32) | 0x00FFFFFFu;
  auto mask = glows_.find(white);
  if (mask == glows_.end()) {
    int side = static_cast<int>(std::ceil(30.0f * size)) + 4;
    side += side % 2;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setPen(Qt::NoPen);
      const qreal c = side / 2.0;
      for (int i = 0; i <= 5; ++i) {
        const GlowCircle circle = GlowCircleAt(i, size, 1.0f);
        if (circle.diameter <= 1.0f || circle.alpha <= 0) continue;
        p.setBrush(QColor::fromRgba((static_cast<uint32_t>(circle.alpha) << 24) | 0x00FFFFFFu));
        const qreal d = circle.diameter;
        p.drawEllipse(QRectF(c - d / 2, c - d / 2, d, d));
      }
    }
    mask = glows_.emplace(white, std::move(image)).first;
    if (key == white) return mask->second;
  }
  QImage image = mask->second.copy();
  for (int y = 0; y < image.height(); ++y) {
    auto* pixel = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const uint32_t alpha = pixel[x] >> 24;
      pixel[x] = (alpha << 24) | ByteMul(colour, alpha);
    }
  }
  return glows_.emplace(key, std::move(image)).first->second;
}

const QImage& ParticleSprites::Ring(const DrawOp& op, int margin) {
  // Outline colour, then the pen in quarters and the size (each below 256).
  const uint64_t key = static_cast<uint64_t>(op.outline) | static_cast<uint64_t>(op.penWidth * 4) << 32 |
                       static_cast<uint64_t>(op.w) << 40 | static_cast<uint64_t>(op.h) << 48;
  if (const auto it = rings_.find(key); it != rings_.end()) return it->second;
  Bound();
  QImage image(static_cast<int>(std::ceil(op.w)) + 2 * margin + 1, static_cast<int>(std::ceil(op.h)) + 2 * margin + 1,
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    DrawEllipse(p, op, QPointF(margin, margin));
  }
  return rings_.emplace(key, std::move(image)).first->second;
}

void PaintDrawList(QPainter& p, const DrawList& list, ParticleSprites* sprites, size_t first) {
  const std::vector<DrawOp>& ops = list.Ops();
  for (size_t n = first; n < ops.size(); ++n) {
    const DrawOp& op = ops[n];
    if (sprites && op.glowCircles > 0 && n + static_cast<size_t>(op.glowCircles) <= ops.size()) {
      DrawGlow(p, op, *sprites);
      n += static_cast<size_t>(op.glowCircles) - 1;
      continue;
    }
    switch (op.kind) {
      case DrawOp::Kind::kFillRect:
        if (op.w > 0 && op.h > 0) {
          // Whole-pixel rectangles (nearly all) take the painter's integer path.
          const QRectF rect(op.x, op.y, op.w, op.h);
          if (rect == QRectF(rect.toRect()))
            FillInBands(p, rect.toRect(), QColor::fromRgba(op.color));
          else
            p.fillRect(rect, QColor::fromRgba(op.color));
        }
        break;
      case DrawOp::Kind::kOutlineRect:
        if (op.w > 0 && op.h > 0) {
          p.setPen(Pen(op));
          p.setBrush(Qt::NoBrush);
          p.drawRect(QRectF(op.x + kCentre, op.y + kCentre, op.w, op.h));
        }
        break;
      case DrawOp::Kind::kLine: {
        const Sharp sharp(p, AxisAligned(op));
        p.setPen(Pen(op));
        p.drawLine(At(op.points[0]), At(op.points[1]));
        break;
      }
      case DrawOp::Kind::kLines: {
        if (op.penWidth == 1.0f && op.dotted && AxisAligned(op) && WriteColumns(p, op)) break;
        if (op.penWidth == 1.0f && !op.dotted && AxisAligned(op)) {
          if (WriteColumns(p, op)) break;
          // One-pixel rows and columns are rectangles one pixel wide, which
          // the painter fills far faster than it strokes lines.
          const QColor colour = QColor::fromRgba(op.color);
          for (size_t i = 0; i + 1 < op.points.size(); i += 2) {
            const PointF& a = op.points[i];
            const PointF& b = op.points[i + 1];
            const int x1 = qRound(std::min(a.x, b.x)), x2 = qRound(std::max(a.x, b.x));
            const int y1 = qRound(std::min(a.y, b.y)), y2 = qRound(std::max(a.y, b.y));
            p.fillRect(QRect(x1, y1, x2 - x1 + 1, y2 - y1 + 1), colour);
          }
          break;
        }
        std::vector<QLineF> lines;
        lines.reserve(op.points.size() / 2);
        for (size_t i = 0; i + 1 < op.points.size(); i += 2) lines.emplace_back(At(op.points[i]), At(op.points[i + 1]));
        const Sharp sharp(p, AxisAligned(op));
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
          if (op.gradientColor != 0) {
            // Repeats beyond its two ends, as a tiled gradient brush does.
            QLinearGradient gradient(0, op.gradientY1 + kCentre, 0, op.gradientY2 + kCentre);
            gradient.setColorAt(0, QColor::fromRgba(op.color));
            gradient.setColorAt(1, QColor::fromRgba(op.gradientColor));
            gradient.setSpread(QGradient::RepeatSpread);
            p.setBrush(gradient);
          } else {
            p.setBrush(QColor::fromRgba(op.color));
          }
          // A polygon of many points is a waveform's envelope, one vertex per
          // pixel column: smoothing its edges costs much and shows little.
          const Sharp sharp(p, op.points.size() > kSmoothPolygonPoints);
          p.drawPolygon(Points(op.points), Qt::OddEvenFill);
          p.setBrush(Qt::NoBrush);
        }
        break;
      case DrawOp::Kind::kEllipse:
        if (sprites && RingSprite(op)) {
          // The pen reaches half its width beyond the ellipse, antialiasing one pixel more.
          const int margin = static_cast<int>(std::ceil(op.penWidth / 2)) + 1;
          p.drawImage(QPoint(qRound(op.x) - margin, qRound(op.y) - margin), sprites->Ring(op, margin));
        } else if (op.w > 0 && op.h > 0) {
          DrawEllipse(p, op, QPointF(op.x, op.y));
        }
        break;
      case DrawOp::Kind::kText:
        if (op.w > 0 && op.h > 0) {
          const QRectF rect(op.x, op.y, op.w, op.h);
          // Laying the text out costs more than the test, when a repaint of
          // part of the picture leaves it out.
          if (p.hasClipping() && !p.clipBoundingRect().intersects(rect)) break;
          const QFont font = Font(op.font);
          const QString text = QString::fromStdString(op.text);
          if (op.wholeOnly && QFontMetricsF(font).horizontalAdvance(text) > op.w) break;
          p.save();
          // Within the clip already set (a repaint of part of the picture).
          p.setClipRect(rect, p.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
          p.setFont(font);
          p.setPen(QColor::fromRgba(op.color));
          p.drawText(rect, AlignmentFlags(op.align) | Qt::TextSingleLine, text);
          p.restore();
        }
        break;
    }
  }
}

}  // namespace zandrel

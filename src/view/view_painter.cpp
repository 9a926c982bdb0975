#include "view/view_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <optional>
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

// The largest glow drawn from an image: the glow's largest size factor, 4,
// gives an outer circle 120 pixels across.
constexpr int kLargestGlowDiameter = 128;

// Which 16-pixel tiles of the device a clip covers whole. An image lying on
// covered tiles only is drawn with the clip turned off: the painter then
// blends it row by row, far faster than span by span against a clip of many
// rectangles (and it hands a clipped image of many rows to its thread pool),
// and the pixels are the same.
class ClipCover {
 public:
  // |device| has its top left corner at the origin.
  ClipCover(const QRegion& clip, const QRect& device) : device_(device) {
    columns_ = (device.width() + kTile - 1) / kTile;
    rows_ = (device.height() + kTile - 1) / kTile;
    if (columns_ <= 0 || rows_ <= 0) return;
    // The region's rectangles do not overlap: a tile is covered whole when
    // their parts in it add up to its area.
    std::vector<int> area(static_cast<size_t>(columns_) * static_cast<size_t>(rows_));
    for (const QRect& r : clip) {
      const QRect c = r.intersected(device_);
      if (c.isEmpty()) continue;
      for (int ty = c.top() / kTile; ty <= c.bottom() / kTile; ++ty) {
        const int rows = Overlap(c.top(), c.bottom(), ty);
        for (int tx = c.left() / kTile; tx <= c.right() / kTile; ++tx)
          area[Index(tx, ty)] += rows * Overlap(c.left(), c.right(), tx);
      }
    }
    whole_.resize(area.size());
    for (int ty = 0; ty < rows_; ++ty)
      for (int tx = 0; tx < columns_; ++tx)
        whole_[Index(tx, ty)] = area[Index(tx, ty)] == Overlap(0, device_.bottom(), ty) * Overlap(0, device_.right(), tx);
  }

  // True when the clip holds every pixel of |r| on the device.
  bool Covers(const QRect& r) const {
    const QRect c = r.intersected(device_);
    if (c.isEmpty()) return true;
    if (whole_.empty()) return false;
    for (int ty = c.top() / kTile; ty <= c.bottom() / kTile; ++ty)
      for (int tx = c.left() / kTile; tx <= c.right() / kTile; ++tx)
        if (!whole_[Index(tx, ty)]) return false;
    return true;
  }

 private:
  static constexpr int kTile = 16;
  size_t Index(int tx, int ty) const { return static_cast<size_t>(ty) * columns_ + static_cast<size_t>(tx); }
  // How many of the pixels from |first| to |last| lie in tile |t| of a row or column.
  static int Overlap(int first, int last, int t) {
    return std::max(0, std::min(last, t * kTile + kTile - 1) - std::max(first, t * kTile) + 1);
  }

  QRect device_;
  int columns_ = 0;
  int rows_ = 0;
  std::vector<uint8_t> whole_;
};

// Draws the particles' images, each with the painter's clip turned off when
// the clip holds all of it, and turns the clip back on for anything else.
class SpriteBlitter {
 public:
  explicit SpriteBlitter(QPainter& p) : p_(p) {}
  ~SpriteBlitter() { ClipOn(); }
  SpriteBlitter(const SpriteBlitter&) = delete;
  SpriteBlitter& operator=(const SpriteBlitter&) = delete;

  void Draw(QPoint at, const QImage& image) {
    // The clip is looked at with the first image (a picture without
    // particles never needs it).
    if (!looked_) {
      looked_ = true;
      if (p_.hasClipping() && p_.transform().isIdentity() && p_.device())
        cover_.emplace(p_.clipRegion(), QRect(0, 0, p_.device()->width(), p_.device()->height()));
    }
    if (cover_ && cover_->Covers(QRect(at, image.size()))) {
      if (!clipOff_) p_.setClipping(false);
      clipOff_ = true;
    } else {
      ClipOn();
    }
    p_.drawImage(at, image);
  }
  void ClipOn() {
    if (clipOff_) p_.setClipping(true);
    clipOff_ = false;
  }

 private:
  QPainter& p_;
  std::optional<ClipCover> cover_;
  bool looked_ = false;
  bool clipOff_ = false;
};

// A glowing particle (the circles from |op| on) from the glow image of its
// diameter, rounded to a whole pixel, placed on whole pixels (it moves by
// half a pixel at most) and faded by its glow. False, with nothing drawn,
// for a glow larger than the images.
bool DrawGlow(QPainter& p, const DrawOp& op, ParticleSprites& sprites, SpriteBlitter& blitter) {
  const int diameter = qRound(GlowCircleAt(0, op.glowSize, 1.0f).diameter);
  const QImage* image = sprites.Glow(op.color, diameter);
  if (!image) return false;
  // The circles are centred on the first one's centre; the image's centre
  // is its middle.
  const qreal cx = op.x + op.w / 2.0 + kCentre, cy = op.y + op.h / 2.0 + kCentre;
  const QPoint at(qRound(cx - image->width() / 2.0), qRound(cy - image->height() / 2.0));
  const qreal opacity = p.opacity();
  p.setOpacity(opacity * std::clamp(static_cast<qreal>(op.glow), 0.0, 1.0));
  blitter.Draw(at, *image);
  p.setOpacity(opacity);
  return true;
}

// Rings of up to this size are drawn from images.
constexpr float kLargestRingImage = 32.0f;

bool RingSprite(const DrawOp& op) {
  const auto whole = [](float v) { return v == std::floor(v); };
  return op.color == 0 && op.outline != 0 && op.penWidth > 0 && op.penWidth <= kLargestRingImage &&
         whole(op.penWidth * 4) && op.w > 0 && op.h > 0 && op.w <= kLargestRingImage && op.h <= kLargestRingImage &&
         whole(op.w) && whole(op.h);
}

}  // namespace

void ParticleSprites::Bound() {
  // A few new swarms' worth of colours; beyond that most images are stale.
  constexpr size_t kMostRings = 4096;
  if (rings_.size() >= kMostRings) rings_.clear();
}

void ParticleSprites::NextPicture() {
  // The images let go are written over by this picture's new glows, rather
  // than freed and allocated afresh (fresh memory costs more to fill).
  spareGlows_.clear();
  for (auto& [key, image] : olderGlows_) spareGlows_.push_back(std::move(image));
  olderGlows_.clear();
  olderGlows_.swap(glows_);
}

const QImage& ParticleSprites::Mask(int diameter) {
  if (const auto it = masks_.find(diameter); it != masks_.end()) return it->second;
  // Two pixels around the outer circle for its antialiased edge.
  const int side = diameter + 4;
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    const qreal c = side / 2.0;
    const float size = static_cast<float>(diameter) / GlowCircleAt(0, 1.0f, 1.0f).diameter;
    for (int i = 0; i <= 5; ++i) {
      const GlowCircle circle = GlowCircleAt(i, size, 1.0f);
      if (circle.diameter <= 1.0f || circle.alpha <= 0) continue;
      p.setBrush(QColor::fromRgba((static_cast<uint32_t>(circle.alpha) << 24) | 0x00FFFFFFu));
      const qreal d = circle.diameter;
      p.drawEllipse(QRectF(c - d / 2, c - d / 2, d, d));
    }
  }
  return masks_.emplace(diameter, image.convertToFormat(QImage::Format_Alpha8)).first->second;
}

const QImage* ParticleSprites::Glow(Argb rgb, int diameter) {
  if (diameter < 1 || diameter > kLargestGlowDiameter) return nullptr;
  const Argb colour = rgb & 0x00FFFFFFu;
  const uint64_t key = (static_cast<uint64_t>(diameter) << 32) | colour;
  if (const auto it = glows_.find(key); it != glows_.end()) return &it->second;
  if (auto older = olderGlows_.extract(key)) return &glows_.insert(std::move(older)).position->second;
  // The circles share one colour, so the glow is that colour at the alpha
  // they build up: the white glow of this size, tinted.
  const QImage& mask = Mask(diameter);
  uint32_t tinted[256];
  for (uint32_t alpha = 0; alpha < 256; ++alpha) tinted[alpha] = (alpha << 24) | ByteMul(colour, alpha);
  const int width = mask.width(), height = mask.height();
  QImage image;
  for (QImage& spare : spareGlows_)
    if (spare.width() == width && spare.height() == height) {
      std::swap(image, spare);
      std::swap(spare, spareGlows_.back());
      spareGlows_.pop_back();
      break;
    }
  if (image.isNull()) image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < height; ++y) {
    const uchar* alpha = mask.constScanLine(y);
    auto* pixel = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) pixel[x] = tinted[alpha[x]];
  }
  return &glows_.emplace(key, std::move(image)).first->second;
}

const QImage& ParticleSprites::Ring(const DrawOp& op, const DrawOp* over, int margin) {
  // Outline colour, then the pen in quarters and the size (each below 256).
  const auto key = [](const DrawOp& ring) {
    return static_cast<uint64_t>(ring.outline) | static_cast<uint64_t>(ring.penWidth * 4) << 32 |
           static_cast<uint64_t>(ring.w) << 40 | static_cast<uint64_t>(ring.h) << 48;
  };
  const RingKey both{key(op), over ? key(*over) : 0};
  if (const auto it = rings_.find(both); it != rings_.end()) return it->second;
  Bound();
  QImage image(static_cast<int>(std::ceil(op.w)) + 2 * margin + 1, static_cast<int>(std::ceil(op.h)) + 2 * margin + 1,
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    DrawEllipse(p, op, QPointF(margin, margin));
    if (over) DrawEllipse(p, *over, QPointF(margin, margin));
  }
  return rings_.emplace(both, std::move(image)).first->second;
}

void PaintDrawList(QPainter& p, const DrawList& list, ParticleSprites* sprites, size_t first) {
  const std::vector<DrawOp>& ops = list.Ops();
  if (sprites) sprites->NextPicture();
  SpriteBlitter blitter(p);
  for (size_t n = first; n < ops.size(); ++n) {
    const DrawOp& op = ops[n];
    if (sprites && op.glowCircles > 0 && n + static_cast<size_t>(op.glowCircles) <= ops.size() &&
        DrawGlow(p, op, *sprites, blitter)) {
      n += static_cast<size_t>(op.glowCircles) - 1;
      continue;
    }
    if (sprites && op.kind == DrawOp::Kind::kEllipse && RingSprite(op)) {
      // A ring drawn over another of the same size at the same place (a
      // faint particle's two) is blended with it into one image: blending
      // the image costs what blending one ring does.
      const DrawOp* over = n + 1 < ops.size() && ops[n + 1].kind == DrawOp::Kind::kEllipse && RingSprite(ops[n + 1]) &&
                                   ops[n + 1].x == op.x && ops[n + 1].y == op.y && ops[n + 1].w == op.w &&
                                   ops[n + 1].h == op.h
                               ? &ops[n + 1]
                               : nullptr;
      // The pen reaches half its width beyond the ellipse, antialiasing one pixel more.
      const float pen = over ? std::max(op.penWidth, over->penWidth) : op.penWidth;
      const int margin = static_cast<int>(std::ceil(pen / 2)) + 1;
      blitter.Draw(QPoint(qRound(op.x) - margin, qRound(op.y) - margin), sprites->Ring(op, over, margin));
      if (over) ++n;
      continue;
    }
    blitter.ClipOn();
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
        if (op.w > 0 && op.h > 0) {
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

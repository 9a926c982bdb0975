// Renders a DrawList (view_drawing.h) with QPainter: the only place where the
// view's picture meets Qt. Antialiasing of lines and text is the painter's
// caller's choice; strokes are drawn through pixel centres so that one-pixel
// lines stay one pixel wide.
#pragma once

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <unordered_map>

#include "view/model/view_drawing.h"

namespace zandrel {

// Pre-rendered images of the empty screen's particles, kept from paint to
// paint: a particle's glow (its circles at glow 1) per colour and per size
// factor rounded up to a power of two, and the small unfilled rings per
// colour, pen and size. Blending one small image costs the painter a
// fraction of what its six translucent antialiased circles do. A glow is
// drawn scaled down from the next larger size (at most by half, smoothly)
// and faded by its glow, so it matches the circles to within a few levels of
// each channel. The store is emptied when it grows past a few thousand
// images (each new swarm brings new colours). User-interface thread only.
class ParticleSprites {
 public:
  // The glow of |rgb| at size factor |size| (a power of two) and glow 1,
  // centred in the image.
  const QImage& Glow(Argb rgb, float size);
  // The unfilled ellipse of |op| (its size and pen in whole pixels and
  // quarters, its outline colour) drawn |margin| pixels from the image's top
  // left corner.
  const QImage& Ring(const DrawOp& op, int margin);
  size_t size() const { return glows_.size() + rings_.size(); }

 private:
  void Bound();
  // Keyed by colour and size (the size's bits above the colour's).
  std::unordered_map<uint64_t, QImage> glows_;
  std::unordered_map<uint64_t, QImage> rings_;
};

// With |sprites|, particles' glows (DrawOp::glowCircles) and small unfilled
// ellipses are drawn from its images rather than circle by circle. The ops
// before |first| are left out.
void PaintDrawList(QPainter& painter, const DrawList& list, ParticleSprites* sprites = nullptr, size_t first = 0);

// The raster engine hands a fill or a blend of more than 95 rows to its
// thread pool in parts; waking the pool's threads costs far more than it
// saves for the view's fills (more still on a busy machine), and it costs
// them on every frame of the empty screen's animation. These fill |rect|
// with |colour|, or copy the |rect| of |image| to the same place, in bands
// of 64 rows, each done by the calling thread: the same pixels.
inline constexpr int kBandRows = 64;
void FillInBands(QPainter& painter, const QRect& rect, const QColor& colour);
void DrawImageInBands(QPainter& painter, const QRect& rect, const QImage& image);

}  // namespace zandrel

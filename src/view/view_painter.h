// Renders a DrawList (view_drawing.h) with QPainter: the only place where the
// view's picture meets Qt. Antialiasing of lines and text is the painter's
// caller's choice; strokes are drawn through pixel centres so that one-pixel
// lines stay one pixel wide.
#pragma once

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "view/model/view_drawing.h"

namespace zandrel {

// Pre-rendered images of the empty screen's particles, kept from paint to
// paint: a particle's glow (its circles at glow 1) per colour and per whole
// pixel of its outer diameter, and the small unfilled rings per colour, pen
// and size. Blending one small image, unscaled, costs the painter a fraction
// of what its six translucent antialiased circles do, and of what a scaled
// image does. A glow is drawn faded by its glow and at the nearest whole
// pixel, its diameter rounded to one, so it matches the circles to within a
// few levels of each channel. The glows' circles are drawn once per diameter
// (in white) and tinted per colour; a tinted glow that neither of the last
// two pictures used is let go (a particle's glow changes size as it moves),
// and the rings are emptied when they grow past a few thousand images.
// User-interface thread only.
class ParticleSprites {
 public:
  // The glow of |rgb| whose outer circle is |diameter| pixels across, at
  // glow 1, centred in the image; null for a diameter beyond the largest
  // glow's.
  const QImage* Glow(Argb rgb, int diameter);
  // The unfilled ellipse of |op| (its size and pen in whole pixels and
  // quarters, its outline colour) drawn |margin| pixels from the image's top
  // left corner, and the one of |over|, when set, drawn over it at the same
  // place.
  const QImage& Ring(const DrawOp& op, const DrawOp* over, int margin);
  // A new picture is being painted: the glows the one before the last used,
  // and this one does not, are let go.
  void NextPicture();
  size_t size() const { return glows_.size() + olderGlows_.size() + rings_.size(); }

 private:
  void Bound();
  // The white glow of |diameter|: its alpha only.
  const QImage& Mask(int diameter);
  // Keyed by diameter and colour (the diameter's bits above the colour's):
  // those this picture used, and those only the last one did.
  std::unordered_map<uint64_t, QImage> glows_;
  std::unordered_map<uint64_t, QImage> olderGlows_;
  // Glows let go at the start of this picture, whose memory its new glows reuse.
  std::vector<QImage> spareGlows_;
  std::unordered_map<int, QImage> masks_;
  // Keyed by the ring's outline, pen and size, and those of the ring over it.
  struct RingKey {
    uint64_t ring = 0;
    uint64_t over = 0;
    bool operator==(const RingKey&) const = default;
  };
  struct RingKeyHash {
    size_t operator()(const RingKey& k) const { return std::hash<uint64_t>()(k.ring * 31 + k.over); }
  };
  std::unordered_map<RingKey, QImage, RingKeyHash> rings_;
};

// With |sprites|, particles' glows (DrawOp::glowCircles) and small unfilled
// ellipses are drawn from its images rather than circle by circle; an image
// that lies wholly inside the painter's clip is drawn with the clip turned
// off (the painter blends it row by row rather than span by span against a
// clip of many rectangles), so the pixels are the same. The ops before
// |first| are left out.
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

// Rect: a rectangle of client pixels as the view's hit tests need it.
//
// Left and top lie inside, right and bottom do not: a point hits the
// rectangle when left <= x < right and top <= y < bottom. Nothing is
// normalised, so an inverted rectangle (right < left or bottom < top) and an
// empty one hit nothing. Qt's QRect differs on both counts (inclusive right
// and bottom edges, and contains() normalises an inverted rectangle), so hit
// rectangles are kept in this type and converted only for drawing.
#pragma once

namespace zandrel {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;   // exclusive
  int bottom = 0;  // exclusive

  static constexpr Rect FromXYWH(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }
  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  constexpr bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const Rect&) const = default;
};

}  // namespace zandrel

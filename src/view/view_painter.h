// Renders a DrawList (view_drawing.h) with QPainter: the only place where the
// view's picture meets Qt. Antialiasing of lines and text is the painter's
// caller's choice; strokes are drawn through pixel centres so that one-pixel
// lines stay one pixel wide.
#pragma once

#include <QPainter>

#include "view/model/view_drawing.h"

namespace zandrel {

void PaintDrawList(QPainter& painter, const DrawList& list);

}  // namespace zandrel

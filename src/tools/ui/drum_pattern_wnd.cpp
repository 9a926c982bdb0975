#include "tools/ui/drum_pattern_wnd.h"

#include <QMouseEvent>
#include <QPainter>

#include "document/note_names.h"
#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

QFont SmallFont() {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);  // the system's sans font where Arial is missing
  font.setPointSize(7);
  return font;
}

QString Name(int note) { return QString::fromStdString(NoteNameOrDashes(note)); }

}  // namespace

CDrumPatternWnd::CDrumPatternWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DrumPattern"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CDrumPatternWnd::SetPattern(const std::vector<PatternEvent>& events, int32_t bars) {
  model_.SetPattern(events, bars);
  update();
}

void CDrumPatternWnd::SetTables(const NoteMapTables& tables) {
  model_.SetTables(tables);
  update();
}

QImage CDrumPatternWnd::Render() const {
  const int W = width(), H = height();
  QImage image(std::max(1, W), std::max(1, H), QImage::Format_RGB32);
  QPainter p(&image);
  const QColor background = RgbToQColor(DrumGridModel::kBackground);
  p.fillRect(0, 0, W, H, background);
  const DrumGridLayout l = model_.Layout(W, H);
  if (l.kind == DrumGridLayout::Kind::kNoPattern) {
    p.setPen(QColor(128, 128, 128));
    p.drawText(QRect(0, 0, W, H - 20), Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("No pattern data"));
    return image;
  }
  if (l.kind == DrumGridLayout::Kind::kTooSmall) return image;

  const NoteMapTables& t = model_.Tables();
  const int rows = model_.RowCount();
  const int steps = model_.Steps();
  // Row tints.
  for (int j = 0; j < rows; ++j) {
    const int64_t tint = model_.RowTint(j);
    if (tint >= 0) p.fillRect(QRect(QPoint(85, l.RowTop(j)), QPoint(W - 10 - 1, l.RowTop(j + 1) - 1)),
                              RgbToQColor(static_cast<uint32_t>(tint)));
  }
  // Lines.
  for (int i = 0; i <= steps; ++i) {
    p.setPen(RgbToQColor(i % 4 == 0 ? DrumGridModel::kBarLine : DrumGridModel::kGridLine));
    p.drawLine(l.StepX(i), 20, l.StepX(i), H - 30);
  }
  p.setPen(RgbToQColor(DrumGridModel::kGridLine));
  for (int j = 0; j <= rows; ++j) p.drawLine(85, l.RowTop(j), W - 10, l.RowTop(j));
  // Text.
  p.setFont(SmallFont());
  p.setPen(QColor(150, 150, 150));
  for (int i = 0; i < steps; ++i)
    p.drawText(QRect(QPoint(l.StepX(i), 2), QPoint(l.StepX(i) + static_cast<int>(l.stepWidth) - 1, 17)),
               Qt::AlignCenter, QString::number(i + 1));
  const int h = static_cast<int>(l.rowHeight);
  for (int j = 0; j < rows && !model_.Notes().empty(); ++j) {
    const int n = model_.RowNote(j);
    const int y = l.RowTop(j);
    p.setPen(QColor(150, 150, 150));
    p.drawText(QRect(2, y, 31, h), Qt::AlignRight | Qt::AlignVCenter, Name(n));
    p.drawText(QRect(35, y, 15, h), Qt::AlignCenter, QStringLiteral(">"));
    const bool inRange = n >= 0 && n <= 127;
    const int r = inRange ? t.regionMap[static_cast<size_t>(n)] : -1;
    if (r >= 0)
      p.fillRect(QRect(50, y, 33, h), RgbToQColor(BlendColour(kToolRegionPalette[static_cast<size_t>(r % 10)],
                                                      DrumGridModel::kBackground, 0.5)));
    const int mapped = inRange ? t.noteMap[static_cast<size_t>(n)] : -1;
    p.setPen(Qt::white);
    p.drawText(QRect(54, y, 29, h), Qt::AlignLeft | Qt::AlignVCenter,
               mapped >= 0 ? Name(mapped) : QStringLiteral("?"));
  }
  // Hits.
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(RgbToQColor(DrumGridModel::kHitOutline));
  p.setBrush(RgbToQColor(DrumGridModel::kHitFill));
  const int radius = l.hitRadius;
  for (const PatternEvent& e : model_.Events()) {
    int x = 0, y = 0;
    model_.HitCentre(l, e, x, y);
    p.drawEllipse(QRect(x - radius, y - radius, 2 * radius, 2 * radius));
  }
  // Root strip.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(0, H - 20, W, 20, Qt::black);
  for (size_t k = 0; k < l.rootLabels.size(); ++k) {
    const GridRect& g = l.rootLabels[k];
    const QColor colour = RgbToQColor(model_.RootLabelColour(static_cast<int>(k)));
    p.setPen(colour);
    p.setBrush(colour);
    const QRect rect(QPoint(g.left, g.top), QPoint(g.right - 1, g.bottom - 1));
    p.drawRoundedRect(rect, 3, 3);
    const int root = t.rootList[k];
    if (root >= 0) {
      p.setPen(Qt::white);
      p.drawText(rect, Qt::AlignCenter, Name(root));
    }
  }
  return image;
}

void CDrumPatternWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Render());
}

void CDrumPatternWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint at = event->position().toPoint();
  const auto click = model_.Press(at.x(), at.y(), width(), height());
  if (!click) return;
  update();
  // A root label without a root repaints only; a row always asks (the dialog
  // ignores a row that plays nothing).
  if (click->root >= 0 || click->note >= 0) emit drumNoteClicked(click->root, click->note);
}

void CDrumPatternWnd::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CDrumPatternWnd::mouseReleaseEvent(QMouseEvent*) {
  if (model_.Release()) update();
}

}  // namespace zandrel

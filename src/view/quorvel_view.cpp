#include "view/quorvel_view.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "view/model/audio_tools.h"
#include "view/model/view_drawing.h"
#include "view/view_painter.h"

namespace zandrel {
namespace {

MouseModifiers ModifiersOf(Qt::KeyboardModifiers m) {
  return {m.testFlag(Qt::ControlModifier), m.testFlag(Qt::ShiftModifier), m.testFlag(Qt::AltModifier)};
}

// The Paint tool's cursor: a small ring with a dot, its hot spot the dot.
const QCursor& PaintCursor() {
  static const QCursor cursor = [] {
    QPixmap pixmap(17, 17);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(Qt::black, 3));
    p.drawEllipse(QPointF(8.5, 8.5), 6, 6);
    p.setPen(QPen(Qt::white, 1.5));
    p.drawEllipse(QPointF(8.5, 8.5), 6, 6);
    p.fillRect(7, 7, 3, 3, Qt::white);
    return QCursor(pixmap, 8, 8);
  }();
  return cursor;
}

// The union of |rects| within |size|, as runs of 16-pixel tiles: the region
// a frame repaints stays a few dozen rectangles however many particles moved.
QRegion TileRegion(const std::vector<QRect>& rects, QSize size) {
  constexpr int kTile = 16;
  const int columns = (size.width() + kTile - 1) / kTile;
  const int rows = (size.height() + kTile - 1) / kTile;
  if (columns <= 0 || rows <= 0) return {};
  std::vector<uint8_t> dirty(static_cast<size_t>(columns) * static_cast<size_t>(rows));
  const QRect client(QPoint(0, 0), size);
  for (const QRect& r : rects) {
    const QRect c = r.intersected(client);
    if (c.isEmpty()) continue;
    for (int ty = c.top() / kTile; ty <= c.bottom() / kTile; ++ty)
      for (int tx = c.left() / kTile; tx <= c.right() / kTile; ++tx)
        dirty[static_cast<size_t>(ty) * columns + static_cast<size_t>(tx)] = 1;
  }
  // Sorted by rows, then columns, none abutting another in its row, as a
  // region's own rectangles are.
  std::vector<QRect> runs;
  for (int ty = 0; ty < rows; ++ty) {
    const uint8_t* row = dirty.data() + static_cast<size_t>(ty) * columns;
    for (int tx = 0; tx < columns;) {
      if (!row[tx]) {
        ++tx;
        continue;
      }
      const int start = tx;
      while (tx < columns && row[tx]) ++tx;
      runs.emplace_back(start * kTile, ty * kTile, (tx - start) * kTile, kTile);
    }
  }
  QRegion region;
  region.setRects(runs.data(), static_cast<int>(runs.size()));
  return region;
}

}  // namespace

CQuorvelView::CQuorvelView(CQuorvelDoc& doc, CommandRegistry& commands, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc), commands_(commands), model_(doc) {
  model_.LoadSettings();
  model_.hooks.isPlaying = [this] { return IsPlaying(); };
  model_.hooks.stopPlayback = [this] { StopPlayback(); };
  model_.hooks.startPlayback = [this] { StartPlayback(); };
  model_.hooks.repaint = [this] { viewport()->update(); };
  // The tools' long edits wait in the editor's context (bound once the frame has
  // declared its commands), with its progress dialog and Cancel.
  ConnectAudioTools(mouse_, model_, [this] { return commands_.Bound(); });
  model_.hooks.selectRegionWithLoop = [this](int index, const std::string& suffix, bool recentre) {
    const double before = model_.viewStart;
    mouse_.SelectRegionWithLoop(index, suffix, recentre);
    AfterMouse(before);
  };
  animationTimer_.setInterval(kAnimationIntervalMs);
  connect(&animationTimer_, &QTimer::timeout, this, &CQuorvelView::OnAnimationTick);
  playheadTimer_.setInterval(Playback::kPlayheadIntervalMs);
  connect(&playheadTimer_, &QTimer::timeout, this, &CQuorvelView::OnPlayheadTick);
  playback_.stateChanged = [this](bool playing) {
    if (playing) {
      playheadTimer_.start();
    } else {
      playheadTimer_.stop();
      viewport()->update();
    }
  };
  // Drops reach the view through its viewport, which must accept them itself.
  viewport()->setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  // The cursor shape follows the mouse without a button held.
  viewport()->setMouseTracking(true);
  doc_.AddObserver(this);
}

CQuorvelView::~CQuorvelView() {
  StopPlayback();
  animationTimer_.stop();
  model_.animationTimer = 0;
  doc_.RemoveObserver(this);
}

void CQuorvelView::SyncClientSize() {
  model_.clientWidth = viewport()->width();
  model_.clientHeight = viewport()->height();
}

void CQuorvelView::RebuildPeakCache() { model_.RebuildPeakCache(); }

void CQuorvelView::StartPlayback() { playback_.Start(); }

void CQuorvelView::StopPlayback() { playback_.Stop(); }

bool CQuorvelView::PlayRegionByRootNote(int note) { return playback_.PlayRegionByRootNote(note); }

void CQuorvelView::OnPlayheadTick() {
  SyncClientSize();
  const Playback::TickResult tick = playback_.Tick();
  if (tick.scrolled) UpdateScrollBar();
  viewport()->update();
}

void CQuorvelView::OnAnimationTick() {
  SyncClientSize();
  AnimationTick(model_.animation, SteadySeconds(), model_.pointer, model_.clientWidth, model_.clientHeight);
  if (!backBufferAnimated_) {
    viewport()->update();
    return;
  }
  // Repaint where the particles were and where they are now, and the hint
  // when its colour changed.
  DrawList next;
  ViewDrawing(model_, next).OnDraw(model_.clientWidth, model_.clientHeight);
  std::vector<QRect> dirty = std::move(particleRects_);
  const Argb hintBefore = hintColour_;
  NoteAnimationFrame(next);
  animationFrame_ = std::move(next);
  animationFrameSize_ = QSize(model_.clientWidth, model_.clientHeight);
  dirty.insert(dirty.end(), particleRects_.begin(), particleRects_.end());
  if (hintColour_ != hintBefore) dirty.push_back(hintRect_);
  viewport()->update(TileRegion(dirty, viewport()->size()));
}

void CQuorvelView::NoteAnimationFrame(const DrawList& list) {
  particleRects_.clear();
  for (const DrawOp& op : list.Ops()) {
    if (op.kind == DrawOp::Kind::kEllipse) {
      // The pen reaches out half its width; antialiasing, pixel centres and
      // a glow image's edge a few pixels more.
      const float grow = op.penWidth / 2 + 3;
      particleRects_.push_back(QRectF(op.x - grow, op.y - grow, op.w + 2 * grow, op.h + 2 * grow).toAlignedRect());
    } else if (op.tag == "drop-hint") {
      hintColour_ = op.color;
      hintRect_ = QRectF(op.x, op.y, op.w, op.h).toAlignedRect();
    }
  }
}

void CQuorvelView::SyncAnimationTimer() {
  const bool run = model_.animationTimer != 0 && !hidden_;
  if (run && !animationTimer_.isActive()) {
    ResumeAnimation(model_.animation, SteadySeconds());
    animationTimer_.start();
  } else if (!run && animationTimer_.isActive()) {
    animationTimer_.stop();
  }
}

void CQuorvelView::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  hidden_ = false;
  // The paint starts the animation again where it rested.
  viewport()->update();
}

void CQuorvelView::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  hidden_ = true;
  backBufferAnimated_ = false;
  SyncAnimationTimer();
}

void CQuorvelView::leaveEvent(QEvent* event) {
  model_.pointer.reset();
  QAbstractScrollArea::leaveEvent(event);
}

void CQuorvelView::UpdateScrollBar() {
  SyncClientSize();
  const ScrollBarState s = model_.ScrollBar();
  settingScrollBar_ = true;
  QScrollBar* bar = horizontalScrollBar();
  bar->setRange(s.min, std::max(s.min, s.max - s.page));
  bar->setPageStep(std::max(1, s.page));
  bar->setSingleStep(std::max(1, static_cast<int>(10.0 * model_.framesPerPixel / model_.scrollUnit)));
  bar->setValue(s.pos);
  settingScrollBar_ = false;
}

void CQuorvelView::ClearSelection() {
  model_.ClearSelection();
  viewport()->update();
}

void CQuorvelView::HandleKey(ViewKey key) {
  SyncClientSize();
  if (model_.HandleKey(key)) {
    if (key == ViewKey::kEnd || key == ViewKey::kHome) UpdateScrollBar();
    viewport()->update();
  }
}

void CQuorvelView::OnUpdate() {
  SyncClientSize();
  model_.ResetForDocument();
  UpdateScrollBar();
  viewport()->update();
}

void CQuorvelView::OnDocumentChanged(DocumentChange change) {
  switch (change) {
    case DocumentChange::kReplaced:
      OnUpdate();
      break;
    case DocumentChange::kAudio:
      SyncClientSize();
      model_.Follow(change);
      UpdateScrollBar();
      viewport()->update();
      break;
    case DocumentChange::kInstrument:
      model_.Follow(change);
      viewport()->update();
      break;
    case DocumentChange::kState:
      break;
  }
}

void CQuorvelView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  SyncClientSize();
  model_.ClampViewStart();
  UpdateScrollBar();
}

void CQuorvelView::scrollContentsBy(int, int) {
  if (settingScrollBar_) return;
  if (model_.Scroll(ScrollAction::kThumb, horizontalScrollBar()->value())) viewport()->update();
}

void CQuorvelView::wheelEvent(QWheelEvent* event) {
  event->accept();
  SyncClientSize();
  const bool alt = event->modifiers() & Qt::AltModifier;
  // With Alt held Qt reports the wheel on the horizontal axis.
  const int delta = alt && event->angleDelta().y() == 0 ? event->angleDelta().x() : event->angleDelta().y();
  if (model_.Wheel(delta, event->position().x(), alt)) {
    UpdateScrollBar();
    viewport()->update();
  }
}

void CQuorvelView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Control:
      // Ctrl turns a click into a new selection: the shape says so at once.
      UpdateCursorShape(viewport()->mapFromGlobal(QCursor::pos()), event->modifiers());
      QAbstractScrollArea::keyPressEvent(event);
      return;
    case Qt::Key_Home: HandleKey(ViewKey::kHome); return;
    case Qt::Key_End: HandleKey(ViewKey::kEnd); return;
    default: QAbstractScrollArea::keyPressEvent(event);
  }
}

void CQuorvelView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Control)
    UpdateCursorShape(viewport()->mapFromGlobal(QCursor::pos()), event->modifiers());
  QAbstractScrollArea::keyReleaseEvent(event);
}

// ---------------------------------------------------------------- mouse --

void CQuorvelView::UpdateCursorShape(QPoint pos, Qt::KeyboardModifiers modifiers) {
  if (model_.dragOperation != kDragNone) return;  // the grab keeps its shape
  SyncClientSize();
  switch (mouse_.CursorAt(pos.x(), pos.y(), ModifiersOf(modifiers))) {
    case CursorShape::kDefault: viewport()->unsetCursor(); break;
    case CursorShape::kPaint: viewport()->setCursor(PaintCursor()); break;
    case CursorShape::kHand: viewport()->setCursor(Qt::PointingHandCursor); break;
    case CursorShape::kMove: viewport()->setCursor(Qt::SizeAllCursor); break;
    case CursorShape::kResizeHorizontal: viewport()->setCursor(Qt::SizeHorCursor); break;
    case CursorShape::kCrosshair: viewport()->setCursor(Qt::CrossCursor); break;
  }
}

void CQuorvelView::AfterMouse(double viewStartBefore) {
  if (model_.viewStart != viewStartBefore) UpdateScrollBar();
  viewport()->update();
}

void CQuorvelView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  SyncClientSize();
  const double before = model_.viewStart;
  const QPoint p = event->position().toPoint();
  // The shape of what is grabbed stays for the whole drag.
  UpdateCursorShape(p, event->modifiers());
  if (mouse_.Press(p.x(), p.y(), ModifiersOf(event->modifiers()))) {
    event->accept();
    AfterMouse(before);
  } else {
    QAbstractScrollArea::mousePressEvent(event);
  }
}

void CQuorvelView::mouseMoveEvent(QMouseEvent* event) {
  SyncClientSize();
  const QPoint p = event->position().toPoint();
  // The empty screen's particles are drawn toward the pointer while it is
  // inside the client area.
  if (viewport()->rect().contains(p))
    model_.pointer = PointerPosition{event->position().x(), event->position().y()};
  else
    model_.pointer.reset();
  // Qt keeps sending moves to the viewport that was pressed, wherever the
  // mouse goes, for as long as the button is held: that is the capture.
  if (model_.dragOperation != kDragNone && (event->buttons() & Qt::LeftButton)) {
    const double before = model_.viewStart;
    if (mouse_.Move(p.x(), p.y(), ModifiersOf(event->modifiers()))) {
      event->accept();
      AfterMouse(before);
      return;
    }
  }
  UpdateCursorShape(p, event->modifiers());
  QAbstractScrollArea::mouseMoveEvent(event);
}

void CQuorvelView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  SyncClientSize();
  const QPoint p = event->position().toPoint();
  const double before = model_.viewStart;
  const bool handled = mouse_.Release(p.x(), p.y(), ModifiersOf(event->modifiers()));
  AfterMouse(before);
  UpdateCursorShape(p, event->modifiers());
  if (handled)
    event->accept();
  else
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CQuorvelView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseDoubleClickEvent(event);
    return;
  }
  SyncClientSize();
  const double before = model_.viewStart;
  const QPoint p = event->position().toPoint();
  if (mouse_.DoubleClick(p.x(), p.y(), ModifiersOf(event->modifiers()))) {
    event->accept();
    AfterMouse(before);
  } else {
    QAbstractScrollArea::mouseDoubleClickEvent(event);
  }
}

void CQuorvelView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CQuorvelView::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const DropAction action = ViewModel::DropDecision(static_cast<size_t>(urls.size()), ctrl, model_.HasAudio());
  if (action == DropAction::kNone) return;
  const QString path = urls.front().toLocalFile();
  event->acceptProposedAction();
  if (action == DropAction::kAppend && appendWavFile) {
    appendWavFile(path);
  } else if (openWavFile) {
    openWavFile(path);
  }
}

void CQuorvelView::contextMenuEvent(QContextMenuEvent* event) {
  SyncClientSize();
  const QPoint p = event->pos();
  const ContextMenuKind kind = model_.ContextMenuAt(p.x(), p.y());
  viewport()->update();
  const char* name = kind == ContextMenuKind::kRegionBar    ? "Region Bar"
                     : kind == ContextMenuKind::kLoopRegion ? "Loop Region"
                     : kind == ContextMenuKind::kEdit       ? "Edit"
                                                            : "Piano Roll";
  QMenu menu(this);
  for (const MenuEntry& item : commands_.ContextMenu(name)) {
    if (item.kind == MenuEntry::Kind::kSeparator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.text));
    const int id = item.id;
    action->setEnabled(commands_.Enabled(id));
    if (commands_.Checkable(id)) {
      action->setCheckable(true);
      action->setChecked(commands_.Checked(id));
    }
    connect(action, &QAction::triggered, this, [this, id] { commands_.Run(id); });
  }
  menu.exec(event->globalPos());
}

void CQuorvelView::paintEvent(QPaintEvent* event) {
  SyncClientSize();
  const QSize size = viewport()->size();
  // An animation frame repaints what moved over the last frame; anything
  // else repaints the whole picture.
  const bool partial = backBufferAnimated_ && backBuffer_.size() == size &&
                       !QRegion(viewport()->rect()).subtracted(event->region()).isEmpty();
  if (backBuffer_.size() != size) backBuffer_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
  Render(backBuffer_, partial ? &event->region() : nullptr);
  // The drawing started or stopped the empty screen's animation.
  SyncAnimationTimer();
  QPainter screen(viewport());
  for (const QRect& r : event->region()) DrawImageInBands(screen, r.intersected(backBuffer_.rect()), backBuffer_);
}

void CQuorvelView::Render(QImage& image, const QRegion* clip) {
  DrawList picture;
  // A repaint of what an animation frame moved shows the picture that
  // frame drew; anything else draws afresh (a repaint of the whole view is
  // asked for by whatever else changed it).
  if (clip && animationFrame_ && animationFrameSize_ == image.size()) {
    picture = std::move(*animationFrame_);
  } else {
    ViewDrawing drawing(model_, picture);
    const ToolDragState drag = mouse_.ToolDrag();
    drawing.toolDrag = &drag;
    drawing.OnDraw(image.width(), image.height());
  }
  animationFrame_.reset();
  // The drawing runs the animation only on the empty screen.
  const bool animated = model_.animationTimer != 0;
  if (clip && !animated) {
    // The picture changed from an animation frame to another without a
    // repaint of the whole: paint all of it, and show all of it next.
    clip = nullptr;
    viewport()->update();
  }
  QPainter p(&image);
  size_t first = 0;
  if (clip) {
    // The background of the parts repainted, rectangle by rectangle (each a
    // band of tiles, not many rows), then the rest clipped to them.
    if (!picture.Ops().empty() && picture.Ops().front().tag == "clear") {
      const QColor background = QColor::fromRgba(picture.Ops().front().color);
      for (const QRect& r : *clip) FillInBands(p, r.intersected(image.rect()), background);
      first = 1;
    }
    p.setClipRegion(*clip);
  }
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  PaintDrawList(p, picture, &sprites_, first);
  backBufferAnimated_ = animated;
  if (animated) NoteAnimationFrame(picture);
}

}  // namespace zandrel

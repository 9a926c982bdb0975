#include "view/quorvel_view.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>

namespace zandrel {
namespace {

// Colours are ARGB.
constexpr QRgb kBackground = 0xFF1B1D22;
constexpr QRgb kRegionBarBackground = 0xFF2A2D34;
constexpr QRgb kPianoBackground = 0xFF23252B;
constexpr QRgb kWaveform = 0xFF4FC3F7;
constexpr QRgb kCentreLine = 0xFF3A3F48;
constexpr QRgb kSelection = 0x402196F3;
constexpr QRgb kCursor = 0xFFFFFFFF;
constexpr QRgb kRegionFill = 0xFF455A64;
constexpr QRgb kRegionSelected = 0xFF78909C;
constexpr QRgb kEmptyText = 0xFF8A8F98;

}  // namespace

CQuorvelView::CQuorvelView(CQuorvelDoc& doc, CommandRegistry& commands, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc), commands_(commands), model_(doc) {
  model_.LoadSettings();
  model_.hooks.isPlaying = [this] { return IsPlaying(); };
  model_.hooks.stopPlayback = [this] { StopPlayback(); };
  // Drops reach the view through its viewport, which must accept them itself.
  viewport()->setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  doc_.AddObserver(this);
}

CQuorvelView::~CQuorvelView() {
  StopPlayback();
  doc_.RemoveObserver(this);
}

void CQuorvelView::SyncClientSize() {
  model_.clientWidth = viewport()->width();
  model_.clientHeight = viewport()->height();
}

void CQuorvelView::RebuildPeakCache() { model_.RebuildPeakCache(); }

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
      RebuildPeakCache();
      model_.ClampViewStart();
      UpdateScrollBar();
      viewport()->update();
      break;
    case DocumentChange::kInstrument:
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
    case Qt::Key_Home: HandleKey(ViewKey::kHome); return;
    case Qt::Key_End: HandleKey(ViewKey::kEnd); return;
    default: QAbstractScrollArea::keyPressEvent(event);
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
  for (const MenuItem& item : FindContextMenu(name).items) {
    if (item.id == 0) {
      menu.addSeparator();
      continue;
    }
    QString text = QString::fromUtf8(item.text.data(), static_cast<int>(item.text.size()));
    QAction* action = menu.addAction(text);
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

void CQuorvelView::paintEvent(QPaintEvent*) {
  SyncClientSize();
  const QSize size = viewport()->size();
  if (backBuffer_.size() != size) backBuffer_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
  Render(backBuffer_);
  QPainter screen(viewport());
  screen.drawImage(0, 0, backBuffer_);
}

void CQuorvelView::Render(QImage& image) const {
  image.fill(kBackground);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const int width = image.width();
  const int height = image.height();

  if (!model_.HasAudio() || model_.peakCache.empty()) {
    QFont font = p.font();
    font.setPixelSize(28);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor::fromRgba(kEmptyText));
    p.drawText(QRect(0, 0, width, height), Qt::AlignCenter, QStringLiteral("DROP WAV FILE HERE"));
    return;
  }

  const int top = model_.WaveTop();
  const int bottom = std::max(top + 1, model_.WaveBottom());
  const QRect wave(0, top, width, bottom - top);
  p.fillRect(QRect(0, 0, width, kRegionBarHeight), QColor::fromRgba(kRegionBarBackground));
  p.fillRect(QRect(0, bottom, width, height - bottom), QColor::fromRgba(kPianoBackground));

  // Regions in the region bar.
  const InstrumentData& inst = doc_.instrument;
  if (inst.hasInstrument) {
    for (size_t i = 0; i < inst.regions.size(); ++i) {
      const Region& r = inst.regions[i];
      const int x1 = std::max(0, model_.XAtFrame(r.startSample));
      const int x2 = std::min(width, model_.XAtFrame(r.endSample));
      if (x2 <= x1) continue;
      const QRgb fill = static_cast<int>(i) == model_.selectedRegion ? kRegionSelected : kRegionFill;
      p.fillRect(QRect(x1, 4, x2 - x1 - 1, kRegionBarHeight - 8), QColor::fromRgba(fill));
    }
  }

  // Selection.
  if (model_.loopIn >= 0 && model_.loopOut >= 0) {
    const int x1 = std::clamp(model_.XAtFrame(std::min(model_.loopIn, model_.loopOut)), -1, width + 1);
    const int x2 = std::clamp(model_.XAtFrame(std::max(model_.loopIn, model_.loopOut)), -1, width + 1);
    p.fillRect(QRect(x1, top, std::max(1, x2 - x1), wave.height()), QColor::fromRgba(kSelection));
  }

  // Waveform: one vertical line per column from the bucket's min to max.
  const double centre = wave.top() + wave.height() * 0.5;
  p.setPen(QColor::fromRgba(kCentreLine));
  p.drawLine(QPointF(0, centre), QPointF(width, centre));
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor::fromRgba(kWaveform));
  const int64_t bucket = model_.peakCache.bucketSize();
  const int64_t entries = model_.peakCache.size();
  for (int i = 0; i < width; ++i) {
    const double frame = i * static_cast<double>(model_.framesPerPixel) + model_.viewStart;
    if (frame < 0) continue;
    const int64_t k = static_cast<int64_t>(frame / static_cast<double>(bucket));
    if (k >= entries) continue;
    const PeakEntry e = model_.peakCache[k];
    const double y1 = centre - e.max / 32767.0 * wave.height() * 0.5;
    const double y2 = centre - e.min / 32767.0 * wave.height() * 0.5;
    p.drawLine(QPointF(i + 0.5, y1), QPointF(i + 0.5, std::max(y2, y1 + 1)));
  }

  // Cursor.
  if (model_.cursorFrame >= 0) {
    const int x = model_.XAtFrame(model_.cursorFrame);
    if (x >= 0 && x < width) {
      p.setPen(QColor::fromRgba(kCursor));
      p.drawLine(x, top, x, bottom);
    }
  }
}

}  // namespace zandrel

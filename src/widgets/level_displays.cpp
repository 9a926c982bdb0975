#include "widgets/level_displays.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace zandrel {
namespace {

QColor Q(Rgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace

// ------------------------------------------------------------ meter --

CAudioMeter::CAudioMeter(QWidget* parent, MeterModel::Clock clock)
    : QWidget(parent),
      model_(clock ? std::move(clock) : MeterModel::Clock([this] { return static_cast<uint32_t>(elapsed_.elapsed()); })) {
  elapsed_.start();
  setAttribute(Qt::WA_OpaquePaintEvent);
  connect(&repaint_, &QTimer::timeout, this, [this] {
    if (model_.TakeDirty()) update();
  });
  connect(&peak_, &QTimer::timeout, this, [this] {
    model_.TickPeak();
    if (!model_.PeakTimerRunning()) peak_.stop();
    update();
  });
  repaint_.start(33);
}

void CAudioMeter::SetLevel(int value) {
  model_.SetLevel(value);
  if (model_.PeakTimerRunning() && !peak_.isActive()) peak_.start(50);
}

void CAudioMeter::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter p(this);
  p.fillRect(rect(), Q(kMeterBackground));
  const int n = model_.segmentCount;
  if (n <= 0) return;
  const int hb = std::max(1, height() * model_.barHeightPercent / 100);
  const int top = (height() - hb) / 2;
  const int ws = std::max(1, (width() - (n - 1) * model_.segmentGap) / n);
  for (int i = 0; i < n; ++i)
    p.fillRect(i * (ws + model_.segmentGap), top, ws, hb, Q(MeterSegmentColour(model_.SegmentAt(i))));
}

// ----------------------------------------------------- level display --

CAudioLevelDisplay::CAudioLevelDisplay(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CAudioLevelDisplay::Clear() {
  std::fill(levels.begin(), levels.end(), 0);
  update();
}

void CAudioLevelDisplay::SetFromPcm(const uint8_t* bytes, size_t size, int bitsPerSample, int channels) {
  levels = LevelsFromPcm(bytes, size, bitsPerSample, channels, static_cast<size_t>(std::max(0, barCount)));
  update();
}

void CAudioLevelDisplay::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter p(this);
  p.fillRect(rect(), background);
  const int mid = height() / 2;
  p.setPen(QPen(centreLine, 1, Qt::DotLine));
  p.drawLine(0, mid, width(), mid);
  const int n = std::min(barCount, static_cast<int>(levels.size()));
  if (n > 1) {
    QPolygon poly(2 * n);
    for (int i = 0; i < n; ++i) {
      const int x = static_cast<int>(static_cast<float>(width()) / (n - 1) * i);
      const int half = static_cast<int>(levels[static_cast<size_t>(i)] / 100.0f * (height() * 0.5f));
      poly.setPoint(i, x, mid - half);
      poly.setPoint(2 * n - 1 - i, x, mid + half);
    }
    p.setBrush(recording ? recordingFill : fill);
    p.setPen(QPen(recording ? recordingOutline : outline, 1));
    p.drawPolygon(poly);
  }
  if (recording) {
    QFont font("Arial");
    font.setPixelSize(16);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(255, 0, 0));
    p.drawText(rect().adjusted(5, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, "REC");
  }
}

// ------------------------------------------------------------ strip --

CLoopProgressDisplay::CLoopProgressDisplay(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  connect(&repaint_, &QTimer::timeout, this, [this] {
    if (history.dirty) {
      history.dirty = false;
      update();
    }
  });
  repaint_.start(33);
}

void CLoopProgressDisplay::ClearHistory() {
  history.Clear();
  update();
}

void CLoopProgressDisplay::resizeEvent(QResizeEvent*) { update(); }

void CLoopProgressDisplay::paintEvent(QPaintEvent*) {
  const int w = width(), h = height();
  if (w <= 0 || h <= 0) return;
  QPainter p(this);
  p.fillRect(rect(), Q(recording ? kStripRecording : kStripIdle));
  if (offline) {
    QFont font("Arial");
    font.setPointSize(20);
    p.setFont(font);
    p.setPen(QColor(100, 100, 100));
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, "OFFLINE");
    return;
  }
  for (const GridLine& line : LoopGridLines(w, bars, beatsPerBar, beatUnit)) {
    if (line.bar) {
      p.setPen(QPen(Q(kStripBarLine), 1));
      p.drawLine(line.x, 0, line.x, h);
    } else {
      p.setPen(QPen(Q(kStripGrid), 1));
      p.drawLine(line.x, 10, line.x, h - 10);
    }
  }
  const int mid = h / 2;
  p.setPen(QPen(Q(kStripGrid), 1));
  p.drawLine(0, mid, w, mid);
  const int playheadX = static_cast<int>(w * history.position);
  for (int i = 0; i < w; ++i) {
    const float v = HistoryAtColumn(history.bins, i, w);
    if (v <= 0.001f) continue;
    p.setPen(Q(StripLevelColour(v, !recording && i > playheadX)));
    const int u = static_cast<int>((mid - 2) * v);
    p.drawLine(i, mid - u, i, mid + u);
  }
  p.setPen(QPen(recording ? QColor(255, 0, 0) : Q(kStripPlayhead), 2));
  p.drawLine(playheadX, 0, playheadX, h);
  if (!statusText.isEmpty()) {
    QFont font("Arial");
    font.setPointSize(9);
    p.setFont(font);
    p.setPen(statusColour);
    p.drawText(rect().adjusted(10, 5, -10, -5), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, statusText);
  }
}

// ------------------------------------------------------- take stack --

CTakeStackDisplay::CTakeStackDisplay(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::ArrowCursor);
  connect(&repaint_, &QTimer::timeout, this, [this] {
    if (history.dirty) {
      history.dirty = false;
      update();
    }
  });
  repaint_.start(33);
}

void CTakeStackDisplay::SetTakes(const std::deque<std::vector<int16_t>>& takes, int, int, int channels) {
  lanes.clear();
  for (const std::vector<int16_t>& t : takes) lanes.push_back(ComputeTakePeaks(t.data(), t.size(), channels));
  update();
}

void CTakeStackDisplay::ClearLevelHistory() {
  history.Clear();
  update();
}

int CTakeStackDisplay::LaneAt(int y) const {
  const int n = laneCount;
  if (n <= 0) return -1;
  const int hl = LaneHeight(height(), n);
  for (int c = 0; c < n; ++c) {
    const int top = 2 + c * (hl + 2);
    if (y >= top && y < top + hl) return c;
  }
  return -1;
}

void CTakeStackDisplay::mousePressEvent(QMouseEvent* event) {
  const int lane = LaneAt(event->position().toPoint().y());
  if (event->button() != Qt::LeftButton || lane < 0 || lane >= takeCount) return QWidget::mousePressEvent(event);
  selectedTake = lane;
  update();
  emit takeClicked(lane);
}

void CTakeStackDisplay::mouseDoubleClickEvent(QMouseEvent* event) {
  const int lane = LaneAt(event->position().toPoint().y());
  if (event->button() != Qt::LeftButton || lane < 0 || lane >= takeCount) return QWidget::mouseDoubleClickEvent(event);
  selectedTake = lane;
  update();
  emit takeDoubleClicked(lane);
}

void CTakeStackDisplay::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter p(this);
  p.fillRect(rect(), Q(kTakeBackground));
  const int n = laneCount;
  if (n <= 0) return;
  const int hl = LaneHeight(height(), n);
  QFont font("Segoe UI");
  font.setPointSize(7);
  p.setFont(font);
  for (int c = 0; c < n; ++c) {
    const QRect lane(2, 2 + c * (hl + 2), width() - 4, hl);
    const bool recLane = recording && c == ringIndex;
    p.fillRect(lane, Q(LaneColour(c, takeCount, selectedTake, ringIndex, recording)));
    if (c == ringIndex && !recLane) p.fillRect(QRect(lane.left(), lane.top(), 5, hl), Q(kTakeRingMarker));
    p.setPen(QColor(60, 60, 60));
    p.drawLine(lane.left() + 30, lane.top(), lane.left() + 30, lane.bottom());
    const QRect label(lane.left(), lane.top(), 30, hl);
    if (recLane) {
      p.setPen(Qt::white);
      p.drawText(label, Qt::AlignCenter | Qt::TextSingleLine, "[REC]");
    } else if (c < takeCount) {
      p.setPen(Qt::white);
      p.drawText(label, Qt::AlignCenter | Qt::TextSingleLine, QString::number(c + 1));
    }
    const int left = lane.left() + 30, w = lane.width() - 32;
    const int middle = lane.top() + hl / 2, h2 = hl < 4 ? 1 : hl / 2 - 1;
    if (w > 0 && recLane) {
      p.setPen(Q(kTakeHistoryStroke));
      const size_t bins = history.bins.size();
      for (int i = 0; i < w && bins > 0; ++i) {
        const float v = history.bins[std::min(static_cast<size_t>(i) * bins / static_cast<size_t>(w), bins - 1)];
        const int u = static_cast<int>(h2 * v);
        if (u > 0) p.drawLine(left + i, middle - u, left + i, middle + u);
      }
    } else if (w > 0 && c < takeCount && static_cast<size_t>(c) < lanes.size() && !lanes[static_cast<size_t>(c)].maxima.empty()) {
      const TakePeakLane& pl = lanes[static_cast<size_t>(c)];
      p.setPen(Q(kTakeCentreLine));
      p.drawLine(left, middle, lane.right() - 2, middle);
      p.setPen(Q(kTakeWaveform));
      for (int x = 0; x < w; ++x) {
        const size_t k = std::min<size_t>(static_cast<size_t>(x) * TakePeakLane::kBins / static_cast<size_t>(w), TakePeakLane::kBins - 1);
        const int hi = pl.maxima[k], lo = std::abs(static_cast<int>(pl.minima[k]));
        int up = h2 * hi / 32768, down = h2 * lo / 32768;
        if (hi >= 400 && up <= 0) up = 1;
        if (lo >= 400 && down <= 0) down = 1;
        if ((hi >= 400 || lo >= 400) && (up > 0 || down > 0)) p.drawLine(left + x, middle - up, left + x, middle + down);
      }
    }
    p.setPen(Q(kTakeFrame));
    p.setBrush(Qt::NoBrush);
    p.drawRect(lane.adjusted(0, 0, -1, -1));
  }
}

}  // namespace zandrel

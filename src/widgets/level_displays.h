// The recording tools' level displays: CAudioMeter (a segmented input meter
// with peak hold), CAudioLevelDisplay (level bars as a mirrored envelope),
// CLoopProgressDisplay (the loop strip: grid, the pass's levels, playhead)
// and CTakeStackDisplay (one lane per slot of the loop sampler's ring).
//
// Their state is the display-free models of tools/sampling; the owner feeds
// them from its own timer on the user-interface thread. Each paints only
// when marked dirty, at most every 33 ms.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <vector>

#include "widgets/model/level_models.h"

namespace zandrel {

class CAudioMeter : public QWidget {
  Q_OBJECT
 public:
  // |clock|: milliseconds; the widget's own elapsed timer when empty.
  explicit CAudioMeter(QWidget* parent = nullptr, MeterModel::Clock clock = {});
  void SetLevel(int value);
  MeterModel& Model() { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QElapsedTimer elapsed_;
  MeterModel model_;
  QTimer repaint_;  // 33 ms
  QTimer peak_;     // 50 ms, while a peak is held
};

class CAudioLevelDisplay : public QWidget {
  Q_OBJECT
 public:
  explicit CAudioLevelDisplay(QWidget* parent = nullptr);
  void Clear();
  void SetFromPcm(const uint8_t* bytes, size_t size, int bitsPerSample, int channels);

  std::vector<int> levels = std::vector<int>(200, 0);  // 0..100 per bar
  int barCount = 200;
  bool recording = false;
  QColor background{20, 20, 20}, outline{0, 255, 0}, fill{0, 160, 0}, centreLine{64, 64, 64},
      recordingOutline{255, 0, 0}, recordingFill{160, 0, 0};

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CLoopProgressDisplay : public QWidget {
  Q_OBJECT
 public:
  explicit CLoopProgressDisplay(QWidget* parent = nullptr);
  void AddLevel(int percent) { history.AddLevel(percent); }
  void ClearHistory();
  void SetDirty() { history.dirty = true; }

  LevelHistory history;  // position, bins, last bin and level
  bool recording = false;
  bool offline = false;
  QString statusText;
  QColor statusColour{255, 255, 255};
  int bars = 4, beatsPerBar = 4, beatUnit = 4;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTimer repaint_;
};

class CTakeStackDisplay : public QWidget {
  Q_OBJECT
 public:
  explicit CTakeStackDisplay(QWidget* parent = nullptr);
  // The owner's ring, oldest slot first; rebuilds the lane overviews.
  void SetTakes(const std::deque<std::vector<int16_t>>& takes, int sampleRate, int bits, int channels);
  void ClearLevelHistory();
  // The lane at |y|, or -1.
  int LaneAt(int y) const;

  int takeCount = 0;
  int selectedTake = -1;
  int ringIndex = 0;
  int laneCount = 10;
  bool recording = false;
  LevelHistory history;  // the pass being recorded
  std::vector<TakePeakLane> lanes;

 signals:
  void takeClicked(int lane);
  void takeDoubleClicked(int lane);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QTimer repaint_;
};

}  // namespace zandrel

// CDrumPatternWnd: the loop maker's picture of the loaded pattern (one row
// per note, one column per beat, a dot per hit, the kit's roots along the
// bottom), drawn from a DrumGridModel. A click on a row or a root label asks
// the dialog to audition that drum (drumNoteClicked); a double click acts as
// a second press.
#pragma once

#include <QImage>
#include <QWidget>

#include "tools/drum_grid_model.h"

namespace zandrel {

class CDrumPatternWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CDrumPatternWnd(QWidget* parent = nullptr);

  DrumGridModel& Model() { return model_; }
  const DrumGridModel& Model() const { return model_; }
  void SetPattern(const std::vector<PatternEvent>& events, int32_t bars);
  void SetTables(const NoteMapTables& tables);

  // The picture at the widget's size.
  QImage Render() const;

 signals:
  // |root| the kit root to play (-1 = none), |note| the clicked note or root.
  void drumNoteClicked(int root, int note);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  DrumGridModel model_;
};

}  // namespace zandrel

// CPianoSelectorWnd: the 128-key piano control of the note picker.
//
// A thin Qt layer over PianoSelectorModel (notes/piano_keys.h): it paints the
// model's Picture into an off-screen image, turns left clicks and scroll-bar
// actions into model calls, and tells its owner about a picked key through
// keyClicked (a direct, synchronous signal). The horizontal scroll bar runs
// along the bottom; the client rectangle is the area above it.
//
// Embedding dialogs may write the model's fields through Model(); afterwards
// they call UpdateScrollBar when they scrolled, and update(). User-interface
// thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include "notes/piano_keys.h"

class QScrollBar;

namespace zandrel {

class CPianoSelectorWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CPianoSelectorWnd(QWidget* parent = nullptr);

  PianoSelectorModel& Model() { return model_; }
  const PianoSelectorModel& Model() const { return model_; }

  // Stores range, root and mode, picks the mode's key, resets the accent
  // colour, centres the root and repaints.
  void SetKeyRange(int low, int high, int root, int mode);
  int GetVisibleWhiteKeys() const { return VisibleWhiteKeys(ClientRect().Width()); }
  void UpdateScrollBar();
  void ClearKeyMarks() { model_.ClearKeyMarks(); }
  void SetReadOnly(bool readOnly) { model_.readOnly = readOnly ? 1 : 0; }

  // The area above the scroll bar, in widget coordinates.
  PianoRect ClientRect() const;
  QScrollBar* ScrollBar() const { return scrollBar_; }
  // The keyboard as the next paint draws it.
  QImage Render() const;

 signals:
  void keyClicked(int note);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void OnScrollAction(int action);

  PianoSelectorModel model_;
  QScrollBar* scrollBar_;
};

}  // namespace zandrel

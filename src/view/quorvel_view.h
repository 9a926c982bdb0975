// CQuorvelView: the waveform view widget.
//
// A thin Qt layer over ViewModel: it turns wheel, key, scroll-bar, drop,
// context-menu and mouse events into model calls (the mouse through
// MouseEditing, which owns every rule of clicks and drags; the widget only
// sets the cursor shape it chooses), follows the document through
// DocumentObserver, paints the picture of view_drawing.h into an off-screen
// ARGB image that is then copied to the screen, and plays the document
// (playback.h) with a 50 ms playhead timer. The empty screen's animation
// runs on a 33 ms timer that the drawing starts and stops, and that also
// rests while the view is hidden or its window minimised; each of its frames
// repaints only where particles were or now are, drawing them from
// pre-rendered images (view_painter.h). The horizontal scroll bar is the
// scroll area's own.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QRegion>
#include <QTimer>
#include <optional>
#include <functional>
#include <vector>

#include "document/quorvel_doc.h"
#include "commands/commands.h"
#include "view/model/mouse_editing.h"
#include "view/model/playback.h"
#include "view/model/view_model.h"
#include "view/view_painter.h"

namespace zandrel {

class CQuorvelView : public QAbstractScrollArea, public DocumentObserver {
  Q_OBJECT

 public:
  CQuorvelView(CQuorvelDoc& doc, CommandRegistry& commands, QWidget* parent = nullptr);
  ~CQuorvelView() override;

  ViewModel& Model() { return model_; }
  const ViewModel& Model() const { return model_; }
  MouseEditing& Mouse() { return mouse_; }
  CQuorvelDoc& GetDocument() { return doc_; }

  // Playback through the current audio output. StopPlayback keeps the stop
  // contract: once it returns, nothing reads the document's audio.
  bool IsPlaying() const { return playback_.IsPlaying(); }
  void StartPlayback();
  void StopPlayback();
  bool PlayRegionByRootNote(int note);
  // The playhead tick, every 50 ms while playing.
  void OnPlayheadTick();
  bool PlayheadTimerActive() const { return playheadTimer_.isActive(); }
  // The empty screen's animation tick, every 33 ms while the animation runs
  // (the drawing starts and stops it).
  void OnAnimationTick();
  const QTimer& AnimationTimer() const { return animationTimer_; }
  Playback& GetPlayback() { return playback_; }

  void RebuildPeakCache();
  void UpdateScrollBar();
  void ClearSelection();
  // Asks the model to handle a key, then repaints.
  void HandleKey(ViewKey key);

  // Called for a file dropped with Ctrl held onto loaded audio; when unset,
  // the file is opened instead.
  std::function<void(const QString&)> appendWavFile;
  std::function<void(const QString&)> openWavFile;

  // The image the last paint produced (for tests and screenshots).
  const QImage& BackBuffer() const { return backBuffer_; }

  // DocumentObserver
  void OnAudioAboutToChange() override { StopPlayback(); }
  void OnDocumentChanged(DocumentChange change) override;
  void OnSelectionChanged() override { viewport()->update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void OnUpdate();
  // Paints the client area into |image|, only within |clip| when it is set
  // (the rest of the image holds the picture already), and records the hit
  // rectangles of what it drew.
  void Render(QImage& image, const QRegion* clip = nullptr);
  void SyncClientSize();
  // Runs the animation timer while the model's animationTimer is set and
  // the view can be seen (shown, its window not minimised).
  void SyncAnimationTimer();
  // Where the empty screen's picture |list| draws its particles, in the
  // client area, and the colour of its hint.
  void NoteAnimationFrame(const DrawList& list);
  // Sets the viewport's cursor to the shape for the mouse at |pos|.
  void UpdateCursorShape(QPoint pos, Qt::KeyboardModifiers modifiers);
  // After a mouse event the model handled: the scroll bar follows a moved
  // view, the picture is repainted.
  void AfterMouse(double viewStartBefore);

  CQuorvelDoc& doc_;
  CommandRegistry& commands_;
  ViewModel model_;
  Playback playback_{model_};
  MouseEditing mouse_{model_};
  QTimer playheadTimer_;
  QTimer animationTimer_;
  QImage backBuffer_;
  bool settingScrollBar_ = false;
  ParticleSprites sprites_;
  // Hidden, by its window's minimising too (which leaves isVisible() true).
  bool hidden_ = true;
  // The back buffer holds an animation frame of the empty screen, whose
  // particles covered these rectangles and whose hint had this colour.
  bool backBufferAnimated_ = false;
  std::vector<QRect> particleRects_;
  // The picture an animation frame drew to find what moved, kept for the
  // paint of that frame's region.
  std::optional<DrawList> animationFrame_;
  QSize animationFrameSize_;
  Argb hintColour_ = 0;
  QRect hintRect_;
};

}  // namespace zandrel

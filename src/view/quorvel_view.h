// CQuorvelView: the waveform view widget.
//
// A thin Qt layer over ViewModel: it turns wheel, key, scroll-bar, drop and
// context-menu events into model calls, follows the document through
// DocumentObserver, and paints the model into an off-screen ARGB image that
// is then copied to the screen. The horizontal scroll bar is the scroll
// area's own.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <functional>

#include "document/quorvel_doc.h"
#include "view/commands.h"
#include "view/view_model.h"

namespace zandrel {

class CQuorvelView : public QAbstractScrollArea, public DocumentObserver {
  Q_OBJECT

 public:
  CQuorvelView(CQuorvelDoc& doc, CommandRegistry& commands, QWidget* parent = nullptr);
  ~CQuorvelView() override;

  ViewModel& Model() { return model_; }
  const ViewModel& Model() const { return model_; }
  CQuorvelDoc& GetDocument() { return doc_; }

  // Playback arrives with the audio output; until then nothing plays.
  bool IsPlaying() const { return false; }
  void StopPlayback() {}

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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void OnUpdate();
  void Render(QImage& image) const;
  void SyncClientSize();

  CQuorvelDoc& doc_;
  CommandRegistry& commands_;
  ViewModel model_;
  QImage backBuffer_;
  bool settingScrollBar_ = false;
};

}  // namespace zandrel

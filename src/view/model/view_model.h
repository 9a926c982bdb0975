// The waveform view's state and rules, without a window.
//
// Everything the view knows that is not pixels lives here: zoom and scroll
// position, cursor, selection (the loop points), the selected region, the
// modes, and the rules that change them (scroll-bar units, wheel zoom, keys,
// context-menu choice, dropped files). The Qt widget turns its events into
// calls on this model and paints from it; tests drive it directly.
//
// Positions are frames of the document's audio. frame = x x framesPerPixel +
// viewStart (then truncated); pixel = (frame - viewStart) / framesPerPixel
// (truncated). viewStart may be negative: the view keeps half a page of
// margin at both ends.
//
// The cursor and the selection (ViewSelection, which the commands change) are
// the model's own members; every change of them is announced through the
// document's NotifySelectionChanged, which is how the pages and the widget
// learn of it. What the model needs of playback and of the pages otherwise
// reaches it through ViewHooks; unset hooks do nothing. User-interface
// thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_view.h"
#include "document/quorvel_doc.h"
#include "view/model/particles.h"
#include "view/model/peak_cache.h"
#include "view/model/rect.h"
#include "view/model/spectrum.h"

namespace zandrel {

enum class TimelineMode { kTime = 0, kFrames = 1, kBeats = 2 };
enum class ToolMode { kNormal = 0, kPaint = 1, kSelection = 2, kRearrange = 3, kTimeStretch = 4, kRetime = 5 };
enum DragOperation {
  kDragNone = 0,
  kDragLoopIn = 1,
  kDragLoopOut = 2,
  kDragRegionBoundary = 3,
  kDragCursor = 4,
  kDragMoveSelection = 5,
  kDragNewLoop = 6,
  kDragRegionLoopStart = 7,
  kDragRegionLoopEnd = 8,
  kDragKeyBoundary = 9,
  kDragPaint = 10,
};

// Band heights of the view, in pixels.
constexpr int kRegionBarHeight = 40;
constexpr int kPianoStripHeight = 40;
constexpr int kPianoStripHeightEditing = 120;

struct ScrollBarState {
  int min = 0;
  int max = 0;
  int page = 0;
  int pos = 0;
};

enum class ScrollAction { kLineLeft, kLineRight, kPageLeft, kPageRight, kThumb, kLeft, kRight, kEndScroll };
enum class ContextMenuKind { kRegionBar, kLoopRegion, kEdit, kPianoRoll };
enum class DropAction { kNone, kOpen, kAppend };
enum class ViewKey { kSpace, kEnd, kHome, kSelectAll, kLoopIn, kLoopOut, kLoop };

struct ViewHooks {
  std::function<void(const Region& region, int index)> showRegion;      // Region page
  std::function<void(double durationSeconds)> showInstrument;           // Global page
  std::function<bool()> isPlaying;
  std::function<void()> startPlayback;
  std::function<void()> stopPlayback;
  // The zero-crossing snap; unset, the nearest rising crossing of the audio.
  std::function<int64_t(int64_t)> snapToZeroCrossing;
  // Selects region |index| with its sustain loop (or the whole region), as a
  // click on it does; |suffix| is added to the log line.
  std::function<void(int index, const std::string& suffix, bool recentre)> selectRegionWithLoop;
  // A display setting changed: paint again.
  std::function<void()> repaint;
};

// One point of the envelope the Paint tool draws: a frame and a level, the
// level a fraction of half the waveform area's height.
struct PaintPoint {
  int64_t frame = 0;
  float level = 0.0f;
};

// The scroll bar for |frames| frames with |page| frames on screen: units of
// ceil(frames / 2e9) frames so positions fit 32 bits.
ScrollBarState ComputeScrollBar(double frames, double page, double viewStart, double* unit);

class ViewModel : public ViewSelection, public CommandView {
 public:
  explicit ViewModel(CQuorvelDoc& doc);

  // What the commands ask of the view.
  int ClientWidth() const override { return clientWidth; }
  int ClientHeight() const override { return clientHeight; }
  std::optional<ClientPoint> ContextMenuPoint() const override;
  std::optional<int> PianoKeyAtContextMenu() const override;
  std::function<int64_t(int64_t)> ZeroCrossingSnap() const override;
  void ShowRegion(int index) override;
  void ShowInstrument() override;
  void ShowTimelineInBeats() override;

  CQuorvelDoc& doc;
  ViewHooks hooks;

  // Window size in pixels.
  int clientWidth = 0;
  int clientHeight = 0;
  // Where the last context menu was asked for (client pixels), -1 before any.
  int contextMenuX = -1;
  int contextMenuY = -1;

  // Display settings ("Settings" section, default on).
  bool playAnimation = true;
  bool showLoupe = true;
  bool scrollWheelZoom = true;
  bool snapToZeroCrossing = true;
  bool editKeyBoundaries = false;
  bool showSpectrum = false;
  bool followPlayhead = false;
  TimelineMode timelineMode = TimelineMode::kTime;
  ToolMode toolMode = ToolMode::kNormal;
  int32_t rearrangeMode = 0;
  DragOperation dragOperation = kDragNone;
  bool rearrangeActive = false;
  bool stretchActive = false;
  bool retimeActive = false;

  float framesPerPixel = 256.0f;
  double viewStart = 0.0;
  double scrollUnit = 1.0;  // frames per scroll-bar unit
  bool playOnce = false;
  PeakCache peakCache;
  // The "Spectrum" display's last analysis; invalidated by the toggle and by
  // every change of the audio or the document.
  SpectrumCache spectrum;

  // The empty screen's animation. animationTimer is the id of its 33 ms
  // timer while it runs (kAnimationTimerId), 0 otherwise: the drawing starts
  // and stops it, the widget runs a timer while it is set.
  ParticleAnimation animation;
  int animationTimer = 0;
  // The mouse pointer while it lies inside the client area (the particles'
  // attraction).
  std::optional<PointerPosition> pointer;

  // Hit rectangles of the last paint; the mouse handling tests these, so they
  // always describe what is on the screen.
  Rect regionBarRect;
  Rect selectionBarRect;   // empty while there is no selection
  Rect loopInHandleRect;   // empty while loopIn < 0
  Rect loopOutHandleRect;  // empty while loopOut < 0

  // The magnifier shown while a marker or boundary is dragged: where it is
  // drawn and the frame it centres on.
  bool loupeVisible = false;
  Rect loupeRect;
  int64_t loupeFrame = 0;
  std::vector<PaintPoint> paintPoints;  // the Paint tool's stroke

  // Reads the three display settings.
  void LoadSettings();

  bool HasAudio() const { return doc.HasAudio() && doc.FrameCount() > 0; }
  int64_t FrameCount() const { return doc.FrameCount(); }
  int64_t FrameAtX(double x) const;
  // The pixel column of |frame|. Frames far off the screen give pixels far
  // off it too, clamped to +-1e8 so that the conversion to int stays defined.
  int XAtFrame(int64_t frame) const;
  double FramesOnScreen() const { return clientWidth * static_cast<double>(framesPerPixel); }
  int PianoStripHeight() const { return editKeyBoundaries ? kPianoStripHeightEditing : kPianoStripHeight; }
  // The waveform area between the region bar and the piano strip.
  int WaveTop() const { return kRegionBarHeight; }
  int WaveBottom() const { return clientHeight - PianoStripHeight(); }
  double DurationSeconds() const;

  void RebuildPeakCache();
  void ClampViewStart();
  // The horizontal scroll bar's range, page and position; sets scrollUnit.
  ScrollBarState ScrollBar();
  // True when viewStart moved.
  bool Scroll(ScrollAction action, int trackPosition = 0);
  // Wheel: zooms or scrolls by the settings and Alt. True when anything changed.
  bool Wheel(int delta, double mouseX, bool altDown);
  // A key reaching the view. True when it was handled.
  bool HandleKey(ViewKey key);

  void SetCursorPosition(int64_t frame);
  // Clears the selection and announces it.
  void ClearSelection();
  // Announces a change of the cursor or selection (the document's
  // NotifySelectionChanged).
  void SelectionChanged();
  void SelectRegion(int index);
  int FindRegionAtSelectionCenter() const;
  // The state after the document was opened, created or changed by undo.
  void ResetForDocument();
  // The model's part of following a change of the document: a replaced
  // document resets the view (ResetForDocument), changed audio rebuilds the
  // peaks once and keeps the scroll position inside the audio.
  void Follow(DocumentChange change);
  // Brings the cursor, selection, selected region and beat markers into the
  // document as it now is (after an edit, Undo or Redo): a selection that
  // no longer fits is clamped when it still overlaps the audio, else
  // cleared. Announces a change. True when anything moved.
  bool FitSelectionToDocument();

  // Which context menu a right click at (x, y) opens, applying what the
  // click does first (selects a region in the region bar, moves the cursor
  // in the waveform).
  ContextMenuKind ContextMenuAt(int x, int y);
  static DropAction DropDecision(size_t fileCount, bool ctrlDown, bool hasAudio);

 private:
  int64_t Snap(int64_t frame) const;
};

}  // namespace zandrel

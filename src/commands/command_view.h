// What a command may ask of the waveform view besides the cursor and the
// selection (CommandContext::Selection): where the last context menu was
// opened, the key of the piano strip under it, the client size, the
// zero-crossing snap, and showing a region or the instrument in the property
// pages. The view's model implements it; a context without a view answers
// as a view that shows nothing, so commands never reach a window directly.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace zandrel {

struct ClientPoint {
  int x = 0;
  int y = 0;
};

class CommandView {
 public:
  virtual ~CommandView() = default;

  // The client area in pixels; 0 x 0 without a view.
  virtual int ClientWidth() const { return 0; }
  virtual int ClientHeight() const { return 0; }
  // Where the last context menu was asked for, in client pixels; nullopt
  // before any.
  virtual std::optional<ClientPoint> ContextMenuPoint() const { return std::nullopt; }
  // The MIDI key of the piano strip under the last context-menu point: -1
  // when the point lies on the strip but beside or between its keys, nullopt
  // when it does not lie on the strip.
  virtual std::optional<int> PianoKeyAtContextMenu() const { return std::nullopt; }
  // The snap a command applies to frames it places, while the view snaps to
  // zero crossings; empty while it does not.
  virtual std::function<int64_t(int64_t)> ZeroCrossingSnap() const { return {}; }
  // Shows region |index| (when it exists) in the Region page, and the global
  // settings in the Global page.
  virtual void ShowRegion(int /*index*/) {}
  virtual void ShowInstrument() {}
  // A tempo-locked take came in: the time ruler counts beats.
  virtual void ShowTimelineInBeats() {}
};

}  // namespace zandrel

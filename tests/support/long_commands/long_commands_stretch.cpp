// Time Stretch... and Pitch Shift... through the registry with dialogs that
// answer OK, and the releases of the Retime, Time Stretch and Rearrange
// tools, dragged with the mouse over the scene's selection (region 0's loop,
// an eighth of the file from its start) the way a person drags them.
#include <memory>

#include "processing/pitch_commands.h"
#include "processing/processing_commands.h"
#include "support/long_commands/long_commands.h"
#include "view/model/audio_tools.h"
#include "view/model/mouse_editing.h"
#include "view/model/view_drawing.h"

namespace zandrel::test {
namespace {

// Half the tempo (the length doubles), or two semitones up.
class HalfTempoOrTwoUp final : public PitchDialogs {
 public:
  bool RunTimeStretch(TimeStretchValues& v) override {
    TimeStretchHalfSpeed(v);
    return true;
  }
  bool RunPitchShift(int& semitones) override {
    semitones = 2;
    return true;
  }
  bool RunPitchCorrection(PitchCorrectionValues&) override { return false; }
};

void LongCommandsStretchRunPitchCommand(LongCommandScene& scene, int id) {
  HalfTempoOrTwoUp dialogs;
  RunRegisteredCommand(scene, id, [&dialogs](CommandRegistry& r) {
    DeclareCoreCommands(r);
    DeclarePitchCommands(r, dialogs);
  });
}

// The whole file across the view's 1000 pixels, drawn (the hit rectangles
// come from the drawing), with |mode| chosen.
void ShowWholeFileWith(LongCommandScene& scene, ToolMode mode) {
  scene.view.RebuildPeakCache();
  scene.view.toolMode = mode;
  scene.view.viewStart = 0.0;
  scene.view.framesPerPixel = static_cast<float>(scene.doc.FrameCount()) / 1000.0f;
}

struct Point {
  int x, y;
};
Point CentreOf(const Rect& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// Presses at the point |grab| picks once the view is painted, drags |dx|
// pixels to the right with |mods| and releases: the release runs the tool's
// edit in the scene's context.
void DragTool(LongCommandScene& scene, const std::function<Point(const MouseEditing&)>& grab, int dx,
              MouseModifiers mods = {}) {
  MouseEditing mouse(scene.view);
  ConnectAudioTools(mouse, scene.view, [&scene]() -> CommandContext* { return &scene.context; });
  DrawList picture;
  ViewDrawing(scene.view, picture).OnDraw(scene.view.clientWidth, scene.view.clientHeight);
  const Point p = grab(mouse);
  if (!mouse.Press(p.x, p.y, mods)) return;
  mouse.Move(p.x + dx, p.y, mods);
  mouse.Release(p.x + dx, p.y, mods);
}

}  // namespace

void AddStretchCases(std::vector<LongCommandCase>& cases) {
  cases.push_back({.name = "Time Stretch...", .run = [](LongCommandScene& s) { LongCommandsStretchRunPitchCommand(s, cmd::kTimeStretch); }});
  cases.push_back({.name = "Pitch Shift...", .run = [](LongCommandScene& s) { LongCommandsStretchRunPitchCommand(s, cmd::kPitchShift); }});
  // The loop's right handle pulled out: the loop grows and everything after
  // it (five eighths of the file) is squeezed.
  cases.push_back({.name = "Retime tool release",
                   .prepare = [](LongCommandScene& s) { ShowWholeFileWith(s, ToolMode::kRetime); },
                   .run =
                       [](LongCommandScene& s) {
                         DragTool(s, [](const MouseEditing& m) { return CentreOf(m.ToolRightHandle()); }, 40);
                       }});
  // The selection (a quarter of the file) stretched by its handle.
  cases.push_back({.name = "Time Stretch tool release",
                   .prepare = [](LongCommandScene& s) { ShowWholeFileWith(s, ToolMode::kTimeStretch); },
                   .run =
                       [](LongCommandScene& s) {
                         DragTool(s, [](const MouseEditing& m) { return CentreOf(m.ToolRightHandle()); }, 40);
                       }});
  // The selection copied (Ctrl) a tenth of the file to the right.
  cases.push_back({.name = "Rearrange tool release",
                   .prepare = [](LongCommandScene& s) { ShowWholeFileWith(s, ToolMode::kRearrange); },
                   .run =
                       [](LongCommandScene& s) {
                         DragTool(s, [&s](const MouseEditing&) { return CentreOf(s.view.selectionBarRect); }, 100,
                                  {.ctrl = true});
                       }});
}

}  // namespace zandrel::test

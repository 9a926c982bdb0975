// The view's own commands: Play/Stop, Loop, Set Loop In/Out and Set
// Left/Right Loop Point, Select All, Deselect, Copy Position, the display and
// editing settings (timeline, zero-crossing snap, magnifier, key-boundary
// editing, following the playhead, wheel zoom, the spectrum, the empty
// screen's animation, the save's time limit) and the choice of the mouse
// tool. Their bodies work on the model given here.
#pragma once

#include <functional>
#include <string>

#include "commands/commands.h"
#include "view/model/view_model.h"

namespace zandrel {

namespace cmd {
// The mouse tools ("Normal " is the spare menu's name for Normal Tool).
inline constexpr int kPaintTool = 32869;
inline constexpr int kNormalSpare = 32873;
inline constexpr int kSelectionTool = 32874;
inline constexpr int kNormalTool = 32883;
inline constexpr int kRearrangeTool = 32884;
inline constexpr int kTimeStretchTool = 32921;
inline constexpr int kRetimeTool = 32924;
// Playback, the selection and the view
inline constexpr int kPlayStop = 32772;
inline constexpr int kLoop = 32773;
inline constexpr int kSetLoopIn = 32774;
inline constexpr int kSetLoopOut = 32775;
inline constexpr int kSetLeftLoopPoint = 32855;
inline constexpr int kSetRightLoopPoint = 32856;
inline constexpr int kSelectAll = 32877;
inline constexpr int kDeselect = 32912;
inline constexpr int kCopyPositionAsText = 32826;
inline constexpr int kEditKeyBoundaries = 32828;
// Display and editing settings
inline constexpr int kSnapToZeroCrossing = 32778;
inline constexpr int kTrimToEpLimits = 32788;
inline constexpr int kFollowPlayhead = 32802;
inline constexpr int kTimelineFrames = 32816;
inline constexpr int kPlayAnimation = 32817;
inline constexpr int kSpectrum = 32875;
inline constexpr int kTimelineBeats = 32880;
inline constexpr int kTimelineTime = 32881;
inline constexpr int kScrollWheelZoom = 32887;
inline constexpr int kShowLoupe = 32922;
}  // namespace cmd

// |putTextOnClipboard| puts a text on the system clipboard (Copy Position);
// unset, Copy Position does nothing.
void DeclareViewCommands(CommandRegistry& registry, ViewModel& model,
                         std::function<void(const std::string&)> putTextOnClipboard = {});

}  // namespace zandrel

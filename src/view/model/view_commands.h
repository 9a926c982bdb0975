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
}  // namespace cmd

// |putTextOnClipboard| puts a text on the system clipboard (Copy Position);
// unset, Copy Position does nothing.
void DeclareViewCommands(CommandRegistry& registry, ViewModel& model,
                         std::function<void(const std::string&)> putTextOnClipboard = {});

}  // namespace zandrel

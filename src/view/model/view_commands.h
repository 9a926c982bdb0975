// The view's own commands: Play/Stop, Loop, Set Loop In/Out and Set
// Left/Right Loop Point, Select All, Deselect, Copy Position, and the
// display and editing settings (timeline, zero-crossing snap, magnifier,
// key-boundary editing, following the playhead, wheel zoom, the spectrum,
// the empty screen's animation, the save's time limit). Their bodies work on the model
// given here.
#pragma once

#include <functional>
#include <string>

#include "commands/commands.h"
#include "view/model/view_model.h"

namespace zandrel {

// |putTextOnClipboard| puts a text on the system clipboard (Copy Position);
// unset, Copy Position does nothing.
void DeclareViewCommands(CommandRegistry& registry, ViewModel& model,
                         std::function<void(const std::string&)> putTextOnClipboard = {});

}  // namespace zandrel

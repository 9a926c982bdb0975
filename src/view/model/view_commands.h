// The view's own commands: Play/Stop, Loop, Set Loop In, Set Loop Out, Select
// All and Deselect. Their bodies work on the model given here.
#pragma once

#include "commands/commands.h"
#include "view/model/view_model.h"

namespace zandrel {

void DeclareViewCommands(CommandRegistry& registry, ViewModel& model);

}  // namespace zandrel

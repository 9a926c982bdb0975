// Every processing command of the editor, for the menus and the tests.
//
// A new command's declaration is added to the list in
// registered_commands.cpp; DeclareProcessingCommands (processing_commands.h)
// adds each one to the registry at the places it declares, and the shared
// refusal tests run every one of them.
#pragma once

#include <vector>

#include "processing/processing_command.h"

namespace zandrel {

const std::vector<const ProcessingCommand*>& RegisteredProcessingCommands();
// The command with |id|, or nullptr.
const ProcessingCommand* FindProcessingCommand(int id);

}  // namespace zandrel

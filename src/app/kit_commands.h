// The kit commands of the "&File" menu: the four imports (submenu "Import")
// and "Export AKAI Keygroup..." (submenu "Export").
#pragma once

#include "commands/commands.h"

namespace zandrel {

class CQuorvelApp;

// An import replaces the document like File Open: the application's save
// question guards the old one (the AKAI import asks it once the program has
// been read, the others before their dialog).
void DeclareKitCommands(CommandRegistry& registry, CQuorvelApp& app);

}  // namespace zandrel

// The kit commands of the "&File" menu: the four imports (submenu "Import")
// and "Export AKAI Keygroup..." (submenu "Export").
#pragma once

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kImportMaschineGroup = 32824;
inline constexpr int kImportWavsFromFolder = 32825;
inline constexpr int kImportAkaiKit = 32832;
inline constexpr int kImportSmplTrekKit = 32833;
inline constexpr int kExportAkaiKeygroup = 32931;
}  // namespace cmd

// An import replaces the document like File Open: the context's save
// question (CommandContext::SaveModified) guards the old one (the AKAI
// import asks it once the program has been read, the others before their
// dialog).
void DeclareKitCommands(CommandRegistry& registry);

}  // namespace zandrel

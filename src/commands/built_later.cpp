#include "commands/editor_commands.h"
#include "commands/pitch_time_commands.h"
#include "commands/processing_commands.h"

namespace zandrel {

const std::set<int>& BuiltLaterIds() {
  static const std::set<int> ids = {
      cmd::kEditCopy,          cmd::kEditCut,           cmd::kEditPaste,
      cmd::kRemoveRegionLoop,  cmd::kFindRootNote,
      cmd::kAutoTune,          cmd::kSetRootNote,
      cmd::kEqualPowerCrossfade, cmd::kSetInOutToZeroCrossing,
  };
  return ids;
}

void DeclareBuiltLaterCommands(CommandRegistry& r) {
  // The clipboard.
  r.Add({.id = cmd::kEditCopy,
         .text = "&Copy",
         .key = "Ctrl+C",
         .contextMenus = {{"Region Bar", 300, "&Copy\tCtrl+C"}, {"Loop Region", 400, "&Copy\tCtrl+C"}}});
  r.Add({.id = cmd::kEditCut, .text = "Cu&t", .key = "Ctrl+X"});
  r.Add({.id = cmd::kEditPaste,
         .text = "&Paste",
         .key = "Ctrl+V",
         .contextMenus = {{"Edit", 400, "&Paste\tCtrl+V"},
                          {"Region Bar", 301, "&Paste\tCtrl+V"},
                          {"Loop Region", 401, "&Paste\tCtrl+V"}}});
  // Snapping.
  r.Add({.id = cmd::kSetInOutToZeroCrossing,
         .text = "Set IN/OUT to Zero Crossing",
         .contextMenus = {{"Loop Region", 202}}});
  // Pitch and root notes.
  r.Add({.id = cmd::kRemoveRegionLoop, .text = "Remove Region's loop", .contextMenus = {{"Region Bar", 101}}});
  r.Add({.id = cmd::kFindRootNote,
         .text = "FInd Root Note",
         .contextMenus = {{"Region Bar", 200, "Find and Set Root Note"}}});
  r.Add({.id = cmd::kAutoTune, .text = "Tune/Repitch...", .contextMenus = {{"Region Bar", 202, "Auto-Tune..."}}});
  r.Add({.id = cmd::kSetRootNote, .text = "Set Root Note", .contextMenus = {{"Piano Roll", 200}}});
  // Processing.
  r.Add({.id = cmd::kEqualPowerCrossfade, .text = "Equal-Power Crossfade", .contextMenus = {{"Loop Region", 201}}});
}

void DeclareCoreCommands(CommandRegistry& registry) {
  DeclareMenuBar(registry);
  DeclareDocumentCommands(registry);
  DeclareEditCommands(registry);
  DeclareBuiltLaterCommands(registry);
  DeclareProcessingCommands(registry);
  DeclareRateCommands(registry);
}

}  // namespace zandrel

#include "commands/editor_commands.h"
#include "commands/audio_edit_commands.h"
#include "commands/processing_commands.h"

namespace zandrel {

const std::set<int>& BuiltLaterIds() {
  static const std::set<int> ids = {
      cmd::kSetLeftLoopPoint,
      cmd::kSetRightLoopPoint, cmd::kCopyPositionAsText, cmd::kRemoveRegionLoop,  cmd::kFindRootNote,
      cmd::kAutoTune,          cmd::kEditKeyBoundaries,  cmd::kSetRootNote,
      cmd::kEqualPowerCrossfade, cmd::kSetInOutToZeroCrossing,
  };
  return ids;
}

void DeclareBuiltLaterCommands(CommandRegistry& r) {
  // Selection and snapping.
  r.Add({.id = cmd::kSetLeftLoopPoint,
         .text = "Set Left Loop Point",
         .contextMenus = {{"Edit", 101}, {"Loop Region", 101}}});
  r.Add({.id = cmd::kSetRightLoopPoint,
         .text = "Set Right Loop Point",
         .contextMenus = {{"Edit", 102}, {"Loop Region", 102}}});
  r.Add({.id = cmd::kCopyPositionAsText, .text = "&Copy Position as text", .contextMenus = {{"Edit", 300}}});
  r.Add({.id = cmd::kEditKeyBoundaries, .text = "Edit Key Boundaries", .contextMenus = {{"Piano Roll", 100}}});
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
  DeclareAudioEditCommands(registry);
  DeclareBuiltLaterCommands(registry);
  DeclareProcessingCommands(registry);
}

}  // namespace zandrel

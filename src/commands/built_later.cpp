#include "commands/editor_commands.h"
#include "commands/pitch_time_commands.h"
#include "commands/audio_edit_commands.h"
#include "commands/processing_commands.h"

namespace zandrel {

const std::set<int>& BuiltLaterIds() {
  static const std::set<int> ids = {
      cmd::kEqualPowerCrossfade, cmd::kSetInOutToZeroCrossing,
  };
  return ids;
}

void DeclareBuiltLaterCommands(CommandRegistry& r) {
  // Snapping.
  r.Add({.id = cmd::kSetInOutToZeroCrossing,
         .text = "Set IN/OUT to Zero Crossing",
         .contextMenus = {{"Loop Region", 202}}});
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
  DeclareRateCommands(registry);
}

}  // namespace zandrel

#include "commands/editor_commands.h"
#include "commands/loop_commands.h"
#include "commands/pitch_time_commands.h"
#include "commands/audio_edit_commands.h"
#include "commands/processing_commands.h"

namespace zandrel {

const std::set<int>& BuiltLaterIds() {
  static const std::set<int> ids = {};
  return ids;
}

void DeclareBuiltLaterCommands(CommandRegistry& /*registry*/) {
  // Every declared command has its body now; a new placeholder goes here.
}

void DeclareCoreCommands(CommandRegistry& registry) {
  DeclareMenuBar(registry);
  DeclareDocumentCommands(registry);
  DeclareEditCommands(registry);
  DeclareAudioEditCommands(registry);
  DeclareBuiltLaterCommands(registry);
  DeclareProcessingCommands(registry);
  DeclareRateCommands(registry);
  DeclareLoopCommands(registry);
}

}  // namespace zandrel

#include "processing/processing_commands.h"

#include "commands/editor_commands.h"
#include "processing/audio_edit_commands.h"
#include "processing/loop_commands.h"
#include "processing/rate_commands.h"
#include "processing/registered_commands.h"

namespace zandrel {

ProcessingResult RunProcessingCommand(const ProcessingCommand& command, CommandContext& context) {
  const ViewSelection& selection = context.Selection();
  ProcessingContext processing;
  processing.doc = context.Document();
  processing.selection = SelectionState{selection.loopIn, selection.loopOut, selection.loopPlayback};
  processing.messages = &context.Messages();
  processing.stopPlayback = [&context] { context.StopPlayback(); };
  processing.tasks = context.Tasks();
  return RunProcessingCommand(command, processing);
}

void DeclareProcessingCommands(CommandRegistry& registry) {
  // Always enabled: without audio the command says so itself.
  for (const ProcessingCommand* c : RegisteredProcessingCommands())
    registry.Add(CommandFrom(*c, [c](CommandContext& context) { RunProcessingCommand(*c, context); }));
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

// The processing commands (processing/registered_commands.h) as editor
// commands: each declaration becomes a Command (CommandFrom) whose body runs
// the shared processing steps on the context's document and selection, with
// long work waiting in the context's task host.
#pragma once

#include "commands/commands.h"
#include "processing/processing_command.h"

namespace zandrel {

void DeclareProcessingCommands(CommandRegistry& registry);

// Runs |command| on the context's document, selection, playback, message
// host and task host.
ProcessingResult RunProcessingCommand(const ProcessingCommand& command, CommandContext& context);

// Every command that needs no dialog of its own: the command layer's menus,
// document and region edits (editor_commands.h), the clipboard and length
// edits (audio_edit_commands.h), the processing commands above, the rate
// conversions (rate_commands.h) and the loop tools (loop_commands.h).
void DeclareCoreCommands(CommandRegistry& registry);

}  // namespace zandrel

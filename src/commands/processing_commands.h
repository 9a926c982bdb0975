// The processing commands (processing/registered_commands.h) as editor
// commands: each declaration becomes a Command in the "&Audio" menu (and
// its context menus) whose body runs the shared processing steps on the
// context's document and selection, with long work waiting in the context's
// task host.
#pragma once

#include "commands/commands.h"
#include "processing/processing_command.h"

namespace zandrel {

void DeclareProcessingCommands(CommandRegistry& registry);

// Runs |command| on the context's document, selection, playback, message
// host and task host.
ProcessingResult RunProcessingCommand(const ProcessingCommand& command, CommandContext& context);

}  // namespace zandrel

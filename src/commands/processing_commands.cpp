#include "commands/processing_commands.h"

#include <map>

#include "processing/registered_commands.h"

namespace zandrel {
namespace {

// Where each command shows besides the "&Audio" menu: order there (a new
// hundred starts a group) and its context-menu places.
struct Placement {
  int order;
  std::vector<CommandPlace> contextMenus;
};

const std::map<int, Placement>& Placements() {
  static const std::map<int, Placement> placements = {
      {cmd::kFadeOut, {100, {}}},
      {cmd::kFadeIn, {101, {}}},
      {cmd::kFadeInExp, {102, {}}},
      {cmd::kFadeOutExp, {103, {{"Loop Region", 200}}}},
      {cmd::kFadeOutToReverb, {200, {}}},
      {cmd::kFadeOutToDelay, {201, {}}},
      {cmd::kSilence, {300, {}}},
      {cmd::kNormalize, {301, {{"Region Bar", 201, "Normalize"}}}},
      // 600: the loop re-synthesis tools (view/model/loop_synth_commands.cpp)
      {32909, {700, {}}},  // Adaptive Noise Gate
      {32910, {701, {}}},  // Adaptive Compressor
      {32911, {800, {}}},  // Spectral Isolation (Percussive)
      {32920, {801, {}}},  // Spectral Cleanup (Melodic)
  };
  return placements;
}

}  // namespace

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
  int next = 900;  // a command not placed above goes to the end of the menu
  for (const ProcessingCommand* c : RegisteredProcessingCommands()) {
    const auto it = Placements().find(c->id);
    Command command;
    command.id = c->id;
    command.text = std::string(c->menuText);
    command.menus = {{"&Audio", it != Placements().end() ? it->second.order : next++}};
    if (it != Placements().end()) command.contextMenus = it->second.contextMenus;
    // Always enabled: without audio the command says so itself.
    command.run = [c](CommandContext& context) { RunProcessingCommand(*c, context); };
    registry.Add(std::move(command));
  }
}

}  // namespace zandrel

#include "processing/registered_commands.h"

#include "processing/dynamics.h"
#include "processing/level_commands.h"

namespace zandrel {

const std::vector<const ProcessingCommand*>& RegisteredProcessingCommands() {
  static const std::vector<const ProcessingCommand*> all = [] {
    std::vector<const ProcessingCommand*> v;
    for (const ProcessingCommand& c : LevelCommands()) v.push_back(&c);
    for (const ProcessingCommand& c : DynamicsCommands()) v.push_back(&c);
    return v;
  }();
  return all;
}

const ProcessingCommand* FindProcessingCommand(int id) {
  for (const ProcessingCommand* c : RegisteredProcessingCommands())
    if (c->id == id) return c;
  return nullptr;
}

}  // namespace zandrel

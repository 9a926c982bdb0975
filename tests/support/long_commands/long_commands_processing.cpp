// The processing commands of the "&Audio" menu (levels, fades, dynamics,
// spectral tools): each runs over the selection or the whole file.
#include "processing/processing_commands.h"
#include "processing/registered_commands.h"
#include "support/long_commands/long_commands.h"

namespace zandrel::test {

void AddProcessingCases(std::vector<LongCommandCase>& cases) {
  for (const ProcessingCommand* command : RegisteredProcessingCommands()) {
    const int id = command->id;
    cases.push_back({.name = std::string(command->menuText),
                     .sixteenBitOnly = !command->depths.Has(SampleFormat::kS24),
                     .run = [id](LongCommandScene& scene) {
                       RunRegisteredCommand(scene, id, [](CommandRegistry& r) { DeclareCoreCommands(r); });
                     }});
  }
}

}  // namespace zandrel::test

#include "support/long_commands/long_commands.h"

namespace zandrel::test {

void AddChopAndTempoCases(std::vector<LongCommandCase>& cases) { (void)cases; }

}  // namespace zandrel::test

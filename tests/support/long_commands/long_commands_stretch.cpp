#include "support/long_commands/long_commands.h"

namespace zandrel::test {

void AddStretchCases(std::vector<LongCommandCase>& cases) { (void)cases; }

}  // namespace zandrel::test

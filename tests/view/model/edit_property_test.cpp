// Random editing sessions on small generated documents: registered commands
// with scripted dialogs, mouse drags of every kind and Undo/Redo, with the
// invariants of support/edit_steps.h checked after every step. A failure
// names its seed; ZANDREL_EDIT_SEED=<n> runs that one session alone, and
// ZANDREL_EDIT_SESSIONS=<m> runs <m> sessions (from seed <n>) for a longer search.
#include <gmock/gmock.h>

#include <cstdlib>
#include <set>

#include "support/edit_steps.h"
#include "support/temp_dir.h"

namespace zandrel::test {
namespace {

// Enough sessions for several thousand steps in a few seconds.
constexpr uint32_t kFirstSeed = 1;
constexpr uint32_t kSessions = 120;

TEST(EditPropertyTest, InvariantsHoldAfterEveryStepAndUndoingAllGivesBackTheDocument) {
  TempDir dir;
  uint32_t first = kFirstSeed;
  uint32_t count = kSessions;
  if (const char* seed = std::getenv("ZANDREL_EDIT_SEED")) {
    first = static_cast<uint32_t>(std::strtoul(seed, nullptr, 10));
    count = 1;
  }
  if (const char* sessions = std::getenv("ZANDREL_EDIT_SESSIONS")) {
    count = static_cast<uint32_t>(std::strtoul(sessions, nullptr, 10));
  }
  int failures = 0;
  for (uint32_t seed = first; seed < first + count && failures < 20; ++seed) {
    SeededChoices choices(seed);
    const std::string failure = RunEditSession(choices, dir / ("undo" + std::to_string(seed)));
    if (!failure.empty()) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << " (ZANDREL_EDIT_SEED=" << seed << "): " << failure;
    }
  }
}

// The steps draw from the registry: every command left out is one the
// registry declares, and everything else with a body takes part.
TEST(EditPropertyTest, TheStepsDrawOnEveryRegisteredCommandButTheExcludedOnes) {
  TempDir dir;
  SeededChoices choices(1);
  EditSession session(choices, dir / "undo");
  const std::set<int> drawn(session.CommandIds().begin(), session.CommandIds().end());
  EXPECT_GT(drawn.size(), 60u);
  for (const auto& [id, why] : EditSession::ExcludedCommands()) {
    EXPECT_FALSE(drawn.contains(id)) << id << " " << why;
  }
}

}  // namespace
}  // namespace zandrel::test

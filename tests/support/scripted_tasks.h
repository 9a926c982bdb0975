// Long work in command tests: a task host that does |during| once the work is
// under way (cancel it, change the document, log a line), then waits for it
// while passing its progress on, and a command context that hands it out.
// Header-only.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "commands/commands.h"
#include "commands/long_task.h"

namespace zandrel::test {

class ScriptedTasks final : public LongTaskHost {
 public:
  std::function<void(LongTask&)> during;
  int waits = 0;
  void Wait(LongTask& task, std::string_view) override {
    ++waits;
    if (during) during(task);
    while (!task.WaitFor(std::chrono::milliseconds(10))) task.PollProgress();
  }
};

class TaskContext final : public BasicCommandContext {
 public:
  using BasicCommandContext::BasicCommandContext;
  LongTaskHost* Tasks() const override { return tasks; }
  LongTaskHost* tasks = nullptr;
};

}  // namespace zandrel::test

// Stand-ins for the desktop clipboard and the parameter dialog: an
// in-memory clipboard that can be told to refuse, and a dialog host that
// records each request and answers from a script. Both install themselves
// for their lifetime.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/clipboard.h"
#include "platform/parameter_dialogs.h"

namespace zandrel::test {

class FakeClipboard final : public MemoryClipboard {
 public:
  FakeClipboard() : previous_(SetClipboardHost(this)) {}
  ~FakeClipboard() override { SetClipboardHost(previous_); }
  FakeClipboard(const FakeClipboard&) = delete;
  FakeClipboard& operator=(const FakeClipboard&) = delete;

  bool SetData(std::string_view type, std::vector<uint8_t> bytes) override {
    if (refuse) return false;
    return MemoryClipboard::SetData(type, std::move(bytes));
  }
  std::optional<std::vector<uint8_t>> GetData(std::string_view type) const override {
    if (unreadable) return std::nullopt;
    return MemoryClipboard::GetData(type);
  }

  bool refuse = false;      // SetData fails, the contents stay
  bool unreadable = false;  // the data is offered but cannot be read

 private:
  ClipboardHost* previous_;
};

class ScriptedParameterDialogs final : public ParameterDialogHost {
 public:
  ScriptedParameterDialogs() : previous_(SetParameterDialogHost(this)) {}
  ~ScriptedParameterDialogs() override { SetParameterDialogHost(previous_); }
  ScriptedParameterDialogs(const ScriptedParameterDialogs&) = delete;
  ScriptedParameterDialogs& operator=(const ScriptedParameterDialogs&) = delete;

  // The next dialog is answered with |values| (nullopt: cancelled).
  ScriptedParameterDialogs& Answer(std::optional<ParameterValues> values) {
    answers_.push_back(std::move(values));
    return *this;
  }
  std::optional<ParameterValues> Ask(const ParameterDialogRequest& request) override {
    requests.push_back(request);
    if (during) during(request);
    if (answers_.empty()) {
      ADD_FAILURE() << "Unscripted parameter dialog";
      return std::nullopt;
    }
    auto answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }

  std::vector<ParameterDialogRequest> requests;
  // Runs while a dialog is "open", before it is answered (a test previews here).
  std::function<void(const ParameterDialogRequest&)> during;

 private:
  std::deque<std::optional<ParameterValues>> answers_;
  ParameterDialogHost* previous_;
};

}  // namespace zandrel::test

// A message host for tests: records every box and answers questions from a
// script. A question nobody scripted fails the test (and is answered No), so
// a new, unexpected prompt never passes unnoticed.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_host.h"

namespace zandrel::test {

struct ShownMessage {
  std::string text;
  MessageIcon icon;
  MessageButtons buttons;
  std::optional<MessageAnswer> defaultAnswer = {};  // when the caller chose one
};

class ScriptedMessageHost final : public MessageHost {
 public:
  ScriptedMessageHost() : scope_(this) {}

  // Queues the answer to the next question (a box with more than an OK button).
  ScriptedMessageHost& Answer(MessageAnswer answer) {
    answers_.push_back(answer);
    return *this;
  }

  MessageAnswer Show(std::string_view text, MessageIcon icon, MessageButtons buttons) override;
  MessageAnswer ShowWithDefault(std::string_view text, MessageIcon icon, MessageButtons buttons,
                                MessageAnswer defaultAnswer) override;

  const std::vector<ShownMessage>& Shown() const { return shown_; }
  std::vector<std::string> Texts() const;
  size_t PendingAnswers() const { return answers_.size(); }

 private:
  ScopedMessageHost scope_;
  std::deque<MessageAnswer> answers_;
  std::vector<ShownMessage> shown_;
};

}  // namespace zandrel::test

#include "support/test_host.h"

#include <gtest/gtest.h>

namespace zandrel::test {

MessageAnswer ScriptedMessageHost::Show(std::string_view text, MessageIcon icon, MessageButtons buttons) {
  shown_.push_back({std::string(text), icon, buttons});
  if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  if (answers_.empty()) {
    ADD_FAILURE() << "Unscripted question: " << text;
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
  }
  const MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

MessageAnswer ScriptedMessageHost::ShowWithDefault(std::string_view text, MessageIcon icon, MessageButtons buttons,
                                                   MessageAnswer defaultAnswer) {
  const MessageAnswer answer = Show(text, icon, buttons);
  shown_.back().defaultAnswer = defaultAnswer;
  return answer;
}

std::vector<std::string> ScriptedMessageHost::Texts() const {
  std::vector<std::string> texts;
  for (const ShownMessage& m : shown_) texts.push_back(m.text);
  return texts;
}

}  // namespace zandrel::test

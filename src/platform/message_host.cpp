#include "platform/message_host.h"

#include <cstdio>

namespace zandrel {
namespace {

class StderrMessageHost final : public MessageHost {
 public:
  MessageAnswer Show(std::string_view text, MessageIcon, MessageButtons buttons) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    switch (buttons) {
      case MessageButtons::Ok: return MessageAnswer::Ok;
      case MessageButtons::OkCancel: return MessageAnswer::Cancel;
      case MessageButtons::YesNo: return MessageAnswer::No;
      case MessageButtons::YesNoCancel: return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
  }
};

StderrMessageHost g_fallback;
MessageHost* g_messageHost = nullptr;

}  // namespace

MessageHost& CurrentMessageHost() { return g_messageHost ? *g_messageHost : g_fallback; }

MessageHost* SetMessageHost(MessageHost* host) {
  MessageHost* previous = g_messageHost;
  g_messageHost = host;
  return previous;
}

void ShowMessage(std::string_view text, MessageIcon icon) {
  CurrentMessageHost().Show(text, icon, MessageButtons::Ok);
}

bool AskYesNo(std::string_view text, MessageIcon icon) {
  return CurrentMessageHost().Show(text, icon, MessageButtons::YesNo) == MessageAnswer::Yes;
}

bool AskYesNo(std::string_view text, MessageIcon icon, MessageAnswer defaultAnswer) {
  return CurrentMessageHost().ShowWithDefault(text, icon, MessageButtons::YesNo, defaultAnswer) == MessageAnswer::Yes;
}

}  // namespace zandrel

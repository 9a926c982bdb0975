// Message boxes and Yes/No questions asked from core code.
//
// Core operations sometimes stop to tell the user something ("This is not a
// valid RIFF file.") or to ask before a lossy step. They do it through the
// process's current MessageHost: the app installs one that shows a modal Qt
// box; tests install a scripted fake that records each box and answers from a
// queue. With no host installed, messages go to standard error and every
// question is answered with its safe choice (No / Cancel), so unattended code
// never destroys data on its own.
//
// The current host is used from the user-interface thread only.
#pragma once

#include <string>
#include <string_view>

namespace zandrel {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

class MessageHost {
 public:
  virtual ~MessageHost() = default;
  virtual MessageAnswer Show(std::string_view text, MessageIcon icon, MessageButtons buttons) = 0;
  // The same with |defaultAnswer|'s button as the one Enter presses (hosts
  // without such a button answer as Show does).
  virtual MessageAnswer ShowWithDefault(std::string_view text, MessageIcon icon, MessageButtons buttons,
                                        MessageAnswer defaultAnswer) {
    (void)defaultAnswer;
    return Show(text, icon, buttons);
  }
};

// The host boxes currently go to. Never null.
MessageHost& CurrentMessageHost();
// Installs |host| (not owned); nullptr restores the standard-error fallback.
// Returns the previously installed host (nullptr for the fallback).
MessageHost* SetMessageHost(MessageHost* host);

// Installs a host for the lifetime of the scope.
class ScopedMessageHost {
 public:
  explicit ScopedMessageHost(MessageHost* host) : previous_(SetMessageHost(host)) {}
  ~ScopedMessageHost() { SetMessageHost(previous_); }
  ScopedMessageHost(const ScopedMessageHost&) = delete;
  ScopedMessageHost& operator=(const ScopedMessageHost&) = delete;

 private:
  MessageHost* previous_;
};

// Shows an informational box with an OK button.
void ShowMessage(std::string_view text, MessageIcon icon = MessageIcon::None);
// Asks a Yes/No question; true when the answer is Yes.
bool AskYesNo(std::string_view text, MessageIcon icon = MessageIcon::Question);
// The same with |defaultAnswer| (Yes or No) as the default button.
bool AskYesNo(std::string_view text, MessageIcon icon, MessageAnswer defaultAnswer);

}  // namespace zandrel

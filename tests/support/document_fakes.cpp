#include "support/document_fakes.h"

#include <gtest/gtest.h>

namespace zandrel::test {

std::vector<RecordingObserver::Event> RecordingObserver::Significant() const {
  std::vector<Event> out;
  for (Event e : events)
    if (e != kState) out.push_back(e);
  return out;
}

ScriptedFileDialogs::ScriptedFileDialogs() : previous_(SetFileDialogHost(this)) {}
ScriptedFileDialogs::~ScriptedFileDialogs() { SetFileDialogHost(previous_); }

std::optional<std::filesystem::path> ScriptedFileDialogs::Next() {
  if (answers_.empty()) {
    ADD_FAILURE() << "Unscripted file dialog";
    return std::nullopt;
  }
  auto answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

std::optional<std::filesystem::path> ScriptedFileDialogs::AskSaveFile(const SaveFileRequest& request) {
  saveRequests.push_back(request);
  return Next();
}

std::optional<std::filesystem::path> ScriptedFileDialogs::AskOpenFile(const OpenFileRequest& request) {
  openRequests.push_back(request);
  return Next();
}
std::optional<std::filesystem::path> ScriptedFileDialogs::AskFolder(const std::filesystem::path&) { return Next(); }

}  // namespace zandrel::test

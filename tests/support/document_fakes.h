// Stand-ins for what surrounds the document in the app: a main frame with a
// log, an observer that records notifications, and a file chooser that
// answers from a script.
#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <vector>

#include "document/quorvel_doc.h"
#include "platform/file_dialogs.h"
#include "platform/log_sink.h"

namespace zandrel::test {

class FakeFrame final : public DocumentFrame {
 public:
  LogSink& Log() override { return log; }
  int MaxDeviceRegions() const override { return maxRegions; }
  const std::vector<std::string>& Lines() const { return log.Lines(); }

  MemoryLog log;
  int maxRegions = 8;
};

// Records "stop" for OnAudioAboutToChange, the change kinds and selection
// changes in order.
class RecordingObserver final : public DocumentObserver {
 public:
  enum Event { kStop, kReplaced, kAudio, kInstrument, kState, kSelection };
  void OnAudioAboutToChange() override { events.push_back(kStop); }
  void OnDocumentChanged(DocumentChange change) override {
    events.push_back(static_cast<Event>(static_cast<int>(change) + 1));
  }
  void OnSelectionChanged() override { events.push_back(kSelection); }
  // The events without kState (the modified flag and title), which many
  // operations emit as a side note.
  std::vector<Event> Significant() const;

  std::vector<Event> events;
};

class ScriptedFileDialogs final : public FileDialogHost {
 public:
  ScriptedFileDialogs();
  ~ScriptedFileDialogs() override;

  // The next request is answered with |path| (nullopt: cancelled).
  ScriptedFileDialogs& Answer(std::optional<std::filesystem::path> path) {
    answers_.push_back(std::move(path));
    return *this;
  }
  std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request) override;
  std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request) override;
  std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start) override;

  std::vector<SaveFileRequest> saveRequests;
  std::vector<OpenFileRequest> openRequests;

 private:
  std::optional<std::filesystem::path> Next();
  std::deque<std::optional<std::filesystem::path>> answers_;
  FileDialogHost* previous_;
};

}  // namespace zandrel::test

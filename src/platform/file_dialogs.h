// File choosers asked for from core code.
//
// Document commands such as "Export Overview..." ask the user for a file
// name. They go through the process's current FileDialogHost: the app shows a
// Qt file dialog, tests install a fake that answers from a script. Without a
// host every request is cancelled.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zandrel {

struct SaveFileRequest {
  std::filesystem::path defaultPath;  // suggested folder and name
  std::string defaultExtension;       // "wav": added when the user types none
  std::string filter;                 // "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||"
  bool promptOverwrite = true;
  std::string title;                  // the platform's own title when empty
};

struct OpenFileRequest {
  std::filesystem::path defaultPath;
  std::string filter;
  std::string title;  // the platform's own title when empty
};

class FileDialogHost {
 public:
  virtual ~FileDialogHost() = default;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request) = 0;
  virtual std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request) = 0;
  virtual std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start) = 0;
};

FileDialogHost* CurrentFileDialogHost();  // nullptr: every request is cancelled
FileDialogHost* SetFileDialogHost(FileDialogHost* host);

std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request);
std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request);
std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start);

}  // namespace zandrel

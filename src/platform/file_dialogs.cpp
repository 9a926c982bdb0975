#include "platform/file_dialogs.h"

namespace zandrel {
namespace {
FileDialogHost* g_fileDialogHost = nullptr;
}

FileDialogHost* CurrentFileDialogHost() { return g_fileDialogHost; }

FileDialogHost* SetFileDialogHost(FileDialogHost* host) {
  FileDialogHost* previous = g_fileDialogHost;
  g_fileDialogHost = host;
  return previous;
}

std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request) {
  return g_fileDialogHost ? g_fileDialogHost->AskSaveFile(request) : std::nullopt;
}

std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request) {
  return g_fileDialogHost ? g_fileDialogHost->AskOpenFile(request) : std::nullopt;
}

std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start) {
  return g_fileDialogHost ? g_fileDialogHost->AskFolder(start) : std::nullopt;
}

}  // namespace zandrel

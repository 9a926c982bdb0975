#include "platform/file_dialogs.h"

namespace zandrel {
namespace {
FileDialogHost* g_host = nullptr;
}

FileDialogHost* CurrentFileDialogHost() { return g_host; }

FileDialogHost* SetFileDialogHost(FileDialogHost* host) {
  FileDialogHost* previous = g_host;
  g_host = host;
  return previous;
}

std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request) {
  return g_host ? g_host->AskSaveFile(request) : std::nullopt;
}

std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request) {
  return g_host ? g_host->AskOpenFile(request) : std::nullopt;
}

std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start) {
  return g_host ? g_host->AskFolder(start) : std::nullopt;
}

}  // namespace zandrel

// Temporary files of this process.
//
// The system's temporary folder is shared by every user and every running
// editor, so nothing is written into it under a fixed name. Each process makes
// one private folder inside it on first use (mode 0700, a unique name) and
// removes it at exit when it is empty; undo snapshots, upload copies and
// extracted kits live inside it.
#pragma once

#include <filesystem>

namespace zandrel {

// The process's private temporary folder; an empty path when it cannot be
// created.
const std::filesystem::path& ProcessTempFolder();

// Makes a new uniquely named folder (mode 0700) inside |parent|; an empty
// path on failure.
std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent, const char* prefix);

}  // namespace zandrel

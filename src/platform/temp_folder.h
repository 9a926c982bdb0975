// Temporary files of this process.
//
// The system's temporary folder is shared by every user and every running
// editor, so nothing is written into it under a fixed name. Each process makes
// one private folder inside it on first use (mode 0700, a unique name) and
// removes it at exit when nothing but its lock file is left; undo snapshots,
// upload copies and extracted kits live inside it, and files created there are
// private to the user (0600).
//
// Ownership: the folder holds a lock file, "owner.lock", on which its process
// holds an flock() lock for as long as it runs. The lock vanishes with the
// process however it ends (crash, SIGKILL), so a folder whose lock can be
// taken belongs to a process that no longer runs. On first use, before making
// its own, a process removes such folders of its own user; a folder of
// another user, one without a lock file, or one whose owner still runs is
// never touched.
#pragma once

#include <filesystem>

namespace zandrel {

// The process's private temporary folder; an empty path when it cannot be
// created.
const std::filesystem::path& ProcessTempFolder();

// Makes a new uniquely named folder (mode 0700) inside |parent|; an empty
// path on failure.
std::filesystem::path MakeUniqueFolder(const std::filesystem::path& parent, const char* prefix);

// Makes a "zandrel-" folder inside |parent| as ProcessTempFolder() does, with
// its lock file held by this process until it ends. Empty path on failure.
std::filesystem::path MakeOwnedTempFolder(const std::filesystem::path& parent);

// Removes the "zandrel-" folders inside |parent| that processes of this user
// left behind when they ended (see above). Returns how many were removed.
int RemoveStaleTempFolders(const std::filesystem::path& parent);

// True when |path| lies inside this process's private temporary folder (an
// existing one: this never creates it).
bool IsInProcessTempFolder(const std::filesystem::path& path);

// Creates |folder| (and missing parents) with the leaf private to the user
// (0700). True when it exists afterwards.
bool CreatePrivateFolder(const std::filesystem::path& folder);

}  // namespace zandrel

#include "platform/temp_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace zandrel {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderPrefix = "zandrel-";
constexpr const char* kLockName = "owner.lock";

// Set once the process's folder exists; read by IsInProcessTempFolder without
// creating it.
std::atomic<const fs::path*> g_madeFolder{nullptr};

bool HasPrefix(const std::string& name, const char* prefix) { return name.rfind(prefix, 0) == 0; }

// Removes the folder at exit when only its lock file is left. Anything else
// in it stays, still marked as this (then ended) process's, so the next start
// clears it away.
void RemoveFolderIfOnlyTheLockIsLeft(const fs::path& folder) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().filename() != kLockName) return;
  }
  ::unlink((folder / kLockName).c_str());
  ::rmdir(folder.c_str());
}

}  // namespace

fs::path MakeUniqueFolder(const fs::path& parent, const char* prefix) {
  std::string pattern = (parent / (std::string(prefix) + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return {};
  return fs::path(pattern);
}

fs::path MakeOwnedTempFolder(const fs::path& parent) {
  const fs::path folder = MakeUniqueFolder(parent, kFolderPrefix);
  if (folder.empty()) return {};
  // The lock is taken under a name the sweep ignores and only then given its
  // real name: a sweeping process never sees an unlocked "owner.lock" of a
  // live folder.
  const fs::path pending = folder / (std::string(kLockName) + ".new");
  const int fd = ::open(pending.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(pending.c_str(), (folder / kLockName).c_str()) != 0) {
    if (fd >= 0) ::close(fd);
    ::unlink(pending.c_str());
    ::rmdir(folder.c_str());
    return {};
  }
  // |fd| stays open, and the lock held, until the process ends.
  return folder;
}

int RemoveStaleTempFolders(const fs::path& parent) {
  int removed = 0;
  const uid_t me = ::geteuid();
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(parent, ec)) {
    const std::string name = entry.path().filename().string();
    if (!HasPrefix(name, kFolderPrefix)) continue;
    struct stat st {};
    // lstat: a link named like our folders is not our folder.
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != me) continue;
    const fs::path lock = entry.path() / kLockName;
    const int fd = ::open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;  // not marked: not ours to judge
    struct stat lockStat {};
    const bool ours = ::fstat(fd, &lockStat) == 0 && S_ISREG(lockStat.st_mode) && lockStat.st_uid == me;
    // The lock can be taken only when no running process holds it.
    if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::error_code removeError;
      fs::remove_all(entry.path(), removeError);
      if (!removeError) ++removed;
    }
    ::close(fd);
  }
  return removed;
}

const fs::path& ProcessTempFolder() {
  // Never destroyed: the exit handler below still needs it after static
  // objects are gone.
  static const fs::path* const folder = [] {
    std::error_code ec;
    const fs::path system = fs::temp_directory_path(ec);
    fs::path made;
    if (!ec) {
      // Snapshots of crashed or killed editors would otherwise fill the
      // disk, one copy of the audio per undo step.
      RemoveStaleTempFolders(system);
      made = MakeOwnedTempFolder(system);
    }
    const fs::path* result = new fs::path(std::move(made));
    if (!result->empty()) {
      g_madeFolder.store(result);
      std::atexit([] { RemoveFolderIfOnlyTheLockIsLeft(ProcessTempFolder()); });
    }
    return result;
  }();
  return *folder;
}

bool IsInProcessTempFolder(const fs::path& path) {
  const fs::path* folder = g_madeFolder.load();
  if (!folder) return false;
  const fs::path normal = path.lexically_normal();
  auto p = normal.begin();
  for (auto f = folder->begin(); f != folder->end(); ++f, ++p) {
    if (p == normal.end() || *p != *f) return false;
  }
  return p != normal.end();
}

bool CreatePrivateFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace zandrel

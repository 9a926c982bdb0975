#include "platform/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "platform/temp_folder.h"

namespace zandrel {
namespace fs = std::filesystem;

AtomicFileWriter::~AtomicFileWriter() { Abort(); }

bool AtomicFileWriter::Fail(const char* what) {
  if (!failed_) {
    const int err = errno;
    error_ = std::string(what) + ": " + std::strerror(err ? err : EIO);
  }
  failed_ = true;
  return false;
}

void AtomicFileWriter::Abort() {
  if (file_) {
    std::fclose(file_);  // an unnamed file vanishes with its last descriptor
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  unnamed_ = false;
}

namespace {

// The mode the written file gets: the mode the target had, or the mode a
// newly created file would get (private inside the private temporary folder).
mode_t TargetMode(const fs::path& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  // Undo snapshots hold the user's audio: private, whatever the umask.
  if (IsInProcessTempFolder(target)) return 0600;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A name beside the target that no other file has yet, for the moment
// between giving the unnamed file a name and renaming it over the target.
std::string SiblingName(const fs::path& target, unsigned attempt) {
  static unsigned counter = 0;
  return "." + target.filename().string() + "." + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
         "-" + std::to_string(attempt);
}

}  // namespace

bool AtomicFileWriter::Open(const fs::path& target) {
  Abort();
  failed_ = false;
  error_.clear();
  target_ = target;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target_ = resolved;
  }
  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  const mode_t mode = TargetMode(target_);

  // An unnamed file first: a process killed while it writes leaves nothing
  // behind, where a named temporary would stay beside the target for good.
  // Naming it later goes through /proc; without /proc the named file it is.
  errno = 0;
  int fd = ::access("/proc/self/fd", X_OK) == 0 ? ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
  if (fd >= 0) {
    unnamed_ = true;
  } else {
    // File systems without unnamed files: a named one, removed on failure.
    std::string pattern = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
    errno = 0;
    fd = ::mkstemp(pattern.data());
    if (fd < 0) return Fail("cannot create a file in the target folder");
    temp_ = pattern;
  }
  ::fchmod(fd, mode);

  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    Abort();
    return Fail("cannot open the temporary file");
  }
  return true;
}

bool AtomicFileWriter::LinkUnnamedFile() {
  // linkat() through /proc needs no privilege (AT_EMPTY_PATH would).
  const std::string self = "/proc/self/fd/" + std::to_string(::fileno(file_));
  fs::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const fs::path name = folder / SiblingName(target_, attempt);
    errno = 0;
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp_ = name;
      return true;
    }
    if (errno != EEXIST) break;
  }
  return Fail("cannot give the written file its name");
}

bool AtomicFileWriter::Write(const void* bytes, size_t count) {
  if (failed_ || !file_) return false;
  if (count == 0) return true;
  errno = 0;
  if (std::fwrite(bytes, 1, count, file_) != count) return Fail("write failed");
  return true;
}

bool AtomicFileWriter::Commit() {
  if (failed_ || !file_) {
    Abort();
    return false;
  }
  errno = 0;
  if (std::fflush(file_) != 0) {
    Fail("write failed");
    Abort();
    return false;
  }
  if (::fsync(::fileno(file_)) != 0 && errno != EINVAL && errno != EROFS) {
    Fail("cannot flush the file to disk");
    Abort();
    return false;
  }
  if (unnamed_ && !LinkUnnamedFile()) {
    Abort();
    return false;
  }
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) {
    Fail("write failed");
    Abort();
    return false;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    Fail("cannot replace the target file");
    Abort();
    return false;
  }
  temp_.clear();
  return true;
}

bool WriteFileAtomically(const fs::path& target, std::string_view bytes, std::string* error) {
  AtomicFileWriter writer;
  const bool ok = writer.Open(target) && writer.Write(bytes) && writer.Commit();
  if (!ok && error) *error = writer.Error();
  return ok;
}

}  // namespace zandrel

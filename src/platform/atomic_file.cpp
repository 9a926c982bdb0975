#include "platform/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

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
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

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
  std::string pattern = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
  errno = 0;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return Fail("cannot create a file in the target folder");

  // mkstemp creates 0600; give the file the mode the target had, or the mode
  // a newly created file would get.
  struct stat st {};
  mode_t mode;
  if (::stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);

  temp_ = pattern;
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    return Fail("cannot open the temporary file");
  }
  return true;
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

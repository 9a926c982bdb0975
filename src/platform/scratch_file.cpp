#include "platform/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zandrel {
namespace {

// Small writes (chunk headers) gather here; large ones go straight out.
constexpr size_t kBufferBytes = size_t{64} << 10;

bool WriteAll(int fd, const uint8_t* p, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ScratchFileWriter::~ScratchFileWriter() { Abort(); }

bool ScratchFileWriter::Fail(const char* what) {
  if (!failed_) {
    const int err = errno;
    error_ = std::string(what) + ": " + std::strerror(err ? err : EIO);
  }
  failed_ = true;
  return false;
}

void ScratchFileWriter::Abort() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
}

bool ScratchFileWriter::Open(const std::filesystem::path& path) {
  Abort();
  failed_ = false;
  error_.clear();
  buffer_.clear();
  path_ = path;
  errno = 0;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return Fail("cannot create a file in the target folder");
  return true;
}

bool ScratchFileWriter::Flush() {
  errno = 0;
  if (!buffer_.empty() && !WriteAll(fd_, buffer_.data(), buffer_.size())) return Fail("write failed");
  buffer_.clear();
  return true;
}

bool ScratchFileWriter::Write(const void* bytes, size_t count) {
  if (failed_ || fd_ < 0) return false;
  const auto* p = static_cast<const uint8_t*>(bytes);
  if (buffer_.size() + count <= kBufferBytes) {
    buffer_.insert(buffer_.end(), p, p + count);
    return true;
  }
  if (!Flush()) return false;
  errno = 0;
  if (!WriteAll(fd_, p, count)) return Fail("write failed");
  return true;
}

bool ScratchFileWriter::Commit() {
  if (failed_ || fd_ < 0 || !Flush()) {
    Abort();
    return false;
  }
  errno = 0;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) {
    Fail("write failed");
    ::unlink(path_.c_str());
    return false;
  }
  return true;
}

}  // namespace zandrel

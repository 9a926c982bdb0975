// Makes writes past |bytes| fail in this process (EFBIG instead of SIGXFSZ):
// a full disk, for tests that run it in a child process.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstddef>

namespace zandrel::test {

inline void LimitFileSize(size_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = bytes;
  limit.rlim_max = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace zandrel::test

// A named pipe (FIFO) for tests of readers that must never block on one.
// Should the code under test open it for reading anyway and wait for a
// writer, a watchdog opens and closes the writing end after |limitMs|: the
// reader sees an empty file and the test fails instead of hanging.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace zandrel::test {

class NamedPipe {
 public:
  explicit NamedPipe(std::filesystem::path path, int limitMs = 10000)
      : path_(std::move(path)), created_(::mkfifo(path_.c_str(), 0600) == 0) {
    if (!created_) return;
    watchdog_ = std::thread([this, limitMs] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (wake_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return stop_; })) return;
      // Past the limit: free whoever waits on the reading end.
      while (!stop_) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          ::close(fd);
          rescued_ = true;
        }
        wake_.wait_for(lock, std::chrono::milliseconds(20), [this] { return stop_; });
      }
    });
  }
  ~NamedPipe() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
  }
  NamedPipe(const NamedPipe&) = delete;
  NamedPipe& operator=(const NamedPipe&) = delete;

  bool Created() const { return created_; }
  // True when a reader blocked on the pipe and the watchdog had to free it.
  bool Rescued() const { return rescued_; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool created_;
  std::atomic<bool> rescued_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread watchdog_;
};

}  // namespace zandrel::test

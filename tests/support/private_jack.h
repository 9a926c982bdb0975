// A JACK server of the test's own, which the test can stop while streams run
// on it: the dummy back end without realtime scheduling, under a name of its
// own, made the process's default server (JACK_DEFAULT_SERVER) while it
// lives. Header-only, like jack_probe.h: the programs that use it link
// libjack themselves.
//
// Start() fails (false) when jackd is missing or does not answer within
// 20 s; Stop()
// ends the server as an unplugged interface or a stopped server would, with
// SIGTERM (SIGKILL if it lingers), and is safe to call twice.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/jack_probe.h"

extern char** environ;

namespace zandrel::test {

class PrivateJackServer {
 public:
  PrivateJackServer() {
    static int count = 0;
    name_ = "zandrel-own-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER")) previous_ = previous;
  }
  ~PrivateJackServer() {
    Stop();
    if (previous_)
      setenv("JACK_DEFAULT_SERVER", previous_->c_str(), 1);
    else
      unsetenv("JACK_DEFAULT_SERVER");
  }
  PrivateJackServer(const PrivateJackServer&) = delete;
  PrivateJackServer& operator=(const PrivateJackServer&) = delete;

  const std::string& Name() const { return name_; }
  // After a failed Start: jackd refused because the machine already runs
  // as many JACK servers as it allows (other test runs sharing it).
  bool MachineFull() const { return full_; }

  // Starts the server and makes it the default one; true once a client can
  // connect to it.
  bool Start(int rate = 48000, int period = 256) {
    Stop();
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    // jackd refuses to start while the machine has its most servers running
    // ("Too many servers already active"), as happens while other test runs
    // share the machine: such a refusal is tried again until the deadline.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    full_ = false;
    while (std::chrono::steady_clock::now() < until) {
      if (!Spawn(rate, period)) return false;
      while (std::chrono::steady_clock::now() < until) {
        jack_status_t status;
        if (jack_client_t* c = jack_client_open("zandrel-own-probe", JackNoStartServer, &status)) {
          jack_client_close(c);
          return true;
        }
        int wstatus = 0;
        if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
          pid_ = 0;
          full_ = LogSays("Too many servers");
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    Stop();
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int wstatus = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &wstatus, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() >= until) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &wstatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = 0;
    std::remove(LogPath().c_str());
    // Semaphores and sockets the server and its clients leave in /dev/shm.
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/dev/shm", ec)) {
      const std::string f = e.path().filename().string();
      if (f.find("_" + name_ + "_") != std::string::npos || f.rfind("jack_" + name_ + "_", 0) == 0)
        std::filesystem::remove(e.path(), ec);
    }
  }

 private:
  std::string LogPath() const { return "/tmp/" + name_ + ".log"; }
  bool LogSays(const std::string& text) const {
    FILE* f = std::fopen(LogPath().c_str(), "r");
    if (!f) return false;
    std::string all;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) all.append(buffer, n);
    std::fclose(f);
    return all.find(text) != std::string::npos;
  }

  bool Spawn(int rate, int period) {
    const std::string r = std::to_string(rate), p = std::to_string(period);
    // Synchronous, with a long client timeout: on a busy machine the server
    // waits for a late client instead of running the cycle without it, which
    // would drop that cycle's MIDI events (see scripts/jack.sh).
    const char* argv[] = {"jackd", "--no-realtime", "--sync", "--timeout", "10000", "--name", name_.c_str(),
                          "-d",    "dummy",         "-r",     r.c_str(),   "-p",    p.c_str(),     nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // The server's errors, to tell a machine that has its most servers
    // running from a server that is broken.
    posix_spawn_file_actions_addopen(&actions, 2, LogPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "jackd", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return false;
    pid_ = pid;
    return true;
  }

  std::string name_;
  std::optional<std::string> previous_;
  pid_t pid_ = 0;
  bool full_ = false;
};

// Whether jackd can be started at all.
inline bool JackdInstalled() { return std::system("command -v jackd >/dev/null 2>&1") == 0; }

// Starts |server| (a PrivateJackServer) in a test body or SetUp, or ends the
// test: a skip when jackd is missing or the
// machine runs as many JACK servers as it allows, and with CI=true a failure.
#define ZANDREL_START_PRIVATE_JACK(server)                                                          \
  do {                                                                                              \
    const bool required = ::zandrel::test::JackRequired();                                          \
    if (!::zandrel::test::JackdInstalled()) {                                                        \
      if (required) GTEST_FAIL() << "jackd is not installed, and with CI=true the JACK tests must run"; \
      GTEST_SKIP() << "jackd is not installed";                                                     \
    }                                                                                               \
    if (!(server).Start()) {                                                                        \
      if ((server).MachineFull() && !required)                                                      \
        GTEST_SKIP() << "the machine runs as many JACK servers as jackd allows";                    \
      GTEST_FAIL() << "the test's JACK server did not start";                                       \
    }                                                                                               \
  } while (0)

}  // namespace zandrel::test

// The fuzz targets' scratch folder: made where the harness says and gone when
// the process ends.
#include "fuzz_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace zandrel::test {
namespace {

// Runs ScratchDir() in a child process that then exits normally; returns the
// folder the child used, as it told through a pipe.
std::filesystem::path ScratchOfAChild() {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    const std::filesystem::path& dir = fuzz::ScratchDir();
    fuzz::WriteInput(reinterpret_cast<const uint8_t*>("abc"), 3, "input.wav");
    const std::string text = dir.string();
    if (::write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::_Exit(2);
    ::close(fds[1]);
    std::exit(0);  // runs the exit handlers, as libFuzzer does at the end of a run
  }
  ::close(fds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return text;
}

TEST(FuzzScratch, IsRemovedWhenTheProcessExits) {
  const std::filesystem::path dir = ScratchOfAChild();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.filename().string().rfind("zandrel-fuzz-", 0), 0u) << dir;
  EXPECT_FALSE(std::filesystem::exists(dir)) << dir;
}

TEST(FuzzScratch, LivesWhereTheHarnessSays) {
  TempDir base;
  ::setenv("ZANDREL_FUZZ_SCRATCH", base.path().c_str(), 1);
  const std::filesystem::path dir = ScratchOfAChild();
  ::unsetenv("ZANDREL_FUZZ_SCRATCH");
  EXPECT_EQ(dir.parent_path(), base.path());
  EXPECT_TRUE(std::filesystem::is_empty(base.path()));
}

}  // namespace
}  // namespace zandrel::test

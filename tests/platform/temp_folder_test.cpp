#include "platform/temp_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace zandrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A child process that makes its private folder in |parent|, puts a snapshot
// in it and then either ends or keeps running. Returns the folder.
struct Owner {
  pid_t pid = -1;
  fs::path folder;
};

Owner StartOwner(const fs::path& parent, bool keepRunning) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    const fs::path folder = MakeOwnedTempFolder(parent);
    std::ofstream(folder / "Quorvel_20260101_000000_0000.wav") << "audio";
    const std::string text = folder.string();
    (void)!::write(pipeFds[1], text.data(), text.size());
    ::close(pipeFds[1]);
    if (keepRunning) {
      for (;;) ::pause();
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  if (!keepRunning) ::waitpid(pid, nullptr, 0);
  return {pid, fs::path(text)};
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(TempFolderTest, FoldersOfEndedProcessesAreRemovedAndLiveOrForeignOnesKept) {
  TempDir dir;
  const Owner dead = StartOwner(dir.path(), false);
  const Owner live = StartOwner(dir.path(), true);
  ASSERT_FALSE(dead.folder.empty());
  ASSERT_FALSE(live.folder.empty());
  const fs::path mine = MakeOwnedTempFolder(dir.path());  // this process: alive
  ASSERT_FALSE(mine.empty());
  // Not marked as owned: nobody can tell whether its process runs.
  const fs::path unmarked = dir / "zandrel-unmark";
  fs::create_directory(unmarked);
  // A link that looks like a folder of ours.
  const fs::path link = dir / "zandrel-alink1";
  fs::create_directory_symlink(dead.folder, link);
  // Another user's, with a lock nobody holds.
  const fs::path foreign = dir / "zandrel-other1";
  const bool canChown = ::geteuid() == 0;
  if (canChown) {
    fs::create_directory(foreign);
    std::ofstream(foreign / "owner.lock");
    ASSERT_EQ(::chown((foreign / "owner.lock").c_str(), 4242, 4242), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 4242, 4242), 0);
  }

  EXPECT_EQ(RemoveStaleTempFolders(dir.path()), 1);
  EXPECT_FALSE(fs::exists(dead.folder));
  EXPECT_TRUE(fs::exists(live.folder / "Quorvel_20260101_000000_0000.wav"));
  EXPECT_TRUE(fs::exists(mine / "owner.lock"));
  EXPECT_TRUE(fs::exists(unmarked));
  EXPECT_TRUE(fs::is_symlink(link));
  if (canChown) {
    EXPECT_TRUE(fs::exists(foreign / "owner.lock"));
  }

  // Once the live one ends, its folder goes too.
  ::kill(live.pid, SIGKILL);
  ::waitpid(live.pid, nullptr, 0);
  EXPECT_EQ(RemoveStaleTempFolders(dir.path()), 1);
  EXPECT_FALSE(fs::exists(live.folder));
  EXPECT_TRUE(fs::exists(mine));
}

TEST(TempFolderTest, FoldersAndFilesArePrivateToTheUser) {
  TempDir dir;
  const fs::path folder = MakeOwnedTempFolder(dir.path());
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(ModeOf(folder / "owner.lock"), 0600u);
  ASSERT_TRUE(CreatePrivateFolder(folder / "a" / "b"));
  EXPECT_EQ(ModeOf(folder / "a" / "b"), 0700u);

  const fs::path& process = ProcessTempFolder();
  ASSERT_FALSE(process.empty());
  EXPECT_EQ(ModeOf(process), 0700u);
  EXPECT_TRUE(IsInProcessTempFolder(process / "quorvel" / "x.wav"));
  EXPECT_FALSE(IsInProcessTempFolder(process));
  EXPECT_FALSE(IsInProcessTempFolder(dir / "x.wav"));
}

}  // namespace
}  // namespace zandrel

#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/file_limits.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFileWriterTest, ReplacesTheTargetOnlyOnCommit) {
  TempDir dir;
  const fs::path target = dir / "a.txt";
  ASSERT_TRUE(WriteFileAtomically(target, "old", nullptr));
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(target));
    ASSERT_TRUE(writer.Write("new content"));
    // Dropped without Commit: the old file stays and no temporary is left.
  }
  EXPECT_EQ(test::Text("old"), ReadFileBytes(target));
  EXPECT_EQ(EntriesIn(dir.path()), 1u);

  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open(target));
  ASSERT_TRUE(writer.Write("new"));
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(test::Text("new"), ReadFileBytes(target));
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicFileWriterTest, KeepsTheModeOfAReplacedFile) {
  TempDir dir;
  const fs::path target = dir / "mode.txt";
  ASSERT_TRUE(WriteFileAtomically(target, "x", nullptr));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(target, "y", nullptr));
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(AtomicFileWriterTest, WritesThroughASymbolicLink) {
  TempDir dir;
  const fs::path real = dir / "real.txt";
  const fs::path link = dir / "link.txt";
  ASSERT_TRUE(WriteFileAtomically(real, "one", nullptr));
  fs::create_symlink(real, link);
  ASSERT_TRUE(WriteFileAtomically(link, "two", nullptr));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::Text("two"), ReadFileBytes(real));
}

TEST(AtomicFileWriterTest, ReportsAFolderThatCannotBeWritten) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir / "missing" / "a.txt", "x", &error));
  EXPECT_FALSE(error.empty());
}

// A write that fails part-way (a full disk) must leave the old file as it
// was. A file-size limit in a child process makes the write fail for real.
TEST(AtomicFileWriterTest, AFailedWriteLeavesTheOldFile) {
  TempDir dir;
  const fs::path target = dir / "keep.txt";
  ASSERT_TRUE(WriteFileAtomically(target, "precious", nullptr));
  const auto child = [&] {
    test::LimitFileSize(4096);
    std::string error;
    const bool ok = WriteFileAtomically(target, std::string(100000, 'x'), &error);
    std::exit(!ok && !error.empty() ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::Text("precious"), ReadFileBytes(target));
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// A save killed half-way (the user kills the editor, the session ends) must
// leave neither a changed target nor a temporary file beside it.
TEST(AtomicFileWriterTest, AProcessKilledMidWriteLeavesNothingBesideTheTarget) {
  TempDir dir;
  const fs::path target = dir / "song.wav";
  ASSERT_TRUE(WriteFileAtomically(target, "precious", nullptr));
  for (const bool newFile : {false, true}) {
    const fs::path file = newFile ? dir / "new.wav" : target;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      AtomicFileWriter writer;
      const std::string chunk(1 << 20, 'x');
      const bool ok = writer.Open(file) && writer.Write(chunk) && writer.Write(chunk);
      const char state = ok ? 'w' : 'f';
      (void)!::write(ready[1], &state, 1);
      for (;;) ::pause();  // mid-write: the data is written, Commit() not reached
    }
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(state, 'w');
    EXPECT_EQ(test::Text("precious"), ReadFileBytes(target));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"song.wav"});
  }
}

}  // namespace
}  // namespace zandrel

#include "platform/scratch_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/file_limits.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(ScratchFileWriterTest, WritesSmallAndLargePiecesInOrderIntoAPrivateFile) {
  TempDir dir;
  const fs::path file = dir / "snapshot.wav";
  ScratchFileWriter writer;
  ASSERT_TRUE(writer.Open(file));
  const std::string large(200000, 'L');  // larger than the buffer: written straight through
  ASSERT_TRUE(writer.Write("head", 4));
  ASSERT_TRUE(writer.Write(large.data(), large.size()));
  ASSERT_TRUE(writer.Write("tail", 4));
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(test::ReadFileBytes(file), test::Text("head" + large + "tail"));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ScratchFileWriterTest, AFailedOrAbandonedWriteLeavesNoFile) {
  TempDir dir;
  const fs::path file = dir / "snapshot.wav";
  {
    ScratchFileWriter writer;
    ASSERT_TRUE(writer.Open(file));
    ASSERT_TRUE(writer.Write("part", 4));
  }
  EXPECT_FALSE(fs::exists(file));

  // A full disk: the write fails with the reason and the file goes.
  const auto child = [&] {
    test::LimitFileSize(4096);
    bool reported = false;
    {
      ScratchFileWriter writer;
      const std::string bytes(100000, 'x');
      const bool ok = writer.Open(file) && writer.Write(bytes.data(), bytes.size()) && writer.Commit();
      reported = !ok && writer.Error().rfind("write failed: ", 0) == 0;
    }
    std::exit(reported && !fs::exists(file) ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");

  ScratchFileWriter writer;
  EXPECT_FALSE(writer.Open(dir / "missing" / "snapshot.wav"));
  EXPECT_EQ(writer.Error().rfind("cannot create a file in the target folder: ", 0), 0u);
}

}  // namespace
}  // namespace zandrel

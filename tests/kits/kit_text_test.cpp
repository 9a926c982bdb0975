#include "kits/kit_text.h"

#include <gtest/gtest.h>

#include "kits/kit_import.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
namespace fs = std::filesystem;

TEST(KitText, NotesFromFileNames) {
  struct Case {
    const char* name;
    int note;
  };
  const Case cases[] = {
      {"Piano C3.wav", 48},
      {"Pad_072.wav", 72},
      {"Kick 808.wav", -1},
      {"Lead F#2.wav", 42},
      {"Bass Eb1.wav", 27},
      {"bass c2.WAV", 36},
      {"Hit 99999999999999999999 12.wav", 12},  // a huge run saturates and is skipped
      {"A9 B9 G9.wav", 127},                  // A9 and B9 are above 127
      {"Maschine 2 Library/Samples/Lead C4.wav", 60},
      {"Maschine 2 Library/Samples/Lead.wav", -1},  // folders name no note
      {"C", -1},
      {"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseNoteFromFileName(c.name), c.note) << c.name;
}

TEST(KitText, SaturatedIntegers) {
  int64_t v = 0;
  EXPECT_TRUE(ParseSaturatedInt("-99999999999x", v));
  EXPECT_EQ(v, -2147483648LL);
  EXPECT_TRUE(ParseSaturatedInt("  +42", v, true));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(ParseSaturatedInt("  42", v));
  EXPECT_FALSE(ParseSaturatedInt("-", v));
}

TEST(KitText, NameOrderFoldsCaseAndBreaksTiesByBytes) {
  EXPECT_TRUE(FileNameLess("hat.wav", "kick.wav"));
  EXPECT_TRUE(FileNameLess("kick.wav", "Snare.WAV"));
  EXPECT_TRUE(FileNameLess("A.wav", "a.wav"));
  EXPECT_FALSE(FileNameLess("a.wav", "A.wav"));
}

class ResolveTest : public ::testing::Test {
 protected:
  ResolveTest() {
    fs::create_directories(dir / "Kit" / "Samples" / "Drums");
    WriteFileBytes(dir / "Kit" / "Samples" / "Drums" / "Kick.wav", MakePcm16Wav({1}));
    WriteFileBytes(dir / "outside.wav", MakePcm16Wav({1}));
  }
  fs::path Base() const { return dir / "Kit"; }
  TempDir dir;
};

TEST_F(ResolveTest, MatchesEachPartExactlyElseIgnoringCase) {
  const fs::path kick = Base() / "Samples" / "Drums" / "Kick.wav";
  for (const char* name : {"Samples/Drums/Kick.wav", "samples\\DRUMS\\kick.WAV", "./Samples//Drums/./Kick.wav"}) {
    const auto path = ResolveKitPath(Base(), name);
    ASSERT_TRUE(path) << name;
    EXPECT_EQ(*path, kick) << name;
  }
  // A part that matches nothing stays as written.
  EXPECT_EQ(ResolveKitPath(Base(), "Samples/Missing.wav"), Base() / "Samples" / "Missing.wav");
}

TEST_F(ResolveTest, RefusesNamesThatCouldLeaveTheKit) {
  for (const char* name : {"../outside.wav", "Samples/../../outside.wav", "..\\outside.wav", "/etc/passwd",
                           "\\share\\x.wav", "C:\\x.wav", "c:x.wav", "", "./", "Samples/.."}) {
    EXPECT_FALSE(ResolveKitPath(Base(), name)) << name;
  }
}

TEST_F(ResolveTest, FirstExistingCandidateSkipsRefusedOnes) {
  const auto missing = ResolveKitPath(Base(), "nothing.wav");
  const auto kick = ResolveKitPath(Base(), "samples/drums/kick.wav");
  EXPECT_EQ(FirstExistingCandidate({std::nullopt, missing, kick}), kick);
  EXPECT_EQ(FirstExistingCandidate({missing, std::nullopt}), missing);  // the last one tried
  EXPECT_FALSE(FirstExistingCandidate({std::nullopt, std::nullopt}));
}

}  // namespace
}  // namespace zandrel

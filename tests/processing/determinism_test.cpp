// The same input gives the same bits in every run of the program: the
// analyses and the stretch run in two fresh processes (each plans its own
// transforms) and their digests are compared.
#include <gmock/gmock.h>

#include <cstdio>
#include <string>

namespace {

std::string RunProbe() {
  std::string out;
  FILE* pipe = popen(ZANDREL_DETERMINISM_PROBE, "r");
  if (!pipe) return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
  if (pclose(pipe) != 0) out += "(probe failed)";
  return out;
}

TEST(Determinism, TwoProcessesGiveBitIdenticalPitchNotesBeatsStretchCleanUpAndTransforms) {
  const std::string first = RunProbe();
  const std::string second = RunProbe();
  // Every analysis found something: identical empty results would prove nothing.
  double hz = 0.0;
  ASSERT_EQ(std::sscanf(first.c_str(), "pitch %lf", &hz), 1) << first;
  EXPECT_GT(hz, 240.0);  // the window holds B3 and C4
  EXPECT_LT(hz, 270.0);
  EXPECT_THAT(first, ::testing::Not(::testing::HasSubstr("notes 0 ")));
  EXPECT_THAT(first, ::testing::Not(::testing::HasSubstr("beats 0 ")));
  EXPECT_THAT(first, ::testing::HasSubstr("stretch 1 "));
  EXPECT_THAT(first, ::testing::HasSubstr("complex "));
  EXPECT_EQ(first, second);
}

}  // namespace

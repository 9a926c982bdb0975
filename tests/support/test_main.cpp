// Test main for the programs without a window. The C library takes its
// locale from the environment first, as it does in the editor, whose UI
// toolkit sets it at start: a run under LC_ALL=de_DE.UTF-8 then meets every
// conversion that still writes "97,5" or stops reading "97.5" at its point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}

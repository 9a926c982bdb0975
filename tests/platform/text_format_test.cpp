#include "platform/text_format.h"

#include <gtest/gtest.h>

#include <clocale>

namespace zandrel {
namespace {

TEST(FormatTest, IgnoresACommaDecimalProcessLocale) {
  // The UI toolkit sets the user's locale for the whole process; any
  // installed comma-decimal locale shows the danger.
  const char* candidates[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"};
  std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* name : candidates)
    if (std::setlocale(LC_ALL, name)) break;
  EXPECT_EQ(Format("%.2f|%d|%s", 93.5, -7, "x"), "93.50|-7|x");
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(FormatTest, LongOutputIsNotTruncated) {
  const std::string big(5000, 'a');
  EXPECT_EQ(Format("%s!", big.c_str()), big + "!");
}

}  // namespace
}  // namespace zandrel

#include "platform/text_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>

#include "support/comma_locale.h"

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

// Numbers as a user types them: a point or a comma, the same value under a
// comma-decimal locale as under any other.
TEST(TypedNumberTest, ReadsAPointOrACommaWhateverTheLocale) {
  constexpr std::nullopt_t none = std::nullopt;
  struct Case {
    const char* text;
    std::optional<double> leading;  // ReadLeadingTypedNumber
    std::optional<double> whole;    // ReadTypedNumber
  };
  const Case cases[] = {
      {"97.5", 97.5, 97.5},       {"97,5", 97.5, 97.5},       {" \t97,5 ", 97.5, 97.5},
      {"+2", 2.0, 2.0},           {"-0,125", -0.125, -0.125}, {".5", 0.5, 0.5},
      {",5", 0.5, 0.5},           {"-,5", -0.5, -0.5},        {"5.", 5.0, 5.0},
      {"5,", 5.0, 5.0},           {"1,5e2", 150.0, 150.0},    {"2E-1", 0.2, 0.2},
      {"1,234", 1.234, 1.234},    {"97.5 BPM", 97.5, none},   {"2e", 2.0, none},
      {"1.5.2", 1.5, none},       {"1,5,2", 1.5, none},       {"12abc", 12.0, none},
      {"0x10", 0.0, none},        {"", none, none},           {"   ", none, none},
      {"abc", none, none},        {".", none, none},          {",", none, none},
      {"-", none, none},          {"+,", none, none},         {"e5", none, none},
      {"inf", none, none},        {"nan", none, none},        {"1e999", none, none},
  };
  test::ScopedCommaLocale comma;
  for (const Case& c : cases) {
    EXPECT_EQ(ReadLeadingTypedNumber(c.text), c.leading) << '"' << c.text << '"';
    EXPECT_EQ(ReadTypedNumber(c.text), c.whole) << '"' << c.text << '"';
  }
}

TEST(TypedNumberTest, WhatIsStoredHasAPoint) {
  const struct {
    const char* typed;
    const char* stored;
  } cases[] = {
      {"97,5", "97.5"},   {"97,5 BPM", "97.5 BPM"}, {" -0,5", " -0.5"}, {",5", ".5"},
      {"97.5", "97.5"},   {"120", "120"},           {"1,5,2", "1.5,2"}, {"a,b", "a,b"},
      {"BPM 9,5", "BPM 9,5"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WithDecimalPoint(c.typed), c.stored) << '"' << c.typed << '"';
}

}  // namespace
}  // namespace zandrel

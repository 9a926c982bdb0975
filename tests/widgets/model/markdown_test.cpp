#include "widgets/model/markdown.h"

#include <gmock/gmock.h>

namespace zandrel {
namespace {

// Every character 10 pixels wide; line heights as the real fonts' cells.
TextMeasure FixedMeasure() {
  TextMeasure m;
  m.width = [](MarkdownFont, std::string_view text) { return static_cast<int>(text.size()) * 10; };
  m.lineHeight = [](MarkdownFont font) { return FontPixelSize(font, 16) + 3; };
  return m;
}

TextSegment Seg(std::string text, bool bold = false, bool italic = false, bool code = false, int heading = 0) {
  TextSegment s;
  s.text = std::move(text);
  s.bold = bold;
  s.italic = italic;
  s.code = code;
  s.heading = heading;
  return s;
}
TextSegment Bold(std::string t) { return Seg(std::move(t), true); }
TextSegment Italic(std::string t) { return Seg(std::move(t), false, true); }
TextSegment Code(std::string t) { return Seg(std::move(t), false, false, true); }

std::vector<TextSegment> Inline(std::string_view line) {
  const auto lines = parseMarkdown(line);
  return lines.empty() ? std::vector<TextSegment>{} : lines[0].segments;
}

std::string Plain(const std::vector<TextSegment>& segments) {
  std::string out;
  for (const TextSegment& s : segments) out += s.text;
  return out;
}

TEST(MarkdownParseTest, HeadingsTakeTheirFonts) {
  EXPECT_THAT(Inline("## word"), testing::ElementsAre(Seg("word", false, false, false, 2)));
  EXPECT_EQ(FontOf(Inline("## word")[0]), MarkdownFont::kHeading2);
  EXPECT_EQ(FontPixelSize(MarkdownFont::kHeading2, 16), 24);
  EXPECT_EQ(Inline("#### deep")[0].heading, 3);
  EXPECT_EQ(Inline("# **not bold**")[0].text, "**not bold**");  // a heading is not parsed further
  EXPECT_THAT(Inline("#x"), testing::ElementsAre(Seg("#x")));
  EXPECT_THAT(Inline("  # indented"), testing::ElementsAre(Seg("  # indented")));
  const int sizes[] = {16, 16, 16, 16, 14, 28, 24, 19};
  for (int f = 0; f < 8; ++f) EXPECT_EQ(FontPixelSize(static_cast<MarkdownFont>(f), 16), sizes[f]);
}

TEST(MarkdownParseTest, InlineRuns) {
  struct Case {
    const char* line;
    std::vector<TextSegment> runs;
  };
  const Case cases[] = {
      {"a **b** c", {Seg("a "), Bold("b"), Seg(" c")}},
      {"__b__", {Bold("b")}},
      {"x *i* y", {Seg("x "), Italic("i"), Seg(" y")}},
      {"a_b_c", {Seg("a"), Italic("b"), Seg("c")}},
      {"```text```", {Code("text")}},  // one line between triple backticks is code
      {"use `a*b` now", {Seg("use "), Code("a*b"), Seg(" now")}},
      {"**unmatched", {Seg("unmatched")}},  // an unmatched pair disappears
      {"**b *i***", {Bold("b *i"), Seg("*")}},
      // Lone markers show as they are and the line goes on.
      {"5 * 3", {Seg("5 "), Seg("* 3")}},
      {"end*", {Seg("end"), Seg("*")}},
      {"a ` b", {Seg("a "), Seg("` b")}},
      {"x_", {Seg("x"), Seg("_")}},
      {"*", {Seg("*")}},
      {"`", {Seg("`")}},
      {"_a *b", {Seg("_a "), Seg("*b")}},
  };
  for (const Case& c : cases) EXPECT_THAT(Inline(c.line), testing::ElementsAreArray(c.runs)) << c.line;
}

TEST(MarkdownParseTest, BulletsFencesAndEmptyLines) {
  const auto lines = parseMarkdown(
      "- **Bold** rest\n"
      "* star bullet\n"
      "-no bullet\n"
      "\n"
      "```\n"
      "    *x* _y_\n"
      "```\n"
      "``` c\n"
      "after   \n");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].indent, 1);
  EXPECT_THAT(lines[0].segments, testing::ElementsAre(Seg("\xE2\x80\xA2 "), Bold("Bold"), Seg(" rest")));
  EXPECT_EQ(lines[1].indent, 1);
  EXPECT_EQ(lines[2].indent, 0);
  EXPECT_TRUE(lines[3].segments.empty());
  EXPECT_THAT(lines[4].segments, testing::ElementsAre(Code("    *x* _y_")));
  EXPECT_THAT(lines[5].segments, testing::ElementsAre(Seg("` c")));  // no language tags: inline text
  EXPECT_THAT(lines[6].segments, testing::ElementsAre(Seg("after")));
  // CRLF texts read the same; a final newline adds no line.
  EXPECT_EQ(parseMarkdown("a\r\n\r\nb\r\n").size(), 3u);
  EXPECT_TRUE(parseMarkdown("").empty());
}

TEST(MarkdownWrapTest, BulletsWrapWithTheirIndent) {
  // The fake measure counts bytes: the bullet "• " is four of them.
  const auto lines = wrapMarkdown(parseMarkdown("- **Bold** one two three"), 200, FixedMeasure(), 16);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].indent, 1);
  EXPECT_THAT(lines[0].x, testing::ElementsAre(24, 64, 104, 114, 154));
  EXPECT_EQ(Plain(lines[0].segments), "\xE2\x80\xA2 Bold one two ");
  EXPECT_EQ(lines[1].indent, 1);
  EXPECT_EQ(lines[1].x.front(), 24);
  EXPECT_EQ(Plain(lines[1].segments), "three");
  EXPECT_TRUE(lines[0].segments[1].bold);
  EXPECT_FALSE(lines[0].segments[3].bold);
}

TEST(MarkdownWrapTest, LineHeightsAndContentHeight) {
  const auto lines = wrapMarkdown(parseMarkdown("## Head\nplain `code`\n\nend"), 1000, FixedMeasure(), 19);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].height, 24 + 3 + 4);
  EXPECT_EQ(lines[1].height, 16 + 3 + 4);  // the taller of normal and code
  EXPECT_EQ(lines[2].height, 19);          // an empty line adds one line height
  EXPECT_EQ(lines[3].height, 23);
  EXPECT_EQ(ContentHeight(lines), 31 + 23 + 19 + 23);
}

TEST(MarkdownWrapTest, FencedBlanksStaySeparateAndLongWordsStay) {
  auto lines = wrapMarkdown(parseMarkdown("```\n  x\n```"), 1000, FixedMeasure(), 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0].segments, testing::ElementsAre(Code(" "), Code(" "), Code("x")));
  lines = wrapMarkdown(parseMarkdown("tiny extraordinarilylongword end"), 100, FixedMeasure(), 16);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].segments[0].text, "extraordinarilylongword ");  // wider than the line, alone on it
  EXPECT_EQ(lines[2].segments[0].text, "end");
}

TEST(MarkdownScrollTest, ShortTextNeedsNoBarAndTheWheelAddsUp) {
  MarkdownScroll s;
  s.contentHeight = 100;
  s.clientHeight = 200;
  EXPECT_FALSE(s.NeedsBar());
  EXPECT_FALSE(s.Wheel(-120, 20));
  EXPECT_EQ(s.position, 0);
  s.clientHeight = 60;
  EXPECT_TRUE(s.NeedsBar());
  EXPECT_EQ(s.Maximum(), 40);
  EXPECT_TRUE(s.Wheel(-60, 5));  // half a notch: nothing yet
  EXPECT_EQ(s.position, 0);
  EXPECT_TRUE(s.Wheel(-60, 5));
  EXPECT_EQ(s.position, 15);
  EXPECT_TRUE(s.Wheel(-360, 5));
  EXPECT_EQ(s.position, 40);  // clamped
  EXPECT_FALSE(s.ScrollTo(99));
  EXPECT_TRUE(s.ScrollTo(-5));
  EXPECT_EQ(s.position, 0);
}

}  // namespace
}  // namespace zandrel

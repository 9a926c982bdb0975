// The help texts' markdown subset, without a display: parsing into styled
// runs, word wrapping with an injected text measure, and the scrolling rules
// of the help-text control (CMarkdownTextCtrl).
//
// The subset: fences of exactly three backticks (no language tag), headings
// "# " to "### " (more hashes read as level 3), bullets "- " and "* ",
// **bold** / __bold__, *italic* / _italic_ and `code`. Styles don't nest;
// markers inside a run show as they are. A marker without a partner shows
// literally. Text is UTF-8 and is split only at ASCII blanks.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

struct TextSegment {
  std::string text;
  bool bold = false;
  bool italic = false;
  bool code = false;
  int heading = 0;  // 0 none, 1..3

  bool operator==(const TextSegment&) const = default;
};

// One source line after parsing: its runs (none for an empty line) and its
// indent level (1 for bullets).
struct MarkdownLine {
  std::vector<TextSegment> segments;
  int indent = 0;
};

std::vector<MarkdownLine> parseMarkdown(std::string_view text);

// The fonts of the control, by the segment they show.
enum class MarkdownFont { kNormal, kBold, kItalic, kBoldItalic, kCode, kHeading1, kHeading2, kHeading3 };
MarkdownFont FontOf(const TextSegment& segment);
// Cell heights in pixels of each font for a base size (16): 16, 16, 16, 16,
// 14, 28, 24, 19.
int FontPixelSize(MarkdownFont font, int baseSize);

struct TextMeasure {
  std::function<int(MarkdownFont, std::string_view)> width;  // advance of a text
  std::function<int(MarkdownFont)> lineHeight;                // height + leading
};

// One screen line: one segment per word, the x of each, the indent and the
// height in pixels.
struct FormattedLine {
  std::vector<TextSegment> segments;
  std::vector<int> x;
  int indent = 0;
  int height = 0;
};

constexpr int kMarkdownIndentStep = 20;
constexpr int kMarkdownLeftMargin = 4;
constexpr int kMarkdownLinePadding = 4;

// Cuts the lines' runs into words at each blank (a word keeps its trailing
// blank) and fills screen lines up to |availableWidth|; a word that doesn't
// fit starts a new line unless it is the line's first. An empty source line
// becomes one line of |blankLineHeight|.
std::vector<FormattedLine> wrapMarkdown(const std::vector<MarkdownLine>& lines, int availableWidth,
                                        const TextMeasure& measure, int blankLineHeight);
int ContentHeight(const std::vector<FormattedLine>& lines);

// The vertical scrolling of the control. The position is in pixels from the
// top, within 0..Maximum().
struct MarkdownScroll {
  int position = 0;
  int contentHeight = 0;
  int clientHeight = 0;
  int wheelRemainder = 0;  // eighths of a degree not yet turned into notches

  bool NeedsBar() const { return contentHeight > clientHeight; }
  int Maximum() const { return contentHeight > clientHeight ? contentHeight - clientHeight : 0; }
  // Clamps and stores; true when the position changed.
  bool ScrollTo(int target);
  // A wheel turn in angle-delta units (120 a notch; touchpads send less and
  // add up): moves three lines a notch. False when there is nothing to scroll.
  bool Wheel(int angleDelta, int lineHeight);
};

}  // namespace zandrel

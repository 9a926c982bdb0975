#include "widgets/markdown_text_ctrl.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <algorithm>
#include <QDir>
#include <QFontMetrics>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>

#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

QString MarkdownTextCtrlScreenshotPath(const QString& name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  return QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png";
}

void MarkdownTextCtrlWheel(QWidget* w, int delta) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &wheel);
}

const char* const kHelp =
    "# Auto Chop\n"
    "Finds the **notes** of a recording and makes one region for each.\n"
    "\n"
    "## Settings\n"
    "- **Sensitivity**: how loud a change must be to start a new note; lower finds more, quieter notes.\n"
    "- *Minimum length* in milliseconds\n"
    "- `Root note`: taken from the _pitch_ of each note\n"
    "### Example\n"
    "```\n"
    "  region 1: C3  0.00 s\n"
    "  region 2: D3  0.52 s\n"
    "```\n"
    "```Works on the loop selection when there is one.```\n"
    "A lone * and a trailing underscore_\n";

TEST(MarkdownTextCtrlTest, LaysOutWithTheFontsAndWraps) {
  CMarkdownTextCtrl ctrl;
  ctrl.resize(420, 900);
  ctrl.SetMarkdownText(kHelp);
  ctrl.EnsureLayout();
  EXPECT_EQ(ctrl.FontFor(MarkdownFont::kHeading2).pixelSize(), 24);
  EXPECT_EQ(ctrl.FontFor(MarkdownFont::kCode).pixelSize(), 14);
  EXPECT_TRUE(ctrl.FontFor(MarkdownFont::kHeading3).bold());
  const auto& lines = ctrl.Lines();
  ASSERT_GT(lines.size(), 10u);
  const QFontMetrics h1(ctrl.FontFor(MarkdownFont::kHeading1));
  EXPECT_EQ(lines[0].height, h1.height() + h1.leading() + 4);
  auto blank = std::find_if(lines.begin(), lines.end(), [](const FormattedLine& l) { return l.segments.empty(); });
  ASSERT_NE(blank, lines.end());
  EXPECT_EQ(blank->height, ctrl.LineHeight());  // the empty line
  // The long bullet wraps; its continuation keeps the indent.
  auto bullet = std::find_if(lines.begin(), lines.end(), [](const FormattedLine& l) { return l.indent == 1; });
  ASSERT_NE(bullet, lines.end());
  ASSERT_NE(bullet + 1, lines.end());
  EXPECT_EQ(bullet->x.front(), 24);
  EXPECT_EQ(bullet->segments.front().text, "\xE2\x80\xA2 ");
  EXPECT_TRUE(bullet->segments[1].bold);
  EXPECT_EQ((bullet + 1)->indent, 1);
  EXPECT_EQ((bullet + 1)->x.front(), 24);
  EXPECT_NE((bullet + 1)->segments.front().text, "\xE2\x80\xA2 ");
  const int available = ctrl.width() - ctrl.style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 10;
  for (const FormattedLine& l : lines) {
    if (l.segments.size() < 2) continue;
    const TextSegment& last = l.segments.back();
    EXPECT_LE(l.x.back() + QFontMetrics(ctrl.FontFor(FontOf(last))).horizontalAdvance(QString::fromStdString(last.text)),
              available);
  }
  EXPECT_FALSE(ctrl.ScrollBar()->isVisibleTo(&ctrl));  // the text fits
}

TEST(MarkdownTextCtrlTest, ScrollBarAppearsWhenTheTextOutgrowsTheControl) {
  CMarkdownTextCtrl ctrl;
  ctrl.resize(420, 900);
  ctrl.SetMarkdownText(kHelp);
  ctrl.show();
  ctrl.grab();
  EXPECT_FALSE(ctrl.ScrollBar()->isVisible());
  ctrl.resize(420, 160);
  ctrl.grab();  // the next paint lays out again
  EXPECT_TRUE(ctrl.ScrollBar()->isVisible());
  const int maximum = ctrl.Scroll().Maximum();
  EXPECT_EQ(ctrl.ScrollBar()->maximum(), maximum);
  EXPECT_EQ(ctrl.ScrollBar()->pageStep(), 160);

  // Touchpad steps add up to a notch of three lines.
  MarkdownTextCtrlWheel(&ctrl, -40);
  MarkdownTextCtrlWheel(&ctrl, -40);
  EXPECT_EQ(ctrl.Scroll().position, 0);
  MarkdownTextCtrlWheel(&ctrl, -40);
  EXPECT_EQ(ctrl.Scroll().position, 3 * ctrl.LineHeight());
  EXPECT_EQ(ctrl.ScrollBar()->value(), ctrl.Scroll().position);
  ctrl.ScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(ctrl.Scroll().position, maximum);
  ctrl.ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(ctrl.Scroll().position, maximum - ctrl.LineHeight());

  // A new text starts at the top.
  ctrl.SetMarkdownText("short");
  ctrl.grab();
  EXPECT_EQ(ctrl.Scroll().position, 0);
  EXPECT_FALSE(ctrl.ScrollBar()->isVisible());
}

TEST(MarkdownTextCtrlTest, ScreenshotOfAHelpText) {
  CMarkdownTextCtrl ctrl;
  ctrl.resize(440, 470);
  ctrl.textColour = 0xFFFFFF;
  ctrl.backgroundColour = 0x302820;
  ctrl.SetMarkdownText(kHelp);
  const QImage image = ctrl.grab().toImage();
  EXPECT_TRUE(image.save(MarkdownTextCtrlScreenshotPath("markdown_help")));
  // Code is drawn in its own colour somewhere, and text in white.
  int code = 0, white = 0;
  const QColor codeColour = ToQColor(0xFFC864);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      code += c == codeColour;
      white += c == Qt::white;
    }
  EXPECT_GT(code, 50);
  EXPECT_GT(white, 200);
}

}  // namespace
}  // namespace zandrel

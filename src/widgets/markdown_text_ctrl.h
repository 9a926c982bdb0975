// CMarkdownTextCtrl: a scrollable help text in the markdown subset of
// widgets/model/markdown.h, for the tools' dialogs.
//
// Hosts put their text in with SetMarkdownText. The control lays the text
// out at the next paint (and again after a resize), with the system's sans
// and mono fonts at fixed pixel sizes (16 for text, 14 code, 28/24/19
// headings), shows its own scroll bar at the right only when the text is
// taller than the control, and scrolls by the bar and the wheel (touchpads'
// small wheel steps add up to notches). User-interface thread only.
#pragma once

#include <QFont>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "platform/colorref.h"
#include "widgets/model/markdown.h"

class QScrollBar;

namespace zandrel {

class CMarkdownTextCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CMarkdownTextCtrl(QWidget* parent = nullptr);

  ColorRef textColour = 0xFFFFFF;
  ColorRef backgroundColour = 0x000000;

  void SetMarkdownText(const std::string& text);
  const std::string& MarkdownText() const { return source_; }

  // Lays the text out now when it is due (the paint does it otherwise).
  void EnsureLayout();
  const std::vector<FormattedLine>& Lines() const { return lines_; }
  const MarkdownScroll& Scroll() const { return scroll_; }
  int LineHeight() const { return lineHeight_; }
  QScrollBar* ScrollBar() const { return scrollBar_; }
  const QFont& FontFor(MarkdownFont font) const { return fonts_[static_cast<size_t>(font)]; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void CreateFonts();
  void LayoutMarkdown();
  void UpdateScrollBar();
  int ScrollBarWidth() const;

  std::string source_;
  std::array<QFont, 8> fonts_;
  std::vector<FormattedLine> lines_;
  MarkdownScroll scroll_;
  int lineHeight_ = 0;
  bool layoutNeeded_ = true;
  int baseFontSize_ = 16;
  QScrollBar* scrollBar_;
};

}  // namespace zandrel

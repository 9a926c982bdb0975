#include "widgets/markdown_text_ctrl.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QWheelEvent>

#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

constexpr ColorRef kCodeColour = 0xFFC864;

}  // namespace

CMarkdownTextCtrl::CMarkdownTextCtrl(QWidget* parent) : QWidget(parent), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  CreateFonts();
  scrollBar_->hide();
  connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
    if (scroll_.ScrollTo(value)) update();
  });
}

void CMarkdownTextCtrl::CreateFonts() {
  const QString sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  const QString mono = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  for (int i = 0; i < 8; ++i) {
    const auto kind = static_cast<MarkdownFont>(i);
    QFont f(kind == MarkdownFont::kCode ? mono : sans);
    f.setStyleHint(kind == MarkdownFont::kCode ? QFont::Monospace : QFont::SansSerif);
    f.setPixelSize(FontPixelSize(kind, baseFontSize_));
    const bool bold = kind == MarkdownFont::kBold || kind == MarkdownFont::kBoldItalic ||
                      kind == MarkdownFont::kHeading1 || kind == MarkdownFont::kHeading2 ||
                      kind == MarkdownFont::kHeading3;
    f.setBold(bold);
    f.setItalic(kind == MarkdownFont::kItalic || kind == MarkdownFont::kBoldItalic);
    fonts_[static_cast<size_t>(i)] = f;
  }
}

int CMarkdownTextCtrl::ScrollBarWidth() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent); }

void CMarkdownTextCtrl::SetMarkdownText(const std::string& text) {
  source_ = text;
  scroll_.position = 0;
  layoutNeeded_ = true;
  update();
}

void CMarkdownTextCtrl::EnsureLayout() {
  if (lineHeight_ == 0) {
    const QFontMetrics fm(FontFor(MarkdownFont::kNormal));
    lineHeight_ = fm.height() + fm.leading();
  }
  if (layoutNeeded_) LayoutMarkdown();
}

void CMarkdownTextCtrl::LayoutMarkdown() {
  lines_.clear();
  layoutNeeded_ = false;
  const int available = width() - ScrollBarWidth() - 10;
  if (!source_.empty() && available > 0) {
    TextMeasure measure;
    measure.width = [this](MarkdownFont font, std::string_view text) {
      return QFontMetrics(FontFor(font)).horizontalAdvance(
          QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    };
    measure.lineHeight = [this](MarkdownFont font) {
      const QFontMetrics fm(FontFor(font));
      return fm.height() + fm.leading();
    };
    lines_ = wrapMarkdown(parseMarkdown(source_), available, measure, lineHeight_ > 0 ? lineHeight_ : 16);
  }
  scroll_.contentHeight = ContentHeight(lines_);
  UpdateScrollBar();
}

void CMarkdownTextCtrl::UpdateScrollBar() {
  scroll_.clientHeight = height();
  const QSignalBlocker block(scrollBar_);
  if (scroll_.NeedsBar()) {
    scroll_.ScrollTo(scroll_.position);
    // Qt's maximum is the last thumb position: the content less the page.
    scrollBar_->setRange(0, scroll_.Maximum());
    scrollBar_->setPageStep(height());
    scrollBar_->setSingleStep(std::max(1, lineHeight_));
    scrollBar_->setValue(scroll_.position);
    scrollBar_->show();
  } else {
    scroll_.position = 0;
    scrollBar_->hide();
  }
}

void CMarkdownTextCtrl::resizeEvent(QResizeEvent* event) {
  scrollBar_->setGeometry(width() - ScrollBarWidth(), 0, ScrollBarWidth(), height());
  layoutNeeded_ = true;
  update();
  QWidget::resizeEvent(event);
}

void CMarkdownTextCtrl::wheelEvent(QWheelEvent* event) {
  EnsureLayout();
  if (!scroll_.Wheel(event->angleDelta().y(), lineHeight_)) {
    event->ignore();
    return;
  }
  const QSignalBlocker block(scrollBar_);
  scrollBar_->setValue(scroll_.position);
  update();
  event->accept();
}

void CMarkdownTextCtrl::paintEvent(QPaintEvent*) {
  EnsureLayout();
  QPainter p(this);
  p.fillRect(rect(), ToQColor(backgroundColour));
  p.setRenderHint(QPainter::TextAntialiasing);
  int y = -scroll_.position;
  for (const FormattedLine& line : lines_) {
    if (y >= height()) break;
    if (y + line.height > 0) {
      for (size_t i = 0; i < line.segments.size(); ++i) {
        const TextSegment& s = line.segments[i];
        p.setFont(FontFor(FontOf(s)));
        p.setPen(ToQColor(s.code ? kCodeColour : textColour));
        const QFontMetrics fm(p.font());
        p.drawText(QPoint(line.x[i], y + fm.ascent()), QString::fromStdString(s.text));
      }
    }
    y += line.height;
  }
}

}  // namespace zandrel

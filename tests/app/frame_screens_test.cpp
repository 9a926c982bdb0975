// What the main window's own screens show a user: the log pane with a line
// longer than the pane, and the print preview as it opens. Checked on the
// pixels of screenshots.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/output_wnd.h"
#include "app/quorvel_app.h"
#include "commands/commands.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

QString Shot(const QString& name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  return QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

// Ink: a pixel clearly darker than the list's light background.
bool Ink(QRgb p) { return qGray(p) < 128; }

// The leftmost and rightmost columns holding ink in rows [top, bottom), or
// (-1, -1).
std::pair<int, int> InkColumns(const QImage& image, int top, int bottom) {
  int left = -1, right = -1;
  for (int x = 0; x < image.width(); ++x) {
    for (int y = std::max(0, top); y < std::min(bottom, image.height()); ++y) {
      if (!Ink(image.pixel(x, y))) continue;
      if (left < 0) left = x;
      right = x;
      break;
    }
  }
  return {left, right};
}

class FrameScreensTest : public EditorOnFileTest {};

// A line far wider than the pane is read to its end by scrolling sideways:
// scrolled to the right, the end of the line is on the screen with blank
// space after it, where before it ran off the pane's edge.
TEST_F(FrameScreensTest, TheLogPaneScrollsSidewaysToTheEndOfALongLine) {
  ASSERT_TRUE(StartEditor());
  frame->resize(900, 700);
  frame->show();
  QApplication::processEvents();
  COutputList& log = frame->outputPane->logList();
  std::string line = "Long line:";
  for (int i = 0; i < 40; ++i) line += " word" + std::to_string(i);
  line += " END";
  log.AppendLog(line);
  log.AppendLog("short");
  QApplication::processEvents();
  QListWidgetItem* item = log.item(log.count() - 2);
  ASSERT_EQ(item->text().toStdString(), line);
  const QRect row = log.visualItemRect(item);
  ASSERT_GT(row.height(), 0);

  const QImage start = log.viewport()->grab().toImage();
  const auto [startLeft, startRight] = InkColumns(start, row.top(), row.bottom() + 1);
  ASSERT_GE(startLeft, 0);
  EXPECT_GE(startRight, start.width() - 8);  // the line runs past the pane's edge

  QScrollBar* bar = log.horizontalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  bar->setValue(bar->maximum());
  QApplication::processEvents();
  const QRect scrolledRow = log.visualItemRect(item);
  const QImage end = log.viewport()->grab().toImage();
  end.save(Shot(QStringLiteral("log_pane_long_line_scrolled")));
  log.grab().save(Shot(QStringLiteral("log_pane_long_line")));
  const auto [endLeft, endRight] = InkColumns(end, scrolledRow.top(), scrolledRow.bottom() + 1);
  ASSERT_GE(endRight, 0);
  EXPECT_LT(endRight, end.width() - 3);  // the line's end, then blank space
  // The short line below has scrolled away to the left.
  const QRect shortRow = log.visualItemRect(log.item(log.count() - 1));
  EXPECT_EQ(InkColumns(end, shortRow.top(), shortRow.bottom() + 1).first, -1);
}

// Print Preview opens large enough to read, with the whole page in view: the
// paper's white margin is found on the screenshot, at the page's shape and
// most of the dialog's height, touching none of the window's edges.
TEST_F(FrameScreensTest, PrintPreviewOpensShowingTheWholePage) {
  std::vector<int16_t> samples(20000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(20000 * std::sin(i * 0.01));
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(samples)));
  QApplication::processEvents();
  bool seen = false;
  QTimer::singleShot(200, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    const auto close = qScopeGuard([modal] {
      if (modal) modal->close();
    });
    auto* dialog = qobject_cast<QPrintPreviewDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    seen = true;
    QTest::qWait(100);
    auto* preview = dialog->findChild<QPrintPreviewWidget*>();
    ASSERT_NE(preview, nullptr);
    const QImage shot = dialog->grab().toImage();
    shot.save(Shot(QStringLiteral("print_preview")));
    EXPECT_GE(dialog->height(), 400);
    EXPECT_GE(dialog->width(), 500);
    EXPECT_EQ(preview->zoomMode(), QPrintPreviewWidget::FitInView);

    // The paper: the widest run of pure white on a row of the preview area.
    const QRect area(preview->mapTo(dialog, QPoint(0, 0)), preview->size());
    int paperLeft = -1, paperRight = -1, widest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      int runStart = -1;
      for (int x = area.left(); x <= area.right() + 1; ++x) {
        const bool white = x <= area.right() && shot.pixel(x, y) == qRgb(255, 255, 255);
        if (white && runStart < 0) runStart = x;
        if (!white && runStart >= 0) {
          if (x - runStart > widest) {
            widest = x - runStart;
            paperLeft = runStart;
            paperRight = x - 1;
          }
          runStart = -1;
        }
      }
    }
    ASSERT_GT(widest, 50);
    // The paper's left margin, top to bottom, in the column just inside it.
    const int column = paperLeft + 1;
    int top = -1, bottom = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      if (shot.pixel(column, y) != qRgb(255, 255, 255)) continue;
      if (top < 0) top = y;
      bottom = y;
    }
    const int height = bottom - top + 1;
    EXPECT_GT(top, area.top());
    EXPECT_LT(bottom, area.bottom());
    EXPECT_GT(paperLeft, area.left());
    EXPECT_LT(paperRight, area.right());
    EXPECT_GE(height, area.height() / 2);
    // Taller than wide, as a portrait page is (A4 1.41, Letter 1.29).
    const double shape = static_cast<double>(height) / widest;
    EXPECT_GT(shape, 1.2);
    EXPECT_LT(shape, 1.5);
  });
  frame->Action(cmd::kFilePrintPreview)->trigger();
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace zandrel

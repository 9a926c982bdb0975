#include <gmock/gmock.h>

#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "widgets/note_select_dlg.h"
#include "widgets/piano_selector_wnd.h"
#include "widgets/qt_colors.h"

namespace zandrel {
namespace {

// The point of a key in the lower half of the white keys.
QPoint WhiteKeyPoint(const CPianoSelectorWnd& piano, int note) {
  const int column = WhiteKeyIndex(note) - piano.Model().FirstWhiteKey();
  return QPoint(column * kWhiteKeyWidth + 10, PianoKeyArea(piano.ClientRect()).bottom - 30);
}

TEST(PianoSelectorWndTest, AClickPicksTheKeyAndTellsTheOwner) {
  CPianoSelectorWnd piano;
  piano.resize(442, 216);
  piano.SetKeyRange(0, 127, 60, 2);
  QSignalSpy clicked(&piano, &CPianoSelectorWnd::keyClicked);

  QTest::mouseClick(&piano, Qt::LeftButton, {}, WhiteKeyPoint(piano, 64));
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(clicked.takeFirst().at(0).toInt(), 64);
  EXPECT_EQ(piano.Model().rootNote, 64);

  // The band below the keys and a read-only control pick nothing.
  QTest::mouseClick(&piano, Qt::LeftButton, {}, QPoint(30, piano.ClientRect().bottom - 5));
  piano.SetReadOnly(true);
  QTest::mouseClick(&piano, Qt::LeftButton, {}, WhiteKeyPoint(piano, 62));
  EXPECT_EQ(clicked.count(), 0);
  EXPECT_EQ(piano.Model().rootNote, 64);
}

TEST(PianoSelectorWndTest, ScrollBarMovesTheKeyboardByWhiteKeys) {
  CPianoSelectorWnd piano;
  piano.resize(442, 216);
  piano.SetKeyRange(0, 127, 60, 2);
  const int first = piano.Model().FirstWhiteKey();
  QScrollBar* bar = piano.ScrollBar();
  EXPECT_EQ(bar->pageStep(), 17);
  EXPECT_EQ(bar->maximum(), 75 - 17);
  EXPECT_EQ(bar->value(), first);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(piano.Model().FirstWhiteKey(), first + 1);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(piano.Model().FirstWhiteKey(), first + 1 - 17);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);  // not one of the scroll actions: kept
  EXPECT_EQ(piano.Model().FirstWhiteKey(), first + 1 - 17);
}

TEST(PianoSelectorWndTest, PaintsTheRootInTheAccentColour) {
  CPianoSelectorWnd piano;
  piano.resize(442, 216);
  piano.SetKeyRange(48, 72, 60, 2);
  piano.Model().accentColor = MakeColorRef(200, 40, 40);
  const QImage image = piano.Render();
  const QPoint root = WhiteKeyPoint(piano, 60);
  EXPECT_EQ(image.pixelColor(root), QColor(200, 40, 40));
  // In range keys are tinted from the accent; keys out of range are grey.
  EXPECT_EQ(image.pixelColor(WhiteKeyPoint(piano, 62)), ToQColor(piano.Model().WhiteKeyColour(62)));
  EXPECT_EQ(image.pixelColor(WhiteKeyPoint(piano, 74)), QColor(220, 220, 220));
  // The band below the keys stays background.
  EXPECT_EQ(image.pixelColor(5, piano.ClientRect().bottom - 3), QColor(30, 30, 30));
}

// Runs |dlg| modally while |answer| plays the user.
int RunPicker(CNoteSelectDlg& dlg, std::function<void()> answer) {
  QTimer::singleShot(0, &dlg, std::move(answer));
  return dlg.exec();
}

TEST(NoteSelectDlgTest, OkReturnsTheClickedKeyOrTheKeyOfTheMode) {
  {
    CNoteSelectDlg dlg;
    dlg.lowNote = 36;
    dlg.highNote = 84;
    dlg.rootNote = 60;
    dlg.selectMode = 1;
    EXPECT_EQ(RunPicker(dlg, [&] { dlg.OkButton()->click(); }), QDialog::Accepted);
    EXPECT_EQ(dlg.resultNote, 84);
  }
  {
    CNoteSelectDlg dlg;
    dlg.rootNote = 60;
    EXPECT_EQ(RunPicker(dlg, [&] {
                QTest::mouseClick(dlg.Piano(), Qt::LeftButton, {}, WhiteKeyPoint(*dlg.Piano(), 65));
                dlg.OkButton()->click();
              }),
              QDialog::Accepted);
    EXPECT_EQ(dlg.resultNote, 65);
  }
  {
    CNoteSelectDlg dlg;
    dlg.selectMode = 5;  // no key: the caller gets -1 and rejects it
    RunPicker(dlg, [&] { dlg.OkButton()->click(); });
    EXPECT_EQ(dlg.resultNote, -1);
  }
  {
    CNoteSelectDlg dlg;
    EXPECT_EQ(RunPicker(dlg, [&] { dlg.CancelButton()->click(); }), QDialog::Rejected);
  }
}

TEST(NoteSelectDlgTest, CallersColoursOutliveTheKeyRangeReset) {
  CNoteSelectDlg dlg;
  dlg.highNote = 128;
  dlg.rootNote = 50;
  dlg.accentColor = MakeColorRef(10, 200, 30);
  dlg.neutralColors = 1;
  RunPicker(dlg, [&] {
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Note Selector"));
    EXPECT_EQ(dlg.Piano()->Model().accentColor, MakeColorRef(10, 200, 30));
    EXPECT_EQ(dlg.Piano()->Model().neutralColors, 1);
    EXPECT_EQ(dlg.Piano()->Model().highNote, 128);
    EXPECT_EQ(dlg.Piano()->Model().FirstWhiteKey(), WhiteKeyIndex(50) - 8);
    dlg.reject();
  });
}

}  // namespace
}  // namespace zandrel

// The Region and Global pages inside the running app: what they show for
// the document and the view, and the edits they make through the main frame.
#include <gmock/gmock.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "view/model/view_commands.h"
#include "widgets/note_select_dlg.h"
#include "widgets/piano_selector_wnd.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;

constexpr int kPropertyPagesFrames = 44100;  // one second

class PropertyPagesTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    std::vector<int16_t> samples(kPropertyPagesFrames);
    for (int i = 0; i < kPropertyPagesFrames; ++i) samples[static_cast<size_t>(i)] = static_cast<int16_t>(12000 * std::sin(i * 0.03));
    ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", MakePcm16Wav(samples)));
    doc = &app->Document();
    doc->instrument.hasInstrument = true;
    doc->instrument.regions = {{0, 20000, -1, -1, 0, 59, 48}, {20000, kPropertyPagesFrames, 25000, 40000, 60, 127, 72}};
    doc->UpdateAllViews(DocumentChange::kInstrument);
    region = frame->propertiesPane->regionPage;
    global = frame->propertiesPane->globalPage;
  }

  ViewModel& View() { return frame->view->Model(); }
  QString RegionText(RegionField f) { return region->Field(f)->text(); }
  QString GlobalText(GlobalField f) { return global->Field(f)->text(); }
  // Runs a page's handler that opens the note picker; the "user" clicks
  // |note| on the piano and presses OK.
  void PickOnPiano(QPushButton* opener, int note) {
    bool answered = false;
    QTimer::singleShot(0, [&] {
      auto* picker = qobject_cast<CNoteSelectDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      CPianoSelectorWnd* piano = picker->Piano();
      const int column = WhiteKeyIndex(note) - piano->Model().FirstWhiteKey();
      ASSERT_FALSE(IsBlackKey(note));
      QTest::mouseClick(piano, Qt::LeftButton, {}, QPoint(column * kWhiteKeyWidth + 12, 150));
      if (!screenshotOfPicker.isEmpty()) picker->grab().save(screenshotOfPicker);
      picker->OkButton()->click();
      answered = true;
    });
    opener->click();
    EXPECT_TRUE(answered);
    QApplication::processEvents();  // the posted request
  }
  // Exactly these frames: the zero-crossing snap would move them.
  void SelectSelection(int64_t in, int64_t out) {
    View().snapToZeroCrossing = false;
    View().SetCursorPosition(in);
    View().HandleKey(ViewKey::kLoopIn);
    View().SetCursorPosition(out);
    View().HandleKey(ViewKey::kLoopOut);
  }

  CQuorvelDoc* doc = nullptr;
  CRegionPropsDlg* region = nullptr;
  CGlobalPropsDlg* global = nullptr;
  QString screenshotOfPicker;
};

QString ScreenshotPath(const QString& name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  return QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png";
}

TEST_F(PropertyPagesTest, SelectingARegionShowsItAndUpdateEditsItWithAnUndoEntry) {
  EXPECT_FALSE(region->updateButton->isEnabled());  // no region selected yet
  View().SelectRegion(1);
  EXPECT_EQ(RegionText(kRegionName), QStringLiteral("Region 2"));
  EXPECT_EQ(RegionText(kRegionStart), QStringLiteral("20000"));
  EXPECT_EQ(RegionText(kRegionEnd), QStringLiteral("44100"));
  EXPECT_EQ(RegionText(kRegionLoopStart), QStringLiteral("25000"));
  EXPECT_EQ(RegionText(kRegionLowKey), QStringLiteral("C4"));
  EXPECT_EQ(RegionText(kRegionRootKey), QStringLiteral("C5"));
  EXPECT_EQ(region->editRegion, doc->instrument.regions[1]);
  EXPECT_TRUE(region->updateButton->isEnabled());
  EXPECT_FALSE(region->updateButton->IsBlinking());

  region->Field(kRegionEnd)->setText(QStringLiteral("42000"));
  region->Field(kRegionHighKey)->setText(QStringLiteral("A6"));
  EXPECT_TRUE(region->updateButton->IsBlinking());
  region->updateButton->click();
  EXPECT_EQ(doc->instrument.regions[1].endSample, kPropertyPagesFrames);  // posted, not yet handled
  QApplication::processEvents();
  EXPECT_EQ(doc->instrument.regions[1], (Region{20000, 42000, 25000, 40000, 60, 93, 72}));
  EXPECT_FALSE(region->updateButton->IsBlinking());
  ASSERT_TRUE(doc->CanUndo());
  EXPECT_EQ(doc->undoHistory.undoStack.back().description, "Edit Region");
  EXPECT_THAT(frame->outputPane->logList().Lines(), Contains(QStringLiteral("Updated Region")));
  EXPECT_TRUE(doc->IsModified());

  // Undo puts the region back, and the page shows (and edits) it again.
  frame->commands.Run(cmd::kEditUndo);
  EXPECT_EQ(doc->instrument.regions[1].endSample, kPropertyPagesFrames);
  EXPECT_EQ(RegionText(kRegionEnd), QStringLiteral("44100"));
  EXPECT_EQ(region->editRegion, doc->instrument.regions[1]);
}

TEST_F(PropertyPagesTest, ApplyToRegionLoopTakesTheSelectionAndRemoveLoopDropsIt) {
  doc->instrument.params.playMode = "oneshot";
  doc->UpdateAllViews(DocumentChange::kInstrument);
  View().SelectRegion(0);
  SelectSelection(5000, 9000);
  EXPECT_EQ(RegionText(kRegionLoopIn), QStringLiteral("5000"));
  EXPECT_EQ(RegionText(kRegionLoopOut), QStringLiteral("9000"));
  EXPECT_TRUE(region->applyLoopButton->IsBlinking());

  region->applyLoopButton->click();
  QApplication::processEvents();
  EXPECT_EQ(doc->instrument.regions[0].loopStart, 5000);
  EXPECT_EQ(doc->instrument.regions[0].loopEnd, 9000);
  EXPECT_FALSE(region->applyLoopButton->IsBlinking());
  // A loop in a one-shot instrument makes it "key", and the Global page says so.
  EXPECT_EQ(doc->instrument.params.playMode, "key");
  EXPECT_EQ(GlobalText(kGlobalMode), QStringLiteral("key"));

  region->removeLoopButton->click();
  QApplication::processEvents();
  EXPECT_FALSE(doc->instrument.regions[0].HasLoop());
  EXPECT_EQ(RegionText(kRegionLoopStart), QStringLiteral("-1"));
  EXPECT_EQ(doc->undoHistory.undoStack.size(), 2u);
}

TEST_F(PropertyPagesTest, RegionKeysArePickedOnThePiano) {
  View().SelectRegion(0);
  PickOnPiano(region->pickButtons[2], 55);
  EXPECT_EQ(doc->instrument.regions[0].rootNote, 55);
  EXPECT_EQ(RegionText(kRegionRootKey), QStringLiteral("G3"));
  // The picker opens centred on the root, whichever key it edits.
  PickOnPiano(region->pickButtons[0], 50);
  EXPECT_EQ(doc->instrument.regions[0].loKey, 50);
  EXPECT_EQ(doc->undoHistory.undoStack.size(), 2u);
}

TEST_F(PropertyPagesTest, GlobalPageEditsEverySetting) {
  EXPECT_EQ(GlobalText(kGlobalBpm), QStringLiteral("120.00"));
  EXPECT_EQ(GlobalText(kGlobalBeats), QStringLiteral("2.00"));  // one second at 120 BPM

  global->ValueButton(QStringLiteral("loop"))->click();
  QApplication::processEvents();
  const InstrumentParams& p = doc->instrument.params;
  EXPECT_EQ(p.playMode, "loop");
  EXPECT_EQ(p.sampleMode, "single");
  EXPECT_EQ(p.timeMode, "bpm");
  EXPECT_EQ(doc->undoHistory.undoStack.size(), 1u);
  EXPECT_EQ(doc->undoHistory.undoStack.back().description, "Edit Global Parameters");
  EXPECT_THAT(frame->outputPane->logList().Lines(), Contains(QStringLiteral("Updated Global")));

  PickOnPiano(global->pickRootButton, 65);
  EXPECT_EQ(p.rootNote, 65);
  EXPECT_EQ(GlobalText(kGlobalRoot), QStringLiteral("F4"));

  global->Field(kGlobalPitch)->setText(QStringLiteral("-20"));
  global->Field(kGlobalPan)->setText(QStringLiteral("20"));
  global->Field(kGlobalAmplitude)->setText(QStringLiteral("300"));
  global->Field(kGlobalAttack)->setText(QStringLiteral("10"));
  global->Field(kGlobalRelease)->setText(QStringLiteral("300"));
  global->Field(kGlobalMode)->setText(QStringLiteral("LEGATO"));
  global->Field(kGlobalBpm)->setText(QStringLiteral("45"));
  EXPECT_EQ(GlobalText(kGlobalBeats), QStringLiteral("0.75"));  // follows the typing
  EXPECT_TRUE(global->updateButton->IsBlinking());
  global->updateButton->click();
  QApplication::processEvents();
  EXPECT_EQ(p.pitch, -12);
  EXPECT_EQ(p.pan, 16);
  EXPECT_EQ(p.amplitude, 200);
  EXPECT_EQ(p.attack, 10);
  EXPECT_EQ(p.release, 255);
  EXPECT_EQ(p.playMode, "legato");
  EXPECT_FLOAT_EQ(p.bpm, 60.0f);
  EXPECT_EQ(GlobalText(kGlobalAmplitude), QStringLiteral("200"));
  EXPECT_EQ(GlobalText(kGlobalBpm), QStringLiteral("60.00"));
  EXPECT_FALSE(global->updateButton->IsBlinking());

  global->ValueButton(QStringLiteral("bar"))->click();
  global->ValueButton(QStringLiteral("multi"))->click();
  QApplication::processEvents();
  EXPECT_EQ(p.timeMode, "bar");
  EXPECT_EQ(p.sampleMode, "multi");

  frame->SetGlobalDuration(2.0f);
  EXPECT_EQ(GlobalText(kGlobalBeats), QStringLiteral("2.00"));  // two seconds at 60 BPM
  EXPECT_FALSE(global->updateButton->IsBlinking());
  EXPECT_EQ(doc->undoHistory.undoStack.size(), 5u);
}

TEST_F(PropertyPagesTest, PagesFollowChangesSoUpdateNeverUndoesThem) {
  View().SelectRegion(0);
  // A typed but not applied setting survives changes that do not touch it.
  global->Field(kGlobalPitch)->setText(QStringLiteral("5"));

  // Some command changes the selected region and a setting without telling
  // the pages; the document's notification does.
  doc->instrument.regions[0].loopStart = 1000;
  doc->instrument.regions[0].loopEnd = 3000;
  doc->UpdateAllViews(DocumentChange::kInstrument);
  EXPECT_EQ(RegionText(kRegionLoopStart), QStringLiteral("1000"));
  EXPECT_EQ(GlobalText(kGlobalPitch), QStringLiteral("5"));
  EXPECT_TRUE(global->updateButton->IsBlinking());

  doc->instrument.params.pan = 7;
  doc->UpdateAllViews(DocumentChange::kInstrument);
  EXPECT_EQ(GlobalText(kGlobalPan), QStringLiteral("7"));

  region->Field(kRegionHighKey)->setText(QStringLiteral("50"));
  region->updateButton->click();
  global->updateButton->click();
  QApplication::processEvents();
  EXPECT_EQ(doc->instrument.regions[0], (Region{0, 20000, 1000, 3000, 0, 50, 48}));
  EXPECT_EQ(doc->instrument.params.pan, 7);

  // A selected region that goes away leaves the page empty, not editing it.
  doc->instrument.regions.resize(0);
  doc->UpdateAllViews(DocumentChange::kInstrument);
  EXPECT_FALSE(region->updateButton->isEnabled());
  EXPECT_EQ(RegionText(kRegionName), QStringLiteral("No Region Selected"));
}

TEST_F(PropertyPagesTest, CtrlDeleteOnAButtonDeletesAudioButNotInAField) {
  frame->show();
  QApplication::setActiveWindow(frame);
  View().SelectRegion(0);
  frame->propertiesPane->tabs()->setCurrentIndex(1);
  global->updateButton->setFocus();
  QTest::keyClick(global->updateButton, Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(host->Texts(), std::vector<std::string>{"Please set loop points first (loop start and loop end)."});

  QLineEdit* pitch = global->Field(kGlobalPitch);
  pitch->setFocus();
  pitch->setCursorPosition(0);
  QTest::keyClick(pitch, Qt::Key_Delete, Qt::ControlModifier);
  QLineEdit* loopIn = region->Field(kRegionLoopIn);
  frame->propertiesPane->tabs()->setCurrentIndex(0);
  loopIn->setFocus();
  QTest::keyClick(loopIn, Qt::Key_Delete, Qt::ControlModifier);
  // Enter and Escape never close or change a page.
  QTest::keyClick(region->updateButton, Qt::Key_Escape);
  QTest::keyClick(pitch, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(host->Texts().size(), 1u);
  EXPECT_EQ(pitch->text(), QString());  // the field deleted its word
  EXPECT_TRUE(frame->propertiesPane->isVisible());
  EXPECT_EQ(doc->FrameCount(), kPropertyPagesFrames);
}

// Keys typed into a text field of the pages belong to the field: Ctrl+A
// selects the field's text, not the whole waveform; with the view focused it
// still selects the waveform.
TEST_F(PropertyPagesTest, CtrlAInAFieldSelectsTheFieldsText) {
  frame->show();
  QApplication::setActiveWindow(frame);
  View().SelectRegion(1);
  QApplication::processEvents();
  const int64_t in = View().loopIn, out = View().loopOut;
  struct Case {
    int tab;
    QLineEdit* field;
  };
  for (const Case& k : {Case{0, region->Field(kRegionStart)}, Case{0, region->Field(kRegionLoopIn)},
                        Case{0, region->Field(kRegionName)}, Case{0, region->Field(kRegionRootKey)},
                        Case{1, global->Field(kGlobalPitch)}, Case{1, global->Field(kGlobalMode)}}) {
    frame->propertiesPane->tabs()->setCurrentIndex(k.tab);
    QTest::mouseClick(k.field, Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_TRUE(k.field->hasFocus());
    if (!k.field->isReadOnly()) {
      // What the user does first: types into the field.
      k.field->end(false);
      QTest::keyClicks(k.field, QStringLiteral("0"));
      QApplication::processEvents();
    }
    ASSERT_TRUE(k.field->hasFocus());
    ASSERT_FALSE(k.field->text().isEmpty());
    k.field->deselect();
    QTest::keyClick(k.field, Qt::Key_A, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(k.field->selectedText(), k.field->text()) << k.field->text().toStdString();
    EXPECT_EQ(View().loopIn, in);
    EXPECT_EQ(View().loopOut, out);
  }
  frame->view->setFocus();
  QTest::keyClick(frame->view, Qt::Key_A, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(View().loopIn, 0);
  EXPECT_EQ(View().loopOut, kPropertyPagesFrames - 1);
}

// What a user does at the keyboard: the field is clicked through the window,
// and every key goes through the window the way the platform delivers it
// (the focused widget is asked first whether it keeps the key, then the
// window's shortcuts). With every editing command of the window enabled, no
// key typed into a field of the pages, editable or read-only, runs one of
// them: Ctrl+A selects the field's text, Ctrl+X never cuts the audio.
TEST_F(PropertyPagesTest, KeysTypedIntoAFieldStayInTheField) {
  frame->show();
  QApplication::setActiveWindow(frame);
  frame->windowHandle()->requestActivate();
  View().SelectRegion(1);
  // An undo entry, a redo entry, a selection and audio on the clipboard:
  // Undo, Redo, Cut, Copy and Paste are all there to be stolen.
  // (A cut removes the audio once the current event is handled; the
  // clipboard's change brings every command's state up to date.)
  for (int64_t end : {30000, 28000}) {
    SelectSelection(26000, end);
    frame->commands.Run(cmd::kEditCut);
    QApplication::processEvents();
  }
  frame->commands.Run(cmd::kEditUndo);
  View().SelectRegion(1);
  SelectSelection(26000, 27000);
  frame->commands.Run(cmd::kEditCopy);
  QApplication::processEvents();
  std::vector<int> ran;
  for (const auto& [id, command] : frame->commands.Commands()) {
    if (command.key.empty()) continue;
    QObject::connect(frame->Action(id), &QAction::triggered, frame, [&ran, id = id] { ran.push_back(id); });
  }
  for (int id : {cmd::kEditUndo, cmd::kEditRedo, cmd::kEditCut, cmd::kEditCopy, cmd::kEditPaste, cmd::kSelectAll,
                 cmd::kDeleteWavData})
    ASSERT_TRUE(frame->Action(id)->isEnabled()) << id;
  const int64_t frames = doc->FrameCount(), in = View().loopIn, out = View().loopOut;
  const size_t undoEntries = doc->undoHistory.undoStack.size();

  struct Field {
    int tab;
    QLineEdit* edit;
    const char* name;
  };
  // Plain fields, the note-name fields and the read-only ones.
  const Field fields[] = {{0, region->Field(kRegionStart), "Start"},      {0, region->Field(kRegionRootKey), "Root"},
                          {0, region->Field(kRegionName), "Name"},        {0, region->Field(kRegionLoopIn), "Loop IN"},
                          {1, global->Field(kGlobalPitch), "Pitch"},      {1, global->Field(kGlobalRoot), "Default Root"},
                          {1, global->Field(kGlobalBeats), "Beats"}};
  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  };
  // Paste comes before Copy: a field copying its text would take the audio
  // off the clipboard.
  const Key keys[] = {{Qt::Key_A, Qt::ControlModifier},      {Qt::Key_V, Qt::ControlModifier},
                      {Qt::Key_X, Qt::ControlModifier},      {Qt::Key_Z, Qt::ControlModifier},
                      {Qt::Key_Y, Qt::ControlModifier},      {Qt::Key_C, Qt::ControlModifier},
                      {Qt::Key_Delete, Qt::ControlModifier}, {Qt::Key_Delete, Qt::NoModifier},
                      {Qt::Key_Home, Qt::NoModifier},        {Qt::Key_End, Qt::NoModifier},
                      {Qt::Key_Left, Qt::NoModifier},        {Qt::Key_Right, Qt::NoModifier}};
  for (const Field& f : fields) {
    for (const Key& k : keys) {
      const std::string what = std::string(f.name) + ": " + QKeySequence(k.key | k.modifiers).toString().toStdString();
      frame->propertiesPane->tabs()->setCurrentIndex(f.tab);
      QApplication::processEvents();
      QWidget* window = f.edit->window();
      QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, f.edit->mapTo(window, f.edit->rect().center()));
      ASSERT_TRUE(f.edit->hasFocus()) << what;
      f.edit->deselect();
      QTest::keyClick(QGuiApplication::focusWindow(), k.key, k.modifiers);
      QApplication::processEvents();
      EXPECT_THAT(ran, ::testing::IsEmpty()) << what;
      ran.clear();
      EXPECT_TRUE(f.edit->hasFocus()) << what;
      if (k.key == Qt::Key_A) EXPECT_EQ(f.edit->selectedText(), f.edit->text()) << what;
    }
  }
  EXPECT_EQ(doc->FrameCount(), frames);
  EXPECT_EQ(doc->undoHistory.undoStack.size(), undoEntries);
  EXPECT_EQ(View().loopIn, in);
  EXPECT_EQ(View().loopOut, out);
}

TEST_F(PropertyPagesTest, ScreenshotOfBothPages) {
  frame->show();
  View().SelectRegion(1);
  SelectSelection(26000, 30000);
  QApplication::processEvents();
  CRegionPane* pane = frame->propertiesPane;
  pane->tabs()->setCurrentIndex(0);
  QApplication::processEvents();
  const QImage regionImage = pane->grab().toImage();
  pane->tabs()->setCurrentIndex(1);
  QApplication::processEvents();
  const QImage globalImage = pane->grab().toImage();

  QImage both(regionImage.width() + globalImage.width() + 10, std::max(regionImage.height(), globalImage.height()),
              QImage::Format_ARGB32);
  both.fill(Qt::white);
  QPainter painter(&both);
  painter.drawImage(0, 0, regionImage);
  painter.drawImage(regionImage.width() + 10, 0, globalImage);
  painter.end();
  ASSERT_TRUE(both.save(ScreenshotPath(QStringLiteral("property_pages"))));

  screenshotOfPicker = ScreenshotPath(QStringLiteral("note_picker"));
  PickOnPiano(global->pickRootButton, 67);
  EXPECT_EQ(doc->instrument.params.rootNote, 67);
  pane->tabs()->setCurrentIndex(0);
  QApplication::processEvents();
  frame->grab().save(ScreenshotPath(QStringLiteral("pages_in_window")));
}

}  // namespace
}  // namespace zandrel

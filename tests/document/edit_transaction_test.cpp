#include "document/edit_transaction.h"

#include <gmock/gmock.h>

#include "document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Ev = RecordingObserver::Event;

class EditTransactionTest : public DocumentTest {
 protected:
  void SetUp() override {
    OpenRamp(1000);
    frame.log.Clear();
    observer.events.clear();
  }
  int16_t FirstSample() { return static_cast<int16_t>(ReadLE16(Doc().audio.data.data())); }
  // An audio edit as a command makes one: the checks first, then the
  // transaction around the change. False when nothing was changed.
  bool SetFirstSample(int16_t value) {
    if (value < 0) return false;  // the command's own refusal
    std::optional<EditTransaction> edit = EditTransaction::Begin(Doc(), kUndoWithAudio, "Set Sample");
    if (!edit) return false;
    Doc().NotifyAudioAboutToChange();
    WriteLE16(Doc().audio.data.data(), static_cast<uint16_t>(value));
    edit->Commit(DocumentChange::kAudio);
    return true;
  }
};

TEST_F(EditTransactionTest, ACommittedEditRecordsItsEntryMarksTheDocumentAndNotifiesOnce) {
  struct Case {
    int kind;
    DocumentChange change;
    SelectionMoved moved;
    std::vector<Ev> events;  // after the modified flag's kState
  };
  const Case cases[] = {
      {kUndoWithAudio, DocumentChange::kAudio, SelectionMoved::kNo, {Ev::kAudio}},
      {kUndoWithAudio, DocumentChange::kAudio, SelectionMoved::kYes, {Ev::kAudio, Ev::kSelection}},
      {kUndoRegionsOnly, DocumentChange::kInstrument, SelectionMoved::kNo, {Ev::kInstrument}},
      {kUndoRegionsOnly, DocumentChange::kInstrument, SelectionMoved::kYes, {Ev::kInstrument, Ev::kSelection}},
      {kUndoWithAudio, DocumentChange::kReplaced, SelectionMoved::kNo, {Ev::kReplaced}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.change) * 2 + static_cast<int>(c.moved));
    Doc().SetModifiedFlag(false);
    Doc().undoHistory.Clear();
    observer.events.clear();

    std::optional<EditTransaction> edit = EditTransaction::Begin(Doc(), c.kind, "Case");
    ASSERT_TRUE(edit);
    ASSERT_EQ(Doc().undoHistory.undoStack.size(), 1u);
    EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Case");
    EXPECT_EQ(Doc().undoHistory.undoStack.back().kind, c.kind);
    EXPECT_EQ(Doc().undoHistory.undoStack.back().HasSnapshot(), c.kind == kUndoWithAudio);
    // Nothing is told before the edit is done.
    EXPECT_FALSE(Doc().IsModified());
    EXPECT_TRUE(observer.events.empty());

    edit->Commit(c.change, c.moved);
    EXPECT_TRUE(edit->Committed());
    EXPECT_TRUE(Doc().IsModified());
    std::vector<Ev> expected{Ev::kState};
    expected.insert(expected.end(), c.events.begin(), c.events.end());
    EXPECT_THAT(observer.events, ElementsAreArray(expected));
  }
}

TEST_F(EditTransactionTest, AnEditOnAModifiedDocumentSendsOnlyItsChange) {
  ASSERT_TRUE(SetFirstSample(7));
  observer.events.clear();
  ASSERT_TRUE(SetFirstSample(9));
  EXPECT_THAT(observer.events, ElementsAre(Ev::kStop, Ev::kAudio));
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 2u);
  // The entries restore the audio as it was before each edit.
  Doc().Undo();
  EXPECT_EQ(FirstSample(), 7);
  Doc().Undo();
  EXPECT_EQ(FirstSample(), 0);
}

TEST_F(EditTransactionTest, ARefusalBeforeTheTransactionLeavesNoTrace) {
  ASSERT_TRUE(SetFirstSample(3));
  Doc().Undo();  // one redo entry, the document modified by the undo
  Doc().SetModifiedFlag(false);
  observer.events.clear();

  EXPECT_FALSE(SetFirstSample(-1));
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_TRUE(Doc().CanRedo());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_TRUE(observer.events.empty());
  EXPECT_EQ(FirstSample(), 0);
}

TEST_F(EditTransactionTest, ASnapshotThatCannotBeWrittenAsksAndADeclineLeavesNoTrace) {
  ASSERT_TRUE(SetFirstSample(3));
  Doc().Undo();
  Doc().SetModifiedFlag(false);
  observer.events.clear();
  const std::filesystem::path folder = Doc().undoHistory.snapshotFolder;
  Doc().undoHistory.snapshotFolder = "/dev/null/cannot-exist";

  host.Answer(MessageAnswer::No);
  EXPECT_FALSE(SetFirstSample(5));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_THAT(host.Shown().back().text,
              ::testing::StartsWith("The undo step for \"Set Sample\" could not be stored: "));
  EXPECT_EQ(host.Shown().back().buttons, MessageButtons::YesNo);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_TRUE(Doc().CanRedo());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_TRUE(observer.events.empty());
  EXPECT_EQ(FirstSample(), 0);

  // Going on without undo: the edit runs and is announced, but records nothing.
  host.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(SetFirstSample(5));
  EXPECT_EQ(host.Shown().size(), 2u);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(observer.events, ElementsAre(Ev::kStop, Ev::kState, Ev::kAudio));
  EXPECT_EQ(FirstSample(), 5);
  EXPECT_EQ(host.PendingAnswers(), 0u);
  Doc().undoHistory.snapshotFolder = folder;
}

TEST_F(EditTransactionTest, AnEditWithoutUndoKeepsTheHistoryAndIsAnnouncedLikeAnyOther) {
  ASSERT_TRUE(SetFirstSample(3));
  Doc().SetModifiedFlag(false);
  observer.events.clear();
  EditTransaction edit = EditTransaction::WithoutUndo(Doc());
  Doc().instrument.params.bpm = 90.0f;
  edit.Commit(DocumentChange::kInstrument);
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 1u);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(observer.events, ElementsAre(Ev::kState, Ev::kInstrument));
}

}  // namespace
}  // namespace zandrel

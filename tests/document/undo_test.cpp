#include <gmock/gmock.h>

#include <sys/stat.h>

#include <regex>

#include "document/quorvel_doc.h"
#include "document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using UndoEv = RecordingObserver::Event;
namespace fs = std::filesystem;

class UndoTest : public DocumentTest {
 protected:
  void SetUp() override {
    OpenRamp(1000, 44100, {{"smpl", SmplBody(60)}});
    frame.log.Clear();
    observer.events.clear();
  }
  // An audio edit as the processing commands make one.
  void AudioEdit(int16_t value, const std::string& what = "Gain") {
    ASSERT_TRUE(Doc().PushUndo(kUndoWithAudio, what));
    Doc().NotifyAudioAboutToChange();
    WriteLE16(Doc().audio.data.data(), static_cast<uint16_t>(value));
    Doc().SetModifiedFlag(true);
    Doc().UpdateAllViews(DocumentChange::kAudio);
  }
  int16_t FirstSample() { return static_cast<int16_t>(ReadLE16(Doc().audio.data.data())); }
  size_t SnapshotFiles() {
    const fs::path& folder = Doc().undoHistory.snapshotFolder;
    if (!fs::exists(folder)) return 0;
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }
};

TEST_F(UndoTest, AudioUndoAndRedoRestoreTheBytesAndChunks) {
  const CWavLoader original = Doc().audio.Clone();
  AudioEdit(-5);
  Doc().audio.chunks.clear();
  Doc().audio.data.resize(10);
  EXPECT_EQ(SnapshotFiles(), 1u);
  observer.events.clear();

  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, original.data);
  EXPECT_EQ(Doc().audio.chunks, original.chunks);
  EXPECT_EQ(Doc().audio.format, original.format);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), ElementsAre("Undo: Gain"));
  EXPECT_EQ(observer.Significant(), (std::vector<UndoEv>{UndoEv::kStop, UndoEv::kAudio}));
  ASSERT_EQ(Doc().undoHistory.redoStack.size(), 1u);
  EXPECT_EQ(Doc().undoHistory.redoStack.back().description, "Redo");
  EXPECT_EQ(SnapshotFiles(), 1u);  // the redo snapshot; the consumed one is gone

  Doc().Redo();
  EXPECT_EQ(Doc().audio.data.size(), 10u);
  EXPECT_EQ(FirstSample(), -5);
  EXPECT_TRUE(Doc().audio.chunks.empty());
  EXPECT_THAT(frame.Lines(), ElementsAre("Undo: Gain", "Redo: Redo"));  // the redo entry is labelled "Redo"
  EXPECT_TRUE(Doc().CanUndo());
  EXPECT_FALSE(Doc().CanRedo());
}

TEST_F(UndoTest, RegionsOnlyUndoLeavesTheAudioAlone) {
  Doc().instrument.hasInstrument = true;
  ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "Split Region"));
  Doc().instrument.regions.push_back({0, 500});
  const auto data = Doc().audio.data;
  observer.events.clear();
  Doc().Undo();
  EXPECT_TRUE(Doc().instrument.regions.empty());
  EXPECT_EQ(Doc().audio.data, data);
  ASSERT_EQ(Doc().undoHistory.redoStack.size(), 1u);
  EXPECT_EQ(Doc().undoHistory.redoStack[0].kind, kUndoRegionsOnly);
  EXPECT_EQ(Doc().undoHistory.redoStack[0].description, "Redo");
  EXPECT_EQ(observer.Significant(), (std::vector<UndoEv>{UndoEv::kInstrument}));  // no stop for regions only
  Doc().Redo();
  EXPECT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_EQ(SnapshotFiles(), 0u);
}

TEST_F(UndoTest, TheUndoStackKeepsFiftyEntriesAndDeletesTheOldestSnapshot) {
  AudioEdit(1, "first");
  const fs::path firstSnapshot = Doc().undoHistory.undoStack.front().snapshotPath;
  EXPECT_TRUE(std::regex_match(firstSnapshot.filename().string(),
                               std::regex(R"(Quorvel_\d{8}_\d{6}_\d{4}\.wav)")))
      << firstSnapshot;
  for (int i = 2; i <= 51; ++i) AudioEdit(static_cast<int16_t>(i));
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 50u);
  EXPECT_FALSE(fs::exists(firstSnapshot));
  EXPECT_EQ(SnapshotFiles(), 50u);
  EXPECT_EQ(Doc().undoHistory.undoStack.front().description, "Gain");
}

TEST_F(UndoTest, ANewEditClearsTheRedoStackAndItsSnapshots) {
  AudioEdit(7);
  Doc().Undo();
  const fs::path redoSnapshot = Doc().undoHistory.redoStack.back().snapshotPath;
  ASSERT_TRUE(fs::exists(redoSnapshot));
  AudioEdit(9);
  EXPECT_FALSE(Doc().CanRedo());
  EXPECT_FALSE(fs::exists(redoSnapshot));
}

TEST_F(UndoTest, AnUnreadableSnapshotDropsItsEntrySoOlderOnesStayReachable) {
  AudioEdit(3);
  AudioEdit(4);
  const struct {
    const char* name;
    void (*spoil)(const fs::path&);
  } cases[] = {
      {"deleted", [](const fs::path& p) { fs::remove(p); }},
      {"damaged", [](const fs::path& p) { WriteFileBytes(p, Text("not a wav")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioEdit(5);
    const size_t entries = Doc().undoHistory.undoStack.size();
    c.spoil(Doc().undoHistory.undoStack.back().snapshotPath);
    frame.log.Clear();
    const auto data = Doc().audio.data;
    Doc().Undo();
    EXPECT_THAT(frame.Lines(), ElementsAre("Error: Failed to restore audio from undo"));
    EXPECT_EQ(Doc().audio.data, data);
    EXPECT_EQ(Doc().undoHistory.undoStack.size(), entries - 1);  // the spoilt entry is gone
    EXPECT_FALSE(Doc().CanRedo());
    EXPECT_EQ(SnapshotFiles(), entries - 1);  // no snapshot of the failed step stays behind
  }
  // The older entries still work.
  Doc().Undo();
  EXPECT_EQ(FirstSample(), 3);
  Doc().Undo();
  EXPECT_EQ(FirstSample(), 0);
}

TEST_F(UndoTest, ASnapshotThatCannotBeWrittenAsksWhetherToGoOnWithoutUndo) {
  AudioEdit(3);
  Doc().Undo();  // one redo entry
  const fs::path folder = Doc().undoHistory.snapshotFolder;
  Doc().undoHistory.snapshotFolder = "/dev/null/cannot-exist";
  for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
    host.Answer(answer);
    EXPECT_EQ(Doc().PushUndo(kUndoWithAudio, "Normalize"), answer == MessageAnswer::Yes);
    ASSERT_FALSE(host.Shown().empty());
    EXPECT_THAT(host.Shown().back().text,
                ::testing::StartsWith("The undo step for \"Normalize\" could not be stored: cannot create a file"));
    EXPECT_THAT(host.Shown().back().text, ::testing::HasSubstr("go on without undo?"));
    EXPECT_EQ(host.Shown().back().buttons, MessageButtons::YesNo);
    EXPECT_THAT(frame.Lines(), Contains("Warning: Failed to save undo snapshot to temp file"));
    EXPECT_FALSE(Doc().CanUndo());  // nothing recorded either way
    EXPECT_TRUE(Doc().CanRedo());   // untouched
  }
  EXPECT_EQ(host.PendingAnswers(), 0u);

  // Redo needs a snapshot of the current audio first; without one, nothing moves.
  Doc().Redo();
  EXPECT_THAT(frame.Lines(), Contains("Error: Failed to save undo snapshot"));
  EXPECT_TRUE(Doc().CanRedo());
  Doc().undoHistory.snapshotFolder = folder;
  Doc().Redo();
  EXPECT_EQ(FirstSample(), 3);
}

TEST_F(UndoTest, OpeningAndTheDocumentsEndDeleteTheSnapshots) {
  AudioEdit(1);
  AudioEdit(2);
  Doc().Undo();
  const fs::path folder = Doc().undoHistory.snapshotFolder;
  EXPECT_EQ(SnapshotFiles(), 2u);
  OpenRamp(10);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().CanRedo());
  EXPECT_EQ(SnapshotFiles(), 0u);
  AudioEdit(5);
  DestroyDoc();
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(UndoTest, SnapshotsArePrivateToTheUser) {
  AudioEdit(1);
  struct stat st {};
  ASSERT_EQ(::stat(Doc().undoHistory.undoStack.back().snapshotPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(Doc().undoHistory.snapshotFolder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(UndoTest, UndoWithEmptyStacksDoesNothing) {
  Doc().Undo();
  Doc().Redo();
  EXPECT_TRUE(frame.Lines().empty());
  EXPECT_TRUE(observer.events.empty());
  EXPECT_FALSE(Doc().IsModified());
}

}  // namespace
}  // namespace zandrel

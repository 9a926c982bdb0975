#include "document/region_edits.h"

#include <gmock/gmock.h>

#include <cmath>
#include <ostream>

#include "document_fixture.h"

namespace zandrel {

// Readable failures for region lists.
static void PrintTo(const Region& r, std::ostream* os) {
  *os << "[" << r.startSample << "," << r.endSample << ") loop " << r.loopStart << ".." << r.loopEnd << " keys "
      << r.loKey << "-" << r.hiKey << " root " << r.rootNote;
}

namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using RegionEditsEv = RecordingObserver::Event;

// start, end, loop start, loop end, low key, high key, root
Region R(int64_t s, int64_t e, int64_t ls = -1, int64_t le = -1, int32_t lo = 0, int32_t hi = 127,
         int32_t root = 60) {
  return Region{s, e, ls, le, lo, hi, root};
}

class RegionEditsTest : public DocumentTest {
 protected:
  // A mono 16-bit document of |frames| frames (samples 0, 1, 2, ...) with
  // these regions, a clean log and no history.
  void Open(int64_t frames, std::vector<Region> regions = {}) {
    OpenRamp(frames);
    if (!regions.empty()) {
      Doc().instrument.hasInstrument = true;
      Doc().instrument.regions = std::move(regions);
    }
    Remember();
  }
  // What Undo must bring back.
  void Remember() {
    instrumentBefore_ = Doc().instrument;
    audioBefore_ = Doc().audio.data;
    frame.log.Clear();
    observer.events.clear();
  }
  const std::vector<Region>& Regions() { return Doc().instrument.regions; }

  // Exactly one undo entry of this kind and label, and Undo restores the
  // state remembered before the edit.
  void ExpectUndoRestores(int32_t kind, const std::string& description) {
    ASSERT_EQ(Doc().undoHistory.undoStack.size(), 1u);
    EXPECT_EQ(Doc().undoHistory.undoStack.back().kind, kind);
    EXPECT_EQ(Doc().undoHistory.undoStack.back().description, description);
    Doc().Undo();
    EXPECT_EQ(Doc().instrument, instrumentBefore_);
    EXPECT_EQ(Doc().audio.data, audioBefore_);
  }

  // The view's state an edit reads and changes: |view|, set afresh by each
  // helper. The selection helper also leaves a selected region, loop
  // playback and beat markers behind, so that a test sees whether the edit
  // cleared them.
  ViewSelection& Selected(int32_t index) {
    view = {};
    view.selectedRegion = index;
    return view;
  }
  ViewSelection& Cursor(int64_t frame, int32_t selected = -1) {
    view = {};
    view.cursorFrame = frame;
    view.selectedRegion = selected;
    return view;
  }
  ViewSelection& Selection(int64_t in, int64_t out) {
    view = {};
    view.loopIn = in;
    view.loopOut = out;
    view.loopPlayback = true;
    view.selectedRegion = 1;
    view.beatMarkers = {10, 20};
    return view;
  }
  // No region selected, no selection, no loop playback.
  void ExpectSelectionDropped() {
    EXPECT_EQ(view.selectedRegion, -1);
    EXPECT_EQ(view.loopIn, -1);
    EXPECT_EQ(view.loopOut, -1);
    EXPECT_FALSE(view.loopPlayback);
  }

  ViewSelection view;

  InstrumentData instrumentBefore_;
  std::vector<uint8_t> audioBefore_;
};

// ------------------------------------------------------------------ split --

TEST_F(RegionEditsTest, SplitAtTheRegionLimitIsRefusedWithoutAnUndoEntry) {
  std::vector<Region> eight;
  for (int i = 0; i < 8; ++i) eight.push_back(R(i * 100, i * 100 + 100));
  Open(1000, eight);
  const RegionEditResult r = SplitRegion(Doc(), Cursor(150));
  const std::string text = "Cannot split: Already have maximum of 8 regions supported by EP.";
  EXPECT_THAT(frame.Lines(), ElementsAre(text));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, text);
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Warning);
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(Regions(), eight);
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(RegionEditsTest, SplitWithoutRegionsMakesTwoHalvesOfTheKeyboard) {
  Open(5000);
  const RegionEditResult r = SplitRegion(Doc(), Cursor(1000));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 1000, -1, -1, 0, 63, 60), R(1000, 5000, -1, -1, 64, 127, 72)));
  EXPECT_TRUE(Doc().instrument.hasInstrument);
  EXPECT_THAT(frame.Lines(), ElementsAre("Created two new regions from split."));
  EXPECT_TRUE(r.changed);
  ExpectSelectionDropped();
  EXPECT_TRUE(Doc().IsModified());
  // The views learn of the regions first, then of the cleared selection.
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument, RegionEditsEv::kSelection}));
  ExpectUndoRestores(kUndoRegionsOnly, "Split Region");
}

TEST_F(RegionEditsTest, SplitPartReachesTheNextRegionAndTakesTheKeys) {
  Open(1000, {R(0, 100, -1, -1, 10, 41, 20), R(200, 300, -1, -1, 41, 127, 80)});
  const RegionEditResult r = SplitRegion(Doc(), Cursor(150, 0));
  // The cursor lay after the region's end: the split region still reaches it.
  EXPECT_THAT(Regions(), ElementsAre(R(0, 150, -1, -1, 10, 41, 20), R(150, 200, -1, -1, 10, 41, 25),
                                     R(200, 300, -1, -1, 41, 127, 80)));
  EXPECT_THAT(frame.Lines(), ElementsAre("Region split at sample 150. Created 3 regions total."));
  EXPECT_TRUE(r.changed);
  ExpectSelectionDropped();
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument, RegionEditsEv::kSelection}));
  EXPECT_TRUE(host.Shown().empty());
  ExpectUndoRestores(kUndoRegionsOnly, "Split Region");
}

TEST_F(RegionEditsTest, SplitOfTheLastRegionRunsToTheEndOfTheAudio) {
  Open(1000, {R(0, 100), R(200, 300)});
  SplitRegion(Doc(), Cursor(600));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 100), R(200, 600), R(600, 1000, -1, -1, 0, 127, 63)));
}

TEST_F(RegionEditsTest, SplitRefusalsLeaveTheRegionsAndAnUndoEntry) {
  struct Case {
    const char* what;
    int64_t cursor;
    std::vector<std::string> log;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"on a region's start", 200, {"Cursor is at the start of a region. Cannot split here."}, {}},
      {"before every region",
       50,
       {"Cursor is not within any region. Place cursor inside a region to split."},
       {"Cursor must be within a region to split it."}},
      {"at frame 0", 0, {"Invalid cursor position for split."}, {}},
      {"at the end of the audio", 1000, {"Invalid cursor position for split."}, {}},
      {"without a cursor", -1, {"Invalid cursor position for split."}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t boxesBefore = host.Shown().size();
    Open(1000, {R(100, 200), R(200, 300)});
    const RegionEditResult r = SplitRegion(Doc(), Cursor(c.cursor));
    EXPECT_EQ(frame.Lines(), c.log);
    ASSERT_EQ(host.Shown().size(), boxesBefore + c.boxes.size());
    for (size_t i = 0; i < c.boxes.size(); ++i) {
      EXPECT_EQ(host.Shown()[boxesBefore + i].text, c.boxes[i]);
      EXPECT_EQ(host.Shown()[boxesBefore + i].icon, MessageIcon::Warning);
    }
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(view.selectedRegion, -1);
    EXPECT_EQ(view.cursorFrame, c.cursor);
    EXPECT_TRUE(observer.Significant().empty());
    EXPECT_THAT(Regions(), ElementsAre(R(100, 200), R(200, 300)));
    ExpectUndoRestores(kUndoRegionsOnly, "Split Region");
  }
}

TEST_F(RegionEditsTest, SplitWithoutAudioIsRefusedAfterTheUndoEntry) {
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {R(0, 100)};
  Remember();
  SplitRegion(Doc(), Cursor(50));
  EXPECT_THAT(frame.Lines(), ElementsAre("No audio data loaded."));
  ExpectUndoRestores(kUndoRegionsOnly, "Split Region");
}

TEST_F(RegionEditsTest, SplitNeverLeavesALoopThatStartsAtOrAfterItsEnd) {
  struct Case {
    Region a;
    Region aAfter;
    std::string logLine;
  };
  const Case cases[] = {
      // The loop lay wholly after the cursor: it goes.
      {R(0, 1000, 600, 900), R(0, 500), "Region A loop was removed (it started at or after the split point)."},
      {R(0, 1000, 500, 900), R(0, 500), "Region A loop was removed (it started at or after the split point)."},
      // The loop straddles the cursor: its end moves to the cursor.
      {R(0, 1000, 100, 900), R(0, 500, 100, 500), "Region A loop was changed."},
  };
  for (const Case& c : cases) {
    Open(2000, {c.a});
    SplitRegion(Doc(), Cursor(500));
    ASSERT_EQ(Regions().size(), 2u);
    EXPECT_EQ(Regions()[0], c.aAfter);
    EXPECT_FALSE(Regions()[1].HasLoop());
    EXPECT_THAT(frame.Lines(), ElementsAre(c.logLine, "Region split at sample 500. Created 2 regions total."));
  }
  // A loop that ends before the cursor is left alone, without a log line.
  Open(2000, {R(0, 1000, 100, 400)});
  SplitRegion(Doc(), Cursor(500));
  EXPECT_EQ(Regions()[0], R(0, 500, 100, 400));
  EXPECT_THAT(frame.Lines(), ElementsAre("Region split at sample 500. Created 2 regions total."));
}

TEST_F(RegionEditsTest, ASplitRefusedAfterSortingFollowsTheSelectedRegion) {
  // Unsorted list; the selected region (index 0) becomes index 1 when sorted.
  Open(5000, {R(1000, 2000, -1, -1, 64, 127, 70), R(0, 500, -1, -1, 0, 63, 30)});
  RegionEditResult r = SplitRegion(Doc(), Cursor(1000, 0));
  EXPECT_THAT(frame.Lines(), ElementsAre("Cursor is at the start of a region. Cannot split here."));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 500, -1, -1, 0, 63, 30), R(1000, 2000, -1, -1, 64, 127, 70)));
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(view.selectedRegion, 1);
  // The order changed, and the selected region with it.
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument, RegionEditsEv::kSelection}));

  Open(5000, {R(3000, 4000), R(1000, 2000)});
  r = SplitRegion(Doc(), Cursor(500, 1));
  EXPECT_EQ(host.Texts().back(), "Cursor must be within a region to split it.");
  EXPECT_EQ(view.selectedRegion, 0);

  // Already sorted: the selection stays as it is, and nobody is told.
  Open(5000, {R(1000, 2000), R(3000, 4000)});
  r = SplitRegion(Doc(), Cursor(3000, 1));
  EXPECT_EQ(view.selectedRegion, 1);
  EXPECT_TRUE(observer.Significant().empty());
}

// ----------------------------------------------------------------- delete --

TEST_F(RegionEditsTest, DeletingTheOnlyRegionLeavesNone) {
  Open(1000, {R(0, 1000)});
  const RegionEditResult r = DeleteRegion(Doc(), Selected(0));
  EXPECT_TRUE(Regions().empty());
  EXPECT_THAT(frame.Lines(), ElementsAre("Region deleted and adjacent regions adjusted."));
  EXPECT_TRUE(r.changed);
  ExpectSelectionDropped();
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument, RegionEditsEv::kSelection}));
  EXPECT_TRUE(Doc().IsModified());
  ExpectUndoRestores(kUndoWithAudio, "Delete Region");
}

TEST_F(RegionEditsTest, NeighboursTakeOverTheDeletedSpan) {
  const std::vector<Region> three = {R(0, 100, -1, -1, 0, 40, 20), R(100, 200, -1, -1, 40, 80, 60),
                                     R(200, 300, -1, -1, 80, 127, 100)};
  struct Case {
    int32_t index;
    std::vector<Region> after;
  };
  const Case cases[] = {
      {0, {R(0, 200, -1, -1, 0, 80, 60), R(200, 300, -1, -1, 80, 127, 100)}},
      {1, {R(0, 200, -1, -1, 0, 80, 20), R(200, 300, -1, -1, 80, 127, 100)}},
      // The last one: the middle region takes its end and high key 127.
      {2, {R(0, 100, -1, -1, 0, 40, 20), R(100, 300, -1, -1, 40, 127, 60)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    Open(1000, three);
    DeleteRegion(Doc(), Selected(c.index));
    EXPECT_EQ(Regions(), c.after);
    EXPECT_THAT(frame.Lines(), ElementsAre("Region deleted and adjacent regions adjusted."));
    ExpectUndoRestores(kUndoWithAudio, "Delete Region");
  }
}

TEST_F(RegionEditsTest, DeleteSortsBeforeItPicksTheNeighbours) {
  // By start the selected region [150, 200) is the middle one. Read by index
  // it would be the last, and [300, 400) would end at 200, before its start.
  Open(1000, {R(0, 100, -1, -1, 0, 40, 20), R(300, 400, -1, -1, 80, 127, 100), R(150, 200, -1, -1, 40, 80, 60)});
  DeleteRegion(Doc(), Selected(2));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 300, -1, -1, 0, 80, 20), R(300, 400, -1, -1, 80, 127, 100)));
  EXPECT_THAT(frame.Lines(), ElementsAre("Region deleted and adjacent regions adjusted."));
}

TEST_F(RegionEditsTest, DeleteWithoutAValidSelectionOnlyLogs) {
  for (int32_t index : {-1, 2}) {
    Open(1000, {R(0, 500), R(500, 1000)});
    const RegionEditResult r = DeleteRegion(Doc(), Selected(index));
    EXPECT_THAT(frame.Lines(), ElementsAre("No valid region selected for deletion."));
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(view.selectedRegion, index);
    EXPECT_TRUE(observer.Significant().empty());
    ExpectUndoRestores(kUndoWithAudio, "Delete Region");
  }
}

// ----------------------------------------------------------- remove audio --

TEST_F(RegionEditsTest, RemovingAudioNearTheStartTakesItFromFrameZero) {
  Open(10000, {R(0, 5000, -1, -1, 0, 60, 30), R(5000, 10000, -1, -1, 60, 127, 90)});
  const RegionEditResult r = RemoveAudioData(Doc(), Selection(50, 1000));
  EXPECT_EQ(Doc().FrameCount(), 9000);
  EXPECT_EQ(static_cast<int16_t>(ReadLE16(Doc().audio.data.data())), 1000);  // the ramp now starts at 1000
  EXPECT_THAT(Regions(), ElementsAre(R(0, 4000, -1, -1, 0, 60, 30), R(4000, 9000, -1, -1, 60, 127, 90)));
  EXPECT_THAT(frame.Lines(),
              ElementsAre("Removed 1000 samples (2000 bytes) from sample 0 to 1000.", "Remaining regions: 2"));
  EXPECT_TRUE(r.changed);
  ExpectSelectionDropped();
  EXPECT_TRUE(view.beatMarkers.empty());
  EXPECT_TRUE(Doc().IsModified());
  // Playback stops before the audio changes; the audio is announced once,
  // then the cleared selection.
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kStop, RegionEditsEv::kAudio, RegionEditsEv::kSelection}));
  ExpectUndoRestores(kUndoWithAudio, "Remove Audio Data");
}

TEST_F(RegionEditsTest, RemovingAudioNearTheEndTakesItToTheEnd) {
  Open(10000, {R(0, 10000)});
  RemoveAudioData(Doc(), Selection(6000, 9950));
  EXPECT_EQ(Doc().FrameCount(), 6000);
  EXPECT_THAT(Regions(), ElementsAre(R(0, 6000)));
  EXPECT_EQ(frame.Lines().front(), "Removed 4000 samples (8000 bytes) from sample 6000 to 10000.");
}

TEST_F(RegionEditsTest, RemovingAudioWithoutRegionsMakesOneDefaultRegion) {
  Open(10000);
  RemoveAudioData(Doc(), Selection(2000, 3000));
  EXPECT_TRUE(Doc().instrument.hasInstrument);
  EXPECT_THAT(Regions(), ElementsAre(R(0, 9000)));
  EXPECT_THAT(frame.Lines(), ElementsAre("WARNING: All regions were removed. Creating default region.",
                                         "Removed 1000 samples (2000 bytes) from sample 2000 to 3000.",
                                         "Remaining regions: 1"));
  ExpectUndoRestores(kUndoWithAudio, "Remove Audio Data");
}

TEST_F(RegionEditsTest, AnAudioEditWhoseUndoStepCannotBeStoredChangesNothingWhenTheUserSaysNo) {
  Open(10000, {R(0, 5000, -1, -1, 0, 60, 30), R(5000, 10000, -1, -1, 60, 127, 90)});
  Doc().undoHistory.snapshotFolder = "/dev/null/cannot-exist";  // as on a full disk
  host.Answer(MessageAnswer::No).Answer(MessageAnswer::No);
  const RegionEditResult removed = RemoveAudioData(Doc(), Selection(2000, 3000));
  const RegionEditResult deleted = DeleteRegion(Doc(), Selected(1));
  EXPECT_EQ(host.PendingAnswers(), 0u);  // both asked
  EXPECT_FALSE(removed.changed);
  EXPECT_FALSE(deleted.changed);
  EXPECT_EQ(Doc().instrument, instrumentBefore_);
  EXPECT_EQ(Doc().audio.data, audioBefore_);
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_FALSE(Doc().CanUndo());

  // Yes: the edit goes on, without an undo entry.
  host.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(RemoveAudioData(Doc(), Selection(2000, 3000)).changed);
  EXPECT_EQ(Doc().FrameCount(), 9000);
  EXPECT_FALSE(Doc().CanUndo());
}

TEST_F(RegionEditsTest, RemoveAudioRefusals) {
  struct Case {
    int64_t in, out;
    std::string log;
    std::string box;
  };
  const Case cases[] = {
      {-1, 5000, "No loop points set. Cannot remove data.", "Please set loop points first (loop start and loop end)."},
      {2000, -1, "No loop points set. Cannot remove data.", "Please set loop points first (loop start and loop end)."},
      {3000, 3000, "Invalid loop range. Loop start must be before loop end.",
       "Invalid loop range. Loop start must be before loop end."},
      {3000, 10001, "Loop range exceeds file boundaries.", "Loop range exceeds file boundaries."},
      {-5, 3000, "Loop range exceeds file boundaries.", "Loop range exceeds file boundaries."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log + " " + std::to_string(c.in));
    Open(10000, {R(0, 10000)});
    const RegionEditResult r = RemoveAudioData(Doc(), Selection(c.in, c.out));
    EXPECT_THAT(frame.Lines(), ElementsAre(c.log));
    EXPECT_EQ(host.Shown().back().text, c.box);
    EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(Doc().FrameCount(), 10000);
    EXPECT_TRUE(observer.Significant().empty());  // playback is left running
    // A refused removal leaves the view as it was: beat markers, selection
    // and selected region.
    EXPECT_EQ(view.beatMarkers, (std::vector<int64_t>{10, 20}));
    EXPECT_EQ(view.loopIn, c.in);
    EXPECT_EQ(view.loopOut, c.out);
    EXPECT_EQ(view.selectedRegion, 1);
    ExpectUndoRestores(kUndoWithAudio, "Remove Audio Data");
  }

  DestroyDoc();
  Doc();
  Remember();
  RemoveAudioData(Doc(), Selection(0, 10));
  EXPECT_EQ(frame.Lines().back(), "No audio data loaded.");
}

// The removal of [4000, 6000) from 10000 frames, one region at a time.
TEST_F(RegionEditsTest, RemovedAudioMovesEachKindOfRegion) {
  const std::string removed = "Removed 2000 samples (4000 bytes) from sample 4000 to 6000.";
  struct Case {
    const char* what;
    Region before;
    std::vector<Region> after;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"wholly before", R(1000, 3000, 1500, 2500), {R(1000, 3000, 1500, 2500)}, {removed, "Remaining regions: 1"}},
      {"wholly inside",
       R(4500, 5500, 4600, 5400),
       {R(0, 8000)},
       {"Region 0 will be removed (entirely within deleted area).",
        "WARNING: All regions were removed. Creating default region.", removed, "Remaining regions: 1"}},
      {"wholly after", R(7000, 9000, 7500, 8500), {R(5000, 7000, 5500, 6500)}, {removed, "Remaining regions: 1"}},
      {"cut at its end", R(2000, 5000, 3000, 4500), {R(2000, 4000, 3000, 4000)}, {removed, "Remaining regions: 1"}},
      {"spanning", R(2000, 8000, 5000, 7000), {R(2000, 6000, 4000, 5000)}, {removed, "Remaining regions: 1"}},
      {"spanning, loop before and after", R(2000, 8000, 3000, 7000), {R(2000, 6000, 3000, 5000)},
       {removed, "Remaining regions: 1"}},
      {"cut at its start", R(5000, 9000, 5500, 8000), {R(4000, 7000, 4000, 6000)}, {removed, "Remaining regions: 1"}},
      {"cut at its start, no loop", R(5000, 9000), {R(4000, 7000)}, {removed, "Remaining regions: 1"}},
      {"spanning, no loop", R(2000, 8000), {R(2000, 6000)}, {removed, "Remaining regions: 1"}},
      // A loop that lay wholly in the removed audio would keep no length.
      {"cut at its end, loop removed",
       R(2000, 5000, 4200, 4800),
       {R(2000, 4000)},
       {"Region 0 loop removed (it lay within the deleted area).", removed, "Remaining regions: 1"}},
      {"spanning, loop removed",
       R(2000, 8000, 4500, 5500),
       {R(2000, 6000)},
       {"Region 0 loop removed (it lay within the deleted area).", removed, "Remaining regions: 1"}},
      {"cut at its start, loop removed",
       R(5000, 9000, 5200, 5800),
       {R(4000, 7000)},
       {"Region 0 loop removed (it lay within the deleted area).", removed, "Remaining regions: 1"}},
      // What is left of a region shorter than 10 frames goes afterwards.
      {"cut to five frames",
       R(3995, 5000),
       {},
       {removed, "Remaining regions: 1", "Removed orphaned region: startSample=3995, endSample=4000 (size=5 samples)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(10000, {c.before});
    RemoveAudioData(Doc(), Selection(4000, 6000));
    EXPECT_EQ(Regions(), c.after);
    EXPECT_EQ(frame.Lines(), c.log);
    for (const Region& r : Regions()) {
      EXPECT_LT(r.startSample, r.endSample);
      if (r.HasLoop()) {
        EXPECT_LE(r.startSample, r.loopStart);
        EXPECT_LT(r.loopStart, r.loopEnd);
        EXPECT_LE(r.loopEnd, r.endSample);
      }
    }
  }
}

TEST_F(RegionEditsTest, RemovedAudioKeepsTheOtherRegionsInOrder) {
  Open(10000, {R(0, 3000, -1, -1, 0, 40, 20), R(3000, 4500, -1, -1, 40, 60, 50), R(4500, 5500, -1, -1, 60, 80, 70),
               R(5500, 10000, -1, -1, 80, 127, 100)});
  RemoveAudioData(Doc(), Selection(4000, 6000));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 3000, -1, -1, 0, 40, 20), R(3000, 4000, -1, -1, 40, 80, 50),
                                     R(4000, 8000, -1, -1, 80, 127, 100)));
  EXPECT_THAT(frame.Lines(), ElementsAre("Region 2 will be removed (entirely within deleted area).",
                                         "Removed 2000 samples (4000 bytes) from sample 4000 to 6000.",
                                         "Remaining regions: 3", "Adjusted region 1 hiKey from 60 to 79 (Closing gap to be adjacent)",
                                         "MIDI key ranges sanitized to ensure continuous coverage."));
}

// ------------------------------------------------------------------- edit --

TEST_F(RegionEditsTest, EditingALoopInOneShotModeSwitchesToKey) {
  Open(10000, {R(0, 5000), R(5000, 10000)});
  Doc().instrument.params.playMode = "oneshot";
  Remember();
  const Region page = R(0, 5000, 1000, 4000, 0, 70, 64);
  const RegionEditResult r = EditRegion(Doc(), Selected(0), page);
  EXPECT_EQ(Regions()[0], page);
  EXPECT_EQ(Doc().instrument.params.playMode, "key");
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(view.selectedRegion, 0);
  // The Global page follows the settings from this notification.
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument}));
  EXPECT_THAT(frame.Lines(), ElementsAre("Updated Region", "The Play Mode was changed to key"));
  EXPECT_TRUE(Doc().IsModified());
  ExpectUndoRestores(kUndoRegionsOnly, "Edit Region");
}

TEST_F(RegionEditsTest, EditingWithoutLoopKeepsOneShot) {
  Open(10000, {R(0, 10000)});
  Doc().instrument.params.playMode = "oneshot";
  const RegionEditResult r = EditRegion(Doc(), Selected(0), R(0, 9000));
  EXPECT_EQ(Doc().instrument.params.playMode, "oneshot");
  EXPECT_TRUE(r.changed);
  EXPECT_THAT(frame.Lines(), ElementsAre("Updated Region"));
}

TEST_F(RegionEditsTest, EditWithoutASelectedRegionOnlyLogs) {
  for (int32_t index : {-1, 1}) {
    Open(1000, {R(0, 1000)});
    const RegionEditResult r = EditRegion(Doc(), Selected(index), R(0, 10));
    EXPECT_THAT(frame.Lines(), ElementsAre("No Selected Region !"));
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(view.selectedRegion, index);
    EXPECT_TRUE(observer.Significant().empty());
    ExpectUndoRestores(kUndoRegionsOnly, "Edit Region");
  }
  // Regions without instrument data are not edited either.
  Open(1000, {R(0, 1000)});
  Doc().instrument.hasInstrument = false;
  EditRegion(Doc(), Selected(0), R(0, 10));
  EXPECT_THAT(frame.Lines(), ElementsAre("No Selected Region !"));
}

TEST_F(RegionEditsTest, EditedRegionsAreFittedIntoTheAudio) {
  struct Case {
    Region page;
    Region stored;
    std::string warning;  // "" = none
  };
  const std::string w = "Warning: Region corrected to fit the audio: ";
  const Case cases[] = {
      {R(1000, 2000, 1200, 1800), R(1000, 2000, 1200, 1800), ""},
      {R(1000, 2000, 1000, 2000), R(1000, 2000, 1000, 2000), ""},
      {R(-5, 12000), R(0, 10000), w + "start -5 -> 0, end 12000 -> 10000."},
      {R(10000, 10000), R(9999, 10000), w + "start 10000 -> 9999."},
      {R(1500, 1200), R(1500, 1501), w + "end 1200 -> 1501."},
      {R(1000, 2000, 500, 1500), R(1000, 2000, 1000, 1500), w + "loop start 500 -> 1000."},
      {R(1000, 2000, 1500, 2500), R(1000, 2000, 1500, 2000), w + "loop end 2500 -> 2000."},
      {R(1000, 2000, 3000, 4000), R(1000, 2000), w + "loop 3000 to 4000 removed (not inside the region)."},
      {R(1000, 2000, 1800, 1200), R(1000, 2000), w + "loop 1800 to 1200 removed (not inside the region)."},
      {R(1000, 2000, 1500, 1500), R(1000, 2000), w + "loop 1500 to 1500 removed (not inside the region)."},
      {R(1000, 2000, 1500, -1), R(1000, 2000), w + "loop removed (only one loop point was set)."},
      {R(1000, 2000, -1, 1500), R(1000, 2000), w + "loop removed (only one loop point was set)."},
      {R(2000, 20000, 3000, 15000), R(2000, 10000, 3000, 10000), w + "end 20000 -> 10000, loop end 15000 -> 10000."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.page));
    Open(10000, {R(1000, 2000)});
    const RegionEditResult r = EditRegion(Doc(), Selected(0), c.page);
    EXPECT_EQ(Regions()[0], c.stored);
    if (c.warning.empty()) {
      EXPECT_THAT(frame.Lines(), ElementsAre("Updated Region"));
    } else {
      EXPECT_THAT(frame.Lines(), ElementsAre("Updated Region", c.warning));
    }
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(view.selectedRegion, 0);
  }
}

TEST_F(RegionEditsTest, AnEditedRegionMovesToItsPlaceByStart) {
  Open(10000, {R(0, 1000), R(1000, 2000), R(2000, 3000)});
  Remember();
  EditRegion(Doc(), Selected(0), R(2500, 2800));
  EXPECT_THAT(Regions(), ElementsAre(R(1000, 2000), R(2000, 3000), R(2500, 2800)));
  EXPECT_EQ(view.selectedRegion, 2);
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument, RegionEditsEv::kSelection}));

  // Equal starts keep their order.
  EditRegion(Doc(), Selected(2), R(1000, 1500));
  EXPECT_THAT(Regions(), ElementsAre(R(1000, 2000), R(1000, 1500), R(2000, 3000)));
  EXPECT_EQ(view.selectedRegion, 1);
}

TEST_F(RegionEditsTest, EditWithoutAudioIsRefused) {
  // Instrument data can outlive its audio only in a document built by hand;
  // no region fits into no frames, so nothing is stored.
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {R(0, 100)};
  Remember();
  const RegionEditResult r = EditRegion(Doc(), Selected(0), R(0, 50));
  EXPECT_THAT(frame.Lines(), ElementsAre("No audio data loaded."));
  EXPECT_FALSE(r.changed);
  ExpectUndoRestores(kUndoRegionsOnly, "Edit Region");
}

TEST_F(RegionEditsTest, EditGlobalParametersCopiesEveryField) {
  Open(1000);
  InstrumentParams page;
  page.playMode = "legato";
  page.rootNote = 48;
  page.pitch = -3;
  page.bpm = 97.5f;
  page.bars = 3;
  page.loopStart = 10;
  page.loopEnd = 20;
  page.smplUnityNote = 50;
  const RegionEditResult r = EditGlobalParameters(Doc(), page);
  EXPECT_EQ(Doc().instrument.params, page);
  EXPECT_TRUE(Doc().instrument.hasInstrument);
  EXPECT_TRUE(r.changed);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), ElementsAre("Updated Global"));
  EXPECT_EQ(observer.Significant(), (std::vector<RegionEditsEv>{RegionEditsEv::kInstrument}));
  ExpectUndoRestores(kUndoRegionsOnly, "Edit Global Parameters");
}

// --------------------------------------------------------- single region --

TEST_F(RegionEditsTest, CreateSingleRegionCoversTheAudio) {
  Open(5000, {R(0, 100), R(100, 5000)});
  const RegionEditResult r = CreateSingleRegion(Doc(), Selection(0, 100));
  EXPECT_THAT(Regions(), ElementsAre(R(0, 5000)));
  EXPECT_THAT(frame.Lines(), ElementsAre("Created single region spanning 5000 samples (0 to 5000)."));
  EXPECT_TRUE(r.changed);
  ExpectSelectionDropped();
  ExpectUndoRestores(kUndoRegionsOnly, "Create Single Region");

  DestroyDoc();
  Doc();
  Remember();
  EXPECT_FALSE(CreateSingleRegion(Doc(), Selection(0, 100)).changed);
  EXPECT_EQ(view.selectedRegion, 1);
  EXPECT_FALSE(CreateSingleRegionWithRoot(Doc(), 60));
  EXPECT_THAT(frame.Lines(), ElementsAre("No audio data loaded.", "No audio data loaded."));
  EXPECT_EQ(Doc().undoHistory.undoStack.size(), 2u);
}

TEST_F(RegionEditsTest, CreateSingleRegionWithRootPicksTheRoot) {
  struct Case {
    const char* what;
    bool hasInstrument;
    int smplUnity;
    int argument;
    int root;
  };
  const Case cases[] = {
      {"smpl unity note of a file without instrument data", false, 48, -1, 48},
      {"the instrument's root when it has instrument data", true, 48, -1, 62},
      {"the instrument's root without a smpl note", false, -1, -1, 62},
      {"the argument when it is a note", true, 48, 30, 30},
      {"an argument beyond the keyboard is its top key", true, 48, 200, 127},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(5000, {R(0, 2000), R(2000, 5000)});
    InstrumentData& inst = Doc().instrument;
    inst.hasInstrument = c.hasInstrument;
    inst.params.smplUnityNote = c.smplUnity;
    inst.params.rootNote = 62;
    inst.params.playMode = "oneshot";
    Remember();
    EXPECT_TRUE(CreateSingleRegionWithRoot(Doc(), c.argument));
    EXPECT_THAT(Regions(), ElementsAre(R(0, 5000, -1, -1, 0, 127, c.root)));
    EXPECT_EQ(inst.params.rootNote, c.root);
    EXPECT_EQ(inst.params.playMode, "key");
    EXPECT_TRUE(inst.hasInstrument);
    EXPECT_THAT(frame.Lines(), ElementsAre(Format(
                                   "Created single region spanning 5000 samples (0 to 5000) with root note %d.", c.root)));
    EXPECT_TRUE(Doc().IsModified());
    ExpectUndoRestores(kUndoRegionsOnly, "Create Single Region");
  }
}

// ------------------------------------------------------------------ beats --

TEST(BeatsTextTest, SecondsTimesTempo) {
  EXPECT_EQ(BeatsText(2.0f, 120.0f), "4.00");
  EXPECT_EQ(BeatsText(1.5f, 90.0f), "2.25");
  EXPECT_EQ(BeatsText(0.0f, 120.0f), "0.00");
  EXPECT_EQ(BeatsText(-1.0f, 120.0f), "0.00");
  EXPECT_EQ(BeatsText(2.0f, 0.0f), "0.00");
  EXPECT_EQ(BeatsText(std::nanf(""), 120.0f), "0.00");
}

}  // namespace
}  // namespace zandrel

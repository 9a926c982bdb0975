// The shared steps of every processing command: refusals with their texts,
// undo entries only where due, Undo restoring the audio byte for byte, and
// long work that can be cancelled or outlived by its document.
#include "processing/processing_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "processing/processing_fixture.h"
#include "processing/registered_commands.h"

namespace zandrel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What each command must say and record, written out independently of the
// declarations so that a wrong declaration fails here.
struct Expected {
  int id;
  bool silentWithoutAudio;
  const char* rangeText;        // a failed range
  const char* emptyRangeText;   // a selection wholly past the audio (raw selection only; else rangeText)
  const char* depthText24;      // shown for 24-bit audio when 24-bit is refused (nullptr: accepted)
  const char* depthText12;      // shown for 12-bit audio
  bool depthAfterUndo;
  const char* undoLabel;
  bool logs;
};

constexpr const char* kInvalidLoop = "Invalid loop region. Please set loop start and end points first.";
constexpr const char* kNoLoopSet = "No valid loop region set. Use Playback > Set Loop In/Out first.";

const Expected kExpected[] = {
    {32789, false, kInvalidLoop, kInvalidLoop, nullptr, "Unsupported bit depth: 12-bit", true, "Fade Out", true},
    {32791, false, kInvalidLoop, kInvalidLoop, nullptr, "Unsupported bit depth: 12-bit", true, "Fade In (Linear)",
     true},
    {32793, false, kInvalidLoop, kInvalidLoop, nullptr, "Unsupported bit depth: 12-bit", true,
     "Fade In (Exponential)", true},
    {32795, false, kInvalidLoop, kInvalidLoop, nullptr, "Unsupported bit depth: 12-bit", true,
     "Fade Out (Exponential)", true},
    {32790, false, kInvalidLoop, kInvalidLoop, "This effect currently only supports 16-bit audio.\nYour file is 24-bit.",
     "This effect currently only supports 16-bit audio.\nYour file is 12-bit.", false, "Fade Out to Reverb", true},
    {32794, true, "Invalid loop region.", "Invalid loop region.", "This effect currently only supports 16-bit audio.",
     "This effect currently only supports 16-bit audio.", false, "Fade Out to Delay", true},
    {32796, false, kNoLoopSet, "Invalid loop region.", nullptr, "Unsupported bit depth: 12-bit", false, "Silence",
     false},
    {32797, false, kNoLoopSet, kNoLoopSet, nullptr, "Unsupported bit depth: 12-bit", false, "Normalize", false},
    {32909, false, "No valid loop region set.", "No valid loop region set.", nullptr, "Unsupported bit depth: 12-bit",
     false, "Adaptive Noise Gate", false},
    {32910, false, "No valid loop region set.", "No valid loop region set.", "Unsupported bit depth: 24-bit",
     "Unsupported bit depth: 12-bit", false, "Adaptive Compressor", false},
    {32911, true, "Please select a region first.", "Please select a region first.", nullptr,
     "Unsupported bit depth: 12-bit", false, "Spectral Denoise", false},
    {32920, true, "Please select a region first.", "Please select a region first.", nullptr,
     "Unsupported bit depth: 12-bit", false, "Spectral Denoise", false},
};

const DepthCase k16{SampleFormat::kS16, 16, false, "16-bit"};
const DepthCase k24{SampleFormat::kS24, 24, false, "24-bit"};
constexpr int64_t kFrames = 2000;

class ProcessingCommandTest : public ProcessingTest {
 protected:
  // Quiet, non-silent audio every command can change (Normalize amplifies it).
  void SetTestAudio(const DepthCase& depth = k16, int channels = 1) {
    std::vector<double> raw(static_cast<size_t>(kFrames * channels));
    for (size_t i = 0; i < raw.size(); ++i)
      raw[i] = std::trunc(FullScale(depth.format) * 0.25 * std::sin(0.05 * static_cast<double>(i)));
    SetAudio(depth, channels, raw);
  }
  void AddRegion() {
    Region r;
    r.startSample = 0;
    r.endSample = kFrames;
    Doc().instrument.regions.push_back(r);
  }
  // The audio, undo history and log must be as they were.
  void ExpectUnchanged(const std::vector<uint8_t>& before, size_t undoEntries, size_t logLines, const char* what) {
    EXPECT_EQ(Doc().audio.data, before) << what;
    EXPECT_EQ(Doc().undoHistory.undoStack.size(), undoEntries) << what;
    EXPECT_EQ(frame.Lines().size(), logLines) << what;
  }
};

TEST_F(ProcessingCommandTest, EveryCommandIsExpectedAndEveryExpectationRegistered) {
  ASSERT_EQ(RegisteredProcessingCommands().size(), std::size(kExpected));
  for (const Expected& e : kExpected) EXPECT_NE(FindProcessingCommand(e.id), nullptr) << e.id;
}

TEST_F(ProcessingCommandTest, NoDocumentDoesNothing) {
  for (const ProcessingCommand* c : RegisteredProcessingCommands()) {
    ProcessingContext context = Context();
    context.doc = nullptr;
    EXPECT_EQ(RunProcessingCommand(*c, context), ProcessingResult::kNoDocument) << c->id;
  }
  EXPECT_THAT(host.Texts(), IsEmpty());
}

TEST_F(ProcessingCommandTest, RefusalsShowTheirTextsAndRecordNothing) {
  for (const Expected& e : kExpected) {
    const ProcessingCommand& c = *FindProcessingCommand(e.id);
    SCOPED_TRACE(c.menuText);
    frame.log.Clear();
    playbackStops = 0;
    const size_t logBefore = 0;

    // No audio.
    Doc().audio.data.clear();
    size_t shown = host.Shown().size();
    EXPECT_EQ(Run(c), ProcessingResult::kNoAudio);
    if (e.silentWithoutAudio) {
      EXPECT_EQ(host.Shown().size(), shown);
    } else {
      EXPECT_EQ(LastText(), "No audio data loaded.");
    }
    EXPECT_THAT(Doc().undoHistory.undoStack, IsEmpty());

    struct RangeCase {
      const char* what;
      bool regions;
      SelectionState selection;
      const char* text;
    };
    const RangeCase ranges[] = {
        {"regions and no selection", true, {-1, -1, false}, e.rangeText},
        {"regions and an empty selection", true, {500, 500, true}, e.rangeText},
        {"no regions, loop playback on, loop out unset", false, {100, -1, true}, e.rangeText},
        {"no regions, loop playback on, loop in at the end", false, {kFrames, kFrames + 50, true}, e.emptyRangeText},
        {"no regions, loop playback on, loop in past the end", false, {kFrames + 10, kFrames + 50, true},
         e.emptyRangeText},
    };
    for (const RangeCase& r : ranges) {
      SetTestAudio();
      Doc().instrument.regions.clear();
      if (r.regions) AddRegion();
      selection = r.selection;
      const std::vector<uint8_t> before = Doc().audio.data;
      EXPECT_EQ(Run(c), ProcessingResult::kNoRange) << r.what;
      EXPECT_EQ(LastText(), r.text) << r.what;
      ExpectUnchanged(before, 0, logBefore, r.what);
      EXPECT_EQ(playbackStops, 0) << r.what;
    }
    Doc().instrument.regions.clear();
    selection = {};

    // A depth nobody handles, and 24-bit where only 16-bit is handled.
    for (const auto& [depthBits, text] : {std::pair{12, e.depthText12}, std::pair{24, e.depthText24}}) {
      if (!text) continue;
      SetTestAudio(depthBits == 24 ? k24 : k16);
      selection = {300, 1500, true};
      if (depthBits == 12) Doc().audio.format.wBitsPerSample = 12;
      const std::vector<uint8_t> before = Doc().audio.data;
      shown = host.Shown().size();
      EXPECT_EQ(Run(c), ProcessingResult::kUnsupportedDepth) << depthBits;
      ASSERT_EQ(host.Shown().size(), shown + 1) << depthBits;
      EXPECT_EQ(LastText(), text);
      ExpectUnchanged(before, e.depthAfterUndo ? 1 : 0, logBefore, "depth");
      if (e.depthAfterUndo) {
        // The entry is recorded before the depth is looked at; undoing it
        // gives back the same audio.
        EXPECT_EQ(Doc().undoHistory.undoStack.back().description, e.undoLabel);
        Doc().Undo();
        EXPECT_EQ(Doc().audio.data, before);
        Doc().undoHistory.Clear();
        frame.log.Clear();  // "Undo: ..."

      }
    }
    EXPECT_EQ(frame.Lines().size(), logBefore);
  }
}

TEST_F(ProcessingCommandTest, UndoRestoresTheAudioByteForByte) {
  for (const DepthCase& depth : {k16, k24}) {
    for (const Expected& e : kExpected) {
      const ProcessingCommand& c = *FindProcessingCommand(e.id);
      if (depth.bits == 24 && e.depthText24) continue;
      SCOPED_TRACE(std::string(c.menuText) + " " + depth.name);
      Doc().undoHistory.Clear();
      SetTestAudio(depth, 2);
      selection = {300, 1500, true};
      const std::vector<uint8_t> before = Doc().audio.data;
      const size_t logBefore = frame.Lines().size();
      const int stopsBefore = playbackStops;

      ASSERT_EQ(Run(c), ProcessingResult::kDone) << LastText();
      EXPECT_NE(Doc().audio.data, before);
      EXPECT_EQ(Doc().audio.data.size(), before.size());
      EXPECT_EQ(playbackStops, stopsBefore + 1);
      EXPECT_TRUE(Doc().IsModified());
      ASSERT_EQ(Doc().undoHistory.undoStack.size(), 1u);
      EXPECT_EQ(Doc().undoHistory.undoStack.back().description, e.undoLabel);
      EXPECT_EQ(frame.Lines().size(), logBefore + (e.logs ? 1 : 0));

      Doc().Undo();
      EXPECT_EQ(Doc().audio.data, before);
    }
  }
}

TEST_F(ProcessingCommandTest, WithoutRoomForTheUndoStepTheUserDecides) {
  const ProcessingCommand& fade = *FindProcessingCommand(32789);
  SetTestAudio();
  const std::vector<uint8_t> before = Doc().audio.data;
  const auto folder = Doc().undoHistory.snapshotFolder;
  Doc().undoHistory.snapshotFolder = "/dev/null/cannot-exist";  // as on a full disk
  host.Answer(MessageAnswer::No);
  EXPECT_EQ(Run(fade), ProcessingResult::kUndoDeclined);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().IsModified());
  host.Answer(MessageAnswer::Yes);
  EXPECT_EQ(Run(fade), ProcessingResult::kDone);
  EXPECT_NE(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
  Doc().undoHistory.snapshotFolder = folder;
}

TEST_F(ProcessingCommandTest, CommitsInOrderAndNotifiesOnce) {
  SetTestAudio();
  observer.events.clear();
  ASSERT_EQ(Run(*FindProcessingCommand(32789)), ProcessingResult::kDone);
  // Playback stops before anything changes; one audio notification after.
  EXPECT_THAT(observer.Significant(), ElementsAre(RecordingObserver::kStop, RecordingObserver::kAudio));
  EXPECT_THAT(frame.Lines(), ElementsAre("Applied fade-out to 2000 samples (from sample 0 to 2000)"));
}

TEST_F(ProcessingCommandTest, ReversedSelectionIsTakenInOrder) {
  for (const Expected& e : kExpected) {
    const ProcessingCommand& c = *FindProcessingCommand(e.id);
    SCOPED_TRACE(c.menuText);
    for (bool regions : {false, true}) {
      SetTestAudio();
      Doc().instrument.regions.clear();
      if (regions) AddRegion();
      const std::vector<uint8_t> before = Doc().audio.data;
      selection = {1200, 400, true};  // Set Loop In after the selection's end
      ASSERT_EQ(Run(c), ProcessingResult::kDone) << LastText();
      // Frames before the ordered range are untouched; the range changed.
      const size_t align = Doc().audio.format.nBlockAlign;
      EXPECT_TRUE(std::equal(before.begin(), before.begin() + 400 * align, Doc().audio.data.begin()));
      EXPECT_FALSE(std::equal(before.begin() + 400 * align, before.begin() + 1200 * align,
                              Doc().audio.data.begin() + 400 * align));
      if (e.logs && e.id != 32790 && e.id != 32794) {
        EXPECT_THAT(frame.Lines().back(), ::testing::EndsWith("samples (from sample 400 to 1200)"));
      }
      Doc().undoHistory.Clear();
    }
  }
}

// --------------------------------------------------------- long work --

// A deliberately slow work: about two seconds in small steps, stopping at Cancel.
struct SlowWork {
  std::atomic<int>* steps;
  template <SampleFormat F>
  WorkOutcome operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
    for (int i = 0; i < 2000; ++i) {
      if (!p.Report(i / 2000.0)) return WorkOutcome::Done();
      ++*steps;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int64_t f = r.start; f < r.end; ++f)
      for (int ch = 0; ch < s.Channels(); ++ch) s.Set(f, ch, 0);
    return WorkOutcome::Done();
  }
};

// Waits like the app's host, and does |during| once the work is under way.
class ScriptedTaskHost final : public LongTaskHost {
 public:
  std::function<void(LongTask&)> during;
  bool sawProgress = false;

  void Wait(LongTask& task, std::string_view /*title*/) override {
    bool acted = false;
    while (!task.Done()) {
      if (!acted && task.Progress() > 0.05) {
        sawProgress = true;
        acted = true;
        if (during) during(task);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
};

class LongWorkTest : public ProcessingCommandTest {
 protected:
  LongWorkTest() {
    slow.id = 1;
    slow.menuText = "Slow";
    slow.undoLabel = "Slow";
    slow.depths = DepthSet::AllWithFloat();
    slow.logLine = [](const LogFacts&) { return std::string("Slow work done"); };
    slow.work = SampleWork::Of(SlowWork{&steps});
    tasks = &scripted;
    SetTestAudio();
    // A history to keep: one undo entry and one redo entry.
    (void)Doc().PushUndo(kUndoWithAudio, "Earlier");
    (void)Doc().PushUndo(kUndoWithAudio, "Later");
    Doc().Undo();
    Doc().SetModifiedFlag(false);
  }

  ProcessingCommand slow;
  std::atomic<int> steps{0};
  ScriptedTaskHost scripted;
};

TEST_F(LongWorkTest, CancelChangesNothing) {
  const std::vector<uint8_t> before = Doc().audio.data;
  const size_t logBefore = frame.Lines().size();
  observer.events.clear();
  scripted.during = [](LongTask& task) { task.RequestCancel(); };

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(slow), ProcessingResult::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));  // stopped early
  EXPECT_TRUE(scripted.sawProgress);
  EXPECT_LT(steps.load(), 2000);

  EXPECT_EQ(Doc().audio.data, before);
  ASSERT_EQ(Doc().undoHistory.undoStack.size(), 1u);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Earlier");
  ASSERT_EQ(Doc().undoHistory.redoStack.size(), 1u);
  // One line says so, and no other.
  ASSERT_EQ(frame.Lines().size(), logBefore + 1);
  EXPECT_EQ(frame.Lines().back(), "Slow cancelled.");
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(playbackStops, 0);
  EXPECT_THAT(observer.Significant(), IsEmpty());
}

TEST_F(LongWorkTest, ClosingTheDocumentMeanwhileCancelsAndDropsTheResult) {
  scripted.during = [this](LongTask&) { Doc().OnNewDocument(); };
  EXPECT_EQ(Run(slow), ProcessingResult::kCancelled);
  EXPECT_LT(steps.load(), 2000);
  // The new, empty document got nothing of the old document's work.
  EXPECT_FALSE(Doc().HasAudio());
  EXPECT_THAT(Doc().undoHistory.undoStack, IsEmpty());
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(LongWorkTest, OpeningAnotherFileMeanwhileKeepsThatFile) {
  const Bytes other = MakePcm16Wav(std::vector<int16_t>(300, 1234));
  const auto path = Write("other.wav", other);
  scripted.during = [&](LongTask&) { ASSERT_TRUE(Doc().LoadWav(path)); };
  EXPECT_EQ(Run(slow), ProcessingResult::kCancelled);
  EXPECT_EQ(Doc().FrameCount(), 300);
  EXPECT_EQ(Raw(k16, 150), 1234);
}

TEST_F(LongWorkTest, FinishedWorkCommitsWithItsUndoEntry) {
  const std::vector<uint8_t> before = Doc().audio.data;
  EXPECT_EQ(Run(slow), ProcessingResult::kDone);
  EXPECT_EQ(steps.load(), 2000);
  EXPECT_EQ(Raw(k16, 100), 0);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Slow");
  EXPECT_THAT(Doc().undoHistory.redoStack, IsEmpty());
  EXPECT_EQ(frame.Lines().back(), "Slow work done");
  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, before);
}

TEST(LongTaskTest, DestroyingARunningTaskCancelsAndWaits) {
  std::atomic<bool> ended{false};
  std::atomic<bool> running{false};
  const auto start = std::chrono::steady_clock::now();
  {
    LongTask task;
    task.Start([&](TaskProgress& p) {
      running = true;
      while (p.Report(0.5)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ended = true;
    });
    while (!running) std::this_thread::yield();
  }
  EXPECT_TRUE(ended);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(LongTaskTest, WaitForSeesShortWorkEnd) {
  LongTask task;
  std::atomic<bool> release{false};
  task.Start([&](TaskProgress&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_FALSE(task.WaitFor(std::chrono::milliseconds(20)));
  release = true;
  EXPECT_TRUE(task.WaitFor(std::chrono::seconds(5)));
  EXPECT_TRUE(task.Done());
}

TEST(LongTaskTest, ReportsProgressAndFailure) {
  LongTask task;
  task.Start([](TaskProgress& p) {
    p.Report(0.25);
    throw std::bad_alloc();
  });
  task.Join();
  EXPECT_TRUE(task.Done());
  EXPECT_TRUE(task.Failed());
  EXPECT_DOUBLE_EQ(task.Progress(), 0.25);
}

}  // namespace
}  // namespace zandrel::test

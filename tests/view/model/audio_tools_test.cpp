// The edits of the Paint, Rearrange, Time Stretch and Retime tools on
// generated audio, with a linear stand-in for the stretcher so that lengths
// and samples are predictable.
#include "view/model/audio_tools.h"

#include <gmock/gmock.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>

#include "document/document_fixture.h"
#include "support/linear_stretcher.h"
#include "support/region_frames.h"
#include "support/scripted_tasks.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::HasSubstr;

class AudioToolsTest : public DocumentTest {
 protected:
  AudioToolsTest() : scope_(&stretcher) {}
  void Open(const std::vector<int16_t>& s) {
    ASSERT_TRUE(Doc().LoadWavFromMemory(MakePcm16Wav(s), "tools.wav"));
    frame.log.Clear();
  }
  void OpenConstant(int64_t frames, int16_t v) { Open(std::vector<int16_t>(static_cast<size_t>(frames), v)); }
  void OpenRampOf(int64_t frames) {
    std::vector<int16_t> s(static_cast<size_t>(frames));
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i % 30000);
    Open(s);
  }
  int16_t At(int64_t f) {
    int16_t v;
    std::memcpy(&v, Doc().audio.data.data() + f * 2, 2);
    return v;
  }
  void Select(int64_t in, int64_t out) {
    view.loopIn = in;
    view.loopOut = out;
  }

  LinearStretcher stretcher;
  ViewSelection view;

 private:
  ScopedStretcher scope_;
};

// ----------------------------------------------------------------- Paint --

TEST_F(AudioToolsTest, StrokeCaptureFollowsTheMouseAndCollapsesBackwards) {
  // Area 40..440: centre 240, half height 200.
  EXPECT_FLOAT_EQ(PaintLevelAt(40, 40, 400, true), 1.0f);
  EXPECT_FLOAT_EQ(PaintLevelAt(140, 40, 400, true), 0.5f);
  EXPECT_FLOAT_EQ(PaintLevelAt(340, 40, 400, true), 0.0f);  // below, for a stroke begun above
  EXPECT_FLOAT_EQ(PaintLevelAt(340, 40, 400, false), 0.5f);
  std::vector<PaintPoint> stroke{{100, 0.2f}};
  AddPaintPoint(stroke, 200, 0.4f);
  AddPaintPoint(stroke, 300, 0.6f);
  AddPaintPoint(stroke, 250, 0.9f);  // back over the last point: it goes
  ASSERT_EQ(stroke.size(), 3u);
  EXPECT_EQ(stroke[2].frame, 250);
  AddPaintPoint(stroke, 250, 0.1f);  // same frame: new level
  EXPECT_FLOAT_EQ(stroke[2].level, 0.1f);
  AddPaintPoint(stroke, 50, 0.5f);  // before the first point: collapses
  EXPECT_EQ(stroke.size(), 1u);
}

TEST_F(AudioToolsTest, PaintRaisesQuietAudioAtMostFourTimes) {
  OpenConstant(10000, 3277);  // peak 0.1
  ASSERT_TRUE(ApplyPaintedLevels(Doc(), {{0, 1.0f}, {10000, 1.0f}}));
  EXPECT_EQ(At(5000), static_cast<int16_t>(3277 * 4));
  EXPECT_EQ(frame.Lines().back(), "Levels applied based on painted envelope.");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Paint Levels");

  OpenConstant(10000, 8192);  // peak 0.25, painted to 0.5
  ASSERT_TRUE(ApplyPaintedLevels(Doc(), {{0, 0.5f}, {10000, 0.5f}}));
  EXPECT_NEAR(At(5000), 16384, 2);
  EXPECT_FALSE(ApplyPaintedLevels(Doc(), {{0, 0.5f}}));  // one point does nothing
}

// ------------------------------------------------------------- Rearrange --

TEST_F(AudioToolsTest, MixSaturatesWithTanhInsteadOfWrapping) {
  OpenConstant(4000, 32767);
  Select(1500, 2500);
  ASSERT_TRUE(ApplyRearrange(Doc(), view, 1000, 2000, kRearrangeMix));
  EXPECT_EQ(At(1800), static_cast<int16_t>(std::trunc(std::tanh(2 * 32767 / 32768.0) * 32767)));
  EXPECT_GT(At(1800), 31000);
  EXPECT_EQ(At(3000), 32767);
  EXPECT_EQ(frame.Lines().back(), "Audio mixed by 500 samples (right). Loop region: [1500 - 2500]");
}

TEST_F(AudioToolsTest, MoveLeavesAHoleRippleSwapsAndAShrunkSelectionIsRefused) {
  OpenRampOf(6000);
  Select(2500, 3500);  // 1000..2000 moved right by 1500: no overlap
  ASSERT_TRUE(ApplyRearrange(Doc(), view, 1000, 2000, kRearrangeMove));
  EXPECT_EQ(At(2500), 1000);
  EXPECT_EQ(At(3499), 1999);
  EXPECT_EQ(At(1000), 0);  // the hole
  EXPECT_EQ(At(1999), 0);
  EXPECT_EQ(At(2000), 2000);
  EXPECT_EQ(Doc().FrameCount(), 6000);

  OpenRampOf(6000);
  Select(2000, 3000);  // ripple right by 1000
  ASSERT_TRUE(ApplyRearrange(Doc(), view, 1000, 2000, kRearrangeRipple));
  EXPECT_EQ(At(1000), 2000);  // what followed the source closes the gap
  EXPECT_EQ(At(2000), 1000);  // the source at its new place
  EXPECT_THAT(frame.Lines().back(), HasSubstr("Audio rippled by 1000 samples (right)."));

  // Dragged against the start: the selection kept only 600 of 1000 frames.
  OpenRampOf(6000);
  const auto before = Doc().audio.data;
  Select(0, 600);
  EXPECT_FALSE(ApplyRearrange(Doc(), view, 400, 1400, kRearrangeMove));
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());
}

// ---------------------------------------------------------- Time Stretch --

TEST_F(AudioToolsTest, TimeStretchResizesAndMovesTheRegionsAfterIt) {
  OpenRampOf(100000);
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {R(0, 20000), R(20000, 60000, 45000, 55000), R(60000, 96000, 70000, 95000),
                              R(96000, 100000)};
  Select(20000, 25000);  // 10000 frames shrunk to 5000
  ASSERT_TRUE(ApplyTimeStretchTool(Doc(), view, 20000, 30000, false));
  EXPECT_EQ(Doc().FrameCount(), 95000);
  EXPECT_EQ(view.loopIn, 20000);
  EXPECT_EQ(view.loopOut, 25000);
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 20000, -1, -1},
                                                              {20000, 55000, 40000, 50000},
                                                              {55000, 91000, 65000, 90000},
                                                              {91000, 95000, -1, -1}}));
  EXPECT_EQ(frame.Lines().back(), "Time-stretch: 0.50x. Padded L/R: 0/8192. Result: 5000 samples.");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Time Stretch");
}

// A region that starts inside the shrunk span stays where it was while its
// loop after the span moves back with the audio: the loop stays inside it.
TEST_F(AudioToolsTest, TimeStretchKeepsALoopMovedBackInsideItsRegion) {
  OpenRampOf(100000);
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {R(0, 20000), R(20000, 28000), R(28000, 60000, 31000, 50000)};
  Select(20000, 25000);
  ASSERT_TRUE(ApplyTimeStretchTool(Doc(), view, 20000, 30000, false));
  const Region& r = Doc().instrument.regions[2];
  EXPECT_EQ(r.endSample, 55000);
  EXPECT_GE(r.loopStart, r.startSample);
  EXPECT_LT(r.loopStart, r.loopEnd);
  EXPECT_EQ(r.loopEnd, 45000);
}

TEST_F(AudioToolsTest, TimeStretchWithAltKeepsTheLength) {
  OpenRampOf(50000);
  Select(10000, 14000);
  ASSERT_TRUE(ApplyTimeStretchTool(Doc(), view, 10000, 12000, true));
  EXPECT_EQ(Doc().FrameCount(), 50000);
  EXPECT_EQ(view.loopOut, 14000);
  EXPECT_NEAR(At(10000), 10000, 1);  // through floats and back: x 32767 / 32768
  EXPECT_NEAR(At(12000), 11000, 1);  // half way through the doubled source
}

TEST_F(AudioToolsTest, TimeStretchRefusalsRestoreTheSelection) {
  OpenRampOf(50000);
  Doc().audio.format.wBitsPerSample = 24;
  Select(10000, 14000);
  EXPECT_FALSE(ApplyTimeStretchTool(Doc(), view, 10000, 12000, false));
  EXPECT_EQ(host.Texts().back(), "Time stretch only supports 16-bit PCM audio.");
  EXPECT_EQ(view.loopOut, 12000);
  EXPECT_FALSE(Doc().CanUndo());

  OpenRampOf(50000);
  stretcher.fail = true;
  Select(10000, 14000);
  EXPECT_FALSE(ApplyTimeStretchTool(Doc(), view, 10000, 12000, false));
  EXPECT_EQ(host.Texts().back(), "Time stretch failed. Operation cancelled.");
  EXPECT_EQ(view.loopOut, 12000);
  EXPECT_FALSE(Doc().CanUndo());

  // A selection that reaches past the audio is refused with a reason, not
  // silently.
  OpenRampOf(50000);
  stretcher.fail = false;
  const size_t said = host.Texts().size();
  Select(45000, 52000);
  EXPECT_FALSE(ApplyTimeStretchTool(Doc(), view, 45000, 55000, false));
  ASSERT_EQ(host.Texts().size(), said + 1);
  EXPECT_EQ(host.Texts().back().rfind("Time stretch needs a selection inside the audio.", 0), 0u);
  EXPECT_EQ(view.loopOut, 55000);
  EXPECT_FALSE(Doc().CanUndo());
}

// ---------------------------------------------------------------- Retime --

TEST_F(AudioToolsTest, RetimeKeepsTheTotalLengthEvenWhenTheStretcherComesBackShort) {
  for (int64_t shortBy : {0, 37}) {
    SCOPED_TRACE(shortBy);
    OpenRampOf(100000);
    stretcher.shortBy = shortBy;
    Select(40000, 51000);  // the right handle dragged by +1000
    ASSERT_TRUE(ApplyRetime(Doc(), view, 40000, 50000, true));
    EXPECT_EQ(Doc().FrameCount(), 100000);
    EXPECT_EQ(view.loopIn, 40000);
    EXPECT_EQ(view.loopOut, 51000);
    EXPECT_EQ(At(39999), 39999 % 30000);  // before the loop: untouched
    EXPECT_EQ(frame.Lines().back(),
              "Audio retimed by 1.10x. Loop: 10000 samples -> 11000 samples. Total size preserved.");
  }
}

TEST_F(AudioToolsTest, RetimeWithTheLeftHandleSqueezesWhatComesBefore) {
  OpenRampOf(100000);
  Select(21000, 30000);  // left handle moved right by 1000
  ASSERT_TRUE(ApplyRetime(Doc(), view, 20000, 30000, false));
  EXPECT_EQ(Doc().FrameCount(), 100000);
  EXPECT_EQ(view.loopIn, 21000);
  EXPECT_EQ(view.loopOut, 30000);
  EXPECT_EQ(At(30000), 0);  // 30000 % 30000: the audio after the loop did not move
}

TEST_F(AudioToolsTest, RetimeFailuresWriteNothing) {
  OpenRampOf(100000);
  const auto before = Doc().audio.data;
  Select(1000, 10000);  // a loop from frame 0, left handle: nothing before it
  EXPECT_FALSE(ApplyRetime(Doc(), view, 0, 10000, false));
  EXPECT_EQ(host.Texts().back(), "Retime failed. Compensating region too small or time-stretch error.");
  EXPECT_EQ(view.loopIn, 0);
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());

  stretcher.fail = true;
  Select(40000, 51000);
  EXPECT_FALSE(ApplyRetime(Doc(), view, 40000, 50000, true));
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_FALSE(Doc().CanUndo());

  Doc().audio.format.wBitsPerSample = 24;
  stretcher.fail = false;
  Select(40000, 51000);
  EXPECT_FALSE(ApplyRetime(Doc(), view, 40000, 50000, true));
  EXPECT_EQ(host.Texts().back(), "Retime only supports 16-bit PCM audio.");
}

// ------------------------------------------------------------- Cancel --

// Cancels long work at its first report, on the worker thread.
class CancelAtFirstReport final : public LongTaskHost {
 public:
  void Prepare(LongTask& task) override {
    ++works;
    task.ObserveReports([&task](double) { task.RequestCancel(); });
  }
  void Wait(LongTask& task, std::string_view) override {
    while (!task.WaitFor(std::chrono::milliseconds(10))) task.PollProgress();
  }
  int works = 0;
};

TEST_F(AudioToolsTest, ACancelledEditChangesNothingAndSaysSoOnce) {
  struct Case {
    const char* name;
    int64_t in, out;  // the selection as dragged
    std::function<ToolEditResult(CommandContext&)> edit;
    const char* line;
  };
  // Long enough for the rearrange to report between its chunks.
  const Case cases[] = {
      {"Rearrange (copy)", 100000, 140000,
       [](CommandContext& c) { return ApplyRearrange(c, 40000, 80000, kRearrangeCopy); }, "Rearrange cancelled."},
      {"Time Stretch", 40000, 90000,
       [](CommandContext& c) { return ApplyTimeStretchTool(c, 40000, 80000, false); }, "Time Stretch cancelled."},
      {"Retime, right handle", 40000, 90000,
       [](CommandContext& c) { return ApplyRetime(c, 40000, 80000, true); }, "Retime cancelled."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    OpenRampOf(200000);
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = {R(0, 100000, 40000, 80000), R(100000, 200000)};
    const auto audio = Doc().audio.data;
    const auto regions = Doc().instrument.regions;
    Select(k.in, k.out);
    CancelAtFirstReport tasks;
    TaskContext context(&Doc(), &view);
    context.tasks = &tasks;
    EXPECT_EQ(k.edit(context), ToolEditResult::kCancelled);
    EXPECT_EQ(tasks.works, 1);
    EXPECT_EQ(Doc().audio.data, audio);
    EXPECT_EQ(Doc().instrument.regions, regions);
    EXPECT_FALSE(Doc().CanUndo());
    EXPECT_FALSE(Doc().IsModified());
    // The selection is the drag's preview, which the caller drops.
    EXPECT_EQ(view.loopIn, k.in);
    EXPECT_EQ(view.loopOut, k.out);
    EXPECT_THAT(frame.Lines(), ::testing::ElementsAre(k.line));
    EXPECT_TRUE(host.Texts().empty());
  }
}

}  // namespace
}  // namespace zandrel

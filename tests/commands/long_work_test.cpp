// Every long command, cancelled half way through its work: the work stops
// within a few progress reports, and the audio, the instrument, the selection
// and the history are exactly as before, with one log line saying so.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "document/document_fixture.h"
#include "support/long_commands/long_commands.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

// Cancels the first long work of a command at its first report of at least
// half way (before its end), on the worker thread, so the point is exact
// however the threads are scheduled.
class HalfWayCanceller final : public LongTaskHost {
 public:
  void Prepare(LongTask& task) override {
    ++works;
    if (works > 1) return;
    task.ObserveReports([this, &task](double fraction) {
      const uint64_t n = reports.fetch_add(1) + 1;
      if (!requested.load() && fraction >= 0.5 && fraction < 1.0) {
        cancelledAt = fraction;
        reportsAtRequest.store(n);
        requested.store(true);
        task.RequestCancel();
      }
    });
  }
  void Wait(LongTask& task, std::string_view) override {
    while (!task.WaitFor(std::chrono::milliseconds(10))) task.PollProgress();
  }

  int works = 0;
  std::atomic<uint64_t> reports{0};
  std::atomic<uint64_t> reportsAtRequest{0};
  std::atomic<bool> requested{false};
  double cancelledAt = 0.0;
};

// What a person could see of the document and the view.
struct Snapshot {
  std::vector<uint8_t> audio;
  InstrumentData instrument;
  int64_t cursor, in, out;
  int32_t region;
  bool loopPlayback;
  std::vector<int64_t> beats;
  std::vector<std::string> undo, redo;
  bool modified;

  static Snapshot Of(const CQuorvelDoc& doc, const ViewModel& view) {
    Snapshot s{doc.audio.data, doc.instrument, view.cursorFrame, view.loopIn, view.loopOut,
               view.selectedRegion, view.loopPlayback, view.beatMarkers, {}, {}, doc.IsModified()};
    for (const UndoState& u : doc.undoHistory.undoStack) s.undo.push_back(u.description);
    for (const UndoState& u : doc.undoHistory.redoStack) s.redo.push_back(u.description);
    return s;
  }
  bool operator==(const Snapshot&) const = default;
};

class LongWorkCancelTest : public DocumentTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongWorkCancelTest, CancelledHalfWayStopsSoonAndChangesNothing) {
  const LongCommandCase& c = LongCommandCases()[GetParam()];
  ASSERT_TRUE(Doc().LoadWavFromMemory(LongCommandWav(12.0, 16), "long.wav"));
  ViewModel view(Doc());
  PrepareLongCommandScene(Doc(), view);
  HalfWayCanceller canceller;
  TaskContext context(&Doc(), &view);
  context.tasks = &canceller;
  LongCommandScene scene{Doc(), view, context};
  if (c.prepare) c.prepare(scene);
  Doc().SetModifiedFlag(false);
  const Snapshot before = Snapshot::Of(Doc(), view);
  frame.log.Clear();

  c.run(scene);

  ASSERT_GE(canceller.works, 1) << c.name << " ran no long work";
  ASSERT_TRUE(canceller.requested.load()) << c.name << " reported nothing between half way and its end ("
                                          << canceller.reports.load() << " reports)";
  EXPECT_LE(canceller.reports.load() - canceller.reportsAtRequest.load(), 3u)
      << c.name << " went on after Cancel (asked at " << canceller.cancelledAt << ")";
  EXPECT_TRUE(Snapshot::Of(Doc(), view) == before) << c.name << " changed the document or the selection";
  const auto& lines = frame.Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("cancelled.") != std::string::npos; }),
            1)
      << c.name;
}

INSTANTIATE_TEST_SUITE_P(EveryLongCommand, LongWorkCancelTest,
                         ::testing::Range<size_t>(0, LongCommandCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name;
                           for (char ch : LongCommandCases()[info.param].name)
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           return name;
                         });

}  // namespace
}  // namespace zandrel

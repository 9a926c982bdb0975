// Every long command on a ten-minute stereo file (24-bit, or 16-bit for the
// commands that take nothing else), pinned to one core: how soon the first
// progress report comes, the longest gap between two reports (or before the
// first, or after the last), how long the window's own thread was busy
// outside the long work, and, in a second run cancelled at the first report
// past half way, how long the computation took to return after the request.
// The goals are the floor each figure is compared with: a report at least
// every 0.25 s, a Cancel felt within 0.3 s.
//
//   long_work_bench [--all-cores] [name filter]
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_host.h"
#include "platform/settings.h"
#include "support/document_fakes.h"
#include "support/long_commands/long_commands.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;
using test::LongCommandCase;
using test::LongCommandScene;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Answers every box with OK or Yes, remembering the last text.
class AgreeingHost final : public MessageHost {
 public:
  AgreeingHost() : scope_(this) {}
  MessageAnswer Show(std::string_view text, MessageIcon, MessageButtons buttons) override {
    last = std::string(text);
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageAnswer::Yes
                                                                                       : MessageAnswer::Ok;
  }
  std::string last;

 private:
  ScopedMessageHost scope_;
};

// Times the reports of every long work a command runs; optionally cancels the
// first at its first report past half way.
class TimingHost final : public LongTaskHost {
 public:
  explicit TimingHost(bool cancelHalfWay) : cancelHalfWay_(cancelHalfWay) { reports_.reserve(1 << 16); }

  void Prepare(LongTask& task) override {
    const bool first = works_++ == 0;
    {
      std::lock_guard lock(mutex_);
      reports_.push_back({Clock::now(), -1.0});  // the work starts
    }
    task.ObserveReports([this, &task, first](double fraction) {
      const Clock::time_point now = Clock::now();
      {
        std::lock_guard lock(mutex_);
        reports_.push_back({now, fraction});
      }
      if (cancelHalfWay_ && first && !requested_ && fraction >= 0.5 && fraction < 1.0) {
        requested_ = true;
        requestAt_ = now;
        task.RequestCancel();
      }
    });
  }
  void Wait(LongTask& task, std::string_view) override {
    while (!task.WaitFor(std::chrono::milliseconds(1))) task.PollProgress();
    const Clock::time_point end = Clock::now();
    std::lock_guard lock(mutex_);
    if (requested_ && cancelReturn_ < 0) cancelReturn_ = Seconds(end - requestAt_);
    reports_.push_back({end, 2.0});  // the work ended
    busy_ += end - reports_[LastStart()].at;
  }

  struct Figures {
    int works = 0;
    double firstReport = -1, longestGap = 0, workSeconds = 0, cancel = -1;
    bool cancelled = false;
  };
  Figures Read() const {
    Figures f;
    f.works = works_;
    f.workSeconds = Seconds(busy_);
    f.cancelled = requested_;
    f.cancel = cancelReturn_;
    for (size_t i = 1; i < reports_.size(); ++i) {
      if (reports_[i].fraction == -1.0) continue;  // a new work: no gap across the commit between works
      const double gap = Seconds(reports_[i].at - reports_[i - 1].at);
      f.longestGap = std::max(f.longestGap, gap);
      if (f.firstReport < 0 && reports_[i - 1].fraction == -1.0) f.firstReport = gap;
    }
    return f;
  }

 private:
  size_t LastStart() const {
    for (size_t i = reports_.size(); i-- > 0;)
      if (reports_[i].fraction == -1.0) return i;
    return 0;
  }
  struct Report {
    Clock::time_point at;
    double fraction;
  };
  bool cancelHalfWay_;
  int works_ = 0;
  std::atomic<bool> requested_{false};
  Clock::time_point requestAt_;
  double cancelReturn_ = -1;
  Clock::duration busy_{};
  mutable std::mutex mutex_;
  std::vector<Report> reports_;
};

struct Run {
  TimingHost::Figures figures;
  double total = 0;
  std::string message;
};

Run RunOnce(const LongCommandCase& c, const std::vector<uint8_t>& wav, bool cancelHalfWay) {
  MemorySettings settings;
  ScopedSettingsStore settingsScope(&settings);
  AgreeingHost boxes;
  test::FakeFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  Run r;
  if (!doc.LoadWavFromMemory(wav, "long.wav")) {
    r.message = "the file did not open";
    return r;
  }
  ViewModel view(doc);
  test::PrepareLongCommandScene(doc, view);
  TimingHost host(cancelHalfWay);
  test::TaskContext context(&doc, &view);
  context.tasks = &host;
  LongCommandScene scene{doc, view, context};
  if (c.prepare) c.prepare(scene);
  const Clock::time_point start = Clock::now();
  c.run(scene);
  r.total = Seconds(Clock::now() - start);
  r.figures = host.Read();
  r.message = boxes.last;
  return r;
}

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  using namespace zandrel;
  bool allCores = false;
  std::string filter;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--all-cores") == 0) {
      allCores = true;
    } else if (argv[i][0] != '-') {
      filter = argv[i];
    }
  }
  if (!allCores) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &allowed)) continue;
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(cpu, &one);
      sched_setaffinity(0, sizeof one, &one);
      std::printf("long_work_bench: pinned to core %d\n", cpu);
      break;
    }
  }
  constexpr double kGap = 0.25, kCancel = 0.30;
  std::map<int, std::vector<uint8_t>> files;
  std::printf("%-44s %7s %7s %7s %7s %7s %7s %7s\n", "command (10-minute stereo file)", "work s", "first s",
              "gap s", "gap/.25", "UI s", "cancel", "c/.30");
  bool allMet = true;
  for (const test::LongCommandCase& c : test::LongCommandCases()) {
    if (!filter.empty() && c.name.find(filter) == std::string::npos) continue;
    const int bits = c.sixteenBitOnly ? 16 : 24;
    if (!files.count(bits)) files[bits] = test::LongCommandWav(600.0, bits);
    const Run full = RunOnce(c, files[bits], false);
    const Run cancelled = RunOnce(c, files[bits], true);
    const TimingHost::Figures& f = full.figures;
    const double ui = full.total - f.workSeconds;
    const bool met = f.works > 0 && f.longestGap <= kGap && cancelled.figures.cancelled &&
                     cancelled.figures.cancel <= kCancel;
    allMet = allMet && met;
    std::printf("%-44s %7.2f %7.3f %7.3f %7.2f %7.2f %7.3f %7.2f%s\n",
                (c.name + (bits == 16 ? " (16-bit)" : "")).c_str(), f.workSeconds, f.firstReport, f.longestGap,
                f.longestGap / kGap, ui, cancelled.figures.cancel, cancelled.figures.cancel / kCancel,
                met ? "" : "  <- over");
    if (f.works == 0) std::printf("    ran no long work: %s\n", full.message.c_str());
    std::fflush(stdout);
  }
  std::printf("long_work_bench: %s\n", allMet ? "every command met both goals" : "some commands missed a goal");
  return 0;
}

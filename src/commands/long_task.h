// Long work off the user-interface thread.
//
// A LongTask runs one piece of work on a worker thread. The work receives a
// TaskProgress through which it reports how far it is and learns that it
// should stop: Report() returns false once Cancel was asked for, and the work
// then returns as soon as it can. The work must only read and write what it
// was given (a copy of the document's audio, never the live document); the
// caller commits the result on the user-interface thread afterwards, or drops
// it when the task was cancelled.
//
// While the task runs, the user-interface thread waits in a LongTaskHost: the
// app's host keeps the window repainting, accepts no edit, shows a progress
// dialog with percent and Cancel once the work has taken longer than
// kProgressDelay, and turns a request to close the window or the application
// into a cancel. Tests use a scripted host; code without a user interface uses
// BlockingTaskHost, which simply waits.
//
// Threads: Start(), Wait-ing, RequestCancel() and Join() belong to the thread
// that owns the task (the user-interface thread); Progress(), Done() and
// CancelRequested() may be read from any thread. The destructor cancels and
// joins, so a task never outlives its owner.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

namespace zandrel {

// How long work may run before the progress dialog shows.
constexpr std::chrono::milliseconds kProgressDelay{300};
// How long a host blocks the user-interface thread outright before it turns
// to an event loop: short work never lets other events in.
constexpr std::chrono::milliseconds kQuietWait{50};

class TaskProgress {
 public:
  // Records how far the work is (0..1, clamped); false when the work should
  // stop now.
  bool Report(double fraction);
  bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }

 private:
  friend class LongTask;
  std::atomic<int> permille_{0};
  std::atomic<bool> cancel_{false};
  std::function<void(double)> observer_;
};

class LongTask {
 public:
  LongTask() = default;
  ~LongTask();
  LongTask(const LongTask&) = delete;
  LongTask& operator=(const LongTask&) = delete;

  // Starts |work| on a new thread. A task runs once.
  void Start(std::function<void(TaskProgress&)> work);
  // Asks the work to stop; it sees it at its next Report().
  void RequestCancel() { progress_.cancel_.store(true, std::memory_order_relaxed); }
  bool CancelRequested() const { return progress_.CancelRequested(); }
  // How far the work said it is, 0..1.
  double Progress() const { return progress_.permille_.load(std::memory_order_relaxed) / 1000.0; }
  // The work has returned (its results are visible after Join()).
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Blocks up to |timeout| for the work to return; true when it has. Hosts
  // use it so that short work commits without a turn of the event loop.
  bool WaitFor(std::chrono::milliseconds timeout);
  // The work ended with an exception (out of memory): its result is unusable.
  bool Failed() const { return failed_.load(std::memory_order_relaxed); }
  // Waits for the worker thread to end.
  void Join();

  // Optional: called on the user-interface thread with Progress() each time
  // the waiting host looks at the task (about every 30 ms in the app), for
  // work that shows its progress somewhere besides the host's bar (a log
  // line). Set before Start().
  std::function<void(double)> onProgress;
  // What hosts call while they wait: onProgress with Progress(), if set.
  void PollProgress() {
    if (onProgress) onProgress(Progress());
  }
  // Optional: called on the worker thread at every report, before the work
  // learns whether to stop, with the fraction reported. For hosts that must
  // act at an exact point of the work (a test cancelling half way, a
  // benchmark timing the reports). Set before Start(): LongTaskHost::Prepare.
  void ObserveReports(std::function<void(double)> observer) { progress_.observer_ = std::move(observer); }

 private:
  TaskProgress progress_;
  std::atomic<bool> done_{false};
  std::atomic<bool> failed_{false};
  std::mutex doneMutex_;
  std::condition_variable doneSignal_;
  std::thread thread_;
};

// Waits on the user-interface thread for a running task.
class LongTaskHost {
 public:
  virtual ~LongTaskHost() = default;
  // Called on the user-interface thread just before |task| starts.
  virtual void Prepare(LongTask& /*task*/) {}
  // Returns once the task is done, or once it was cancelled (by the user, or
  // because the window or application is closing) and has ended. |title|
  // names the work in the progress dialog.
  virtual void Wait(LongTask& task, std::string_view title) = 0;
};

// Waits without a user interface.
class BlockingTaskHost final : public LongTaskHost {
 public:
  void Wait(LongTask& task, std::string_view title) override;
};

}  // namespace zandrel

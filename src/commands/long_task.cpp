#include "commands/long_task.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace zandrel {

bool TaskProgress::Report(double fraction) {
  if (!std::isnan(fraction)) {
    permille_.store(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000.0), std::memory_order_relaxed);
  }
  if (observer_) observer_(fraction);
  return !CancelRequested();
}

LongTask::~LongTask() {
  RequestCancel();
  Join();
}

void LongTask::Start(std::function<void(TaskProgress&)> work) {
  auto run = [this, work = std::move(work)] {
    try {
      work(progress_);
    } catch (...) {
      // Out of memory and the like: the caller drops the result and says so.
      failed_.store(true, std::memory_order_relaxed);
    }
    {
      std::lock_guard lock(doneMutex_);
      done_.store(true, std::memory_order_release);
    }
    doneSignal_.notify_all();
  };
  try {
    thread_ = std::thread(run);
  } catch (const std::system_error&) {
    // No thread to be had: the work runs here, without progress.
    run();
  }
}

bool LongTask::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(doneMutex_);
  return doneSignal_.wait_for(lock, timeout, [this] { return Done(); });
}

void LongTask::Join() {
  if (thread_.joinable()) thread_.join();
}

void BlockingTaskHost::Wait(LongTask& task, std::string_view /*title*/) {
  if (task.onProgress) {
    while (!task.WaitFor(std::chrono::milliseconds(20))) task.PollProgress();
  }
  task.Join();
}

}  // namespace zandrel

// Thread counts follow the CPU affinity mask, not the machine's core count:
// under a mask of k CPUs, "every core" means k threads.
#include "processing/parallel.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace zandrel {
namespace {

// Restricts the calling thread to the first |count| CPUs of its mask for the
// object's life, then puts the old mask back.
class ScopedAffinity {
 public:
  explicit ScopedAffinity(int count) {
    CPU_ZERO(&saved_);
    ok_ = sched_getaffinity(0, sizeof saved_, &saved_) == 0 && CPU_COUNT(&saved_) >= count;
    if (!ok_) return;
    cpu_set_t narrowed;
    CPU_ZERO(&narrowed);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
      if (CPU_ISSET(cpu, &saved_)) {
        CPU_SET(cpu, &narrowed);
        ++taken;
      }
    }
    ok_ = sched_setaffinity(0, sizeof narrowed, &narrowed) == 0;
  }
  ~ScopedAffinity() {
    if (ok_) sched_setaffinity(0, sizeof saved_, &saved_);
  }
  ScopedAffinity(const ScopedAffinity&) = delete;
  ScopedAffinity& operator=(const ScopedAffinity&) = delete;
  bool Ok() const { return ok_; }

 private:
  cpu_set_t saved_;
  bool ok_ = false;
};

int MaskedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
}

TEST(DefaultThreadCount, EqualsTheCpusOfTheAffinityMask) {
  EXPECT_EQ(DefaultThreadCount(), static_cast<unsigned>(MaskedCpus()));
  for (const int cpus : {1, 2}) {
    SCOPED_TRACE(cpus);
    ScopedAffinity mask(cpus);
    if (!mask.Ok()) continue;  // the machine lets this process use fewer CPUs
    EXPECT_EQ(DefaultThreadCount(), static_cast<unsigned>(cpus));
  }
  // The old mask is back.
  EXPECT_EQ(DefaultThreadCount(), static_cast<unsigned>(MaskedCpus()));
}

// The threads of this process, as the kernel lists them.
size_t ProcessThreads() {
  std::error_code error;
  size_t count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

TEST(ParallelFor, UnderAOneCpuMaskStartsNoThreadAndRunsEveryChunkOnTheCaller) {
  std::mutex lock;
  std::set<std::thread::id> threads;
  size_t mostThreads = 0;
  std::vector<int> covered(1000, 0);
  size_t before = 0;
  {
    ScopedAffinity mask(1);
    ASSERT_TRUE(mask.Ok());
    before = ProcessThreads();
    ParallelFor(covered.size(), 1, [&](size_t begin, size_t end) {
      const std::lock_guard guard(lock);
      threads.insert(std::this_thread::get_id());
      mostThreads = std::max(mostThreads, ProcessThreads());
      for (size_t i = begin; i < end; ++i) ++covered[i];
    });
  }
  // Workers would be started before any chunk runs and live until the last
  // one is taken, so each chunk either ran on one or saw them all listed.
  EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(mostThreads, before);
  EXPECT_EQ(covered, std::vector<int>(1000, 1));
}

}  // namespace
}  // namespace zandrel

#include "processing/parallel.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zandrel {

unsigned DefaultThreadCount() {
  // The CPUs this process may run on, not the machine's: under taskset, a
  // container's cpuset or a batch scheduler's mask, threads beyond that count
  // would only take turns on the same cores. The mask is sized for far
  // more CPUs than any machine has, and grown if the kernel wants more.
  for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) break;
    const size_t size = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(size, set);
    const int status = sched_getaffinity(0, size, set);
    const int count = status == 0 ? CPU_COUNT_S(size, set) : 0;
    const bool tooSmall = status != 0 && errno == EINVAL;
    CPU_FREE(set);
    if (count > 0) return static_cast<unsigned>(count);
    if (!tooSmall) break;
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

void ParallelFor(size_t count, size_t minChunk, const std::function<void(size_t, size_t)>& body, unsigned threads) {
  if (count == 0) return;
  if (threads == 0) threads = DefaultThreadCount();
  minChunk = std::max<size_t>(minChunk, 1);
  // A few chunks per thread, handed out in turn: a thread that drew cheap
  // items (silence, say) or lost its core for a while takes more chunks.
  const size_t chunks = std::clamp<size_t>(count / minChunk, 1, size_t{threads} * kChunksPerThread);
  if (chunks == 1 || threads == 1) {
    body(0, count);
    return;
  }

  std::atomic<size_t> next{0};
  std::mutex errorLock;
  std::exception_ptr firstError;
  auto work = [&] {
    for (size_t chunk = next.fetch_add(1); chunk < chunks; chunk = next.fetch_add(1)) {
      try {
        body(count * chunk / chunks, count * (chunk + 1) / chunks);
      } catch (...) {
        const std::lock_guard lock(errorLock);
        if (!firstError) firstError = std::current_exception();
      }
    }
  };

  std::vector<std::thread> workers;
  const size_t wanted = std::min<size_t>(threads, chunks) - 1;
  workers.reserve(wanted);
  for (size_t i = 0; i < wanted; ++i) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the others, this one included, take every chunk
    }
  }
  work();
  for (auto& worker : workers) worker.join();
  if (firstError) std::rethrow_exception(firstError);
}

}  // namespace zandrel

// ParallelFor: splits an index range into contiguous chunks and runs them on
// the cores the process may use.
//
// The DSP routines use it where their items are independent (output frames
// of a conversion, analysis hops), so a result never depends on the number of
// threads: each item is computed by the same code on the same inputs whichever
// thread runs it. The range is cut into a few chunks per thread, which the
// threads (the calling one among them) take in turn until none is left; if a
// thread cannot be started, the others take its share. An exception thrown by
// any chunk is rethrown to the caller once all threads have ended.
#pragma once

#include <cstddef>
#include <functional>

namespace zandrel {

// Threads ParallelFor uses when asked for 0: the number of CPUs the calling
// thread may run on by its affinity mask (taskset, cgroups' cpusets), at
// least 1; every "all cores" thread count is taken from here.
unsigned DefaultThreadCount();

constexpr unsigned kChunksPerThread = 4;

// Calls body(begin, end) for contiguous chunks covering [0, count), each at
// least minChunk items long unless the range is shorter, on at most |threads|
// threads (0 = DefaultThreadCount()). Chunks may run in any order.
void ParallelFor(size_t count, size_t minChunk, const std::function<void(size_t begin, size_t end)>& body,
                 unsigned threads = 0);

}  // namespace zandrel

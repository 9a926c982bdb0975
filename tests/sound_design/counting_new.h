// Counts allocations made while a test says so, to show that a render with a
// reserved workspace allocates nothing (it may run on an audio thread).
// Replaces the global operator new: include it in one file of a test program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced operator new below hands out malloc'd memory, so the matching
// delete frees it; GCC cannot see that pairing through the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// What the audio thread does while notes and sources arrive from another
// thread: it must never allocate and never take a lock (a lock another thread
// holds makes the driver miss its period). This program counts both on the
// thread that renders: operator new is replaced, and pthread_mutex_lock is
// interposed (std::mutex locks through it), each counting only on a thread
// marked as the audio thread.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "tools/kit_fixture.h"
#include "tools/realtime_synth.h"

namespace {

thread_local bool t_audioThread = false;
std::atomic<long> g_allocations{0};
std::atomic<long> g_locks{0};

using LockFn = int (*)(pthread_mutex_t*);
LockFn RealLock() {
  static const LockFn real = reinterpret_cast<LockFn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  return real;
}
// Resolved before any thread is marked, so dlsym's own work is not counted.
const LockFn g_realLock = RealLock();

}  // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  if (t_audioThread) g_locks.fetch_add(1, std::memory_order_relaxed);
  return RealLock()(mutex);
}

void* operator new(size_t size) {
  if (t_audioThread) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace zandrel {
namespace {

using test::MakeInstrument;
using test::MakeKitAudio;
using test::MakeRegion;

// A source that plays a quiet constant: joined and left over and over.
class Hum final : public AudioSource {
 public:
  explicit Hum(uint32_t rate) : rate_(rate) {}
  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return 1; }
  void Render(float* out, size_t frames) override { std::fill(out, out + frames, 0.01f); }

 private:
  uint32_t rate_;
};

// A device whose callback is the test's own thread: Period is what a
// driver's callback would run.
class ThreadDevice final : public MixingAudioOutput {
 public:
  ~ThreadDevice() override {
    if (IsOpen()) CloseDevice();
  }
  void Period(float* out, size_t frames) { Mix(out, frames, 2); }
  double LatencySeconds() const override { return 0.0; }

 protected:
  bool OpenDevice(uint32_t, DeviceConfig& got, std::string&) override {
    got.rate = 48000;
    got.channels = 2;
    return true;
  }
  void CloseDevice() override {}
};

TEST(AudioThreadWaits, CountersSeeAnAllocationAndALockOnTheMarkedThread) {
  // The counters themselves work: a marked thread that allocates and locks
  // is seen doing so.
  std::mutex m;
  std::thread([&] {
    t_audioThread = true;
    const long a = g_allocations.load(), l = g_locks.load();
    auto p = std::make_unique<std::vector<int>>(100);
    { std::lock_guard lock(m); }
    EXPECT_GT(g_allocations.load(), a);
    EXPECT_GT(g_locks.load(), l);
    t_audioThread = false;
  }).join();
}

TEST(AudioThreadWaits, TenSecondsOfSynthAndMixerWithNotesAndJoinsFromAnotherThread) {
  constexpr uint32_t kRate = 48000;
  // Two seconds of a looped sine as the instrument's one region.
  const CWavLoader audio = MakeKitAudio(test::Sine(88200, 440, 44100, 0.5), 1, 44100);
  InstrumentData inst = MakeInstrument({MakeRegion(0, 88200, 60)});
  inst.regions[0].loopStart = 0;
  inst.regions[0].loopEnd = 88200;
  auto synth = std::make_shared<CRealTimeSynth>();
  synth->Bind(&audio, &inst, kRate);

  ThreadDevice output;
  ASSERT_TRUE(output.Join(synth));

  // The audio thread mixes ten seconds in device periods of 256 frames,
  // counting only inside the mix (the device's callback). It never runs more
  // than one period ahead of the other thread, so the notes and joins land
  // while it mixes even when the machine is busy (unpaced, it mixed all ten
  // seconds before the other thread was first scheduled and heard nothing).
  constexpr size_t kPeriod = 256;
  constexpr size_t kPeriods = 10 * kRate / kPeriod;
  std::atomic<size_t> pulled{0};
  std::atomic<size_t> handled{0};
  std::atomic<bool> done{false};
  long allocations = 0, locks = 0;
  float peak = 0;
  std::thread audioThread([&] {
    std::vector<float> buffer(kPeriod * 2);
    const long a0 = g_allocations.load(), l0 = g_locks.load();
    for (size_t i = 0; i < kPeriods; ++i) {
      while (handled.load(std::memory_order_acquire) + 1 < i) std::this_thread::yield();
      t_audioThread = true;
      output.Period(buffer.data(), kPeriod);
      t_audioThread = false;
      for (float v : buffer) peak = std::max(peak, std::abs(v));
      pulled.store(i + 1, std::memory_order_release);
    }
    allocations = g_allocations.load() - a0;
    locks = g_locks.load() - l0;
    done.store(true);
  });

  // Meanwhile another thread plays notes and joins and leaves sources.
  std::thread other([&] {
    int note = 48;
    auto hum = std::make_shared<Hum>(44100);
    bool joined = false;
    size_t seen = 0;
    while (!done.load()) {
      const size_t now = pulled.load(std::memory_order_acquire);
      if (now == seen) {
        std::this_thread::yield();
        continue;
      }
      seen = now;
      synth->NoteOn(note, 100);
      synth->NoteOff(note - 3);
      note = note == 72 ? 48 : note + 1;
      if (now % 8 == 0) {
        if (joined)
          output.Leave(hum.get());
        else
          EXPECT_TRUE(output.Join(hum));
        joined = !joined;
      }
      handled.store(now, std::memory_order_release);
    }
    if (joined) output.Leave(hum.get());
  });
  audioThread.join();
  other.join();
  output.Leave(synth.get());
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(locks, 0);
  EXPECT_EQ(synth->DroppedEvents(), 0u);
  // The notes did sound (the run was not silence).
  EXPECT_GT(peak, 0.1f);
}

}  // namespace
}  // namespace zandrel

// Closing an RtAudio stream, and telling whether a running stream is still
// fed. (JACK streams do not go through RtAudio: see jack_stream.h.)
//
// StreamPulse is the stream callback's heartbeat: the callback calls Beat()
// (one relaxed atomic add, real-time safe) and any other thread asks Silent()
// whether no callback arrived for a while.
//
// Not part of the display-free core (RtAudio's header stays inside
// zandrel_platform_rtaudio).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

class RtAudio;

namespace zandrel {

class StreamPulse {
 public:
  // The driver's thread, once per callback.
  void Beat() noexcept {
    lastBeat_.store(Now(), std::memory_order_relaxed);
    beats_.fetch_add(1, std::memory_order_relaxed);
  }
  // Marks the stream as just started, so a slow first callback is not a loss.
  void Restart() noexcept { lastBeat_.store(Now(), std::memory_order_relaxed); }
  uint64_t Beats() const noexcept { return beats_.load(std::memory_order_relaxed); }
  // True when no callback came for |quiet| or longer.
  bool Silent(std::chrono::milliseconds quiet) const noexcept {
    return Now() - lastBeat_.load(std::memory_order_relaxed) >= quiet.count();
  }

 private:
  static int64_t Now() noexcept {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  std::atomic<uint64_t> beats_{0};
  std::atomic<int64_t> lastBeat_{0};  // steady-clock milliseconds
};

// How long without a callback makes a running stream count as stopped: a
// few periods, never less than half a second (a loaded machine's dummy JACK
// server can be late by a few periods without anything being wrong).
std::chrono::milliseconds QuietLimit(unsigned int periodFrames, unsigned int rate);

// True when |audio|'s stream is no longer open though its owner has not
// closed it (the back end closed it), or when it has been silent beyond
// |quiet|.
bool RtAudioStreamLost(const RtAudio& audio, const StreamPulse& pulse, std::chrono::milliseconds quiet);

// Stops and closes |audio|'s stream and destroys |audio|; afterwards no
// callback runs or will. Never throws. Returns whether the stream had been
// lost before (the back end had closed it).
bool CloseRtAudioStream(std::unique_ptr<RtAudio>& audio);

}  // namespace zandrel

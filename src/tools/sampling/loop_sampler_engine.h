// LoopSamplerEngine: the recording core of the circular loop sampler.
//
// While an input is open, a grid of one loop length runs without pause from
// the moment it opened (the sample counter). While recording, every input
// block is written into the work take at its position on that grid; at each
// loop boundary the finished take is queued for the user-interface thread,
// which keeps the last eight in a ring, and recording goes straight on into
// a spare buffer. Every input block also yields one monitor block (input when
// monitoring, the playing take and metronome clicks) pushed to a FIFO of four
// blocks that an AudioSource on the output plays.
//
// Audio: 44100 Hz, mono, signed 16-bit. Positions and sizes are frames.
//
// Threads: OnInputBlock() runs on the input's thread; every other call on
// the user-interface thread. One mutex guards the buffer moves (work, spare,
// finished and playing takes), the sample counter and the grid, and is held
// only for those moves, a block's copy into the take and counter reads. Gain,
// peak, flags and volumes are atomics. The audio thread never allocates,
// frees or zeroes a take: Record sizes a pool of the work take and three
// zeroed spares; the timer collects finished takes in order, zeroes buffers
// overwritten in the ring on its own thread and returns them to the pool.
// Takes are freed only on the user-interface thread; the owner closes the
// input and leaves the output before destroying the engine.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/sampling/monitor_fifo.h"

namespace zandrel {

inline constexpr uint32_t kLoopSamplerRate = 44100;
inline constexpr int kMaxTakes = 8;
// A loop shorter than this is refused: the timer must collect each take
// before the next boundary, and a block must not span two of them.
inline constexpr double kMinSamplerLoopSeconds = 0.1;
inline constexpr char kLoopTooShortText[] = "Loop length must be at least 0.1 seconds";
// A long loop is bounded only by the memory its takes need: the ring, the
// work take, the spares and the playing copy, all held at once.
inline constexpr int kTakesInMemory = kMaxTakes + 5;
inline constexpr uint64_t kMaxTakeMemoryBytes = uint64_t{2} << 30;
inline constexpr char kLoopTooLongText[] = "Loop too long: its takes would need more than 2 GB of memory";

// Reads |text| the way the C library reads an integer: leading blanks, a
// sign, then leading decimal digits; 0 when there are none ("120.5" -> 120).
int LeadingInt(const std::string& text);

struct LoopGrid {
  int64_t loopFrames = 0;       // one loop
  double framesPerBeat = 0.0;
  int beatsPerBar = 4;          // the time-signature numerator
};
// The grid from the four timing texts: tempo <= 0 -> 120, bars <= 0 -> 1,
// numerator <= 0 -> 4, denominator <= 0 -> 4.
LoopGrid ComputeLoopGrid(const std::string& tempo, const std::string& bars, const std::string& numerator,
                         const std::string& denominator, uint32_t rate = kLoopSamplerRate);
// Milliseconds in 0..1000 from the latency text, as frames.
int LatencyFrames(const std::string& latencyMs, uint32_t rate = kLoopSamplerRate);
enum class LoopLengthCheck { kAllowed, kTooShort, kTooLong };
LoopLengthCheck CheckLoopLength(int64_t loopFrames, uint32_t rate = kLoopSamplerRate);

// The two 10 ms metronome clicks: a 1 kHz accent at 0.8 of full scale and an
// 800 Hz click at 0.5, flat for 80 % and fading over the last 20 %.
struct MetronomeClicks {
  std::vector<int16_t> accent;
  std::vector<int16_t> normal;
};
MetronomeClicks BuildClicks(uint32_t rate = kLoopSamplerRate);

// The first |crossfadeMs| of take |slot| fading from the start of take
// slot + 1 (full weight at frame 0) into the take's own audio. A plain copy
// for the last slot, 0 ms or an empty next take; empty for no such slot.
std::vector<int16_t> BuildTakeBuffer(const std::deque<std::vector<int16_t>>& ring, int slot, int crossfadeMs,
                                     uint32_t rate = kLoopSamplerRate);

// 2000 levels (percent) of a take for the loop strip: bin j is the largest
// magnitude of the max(1, samples / 2000) samples from j * step.
std::vector<int> TakeLevels(const std::vector<int16_t>& take);

// 44-byte RIFF header plus data: PCM mono 16-bit at |rate|.
std::vector<uint8_t> PlainWavBytes(const std::vector<int16_t>& pcm, uint32_t rate = kLoopSamplerRate,
                                   int channels = 1);

class LoopSamplerEngine {
 public:
  enum class RecordResult { kStarted, kAlreadyArmed, kTooShort, kTooLong };

  // Input blocks hold at most |maxBlockFrames| frames.
  explicit LoopSamplerEngine(size_t maxBlockFrames = 8192, uint32_t rate = kLoopSamplerRate);
  ~LoopSamplerEngine();
  LoopSamplerEngine(const LoopSamplerEngine&) = delete;
  LoopSamplerEngine& operator=(const LoopSamplerEngine&) = delete;

  uint32_t Rate() const { return rate_; }
  size_t MaxBlockFrames() const { return maxBlockFrames_; }

  // --- user-interface thread --------------------------------------------
  // Publishes the grid (one unit, under the lock).
  void SetGrid(const LoopGrid& grid);
  LoopGrid Grid() const;
  void SetLatencyFrames(int frames) { latencyFrames_.store(frames, std::memory_order_relaxed); }
  int LatencyFramesNow() const { return latencyFrames_.load(std::memory_order_relaxed); }
  // The input (re)opened: the grid starts again at 0.
  void ResetCounter();

  // Sizes the pool for the current loop and arms: recording begins with the
  // next input block. A loop CheckLoopLength refuses arms nothing.
  RecordResult Record();
  // Ends recording: the loop in progress becomes a take (silent past the
  // stop point). False when neither recording nor armed.
  bool Stop();
  // Ends recording without keeping the loop in progress (a device change).
  void Abandon();
  bool Armed() const { return armed_.load(std::memory_order_acquire); }
  bool Recording() const { return recording_.load(std::memory_order_acquire); }

  struct TimerReport {
    int peakLevel = 0;           // percent since the last tick
    bool takesChanged = false;   // the ring gained or replaced takes
    bool havePosition = false;
    double position = 0.0;       // 0..1 of the loop
    bool newLoop = false;        // a loop began since the last tick
    int droppedTakes = 0;        // loops lost for want of a spare since the last tick
  };
  // The 40 ms timer: collects finished takes into the ring, reads and clears
  // the peak, reads the position.
  TimerReport TimerTick();

  const std::deque<std::vector<int16_t>>& Takes() const { return ring_; }
  // The slot the next take goes into.
  int RingIndex() const { return ringIndex_; }

  // Playback of a take (a crossfaded copy), aligned to the grid. The old
  // buffer comes back through |take| to be freed here.
  void SetPlayingTake(std::vector<int16_t>& take);
  void SetPlaying(bool on) { playing_.store(on, std::memory_order_release); }
  bool Playing() const { return playing_.load(std::memory_order_acquire); }
  std::vector<int16_t> PlayingTakeCopy() const;

  void SetRecordGain(double gain) { gain_.store(gain, std::memory_order_relaxed); }
  void SetMonitor(bool on) { monitorInput_.store(on, std::memory_order_relaxed); }
  void SetMetronome(bool on) { metronome_.store(on, std::memory_order_relaxed); }
  bool Metronome() const { return metronome_.load(std::memory_order_relaxed); }
  void SetMetronomeVolume(double v) { metronomeVolume_.store(v, std::memory_order_relaxed); }

  // Spare buffers now in the pool (tests).
  size_t SpareCount() const;

  // --- input thread -------------------------------------------------------
  // One input block of |frames| (1..maxBlockFrames; more are cut) mono frames.
  void OnInputBlock(const int16_t* samples, size_t frames);

  // The monitor blocks, one per input block; an output plays them through
  // a MonitorFifoSource.
  const std::shared_ptr<MonitorFifo>& Monitor() const { return monitor_; }

 private:
  using Take = std::vector<int16_t>;
  void WriteTake(const int16_t* samples, size_t frames);  // lock held
  void AddToRing(Take take);
  void CollectReady(bool& changed);

  const uint32_t rate_;
  const size_t maxBlockFrames_;
  const MetronomeClicks clicks_;
  std::vector<int16_t> scratch_;  // the block after gain (input thread)

  mutable std::mutex lock_;
  // --- under lock_ ---
  LoopGrid grid_;
  int64_t counter_ = 0;        // frames since the input opened
  int64_t recordLoop_ = 0;     // loop length the takes were sized for
  Take work_;
  std::vector<Take> spares_;   // capacity fixed by Record: the audio thread only pops
  std::array<Take, 4> ready_;  // finished takes in order, not yet collected
  size_t readyHead_ = 0, readyCount_ = 0;
  Take playingTake_;
  // --- atomics ---
  std::atomic<int> latencyFrames_{0};
  std::atomic<double> gain_{1.0};
  std::atomic<int> peak_{0};
  std::atomic<bool> armed_{false};
  std::atomic<bool> recording_{false};
  std::atomic<bool> playing_{false};
  std::atomic<bool> monitorInput_{false};
  std::atomic<bool> metronome_{false};
  std::atomic<double> metronomeVolume_{1.0};
  std::atomic<int> dropped_{0};
  // --- user-interface thread ---
  std::deque<Take> ring_;
  int ringIndex_ = 0;
  int64_t timerCounter_ = 0;
  const std::shared_ptr<MonitorFifo> monitor_;
};

}  // namespace zandrel

// MonitorFifo: what the sampling tools let the user hear while they record.
//
// The input callback fills one block per input block and pushes it; the
// output plays the blocks in order through MonitorFifoSource, an AudioSource
// on CurrentAudioOutput(). Four blocks, preallocated: a push finding all
// four waiting is dropped (nothing ever waits for the output), and the
// output plays silence when none waits.
//
// Threads: one producer (the input's thread: BeginPush/CommitPush) and one
// consumer (the output's thread: Pop, or the source's Render); lock-free.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio_output.h"

namespace zandrel {

class MonitorFifo {
 public:
  static constexpr size_t kBlocks = 4;

  // Blocks of at most |maxBlockFrames| frames of |channels| samples.
  MonitorFifo(size_t maxBlockFrames, int channels = 1);
  MonitorFifo(const MonitorFifo&) = delete;
  MonitorFifo& operator=(const MonitorFifo&) = delete;

  size_t MaxBlockFrames() const { return maxFrames_; }
  int Channels() const { return channels_; }

  // Producer: the next free block (MaxBlockFrames() frames), or nullptr when
  // all four wait (the block is counted as dropped). CommitPush publishes it
  // with its frame count.
  int16_t* BeginPush();
  void CommitPush(size_t frames);

  // Consumer: copies the oldest block into |out| (at most |capacityFrames|
  // frames) and frees it; false when none waits.
  bool Pop(int16_t* out, size_t capacityFrames, size_t* frames);

  uint64_t Pushed() const { return pushed_.load(std::memory_order_relaxed); }
  uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct Block {
    std::vector<int16_t> samples;
    size_t frames = 0;
  };
  const size_t maxFrames_;
  const int channels_;
  std::array<Block, kBlocks> blocks_;
  std::atomic<uint64_t> write_{0};  // blocks published
  std::atomic<uint64_t> read_{0};   // blocks consumed
  std::atomic<uint64_t> pushed_{0}, dropped_{0};
};

// Plays a MonitorFifo's blocks in order at |rate|.
class MonitorFifoSource final : public AudioSource {
 public:
  MonitorFifoSource(std::shared_ptr<MonitorFifo> fifo, uint32_t rate);
  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return fifo_->Channels() > 1 ? 2 : 1; }
  void Render(float* out, size_t frames) override;

 private:
  std::shared_ptr<MonitorFifo> fifo_;
  const uint32_t rate_;
  std::vector<int16_t> carry_;  // the block being played
  size_t carryFrames_ = 0, carryPos_ = 0;
};

}  // namespace zandrel

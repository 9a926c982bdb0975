#include "tools/sampling/monitor_fifo.h"

#include <algorithm>

namespace zandrel {

MonitorFifo::MonitorFifo(size_t maxBlockFrames, int channels)
    : maxFrames_(std::max<size_t>(1, maxBlockFrames)), channels_(std::max(1, channels)) {
  for (Block& b : blocks_) b.samples.assign(maxFrames_ * static_cast<size_t>(channels_), 0);
}

int16_t* MonitorFifo::BeginPush() {
  const uint64_t w = write_.load(std::memory_order_relaxed);
  if (w - read_.load(std::memory_order_acquire) >= kBlocks) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  return blocks_[w % kBlocks].samples.data();
}

void MonitorFifo::CommitPush(size_t frames) {
  const uint64_t w = write_.load(std::memory_order_relaxed);
  blocks_[w % kBlocks].frames = std::min(frames, maxFrames_);
  write_.store(w + 1, std::memory_order_release);
  pushed_.fetch_add(1, std::memory_order_relaxed);
}

bool MonitorFifo::Pop(int16_t* out, size_t capacityFrames, size_t* frames) {
  const uint64_t r = read_.load(std::memory_order_relaxed);
  if (r == write_.load(std::memory_order_acquire)) return false;
  const Block& b = blocks_[r % kBlocks];
  const size_t n = std::min(b.frames, capacityFrames);
  std::copy_n(b.samples.data(), n * static_cast<size_t>(channels_), out);
  if (frames) *frames = n;
  read_.store(r + 1, std::memory_order_release);
  return true;
}

MonitorFifoSource::MonitorFifoSource(std::shared_ptr<MonitorFifo> fifo, uint32_t rate)
    : fifo_(std::move(fifo)), rate_(rate) {
  carry_.assign(fifo_->MaxBlockFrames() * static_cast<size_t>(fifo_->Channels()), 0);
}

void MonitorFifoSource::Render(float* out, size_t frames) {
  const size_t ch = static_cast<size_t>(fifo_->Channels());
  const size_t outCh = static_cast<size_t>(Channels());
  for (size_t i = 0; i < frames; ++i) {
    if (carryPos_ >= carryFrames_) {
      carryPos_ = carryFrames_ = 0;
      if (!fifo_->Pop(carry_.data(), fifo_->MaxBlockFrames(), &carryFrames_)) {
        // Nothing waits: silence for the rest of this call.
        std::fill(out + i * outCh, out + frames * outCh, 0.0f);
        return;
      }
    }
    for (size_t c = 0; c < outCh; ++c) out[i * outCh + c] = carry_[carryPos_ * ch + std::min(c, ch - 1)] / 32768.0f;
    ++carryPos_;
  }
}

}  // namespace zandrel

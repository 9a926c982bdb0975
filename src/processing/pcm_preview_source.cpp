#include "processing/pcm_preview_source.h"

#include <algorithm>

namespace zandrel {

PcmPreviewSource::PcmPreviewSource(std::vector<int16_t> pcm, uint32_t sampleRate, int channels, bool loop)
    : rate_(sampleRate), channels_(channels == 2 ? 2 : 1), loop_(loop), pcm_(std::move(pcm)) {}

void PcmPreviewSource::Render(float* out, size_t frames) {
  std::lock_guard lock(lock_);
  const size_t total = pcm_.size() / static_cast<size_t>(channels_);
  const size_t c = static_cast<size_t>(channels_);
  size_t n = 0;
  while (n < frames) {
    if (position_ >= total) {
      if (!loop_ || total == 0) break;
      position_ = 0;
    }
    const size_t run = std::min(frames - n, total - position_);
    const int16_t* src = pcm_.data() + position_ * c;
    for (size_t i = 0; i < run * c; ++i) out[n * c + i] = static_cast<float>(src[i]) / 32768.0f;
    n += run;
    position_ += run;
  }
  std::fill(out + n * c, out + frames * c, 0.0f);
  if (!loop_ && position_ >= total) finished_.store(true, std::memory_order_release);
}

void PcmPreviewSource::Swap(std::vector<int16_t>& pcm) {
  std::lock_guard lock(lock_);
  pcm_.swap(pcm);
  if (position_ >= pcm_.size() / static_cast<size_t>(channels_)) position_ = 0;
  if (!pcm_.empty()) finished_.store(false, std::memory_order_release);
}

size_t PcmPreviewSource::Position() const {
  std::lock_guard lock(lock_);
  return position_;
}

}  // namespace zandrel

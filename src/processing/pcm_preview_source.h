// PcmPreviewSource: an AudioSource that plays interleaved 16-bit PCM held in
// memory, in a loop or once, for the tools' previews. Play is Join on
// CurrentAudioOutput(), stop is Leave.
//
// Swap() hands the source new PCM while it plays (a re-rendered preview): the
// buffers are exchanged under a lock that is held only for the exchange and
// for each Render, and the play position is kept (0 when it lies past the
// new end). Once-mode plays the PCM to its end, then silence, and sets the
// finished flag, which any thread may read.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/audio_output.h"

namespace zandrel {

class PcmPreviewSource final : public AudioSource {
 public:
  // |channels| 1 or 2 (others are treated as 1).
  PcmPreviewSource(std::vector<int16_t> pcm, uint32_t sampleRate, int channels, bool loop);

  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }
  void Render(float* out, size_t frames) override;

  // Exchanges |pcm| with the playing buffer; |pcm| receives the old one.
  void Swap(std::vector<int16_t>& pcm);
  // Once-mode: true after the last frame was rendered.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // The next frame to play.
  size_t Position() const;

 private:
  const uint32_t rate_;
  const int channels_;
  const bool loop_;
  mutable std::mutex lock_;  // pcm_ and position_: held for a swap or one render
  std::vector<int16_t> pcm_;
  size_t position_ = 0;  // frames
  std::atomic<bool> finished_{false};
};

}  // namespace zandrel

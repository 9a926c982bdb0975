#include "view/model/peak_cache.h"

#include <algorithm>
#include <cmath>

#include "processing/sample_access.h"

namespace zandrel {
namespace {

int16_t ToPeak(double sample) { return static_cast<int16_t>(std::trunc(sample * 32767.0)); }

}  // namespace

double SampleAtFrame(const CWavLoader& audio, int64_t frame) {
  const PcmFormat& f = audio.format;
  if (frame < 0 || f.nBlockAlign == 0) return 0.0;
  const size_t offset = static_cast<size_t>(frame) * f.nBlockAlign;
  const size_t width = f.wBitsPerSample / 8;
  if (width == 0 || offset + width > audio.data.size()) return 0.0;
  const uint8_t* p = audio.data.data() + offset;
  const int bits = f.wBitsPerSample;
  if (bits == 32 && f.wFormatTag == kWaveFormatIeeeFloat) return FloatSampleAt(p);
  // Integer samples as -1..1: the raw value over 2^(bits - 1); other widths read as 0.
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0.0;
  return RawSampleAt(p, bits) / static_cast<double>(1u << (bits - 1));
}

void PeakCache::Clear() {
  audio_ = nullptr;
  frames_ = 0;
  blocks_.clear();
}

void PeakCache::Rebuild(const CWavLoader* audio, int64_t bucketSize) {
  Clear();
  ++rebuilds_;
  bucket_ = std::max<int64_t>(1, bucketSize);
  if (!audio || audio->data.empty() || audio->FrameCount() == 0) return;
  audio_ = audio;
  frames_ = audio->FrameCount();
  blocks_.resize(static_cast<size_t>((frames_ + kBlock - 1) / kBlock));
  const bool pcm16 = audio->format.wBitsPerSample == 16;
  const size_t align = audio->format.nBlockAlign;
  for (size_t b = 0; b < blocks_.size(); ++b) {
    const int64_t start = static_cast<int64_t>(b) * kBlock;
    const int64_t end = std::min(frames_, start + kBlock);
    int16_t lo = 0, hi = 0;
    for (int64_t i = start; i < end; ++i) {
      const int16_t v = pcm16 ? ToPeak(static_cast<int16_t>(ReadLE16(audio->data.data() + i * align)) / 32768.0)
                              : ToPeak(SampleAtFrame(*audio, i));
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    blocks_[b] = {lo, hi};
  }
}

void PeakCache::SetBucketSize(int64_t bucketSize) { bucket_ = std::max<int64_t>(1, bucketSize); }

int64_t PeakCache::size() const { return frames_ == 0 ? 0 : (frames_ + bucket_ - 1) / bucket_; }

PeakEntry PeakCache::operator[](int64_t k) const {
  PeakEntry e;
  if (!audio_ || k < 0 || k >= size()) return e;
  const int64_t start = k * bucket_;
  const int64_t end = std::min(frames_, start + bucket_);
  e.first = ToPeak(SampleAtFrame(*audio_, start));
  auto take = [&](int16_t lo, int16_t hi) {
    e.min = std::min(e.min, lo);
    e.max = std::max(e.max, hi);
  };
  int64_t i = start;
  // Partial block at the start, whole blocks from the summary, partial at the end.
  while (i < end && i % kBlock != 0) {
    const int16_t v = ToPeak(SampleAtFrame(*audio_, i++));
    take(v, v);
  }
  while (i + kBlock <= end) {
    const Block& b = blocks_[static_cast<size_t>(i / kBlock)];
    take(b.min, b.max);
    i += kBlock;
  }
  while (i < end) {
    const int16_t v = ToPeak(SampleAtFrame(*audio_, i++));
    take(v, v);
  }
  return e;
}

}  // namespace zandrel

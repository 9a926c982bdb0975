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
  levels_.clear();
}

int16_t PeakCache::PeakAt(int64_t frame) const {
  const CWavLoader& a = *audio_;
  if (a.format.wBitsPerSample == 16 && a.format.nBlockAlign >= 2)
    return ToPeak(static_cast<int16_t>(ReadLE16(a.data.data() + frame * a.format.nBlockAlign)) / 32768.0);
  return ToPeak(SampleAtFrame(a, frame));
}

void PeakCache::Rebuild(const CWavLoader* audio, int64_t bucketSize) {
  Clear();
  ++rebuilds_;
  bucket_ = std::max<int64_t>(1, bucketSize);
  if (!audio || audio->data.empty() || audio->FrameCount() == 0) return;
  audio_ = audio;
  frames_ = audio->FrameCount();
  std::vector<Block>& blocks = levels_.emplace_back(static_cast<size_t>((frames_ + kBlock - 1) / kBlock));
  for (size_t b = 0; b < blocks.size(); ++b) {
    const int64_t start = static_cast<int64_t>(b) * kBlock;
    const int64_t end = std::min(frames_, start + kBlock);
    int16_t lo = 0, hi = 0;
    for (int64_t i = start; i < end; ++i) {
      const int16_t v = PeakAt(i);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    blocks[b] = {lo, hi};
  }
  // Coarser levels until one holds fewer entries than a single summary would cover.
  while (levels_.back().size() > static_cast<size_t>(kFanOut)) {
    const std::vector<Block>& below = levels_.back();
    std::vector<Block> above((below.size() + kFanOut - 1) / kFanOut);
    for (size_t i = 0; i < above.size(); ++i) {
      Block b{0, 0};
      const size_t end = std::min(below.size(), (i + 1) * kFanOut);
      for (size_t j = i * kFanOut; j < end; ++j) {
        b.min = std::min(b.min, below[j].min);
        b.max = std::max(b.max, below[j].max);
      }
      above[i] = b;
    }
    levels_.push_back(std::move(above));
  }
}

void PeakCache::SetBucketSize(int64_t bucketSize) { bucket_ = std::max<int64_t>(1, bucketSize); }

int64_t PeakCache::size() const { return frames_ == 0 ? 0 : (frames_ + bucket_ - 1) / bucket_; }

PeakEntry PeakCache::operator[](int64_t k) const {
  PeakEntry e;
  if (!audio_ || k < 0 || k >= size()) return e;
  const int64_t start = k * bucket_;
  const int64_t end = std::min(frames_, start + bucket_);
  e.first = PeakAt(start);
  auto take = [&](int16_t lo, int16_t hi) {
    e.min = std::min(e.min, lo);
    e.max = std::max(e.max, hi);
  };
  // The frames before the first whole block and after the last one one by one.
  const int64_t firstBlock = (start + kBlock - 1) / kBlock;
  const int64_t endBlock = end / kBlock;
  if (firstBlock >= endBlock) {
    for (int64_t i = start; i < end; ++i) {
      const int16_t v = PeakAt(i);
      take(v, v);
    }
    return e;
  }
  for (int64_t i = start; i < firstBlock * kBlock; ++i) {
    const int16_t v = PeakAt(i);
    take(v, v);
  }
  for (int64_t i = endBlock * kBlock; i < end; ++i) {
    const int16_t v = PeakAt(i);
    take(v, v);
  }
  // The whole blocks [lo, hi) of each level: the ragged ends at this level,
  // the aligned middle one level up.
  int64_t lo = firstBlock, hi = endBlock;
  for (size_t level = 0; lo < hi; ++level) {
    const std::vector<Block>& blocks = levels_[level];
    const int64_t upLo = (lo + kFanOut - 1) / kFanOut;
    const int64_t upHi = hi / kFanOut;
    if (level + 1 == levels_.size() || upLo >= upHi) {
      for (int64_t i = lo; i < hi; ++i) take(blocks[static_cast<size_t>(i)].min, blocks[static_cast<size_t>(i)].max);
      break;
    }
    for (int64_t i = lo; i < upLo * kFanOut; ++i)
      take(blocks[static_cast<size_t>(i)].min, blocks[static_cast<size_t>(i)].max);
    for (int64_t i = upHi * kFanOut; i < hi; ++i)
      take(blocks[static_cast<size_t>(i)].min, blocks[static_cast<size_t>(i)].max);
    lo = upLo;
    hi = upHi;
  }
  return e;
}

}  // namespace zandrel

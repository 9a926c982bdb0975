#include "view/model/peak_cache.h"

#include <algorithm>
#include <cmath>

#include "processing/sample_access.h"

namespace zandrel {
namespace {

// Float samples beyond full scale are drawn at full scale: the peaks stay
// in range and rise with the sample.
int16_t ToPeak(double sample) { return static_cast<int16_t>(std::trunc(std::clamp(sample, -1.0, 1.0) * 32767.0)); }

// ToPeak(v / 32768.0) for a 16-bit sample v without the floating point:
// v x 32767 / 32768 is v less v / 32768, a fraction for any v but -32768
// (which gives -32767 exactly), so truncating it moves v one toward zero.
int16_t Peak16(int v) { return static_cast<int16_t>(v > 0 ? v - 1 : v < 0 ? v + 1 : 0); }

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
    return Peak16(static_cast<int16_t>(ReadLE16(a.data.data() + frame * a.format.nBlockAlign)));
  return ToPeak(SampleAtFrame(a, frame));
}

PeakCache::Block PeakCache::FramePeaks(int64_t start, int64_t end) const {
  // A peak rises with the sample, so the peaks of the extremes are the
  // extremes of the peaks: one conversion per range rather than per frame.
  Block b{0, 0};
  if (start >= end) return b;
  const CWavLoader& a = *audio_;
  if (a.format.wBitsPerSample == 16 && a.format.nBlockAlign >= 2) {
    const size_t stride = a.format.nBlockAlign;
    const uint8_t* p = a.data.data() + static_cast<size_t>(start) * stride;
    int lo = 0, hi = 0;
    const auto scan = [&](size_t step) {
      for (int64_t i = start; i < end; ++i, p += step) {
        const int v = static_cast<int16_t>(ReadLE16(p));
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    };
    // Mono, the common case, with its stride known to the compiler.
    if (stride == 2)
      scan(2);
    else
      scan(stride);
    return {Peak16(lo), Peak16(hi)};
  }
  double lo = 0, hi = 0;
  for (int64_t i = start; i < end; ++i) {
    const double v = SampleAtFrame(a, i);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {ToPeak(lo), ToPeak(hi)};
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
    blocks[b] = FramePeaks(start, std::min(frames_, start + kBlock));
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
  auto take = [&](Block b) {
    e.min = std::min(e.min, b.min);
    e.max = std::max(e.max, b.max);
  };
  const int64_t firstBlock = (start + kBlock - 1) / kBlock;
  const int64_t endBlock = end / kBlock;
  if (firstBlock >= endBlock) {
    take(FramePeaks(start, end));
    return e;
  }
  // The bucket splits into the aligned middle of the coarsest level it
  // spans and, at each finer level and then in frames, a ragged piece at
  // either end. Each ragged piece lies within one entry of the level above
  // (one block, for the frames); taken from the middle outwards, a piece
  // whose enclosing entry stays within the extremes found so far cannot
  // move them and is skipped. At a wide bucket that is nearly every piece,
  // which spares the reads of the audio itself (a cache miss or two per
  // column) and of the finer levels.
  struct Piece {
    int64_t lo, hi;   // entries [lo, hi) of the level
    int64_t parent;   // the entry of the level above that holds them
  };
  constexpr int kMostLevels = 16;
  Piece ragged[kMostLevels][2];
  int levels = 0;
  int64_t lo = firstBlock, hi = endBlock;
  size_t level = 0;
  for (;; ++level) {
    const int64_t upLo = (lo + kFanOut - 1) / kFanOut;
    const int64_t upHi = hi / kFanOut;
    if (level + 1 == levels_.size() || upLo >= upHi || levels == kMostLevels) break;
    ragged[levels][0] = {lo, upLo * kFanOut, upLo - 1};
    ragged[levels][1] = {upHi * kFanOut, hi, upHi};
    ++levels;
    lo = upLo;
    hi = upHi;
  }
  const std::vector<Block>& top = levels_[level];
  for (int64_t i = lo; i < hi; ++i) take(top[static_cast<size_t>(i)]);
  const auto inside = [&](Block b) { return b.min >= e.min && b.max <= e.max; };
  for (int j = levels - 1; j >= 0; --j) {
    const std::vector<Block>& blocks = levels_[static_cast<size_t>(j)];
    const std::vector<Block>& above = levels_[static_cast<size_t>(j) + 1];
    for (const Piece& piece : ragged[j]) {
      if (piece.lo >= piece.hi || inside(above[static_cast<size_t>(piece.parent)])) continue;
      for (int64_t i = piece.lo; i < piece.hi; ++i) take(blocks[static_cast<size_t>(i)]);
    }
  }
  const std::vector<Block>& blocks = levels_[0];
  if (start < firstBlock * kBlock && !inside(blocks[static_cast<size_t>(firstBlock - 1)]))
    take(FramePeaks(start, firstBlock * kBlock));
  if (endBlock * kBlock < end && !inside(blocks[static_cast<size_t>(endBlock)]))
    take(FramePeaks(endBlock * kBlock, end));
  return e;
}

}  // namespace zandrel

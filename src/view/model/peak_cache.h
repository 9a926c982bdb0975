// The waveform's peak cache: per bucket of `bucketSize` frames, the minimum
// and maximum of channel 0 (clamped through 0) and the bucket's first sample,
// each as -1..1 x 32767 truncated toward zero. Bucket k covers frames
// [k x bucketSize, (k + 1) x bucketSize) and the drawing looks entries up by
// that index.
//
// Holding one entry per bucket would cost six bytes per frame at the finest
// zoom (about 1 GB for an hour of audio) and a full pass over the file for
// every zoom step. Instead the cache keeps a fixed summary of 64-frame blocks,
// built once per change of the audio, and computes the entries of any bucket
// size from it on demand; the entries are exactly those of the full table.
// Above the blocks sit coarser levels, each summarising 16 entries of the
// one below, so that a bucket of a whole hour's column (some 100000 frames)
// reads a few dozen summaries rather than some 1500 blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "document/wav_loader.h"

namespace zandrel {

struct PeakEntry {
  int16_t min = 0;    // never above 0
  int16_t max = 0;    // never below 0
  int16_t first = 0;  // the bucket's first sample
  bool operator==(const PeakEntry&) const = default;
};

// Channel 0 of |frame| as -1..1: 8-bit (v - 128) / 128, 16-bit v / 32768,
// 24-bit v / 8388608, 32-bit float when the tag says so, else v / 2^31; 0 for
// other depths and for frames outside the audio.
double SampleAtFrame(const CWavLoader& audio, int64_t frame);

class PeakCache {
 public:
  static constexpr int64_t kBlock = 64;
  // Entries of one level summarised by one entry of the level above.
  static constexpr int64_t kFanOut = 16;

  // Reads the audio again (after any change to it) and sets the bucket size.
  void Rebuild(const CWavLoader* audio, int64_t bucketSize);
  // Changes only the bucket size (a zoom step); cheap.
  void SetBucketSize(int64_t bucketSize);
  void Clear();

  bool empty() const { return frames_ == 0; }
  // How often the audio was read again since construction (each is a pass
  // over the whole file).
  int64_t Rebuilds() const { return rebuilds_; }
  int64_t size() const;  // number of buckets
  int64_t bucketSize() const { return bucket_; }
  // Entry k, 0 <= k < size().
  PeakEntry operator[](int64_t k) const;

 private:
  struct Block {
    int16_t min, max;
  };
  // Channel 0 of |frame| as a peak value (-1..1 x 32767 truncated).
  int16_t PeakAt(int64_t frame) const;
  // The peaks of frames [start, end), each clamped through 0.
  Block FramePeaks(int64_t start, int64_t end) const;

  const CWavLoader* audio_ = nullptr;
  int64_t frames_ = 0;
  int64_t bucket_ = 1;
  int64_t rebuilds_ = 0;
  // levels_[0]: one block per 64 frames (the last may be shorter);
  // levels_[j + 1][i]: the blocks of levels_[j][16 i .. 16 i + 15].
  std::vector<std::vector<Block>> levels_;
};

}  // namespace zandrel

// ResampleSinc: band-limited sinc sample-rate conversion of interleaved
// 16-bit PCM, the one sample-rate converter of the system (rate commands,
// re-tuning, paste and append at another rate, device upload, tuning remap).
//
// The filter arithmetic is libsamplerate's multichannel sinc interpolation
// with 12-bit fixed-point filter phase, always with its best-quality
// coefficient table, so the output equals libsamplerate's SRC_SINC_BEST_QUALITY
// output after the same scaling, clamping and truncation, sample for sample.
//
// The input position of each output frame is walked as libsamplerate walks
// it (the fraction carried from frame to frame by 1 / (1 / ratio), whole
// frames moved out with lrint, filter positions rounded with lrint), so the
// output is identical at every ratio, not only at ratios of small integers.
//
// Conventions: ratio = input frames per output frame = source rate / target
// rate (2.0 halves the length); the output has floor(frames / ratio) frames.
// Input samples are scaled by 2^-15 to floats; output floats are multiplied by
// 32768, clamped to -32768..32767 and truncated toward zero.
//
// The output frames are independent of each other, so a long conversion is
// spread over the machine's cores; the result does not depend on the number
// of threads, nor on whether anybody watches its progress. The functions hold
// no state and may be called from any thread.
//
// A conversion reports its progress as it goes (a whole file takes seconds):
// after its preparation steps and then every few thousand output frames,
// whichever thread finished them; the reports are made one at a time, so the
// WorkProgress never runs on two threads at once. Once it returns false every
// thread stops at its next check (at most about a millisecond of work).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/work_progress.h"
#include "processing/sinc_tables.h"

namespace zandrel {

constexpr int32_t kSincQualityBest = 2;
constexpr int32_t kSincQualityMedium = 1;
constexpr int32_t kSincQualityFastest = 0;
constexpr int kSincMaxChannels = 16;
// Ratios outside 1/256 .. 256 (libsamplerate's own limits) are refused.
constexpr double kSincMaxRatio = 256.0;

// Describes one coefficient table. Only Best() filters: ResampleSinc
// overwrites any other descriptor (another quality, or fields that do not
// describe the best table) with Best().
struct SincFilterSpec {
  const float* coeffs = nullptr;  // one filter half
  int32_t halfLen = 0;            // usable coefficients; the table holds halfLen + 2
  int32_t increment = 0;          // table entries per input sample at unity ratio
  int32_t quality = kSincQualityBest;

  static SincFilterSpec Best() {
    return {kSincBestTable, kSincBestLayout.count - 2, kSincBestLayout.increment, kSincQualityBest};
  }
  static SincFilterSpec Medium() {
    return {kSincMediumTable, kSincMediumLayout.count - 2, kSincMediumLayout.increment, kSincQualityMedium};
  }
  static SincFilterSpec Fastest() {
    return {kSincFastestTable, kSincFastestLayout.count - 2, kSincFastestLayout.increment, kSincQualityFastest};
  }
  bool operator==(const SincFilterSpec&) const = default;
};

// Converts |frames| interleaved frames of |channels| channels by |ratio| into
// |out| (replaced by channels * floor(frames / ratio) samples) and returns
// out. A descriptor other than Best() is overwritten with Best() first.
// Nothing is converted and out is left empty when frames is 0, the output
// would have no frame, channels is not 1..16, in is null, or ratio is not a
// finite number within 1/256 .. 256. |threads| = 0 uses every core.
// |progress| hears how far the conversion is; when it asks to stop, out is
// left empty.
std::vector<int16_t>& ResampleSinc(SincFilterSpec& spec, std::vector<int16_t>& out, const int16_t* in, uint64_t frames,
                                   int channels, double ratio, unsigned threads = 0,
                                   const WorkProgress& progress = {});

// out[i] = in[i] * 2^-15.
void Int16ToFloat(const int16_t* in, float* out, uint64_t count);

// One output frame, all channels (at most 16). increment and startFilterIndex
// are fixed point with 12 fraction bits (4096 = one table step); dataIndex is
// the index in |data| of the first sample of the input frame at or just
// before the output position. Taps whose coefficient would lie past the table
// or whose data would lie before |data| are skipped; the caller pads |data|
// so that every other tap lies inside it.
void SincFilterOutput(const float* coeffs, int halfLen, int increment, int startFilterIndex, const float* data,
                      int64_t dataIndex, int channels, double scale, float* out);

}  // namespace zandrel

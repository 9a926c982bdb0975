#include "processing/sinc_resampler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "processing/parallel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZANDREL_SINC_X86 1
#endif

namespace zandrel {
namespace {

constexpr int kShiftBits = 12;
constexpr int64_t kFpOne = int64_t{1} << kShiftBits;
constexpr int64_t kFpMask = kFpOne - 1;
constexpr double kInvFpOne = 1.0 / static_cast<double>(kFpOne);

// Interpolated coefficient at fixed-point table position f (f >= 0).
inline double CoefficientAt(const float* coeffs, int64_t f) {
  const int64_t index = f >> kShiftBits;
  const double fraction = static_cast<double>(f & kFpMask) * kInvFpOne;
  // The difference is taken in float, like libsamplerate does, before it is
  // widened: the output must match its output bit for bit.
  return coeffs[index] + fraction * static_cast<float>(coeffs[index + 1] - coeffs[index]);
}

inline int16_t ToInt16(float y) {
  const float scaled = y * 32768.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<int16_t>(scaled);  // truncation toward zero
}

bool ValidRatio(double ratio) { return std::isfinite(ratio) && ratio >= 1.0 / kSincMaxRatio && ratio <= kSincMaxRatio; }

}  // namespace

void Int16ToFloat(const int16_t* in, float* out, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) out[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
}

void SincFilterOutput(const float* coeffs, int halfLen, int increment, int startFilterIndex, const float* data,
                      int64_t dataIndex, int channels, double scale, float* out) {
  double left[kSincMaxChannels] = {};
  double right[kSincMaxChannels] = {};
  channels = std::clamp(channels, 0, kSincMaxChannels);
  if (increment <= 0 || halfLen < 0 || coeffs == nullptr) {  // no filter to step through
    std::fill(out, out + channels, 0.0f);
    return;
  }
  const int64_t maxFilterIndex = int64_t{halfLen} * kFpOne;
  const int64_t tableSize = int64_t{halfLen} + 2;

  // Left half: from the far end of the filter toward its centre.
  int64_t k = (maxFilterIndex - startFilterIndex) / increment;
  int64_t f = startFilterIndex + k * increment;
  int64_t d = dataIndex - channels * k;
  while (f >= 0) {
    if ((f >> kShiftBits) + 1 < tableSize && d >= 0) {
      const double c = CoefficientAt(coeffs, f);
      for (int ch = 0; ch < channels; ++ch) left[ch] += c * data[d + ch];
    }
    f -= increment;
    d += channels;
  }

  // Right half: from the far end toward the centre, which it does not include.
  f = increment - startFilterIndex;
  k = (maxFilterIndex - f) / increment;
  f += k * increment;
  d = dataIndex + channels * (1 + k);
  do {
    if (f >= 0 && (f >> kShiftBits) + 1 < tableSize) {
      const double c = CoefficientAt(coeffs, f);
      for (int ch = 0; ch < channels; ++ch) right[ch] += c * data[d + ch];
    }
    f -= increment;
    d -= channels;
  } while (f > 0);

  for (int ch = 0; ch < channels; ++ch) out[ch] = static_cast<float>(scale * (left[ch] + right[ch]));
}

namespace {

// The interpolated taps of one filter phase (one start filter index), in the
// order SincFilterOutput adds them, with the data offsets they start at. A
// conversion at a ratio of small integers (44100 to 48000: 160 phases) uses few
// phases over and over; forming each phase's taps once turns the inner loop
// into a plain multiply-add over a short array instead of two reads from the
// large table per tap, with the same products added in the same order.
struct FilterPhase {
  std::vector<double> left;   // far end first; the data runs forward from leftFirst
  std::vector<double> right;  // far end first; the data runs backward from rightFirst
  int64_t leftBack = 0;       // leftFirst = dataIndex - channels * leftBack
  int64_t rightAhead = 0;     // rightFirst = dataIndex + channels * rightAhead
};

// Forms the taps of phase |startFilterIndex|; false when some tap would be
// skipped by SincFilterOutput (those frames are left to it).
bool MakeFilterPhase(const SincFilterSpec& spec, int64_t increment, int64_t startFilterIndex, FilterPhase& phase) {
  const int64_t maxFilterIndex = int64_t{spec.halfLen} * kFpOne;
  const int64_t tableSize = int64_t{spec.halfLen} + 2;
  phase.left.clear();
  phase.right.clear();
  int64_t k = (maxFilterIndex - startFilterIndex) / increment;
  phase.leftBack = k;
  for (int64_t f = startFilterIndex + k * increment; f >= 0; f -= increment) {
    if ((f >> kShiftBits) + 1 >= tableSize) return false;
    phase.left.push_back(CoefficientAt(spec.coeffs, f));
  }
  int64_t f = increment - startFilterIndex;
  k = (maxFilterIndex - f) / increment;
  phase.rightAhead = 1 + k;
  f += k * increment;
  do {
    if (f < 0 || (f >> kShiftBits) + 1 >= tableSize) return false;
    phase.right.push_back(CoefficientAt(spec.coeffs, f));
    f -= increment;
  } while (f > 0);
  return true;
}

constexpr int kBatch = 4;  // output frames computed side by side
// Frames that must share a phase for it to be formed.
constexpr size_t kSharedPhaseFrames = 8;

// kFrames output frames from formed phases: SincFilterOutput's sums, term for
// term. The frames' sums are independent; running them side by side keeps
// several additions in flight instead of waiting on one chain of sums.
template <int kChannels, int kFrames>
void ApplyFilterPhases(const FilterPhase* const* phases, const float* data, const int64_t* dataIndex, double scale,
                       float* out) {
  double left[kFrames][kChannels] = {};
  double right[kFrames][kChannels] = {};

  const double* c[kFrames];
  const float* d[kFrames];
  size_t common = phases[0]->left.size();
  for (int b = 0; b < kFrames; ++b) {
    c[b] = phases[b]->left.data();
    d[b] = data + dataIndex[b] - kChannels * phases[b]->leftBack;
    common = std::min(common, phases[b]->left.size());
  }
  for (size_t m = 0; m < common; ++m)
    for (int b = 0; b < kFrames; ++b)
      for (int ch = 0; ch < kChannels; ++ch) left[b][ch] += c[b][m] * d[b][kChannels * m + ch];
  for (int b = 0; b < kFrames; ++b)
    for (size_t m = common; m < phases[b]->left.size(); ++m)
      for (int ch = 0; ch < kChannels; ++ch) left[b][ch] += c[b][m] * d[b][kChannels * m + ch];

  common = phases[0]->right.size();
  for (int b = 0; b < kFrames; ++b) {
    c[b] = phases[b]->right.data();
    d[b] = data + dataIndex[b] + kChannels * phases[b]->rightAhead;
    common = std::min(common, phases[b]->right.size());
  }
  for (size_t m = 0; m < common; ++m) {
    for (int b = 0; b < kFrames; ++b) {
      for (int ch = 0; ch < kChannels; ++ch) right[b][ch] += c[b][m] * d[b][ch];
      d[b] -= kChannels;
    }
  }
  for (int b = 0; b < kFrames; ++b) {
    for (size_t m = common; m < phases[b]->right.size(); ++m) {
      for (int ch = 0; ch < kChannels; ++ch) right[b][ch] += c[b][m] * d[b][ch];
      d[b] -= kChannels;
    }
  }

  for (int b = 0; b < kFrames; ++b)
    for (int ch = 0; ch < kChannels; ++ch)
      out[b * kChannels + ch] = static_cast<float>(scale * (left[b][ch] + right[b][ch]));
}

// Where one output frame's taps lie, half by half (0 = left, 1 = right):
// the fixed-point table position of the farthest tap, the number of taps
// and the first sample the farthest tap multiplies. Each half is then walked
// from its far end toward the centre, as SincFilterOutput walks it: the table
// position falls by the increment per tap, the data moves one frame toward
// the centre (forward on the left, backward on the right).
struct FrameTaps {
  int32_t first[2];
  int32_t count[2];
  int64_t data[2];
};

FrameTaps LocateTaps(int64_t maxFilterIndex, int64_t increment, int64_t startFilterIndex, int64_t dataIndex,
                     int channels) {
  FrameTaps taps;
  // Left: every position down to and including 0.
  int64_t k = (maxFilterIndex - startFilterIndex) / increment;
  int64_t f = startFilterIndex + k * increment;
  taps.first[0] = static_cast<int32_t>(f);
  taps.count[0] = static_cast<int32_t>(f / increment + 1);
  taps.data[0] = dataIndex - channels * k;
  // Right: the far end always, then every position above 0.
  f = increment - startFilterIndex;
  k = (maxFilterIndex - f) / increment;
  f += k * increment;
  taps.first[1] = static_cast<int32_t>(f);
  taps.count[1] = static_cast<int32_t>(f > 0 ? (f + increment - 1) / increment : 1);
  taps.data[1] = dataIndex + channels * (1 + k);
  return taps;
}

// LocateTaps without its two divisions per frame, for the start positions a
// conversion forms (0 .. increment, from a fraction in [0, 1) of one step):
// there the number of whole steps from a position to the far end is the
// table's length in steps, or one less.
class TapLocator {
 public:
  TapLocator(int64_t maxFilterIndex, int64_t increment)
      : maxFilterIndex_(maxFilterIndex), increment_(increment), steps_(maxFilterIndex / increment),
        rest_(maxFilterIndex - steps_ * increment) {}

  FrameTaps operator()(int64_t startFilterIndex, int64_t dataIndex, int channels) const {
    if (startFilterIndex < 0 || startFilterIndex > increment_ || steps_ < 1)
      return LocateTaps(maxFilterIndex_, increment_, startFilterIndex, dataIndex, channels);
    FrameTaps taps;
    int64_t k = startFilterIndex <= rest_ ? steps_ : steps_ - 1;
    taps.first[0] = static_cast<int32_t>(startFilterIndex + k * increment_);
    taps.count[0] = static_cast<int32_t>(k + 1 + (startFilterIndex == increment_ ? 1 : 0));
    taps.data[0] = dataIndex - channels * k;
    const int64_t f = increment_ - startFilterIndex;
    k = f <= rest_ ? steps_ : steps_ - 1;
    taps.first[1] = static_cast<int32_t>(f + k * increment_);
    taps.count[1] = static_cast<int32_t>(k + (f > 0 ? 1 : 0));
    taps.data[1] = dataIndex + channels * (1 + k);
    return taps;
  }

 private:
  int64_t maxFilterIndex_, increment_, steps_, rest_;
};

// Output frames of distinct filter phases computed side by side, each tap's
// coefficient interpolated where it is used. One frame's sums are one chain
// of additions each, whose latency bounds a lone frame; kLanes frames keep
// kLanes chains (per channel and half) in flight, and their coefficients are
// formed together in vector registers. Every frame's sum is SincFilterOutput's,
// term for term and in the same order, so the result is the same to the bit.
constexpr int kLanes = 4;

struct TapBatch {
  int32_t first[2][kLanes];
  int32_t count[2][kLanes];
  const double* data[2][kLanes];  // into a block's samples widened to double

  // |samples| holds the padded input's samples from |samplesFirst| on.
  void Set(int lane, const FrameTaps& taps, const double* samples, int64_t samplesFirst) {
    for (int half = 0; half < 2; ++half) {
      first[half][lane] = taps.first[half];
      count[half][lane] = taps.count[half];
      data[half][lane] = samples + (taps.data[half] - samplesFirst);
    }
  }
};

// The portable form, for machines without AVX2: the same sums, lane by lane.
template <int kChannels>
void ApplyTapBatchPortable(const float* coeffs, int32_t increment, const TapBatch& batch, double scale, float* out) {
  double sum[2][kLanes][kChannels] = {};
  for (int half = 0; half < 2; ++half) {
    const int64_t dataStep = half == 0 ? kChannels : -kChannels;
    int32_t maxCount = 0;
    for (int b = 0; b < kLanes; ++b) maxCount = std::max(maxCount, batch.count[half][b]);
    int64_t f[kLanes];
    const double* d[kLanes];
    for (int b = 0; b < kLanes; ++b) {
      f[b] = batch.first[half][b];
      d[b] = batch.data[half][b];
    }
    for (int32_t m = 0; m < maxCount; ++m) {
      for (int b = 0; b < kLanes; ++b) {
        if (m < batch.count[half][b]) {
          const double c = CoefficientAt(coeffs, f[b]);
          for (int ch = 0; ch < kChannels; ++ch) sum[half][b][ch] += c * d[b][ch];
        }
        f[b] -= increment;
        d[b] += dataStep;
      }
    }
  }
  for (int b = 0; b < kLanes; ++b)
    for (int ch = 0; ch < kChannels; ++ch)
      out[b * kChannels + ch] = static_cast<float>(scale * (sum[0][b][ch] + sum[1][b][ch]));
}

#ifdef ZANDREL_SINC_X86
// The AVX2 form, chosen at run time where the processor has AVX2 and FMA.
#define ZANDREL_AVX2 __attribute__((target("avx2,fma"), always_inline)) inline

// The float differences of the best table's neighbouring entries, as
// CoefficientAt forms them (the last entry has none: 0), divided by 4096 so
// that the fraction they are multiplied by is the whole number of 4096ths.
// Null if some difference would lose bits in the division (it does not: the
// table has no difference that small).
const float* BestTableScaledDifferences() {
  static const std::vector<float> differences = [] {
    std::vector<float> d(kSincBestLayout.count, 0.0f);
    for (int32_t i = 0; i + 1 < kSincBestLayout.count; ++i) {
      const float difference = kSincBestTable[i + 1] - kSincBestTable[i];
      d[i] = difference * (1.0f / static_cast<float>(kFpOne));
      if (d[i] * static_cast<float>(kFpOne) != difference) return std::vector<float>{};
    }
    return d;
  }();
  return differences.empty() ? nullptr : differences.data();
}

// An interpolated coefficient, entry + fraction * difference, in one fused
// multiply-add of the whole fraction (0 .. 4095) and the scaled difference:
// their product has at most 12 + 24 bits, exact in double, and equals
// CoefficientAt's product of the fraction and the difference (the scalings
// by 4096 are exact too), so the fused operation rounds the sum once where
// CoefficientAt's separate multiply and add round it once: the same double.
ZANDREL_AVX2 __m256d InterpolateAvx2(__m128 entry, __m128 scaledDifference, __m256d wholeFraction) {
  return _mm256_fmadd_pd(wholeFraction, _mm256_cvtps_pd(scaledDifference), _mm256_cvtps_pd(entry));
}

// c * x, rounded before it is added to a sum as in SincFilterOutput: the
// empty asm hides the product from the compiler, which would otherwise be
// free to fuse the multiply with the addition (rounding once, not twice).
ZANDREL_AVX2 __m256d RoundedProduct(__m256d c, __m256d x) {
  __m256d product = _mm256_mul_pd(c, x);
  asm("" : "+x"(product));
  return product;
}

// sums[ch] += c * (channel ch of the four lanes' frames at d0 .. d3). The
// samples are doubles already: widening a float is exact, so the products
// are those of the float samples, and a frame's two channels are one load.
template <int kChannels>
ZANDREL_AVX2 void AccumulateAvx2(__m256d c, const double* d0, const double* d1, const double* d2, const double* d3,
                                 __m256d* sums) {
  if constexpr (kChannels == 1) {
    sums[0] = _mm256_add_pd(sums[0], RoundedProduct(c, _mm256_setr_pd(*d0, *d1, *d2, *d3)));
  } else {
    const __m256d x02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(d0)), _mm_loadu_pd(d2), 1);
    const __m256d x13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(d1)), _mm_loadu_pd(d3), 1);
    sums[0] = _mm256_add_pd(sums[0], RoundedProduct(c, _mm256_unpacklo_pd(x02, x13)));
    sums[1] = _mm256_add_pd(sums[1], RoundedProduct(c, _mm256_unpackhi_pd(x02, x13)));
  }
}

// One tap of kLanes frames: m is the tap's number within the half; a
// partial tap zeroes the coefficients of lanes that have fewer taps. The
// table positions are kept twice, in |f| for the fractions and in |fs| for
// the table indices.
template <int kChannels, int kHalf, bool kPartial>
ZANDREL_AVX2 void TapAvx2(const float* coeffs, __m128i& f, __m128i step, __m128i count, int32_t m, int32_t* fs,
                          int32_t increment, const double* d0, const double* d1, const double* d2, const double* d3,
                          __m256d* sums) {
  const ptrdiff_t at = (kHalf == 0 ? kChannels : -kChannels) * ptrdiff_t{m};
  const __m256d fraction = _mm256_mul_pd(
      _mm256_cvtepi32_pd(_mm_and_si128(f, _mm_set1_epi32(static_cast<int32_t>(kFpMask)))), _mm256_set1_pd(kInvFpOne));
  // Each lane's pair of neighbouring entries, read with plain loads (faster
  // than a gather on the machines measured).
  auto pairAt = [coeffs, fs](int b) {
    int32_t i = fs[b] >> kShiftBits;
    if constexpr (kPartial) i = std::max(i, 0);
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coeffs + i));
  };
  const __m128 p01 = _mm_castsi128_ps(_mm_unpacklo_epi64(pairAt(0), pairAt(1)));
  const __m128 p23 = _mm_castsi128_ps(_mm_unpacklo_epi64(pairAt(2), pairAt(3)));
  const __m128 c0 = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 c1 = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(3, 1, 3, 1));
  for (int b = 0; b < kLanes; ++b) fs[b] -= increment;
  // coeffs[i] + fraction * (coeffs[i + 1] - coeffs[i]), the difference in float
  __m256d c = _mm256_add_pd(_mm256_cvtps_pd(c0), _mm256_mul_pd(fraction, _mm256_cvtps_pd(_mm_sub_ps(c1, c0))));
  if constexpr (kPartial) {
    const __m128i live = _mm_cmpgt_epi32(count, _mm_set1_epi32(m));
    c = _mm256_and_pd(c, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(live)));
  }
  AccumulateAvx2<kChannels>(c, d0 + at, d1 + at, d2 + at, d3 + at, sums);
  f = _mm_sub_epi32(f, step);
}

// The taps of a half whose lanes' table positions lie within three table
// steps of each other (lanes of neighbouring phases, which is how the frames
// come): the entries of all the lanes are then among four neighbours, read
// with one load from the lowest lane's entry (and one from the scaled
// differences) and handed to each lane by a permutation, instead of a load
// per lane and a transposition. Taps m0 .. mEnd, where every lane has a tap
// and no read reaches past the table's end; the coefficients and sums are
// TapAvx2's, to the bit.
//
// kGroups groups of kLanes frames are walked together: they share those
// loads (and the page and cache line they lie on), and their sums are
// independent chains of additions that need not wait for each other.
//
// kWholeSteps: the increment is a whole number of table steps (every
// conversion that does not shrink the audio), so each lane's fraction and its
// entry's place among the four neighbours stay the same from tap to tap and
// are formed once.
template <int kChannels, int kHalf, bool kWholeSteps, int kGroups>
ZANDREL_AVX2 void NearTapsAvx2(const float* coeffs, const float* differences, __m128i* f, int32_t m0, int32_t mEnd,
                               int64_t baseFirst, int32_t increment, const TapBatch* batches,
                               __m256d (*sums)[kChannels]) {
  const __m128i mask = _mm_set1_epi32(static_cast<int32_t>(kFpMask));
  int64_t fb = baseFirst - int64_t{increment} * m0;
  constexpr ptrdiff_t kStep = kHalf == 0 ? kChannels : -kChannels;
  const double* d[kGroups][kLanes];
  for (int g = 0; g < kGroups; ++g)
    for (int b = 0; b < kLanes; ++b) d[g][b] = batches[g].data[kHalf][b] + kStep * m0;
  // Each lane lies a fixed distance above the lowest lane; its entry lies
  // the whole steps of that distance above the lowest lane's entry, and one
  // more where adding the distance's fraction carries, that is where the
  // lane's own fraction came out below the distance's.
  __m128i wholeDistance[kGroups], distanceFraction[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    const __m128i distance = _mm_sub_epi32(f[g], _mm_set1_epi32(static_cast<int32_t>(fb)));
    wholeDistance[g] = _mm_srai_epi32(distance, kShiftBits);
    distanceFraction[g] = _mm_and_si128(distance, mask);
  }
  if constexpr (kWholeSteps) {
    // The fractions, and so the carries, are the same at every tap.
    __m128i rel[kGroups];
    __m256d fraction[kGroups];
    for (int g = 0; g < kGroups; ++g) {
      const __m128i fractions = _mm_and_si128(f[g], mask);
      rel[g] = _mm_sub_epi32(wholeDistance[g], _mm_cmpgt_epi32(distanceFraction[g], fractions));
      fraction[g] = _mm256_cvtepi32_pd(fractions);
    }
    const float* p = coeffs + (fb >> kShiftBits);
    const float* q = differences + (fb >> kShiftBits);
    const ptrdiff_t entriesPerTap = increment >> kShiftBits;
    for (int32_t m = m0; m < mEnd; ++m) {
      const __m128 entries = _mm_loadu_ps(p);
      const __m128 scaledDifferences = _mm_loadu_ps(q);
      for (int g = 0; g < kGroups; ++g) {
        const __m256d c = InterpolateAvx2(_mm_permutevar_ps(entries, rel[g]),
                                          _mm_permutevar_ps(scaledDifferences, rel[g]), fraction[g]);
        AccumulateAvx2<kChannels>(c, d[g][0], d[g][1], d[g][2], d[g][3], sums[g]);
        for (int b = 0; b < kLanes; ++b) d[g][b] += kStep;
      }
      p -= entriesPerTap;
      q -= entriesPerTap;
    }
    return;
  }
  const __m128i step = _mm_set1_epi32(increment);
  for (int32_t m = m0; m < mEnd; ++m) {
    const int64_t at = fb >> kShiftBits;
    const __m128 entries = _mm_loadu_ps(coeffs + at);
    const __m128 scaledDifferences = _mm_loadu_ps(differences + at);
    for (int g = 0; g < kGroups; ++g) {
      const __m128i fractions = _mm_and_si128(f[g], mask);
      const __m128i rel = _mm_sub_epi32(wholeDistance[g], _mm_cmpgt_epi32(distanceFraction[g], fractions));
      const __m256d c = InterpolateAvx2(_mm_permutevar_ps(entries, rel), _mm_permutevar_ps(scaledDifferences, rel),
                                        _mm256_cvtepi32_pd(fractions));
      AccumulateAvx2<kChannels>(c, d[g][0], d[g][1], d[g][2], d[g][3], sums[g]);
      for (int b = 0; b < kLanes; ++b) d[g][b] += kStep;
      f[g] = _mm_sub_epi32(f[g], step);
    }
    fb -= increment;
  }
}

// One half of kGroups groups of kLanes frames, each vector of sums holding
// one channel of a group's four frames. A lane whose half has fewer taps
// than the longest of its group (they differ by at most one) gets a zero
// coefficient there, read from inside the table: adding 0 * x leaves its
// sum as it was.
template <int kChannels, int kHalf, int kGroups>
ZANDREL_AVX2 void HalfAvx2(const float* coeffs, const float* differences, int32_t increment, const TapBatch* batches,
                           __m256d (*sums)[kChannels]) {
  const __m128i step = _mm_set1_epi32(increment);
  __m128i f[kGroups], count[kGroups];
  int32_t fs[kGroups][kLanes];
  int32_t minCount[kGroups], maxCount[kGroups];
  int32_t lowest = batches[0].first[kHalf][0];
  int32_t highest = lowest;
  int32_t shortest = batches[0].count[kHalf][0];
  for (int g = 0; g < kGroups; ++g) {
    const TapBatch& batch = batches[g];
    f[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(batch.first[kHalf]));
    count[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(batch.count[kHalf]));
    minCount[g] = maxCount[g] = batch.count[kHalf][0];
    for (int b = 0; b < kLanes; ++b) {
      fs[g][b] = batch.first[kHalf][b];
      minCount[g] = std::min(minCount[g], batch.count[kHalf][b]);
      maxCount[g] = std::max(maxCount[g], batch.count[kHalf][b]);
      lowest = std::min(lowest, fs[g][b]);
      highest = std::max(highest, fs[g][b]);
    }
    shortest = std::min(shortest, minCount[g]);
  }
  int32_t m = 0;
  // The first tap reads the table's last entries, where four neighbours from
  // the lowest lane's entry could reach past its end; the later taps lie at
  // least one step (9 entries at the steepest ratio) further in.
  if (differences != nullptr && shortest > 1 && int64_t{highest} - lowest < 3 * kFpOne) {
    for (int g = 0; g < kGroups; ++g) {
      const double* const* d = batches[g].data[kHalf];
      TapAvx2<kChannels, kHalf, false>(coeffs, f[g], step, count[g], 0, fs[g], increment, d[0], d[1], d[2], d[3],
                                       sums[g]);
    }
    if ((increment & kFpMask) == 0) {
      NearTapsAvx2<kChannels, kHalf, true, kGroups>(coeffs, differences, f, 1, shortest, lowest, increment, batches,
                                                    sums);
    } else {
      NearTapsAvx2<kChannels, kHalf, false, kGroups>(coeffs, differences, f, 1, shortest, lowest, increment, batches,
                                                     sums);
    }
    m = shortest;
    for (int g = 0; g < kGroups; ++g) {
      f[g] = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(batches[g].first[kHalf])),
                           _mm_set1_epi32(increment * m));
      for (int b = 0; b < kLanes; ++b) fs[g][b] = batches[g].first[kHalf][b] - increment * m;
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    const double* const* d = batches[g].data[kHalf];
    int32_t mg = m;
    for (; mg < minCount[g]; ++mg)
      TapAvx2<kChannels, kHalf, false>(coeffs, f[g], step, count[g], mg, fs[g], increment, d[0], d[1], d[2], d[3],
                                       sums[g]);
    for (; mg < maxCount[g]; ++mg)
      TapAvx2<kChannels, kHalf, true>(coeffs, f[g], step, count[g], mg, fs[g], increment, d[0], d[1], d[2], d[3],
                                      sums[g]);
  }
}

template <int kChannels, int kGroups>
__attribute__((target("avx2,fma"))) void ApplyTapBatchAvx2(const float* coeffs, int32_t increment,
                                                           const TapBatch* batches, double scale, float* out) {
  const float* differences = coeffs == kSincBestTable ? BestTableScaledDifferences() : nullptr;
  __m256d left[kGroups][kChannels], right[kGroups][kChannels];  // one channel of a group's four frames each
  for (int g = 0; g < kGroups; ++g)
    for (int ch = 0; ch < kChannels; ++ch) left[g][ch] = right[g][ch] = _mm256_setzero_pd();
  HalfAvx2<kChannels, 0, kGroups>(coeffs, differences, increment, batches, left);
  HalfAvx2<kChannels, 1, kGroups>(coeffs, differences, increment, batches, right);
  const __m256d s = _mm256_set1_pd(scale);
  for (int g = 0; g < kGroups; ++g) {
    float* groupOut = out + g * kLanes * kChannels;
    __m128 y[kChannels];
    for (int ch = 0; ch < kChannels; ++ch)
      y[ch] = _mm256_cvtpd_ps(_mm256_mul_pd(s, _mm256_add_pd(left[g][ch], right[g][ch])));
    if constexpr (kChannels == 1) {
      _mm_storeu_ps(groupOut, y[0]);
    } else {
      _mm_storeu_ps(groupOut, _mm_unpacklo_ps(y[0], y[1]));
      _mm_storeu_ps(groupOut + 4, _mm_unpackhi_ps(y[0], y[1]));
    }
  }
}
#endif

// kGroups groups of kLanes frames: kGroups TapBatches side by side.
using TapBatchKernel = void (*)(const float*, int32_t, const TapBatch*, double, float*);

template <int kChannels, int kGroups>
void ApplyTapBatchPortable(const float* coeffs, int32_t increment, const TapBatch* batches, double scale, float* out) {
  for (int g = 0; g < kGroups; ++g)
    ApplyTapBatchPortable<kChannels>(coeffs, increment, batches[g], scale, out + g * kLanes * kChannels);
}

// The kernel for 1 or 2 channels and 1 or 2 groups on this machine.
TapBatchKernel TapBatchKernelFor(int channels, int groups) {
#ifdef ZANDREL_SINC_X86
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) {
    if (groups == 1) return channels == 1 ? ApplyTapBatchAvx2<1, 1> : ApplyTapBatchAvx2<2, 1>;
    return channels == 1 ? ApplyTapBatchAvx2<1, 2> : ApplyTapBatchAvx2<2, 2>;
  }
#endif
  if (groups == 1) return channels == 1 ? ApplyTapBatchPortable<1, 1> : ApplyTapBatchPortable<2, 1>;
  return channels == 1 ? ApplyTapBatchPortable<1, 2> : ApplyTapBatchPortable<2, 2>;
}

// std::lrint, inline: the library call it would otherwise be is a good part
// of the walk's cost. Both round in the current rounding mode.
inline int64_t RoundToNearest(double x) {
#if defined(__x86_64__)
  return _mm_cvtsd_si64(_mm_set_sd(x));
#else
  return std::lrint(x);
#endif
}

// The input position of successive output frames, walked the way
// libsamplerate walks it: the fractional position is carried from frame to
// frame (plus 1 / srcRatio, reduced to [0, 1) with the whole part moved to
// the frame index), never formed as i * ratio. The two differ in the last
// bits after many frames, and at ratios with many filter phases that moves
// a rounded filter position now and then, and a sample by one LSB.
class PositionWalker {
 public:
  PositionWalker(double ratio, double filterStep)
      : step_(1.0 / (1.0 / ratio)),  // libsamplerate is given 1 / ratio and steps by its inverse
        filterStep_(filterStep) {}

  struct Position {
    double fraction = 0.0;  // in [0, 1)
    int64_t whole = 0;      // input frame at or just before the position
  };

  void Next(Position& p) const {
    const double next = p.fraction + step_;
    const double fraction = FmodOne(next);
    p.whole += RoundToNearest(next - fraction);
    p.fraction = fraction;
  }
  // Fixed-point filter position of the output frame at p.
  int StartFilterIndex(const Position& p) const {
    return static_cast<int>(RoundToNearest(p.fraction * filterStep_ * static_cast<double>(kFpOne)));
  }

 private:
  static double FmodOne(double x) {
    const double fraction = x - static_cast<double>(RoundToNearest(x));
    return fraction < 0.0 ? fraction + 1.0 : fraction;
  }
  double step_;
  double filterStep_;
};

// Output frames are converted in blocks; the walk's position at each block's
// start is found first (a cheap pass), so the blocks can run on any thread.
constexpr size_t kBlockFrames = size_t{1} << 15;

// Sorts keys (start filter index << 32 | frame) by filter index, which is
// below 2^24 (at most 2381 table steps of 4096): two stable counting passes
// of 12 bits each, much cheaper than a comparison sort of a block.
void SortByFilterIndex(std::vector<uint64_t>& keys, std::vector<uint64_t>& scratch) {
  constexpr int kBits = 12;
  constexpr size_t kBuckets = size_t{1} << kBits;
  scratch.resize(keys.size());
  std::vector<uint64_t>* from = &keys;
  std::vector<uint64_t>* to = &scratch;
  for (int pass = 0; pass < 2; ++pass) {
    const int shift = 32 + pass * kBits;
    std::array<size_t, kBuckets + 1> start{};
    for (uint64_t k : *from) ++start[((k >> shift) & (kBuckets - 1)) + 1];
    for (size_t b = 0; b < kBuckets; ++b) start[b + 1] += start[b];
    for (uint64_t k : *from) (*to)[start[(k >> shift) & (kBuckets - 1)]++] = k;
    std::swap(from, to);
  }
  // After an even number of passes the sorted keys are back in |keys|.
}

// Progress of work shared by several threads. Each thread adds the items it
// finished; whichever thread passes the next reporting mark reports, under a
// lock taken without waiting (a thread that finds it taken leaves the report
// to the holder), so the WorkProgress runs on one thread at a time and sees
// fractions that never go back. Once it has said stop, every thread sees it at
// its next Add.
class SharedProgress {
 public:
  // Reports land in [from, to] of |progress|, one every |every| of |total| items.
  SharedProgress(const WorkProgress& progress, double from, double to, uint64_t total, uint64_t every)
      : progress_(progress), from_(from), to_(to), total_(std::max<uint64_t>(total, 1)),
        every_(std::max<uint64_t>(every, 1)), nextReport_(every_) {}

  // |items| more done; false once the work should stop.
  bool Add(uint64_t items) {
    const uint64_t done = done_.fetch_add(items, std::memory_order_relaxed) + items;
    if (stop_.load(std::memory_order_relaxed)) return false;
    if (!progress_ || done < nextReport_.load(std::memory_order_relaxed)) return true;
    const std::unique_lock lock(reporting_, std::try_to_lock);
    if (!lock.owns_lock()) return !stop_.load(std::memory_order_relaxed);
    if (stop_.load(std::memory_order_relaxed)) return false;
    const uint64_t now = done_.load(std::memory_order_relaxed);
    if (now < nextReport_.load(std::memory_order_relaxed)) return true;
    nextReport_.store(now + every_, std::memory_order_relaxed);
    const double fraction = static_cast<double>(std::min(now, total_)) / static_cast<double>(total_);
    if (!progress_(from_ + (to_ - from_) * fraction)) stop_.store(true, std::memory_order_relaxed);
    return !stop_.load(std::memory_order_relaxed);
  }
  bool Stopped() const { return stop_.load(std::memory_order_relaxed); }

 private:
  const WorkProgress& progress_;
  double from_, to_;
  uint64_t total_, every_;
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> nextReport_;
  std::atomic<bool> stop_{false};
  std::mutex reporting_;
};

// Where a conversion's progress goes: the preparation (the output's memory,
// the input in float, then the walk to each block's start) takes the first
// few percent, the filtering the rest.
constexpr double kOutputReady = 0.01;
constexpr double kFloatDone = 0.03;
constexpr double kWalkDone = 0.07;
// Samples made ready between two reports. Fresh memory costs its first touch
// (a long file's buffers take hundreds of milliseconds to fault in), so the
// buffers are filled piece by piece, not in one zeroing.
constexpr uint64_t kPrepareStep = uint64_t{1} << 20;

}  // namespace

std::vector<int16_t>& ResampleSinc(SincFilterSpec& spec, std::vector<int16_t>& out, const int16_t* in, uint64_t frames,
                                   int channels, double ratio, unsigned threads, const WorkProgress& progress) {
  // Only the best table filters; any other descriptor (another quality, or
  // one whose fields do not describe that table) is replaced.
  if (spec != SincFilterSpec::Best()) spec = SincFilterSpec::Best();
  out.clear();
  if (frames == 0 || in == nullptr || channels < 1 || channels > kSincMaxChannels || !ValidRatio(ratio)) return out;
  const auto n = static_cast<uint64_t>(static_cast<double>(frames) / ratio);
  if (n == 0) return out;
  auto cancelled = [&out]() -> std::vector<int16_t>& {
    out.clear();
    return out;
  };
  const uint64_t outSamples = n * static_cast<uint64_t>(channels);
  if (!ZeroedInBlocks(out, static_cast<size_t>(outSamples), SubProgress(progress, 0.0, kOutputReady)))
    return cancelled();

  // The input in float with silence on both sides: h samples before the first
  // frame and after the last, enough for the widest filter reach. At the
  // steepest ratios the rounded fixed-point step may reach a frame beyond that
  // on the right; two more frames of silence keep every read inside.
  const double src = 1.0 / ratio;
  double reach = (spec.halfLen + 2.0) / spec.increment;
  if (src < 1.0) reach /= src;
  const int64_t h = channels * static_cast<int64_t>(reach + 1.0);
  const int64_t inSamples = static_cast<int64_t>(frames) * channels;
  const int64_t paddedSize = inSamples + 2 * h + 2 * channels;
  const std::unique_ptr<float[]> padding(new float[static_cast<size_t>(paddedSize)]);
  const std::span<float> padded(padding.get(), static_cast<size_t>(paddedSize));
  std::fill(padded.begin(), padded.begin() + h, 0.0f);
  std::fill(padded.begin() + h + inSamples, padded.end(), 0.0f);
  for (int64_t done = 0; done < inSamples;) {
    const int64_t count = std::min<int64_t>(inSamples - done, kPrepareStep);
    Int16ToFloat(in + done, padded.data() + h + done, static_cast<uint64_t>(count));
    done += count;
    if (!ReportProgress(progress, kOutputReady + (kFloatDone - kOutputReady) * static_cast<double>(done) /
                                                     static_cast<double>(inSamples)))
      return cancelled();
  }

  const double t = std::min(src, 1.0) * spec.increment;  // filter step in table entries
  const auto increment = static_cast<int>(std::lrint(t * kFpOne));
  const double scale = t / spec.increment;
  const TapLocator locateTaps(int64_t{spec.halfLen} * kFpOne, increment);

  const PositionWalker walker(ratio, t);
  const size_t blocks = (static_cast<size_t>(n) + kBlockFrames - 1) / kBlockFrames;
  std::vector<PositionWalker::Position> blockStarts(blocks);
  {
    // A walk of about 10 ns a frame, one thread: a few hundred milliseconds
    // for a long file, so it reports too.
    const WorkProgress walkProgress = SubProgress(progress, kFloatDone, kWalkDone);
    ProgressTicker ticker(walkProgress, blocks, std::max<size_t>(1, blocks / 32));
    PositionWalker::Position p;
    for (size_t block = 0; block < blocks; ++block) {
      blockStarts[block] = p;
      if (block + 1 == blocks) break;  // the last block's frames are walked where they are converted
      for (size_t i = 0; i < kBlockFrames; ++i) walker.Next(p);
      if (!ticker.Step()) return cancelled();
    }
  }

  // Threads check for a stop every |checkEvery| output frames, about a
  // millisecond of filtering whatever the ratio (a frame's taps grow with the
  // ratio when it shrinks the audio), and report every 1/256 of the frames.
  const uint64_t checkEvery = std::clamp<uint64_t>(
      static_cast<uint64_t>(8192.0 / (channels * std::max(1.0, ratio))), 16, 4096);
  SharedProgress shared(progress, kWalkDone, 1.0, n, std::max<uint64_t>(checkEvery, n / 256));

  // Each block's frames are taken in order of their filter phase: frames of
  // a phase that many share get its taps formed once, and their sums run side
  // by side; the others (at most ratios every frame has a phase of its own)
  // run side by side with neighbouring phases, whose taps read nearby table
  // entries, so the table stays in cache. Every frame's sum is still
  // SincFilterOutput's, term for term.
  auto convert = [&](size_t firstBlock, size_t endBlock) {
    std::vector<uint64_t> order;  // start filter index << 32 | frame within the block
    std::vector<uint64_t> sortScratch;
    std::vector<int64_t> dataIndexOf;
    FilterPhase phase;
    // The stretch of the padded input a block's batches read, in double.
    std::vector<double> blockSamples;
    int64_t blockFirst = 0;
    int64_t blockEnd = 0;
    // Lone frames are converted kLanes at a time, two groups side by side
    // when there are enough of them.
    constexpr int kMaxLanes = 2 * kLanes;
    float values[std::max(kBatch, kMaxLanes) * kSincMaxChannels];
    const TapBatchKernel tapBatch[2] = {TapBatchKernelFor(channels, 1), TapBatchKernelFor(channels, 2)};
    TapBatch lanes[2];
    FrameTaps laneTaps[kMaxLanes];
    size_t laneFrames[kMaxLanes];
    int laneCount = 0;
    uint64_t sinceCheck = 0;
    // Stores one frame; false once the work should stop.
    auto store = [&](size_t frame, const float* frameValues) {
      for (int ch = 0; ch < channels; ++ch) out[frame * channels + ch] = ToInt16(frameValues[ch]);
      if (++sinceCheck < checkEvery) return true;
      sinceCheck = 0;
      return shared.Add(checkEvery);
    };
    for (size_t block = firstBlock; block < endBlock; ++block) {
      if (shared.Stopped()) return;
      const size_t begin = block * kBlockFrames;
      const size_t end = std::min(static_cast<size_t>(n), begin + kBlockFrames);
      order.clear();
      dataIndexOf.resize(end - begin);
      PositionWalker::Position p = blockStarts[block];
      for (size_t i = begin; i < end; ++i) {
        const int startFilterIndex = walker.StartFilterIndex(p);
        dataIndexOf[i - begin] = h + channels * p.whole;
        if (channels <= 2) {
          order.push_back(static_cast<uint64_t>(static_cast<uint32_t>(startFilterIndex)) << 32 | (i - begin));
        } else {
          SincFilterOutput(spec.coeffs, spec.halfLen, increment, startFilterIndex, padded.data(), dataIndexOf[i - begin],
                           channels, scale, values);
          if (!store(i, values)) return;
        }
        walker.Next(p);
      }
      SortByFilterIndex(order, sortScratch);
      if (!order.empty()) {
        // Every tap of a frame lies within h samples (and a frame or two of
        // rounding) of its data index.
        blockFirst = std::max<int64_t>(0, dataIndexOf.front() - h - 2 * channels);
        blockEnd = std::min<int64_t>(paddedSize, dataIndexOf.back() + h + 4 * channels);
        blockSamples.resize(static_cast<size_t>(blockEnd - blockFirst));
        std::copy(padded.begin() + blockFirst, padded.begin() + blockEnd, blockSamples.begin());
      }

      // Frames whose phase no other frame shares (or too few) wait in
      // |lanes| until kMaxLanes of them fill a batch; they come in the order
      // of their phases, so a batch's taps read neighbouring table entries.
      auto flushLanes = [&] {
        if (laneCount == 0) return true;
        const int groups = laneCount > kLanes ? 2 : 1;
        for (int b = laneCount; b < groups * kLanes; ++b)
          lanes[b / kLanes].Set(b % kLanes, laneTaps[0], blockSamples.data(), blockFirst);
        tapBatch[groups - 1](spec.coeffs, increment, lanes, scale, values);
        bool going = true;
        for (int b = 0; b < laneCount; ++b) going = store(laneFrames[b], values + b * channels) && going;
        laneCount = 0;
        return going;
      };
      // False once the work should stop.
      auto convertAlone = [&](int startFilterIndex, size_t frame, int64_t dataIndex) {
        const FrameTaps taps = locateTaps(startFilterIndex, dataIndex, channels);
        // Every read of a batch lies between the two halves' farthest taps.
        if (taps.data[0] < blockFirst || taps.data[1] + channels > blockEnd) {
          SincFilterOutput(spec.coeffs, spec.halfLen, increment, startFilterIndex, padded.data(), dataIndex, channels,
                           scale, values);
          return store(frame, values);
        }
        laneTaps[laneCount] = taps;
        lanes[laneCount / kLanes].Set(laneCount % kLanes, taps, blockSamples.data(), blockFirst);
        laneFrames[laneCount] = frame;
        return ++laneCount < kMaxLanes || flushLanes();
      };

      for (size_t g = 0; g < order.size();) {
        const auto startFilterIndex = static_cast<int>(order[g] >> 32);
        size_t groupEnd = g + 1;
        while (groupEnd < order.size() && (order[groupEnd] >> 32) == (order[g] >> 32)) ++groupEnd;
        // Forming a phase costs about what one frame's taps cost: it pays
        // when several frames share it.
        const bool formed =
            groupEnd - g >= kSharedPhaseFrames && MakeFilterPhase(spec, increment, startFilterIndex, phase);
        const FilterPhase* batchPhases[kBatch] = {&phase, &phase, &phase, &phase};
        int64_t batchIndex[kBatch];
        size_t batchFrames[kBatch];
        int batched = 0;
        // False once the work should stop.
        auto flush = [&] {
          if (channels == 1) {
            ApplyFilterPhases<1, kBatch>(batchPhases, padded.data(), batchIndex, scale, values);
          } else {
            ApplyFilterPhases<2, kBatch>(batchPhases, padded.data(), batchIndex, scale, values);
          }
          bool going = true;
          for (int b = 0; b < batched; ++b) going = store(batchFrames[b], values + b * channels) && going;
          batched = 0;
          return going;
        };
        for (; g < groupEnd; ++g) {
          const size_t local = static_cast<size_t>(order[g] & 0xFFFFFFFFu);
          const int64_t dataIndex = dataIndexOf[local];
          // A formed phase reads exactly the samples SincFilterOutput reads;
          // it is used only where all of them lie inside the padded input,
          // and for whole batches: the frames left over join the lone ones.
          if (formed && groupEnd - g >= static_cast<size_t>(kBatch - batched) &&
              dataIndex - channels * phase.leftBack >= 0 &&
              dataIndex + channels * (phase.rightAhead + 1) <= paddedSize) {
            batchIndex[batched] = dataIndex;
            batchFrames[batched] = begin + local;
            if (++batched == kBatch && !flush()) return;
          } else if (!convertAlone(startFilterIndex, begin + local, dataIndex)) {
            return;
          }
        }
        // A batch cut short by a frame outside the padded input.
        for (int b = 0; b < batched; ++b) {
          const size_t local = batchFrames[b] - begin;
          if (!convertAlone(startFilterIndex, batchFrames[b], dataIndexOf[local])) return;
        }
      }
      if (!flushLanes()) return;
    }
  };
  ParallelFor(blocks, 1, convert, threads);
  if (shared.Stopped()) return cancelled();
  return out;
}

}  // namespace zandrel

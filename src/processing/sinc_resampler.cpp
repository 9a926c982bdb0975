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
    p.whole += std::lrint(next - fraction);
    p.fraction = fraction;
  }
  // Fixed-point filter position of the output frame at p.
  int StartFilterIndex(const Position& p) const {
    return static_cast<int>(std::lrint(p.fraction * filterStep_ * static_cast<double>(kFpOne)));
  }

 private:
  static double FmodOne(double x) {
    const double fraction = x - static_cast<double>(std::lrint(x));
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
  // one phase share its taps, formed once, and their sums run side by side.
  // Every frame's sum is still SincFilterOutput's, term for term.
  auto convert = [&](size_t firstBlock, size_t endBlock) {
    std::vector<uint64_t> order;  // start filter index << 32 | frame within the block
    std::vector<uint64_t> sortScratch;
    std::vector<int64_t> dataIndexOf;
    FilterPhase phase;
    float values[kBatch * kSincMaxChannels];
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

      for (size_t g = 0; g < order.size();) {
        const auto startFilterIndex = static_cast<int>(order[g] >> 32);
        size_t groupEnd = g + 1;
        while (groupEnd < order.size() && (order[groupEnd] >> 32) == (order[g] >> 32)) ++groupEnd;
        const bool formed = MakeFilterPhase(spec, increment, startFilterIndex, phase);
        const FilterPhase* batchPhases[kBatch] = {&phase, &phase, &phase, &phase};
        int64_t batchIndex[kBatch];
        size_t batchFrames[kBatch];
        int batched = 0;
        // False once the work should stop.
        auto flush = [&] {
          if (batched == 0) return true;
          for (int b = batched; b < kBatch; ++b) batchIndex[b] = batchIndex[0];
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
          // it is used only where all of them lie inside the padded input.
          if (formed && dataIndex - channels * phase.leftBack >= 0 &&
              dataIndex + channels * (phase.rightAhead + 1) <= paddedSize) {
            batchIndex[batched] = dataIndex;
            batchFrames[batched] = begin + local;
            if (++batched == kBatch && !flush()) return;
          } else {
            SincFilterOutput(spec.coeffs, spec.halfLen, increment, startFilterIndex, padded.data(), dataIndex,
                             channels, scale, values);
            if (!store(begin + local, values)) return;
          }
        }
        if (!flush()) return;
      }
    }
  };
  ParallelFor(blocks, 1, convert, threads);
  if (shared.Stopped()) return cancelled();
  return out;
}

}  // namespace zandrel

#include "processing/complex_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <vector>
#include <map>
#include <mutex>
#include <tuple>

namespace zandrel {
namespace {

// The kinds of transform planned; FFTW's forward sign is e^(-2 pi i nk/N),
// so ours (e^+) is its backward transform and our inverse its forward one.
enum class Kind { kForward, kInverse, kRealForward, kRealInverse };
constexpr size_t kKinds = 4;
constexpr size_t kMaxLog2 = 40;

// Plans by kind, log2 of the size and whether the arrays are aligned the way
// FFTW's SIMD code wants (plans made for aligned arrays may only run on such
// arrays). Filled once under the lock, then read without it.
std::array<std::atomic<fftwf_plan>, kKinds * kMaxLog2 * 2> gPlans{};
std::mutex gPlanningLock;

bool Aligned(const float* p) { return fftwf_alignment_of(const_cast<float*>(p)) == 0; }

// Scratch arrays for planning, with the layout and alignment of the arrays
// the plan will run on: a real array of n values, and a split array whose
// imaginary part lies FftPlan::SplitOffset(n) floats after its real part.
struct PlanningArrays {
  PlanningArrays(size_t n, bool aligned) {
    // One float past an aligned block is misaligned for every SIMD width.
    const size_t skew = aligned ? 0 : 1;
    const size_t size = FftPlan::SplitOffset(n + 1) + 2 * FftPlan::SplitOffset(n) + 1;
    block = fftwf_alloc_real(size);
    std::fill(block, block + size, 0.0f);
    real = block + skew;
    splitRe = block + FftPlan::SplitOffset(n + 1) + skew;
    splitIm = splitRe + FftPlan::SplitOffset(n);
  }
  ~PlanningArrays() { fftwf_free(block); }
  PlanningArrays(const PlanningArrays&) = delete;
  PlanningArrays& operator=(const PlanningArrays&) = delete;
  float* block = nullptr;
  float* real = nullptr;
  float* splitRe = nullptr;
  float* splitIm = nullptr;
};

fftwf_plan MakePlan(Kind kind, size_t n, bool aligned) {
  PlanningArrays scratch(n, aligned);
  float* a = scratch.real;
  float* b = scratch.splitRe;
  // A real transform's spectrum has n / 2 + 1 bins, laid out for that count.
  float* c = kind == Kind::kRealForward || kind == Kind::kRealInverse ? b + FftPlan::SplitOffset(n / 2 + 1)
                                                                       : scratch.splitIm;
  // Plans are chosen by FFTW's estimate, never by timing trial runs: a
  // measured plan takes up to a second per size on first use (the window
  // freezes, a fuzzer times out), and it differs with the machine's load, so
  // the same input would give results that differ in the last bits from one
  // run of the editor to the next. An estimated plan is the same every time.
  const unsigned flags = FFTW_ESTIMATE | (aligned ? 0u : FFTW_UNALIGNED);
  fftwf_iodim dim{static_cast<int>(n), 1, 1};
  switch (kind) {
    case Kind::kForward:  // e^+: FFTW's forward transform with real and imaginary parts swapped
      return fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, c, b, c, b, flags);
    case Kind::kInverse:
      return fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, b, c, b, c, flags);
    case Kind::kRealForward:  // real a -> bins (b, c)
      return fftwf_plan_guru_split_dft_r2c(1, &dim, 0, nullptr, a, b, c, flags);
    case Kind::kRealInverse:  // bins (b, c) -> real a; destroys the bins
      return fftwf_plan_guru_split_dft_c2r(1, &dim, 0, nullptr, b, c, a, flags);
  }
  return nullptr;
}

// Kept plans of sizes that are not powers of two (FftPlan only), by kind,
// size and alignment; read and written under the planning lock. Never
// destroyed: the plans live as long as the process, and a map torn down at
// exit would leave them unreachable while other threads may still plan.
std::map<std::tuple<int, size_t, bool>, fftwf_plan>& gOtherPlans = *new std::map<std::tuple<int, size_t, bool>, fftwf_plan>;

// The kept plan for |kind| at size n (at least 2).
fftwf_plan PlanFor(Kind kind, size_t n, bool aligned) {
  if (!std::has_single_bit(n) || std::countr_zero(n) >= static_cast<int>(kMaxLog2)) {
    const std::lock_guard<std::mutex> lock(gPlanningLock);
    fftwf_plan& plan = gOtherPlans[{static_cast<int>(kind), n, aligned}];
    if (plan == nullptr) plan = MakePlan(kind, n, aligned);
    return plan;
  }
  const size_t slot = (static_cast<size_t>(kind) * kMaxLog2 + static_cast<size_t>(std::countr_zero(n))) * 2 +
                      (aligned ? 1 : 0);
  if (fftwf_plan plan = gPlans[slot].load(std::memory_order_acquire)) return plan;
  const std::lock_guard<std::mutex> lock(gPlanningLock);
  fftwf_plan plan = gPlans[slot].load(std::memory_order_relaxed);
  if (plan == nullptr) {
    plan = MakePlan(kind, n, aligned);
    gPlans[slot].store(plan, std::memory_order_release);
  }
  return plan;
}

void Scale(float* v, size_t n, float factor) {
  for (size_t i = 0; i < n; ++i) v[i] *= factor;
}

// True when im lies where a kept plan expects it: |offset| floats after re.
bool Standard(const float* re, const float* im, size_t offset) {
  return reinterpret_cast<uintptr_t>(im) - reinterpret_cast<uintptr_t>(re) == offset * sizeof(float);
}

// A per-thread split array in the standard layout, for arrays laid out
// otherwise; it grows to the largest size the thread has used.
struct SplitScratch {
  std::vector<float> block;
  float* re = nullptr;
  float* im = nullptr;
  void Reserve(size_t count) {
    const size_t offset = FftPlan::SplitOffset(count);
    if (block.size() < 2 * offset) block.resize(2 * offset);
    re = block.data();
    im = re + offset;
  }
};
thread_local SplitScratch tScratch;

// A plan's transform on arrays in the standard layout.
void StandardTransform(float* re, float* im, size_t n, bool inverse) {
  const bool aligned = Aligned(re) && Aligned(im);
  if (inverse) {
    fftwf_execute_split_dft(PlanFor(Kind::kInverse, n, aligned), re, im, re, im);
    const float scale = 1.0f / static_cast<float>(n);
    Scale(re, n, scale);
    Scale(im, n, scale);
  } else {
    fftwf_execute_split_dft(PlanFor(Kind::kForward, n, aligned), im, re, im, re);
  }
}

void Transform(float* re, float* im, size_t n, bool inverse) {
  if (Standard(re, im, FftPlan::SplitOffset(n))) return StandardTransform(re, im, n, inverse);
  // FFTW runs a kept split-array plan only on arrays whose imaginary part
  // lies as far from the real part as when it was planned; other arrays go
  // through the thread's scratch array.
  tScratch.Reserve(n);
  std::copy(re, re + n, tScratch.re);
  std::copy(im, im + n, tScratch.im);
  StandardTransform(tScratch.re, tScratch.im, n, inverse);
  std::copy(tScratch.re, tScratch.re + n, re);
  std::copy(tScratch.im, tScratch.im + n, im);
}

}  // namespace

bool ComplexFFT(std::vector<float>& re, std::vector<float>& im, bool inverse) {
  const size_t n = re.size();
  if (im.size() != n) return false;
  if (n < 2) return true;
  if (!std::has_single_bit(n) || std::countr_zero(n) >= static_cast<int>(kMaxLog2)) return false;
  Transform(re.data(), im.data(), n, inverse);
  return true;
}

FftPlan::FftPlan(size_t n) {
  if (n >= 2 && n <= (size_t{1} << 30)) n_ = n;
}

fftwf_plan FftPlan::Plan(int kind, bool aligned) const {
  fftwf_plan& plan = plans_[static_cast<size_t>(kind) * 2 + (aligned ? 1 : 0)];
  if (plan == nullptr) plan = PlanFor(static_cast<Kind>(kind), n_, aligned);
  return plan;
}

void FftPlan::Complex(float* re, float* im, bool inverse) const {
  if (!Valid()) return;
  if (!Standard(re, im, SplitOffset(n_))) {
    tScratch.Reserve(n_);
    std::copy(re, re + n_, tScratch.re);
    std::copy(im, im + n_, tScratch.im);
    Complex(tScratch.re, tScratch.im, inverse);
    std::copy(tScratch.re, tScratch.re + n_, re);
    std::copy(tScratch.im, tScratch.im + n_, im);
    return;
  }
  const bool aligned = Aligned(re) && Aligned(im);
  if (inverse) {
    fftwf_execute_split_dft(Plan(static_cast<int>(Kind::kInverse), aligned), re, im, re, im);
    const float scale = 1.0f / static_cast<float>(n_);
    Scale(re, n_, scale);
    Scale(im, n_, scale);
  } else {
    fftwf_execute_split_dft(Plan(static_cast<int>(Kind::kForward), aligned), im, re, im, re);
  }
}

void FftPlan::RealForward(const float* in, float* outRe, float* outIm) const {
  if (!Valid()) return;
  const size_t bins = Bins();
  float* re = outRe;
  float* im = outIm;
  if (!Standard(outRe, outIm, SplitOffset(bins))) {
    tScratch.Reserve(bins);
    re = tScratch.re;
    im = tScratch.im;
  }
  const bool aligned = Aligned(in) && Aligned(re) && Aligned(im);
  // The input is only read: FFTW's out-of-place real transforms keep it.
  fftwf_execute_split_dft_r2c(Plan(static_cast<int>(Kind::kRealForward), aligned), const_cast<float*>(in), re, im);
  // FFTW's e^- spectrum is the conjugate of ours.
  for (size_t k = 0; k < bins; ++k) outIm[k] = -im[k];
  if (re != outRe) std::copy(re, re + bins, outRe);
}

void FftPlan::RealInverse(const float* re, const float* im, float* out) {
  if (!Valid()) return;
  const size_t bins = Bins();
  const size_t offset = SplitOffset(bins);
  scratch_.resize(2 * offset);
  float* const scratchRe = scratch_.data();
  float* const scratchIm = scratchRe + offset;
  // Our inverse kernel e^- applied to Y equals FFTW's e^+ kernel applied to
  // conj(Y), whose real part is the same for a conjugate-symmetric spectrum.
  // The copy also keeps the bins: FFTW's complex-to-real transform destroys
  // its input.
  std::copy(re, re + bins, scratchRe);
  for (size_t k = 0; k < bins; ++k) scratchIm[k] = -im[k];
  const bool aligned = Aligned(scratchRe) && Aligned(scratchIm) && Aligned(out);
  fftwf_execute_split_dft_c2r(Plan(static_cast<int>(Kind::kRealInverse), aligned), scratchRe, scratchIm, out);
  Scale(out, n_, 1.0f / static_cast<float>(n_));
}

}  // namespace zandrel

#include "processing/complex_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <vector>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace zandrel {

// FFTW's wisdom for the complex transforms, timed at build time
// (generate_fft_wisdom.cpp).
extern const char kFftWisdom[];

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
// the plan will run on: a real array of n values, a split array whose
// imaginary part lies FftPlan::SplitOffset(n) floats after its real part, and
// two interleaved complex arrays of n values (always aligned).
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
  ~PlanningArrays() {
    fftwf_free(block);
    fftwf_free(interleavedIn);
    fftwf_free(interleavedOut);
  }
  PlanningArrays(const PlanningArrays&) = delete;
  PlanningArrays& operator=(const PlanningArrays&) = delete;
  void Interleaved(size_t n) {
    interleavedIn = fftwf_alloc_complex(n);
    interleavedOut = fftwf_alloc_complex(n);
    std::fill_n(&interleavedIn[0][0], 2 * n, 0.0f);
  }
  float* block = nullptr;
  float* real = nullptr;
  float* splitRe = nullptr;
  float* splitIm = nullptr;
  fftwf_complex* interleavedIn = nullptr;
  fftwf_complex* interleavedOut = nullptr;
};

// Called under the planning lock before the first plan of the process: every
// plan, of any kind, is then made with the same wisdom at hand.
void ImportBuildWisdom() {
  static bool imported = false;
  if (imported) return;
  imported = true;
  fftwf_import_wisdom_from_string(kFftWisdom);  // on failure the estimate plans alone
}

fftwf_plan MakePlan(Kind kind, size_t n, bool aligned) {
  ImportBuildWisdom();
  PlanningArrays scratch(n, aligned);
  float* a = scratch.real;
  float* b = scratch.splitRe;
  // A real transform's spectrum has n / 2 + 1 bins, laid out for that count.
  float* c = b + FftPlan::SplitOffset(n / 2 + 1);
  // Plans are chosen by FFTW's estimate, never by timing trial runs: a
  // measured plan takes up to a second per size on first use (the window
  // freezes, a fuzzer times out), and it differs with the machine's load, so
  // the same input would give results that differ in the last bits from one
  // run of the editor to the next. An estimated plan is the same every time;
  // for the complex transforms the estimate finds the plans timed at build
  // time in the imported wisdom.
  const unsigned flags = FFTW_ESTIMATE | (aligned ? 0u : FFTW_UNALIGNED);
  const int size = static_cast<int>(n);
  fftwf_iodim dim{size, 1, 1};
  switch (kind) {
    case Kind::kForward:  // e^+: FFTW's backward sign
    case Kind::kInverse:
      scratch.Interleaved(n);
      return fftwf_plan_dft_1d(size, scratch.interleavedIn, scratch.interleavedOut,
                               kind == Kind::kForward ? FFTW_BACKWARD : FFTW_FORWARD, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
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

// Two aligned interleaved complex arrays per thread, the input and output of
// the complex plans; they grow to the largest size the thread has used.
struct InterleavedScratch {
  struct Free {
    void operator()(float* p) const { fftwf_free(p); }
  };
  std::unique_ptr<float[], Free> in;
  std::unique_ptr<float[], Free> out;
  size_t capacity = 0;
  void Reserve(size_t n) {
    if (n <= capacity) return;
    in.reset(fftwf_alloc_real(2 * n));
    out.reset(fftwf_alloc_real(2 * n));
    if (in == nullptr || out == nullptr) throw std::bad_alloc();
    capacity = n;
  }
};
thread_local InterleavedScratch tInterleaved;

// (re[i], im[i]) -> x[2i], x[2i + 1]. x is aligned for SIMD.
void Interleave(const float* re, const float* im, float* x, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) {
    const __m128 r = _mm_loadu_ps(re + i);
    const __m128 m = _mm_loadu_ps(im + i);
    _mm_store_ps(x + 2 * i, _mm_unpacklo_ps(r, m));
    _mm_store_ps(x + 2 * i + 4, _mm_unpackhi_ps(r, m));
  }
#endif
  for (; i < n; ++i) {
    x[2 * i] = re[i];
    x[2 * i + 1] = im[i];
  }
}

// The reverse of Interleave, each value multiplied by |scale| (the product
// with 1 is exact, so the forward transform's values pass unchanged).
void Deinterleave(const float* x, float* re, float* im, size_t n, float scale) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128 s = _mm_set1_ps(scale);
  for (; i + 4 <= n; i += 4) {
    const __m128 a = _mm_load_ps(x + 2 * i);
    const __m128 b = _mm_load_ps(x + 2 * i + 4);
    _mm_storeu_ps(re + i, _mm_mul_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), s));
    _mm_storeu_ps(im + i, _mm_mul_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)), s));
  }
#endif
  for (; i < n; ++i) {
    re[i] = x[2 * i] * scale;
    im[i] = x[2 * i + 1] * scale;
  }
}

// The complex transform of the n values at re and im, wherever they lie.
// FFTW's split-array code is several times slower than its interleaved code
// (its SIMD kernels want real and imaginary parts side by side), and a kept
// split plan only runs on arrays whose parts lie as far apart as when it was
// planned; so the values are interleaved into the thread's aligned array,
// transformed out of place and split back, the inverse's 1/N scaling done on
// the way. The plan and the arrays it runs on are the same whatever the
// caller's layout and alignment, and so are the results, bit for bit.
void Transform(float* re, float* im, size_t n, bool inverse, fftwf_plan plan) {
  tInterleaved.Reserve(n);
  float* const in = tInterleaved.in.get();
  float* const out = tInterleaved.out.get();
  Interleave(re, im, in, n);
  fftwf_execute_dft(plan, reinterpret_cast<fftwf_complex*>(in), reinterpret_cast<fftwf_complex*>(out));
  Deinterleave(out, re, im, n, inverse ? 1.0f / static_cast<float>(n) : 1.0f);
}

fftwf_plan ComplexPlan(size_t n, bool inverse) { return PlanFor(inverse ? Kind::kInverse : Kind::kForward, n, true); }

}  // namespace

bool ComplexFFT(std::vector<float>& re, std::vector<float>& im, bool inverse) {
  const size_t n = re.size();
  if (im.size() != n) return false;
  if (n < 2) return true;
  if (!std::has_single_bit(n) || std::countr_zero(n) >= static_cast<int>(kMaxLog2)) return false;
  Transform(re.data(), im.data(), n, inverse, ComplexPlan(n, inverse));
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
  Transform(re, im, n_, inverse, Plan(static_cast<int>(inverse ? Kind::kInverse : Kind::kForward), true));
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

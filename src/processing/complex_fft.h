// ComplexFFT: in-place complex FFT on separate real and imaginary float
// arrays, used by the spectral tools and the sound design tools, and FftPlan
// for callers that transform many blocks of one size (spectral tools, pitch,
// beats, the sound-design engines), with real-input transforms.
//
// Sign convention: the forward transform computes X[k] = sum x[n] e^(+2 pi i nk/N)
// (the conjugate of the usual engineering convention); the inverse uses
// e^(-2 pi i nk/N) and scales by 1/N, so the pair are inverse to each other.
// For real input X[N - k] is the conjugate of X[k] either way, and
// magnitudes do not depend on the convention.
//
// The transforms are computed by FFTW3 in single precision. The complex
// transforms interleave the values into an aligned per-thread array, run
// FFTW's interleaved out-of-place plan and split the result back (FFTW's
// split-array code is several times slower), so they take re and im in any
// layout and alignment and give the same bits for each. Their plans for
// powers of two up to 2^16 were timed when the program was built and are
// compiled in; other sizes use FFTW's estimate. The real-input transforms run
// FFTW's split-array plans: outputs laid out with the imaginary part
// FftPlan::SplitOffset(count) floats after the real part (as in one vector of
// 2 * SplitOffset(count) floats) are written where they are, others through a
// per-thread array. Each size and kind is planned once per process (under a
// lock because FFTW's planner is not thread-safe, never by timing) and kept;
// executing a kept plan on new arrays is thread-safe, so every function here
// may be called from any thread at the same time. Planning a size takes well
// under a millisecond. Results agree with an exact DFT to single precision
// rounding (forward then inverse returns the input within about 1e-7
// relative), and the same input gives the same bits in every run of one
// build of the program.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

struct fftwf_plan_s;  // FFTW's plan; fftw3.h stays out of this header

namespace zandrel {

// Transforms the N = re.size() complex values (re[i], im[i]) in place.
// N must be a power of two and im.size() must equal N: otherwise nothing is
// changed and the result is false. N < 2 leaves the arrays unchanged (true).
bool ComplexFFT(std::vector<float>& re, std::vector<float>& im, bool inverse);

// Transforms of one power-of-two size N, with ComplexFFT's conventions. The
// plans behind it are shared and kept for the life of the process; the
// object itself is cheap and holds a scratch array for RealInverse, so one
// FftPlan is used by one thread at a time (make one per thread).
class FftPlan {
 public:
  // Any size from 2 up (unlike ComplexFFT, not only powers of two; FFTW is
  // fastest for sizes whose factors are 2, 3, 5 and 7). A size below 2 gives
  // a plan that is not Valid() and whose transforms do nothing.
  explicit FftPlan(size_t n);

  size_t Size() const { return n_; }
  bool Valid() const { return n_ >= 2; }
  // Number of bins of a real-input spectrum: N / 2 + 1.
  size_t Bins() const { return n_ / 2 + 1; }

  // Where the imaginary part of a split array of |count| values must start,
  // in floats after its real part, for a transform without copies: count
  // rounded up to a multiple of 16 (so both parts can be aligned alike).
  static size_t SplitOffset(size_t count) { return (count + 15) / 16 * 16; }

  // ComplexFFT on the N values at re and im, in place, any layout.
  void Complex(float* re, float* im, bool inverse) const;

  // The forward transform of N real values: bins 0 .. N/2 of what
  // ComplexFFT returns for (in, 0), into outRe and outIm (Bins() values
  // each; without a copy when outIm = outRe + SplitOffset(Bins())). |in| is
  // not changed and must not overlap the output.
  void RealForward(const float* in, float* outRe, float* outIm) const;

  // The inverse of RealForward: from bins 0 .. N/2 of a spectrum whose upper
  // half is the conjugate mirror, N real values scaled by 1/N (what
  // ComplexFFT's inverse gives as real part). The bins are not changed.
  void RealInverse(const float* re, const float* im, float* out);

 private:
  // The kept plan of one kind (see complex_fft.cpp), looked up once.
  fftwf_plan_s* Plan(int kind, bool aligned) const;

  size_t n_ = 0;
  mutable std::array<fftwf_plan_s*, 8> plans_{};
  std::vector<float> scratch_;
};

}  // namespace zandrel

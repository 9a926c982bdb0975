// ComplexFFT: in-place radix-2 complex FFT on separate real and imaginary
// float arrays, used by the spectral tools and the sound design tools.
//
// Sign convention: the forward transform computes X[k] = sum x[n] e^(+2 pi i nk/N)
// (the conjugate of the usual engineering convention); the inverse uses
// e^(-2 pi i nk/N) and scales by 1/N, so the pair are inverse to each other.
// For real input X[N - k] is the conjugate of X[k] either way, and
// magnitudes do not depend on the convention.
//
// Arithmetic is single precision throughout, with twiddle factors formed by
// repeated multiplication from (cos, sin) of 2 pi / len (computed in double,
// rounded to float), so results are reproducible bit for bit on IEEE hardware.
#pragma once

#include <vector>

namespace zandrel {

// Transforms the N = re.size() complex values (re[i], im[i]) in place.
// N must be a power of two and im.size() must equal N: otherwise nothing is
// changed and the result is false. N < 2 leaves the arrays unchanged (true).
bool ComplexFFT(std::vector<float>& re, std::vector<float>& im, bool inverse);

}  // namespace zandrel

#include "processing/complex_fft.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace zandrel {

bool ComplexFFT(std::vector<float>& re, std::vector<float>& im, bool inverse) {
  const size_t n = re.size();
  if (im.size() != n) return false;
  if (n < 2) return true;
  if (!std::has_single_bit(n)) return false;  // the bit reversal below would index past the arrays

  // Bit-reversal permutation: element i moves to the index with its lowest
  // log2(n) bits reversed.
  {
    const std::vector<float> copyRe = re;
    const std::vector<float> copyIm = im;
    size_t reversed = 0;
    for (size_t i = 0; i < n; ++i) {
      re[reversed] = copyRe[i];
      im[reversed] = copyIm[i];
      // Increment |reversed| as a bit-reversed counter.
      size_t bit = n >> 1;
      while (reversed & bit) {
        reversed ^= bit;
        bit >>= 1;
      }
      reversed |= bit;
    }
  }

  // The twiddle sequence w_j = wlen^j restarts at (1, 0) for every block of a
  // stage, so it is formed once per stage; the values are the ones the
  // running product would give inside each block.
  std::vector<float> twRe(n / 2), twIm(n / 2);
  const double sign = inverse ? -1.0 : 1.0;
  for (size_t len = 2; len <= n; len <<= 1) {
    const size_t half = len / 2;
    const double theta = sign * 2.0 * std::numbers::pi / static_cast<double>(len);
    const float stepRe = static_cast<float>(std::cos(theta));
    const float stepIm = static_cast<float>(std::sin(theta));
    float wRe = 1.0f, wIm = 0.0f;
    for (size_t j = 0; j < half; ++j) {
      twRe[j] = wRe;
      twIm[j] = wIm;
      const float nextRe = wRe * stepRe - wIm * stepIm;
      wIm = wRe * stepIm + wIm * stepRe;
      wRe = nextRe;
    }
    for (size_t i = 0; i < n; i += len) {
      float* const uRe = re.data() + i;
      float* const uIm = im.data() + i;
      float* const xRe = uRe + half;
      float* const xIm = uIm + half;
      for (size_t j = 0; j < half; ++j) {
        const float tRe = twRe[j] * xRe[j] - twIm[j] * xIm[j];
        const float tIm = twRe[j] * xIm[j] + twIm[j] * xRe[j];
        const float aRe = uRe[j], aIm = uIm[j];
        uRe[j] = aRe + tRe;
        uIm[j] = aIm + tIm;
        xRe[j] = aRe - tRe;
        xIm[j] = aIm - tIm;
      }
    }
  }

  if (inverse) {
    const float scale = 1.0f / static_cast<float>(n);
    for (size_t i = 0; i < n; ++i) {
      re[i] *= scale;
      im[i] *= scale;
    }
  }
  return true;
}

}  // namespace zandrel

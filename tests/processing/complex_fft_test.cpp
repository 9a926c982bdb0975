#include "processing/complex_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace zandrel {
namespace {

TEST(ComplexFFTTest, ImpulseGivesOneInEveryBin) {
  for (size_t n : {2u, 8u, 1024u}) {
    std::vector<float> re(n, 0.0f), im(n, 0.0f);
    re[0] = 1.0f;
    ASSERT_TRUE(ComplexFFT(re, im, false));
    for (size_t k = 0; k < n; ++k) {
      EXPECT_FLOAT_EQ(re[k], 1.0f) << n << " bin " << k;
      EXPECT_FLOAT_EQ(im[k], 0.0f) << n << " bin " << k;
    }
  }
}

TEST(ComplexFFTTest, ForwardThenInverseReturnsTheInput) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> re(2048), im(2048);
  for (auto& v : re) v = u(rng);
  for (auto& v : im) v = u(rng);
  const auto re0 = re, im0 = im;
  ASSERT_TRUE(ComplexFFT(re, im, false));
  ASSERT_TRUE(ComplexFFT(re, im, true));
  // The twiddles come from a running product, whose rounding grows along a
  // stage: a few units of 2^-18 at this length.
  float worst = 0.0f;
  for (size_t i = 0; i < re.size(); ++i)
    worst = std::max({worst, std::fabs(re[i] - re0[i]), std::fabs(im[i] - im0[i])});
  EXPECT_LT(worst, 2e-5f);
}

TEST(ComplexFFTTest, ForwardKernelIsPositiveExponent) {
  // x[n] = e^(-2 pi i 5 n / N) lands in bin 5 under the e^(+2 pi i nk/N) kernel.
  const size_t n = 64;
  std::vector<float> re(n), im(n);
  for (size_t i = 0; i < n; ++i) {
    const double phase = -2.0 * std::numbers::pi * 5.0 * static_cast<double>(i) / n;
    re[i] = static_cast<float>(std::cos(phase));
    im[i] = static_cast<float>(std::sin(phase));
  }
  ASSERT_TRUE(ComplexFFT(re, im, false));
  for (size_t k = 0; k < n; ++k) {
    const float magnitude = std::hypot(re[k], im[k]);
    EXPECT_NEAR(magnitude, k == 5 ? 64.0f : 0.0f, 1e-3f) << "bin " << k;
  }

  // For real input the upper half mirrors the lower half as its conjugate.
  std::vector<float> real(n), zero(n, 0.0f);
  for (size_t i = 0; i < n; ++i) real[i] = static_cast<float>(std::sin(0.3 * static_cast<double>(i)) + 0.1 * i);
  ASSERT_TRUE(ComplexFFT(real, zero, false));
  for (size_t k = 1; k < n; ++k) {
    EXPECT_NEAR(real[n - k], real[k], 1e-3f);
    EXPECT_NEAR(zero[n - k], -zero[k], 1e-3f);
  }
}

TEST(ComplexFFTTest, RefusesLengthsItCannotTransform) {
  struct Case {
    size_t re, im;
    bool ok;
  };
  for (const Case& c :
       {Case{12, 12, false}, Case{1000, 1000, false}, Case{8, 4, false}, Case{1, 1, true}, Case{0, 0, true}}) {
    SCOPED_TRACE(testing::Message() << c.re << " / " << c.im);
    std::vector<float> re(c.re, 0.5f), im(c.im, 0.25f);
    const auto re0 = re, im0 = im;
    EXPECT_EQ(ComplexFFT(re, im, false), c.ok);
    EXPECT_EQ(re, re0);
    EXPECT_EQ(im, im0);
  }
}

}  // namespace
}  // namespace zandrel

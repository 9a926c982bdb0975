#include "processing/complex_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

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
  // Single-precision rounding, with a wide margin.
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

std::vector<float> Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = u(rng);
  return v;
}

// The DFT with kernel e^(sign 2 pi i nk/N) in double precision, the angle
// reduced exactly (nk mod N) so that large sizes stay accurate.
void ReferenceDft(const std::vector<float>& re, const std::vector<float>& im, int sign, std::vector<double>& outRe,
                  std::vector<double>& outIm) {
  const size_t n = re.size();
  outRe.assign(n, 0.0);
  outIm.assign(n, 0.0);
  for (size_t k = 0; k < n; ++k) {
    double sr = 0.0, si = 0.0;
    for (size_t j = 0; j < n; ++j) {
      const double angle = sign * 2.0 * std::numbers::pi * static_cast<double>((j * k) % n) / static_cast<double>(n);
      const double c = std::cos(angle), s = std::sin(angle);
      sr += re[j] * c - im[j] * s;
      si += re[j] * s + im[j] * c;
    }
    outRe[k] = sr;
    outIm[k] = si;
  }
}

// RMS of (a - b) over RMS of b.
double RelativeError(const std::vector<float>& aRe, const std::vector<float>& aIm, const std::vector<double>& bRe,
                     const std::vector<double>& bIm) {
  double err = 0.0, ref = 0.0;
  for (size_t i = 0; i < bRe.size(); ++i) {
    err += std::pow(aRe[i] - bRe[i], 2) + std::pow(aIm[i] - bIm[i], 2);
    ref += bRe[i] * bRe[i] + bIm[i] * bIm[i];
  }
  return std::sqrt(err / ref);
}

TEST(ComplexFFTTest, MatchesADoublePrecisionDftBothWays) {
  for (size_t n : {2u, 4u, 16u, 128u, 1024u, 4096u}) {
    SCOPED_TRACE(n);
    const auto re0 = Random(n, 3), im0 = Random(n, 4);
    std::vector<double> wantRe, wantIm;

    auto re = re0, im = im0;
    ASSERT_TRUE(ComplexFFT(re, im, false));
    ReferenceDft(re0, im0, +1, wantRe, wantIm);
    EXPECT_LT(RelativeError(re, im, wantRe, wantIm), 1e-6);

    re = re0;
    im = im0;
    ASSERT_TRUE(ComplexFFT(re, im, true));
    ReferenceDft(re0, im0, -1, wantRe, wantIm);
    for (auto* v : {&wantRe, &wantIm})
      for (double& x : *v) x /= static_cast<double>(n);
    EXPECT_LT(RelativeError(re, im, wantRe, wantIm), 1e-6);
  }
}

TEST(ComplexFFTTest, RoundTripAtTheLargestSizeStaysWithinSinglePrecision) {
  const size_t n = 65536;
  const auto re0 = Random(n, 5), im0 = Random(n, 6);
  auto re = re0, im = im0;
  ASSERT_TRUE(ComplexFFT(re, im, false));
  ASSERT_TRUE(ComplexFFT(re, im, true));
  const std::vector<double> wantRe(re0.begin(), re0.end()), wantIm(im0.begin(), im0.end());
  EXPECT_LT(RelativeError(re, im, wantRe, wantIm), 1e-6);
}

TEST(ComplexFFTTest, ArraysAtAnyAlignmentGiveTheSameResult) {
  // Vectors are usually aligned for SIMD; arrays one float in are not, and
  // need the other kind of kept plan.
  const size_t n = 512;
  const auto re0 = Random(n + 1, 7), im0 = Random(n + 1, 8);
  std::vector<float> re(re0.begin() + 1, re0.end()), im(im0.begin() + 1, im0.end());
  ASSERT_TRUE(ComplexFFT(re, im, false));
  auto shiftedRe = re0, shiftedIm = im0;
  FftPlan(n).Complex(shiftedRe.data() + 1, shiftedIm.data() + 1, false);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(shiftedRe[i + 1], re[i], 1e-4f) << i;
    EXPECT_NEAR(shiftedIm[i + 1], im[i], 1e-4f) << i;
  }
}

TEST(ComplexFFTTest, AnyLayoutAndAlignmentGiveTheSameBits) {
  // Separate vectors, one vector with the imaginary part right after the
  // real part, and both one float off alignment: the same plan runs on the
  // same interleaved copy, so the results agree to the last bit.
  for (size_t n : {256u, 4096u, 65536u}) {
    SCOPED_TRACE(n);
    const auto re0 = Random(n, 14), im0 = Random(n, 15);
    for (const bool inverse : {false, true}) {
      std::vector<float> re = re0, im = im0;
      ASSERT_TRUE(ComplexFFT(re, im, inverse));
      FftPlan plan(n);
      for (const size_t skew : {0u, 1u}) {
        for (const size_t gap : {size_t{0}, FftPlan::SplitOffset(n) - n, size_t{3}}) {
          std::vector<float> block(skew + 2 * n + gap);
          float* const r = block.data() + skew;
          float* const i = r + n + gap;
          std::copy(re0.begin(), re0.end(), r);
          std::copy(im0.begin(), im0.end(), i);
          plan.Complex(r, i, inverse);
          ASSERT_EQ(std::memcmp(re.data(), r, n * sizeof(float)), 0) << inverse << " " << skew << " " << gap;
          ASSERT_EQ(std::memcmp(im.data(), i, n * sizeof(float)), 0) << inverse << " " << skew << " " << gap;
        }
      }
    }
  }
}

TEST(ComplexFFTTest, ManyThreadsPlanningAndTransformingAtOnceAgree) {
  // Every thread asks for sizes nobody has planned yet, at the same time.
  const auto re0 = Random(8192, 9), im0 = Random(8192, 10);
  std::vector<std::vector<float>> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t n : {32768u, 8192u, 2048u}) {
        std::vector<float> re(re0.begin(), re0.begin() + std::min(n, re0.size())), im(re.size());
        re.resize(n);
        im.resize(n);
        ComplexFFT(re, im, false);
        if (n == 8192) results[t] = re;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (size_t t = 1; t < results.size(); ++t) {
    ASSERT_EQ(results[t].size(), results[0].size());
    for (size_t i = 0; i < results[0].size(); ++i) ASSERT_NEAR(results[t][i], results[0][i], 1e-3f) << t << " " << i;
  }
}

TEST(FftPlanTest, RealTransformsGiveComplexFFTsResults) {
  for (size_t n : {2u, 64u, 4096u}) {
    SCOPED_TRACE(n);
    FftPlan plan(n);
    ASSERT_TRUE(plan.Valid());
    const auto x = Random(n, 11);
    std::vector<float> re = x, im(n, 0.0f);
    ASSERT_TRUE(ComplexFFT(re, im, false));

    std::vector<float> binsRe(plan.Bins()), binsIm(plan.Bins());
    plan.RealForward(x.data(), binsRe.data(), binsIm.data());
    for (size_t k = 0; k < plan.Bins(); ++k) {
      EXPECT_NEAR(binsRe[k], re[k], 1e-4f * std::sqrt(static_cast<float>(n))) << k;
      EXPECT_NEAR(binsIm[k], im[k], 1e-4f * std::sqrt(static_cast<float>(n))) << k;
    }

    // And back: the real part of ComplexFFT's inverse, which is the input.
    std::vector<float> back(n);
    plan.RealInverse(binsRe.data(), binsIm.data(), back.data());
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(back[i], x[i], 1e-5f) << i;
  }
}

TEST(FftPlanTest, RealForwardKeepsOurSignConvention) {
  // sin(2 pi 3 n / N) under e^(+2 pi i nk/N) has bin 3 = +i N / 2.
  const size_t n = 32;
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 3.0 * i / n));
  FftPlan plan(n);
  std::vector<float> re(plan.Bins()), im(plan.Bins());
  plan.RealForward(x.data(), re.data(), im.data());
  EXPECT_NEAR(re[3], 0.0f, 1e-4f);
  EXPECT_NEAR(im[3], 16.0f, 1e-4f);
}

TEST(FftPlanTest, OtherSizesMatchADoublePrecisionDft) {
  // Plans of any size (ComplexFFT itself takes only powers of two).
  for (size_t n : {12u, 1000u, 2304u}) {
    SCOPED_TRACE(n);
    FftPlan plan(n);
    ASSERT_TRUE(plan.Valid());
    const auto re0 = Random(n, 12), im0 = Random(n, 13);
    std::vector<double> wantRe, wantIm;
    ReferenceDft(re0, im0, +1, wantRe, wantIm);
    auto re = re0, im = im0;
    plan.Complex(re.data(), im.data(), false);
    EXPECT_LT(RelativeError(re, im, wantRe, wantIm), 1e-6);

    // The real transform: bins 0 .. n/2 of the DFT of (re0, 0).
    const std::vector<float> zero(n, 0.0f);
    ReferenceDft(re0, zero, +1, wantRe, wantIm);
    std::vector<float> bins(2 * FftPlan::SplitOffset(plan.Bins()));
    float* binsRe = bins.data();
    float* binsIm = binsRe + FftPlan::SplitOffset(plan.Bins());
    plan.RealForward(re0.data(), binsRe, binsIm);
    std::vector<float> gotRe(binsRe, binsRe + plan.Bins()), gotIm(binsIm, binsIm + plan.Bins());
    wantRe.resize(plan.Bins());
    wantIm.resize(plan.Bins());
    EXPECT_LT(RelativeError(gotRe, gotIm, wantRe, wantIm), 1e-6);
  }
}

TEST(FftPlanTest, SizesBelowTwoGiveNoPlan) {
  for (size_t n : {0u, 1u}) {
    FftPlan plan(n);
    EXPECT_FALSE(plan.Valid()) << n;
    std::vector<float> re(16, 0.5f), im(16, 0.25f);
    plan.Complex(re.data(), im.data(), false);  // does nothing
    EXPECT_EQ(re, std::vector<float>(16, 0.5f));
  }
}

}  // namespace
}  // namespace zandrel

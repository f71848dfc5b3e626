// VanTanh against the long-double tanh and the C library's: accuracy over millions of arguments,
// the values at the edges, symmetry and monotony across the seams between its methods.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "formula/vantanh.h"

namespace {

double TanhPlain(double x) { return VanTanh<false>(x); }
VAN_TARGET_FUSED double TanhFused(double x) { return VanTanh<true>(x); }

struct Build {
  const char* pszName;
  double (*pfn)(double);
};

// The builds this processor can run.
std::vector<Build> Builds() {
  std::vector<Build> abuild = {{"plain", TanhPlain}};
  if (VanFusedUsable()) abuild.push_back({"fused", TanhFused});
  return abuild;
}

// The error of d in units of the last place of the exact value's binade.
double UlpError(double d, long double ldExact) {
  const double dExact = static_cast<double>(ldExact);
  if (dExact == 0) return d == 0 ? 0 : INFINITY;
  const long double ldUlp = std::ldexp(1.0L, std::ilogb(dExact) - 52);
  return static_cast<double>(std::fabs(static_cast<long double>(d) - ldExact) / ldUlp);
}

// Arguments where tanh is used: log-spread magnitudes from 2^-60 to 2^5 of both signs, evenly
// spread values in [-4, 4] (where a ladder's stages sit), and the neighbourhoods of the seams:
// 1, where the polynomial hands over, and the points where the exponential's table entry changes.
std::vector<double> Arguments(int n) {
  std::mt19937_64 rng(21);
  std::vector<double> ad;
  ad.reserve(n);
  std::uniform_real_distribution<double> mantissa(1, 2), even(-4, 4);
  std::uniform_int_distribution<int> exponent(-60, 4);
  for (int i = 0; ad.size() < static_cast<size_t>(n); ++i) {
    switch (i % 4) {
      case 0:
      case 1:
        ad.push_back(std::ldexp(mantissa(rng), exponent(rng)) * (rng() & 1 ? -1 : 1));
        break;
      case 2:
        ad.push_back(even(rng));
        break;
      default: {
        // n·ln2/256 for a table step n: tanh(x) looks up exp(2x) at a step of ln2/128.
        const double dSeam = i % 8 == 3 ? 1.0 : (rng() % 8000) * std::log(2.0) / 256;
        ad.push_back(dSeam + (static_cast<int>(rng() % 2001) - 1000) * 0x1p-52);
      }
    }
  }
  return ad;
}

// Against tanhl, within two ulps everywhere; reported beside the C library's own error and how
// often the two differ at all.
TEST(VanTanhTest, WithinTwoUlpsOfTheExactValue) {
  if (sizeof(long double) == sizeof(double)) GTEST_SKIP() << "no wider tanh to measure against";
  const std::vector<double> ad = Arguments(4'000'000);
  std::vector<long double> aldExact(ad.size());
  double dLibrary = 0;
  for (size_t i = 0; i < ad.size(); ++i) {
    aldExact[i] = tanhl(static_cast<long double>(ad[i]));
    dLibrary = std::max(dLibrary, UlpError(std::tanh(ad[i]), aldExact[i]));
  }
  for (const Build& build : Builds()) {
    double dWorst = 0, dWorstAt = 0;
    size_t nDiffer = 0;
    for (size_t i = 0; i < ad.size(); ++i) {
      const double d = build.pfn(ad[i]);
      const double dError = UlpError(d, aldExact[i]);
      if (dError > dWorst) dWorst = dError, dWorstAt = ad[i];
      nDiffer += d != std::tanh(ad[i]);
    }
    EXPECT_LT(dWorst, 2) << build.pszName << " at " << dWorstAt;
    std::printf("%s: worst %.3f ulp at %a (the C library's worst %.3f); %.2f%% differ from the C library\n",
                build.pszName, dWorst, dWorstAt, dLibrary, 100.0 * nDiffer / ad.size());
  }
}

TEST(VanTanhTest, EdgesAsTheLibraryGivesThem) {
  const double aCase[] = {0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, 1e-20, -1e-300, 22, -22, 1e300,
                          -1e300, INFINITY, -INFINITY};
  for (const Build& build : Builds()) {
    for (double x : aCase) {
      const double d = build.pfn(x), dLibrary = std::tanh(x);
      EXPECT_EQ(d, dLibrary) << build.pszName << " at " << x;
      EXPECT_EQ(std::signbit(d), std::signbit(x)) << build.pszName << " at " << x;
    }
    EXPECT_TRUE(std::isnan(build.pfn(NAN))) << build.pszName;
  }
}

// Odd to the bit, and rising through each seam without a step back: consecutive doubles across the
// seams (and, for the plain build's rounding, anywhere) may fall by one ulp of rounding, no more.
TEST(VanTanhTest, OddAndMonotoneAcrossTheSeams) {
  std::vector<double> adSeam = {1, 22};
  for (int n = 1; n < 8000; n += 37) adSeam.push_back(n * std::log(2.0) / 256);
  for (const Build& build : Builds()) {
    int nFalls = 0;
    for (double dSeam : adSeam) {
      double x = dSeam;
      for (int i = 0; i < 1000; ++i) x = std::nextafter(x, 0.0);
      double dLast = build.pfn(x);
      for (int i = 0; i < 2000; ++i) {
        x = std::nextafter(x, INFINITY);
        const double d = build.pfn(x);
        ASSERT_GE(d, std::nextafter(dLast, 0.0)) << build.pszName << " falls at " << x;
        ASSERT_EQ(build.pfn(-x), -d) << build.pszName << " at " << x;
        nFalls += d < dLast;
        dLast = d;
      }
    }
    std::printf("%s: %d one-ulp falls in %zu steps\n", build.pszName, nFalls, adSeam.size() * 2000);
  }
}

}  // namespace

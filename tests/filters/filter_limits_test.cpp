// Filter limits and robustness: argument limits, unit gain, the extremes, per-sample cooking, bad input.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "filter_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const TypeInfo& Info(const std::string& sType) {
  for (const TypeInfo& info : TypeTable())
    if (sType == info.pszName) return info;
  ADD_FAILURE() << sType;
  return TypeTable()[0];
}

class FilterLimits : public testing::TestWithParam<std::string> {
 protected:
  std::vector<double> Cooked(double dFreq, double dGain, double dQ) {
    return Coefficients(MakeCooked(GetParam(), dFreq, dGain, dQ));
  }
};

// Frequencies outside 0.001 Hz ... 0.49 × rate, q below the type's minimum and gains below 0.0001
// cook exactly as the limit; arguments a type does not use change nothing.
TEST_P(FilterLimits, OutOfRangeArgumentsCookAsTheLimit) {
  const TypeInfo& info = Info(GetParam());
  const double g = 2, q = 3;
  for (double dLow : {0.0, -50.0, kNaN}) EXPECT_EQ(Cooked(dLow, g, q), Cooked(0.001, g, q)) << dLow;
  EXPECT_EQ(Cooked(kRate, g, q), Cooked(0.49 * kRate, g, q));

  if (info.dMinQ > 0) {
    EXPECT_EQ(Cooked(1000, g, 0), Cooked(1000, g, info.dMinQ));
    EXPECT_EQ(Cooked(1000, g, -4), Cooked(1000, g, info.dMinQ));
  } else {
    EXPECT_EQ(Cooked(1000, g, 0.3), Cooked(1000, g, 7));
  }

  if (!info.bHasGain)
    EXPECT_EQ(Cooked(1000, 0.5, q), Cooked(1000, 3, q));
  else if (GetParam() == "ParametricConst")  // 0 is a notch; a negative gain would be unstable
    EXPECT_EQ(Cooked(1000, -2, q), Cooked(1000, 0, q));
  else
    EXPECT_EQ(Cooked(1000, 0, q), Cooked(1000, 0.0001, q));
}

TEST(FilterLimitsOwn, ParametricNonConstWidensToAQuarterOfItsFrequency) {
  auto Cooked = [](double dQ) { return Coefficients(MakeCooked("ParametricNonConst", 5000, 2, dQ)); };
  EXPECT_EQ(Cooked(0.01), Cooked(4.05 * 5000 / kRate));
  EXPECT_NE(Cooked(0.5), Cooked(4.05 * 5000 / kRate));
}

// A minute of full-scale noise at the extremes: the sharpest resonance, the frequency limits and
// beyond, the gain limits. Nothing may turn to NaN or grow without bound (the loudest case, a q of
// 1000 at the top, stays far below the bound).
TEST_P(FilterLimits, StaysBoundedForAMinuteOfNoiseAtTheExtremes) {
  struct Extreme {
    double dFreq, dGain, dQ;
  };
  for (Extreme e : {Extreme{0.49 * kRate, 100, 1000}, Extreme{kRate, 0.0001, 0.001}, Extreme{0.45 * kRate, 100, 0.001},
                    Extreme{0, 100, 1000}}) {
    Filter f = MakeCooked(GetParam(), e.dFreq, e.dGain, e.dQ);
    Noise noise;
    for (int i = 0; i < 60 * int(kRate); ++i) {
      double y = f.Calc(noise.Next());
      ASSERT_LT(std::fabs(y), 1e4) << "f=" << e.dFreq << " gain=" << e.dGain << " q=" << e.dQ << " sample " << i;
    }
  }
}

// Cooked at every sample while the frequency sweeps 44 Hz ... 22.6 kHz (past the limit) seven times
// a second, as a modulated filter is.
TEST_P(FilterLimits, SurvivesAFrequencyCookedEverySample) {
  Filter f = MakeFilter(GetParam());
  Noise noise;
  for (int i = 0; i < 2 * int(kRate); ++i) {
    double dFreq = 1000 * std::exp2(4.5 * std::sin(2 * kPi * 7 * i / kRate));
    f.Cook(dFreq, 4, 5);
    double y = f.Calc(noise.Next());
    ASSERT_LT(std::fabs(y), 100) << "sample " << i << " at " << dFreq << " Hz";
  }
}

// A NaN input spoils at most the two samples its feed-forward history lasts; a decaying tail ends in
// exact zeros, never in denormals.
TEST_P(FilterLimits, ForgetsANaNAndLeavesNoDenormals) {
  Filter f = MakeCooked(GetParam(), 1000, 2, 2);
  Noise noise;
  for (int i = 0; i < 100; ++i) f.Calc(noise.Next());
  f.Calc(kNaN);
  f.Calc(0);
  f.Calc(0);
  for (int i = 0; i < 300000; ++i) {
    ASSERT_TRUE(std::isfinite(f.Calc(i == 0 ? 1 : 0))) << "sample " << i;
    ASSERT_NE(std::fpclassify(f.y1), FP_SUBNORMAL) << "sample " << i;
    ASSERT_NE(std::fpclassify(f.y2), FP_SUBNORMAL) << "sample " << i;
  }
  EXPECT_EQ(f.y1, 0);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FilterLimits, testing::ValuesIn(TypeNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// A gain of 1 on a type that uses the gain does nothing at all: the multi-band filter drops such
// bands on that promise.
class FilterUnitGain : public testing::TestWithParam<std::string> {};

TEST_P(FilterUnitGain, PassesTheInputUnchanged) {
  for (double dFreq : {30.0, 1000.0, 15000.0}) {
    for (double dQ : {0.5, 3.0}) {
      Filter f = MakeCooked(GetParam(), dFreq, 1, dQ);
      Noise noise;
      for (int i = 0; i < 2000; ++i) {
        double x = noise.Next();
        ASSERT_EQ(f.Calc(x), x) << "f=" << dFreq << " q=" << dQ << " sample " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(GainTypes, FilterUnitGain, testing::ValuesIn(TypeNames(true)),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// Where the analog prototype's gain at Nyquist is exactly 1 (θ = π/√(2 − 1/q²)), two factors of the
// analog-matched low-pass vanish together. Its cooking must stay finite, stable and continuous there.
TEST(FilterLimitsOwn, Massberg2IsContinuousWhereItsNyquistGainIsOne) {
  for (double q : {2.0, 5.0}) {
    double dFreq = kRate / (2 * std::sqrt(2 - 1 / (q * q)));
    std::vector<double> adNear = Coefficients(MakeCooked("LPFMassberg2", dFreq * (1 + 1e-5), 1, q));
    for (int k = -1000; k <= 1000; ++k) {
      Filter f = MakeCooked("LPFMassberg2", dFreq * (1 + k * 1e-13), 1, q);
      std::vector<double> ad = Coefficients(f);
      for (int i = 0; i < 5; ++i) ASSERT_NEAR(ad[i], adNear[i], 1e-3) << "q=" << q << " step " << k << " coefficient " << i;
      ASSERT_LT(std::fabs(f.b2), 1);
      ASSERT_LT(std::fabs(f.b1), 1 + f.b2);
    }
  }
}

}  // namespace

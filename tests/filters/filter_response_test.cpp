// Filter responses, measured from impulse responses, against the analog prototypes of the designs.
#include <cmath>
#include <vector>

#include "filter_support.h"

namespace {

// ---- Bilinear designs ----------------------------------------------------------------------------
// A bilinear design's response at ω is exactly its analog prototype's at s = j·tan(ω/2)/warp, where
// warp is tan(ω/2) at the prototype's unit frequency, phase included. That makes every point of the
// response a check: corner, slope, resonance, shelf and peak gains.

using PrototypeFn = Complex (*)(Complex s, double K, double dGain, double dQ);  // K = tan(π·f/R)
using WarpFn = double (*)(double K, double dGain);

double WarpAtF(double K, double) { return K; }

struct BilinearCase {
  const char* pszType;
  double dFreq, dGain, dQ;
  PrototypeFn pfnPrototype;
  WarpFn pfnWarp = WarpAtF;
};

const double kSqrt2 = std::sqrt(2.0);

const BilinearCase kBilinear[] = {
    {"LPF1", 1000, 1, 1, [](Complex s, double, double, double) { return 1.0 / (1.0 + s); }},
    {"HPF1", 1000, 1, 1, [](Complex s, double, double, double) { return s / (1.0 + s); }},
    // The damping term is 2·sin θ / q: the prototype's q is a quarter of the argument, so 2√2 gives
    // Butterworth (−3 dB at f) and 8 a resonance of 2 (+6 dB at f).
    {"LPF2", 1000, 1, 2 * std::sqrt(2.0),
     [](Complex s, double, double, double q) { return 1.0 / (s * s + s / (q / 4) + 1.0); }},
    {"LPF2", 2000, 1, 8, [](Complex s, double, double, double q) { return 1.0 / (s * s + s / (q / 4) + 1.0); }},
    {"HPF2", 1000, 1, 2 * std::sqrt(2.0),
     [](Complex s, double, double, double q) { return s * s / (s * s + s / (q / 4) + 1.0); }},
    // Linkwitz-Riley (a squared Butterworth, −6 dB at the corner); the design warps with tan 2θ,
    // which puts the corner at 4·f.
    {"LPFLinkwitz2", 1000, 1, 1, [](Complex s, double, double, double) { return 1.0 / ((1.0 + s) * (1.0 + s)); },
     [](double K, double) { return std::tan(4 * std::atan(K)); }},
    {"HPFLinkwitz2", 1000, 1, 1, [](Complex s, double, double, double) { return s * s / ((1.0 + s) * (1.0 + s)); },
     [](double K, double) { return std::tan(4 * std::atan(K)); }},
    // The band-pass's denominator maps back to (K² + 4)·q·s² + 4·s + 3·q: unit peak gain, zeros at DC
    // and Nyquist, the peak at tan(ω/2) = K·√(3/(K² + 4)).
    {"BPF2", 1000, 1, 2,
     [](Complex s, double K, double, double q) { return 4.0 * s / ((K * K + 4) * q * s * s + 4.0 * s + 3 * q); }},
    {"BCF2", 1000, 1, 2, [](Complex s, double, double, double q) { return (s * s + 1.0) / (s * s + s / q + 1.0); }},
    {"APF1", 1000, 1, 1, [](Complex s, double, double, double) { return (1.0 - s) / (1.0 + s); }},
    // Its bandwidth follows f: the prototype's q is cos²(θ/2) = 1/(1 + K²).
    {"APF2", 1000, 1, 1,
     [](Complex s, double K, double, double) {
       double q = 1 / (1 + K * K);
       return (s * s - s / q + 1.0) / (s * s + s / q + 1.0);
     }},
    // First-order shelves: gain μ at one end, 1 at the other; the inner filter's corner moves with μ.
    {"LoShelf1", 1000, 4, 1, [](Complex s, double, double m, double) { return (m + s) / (1.0 + s); },
     [](double K, double m) { return 4 / (1 + m) * K; }},
    {"LoShelf1", 1000, 0.25, 1, [](Complex s, double, double m, double) { return (m + s) / (1.0 + s); },
     [](double K, double m) { return 4 / (1 + m) * K; }},
    {"HiShelf1", 1000, 4, 1, [](Complex s, double, double m, double) { return (1.0 + m * s) / (1.0 + s); },
     [](double K, double m) { return (1 + m) / 4 * K; }},
    {"LoShelf2", 1000, 4, 1,
     [](Complex s, double, double m, double) {
       return (s * s + std::sqrt(2 * m) * s + m) / (s * s + kSqrt2 * s + 1.0);
     }},
    {"HiShelf2", 1000, 0.25, 1,
     [](Complex s, double, double m, double) {
       return (m * s * s + std::sqrt(2 * m) * s + 1.0) / (s * s + kSqrt2 * s + 1.0);
     }},
    // Gain G at f, 1 far away; G = 0 is a notch.
    {"ParametricConst", 1000, 4, 2,
     [](Complex s, double, double g, double q) { return (s * s + g / q * s + 1.0) / (s * s + s / q + 1.0); }},
    {"ParametricConst", 3000, 0.25, 0.7,
     [](Complex s, double, double g, double q) { return (s * s + g / q * s + 1.0) / (s * s + s / q + 1.0); }},
    {"ParametricConst", 1000, 0, 2,
     [](Complex s, double, double g, double q) { return (s * s + g / q * s + 1.0) / (s * s + s / q + 1.0); }},
};

class FilterBilinear : public testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(FilterBilinear, MatchesTheAnalogPrototype) {
  const BilinearCase& c = kBilinear[std::get<0>(GetParam())];
  double dRate = std::get<1>(GetParam());
  Response r(MakeCooked(c.pszType, c.dFreq, c.dGain, c.dQ, dRate));
  double K = std::tan(kPi * c.dFreq / dRate);
  double dWarp = c.pfnWarp(K, c.dGain);
  for (double dRatio : {0.25, 0.5, 1.0, 2.0, 4.0, 8.0}) {
    double dAt = c.dFreq * dRatio;
    if (dAt > 0.45 * dRate) continue;
    Complex s(0, std::tan(kPi * dAt / dRate) / dWarp);
    Complex expected = c.pfnPrototype(s, K, c.dGain, c.dQ);
    EXPECT_LT(std::abs(r.At(dAt) - expected), 1e-9) << c.pszType << " f=" << c.dFreq << " at " << dAt << " Hz: "
                                                    << r.At(dAt) << " expected " << expected;
  }
}

// Two rates, so that nothing in the kernels can lean on one.
INSTANTIATE_TEST_SUITE_P(Designs, FilterBilinear,
                         testing::Combine(testing::Range(0, int(std::size(kBilinear))), testing::Values(44100.0, 96000.0)),
                         [](const testing::TestParamInfo<std::tuple<int, double>>& info) {
                           return std::string(kBilinear[std::get<0>(info.param)].pszType) + "_" +
                                  std::to_string(std::get<0>(info.param)) + "_" +
                                  std::to_string(int(std::get<1>(info.param)));
                         });

// ---- Designs fixed at chosen points ---------------------------------------------------------------
// The feedback-only, analog-matched and resonator designs are not bilinear images; each fixes the
// magnitude at a few points, and the analog-matched ones stay close to the prototype elsewhere.

// Magnitudes of the analog low-passes at frequency ratio x = ω/ωc.
double Analog1(double x) { return 1 / std::sqrt(1 + x * x); }
double Analog2(double x, double q) { return 1 / std::sqrt((1 - x * x) * (1 - x * x) + (x / q) * (x / q)); }

struct Point {
  double dAt, dMagnitude, dTolerance;  // Hz, expected |H|, allowed absolute error
};
struct PointCase {
  const char* pszType;
  double dFreq, dGain, dQ;
  std::vector<Point> aPoint;
  double dRate = 0;
};

std::vector<PointCase> PointCases(double dRate) {
  const double N = dRate / 2;  // Nyquist
  const double kHalf = std::sqrt(0.5);
  std::vector<PointCase> acase = {
      // One pole at exactly −3 dB at f with DC gain 1; an octave away it is the analog one-pole.
      {"LPF1FB", 200, 1, 1, {{0, 1, 1e-12}, {200, kHalf, 1e-9}, {400, Analog1(2), 0.005}, {100, Analog1(0.5), 0.005}}},
      // Its mirror: −3 dB at f against unity at Nyquist.
      {"HPF1FB", 1000, 1, 1, {{N, 1, 1e-9}, {1000, kHalf, 1e-9}}},
      // Analog-matched: DC and Nyquist exactly the prototype's, the corner and an octave away close.
      {"LPFMassberg1", 1000, 1, 1,
       {{0, 1, 1e-9}, {N, Analog1(N / 1000), 1e-9}, {1000, kHalf, 1e-3}, {2000, Analog1(2), 2e-3}, {500, Analog1(0.5), 2e-3}}},
      {"LPFMassberg1", 10000, 1, 1, {{0, 1, 1e-9}, {N, Analog1(N / 10000), 1e-9}, {10000, kHalf, 1e-3}}},
      {"LPFMassberg2", 1000, 1, std::sqrt(0.5),
       {{0, 1, 1e-9}, {N, Analog2(N / 1000, std::sqrt(0.5)), 1e-9}, {1000, kHalf, 1e-3}, {2000, Analog2(2, std::sqrt(0.5)), 2e-3}}},
      {"LPFMassberg2", 1000, 1, 5,
       {{0, 1, 1e-9}, {N, Analog2(N / 1000, 5), 1e-9}, {1000, 5, 0.01}, {2000, Analog2(2, 5), 0.003}}},
      {"LPFMassberg2", 10000, 1, 5, {{0, 1, 1e-9}, {N, Analog2(N / 10000, 5), 1e-9}, {10000, 5, 0.01}}},
      // Unit gain at the peak, which sits at f.
      {"SimpleResonator", 1000, 1, 0.5, {{1000, 1, 1e-9}}},
      {"SimpleResonator", 15000, 1, 10, {{15000, 1, 1e-9}}},
      // Zeros at DC and Nyquist; close to unit gain at f when the resonance is sharp.
      {"ImprovedResonator", 1000, 1, 100, {{0, 0, 1e-9}, {N, 0, 1e-9}, {1000, 1, 0.01}}},
      {"ImprovedResonator", 15000, 1, 100, {{0, 0, 1e-9}, {N, 0, 1e-9}, {15000, 1, 0.01}}},
      // The band-pass's unit peak added μ − 1 times: gain μ at f, 1 at both ends.
      {"ParametricNonConst", 1000, 4, 2, {{0, 1, 1e-9}, {N, 1, 1e-9}, {1000, 4, 1e-9}}},
      {"ParametricNonConst", 10000, 0.25, 0.5, {{0, 1, 1e-9}, {N, 1, 1e-9}, {10000, 0.25, 1e-9}}},
  };
  for (PointCase& c : acase) c.dRate = dRate;
  return acase;
}

// Two rates, as for the bilinear designs.
std::vector<PointCase> PointCasesAtTwoRates() {
  std::vector<PointCase> acase = PointCases(44100), acase96 = PointCases(96000);
  acase.insert(acase.end(), acase96.begin(), acase96.end());
  return acase;
}

void PrintTo(const PointCase& c, std::ostream* pos) { *pos << c.pszType << " f=" << c.dFreq << " rate " << c.dRate; }

class FilterDesignPoints : public testing::TestWithParam<PointCase> {};

TEST_P(FilterDesignPoints, HitTheirMagnitudes) {
  const PointCase& c = GetParam();
  Response r(MakeCooked(c.pszType, c.dFreq, c.dGain, c.dQ, c.dRate));
  for (const Point& p : c.aPoint)
    EXPECT_NEAR(std::abs(r.At(p.dAt)), p.dMagnitude, p.dTolerance)
        << c.pszType << " f=" << c.dFreq << " at " << p.dAt << " Hz, rate " << c.dRate;
}

INSTANTIATE_TEST_SUITE_P(Designs, FilterDesignPoints, testing::ValuesIn(PointCasesAtTwoRates()),
                         [](const testing::TestParamInfo<PointCase>& info) {
                           return std::string(info.param.pszType) + "_" + std::to_string(info.index);
                         });

TEST(FilterResonator, SimplePeaksAtItsFrequency) {
  for (double dFreq : {200.0, 5000.0, 15000.0}) {
    Response r(MakeCooked("SimpleResonator", dFreq, 1, 4));
    double dPeak = std::abs(r.At(dFreq));
    EXPECT_LT(std::abs(r.At(dFreq * 1.005)), dPeak) << dFreq;
    EXPECT_LT(std::abs(r.At(dFreq / 1.005)), dPeak) << dFreq;
  }
}

}  // namespace

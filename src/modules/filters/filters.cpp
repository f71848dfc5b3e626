// The filter kernels: Filter's own operations, the seven per-sample equations, the 22 types' cooking
// and their registration.
//
// To add a type: write a class deriving from the kernel it runs on, with a static Cook that writes
// every coefficient that kernel reads (and bHasGain = true when it uses the gain), then add one
// FilterTemp line at the end of this file. The registration order is the order of the type list and
// of the keyword numbers BuildIndex gives new names.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/akstatus.h"
#include "modules/filters/filter.h"
#include "modules/filters/filterfactory.h"
#include "modules/filters/foldstate.h"

// ---- Filter's own operations --------------------------------------------------------------------

constinit const FilterType Filter::typeUnset_{"", "Unset filter", false, &Filter::CookUnset, &Filter::CalcUnset};

void Filter::SetSampleRate(double dRateNew) {
  dRate = dRateNew;
  dTwoPiOverRate = 2 * std::numbers::pi / dRateNew;
}

void Filter::Clear() { x1 = x2 = y1 = y2 = 0; }

void Filter::CookUnset(Filter& filter, double, double, double) {
  if (filter.bitsReported_ & kReportedCook) return;
  filter.bitsReported_ |= kReportedCook;
  AKS(AKSWarn, AK_HERE, "Unset filter being cooked");
}

double Filter::CalcUnset(Filter& filter, double) {
  if (!(filter.bitsReported_ & kReportedCalc)) {
    filter.bitsReported_ |= kReportedCalc;
    AKS(AKSWarn, AK_HERE, "Unset filter being calced; returning output of .5");
  }
  return 0.5;
}

// Lives here, beside Filter's operations, so that a program that changes types through the factory
// also links this file and with it the registration objects below.
void FilterType::Apply(Filter& filter) const {
  filter.ptype_ = this;
  filter.Clear();
}

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSqrtHalf = 0.7071067811865476;   // √½: Butterworth q
constexpr double kTwoPiSquared = 19.739208802178716;  // 2π²
constexpr double kFourPiSquared = 39.47841760435743;  // 4π²
constexpr double kMassbergWarn = 3.078760800517997;   // 0.98π, where the Massberg warnings start

inline double Sq(double d) { return d * d; }

// The lower limit; a NaN becomes the limit too.
inline double AtLeast(double d, double dMin) { return d >= dMin ? d : dMin; }

// Every type cooks with its frequency limited to 0.001 Hz ... 0.49 × rate.
inline double LimitFreq(const Filter& f, double dFreq) {
  dFreq = AtLeast(dFreq, 0.001);
  double dMax = 0.49 * f.dRate;
  return dFreq > dMax ? dMax : dFreq;
}

// ---- Kernels: the per-sample equations ----------------------------------------------------------
// x is the input, y the output. Only the recursive history is folded; the feed-forward history
// empties itself within two samples.

struct FilterKernel {
  static constexpr bool bHasGain = false;
};

// The second-order kernels' history after input x gave output y.
inline void Shift2(Filter& f, double x, double y) {
  f.x2 = f.x1;
  f.x1 = x;
  f.y2 = f.y1;
  f.y1 = FoldState(y);
}

// y = a0·x − b1·y1
struct Filter1FB : FilterKernel {
  static double Calc(Filter& f, double x) {
    double y = f.a0 * x - f.b1 * f.y1;
    f.y1 = FoldState(y);
    return y;
  }
};

// y = a0·x + a1·x1 − b1·y1
struct Filter1 : FilterKernel {
  static double Calc(Filter& f, double x) {
    double y = f.a0 * x + f.a1 * f.x1 - f.b1 * f.y1;
    f.x1 = x;
    f.y1 = FoldState(y);
    return y;
  }
};

// y = a0·x + a1·x1 + a2·x2 − b1·y1 − b2·y2, summed in pairs: when a1 = b1 and a2 = b2 (a peak or
// shelf of gain 1) each pair is exactly 0 and the output is exactly the input.
struct FilterBiQuad : FilterKernel {
  static double Calc(Filter& f, double x) {
    double y = f.a0 * x + (f.a1 * f.x1 - f.b1 * f.y1) + (f.a2 * f.x2 - f.b2 * f.y2);
    Shift2(f, x, y);
    return y;
  }
};

// y = a0·x + a2·x2 − b1·y1 − b2·y2 (no a1 term)
struct FilterBiQuadWithNoA1 : FilterKernel {
  static double Calc(Filter& f, double x) {
    double y = f.a0 * x + f.a2 * f.x2 - f.b1 * f.y1 - f.b2 * f.y2;
    Shift2(f, x, y);
    return y;
  }
};

// The "Modified" kernels mix a recursive part w, run as Filter1 or FilterBiQuadWithNoA1 with w as
// its history, with the dry input: y = c0·w + d0·x.
struct FilterModified1 : FilterKernel {
  static double Calc(Filter& f, double x) { return f.c0 * Filter1::Calc(f, x) + f.d0 * x; }
};

struct FilterModifiedBiQuadNoA1 : FilterKernel {
  static double Calc(Filter& f, double x) { return f.c0 * FilterBiQuadWithNoA1::Calc(f, x) + f.d0 * x; }
};

// y = a0·x − b1·y1 − b2·y2
struct Filter2FB : FilterKernel {
  static double Calc(Filter& f, double x) {
    double y = f.a0 * x - f.b1 * f.y1 - f.b2 * f.y2;
    f.y2 = f.y1;
    f.y1 = FoldState(y);
    return y;
  }
};

// ---- Types: cooking --------------------------------------------------------------------------------
// Notation: R the rate, θ = 2π·f/R, K = tan(π·f/R). Coefficients a type does not write are never read
// by its kernel.

// Low-pass by one feedback pole p, placed so that the gain is exactly −3 dB at f; DC gain 1.
struct LPF1FB : Filter1FB {
  static void Cook(Filter& f, double dFreq, double, double) {
    double c = std::cos(LimitFreq(f, dFreq) * f.dTwoPiOverRate);
    double p = (2 - c) - std::sqrt(Sq(2 - c) - 1);
    f.b1 = -p;
    f.a0 = 1 - p;
  }
};

// The mirror image: pole at −p, −3 dB at f against unity at Nyquist. One pole cannot null DC, so
// this is a gentle high-pass whose DC gain is (1 − p)/(1 + p).
struct HPF1FB : Filter1FB {
  static void Cook(Filter& f, double dFreq, double, double) {
    double c = std::cos(LimitFreq(f, dFreq) * f.dTwoPiOverRate);
    double p = (2 + c) - std::sqrt(Sq(2 + c) - 1);
    f.b1 = p;
    f.a0 = 1 - p;
  }
};

// γ = cos θ / (1 + sin θ), the pole of the first-order bilinear designs.
inline double FirstOrderPole(const Filter& f, double dFreq) {
  double dTheta = LimitFreq(f, dFreq) * f.dTwoPiOverRate;
  return std::cos(dTheta) / (1 + std::sin(dTheta));
}

struct LPF1 : Filter1 {
  static void Cook(Filter& f, double dFreq, double, double) {
    double dGamma = FirstOrderPole(f, dFreq);
    f.a0 = f.a1 = (1 - dGamma) / 2;
    f.b1 = -dGamma;
  }
};

struct HPF1 : Filter1 {
  static void Cook(Filter& f, double dFreq, double, double) {
    double dGamma = FirstOrderPole(f, dFreq);
    f.a0 = (1 + dGamma) / 2;
    f.a1 = -(1 + dGamma) / 2;
    f.b1 = -dGamma;
  }
};

// Analog-matched first-order low-pass: DC gain 1 and, at Nyquist, the analog prototype's gain g1.
struct LPFMassberg1 : Filter1 {
  static void Cook(Filter& f, double dFreq, double, double) {
    dFreq = LimitFreq(f, dFreq);
    double R = f.dRate;
    double g1 = 2 / std::sqrt(Sq(R / dFreq) + 4);
    double gm = std::max(g1, 0.5);
    double s = std::max(std::sqrt(g1), kSqrtHalf);
    double dOmegaM = std::tan(kPi * std::sqrt(1 - gm) * (dFreq / s) / R);
    double dOmegaS = dOmegaM * std::sqrt((gm - g1 * g1) * (1 - gm)) / (1 - gm);
    f.a0 = (dOmegaS + g1) / (dOmegaS + 1);
    f.a1 = (dOmegaS - g1) / (dOmegaS + 1);
    f.b1 = (dOmegaS - 1) / (dOmegaS + 1);
  }
};

// Shared by LPF2 and HPF2: u = 2·sin θ / q (the damping takes 2/q, so q = 2√2 gives a Butterworth
// response), β = ½(1 − u)/(1 + u), γ = (½ + β)·cos θ; b1 = −2γ, b2 = 2β. Answers ½ + β and γ.
struct SecondOrderPoles {
  double dHalfPlusBeta, dGamma;
};
inline SecondOrderPoles CookSecondOrderPoles(Filter& f, double dFreq, double dQ) {
  double dTheta = LimitFreq(f, dFreq) * f.dTwoPiOverRate;
  double u = 2 * std::sin(dTheta) / AtLeast(dQ, 0.001);
  double dBeta = 0.5 * (1 - u) / (1 + u);
  double dGamma = (0.5 + dBeta) * std::cos(dTheta);
  f.b1 = -2 * dGamma;
  f.b2 = 2 * dBeta;
  return {0.5 + dBeta, dGamma};
}

struct LPF2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    SecondOrderPoles p = CookSecondOrderPoles(f, dFreq, dQ);
    f.a1 = p.dHalfPlusBeta - p.dGamma;
    f.a0 = f.a2 = f.a1 / 2;
  }
};

struct HPF2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    SecondOrderPoles p = CookSecondOrderPoles(f, dFreq, dQ);
    f.a1 = -(p.dHalfPlusBeta + p.dGamma);
    f.a0 = f.a2 = (p.dHalfPlusBeta + p.dGamma) / 2;
  }
};

// Analog-matched second-order low-pass (q ≥ 0.5): DC gain 1, the analog prototype's gain g1 at
// Nyquist and close to it elsewhere.
struct LPFMassberg2 : FilterBiQuad {
  // Closer to 1 than this, g1 is moved out to this distance: P and Z below are ratios of two terms
  // that both vanish at g1 = 1 (0/0 there, rounding noise close by), while the ratios have finite
  // limits that this small a step hardly changes.
  static constexpr double kUnityGap = 1e-6;

  static void Cook(Filter& f, double dFreq, double, double dQ) {
    double q = AtLeast(dQ, 0.5);
    double th = LimitFreq(f, dFreq) * f.dTwoPiOverRate;  // θ
    double d = 1 / th;
    double g1 = 2 / std::sqrt(Sq(2 - kTwoPiSquared * d * d) + kFourPiSquared * d * d / (q * q));
    if (std::fabs(g1 - 1) < kUnityGap) g1 = g1 < 1 ? 1 - kUnityGap : 1 + kUnityGap;
    double dOmegaS;
    if (q > kSqrtHalf) {
      double wr = th * std::sqrt(1 - 1 / (2 * q * q));
      if (wr > kMassbergWarn) AKS(AKSTrace, AK_HERE, "reducing dWr");  // reports only; nothing is reduced
      double qp = 2 * q * q / std::sqrt(4 * q * q - 1);
      dOmegaS = std::tan(wr / 2) * std::pow((qp * qp - g1 * g1) / (qp * qp - 1), 0.25);
    } else {
      double wm = th * std::sqrt((std::sqrt((1 - 4 * q * q) / (q * q * q * q) + 4 / g1) + 2 - 1 / (q * q)) / 2);
      if (wm > kMassbergWarn) AKS(AKSTrace, AK_HERE, "reducing dWm");  // reports only; nothing is reduced
      dOmegaS = std::min(std::tan(wm / 2), th * std::pow(1 - g1 * g1, 0.25) / 2);
    }
    double wp = 2 * std::atan(dOmegaS);
    double wz = 2 * std::atan(dOmegaS / std::sqrt(g1));
    double gp = 1 / std::sqrt(Sq(1 - Sq(wp / th)) + Sq(wp / (q * th)));
    double gz = 1 / std::sqrt(Sq(1 - Sq(wz / th)) + Sq(wz / (q * th)));
    double P = std::sqrt(g1 * (gp * gp - gz * gz) / ((g1 + gz * gz) * Sq(g1 - 1)));
    double Z = std::sqrt(g1 * g1 * (gp * gp - gz * gz) / (gz * gz * (g1 + gp * gp) * Sq(g1 - 1)));
    double dOmegaS2 = dOmegaS * dOmegaS;
    double D = dOmegaS2 + dOmegaS / P + 1;
    f.a0 = (dOmegaS2 + std::sqrt(g1) * dOmegaS / Z + g1) / D;
    f.a1 = 2 * (dOmegaS2 - g1) / D;
    f.a2 = (dOmegaS2 - std::sqrt(g1) * dOmegaS / Z + g1) / D;
    f.b1 = 2 * (dOmegaS2 - 1) / D;
    f.b2 = (dOmegaS2 - dOmegaS / P + 1) / D;
  }
};

// Shared by the two Linkwitz types: Ω = π·f, κ = Ω / tan(2θ), δ = (κ + Ω)², and the b1 and b2 both
// have. Taking tan 2θ rather than tan(θ/2) puts the design's −6 dB corner at 4·f. Above rate/8, tan 2θ
// turns negative and both poles leave the unit circle, so f is limited to 0.1225 × rate: the corner
// then stops at 0.49 × rate, the limit every other type has.
struct Linkwitz {
  double dOmega2, dKappa2, dDelta;  // Ω², κ², δ
};
inline Linkwitz CookLinkwitz(Filter& f, double dFreq) {
  dFreq = std::min(LimitFreq(f, dFreq), 0.49 / 4 * f.dRate);
  double dOmega = kPi * dFreq;
  double dKappa = dOmega / std::tan(2 * dFreq * f.dTwoPiOverRate);
  Linkwitz l{dOmega * dOmega, dKappa * dKappa, Sq(dKappa + dOmega)};
  f.b1 = (2 * l.dOmega2 - 2 * l.dKappa2) / l.dDelta;
  f.b2 = (l.dKappa2 + l.dOmega2 - 2 * dKappa * dOmega) / l.dDelta;
  return l;
}

struct LPFLinkwitz2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double) {
    Linkwitz l = CookLinkwitz(f, dFreq);
    f.a0 = f.a2 = l.dOmega2 / l.dDelta;
    f.a1 = 2 * l.dOmega2 / l.dDelta;
  }
};

struct HPFLinkwitz2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double) {
    Linkwitz l = CookLinkwitz(f, dFreq);
    f.a0 = f.a2 = l.dKappa2 / l.dDelta;
    f.a1 = -2 * l.dKappa2 / l.dDelta;
  }
};

inline double TanHalfTheta(const Filter& f, double dFreq) { return std::tan(kPi * LimitFreq(f, dFreq) / f.dRate); }

// Band-pass: its b1 (q·(K² − 2)/δ) differs from the band-stop's, which moves the unit-gain peak to
// tan(ω/2) = K·√(3/(K² + 4)), about 0.87·f at low frequencies.
struct BPF2 : FilterBiQuadWithNoA1 {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    double q = AtLeast(dQ, 0.001);
    double K = TanHalfTheta(f, dFreq);
    double dDelta = K * K * q + K + q;
    f.a0 = K / dDelta;
    f.a1 = 0;
    f.a2 = -K / dDelta;
    f.b1 = 1 - K / dDelta - 3 * q / dDelta;
    f.b2 = 1 - 2 * K / dDelta;
  }
};

struct BCF2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    double q = AtLeast(dQ, 0.001);
    double K = TanHalfTheta(f, dFreq);
    double dDelta = K * K * q + K + q;
    f.a0 = f.a2 = 1 - K / dDelta;
    f.a1 = f.b1 = 2 * q * (K * K - 1) / dDelta;
    f.b2 = 1 - 2 * K / dDelta;
  }
};

// α = (K − 1)/(K + 1), the all-passes' coefficient.
inline double AllPassAlpha(const Filter& f, double dFreq) {
  double K = TanHalfTheta(f, dFreq);
  return (K - 1) / (K + 1);
}

struct APF1 : Filter1 {
  static void Cook(Filter& f, double dFreq, double, double) {
    double dAlpha = AllPassAlpha(f, dFreq);
    f.a0 = dAlpha;
    f.a1 = 1;
    f.b1 = dAlpha;
  }
};

// Second-order all-pass centred on f; its bandwidth also follows f (q is not used).
struct APF2 : FilterBiQuad {
  static void Cook(Filter& f, double dFreq, double, double) {
    double dAlpha = AllPassAlpha(f, dFreq);
    f.a0 = -dAlpha;
    f.a1 = f.b1 = -std::cos(LimitFreq(f, dFreq) * f.dTwoPiOverRate) * (1 - dAlpha);
    f.a2 = 1;
    f.b2 = -dAlpha;
  }
};

// First-order shelves: input plus (μ − 1) times a first-order low- or high-pass whose corner,
// δ = scale·tan(θ/2), moves with the gain μ. Gain 1 makes c0 = 0: the output is the input.
inline double ShelfGain(double dGain) { return AtLeast(dGain, 0.0001); }

inline double FirstOrderShelfPole(Filter& f, double dFreq, double dMu, double dScale) {
  double dDelta = dScale * std::tan(LimitFreq(f, dFreq) * f.dTwoPiOverRate / 2);
  double dGamma = (1 - dDelta) / (1 + dDelta);
  f.b1 = -dGamma;
  f.c0 = dMu - 1;
  f.d0 = 1;
  return dGamma;
}

struct LoShelf1 : FilterModified1 {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double) {
    double dMu = ShelfGain(dGain);
    double dGamma = FirstOrderShelfPole(f, dFreq, dMu, 4 / (1 + dMu));
    f.a0 = f.a1 = (1 - dGamma) / 2;
  }
};

struct HiShelf1 : FilterModified1 {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double) {
    double dMu = ShelfGain(dGain);
    double dGamma = FirstOrderShelfPole(f, dFreq, dMu, (1 + dMu) / 4);
    f.a0 = (1 + dGamma) / 2;
    f.a1 = -(1 + dGamma) / 2;
  }
};

// Second-order shelves over the Butterworth denominator D = 1 + √2·K + K²; cooks b1 and b2 and
// answers the terms the numerators share.
struct SecondOrderShelf {
  double dMu, K, dRoot2MuK, D;  // μ, K, √(2μ)·K, D
};
inline SecondOrderShelf CookSecondOrderShelf(Filter& f, double dFreq, double dGain) {
  SecondOrderShelf s;
  s.dMu = ShelfGain(dGain);
  s.K = TanHalfTheta(f, dFreq);
  s.dRoot2MuK = std::sqrt(2 * s.dMu) * s.K;
  s.D = 1 + kSqrt2 * s.K + s.K * s.K;
  f.b1 = 2 * (s.K * s.K - 1) / s.D;
  f.b2 = (1 - kSqrt2 * s.K + s.K * s.K) / s.D;
  return s;
}

struct LoShelf2 : FilterBiQuad {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double) {
    SecondOrderShelf s = CookSecondOrderShelf(f, dFreq, dGain);
    f.a0 = (1 + s.dRoot2MuK + s.dMu * s.K * s.K) / s.D;
    f.a1 = 2 * (s.dMu * s.K * s.K - 1) / s.D;
    f.a2 = (1 - s.dRoot2MuK + s.dMu * s.K * s.K) / s.D;
  }
};

struct HiShelf2 : FilterBiQuad {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double) {
    SecondOrderShelf s = CookSecondOrderShelf(f, dFreq, dGain);
    f.a0 = (s.dMu + s.dRoot2MuK + s.K * s.K) / s.D;
    f.a1 = 2 * (s.K * s.K - s.dMu) / s.D;
    f.a2 = (s.dMu - s.dRoot2MuK + s.K * s.K) / s.D;
  }
};

// Peak or dip of gain G at f with bandwidth f/q; gain 1 gives a0 = 1, a1 = b1, a2 = b2: the output
// is the input. The gain may be as low as 0 (a notch) but not negative: with G < 0 both poles would
// leave the unit circle, so a negative or NaN gain counts as 0.
struct ParametricConst : FilterBiQuad {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double dQ) {
    double G = AtLeast(dGain, 0);
    double K = TanHalfTheta(f, dFreq);
    double k = K / AtLeast(dQ, 0.001);
    double D = 1 + k + K * K;
    f.a0 = (1 + k * G + K * K) / D;
    f.a1 = f.b1 = 2 * (K * K - 1) / D;
    f.a2 = (1 - k * G + K * K) / D;
    f.b2 = (1 - k + K * K) / D;
  }
};

// Input plus (μ − 1) times a unit-peak band-pass centred on f. q is raised to 4.05·f/R so that
// θ/(2q) stays below π/2 and its tangent finite.
struct ParametricNonConst : FilterModifiedBiQuadNoA1 {
  static constexpr bool bHasGain = true;
  static void Cook(Filter& f, double dFreq, double dGain, double dQ) {
    dFreq = LimitFreq(f, dFreq);
    double q = AtLeast(AtLeast(dQ, 0.001), 4.05 * dFreq / f.dRate);
    double dMu = ShelfGain(dGain);
    double dTheta = dFreq * f.dTwoPiOverRate;
    double t = 4 / (1 + dMu) * std::tan(dTheta / (2 * q));
    double dBeta = 0.5 * (1 - t) / (1 + t);
    double dGamma = (0.5 + dBeta) * std::cos(dTheta);
    f.a0 = 0.5 - dBeta;
    f.a1 = 0;
    f.a2 = -(0.5 - dBeta);
    f.b1 = -2 * dGamma;
    f.b2 = 2 * dBeta;
    f.c0 = dMu - 1;
    f.d0 = 1;
  }
};

// The resonators' poles: radius² b2 = e^(−2π·(f/q)/R), b1 = −4·b2/(1 + b2)·cos θ, which puts the
// peak exactly at f.
inline void CookResonatorPoles(Filter& f, double dFreq, double dQ) {
  dFreq = LimitFreq(f, dFreq);
  f.b2 = std::exp(-(dFreq / AtLeast(dQ, 0.001)) * f.dTwoPiOverRate);
  f.b1 = -4 * f.b2 / (1 + f.b2) * std::cos(dFreq * f.dTwoPiOverRate);
}

// Two poles only, scaled to unit gain at the peak.
struct SimpleResonator : Filter2FB {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    CookResonatorPoles(f, dFreq, dQ);
    // b1²/(4·b2) = 4·b2·cos²θ/(1 + b2)² tends to 0 with b2; when a very wide resonance underflows
    // b2 to 0 the quotient would be 0/0, so it takes its limit.
    double dRatio = f.b2 > 0 ? f.b1 * f.b1 / (4 * f.b2) : 0;
    f.a0 = (1 - f.b2) * std::sqrt(1 - dRatio);
  }
};

// Zeros at DC and Nyquist; close to unit gain at the peak when q is high.
struct ImprovedResonator : FilterBiQuadWithNoA1 {
  static void Cook(Filter& f, double dFreq, double, double dQ) {
    CookResonatorPoles(f, dFreq, dQ);
    f.a0 = 1 - std::sqrt(f.b2);
    f.a2 = -f.a0;
  }
};

// ---- Registration, in keyword order -----------------------------------------------------------------

FilterTemp<LPF1FB> typeLPF1FB("LPF1FB", "Lo-Pass Filter (first-order Feedback-Only)");
FilterTemp<LPF1> typeLPF1("LPF1", "Lo-Pass Filter (first-order)");
FilterTemp<LPFMassberg1> typeLPFMassberg1("LPFMassberg1", "Lo-Pass Filter (first-order Massberg)");
FilterTemp<LPF2> typeLPF2("LPF2", "Lo-Pass Filter (second-order)");
FilterTemp<LPFMassberg2> typeLPFMassberg2("LPFMassberg2", "Lo-Pass Filter (second-order Massberg)");
FilterTemp<LPFLinkwitz2> typeLPFLinkwitz2("LPFLinkwitz2", "Lo-Pass Filter (second-order Linkwitz)");
FilterTemp<HPF1FB> typeHPF1FB("HPF1FB", "Hi-Pass Filter (first-order feedback-only)");
FilterTemp<HPF1> typeHPF1("HPF1", "Hi-Pass Filter (first-order)");
FilterTemp<HPF2> typeHPF2("HPF2", "Hi-Pass Filter (second-order)");
FilterTemp<HPFLinkwitz2> typeHPFLinkwitz2("HPFLinkwitz2", "Hi-Pass Filter (second-order Linkwitz)");
FilterTemp<BPF2> typeBPF2("BPF2", "Band-Pass Filter (second-order)");
FilterTemp<BCF2> typeBCF2("BCF2", "Band-Stop Filter (second-order)");
FilterTemp<APF1> typeAPF1("APF1", "All-Pass Filter (first-order)");
FilterTemp<APF2> typeAPF2("APF2", "All-Pass Filter (second-order)");
FilterTemp<LoShelf1> typeLoShelf1("LoShelf1", "Lo-Shelf (first-order)");
FilterTemp<HiShelf1> typeHiShelf1("HiShelf1", "Hi-Shelf (first-order)");
FilterTemp<LoShelf2> typeLoShelf2("LoShelf2", "Lo-Shelf (second-order)");
FilterTemp<HiShelf2> typeHiShelf2("HiShelf2", "Hi-Shelf (second-order)");
FilterTemp<ParametricConst> typeParametricConst("ParametricConst", "Parametric (constant-Q)");
FilterTemp<ParametricNonConst> typeParametricNonConst("ParametricNonConst", "Parametric (non-constant-Q)");
FilterTemp<SimpleResonator> typeSimpleResonator("SimpleResonator", "Resonator (simple)");
FilterTemp<ImprovedResonator> typeImprovedResonator("ImprovedResonator", "Resonator (improved)");

}  // namespace

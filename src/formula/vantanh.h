// VanTanh: tanh inline for per-sample code, within about an ulp and quicker to its result than the
// C library's.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// A saturating filter chains its tanh calls (each stage's input is the previous stage's tanh), so
// what counts is the time from argument to result, not the calls: the C library's tanh goes
// through expm1 with two divisions in a row. This one takes one path by the size of |x|:
//   |x| < 0.55    x + x·s·Q(s), s = x², Q a near-minimax polynomial (5e-18 relative), no division;
//   |x| < 22      1 − 2/(E + 1), E = exp(2|x|) from a table of 2^(j/128) and a short polynomial;
//   beyond        ±1, as the library gives (and NaN stays NaN).
// The result is within two ulps of the exact tanh, mostly within one, and odd: tanh(−x) = −tanh(x).
//
// VanTanh<true> uses fused multiply-adds (shorter paths, a few results one ulp apart from
// VanTanh<false>) and must be inlined into a function compiled with VAN_TARGET_FUSED, called only
// where VanFusedUsable(). A translation unit that needs the arithmetic around it unchanged is
// compiled with -ffp-contract=off: inside a VAN_TARGET_FUSED function the compiler would otherwise
// fuse that too.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VAN_TARGET_FUSED __attribute__((target("fma,avx2")))
#define VAN_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define VAN_TARGET_FUSED
#define VAN_ALWAYS_INLINE inline
#endif

// True where the processor has FMA and AVX2, so that VanTanh<true> may run.
bool VanFusedUsable();

namespace vantanh {

// a·b + c: rounded once in the fused build.
template <bool bFused>
VAN_ALWAYS_INLINE double MulAdd(double a, double b, double c) {
  if constexpr (bFused)
    return __builtin_fma(a, b, c);
  else
    return a * b + c;
}

constexpr double kPolyEnd = 0.55;  // from here 1 − q has q <= 1/2, so its rounding stays within an ulp
constexpr double kOne = 22;        // tanh rounds to 1 well before; the C library's cut

// tanh(x)/x − 1 = s·Q(s) on s = x² in [0, 0.55²]: coefficients of s^0 ... s^10.
constexpr double kQ0 = -0x1.5555555555555p-2, kQ1 = 0x1.1111111111032p-3, kQ2 = -0x1.ba1ba1b9fec84p-5,
                 kQ3 = 0x1.664f487713373p-6, kQ4 = -0x1.226e32f00cf0cp-7, kQ5 = 0x1.d6d339333f329p-9,
                 kQ6 = -0x1.7d97cfd138c28p-10, kQ7 = 0x1.34c5a8a996cd4p-11, kQ8 = -0x1.ec1091436eb2ap-13,
                 kQ9 = 0x1.64fd88e9900a5p-14, kQ10 = -0x1.59a834187ce22p-16;

// exp(y) = 2^(n/128) · exp(r), n = round(y·128/ln2), |r| <= ln2/256.
constexpr int kTableBits = 7;
extern const double adExp2Table[1 << kTableBits];  // 2^(j/128), j = 0 ... 127
constexpr double kShift = 0x1.8p52;  // y·128/ln2 + kShift rounds to an integer held in the low bits
constexpr double kInvStep = 0x1.71547652b82fep+7;  // 128/ln2
// ln2/128 in two parts: n·kStepHi is exact for n < 2^13 (its 40 bits), kStepLo is the rest.
constexpr double kStepHi = 0x1.62e42fefa4000p-8, kStepLo = -0x1.8432a1b0e2634p-50;

// tanh(a) for a = |x| in [kPolyEnd, kOne).
template <bool bFused>
VAN_ALWAYS_INLINE double TanhByExp(double a) {
  const double y = a + a;
  const double dRounded = MulAdd<bFused>(y, kInvStep, kShift);
  const double dN = dRounded - kShift;
  const uint64_t uN = std::bit_cast<uint64_t>(dRounded);  // n in the low bits; n < 2^13
  double r = MulAdd<bFused>(-dN, kStepHi, y);
  r = MulAdd<bFused>(-dN, kStepLo, r);
  // exp(r) − 1 to degree 5: the next term is below 6e-19 for |r| <= ln2/256.
  const double r2 = r * r;
  const double p = MulAdd<bFused>(
      r2, MulAdd<bFused>(r2, MulAdd<bFused>(r, 1.0 / 120, 1.0 / 24), MulAdd<bFused>(r, 1.0 / 6, 0.5)), r);
  // 2^(n/128): the table's entry with n/128's integer part added to its exponent.
  const uint64_t uScale = std::bit_cast<uint64_t>(adExp2Table[uN & ((1 << kTableBits) - 1)]) +
                          ((uN >> kTableBits) << 52);
  const double dScale = std::bit_cast<double>(uScale);
  const double e = MulAdd<bFused>(dScale, p, dScale);
  return 1.0 - 2.0 / (e + 1.0);
}

// tanh(a) for a = |x| < kPolyEnd: powers of s side by side so the chain stays short.
template <bool bFused>
VAN_ALWAYS_INLINE double TanhByPolynomial(double a) {
  const double s = a * a, s2 = s * s, s4 = s2 * s2, s8 = s4 * s4;
  const double q01 = MulAdd<bFused>(kQ1, s, kQ0), q23 = MulAdd<bFused>(kQ3, s, kQ2);
  const double q45 = MulAdd<bFused>(kQ5, s, kQ4), q67 = MulAdd<bFused>(kQ7, s, kQ6);
  const double q89 = MulAdd<bFused>(kQ9, s, kQ8);
  const double q03 = MulAdd<bFused>(q23, s2, q01), q47 = MulAdd<bFused>(q67, s2, q45);
  const double q810 = MulAdd<bFused>(kQ10, s2, q89);
  const double q = MulAdd<bFused>(q810, s8, MulAdd<bFused>(q47, s4, q03));
  return MulAdd<bFused>(a * s, q, a);
}

}  // namespace vantanh

template <bool bFused>
VAN_ALWAYS_INLINE double VanTanh(double x) {
  const double a = std::fabs(x);
  double z;
  if (a < vantanh::kPolyEnd)
    z = vantanh::TanhByPolynomial<bFused>(a);  // computed on |x| so that tanh(−0) is −0
  else if (a < vantanh::kOne)
    z = vantanh::TanhByExp<bFused>(a);
  else
    return std::isnan(x) ? x + x : std::copysign(1.0, x);
  return std::copysign(z, x);
}

// VanTanh: tanh inline for per-sample code, within about an ulp and quicker to its result than the
// C library's.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// A saturating filter chains its tanh calls (each stage's input is the previous stage's tanh), so
// what counts is the time from argument to result, not the calls: the C library's tanh goes
// through expm1 with two divisions in a row. This one takes one path by the size of |x|:
//   |x| < 1       x + x·s·Q(s), s = x², Q a near-minimax polynomial (1e-17 relative), no division;
//   |x| < 22      1 − 2/(E + 1), E = exp(2|x|) from a table of 2^(j/128) and a short polynomial;
//   beyond        ±1, as the library gives (and NaN stays NaN).
// The result is within two ulps of the exact tanh (1.4 at worst where measured), and odd.
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
    return std::fma(a, b, c);  // one instruction where VAN_TARGET_FUSED holds
  else
    return a * b + c;
}

constexpr double kPolyEnd = 1;  // from here 1 − q has q < 1/4, so its rounding stays within an ulp
constexpr double kOne = 22;     // tanh rounds to 1 well before; the C library's cut

// tanh(x)/x − 1 = s·Q(s) on s = x² in [0, 1]: coefficients of s^0 ... s^15, a Chebyshev fit
// (5e-18; 1e-17 relative with the coefficients rounded). Sixteen take no longer than eleven: the
// powers up to s^8 are needed either way.
constexpr double kQ[16] = {-0x1.5555555555555p-2, 0x1.11111111110b9p-3,  -0x1.ba1ba1ba1453ep-5, 0x1.664f4880d2a47p-6,
                           -0x1.226e3519865dfp-7, 0x1.d6d3c538d0bbep-9,  -0x1.7da2bdc3daa27p-10, 0x1.3551ae34bdfffp-11,
                           -0x1.f5211730ee038p-13, 0x1.94981e5bdbe6fp-14, -0x1.42090e21d3d28p-15, 0x1.ea19b73b128d8p-17,
                           -0x1.4eb911dcd9788p-18, 0x1.7238a0a7e22b6p-20, -0x1.1ab979c0ab58cp-22, 0x1.b028f6cb72ebfp-26};

// exp(y) = 2^(n/128) · exp(r), n = round(y·128/ln2), |r| <= ln2/256.
constexpr int kTableBits = 7;
extern const double adExp2Table[1 << kTableBits];  // 2^(j/128), j = 0 ... 127
constexpr double kShift = 0x1.8p52;  // y·128/ln2 + kShift rounds to an integer held in the low bits
constexpr double kInvStep = 0x1.71547652b82fep+7;  // 128/ln2
// ln2/128 in two parts. Unfused, n·kStepHi is exact for n < 2^13 (its 40 bits) and kStepLo comes off
// r before the polynomial. Fused, the first product needs no exactness, the nearest double leaves a
// rest below 2e-15 after n steps, and that joins r only in the polynomial's linear term (what the
// square misses of it is below 5e-18 relative).
constexpr double kStepHi = 0x1.62e42fefa4000p-8, kStepLo = -0x1.8432a1b0e2634p-50;
constexpr double kStepHiFused = 0x1.62e42fefa39efp-8, kStepLoFused = 0x1.abc9e3b39803fp-63;

// tanh(a) for a = |x| in [kPolyEnd, kOne): 1 − 2/(E + 1), E = exp(2a) = 2^(n/128)·(1 + p).
template <bool bFused>
VAN_ALWAYS_INLINE double TanhByExp(double a) {
  const double y = a + a;
  const double dRounded = MulAdd<bFused>(a, 2 * kInvStep, kShift);  // from a, not y: one step less
  const double dN = dRounded - kShift;
  const uint64_t uN = std::bit_cast<uint64_t>(dRounded);  // n in the low bits; n < 2^13
  double r, rLinear;
  if constexpr (bFused) {
    r = MulAdd<true>(-dN, kStepHiFused, y);
    rLinear = MulAdd<true>(-dN, kStepLoFused, r);
  } else {
    r = MulAdd<false>(-dN, kStepHi, y);
    r = rLinear = MulAdd<false>(-dN, kStepLo, r);
  }
  // exp(r) − 1 to degree 5: the next term is below 6e-19 for |r| <= ln2/256.
  const double r2 = r * r;
  const double p = MulAdd<bFused>(
      r2, MulAdd<bFused>(r2, MulAdd<bFused>(r, 1.0 / 120, 1.0 / 24), MulAdd<bFused>(r, 1.0 / 6, 0.5)), rLinear);
  // 2^(n/128): the table's entry with n/128's integer part added to its exponent.
  const uint64_t uScale = std::bit_cast<uint64_t>(adExp2Table[uN & ((1 << kTableBits) - 1)]) +
                          ((uN >> kTableBits) << 52);
  const double dScale = std::bit_cast<double>(uScale);
  return 1.0 - 2.0 / (MulAdd<bFused>(dScale, p, dScale) + 1.0);
}

// tanh(x) for |x| < kPolyEnd, x not 0: odd in x as it stands, so no sign to take off and put back;
// the powers of s side by side keep the chain short.
template <bool bFused>
VAN_ALWAYS_INLINE double TanhByPolynomial(double x) {
  const double s = x * x, s2 = s * s, s4 = s2 * s2, s8 = s4 * s4;
  // Pairs, fours and eights of coefficients (Estrin's scheme), spelled out: as loops the compiler
  // packs them into vectors and back through memory, which costs more than it saves.
  const double q0 = MulAdd<bFused>(kQ[1], s, kQ[0]), q2 = MulAdd<bFused>(kQ[3], s, kQ[2]);
  const double q4 = MulAdd<bFused>(kQ[5], s, kQ[4]), q6 = MulAdd<bFused>(kQ[7], s, kQ[6]);
  const double q8 = MulAdd<bFused>(kQ[9], s, kQ[8]), q10 = MulAdd<bFused>(kQ[11], s, kQ[10]);
  const double q12 = MulAdd<bFused>(kQ[13], s, kQ[12]), q14 = MulAdd<bFused>(kQ[15], s, kQ[14]);
  const double q03 = MulAdd<bFused>(q2, s2, q0), q47 = MulAdd<bFused>(q6, s2, q4);
  const double q811 = MulAdd<bFused>(q10, s2, q8), q1215 = MulAdd<bFused>(q14, s2, q12);
  const double q07 = MulAdd<bFused>(q47, s4, q03), q815 = MulAdd<bFused>(q1215, s4, q811);
  return MulAdd<bFused>(x * s, MulAdd<bFused>(q815, s8, q07), x);
}

}  // namespace vantanh

template <bool bFused>
VAN_ALWAYS_INLINE double VanTanh(double x) {
  const double a = std::fabs(x);
  if (a < vantanh::kPolyEnd) {
    if (x == 0) return x;  // ±0 as it came: x + x·s·q would make −0 into +0
    return vantanh::TanhByPolynomial<bFused>(x);
  }
  if (a < vantanh::kOne) return std::copysign(vantanh::TanhByExp<bFused>(a), x);
  return std::isnan(x) ? x + x : std::copysign(1.0, x);
}

// VanTanh: tanh inline, bit for bit the result of the C library's tanh on x86-64, for per-sample code.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// The C library computes tanh through expm1 in two out-of-line calls (the second through a jump
// chosen at load time); a saturating filter calls it several times per sample. This is the same
// computation (the classic fdlibm tanh and expm1: argument reduction by ln2 split in a high and a
// low part, a rational approximation on [-ln2/2, ln2/2], the reconstruction), operation for
// operation, inline, so the results are the same bits and no sound changes.
//
// The library has two builds of expm1 and picks one when it loads: on a processor with FMA and
// AVX2 the compiler fused some of its multiply-adds, elsewhere none. VanTanh<true> fuses exactly
// those and must be inlined into a function compiled with VAN_TARGET_FUSED; VanTanh<false> fuses
// none. VanFusedUsable() says which of the two the library uses here. A translation unit using
// either must be compiled with -ffp-contract=off, so that the compiler fuses nothing on its own.
//
// Where this is not x86-64 with a GNU-style compiler, VAN_TANH_INLINE is 0 and VanTanh is std::tanh.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VAN_TANH_INLINE 1
#define VAN_TARGET_FUSED __attribute__((target("fma,avx2")))
#define VAN_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define VAN_TANH_INLINE 0
#define VAN_TARGET_FUSED
#define VAN_ALWAYS_INLINE inline
#endif

// True where the library's tanh uses its fused build (and VanTanh<true> is the one to call).
bool VanFusedUsable();

namespace vantanh {

inline uint32_t HighWord(double d) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(d) >> 32); }
// d times 2^k, by adding k to the exponent field (d is near 1, so nothing over- or underflows).
inline double AddExponent(double d, int k) {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(d) + (static_cast<uint64_t>(static_cast<int64_t>(k)) << 52));
}
inline double FromHighWord(uint32_t u) { return std::bit_cast<double>(static_cast<uint64_t>(u) << 32); }

// a·b + c, rounded once where the library's fused build rounds once.
template <bool bFused>
VAN_ALWAYS_INLINE double MulAdd(double a, double b, double c) {
  if constexpr (bFused)
    return __builtin_fma(a, b, c);
  else
    return a * b + c;
}

// ln2 in two parts: k·kLn2Hi is exact for |k| < 2^11; kLn2Lo is the rest.
constexpr double kLn2Hi = 6.93147180369123816490e-01;  // 0x3fe62e42 fee00000
constexpr double kLn2Lo = 1.90821492927058770002e-10;  // 0x3dea39ef 35793c76
constexpr double kInvLn2 = 1.44269504088896338700e+00;
// The approximation's coefficients, scaled: expm1 on [-ln2/2, ln2/2] from x·x/2 (the library's).
constexpr double kQ1 = -3.33333333333331316428e-02, kQ2 = 1.58730158725481460165e-03,
                 kQ3 = -7.93650757867487942473e-05, kQ4 = 4.00821782732936239552e-06,
                 kQ5 = -2.01099218183624371326e-07;

// expm1(x) for the arguments tanh passes: 2^-54 <= |x| < 44.
template <bool bFused>
VAN_ALWAYS_INLINE double Expm1(double x) {
  const uint32_t hx = HighWord(x) & 0x7fffffff;
  const bool bNeg = x < 0;
  // Reduce: x = k·ln2 + r, |r| <= ln2/2, with r carried as x (rounded) and c (its rounding error).
  int k = 0;
  double c = 0;
  if (hx > 0x3fd62e42) {  // |x| > ln2/2
    double hi, lo;
    if (hx < 0x3ff0a2b2) {  // |x| < 3·ln2/2: k is ±1
      k = bNeg ? -1 : 1;
      hi = bNeg ? x + kLn2Hi : x - kLn2Hi;
      lo = bNeg ? -kLn2Lo : kLn2Lo;
    } else {
      k = static_cast<int>(kInvLn2 * x + (bNeg ? -0.5 : 0.5));
      const double t = k;
      hi = MulAdd<bFused>(-t, kLn2Hi, x);
      lo = t * kLn2Lo;
    }
    x = hi - lo;
    c = (hi - x) - lo;
  }
  // The rational approximation on the reduced argument.
  const double hfx = 0.5 * x;
  const double hxs = x * hfx;
  const double r1a = MulAdd<bFused>(hxs, kQ1, 1.0);
  const double h2 = hxs * hxs;
  const double r2 = MulAdd<bFused>(hxs, kQ3, kQ2);
  const double h4 = h2 * h2;
  const double r3 = MulAdd<bFused>(hxs, kQ5, kQ4);
  const double r1 = MulAdd<bFused>(h4, r3, MulAdd<bFused>(h2, r2, r1a));
  double t = MulAdd<bFused>(-r1, hfx, 3.0);
  double e = hxs * ((r1 - t) / MulAdd<bFused>(-x, t, 6.0));
  if (k == 0) return x - MulAdd<bFused>(e, x, -hxs);
  // Reconstruct 2^k·(1 + expm1(r)) − 1 with the rounding error c folded in.
  e = MulAdd<bFused>(e - c, x, -c);
  e -= hxs;
  if (k == -1) return MulAdd<bFused>(x - e, 0.5, -0.5);
  if (k == 1) return x < -0.25 ? -2.0 * (e - (x + 0.5)) : MulAdd<bFused>(x - e, 2.0, 1.0);
  if (k <= -2 || k > 56) return AddExponent(1.0 - (e - x), k) - 1.0;
  if (k < 20) return AddExponent(FromHighWord(0x3ff00000 - (0x200000 >> k)) - (e - x), k);  // 1 − 2^-k
  return AddExponent(x - (e + FromHighWord((0x3ff - k) << 20)) + 1.0, k);                   // 2^-k
}

}  // namespace vantanh

// tanh(x), the same bits as the C library's.
template <bool bFused>
VAN_ALWAYS_INLINE double VanTanh(double x) {
#if VAN_TANH_INLINE
  const uint64_t u = std::bit_cast<uint64_t>(x);
  const uint32_t ix = static_cast<uint32_t>(u >> 32) & 0x7fffffff;
  if (ix >= 0x40360000) return std::tanh(x);  // |x| >= 22, infinite or NaN: ±1 or NaN, rarely
  if ((u << 1) == 0) return x;                  // ±0
  if (ix < 0x3c800000) return x * (1.0 + x);   // |x| < 2^-55
  const double a = std::fabs(x);
  double z;
  if (ix >= 0x3ff00000) {  // |x| >= 1
    const double t = vantanh::Expm1<bFused>(a + a);
    z = 1.0 - 2.0 / (t + 2.0);
  } else {
    const double t = vantanh::Expm1<bFused>(-2.0 * a);
    z = -t / (t + 2.0);
  }
  return static_cast<int64_t>(u) >= 0 ? z : -z;
#else
  return std::tanh(x);
#endif
}

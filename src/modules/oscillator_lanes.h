// The steps of the oscillators' computation four to an AVX2 vector, each lane rounding as the
// scalar step does. Every function here is inlined into one compiled with VAN_TARGET_FUSED and
// called only where VanFusedUsable(); a file that includes this is compiled with
// -ffp-contract=off, since the compiler would otherwise fuse a multiply and an add of vectors that
// the scalar code rounds apart.
#pragma once

#include "formula/vanmath.h"
#include "formula/vantanh.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cfloat>

namespace osclanes {

#define VAN_LANES VAN_TARGET_FUSED VAN_ALWAYS_INLINE
using Vec = __m256d;

VAN_LANES Vec Set(double d) { return _mm256_set1_pd(d); }
VAN_LANES Vec Add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
VAN_LANES Vec Sub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
VAN_LANES Vec Mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
VAN_LANES Vec Div(Vec a, Vec b) { return _mm256_div_pd(a, b); }
VAN_LANES Vec And(Vec a, Vec b) { return _mm256_and_pd(a, b); }
VAN_LANES Vec AndNot(Vec a, Vec b) { return _mm256_andnot_pd(a, b); }  // ~a & b
// The comparisons as C writes them: ordered ones are false for NaN, != is true for it.
VAN_LANES Vec Lt(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
VAN_LANES Vec Le(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
VAN_LANES Vec Gt(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
VAN_LANES Vec Ge(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
VAN_LANES Vec Eq(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
VAN_LANES Vec Ne(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
// Lanes where the mask is set from b, the others from a.
VAN_LANES Vec Select(Vec mask, Vec a, Vec b) { return _mm256_blendv_pd(a, b, mask); }
VAN_LANES bool Any(Vec mask) { return _mm256_movemask_pd(mask) != 0; }
VAN_LANES Vec Abs(Vec x) { return _mm256_andnot_pd(Set(-0.0), x); }
VAN_LANES Vec Trunc(Vec x) { return _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }

// Four rows of four doubles as four vectors of one column each, and back: lane k of column j is
// element j of row k.
VAN_LANES void Transpose(Vec av[4]) {
  const Vec t0 = _mm256_unpacklo_pd(av[0], av[1]), t1 = _mm256_unpackhi_pd(av[0], av[1]);
  const Vec t2 = _mm256_unpacklo_pd(av[2], av[3]), t3 = _mm256_unpackhi_pd(av[2], av[3]);
  av[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  av[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  av[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  av[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}
VAN_LANES void LoadColumns(const double* pd0, const double* pd1, const double* pd2, const double* pd3, Vec av[4]) {
  av[0] = _mm256_loadu_pd(pd0);
  av[1] = _mm256_loadu_pd(pd1);
  av[2] = _mm256_loadu_pd(pd2);
  av[3] = _mm256_loadu_pd(pd3);
  Transpose(av);
}
VAN_LANES void StoreColumns(double* pd0, double* pd1, double* pd2, double* pd3, const Vec avColumn[4]) {
  Vec av[4] = {avColumn[0], avColumn[1], avColumn[2], avColumn[3]};
  Transpose(av);
  _mm256_storeu_pd(pd0, av[0]);
  _mm256_storeu_pd(pd1, av[1]);
  _mm256_storeu_pd(pd2, av[2]);
  _mm256_storeu_pd(pd3, av[3]);
}

// FracSigned lane by lane.
VAN_LANES Vec FracSigned(Vec x) { return Select(Lt(Abs(x), Set(1)), Sub(x, Trunc(x)), Add(x, _mm256_setzero_pd())); }

// ad[i] lane by lane (the masked form, since the plain one reads an undefined vector).
VAN_LANES Vec Gather(const double* ad, __m128i i) {
  return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), ad, i, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
}

// TableSin lane by lane, for x in 0..1 (what the sine's halves give): the 32-bit phase is the low
// half of the truncated x·2^32, which the mantissa of that number plus 2^52 holds as it stands.
VAN_LANES Vec TableSin(Vec x) {
  const __m256i uWide = _mm256_castpd_si256(Add(Trunc(Mul(x, Set(4294967296.0))), Set(0x1p52)));
  const __m128i u = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(uWide, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
  const __m128i i = _mm_srli_epi32(u, VanSineFractionBits);
  const Vec dFraction = _mm256_cvtepi32_pd(_mm_and_si128(u, _mm_set1_epi32(static_cast<int>(VanSineFractionMask))));
  return Add(Mul(Gather(VanSlopeTable, i), dFraction), Gather(VanSineTable, i));
}

}  // namespace osclanes
#endif

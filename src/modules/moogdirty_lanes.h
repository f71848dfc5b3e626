// "MoogDirty" ladders four to an AVX2 vector, each lane bit for bit the fused step of its ladder alone.
#pragma once

#include "modules/moogdirty_step.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cfloat>
#include <cstdint>

// Every function here is inlined into one compiled with VAN_TARGET_FUSED and called only where
// VanFusedUsable(). A vector add, multiply, fused multiply-add or division rounds each lane as the
// scalar instruction does, so the same operations in the same order give the same bits; branches
// become blends, each side computed for all lanes where any lane takes it. As with the scalar
// step, a file that includes this is compiled with -ffp-contract=off: the compiler would fuse a
// multiply and an add of vectors too.
#define VAN_LANES VAN_TARGET_FUSED VAN_ALWAYS_INLINE

namespace moogdirty::lanes {

using Vec = __m256d;

VAN_LANES Vec Set(double d) { return _mm256_set1_pd(d); }
VAN_LANES Vec SignBits() { return _mm256_set1_pd(-0.0); }
// Lanes where the mask is set from b, the others from a.
VAN_LANES Vec Select(Vec mask, Vec a, Vec b) { return _mm256_blendv_pd(a, b, mask); }
VAN_LANES bool Any(Vec mask) { return _mm256_movemask_pd(mask) != 0; }

// copysign(m, x) lane by lane.
VAN_LANES Vec CopySign(Vec m, Vec x) {
  return _mm256_or_pd(_mm256_andnot_pd(SignBits(), m), _mm256_and_pd(SignBits(), x));
}

// FoldState lane by lane: ordered comparisons are false for NaN, so NaN folds to 0 with the rest.
VAN_LANES Vec Fold(Vec d) {
  const Vec a = _mm256_andnot_pd(SignBits(), d);
  const Vec keep = _mm256_cmp_pd(a, Set(DBL_MIN), _CMP_GE_OQ);
  return _mm256_and_pd(d, _mm256_and_pd(keep, _mm256_cmp_pd(a, Set(DBL_MAX), _CMP_LE_OQ)));
}

// vantanh::TanhByPolynomial<true>, the same operations in the same order.
VAN_LANES Vec TanhByPolynomial(Vec x) {
  using vantanh::kQ;
  const Vec s = _mm256_mul_pd(x, x), s2 = _mm256_mul_pd(s, s), s4 = _mm256_mul_pd(s2, s2), s8 = _mm256_mul_pd(s4, s4);
  Vec q[8];  // q[j]: the pair of coefficients 2j and 2j + 1
  for (int j = 0; j < 8; ++j) q[j] = _mm256_fmadd_pd(Set(kQ[2 * j + 1]), s, Set(kQ[2 * j]));
  const Vec q03 = _mm256_fmadd_pd(q[1], s2, q[0]), q47 = _mm256_fmadd_pd(q[3], s2, q[2]);
  const Vec q811 = _mm256_fmadd_pd(q[5], s2, q[4]), q1215 = _mm256_fmadd_pd(q[7], s2, q[6]);
  const Vec q07 = _mm256_fmadd_pd(q47, s4, q03), q815 = _mm256_fmadd_pd(q1215, s4, q811);
  return _mm256_fmadd_pd(_mm256_mul_pd(x, s), _mm256_fmadd_pd(q815, s8, q07), x);
}

// vantanh::TanhByExp<true> of a = |x|. Lanes outside [1, 22) compute nonsense that is never
// selected; their table index is still within the table.
VAN_LANES Vec TanhByExp(Vec a) {
  using namespace vantanh;
  const Vec y = _mm256_add_pd(a, a);
  const Vec dRounded = _mm256_fmadd_pd(a, Set(2 * kInvStep), Set(kShift));
  const Vec dN = _mm256_sub_pd(dRounded, Set(kShift));
  // fma(−n, c, y) and −(n·c) + y round the same exact value once.
  const Vec r = _mm256_fnmadd_pd(dN, Set(kStepHiFused), y);
  const Vec rLinear = _mm256_fnmadd_pd(dN, Set(kStepLoFused), r);
  const Vec r2 = _mm256_mul_pd(r, r);
  const Vec p45 = _mm256_fmadd_pd(r, Set(1.0 / 120), Set(1.0 / 24)), p23 = _mm256_fmadd_pd(r, Set(1.0 / 6), Set(0.5));
  const Vec p = _mm256_fmadd_pd(r2, _mm256_fmadd_pd(r2, p45, p23), rLinear);
  const __m256i uN = _mm256_castpd_si256(dRounded);
  const __m256i iEntry = _mm256_and_si256(uN, _mm256_set1_epi64x((1 << kTableBits) - 1));
  const __m256i uEntry = _mm256_castpd_si256(_mm256_i64gather_pd(adExp2Table, iEntry, 8));
  const __m256i uExponent = _mm256_slli_epi64(_mm256_srli_epi64(uN, kTableBits), 52);
  const Vec dScale = _mm256_castsi256_pd(_mm256_add_epi64(uEntry, uExponent));
  const Vec dE1 = _mm256_add_pd(_mm256_fmadd_pd(dScale, p, dScale), Set(1.0));
  return _mm256_sub_pd(Set(1.0), _mm256_div_pd(Set(2.0), dE1));
}

// VanTanh<true> lane by lane, its branches as blends. Every result but NaN's has x's sign, so the
// sign is put once on the chosen magnitude: the exponential's and 1 need it, the polynomial's has
// it already (its magnitude stays above 3/4 of |x|), and for ±0, where the polynomial gives +0, it
// brings back x itself.
// A method no lane takes is skipped: the four arguments are often all below 1 or all above.
VAN_LANES Vec Tanh(Vec x) {
  const Vec a = _mm256_andnot_pd(SignBits(), x);
  const Vec poly = _mm256_cmp_pd(a, Set(vantanh::kPolyEnd), _CMP_LT_OQ);
  const Vec near = _mm256_cmp_pd(a, Set(vantanh::kOne), _CMP_LT_OQ);
  Vec m = Set(1.0);
  if (Any(_mm256_andnot_pd(poly, near))) m = Select(near, m, TanhByExp(a));
  if (Any(poly)) m = Select(poly, m, TanhByPolynomial(x));
  return Select(_mm256_cmp_pd(x, x, _CMP_UNORD_Q), CopySign(m, x), _mm256_add_pd(x, x));
}

// Four ladders' quantity q (ady, adW or adD) as one vector per stage, lane k from ladder k: two
// halves per vector loaded, then interleaved.
using Quantity = double (MoogDirtyLadder::*)[MoogDirtyLadder::Stages];
static_assert(MoogDirtyLadder::Stages == 4, "a ladder's stages are loaded in pairs, four ladders to a vector");

VAN_LANES Vec Halves(MoogDirtyLadder* pLow, MoogDirtyLadder* pHigh, Quantity q, int i) {
  return _mm256_set_m128d(_mm_loadu_pd(&(pHigh->*q)[i]), _mm_loadu_pd(&(pLow->*q)[i]));
}
VAN_LANES void Load(MoogDirtyLadder* const apl[], Quantity q, Vec av[4]) {
  for (int i = 0; i < 4; i += 2) {
    const Vec v02 = Halves(apl[0], apl[2], q, i), v13 = Halves(apl[1], apl[3], q, i);
    av[i] = _mm256_unpacklo_pd(v02, v13);
    av[i + 1] = _mm256_unpackhi_pd(v02, v13);
  }
}
VAN_LANES void Store(MoogDirtyLadder* const apl[], Quantity q, const Vec av[4]) {
  for (int i = 0; i < 4; i += 2) {
    const Vec v02 = _mm256_unpacklo_pd(av[i], av[i + 1]), v13 = _mm256_unpackhi_pd(av[i], av[i + 1]);
    _mm_storeu_pd(&(apl[0]->*q)[i], _mm256_castpd256_pd128(v02));
    _mm_storeu_pd(&(apl[2]->*q)[i], _mm256_extractf128_pd(v02, 1));
    _mm_storeu_pd(&(apl[1]->*q)[i], _mm256_castpd256_pd128(v13));
    _mm_storeu_pd(&(apl[3]->*q)[i], _mm256_extractf128_pd(v13, 1));
  }
}

// One sample of 4·NV ladders, NV vectors side by side so that their chains overlap: lane k of
// vector v is ladder 4v + k, stepped exactly as Step<true, 1> steps it alone.
template <int NV>
VAN_LANES void Step(MoogDirtyLadder* const apladder[], const double adDrive[], double T, const double af[]) {
  constexpr int kStages = MoogDirtyLadder::Stages;
  Vec y[NV][kStages], W[NV][kStages], D[NV][kStages], dInc[NV], f[NV];
  for (int v = 0; v < NV; ++v) {
    MoogDirtyLadder* const* apl = apladder + 4 * v;
    Load(apl, &MoogDirtyLadder::ady, y[v]);
    Load(apl, &MoogDirtyLadder::adW, W[v]);
    Load(apl, &MoogDirtyLadder::adD, D[v]);
    f[v] = _mm256_loadu_pd(af + 4 * v);
    // The input stage's tanh, kept where its argument is the last one, as each ladder decides alone.
    alignas(32) double adDriven[4];
    alignas(32) int64_t aiChanged[4];
    for (int k = 0; k < 4; ++k) {
      adDriven[k] = apl[k]->dDriven;
      aiChanged[k] = apl[k]->drivenArg.Same(adDrive[4 * v + k]) ? 0 : -1;
    }
    Vec driven = _mm256_load_pd(adDriven);
    const Vec changed = _mm256_castsi256_pd(_mm256_load_si256(reinterpret_cast<const __m256i*>(aiChanged)));
    if (Any(changed)) {
      driven = Select(changed, driven, Tanh(_mm256_loadu_pd(adDrive + 4 * v)));
      _mm256_store_pd(adDriven, driven);
      for (int k = 0; k < 4; ++k) apl[k]->dDriven = adDriven[k];
    }
    dInc[v] = _mm256_mul_pd(_mm256_sub_pd(driven, W[v][0]), f[v]);
  }
  const Vec vT = Set(T), vScale = Set(kScale), zero = _mm256_setzero_pd();
#pragma GCC unroll 4
  for (int i = 0; i < kStages; ++i) {
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) {
      if (i > 0) dInc[v] = _mm256_mul_pd(_mm256_sub_pd(W[v][i - 1], W[v][i]), f[v]);
      const Vec yOld = y[v][i];
      const Vec yNew = _mm256_add_pd(yOld, _mm256_mul_pd(_mm256_add_pd(dInc[v], D[v][i]), vT));
      y[v][i] = Fold(yNew);
      D[v][i] = Fold(dInc[v]);
      // W where y changed: tanh(k·y), or +0 where y folded to 0, as the scalar step writes them.
      const Vec changed = _mm256_cmp_pd(y[v][i], yOld, _CMP_NEQ_UQ);
      const Vec nonzero = _mm256_cmp_pd(y[v][i], zero, _CMP_NEQ_UQ);
      Vec t = zero;
      if (Any(_mm256_and_pd(changed, nonzero))) t = _mm256_and_pd(nonzero, Tanh(_mm256_mul_pd(vScale, yNew)));
      W[v][i] = Select(changed, W[v][i], t);
    }
  }
  for (int v = 0; v < NV; ++v) {
    Store(apladder + 4 * v, &MoogDirtyLadder::ady, y[v]);
    Store(apladder + 4 * v, &MoogDirtyLadder::adW, W[v]);
    Store(apladder + 4 * v, &MoogDirtyLadder::adD, D[v]);
  }
}

}  // namespace moogdirty::lanes
#else
namespace moogdirty::lanes {

// Without x86 vectors (where VanFusedUsable() is false anyway) the ladders go side by side.
template <int NV>
inline void Step(MoogDirtyLadder* const apladder[], const double adDrive[], double T, const double af[]) {
  moogdirty::Step<true, 4 * NV>(apladder, adDrive, T, af);
}

}  // namespace moogdirty::lanes
#endif

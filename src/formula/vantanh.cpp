// Which of VanTanh's two builds gives the C library's results on this machine.
#include "formula/vantanh.h"

namespace {

#if VAN_TANH_INLINE
VAN_TARGET_FUSED double TanhFused(double x) { return VanTanh<true>(x); }
#endif

}  // namespace

bool VanFusedUsable() {
#if VAN_TANH_INLINE
  // The library uses its fused build where FMA and AVX2 are usable, unless told otherwise (glibc's
  // tunables can mask them): where it is the C library known here, ask it. Its two builds differ at
  // 0.0793 (by one ulp); volatile keeps the compiler from folding the call into its own tanh.
  if (!__builtin_cpu_supports("fma") || !__builtin_cpu_supports("avx2")) return false;
#ifdef __GLIBC__
  volatile double dProbe = 0.0793;
  return std::tanh(dProbe) == TanhFused(dProbe);
#else
  return true;
#endif
#else
  return false;
#endif
}

// Helpers the delay and the sine-operator banks share: binding found records, sine-table phases.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "enginecore/settings.h"
#include "formula/formeval.h"
#include "formula/var.h"
#include "patch/module.h"

// Binds a record found in the module's table (numbered inputs have no module storage, so
// GetVar's "constant is evaluated into storage" does not reach the module's own fields): a
// constant formula is evaluated now into *pd and answers null; a varying one answers the record,
// which the module re-evaluates while running (*pd is left for the caller to preset). An absent
// record or one without a formula leaves *pd alone.
inline Var* FxBindRecord(Var* pvar, double* pd) {
  if (!pvar || !pvar->pform) return nullptr;
  if (!FormIsConstant(pvar->pform)) return pvar;
  FormVarRefresh(pvar);
  *pd = *pvar->pvalue;
  return nullptr;
}

// One cycle of a 32-bit sine-table phase.
constexpr double FxPhaseCycle = 4294967296.0;

// A value in phase units (2^32 = one cycle) rounded to the nearest unit and kept modulo 2^32, as
// a 32-bit accumulator wraps. Whatever the input (huge, negative, not finite), the conversion
// stays defined: beyond 2^53 every double is already whole and fmod is exact; NaN and infinity
// give 0.
inline uint32_t FxPhaseRound(double dUnits) {
  if (!(std::fabs(dUnits) < 9.0e15)) {
    if (!std::isfinite(dUnits)) return 0;
    dUnits = std::fmod(dUnits, FxPhaseCycle);
  }
  return static_cast<uint32_t>(static_cast<uint64_t>(std::llround(dUnits)));
}

// The level factor that keeps high operators from sounding louder than the bass: FreqFullBass
// over the frequency above FreqFullBass, 1 at and below it.
inline double FxBassFactor(double dFreq) {
  double dFull = TheEngine()->dFreqFullBass;
  return dFreq > dFull ? dFull / dFreq : 1.0;
}

// Calls fn(Var*) for every record of the module's own variables (its name and level, depth 0),
// in table order: the numbered variables the patch wrote are found this way.
template <class Fn>
void FxForEachOwnRecord(Module* pmodule, Fn fn) {
  Var* avar = pmodule->ppavarTable ? *pmodule->ppavarTable : nullptr;
  if (!avar) return;
  for (Var* pvar = avar; pvar->pszName; ++pvar)
    if (pvar->iLevel == pmodule->iLevel && pvar->iHistory == 0 && pvar->pszModule &&
        std::strcmp(pvar->pszModule, pmodule->pszName) == 0)
      fn(pvar);
}

// The "Pitch" module kind: its table of default factor formulas and the warning about factors of 0.
#include "pitch.h"

#include <cstring>

#include "errorlist.h"

namespace {

#define PITCH_IN(name, def) VarIn(#name, FormTypeNumeric, VAR_OFFSET(PitchVars, d##name), 0, 0, def)

Var avarPitchInputs[] = {
    PITCH_IN(Input, "Portamento"),
    PITCH_IN(Octave, "1"),
    PITCH_IN(Transpose, "1"),
    PITCH_IN(Detune, "1"),
    PITCH_IN(PitchEnv, "0 semis"),
    PITCH_IN(VibSource, "LFOVibrato"),
    PITCH_IN(VibManual, "0 cents"),
    PITCH_IN(VibControl, "(ModWheel*40) cents"),
    PITCH_IN(VibEnv, "0 cents"),
    PITCH_IN(BendRange, "2 semis"),
    PITCH_IN(UnisonDetune,
             "IF( Patch:VoicesPerNote = 1, 1, UnisonSpread ^ ( SelectN( Note:VoicePerNote, 0, -23, +11, -7, +31, "
             "-13, +19, -37 )/37 ) )"),
    PITCH_IN(UnisonSpread, "40 cents"),
    PITCH_IN(Output,
             "Input * Octave * Transpose * Detune * BendRange ^ PitchBend * PitchEnv * Max( VibManual, VibControl, "
             "VibEnv ) ^ VibSource * UnisonDetune"),
    VarEnd};
Var avarPitchOutputs[] = {VarEnd};

#undef PITCH_IN

ModuleTypeTmpl<ModPitch> typePitch("Pitch", avarPitchInputs, avarPitchOutputs, AttrRegistered | AttrQuietUnused,
                                   nullptr, OrderPitch);

// The factors checked at set-up, and the unit word that gives the ratio 1 the author meant.
struct FactorCheck {
  const char* pszVar;
  const char* pszUnit;
};
constexpr FactorCheck aFactorChecks[] = {{"Octave", "octaves"},    {"Transpose", "semis"}, {"Detune", "cents"},
                                         {"PitchEnv", "semis"},    {"VibManual", "cents"}, {"VibControl", "cents"},
                                         {"VibEnv", "cents"},      {"BendRange", "semis"}, {"UnisonDetune", "cents"},
                                         {"UnisonSpread", "cents"}};

}  // namespace

// A factor of plain 0 silences the oscillators; the author nearly always meant "0 semis" (ratio 1).
// Only constant formulas are checked: a varying factor may well pass through 0.
int ModPitch::Init() {
  for (const FactorCheck& check : aFactorChecks) {
    Var* pvar = FindVar(check.pszVar);
    if (!pvar || !pvar->pform || GetVar(check.pszVar)) continue;
    CheckConstant(*pvar, *pvar->pvalue);
  }
  return 0;
}

void ModPitch::CheckConstant(const Var& var, double dValue) {
  if (dValue != 0 || !var.pszName) return;
  for (const FactorCheck& check : aFactorChecks)
    if (strcmp(var.pszName, check.pszVar) == 0)
      ERRADD(var.iLine, "%s:%s has a constant value of 0; normally you want \"0 %s\" instead", var.pszModule,
             check.pszVar, check.pszUnit);
}

// The "Pitch" module kind: its table of default factor formulas and the warning about factors of 0.
#include "modules/modulehelp.h"
#include "modules/pitch.h"

#include <cstring>

#include "formula/errorlist.h"

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

const VarHelp ahelpPitch[] = {
    {"Input", "Hz: the frequency before the factors (default the Portamento output)"},
    {"Octave", "ratio: octave shift, e.g. 1 octave or -1 octave; 1 leaves the pitch"},
    {"Transpose", "ratio: transposition, e.g. 7 semis; 1 leaves the pitch"},
    {"Detune", "ratio: fine tuning, e.g. 5 cents; 1 leaves the pitch"},
    {"PitchEnv", "ratio: a pitch envelope, e.g. 12 semis ^ EnvPitch:Output"},
    {"VibSource", "the vibrato wave, -1..1 (default the module LFOVibrato)"},
    {"VibManual", "ratio: a fixed vibrato depth, e.g. 20 cents"},
    {"VibControl", "ratio: vibrato depth from a controller (default up to 40 cents on the mod wheel)"},
    {"VibEnv", "ratio: vibrato depth from an envelope; the largest of the three depths is used"},
    {"BendRange", "ratio: the pitch change at full pitch bend, e.g. 2 semis"},
    {"UnisonDetune", "ratio: this voice's share of UnisonSpread when a note plays several voices"},
    {"UnisonSpread", "ratio: the widest detune between the voices of one note, e.g. 40 cents"},
    {"Output", "Hz: the frequency oscillators play (the product of all factors)"},
    {}};
ModuleTypeTmpl<ModPitch> typePitch("Pitch", avarPitchInputs, avarPitchOutputs, AttrRegistered | AttrQuietUnused,
                                   nullptr, OrderPitch, ahelpPitch);

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

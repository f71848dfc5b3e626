// The additive oscillator bank: each operator a table sine with its own frequency and slewed gain.
#include "modules/adder.h"
#include "modules/modulehelp.h"

#include <cfloat>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/vanmath.h"
#include "modules/fxcommon.h"

namespace {

// Gains slewing slower than this many seconds from 0 to 1 count as not slewed at all.
constexpr double kSlewMin = 0.0000001;

Var avarAdderInputs[] = {VarIn("Slew", FormTypeNumeric, VAR_OFFSET(AdderVars, dSlew), 0, 0, ".5 ms"),
                         VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(AdderVars, dBypass), 0, 0, "false"),
                         VarEnd};
Var avarAdderOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(AdderVars, dOutput), 0, 0), VarEnd};

const VarHelp ahelpAdder[] = {
    {"Slew", "constant, seconds: a partial's gain moves by at most 1 in this time (no clicks), about 0.1..50 ms"},
    {"Bypass", "accepted for symmetry; the adder does not consult it"},
    {"Output", "audio: the sum of the sine partials FreqN with gains GainN, bass compensated"},
    {"Freq<N>", "Hz: the frequency of partial N (default 1)"},
    {"Gain<N>", "linear: the level of partial N (default 1), followed within the Slew time"},
    {}};
ModuleTypeTmpl<ModAdder> typeAdder("Adder", avarAdderInputs, avarAdderOutputs,
                                   AttrRegistered | AttrBypassSilences | AttrMultiMono, nullptr, OrderAdder,
                                   ahelpAdder);

}  // namespace

ModAdder::ModAdder(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                   int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  v.dSlew = 0.0005;
}

bool ModAdder::IsNumberedInput(const char* pszVar) {
  return IsNumberedName(pszVar, "Freq") || IsNumberedName(pszVar, "Gain");
}

AdderOperator* ModAdder::FindOrAdd(const char* pszOpName) {
  AdderOperator op;
  std::strncpy(op.szName, pszOpName, AdderOperator::MaxName);
  for (AdderOperator& opOld : aop_)
    if (std::strcmp(opOld.szName, op.szName) == 0) return &opOld;
  aop_.push_back(op);
  return &aop_.back();
}

void ModAdder::SetFreq(AdderOperator* pop) {
  pop->uIncrement = FxPhaseRound(pop->dFreq / dFreqEval_ * FxPhaseCycle);
  pop->dBass = FxBassFactor(pop->dFreq);
}

int ModAdder::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  if (Var* pvar = GetVar("Slew")) {
    ERRADD(pvar->iLine, "%s:Slew must be a constant, in units per sample", pszName);
    return 1;
  }
  dSlewStep_ = v.dSlew > kSlewMin ? 1 / (v.dSlew * dFreqEval_) : DBL_MAX;

  // Every FreqX and GainX names operator X.
  FxForEachOwnRecord(this, [&](Var* pvar) {
    bool bFreq = std::strncmp(pvar->pszName, "Freq", 4) == 0;
    if (!bFreq && std::strncmp(pvar->pszName, "Gain", 4) != 0) return;
    if (!pvar->pszName[4]) return;  // no operator name
    AdderOperator* pop = FindOrAdd(pvar->pszName + 4);
    (bFreq ? pop->pvarFreq : pop->pvarGain) = pvar;
  });
  if (aop_.empty()) {
    ERRADD(-1, "%s has no operators; adding one called \"1\" ", pszName);
    FindOrAdd("1");
  }
  for (AdderOperator& op : aop_) {
    op.pvarFreq = FxBindRecord(op.pvarFreq, &op.dFreq);
    op.pvarGain = FxBindRecord(op.pvarGain, &op.dTarget);
    SetFreq(&op);
  }
  return 0;
}

void ModAdder::Reset() {
  for (AdderOperator& op : aop_) {
    op.uPhase = 0;
    op.dGain = 0;
  }
  ForgetClock();
}

void ModAdder::Calc() {
  if (!ClockMoved()) return;
  const double dStep = dSlewStep_;
  double dOutput = 0;
  for (AdderOperator& op : aop_) {
    if (op.pvarFreq) {
      op.dFreq = Pull(op.pvarFreq, op.dFreq);
      SetFreq(&op);
    }
    if (op.pvarGain) op.dTarget = Pull(op.pvarGain, op.dTarget);
    double g = op.dGain, t = op.dTarget;
    if (g < t) g = g - t > -dStep ? t : g + dStep;
    else if (g > t) g = dStep > g - t ? t : g - dStep;
    op.dGain = g;
    if (g != 0) {
      dOutput += g * op.dBass * VanSin(op.uPhase);
      op.uPhase += op.uIncrement;
    }
  }
  v.dOutput = dOutput;
}

// The phase-modulation operator network: table sines whose names say which operator each one modulates.
#include "modules/fmalgo.h"
#include "modules/modulehelp.h"

#include <algorithm>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/vanmath.h"
#include "modules/fxcommon.h"

namespace {

Var avarFMAlgoInputs[] = {VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(FMAlgoVars, dBypass), 0, 0, "false"), VarEnd};
Var avarFMAlgoOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(FMAlgoVars, dOutput), 0, 0), VarEnd};

const VarHelp ahelpFMAlgo[] = {
    {"Bypass", "accepted for symmetry; the operator bank does not consult it"},
    {"Output", "audio: the sum of the carriers (one-digit operators), bass compensated"},
    {"Freq<N>", "Hz: the frequency of operator N; N is a string of digits, and N1, N2 ... modulate N"},
    {"Gain<N>", "the level of operator N; for a modulator its depth in cycles of phase, about 0.1..2"},
    {"Plus<N>", "cycles: a phase offset added to operator N"},
    {"PreGain<N>", "output: operator N's sine, -1..1"},
    {"Control<N>", "output: operator N's gain times its sine"},
    {"Audio<N>", "output: carrier N's bass-compensated signal"},
    {}};
ModuleTypeTmpl<ModFMAlgo> typeFMAlgo("FMAlgo", avarFMAlgoInputs, avarFMAlgoOutputs,
                                     AttrRegistered | AttrBypassSilences | AttrMultiMono, nullptr, OrderFMAlgo,
                                     ahelpFMAlgo);

// The variables of an operator: the prefix, and the operator's record it binds to.
struct FMPrefix {
  const char* psz;
  Var* FMOperator::*pmember;
};
// The seven-letter prefixes come first, so that "PreGain" is not taken for something shorter.
constexpr FMPrefix aprefix[] = {
    {"PreGain", &FMOperator::pvarPreGain}, {"Control", &FMOperator::pvarControl}, {"Audio", &FMOperator::pvarAudio},
    {"Freq", &FMOperator::pvarFreq},       {"Gain", &FMOperator::pvarGain},       {"Plus", &FMOperator::pvarPlus}};

bool StartsWith(const char* psz, const char* pszPrefix) { return std::strncmp(psz, pszPrefix, std::strlen(pszPrefix)) == 0; }

}  // namespace

ModFMAlgo::ModFMAlgo(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                     int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
}

bool ModFMAlgo::IsNumberedInput(const char* pszVar) {
  for (const FMPrefix& prefix : aprefix)
    if (IsNumberedName(pszVar, prefix.psz)) return true;
  return false;
}

bool ModFMAlgo::IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput) {
  size_t n = std::strlen(pszVar);
  bool bOutput = (n >= 8 && (StartsWith(pszVar, "PreGain") || StartsWith(pszVar, "Control"))) ||
                 (n >= 6 && StartsWith(pszVar, "Audio"));
  if (!bOutput) return false;
  // An operator's output may feed back into the network: a loop through it is cut per sample.
  *pflags = VarFlagFeedback;
  *ppfnOutput = ModuleCalcOutput;
  return true;
}

FMOperator* ModFMAlgo::FindOrAdd(const std::string& sOpName) {
  for (FMOperator& op : aop_)
    if (op.sName == sOpName) return &op;
  aop_.emplace_back();
  aop_.back().sName = sOpName;
  return &aop_.back();
}

// Points every operator's outputs at their records and every modulator at its target's phase
// input; the operators no longer move in memory.
int ModFMAlgo::Connect() {
  for (FMOperator& op : aop_) {
    op.pdPreGain = op.pvarPreGain ? op.pvarPreGain->pvalue : &op.dPreGain;
    op.pdControl = op.pvarControl ? op.pvarControl->pvalue : &op.dControl;
    op.pdAudio = op.pvarAudio ? op.pvarAudio->pvalue : &op.dAudio;
  }
  for (FMOperator& op : aop_) {
    if (op.sName.size() <= 1) continue;
    std::string sTarget = op.sName.substr(0, op.sName.size() - 1);
    auto itTarget = std::find_if(aop_.begin(), aop_.end(), [&](const FMOperator& opT) { return opT.sName == sTarget; });
    if (itTarget == aop_.end()) {
      ERRADD(op.iLine, "%s:%s doesn't have an operator %s to modulate", pszName, op.sName.c_str(), sTarget.c_str());
      return 1;
    }
    op.pdTarget = &itTarget->dPhaseIn;
  }
  return 0;
}

int ModFMAlgo::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  FxForEachOwnRecord(this, [&](Var* pvar) {
    if (std::strcmp(pvar->pszName, "Output") == 0) return;
    for (const FMPrefix& prefix : aprefix) {
      if (!StartsWith(pvar->pszName, prefix.psz)) continue;
      const char* pszOp = pvar->pszName + std::strlen(prefix.psz);
      if (!*pszOp) return;
      FMOperator* pop = FindOrAdd(pszOp);
      pop->*prefix.pmember = pvar;
      if (pop->iLine < 0) pop->iLine = pvar->iLine;
      return;
    }
  });
  if (aop_.empty()) {
    ERRADD(-1, "%s has no operators; adding one called \"1\" ", pszName);
    FindOrAdd("1");
  }
  // Longest names first: every modulator is computed before the operator it modulates.
  std::sort(aop_.begin(), aop_.end(), [](const FMOperator& a, const FMOperator& b) {  // names are unique
    if (a.sName.size() != b.sName.size()) return a.sName.size() > b.sName.size();
    return a.sName < b.sName;
  });
  for (FMOperator& op : aop_) {
    op.pvarFreq = FxBindRecord(op.pvarFreq, &op.dFreq);
    if (!op.pvarFreq) {
      op.uIncrement = FxPhaseRound(op.dFreq / dFreqEval_ * FxPhaseCycle);
      op.dBass = FxBassFactor(op.dFreq);
    }
    op.pvarGain = FxBindRecord(op.pvarGain, &op.dGain);
    op.pvarPlus = FxBindRecord(op.pvarPlus, &op.dPlus);
  }
  return Connect();
}

void ModFMAlgo::Reset() {
  for (FMOperator& op : aop_) {
    op.uPhase = 0;
    if (op.pdAudio) *op.pdAudio = 0;
  }
  ForgetClock();
}

void ModFMAlgo::Calc() {
  if (!ClockMoved()) return;
  for (FMOperator& op : aop_) op.dPhaseIn = 0;
  double dOutput = 0;
  for (FMOperator& op : aop_) {
    if (op.pvarFreq) {
      op.dFreq = Pull(op.pvarFreq, op.dFreq);
      op.uIncrement = FxPhaseRound(op.dFreq / dFreqEval_ * FxPhaseCycle + 0.5);
      if (!op.pdTarget) op.dBass = FxBassFactor(op.dFreq);
    }
    if (op.pvarGain) op.dGain = Pull(op.pvarGain, op.dGain);
    if (op.pvarPlus) op.dPlus = Pull(op.pvarPlus, op.dPlus);
    double dSine = VanSin(op.uPhase + FxPhaseRound((op.dPlus + op.dPhaseIn) * FxPhaseCycle));
    op.uPhase += op.uIncrement;
    double dControl = op.dGain * dSine;
    *op.pdPreGain = dSine;
    *op.pdControl = dControl;
    if (op.pdTarget) {
      *op.pdTarget += dControl;
    } else {
      double dAudio = op.dBass * op.dGain * dSine;
      *op.pdAudio = dAudio;
      dOutput += dAudio;
    }
  }
  v.dOutput = dOutput;
}

// The module base class.
#include "patch/module.h"

#include <cstdlib>
#include <unordered_map>

#include "formula/formeval.h"
#include "foundation/akquark.h"
#include "foundation/akstring.h"
#include "patch/moduletype.h"
#include "patch/patch.h"
#include "patch/voice.h"

Module::Module(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_, int iLevel_)
    : ptype(ptype_), pszName(AKstrdup(pszName_ ? pszName_ : "")), pszNameQuark(AKQuark(pszName)), ppatch(ppatch_), pvoice(pvoice_), bPerPatch(bPerPatch_),
      iLevel(iLevel_) {}

Module::~Module() { free(pszName); }

Var* Module::FindVar(const char* pszVarName) {
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  if (!avar) return nullptr;
  const char* qVar = AKQuark(pszVarName);
  auto matches = [&](const Var* pvar) {
    return pvar->pszModule == pszNameQuark && pvar->pszName == qVar && pvar->iLevel == iLevel && pvar->iHistory == 0;
  };
  if (paiRecords) {
    for (int i : *paiRecords)
      if (matches(&avar[i])) return &avar[i];
    return nullptr;
  }
  for (Var* pvar = avar; pvar->pszName; ++pvar)
    if (matches(pvar)) return pvar;
  return nullptr;
}

Var* Module::GetVar(const char* pszVarName) {
  Var* pvar = FindVar(pszVarName);
  if (!pvar || !pvar->pform) return nullptr;
  if (pvar->pform->et >= FormTypeRef) return pvar;
  FormVarRefresh(pvar);
  return nullptr;
}

Var* Module::PulledThrough(Var* pvar) {
  if (!pvar || bPerPatch || !ppatch || !ppavarTable) return pvar;
  Var* avar = *ppavarTable;
  const int iNamed = ppatch->NamedRecordVoice(static_cast<int>(pvar - avar));
  return iNamed >= 0 ? avar + iNamed : pvar;
}

void Module::AskRestOnce() {
  bRestAsked = true;
  if (pvoice && !bPerPatch) pvoice->AskRest(this);
}

void ModuleCalcOutput(Module* pmodule, Var*) { pmodule->Calc(); }

void ModuleBindOutputs(Var* avar, int nVar, int iPerSample) {
  std::unordered_map<Module*, Var*> mapLast;  // per module, the last record linked into its ring
  for (int i = 0; i < nVar; ++i) {
    Var& var = avar[i];
    var.pvarSibling = nullptr;
    if (var.pfnOutput && !var.pform) var.pfnBring = FormBringOutput;
    if (!var.pmodule || var.pform || var.iHistory) continue;
    // Other routines (a delay's taps, numbered outputs) compute one output each; a history copy
    // keeps its own value.
    VarOutputFn pfnCalc = var.pmodule->ptype->CalcRoutine(var.pmodule);
    if (var.pfnOutput != ModuleCalcOutput && var.pfnOutput != pfnCalc) continue;
    var.pfnOutput = pfnCalc;
    var.pfnBring = var.pmodule->ptype->BringRoutine(var.pmodule);
    if (i < iPerSample) continue;
    Var*& pvarLast = mapLast[var.pmodule];
    if (pvarLast) {
      var.pvarSibling = pvarLast->pvarSibling;
      pvarLast->pvarSibling = &var;
    } else {
      var.pvarSibling = &var;
    }
    pvarLast = &var;
  }
  // A ring of one is no ring.
  for (int i = iPerSample; i < nVar; ++i)
    if (avar[i].pvarSibling == &avar[i]) avar[i].pvarSibling = nullptr;
}

void ModuleBindShadows(Var* avarVoice, int nVoice, int iVoicePerSample, Var* avarPatch, int nPatch,
                       int iPatchPerSample) {
  for (int i = iPatchPerSample; i < nPatch; ++i) {
    Var& varPatch = avarPatch[i];
    int iShadow = varPatch.iShadow;
    if (iShadow < iVoicePerSample || iShadow >= nVoice) continue;
    Var& var = avarVoice[iShadow];
    // The same output of the same module, read through the same routine and storage; stale every
    // sample in both tables (a history copy keeps its own value).
    if (var.pform || !var.pfnOutput || var.pmodule != varPatch.pmodule || var.pvalue != varPatch.pvalue ||
        var.pfnOutput != varPatch.pfnOutput || varPatch.pform || var.iHistory || varPatch.iHistory ||
        var.pszName != varPatch.pszName)
      continue;
    var.pvarPatch = &varPatch;
    var.pfnBring = FormBringShadow;
  }
}

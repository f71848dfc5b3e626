// The module base class.
#include "patch/module.h"

#include <cstdlib>

#include "formula/formeval.h"
#include "foundation/akquark.h"
#include "foundation/akstring.h"

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

void ModuleCalcOutput(Module* pmodule, Var*) { pmodule->Calc(); }

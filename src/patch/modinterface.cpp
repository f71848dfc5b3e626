// The Interface and Pkg modules: the variables a package shares with its caller.
#include "formula/errorlist.h"
#include "patch/structural.h"

namespace {

Var avarInterfaceInputs[] = {VarEnd};
Var avarInterfaceOutputs[] = {VarEnd};
Var avarPkgInputs[] = {VarEnd};
Var avarPkgOutputs[] = {VarEnd};

ModuleTypeTmpl<ModInterface> typeInterface("Interface", avarInterfaceInputs, avarInterfaceOutputs,
                                           AttrRegistered | AttrQuietUnused, nullptr, OrderInterface);
ModuleTypeTmpl<ModInterface> typePkg("Pkg", avarPkgInputs, avarPkgOutputs, AttrRegistered | AttrQuietUnused, nullptr,
                                     OrderPkg);

}  // namespace

int ModInterface::Init() {
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  int n = 0;
  for (Var* pvar = avar; pvar && pvar->pszName; ++pvar) {
    if (pvar->pmodule != this) continue;
    if (n == MaxVars) {
      ERRADD(-1, "%s:hit limit of number of variables", pszName);
      return -1;
    }
    pvar->type = FormTypeNumeric;
    adSlot[n] = *pvar->pvalue;
    pvar->pvalue = &adSlot[n++];
  }
  return 0;
}

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_interface = 0;

// Channels of multi-channel values. Until buses are split into per-channel records, a formula
// that needs more than one channel is refused at its line.
#include <cstring>

#include "errorlist.h"
#include "formfn.h"
#include "patch.h"

namespace {

bool UsesBus(const Form* pform) {
  if (!pform || pform->et != FormTypeFn) return false;
  for (const char* psz : {"MakeBus", "SumBus", "BreakOut", "Pan"})
    if (FormFnIs(pform->u.fn.pinfo, psz)) return true;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (UsesBus(pform->u.fn.apformArg[i])) return true;
  return false;
}

}  // namespace

int Patch::Channelize() {
  int iResult = 0;
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (int i = 0; i < ptable->N(); ++i) {
      const Var& var = (*ptable)[i];
      if (var.iModule == -1 && ptable == &tabVoice) continue;  // shadows report through their originals
      bool bChannelName = strchr(var.pszName, '$') != nullptr && var.pszUser;
      if (!UsesBus(var.pform) && !bChannelName) continue;
      ERRADD(var.iLine, "%s:%s - multi-channel formulas are not supported yet", var.pszModule, var.pszName);
      iResult = -1;
    }
  }
  return iResult;
}

void Patch::CreateMultiMono() {}
void Patch::ChannelSeparate() {}
void Patch::OptimizeTables() {}

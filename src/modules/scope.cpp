// The Scope module.
#include "modules/modulehelp.h"
#include "modules/scope.h"

#include <cctype>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "foundation/akstring.h"

namespace {

Var avarScopeInputs[] = {
    VarIn("SyncIn", FormTypeNumeric, VAR_OFFSET(ScopeVars, dSyncIn), 0, 0, "0"),
    VarIn("Finished", FormTypeBoolean, VAR_OFFSET(ScopeVars, dFinished), 0, 0, "SyncIn <> -1"),
    VarIn("FreqHint", FormTypeNumeric, VAR_OFFSET(ScopeVars, dFreqHint), 0, 0, "0"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(ScopeVars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarScopeOutputs[] = {VarEnd};

const VarHelp ahelpScope[] = {
    {"SyncIn", "-1 while waiting; any other value arms a capture (feed an oscillator's SyncOut to frame one period)"},
    {"Finished", "true ends the capture (default: the next sync)"},
    {"FreqHint", "Hz: the fundamental, for the oscilloscope's spectrum view; 0 if unknown"},
    {"Bypass", "accepted for symmetry; a probe has nothing to switch off"},
    {"Probe<N>", "a signal for the oscilloscope to capture"},
    {"Caption<N>", "a value printed under the graph"},
    {}};
ModuleTypeTmpl<ModOscilloscope> typeScope("Scope", avarScopeInputs, avarScopeOutputs, AttrRegistered, nullptr,
                                          OrderScope, ahelpScope);

}  // namespace

int ModOscilloscope::Init() {
  GetVar("Bypass");
  GetVar("SyncIn");
  pvarFreqHint = GetVar("FreqHint");
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  for (Var* pvar = avar; pvar && pvar->pszName; ++pvar) {
    if (AKstrcmp(pvar->pszModule, pszName) != 0 || pvar->iLevel != iLevel || pvar->iHistory) continue;
    const char* pszVar = pvar->pszName;
    if (!strcmp(pszVar, "SyncIn") || !strcmp(pszVar, "Finished") || !strcmp(pszVar, "FreqHint") ||
        !strcmp(pszVar, "Bypass"))
      continue;
    if (nSlots == MaxSlots) {
      ERRADD(-1, "%s can only handle first %d inputs", pszName, MaxSlots);
      return 1;
    }
    // Evaluating the variable now stores its value in the probe.
    pvar->pvalue = &adSlot[nSlots++];
    if (strncmp(pszVar, "Probe", 5) == 0) {
      apvarProbe.push_back(pvar);
    } else if (strncmp(pszVar, "Caption", 7) == 0 || islower(static_cast<unsigned char>(pszVar[0]))) {
      Caption caption{pvar, FormResultType(pvar->pform, avar), {}};
      if (caption.etKind != FormTypeString && caption.etKind != FormTypeKeyword) caption.etKind = FormTypeNumeric;
      bool bCaption = strncmp(pszVar, "Caption", 7) == 0;
      AKstrcpy(caption.szLabel, bCaption ? (pvar->pszUser ? pvar->pszUser : "") : pszVar, sizeof caption.szLabel);
      acaption.push_back(caption);
    } else {
      ERRADD(-1, "%s:%s unknown variable; skipping", pszName, pszVar);
    }
  }
  return 0;
}

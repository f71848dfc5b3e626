// Reads the module factory and the formula tables into plain lists for the fuzzers.
#include "patchtables.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "patch/moduletype.h"
#include "patch/startup_hooks.h"

namespace {

// Numbered names the loader accepts for whole classes of types, beyond what the types answer
// themselves: the envelope's stages and the wavetable oscillator's harmonics and samples.
const char* const apszEnvelopeNumbered[] = {"Valu", "Time", "Trig", "Goto", "Stop", "Curv"};
const char* const apszSwoNumbered[] = {"Harm", "SampleLoc", "SampleLen", "SampleFreq"};

std::string StripDigits(const char* psz) {
  std::string s(psz);
  while (!s.empty() && isdigit(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

std::vector<PatchVarInfo> Rows(const Var* avar) {
  std::vector<PatchVarInfo> a;
  for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar) a.push_back({pvar->pszName, pvar->type});
  return a;
}

// Whether a call with n constant arguments parses without error.
bool CallParses(const std::string& sName, int n) {
  Var avar[1] = {};
  Var* pavar = avar;
  std::string sText = sName + "(";
  for (int i = 0; i < n; ++i) sText += i ? ", 1" : "1";
  sText += ")";
  FormParseContext ctx;
  ctx.ppavarTable = &pavar;
  ctx.pszText = sText.c_str();
  Form* pform = FormParse(ctx);
  bool bOk = !FormIsError(pform);
  FormFree(pform);
  return bOk;
}

PatchTables Read() {
  RunModuleStartupHooks();
  PatchTables tables;
  ModuleFactory* pfactory = ModuleFactory::Get();
  std::set<std::string> setHelpers;
  std::set<std::string> setPrefixes(std::begin(apszEnvelopeNumbered), std::end(apszEnvelopeNumbered));
  setPrefixes.insert(std::begin(apszSwoNumbered), std::end(apszSwoNumbered));
  for (ModuleType* ptype : pfactory->aptype) {
    if (ptype->pszHelper) setHelpers.insert(ptype->pszHelper);
    for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
      for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar) setPrefixes.insert(StripDigits(pvar->pszName));
  }
  for (ModuleType* ptype : pfactory->aptype) {
    PatchTypeInfo info;
    info.sName = ptype->pszName;
    info.avarIn = Rows(ptype->avarInputs);
    info.avarOut = Rows(ptype->avarOutputs);
    bool bEnvelope = strcmp(ptype->ClassName(), "ModEnvelope") == 0;
    bool bSwo = strcmp(ptype->ClassName(), "ModSWO") == 0;
    for (const std::string& sPrefix : setPrefixes) {
      if (sPrefix.empty()) continue;
      std::string sProbe = sPrefix + "1";
      uint32_t flags = 0;
      VarOutputFn pfn = nullptr;
      if (ptype->IsNumberedInput(sProbe.c_str())) info.asNumberedIn.push_back(sPrefix);
      if (ptype->IsNumberedOutput(sProbe.c_str(), &flags, &pfn)) info.asNumberedOut.push_back(sPrefix);
    }
    if (bEnvelope) info.asNumberedIn.insert(info.asNumberedIn.end(), std::begin(apszEnvelopeNumbered),
                                            std::end(apszEnvelopeNumbered));
    if (bSwo) info.asNumberedIn.insert(info.asNumberedIn.end(), std::begin(apszSwoNumbered), std::end(apszSwoNumbered));
    info.bHelper = setHelpers.count(info.sName) != 0;
    const char* pszClass = ptype->ClassName();
    info.bStructural = strncmp(info.sName.c_str(), "Dummy", 5) == 0 || strncmp(info.sName.c_str(), "Sub", 3) == 0 ||
                       !strcmp(pszClass, "ModChannel") || !strcmp(pszClass, "ModNote") ||
                       !strcmp(pszClass, "ModVoice") || !strcmp(pszClass, "ModPatch") ||
                       !strcmp(pszClass, "ModGlobal") || !strcmp(pszClass, "ModInterface") ||
                       !strcmp(pszClass, "ModPitch") || info.sName == "Tuning" || info.sName == "Portamento";
    tables.atype.push_back(std::move(info));
  }
  for (const FormFnInfo* pinfo = FormFnTable; pinfo->pfnEval; ++pinfo) {
    if (pinfo->pszOp) {
      tables.asOp.push_back(pinfo->pszOp);
      continue;
    }
    if (!pinfo->pszName) continue;
    PatchFnInfo fn;
    fn.sName = pinfo->pszName;
    for (int n = 0; n <= 4; ++n)
      if (CallParses(fn.sName, n)) fn.anArgs.push_back(n);
    tables.afn.push_back(std::move(fn));
  }
  for (const FormFnInfo* pinfo = FormFnUnits; pinfo->pfnEval; ++pinfo) tables.asUnit.push_back(pinfo->pszName);
  char szBuffer[32];
  for (int i = 0; i < FormEnumCount(); ++i) {
    const char* psz = FormEnumName(i, szBuffer, sizeof szBuffer);
    if (psz != szBuffer) tables.asKeyword.push_back(psz);
  }
  ErrorList::Get()->Clear();
  return tables;
}

}  // namespace

const PatchTypeInfo* PatchTables::Find(const std::string& sName) const {
  for (const PatchTypeInfo& info : atype)
    if (info.sName == sName) return &info;
  return nullptr;
}

const PatchTables& GetPatchTables() {
  static const PatchTables tables = Read();
  return tables;
}

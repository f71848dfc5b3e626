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

std::string StripDigits(const char* psz) {
  std::string s(psz);
  while (!s.empty() && isdigit(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// The prefixes of the numbered names a help list describes ("Harm<N>" gives "Harm").
void AddHelpPrefixes(const VarHelp* ahelp, std::set<std::string>* psetPrefixes) {
  for (const VarHelp* phelp = ahelp; phelp && phelp->pszName; ++phelp) {
    std::string s = phelp->pszName;
    size_t i = s.find("<N>");
    if (i != std::string::npos) psetPrefixes->insert(s.substr(0, i));
  }
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
  std::set<std::string> setPrefixes;
  for (ModuleType* ptype : pfactory->aptype) {
    if (ptype->pszHelper) setHelpers.insert(ptype->pszHelper);
    AddHelpPrefixes(ptype->ahelp, &setPrefixes);
    AddHelpPrefixes(ptype->ahelpShared, &setPrefixes);
    for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
      for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar) setPrefixes.insert(StripDigits(pvar->pszName));
  }
  for (ModuleType* ptype : pfactory->aptype) {
    PatchTypeInfo info;
    info.sName = ptype->pszName;
    info.avarIn = Rows(ptype->avarInputs);
    info.avarOut = Rows(ptype->avarOutputs);
    ModuleType* ptypeHelper = ptype->pszHelper ? ptype->HelperType() : nullptr;
    for (const std::string& sPrefix : setPrefixes) {
      if (sPrefix.empty()) continue;
      std::string sProbe = sPrefix + "1";
      uint32_t flags = 0;
      VarOutputFn pfn = nullptr;
      // A name the helper takes is written in the section of the kind it helps.
      if (ptype->IsNumberedInput(sProbe.c_str()) ||
          (ptypeHelper && ptype->IsPartnerName(sProbe.c_str()) && ptypeHelper->IsNumberedInput(sProbe.c_str())))
        info.asNumberedIn.push_back(sPrefix);
      if (ptype->IsNumberedOutput(sProbe.c_str(), &flags, &pfn)) info.asNumberedOut.push_back(sPrefix);
    }
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

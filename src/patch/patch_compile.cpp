// The compilation pipeline: per-patch modules, formulas parsed and bound, packages connected to
// their callers, classes computed, modules initialised, voices created. Each step logs its name,
// so the log shows where a compilation stopped.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "foundation/akquark.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/patch.h"
#include "patch/structural.h"
#include "patch/voice.h"

namespace {

const char* Q(const char* psz) { return AKQuark(psz ? psz : ""); }

bool IsOncePer(const FormFnInfo* pinfo) {
  return pinfo == &FormFnRowOncePerPatch || pinfo == &FormFnRowOncePerVoice || pinfo == &FormFnRowOncePerNote;
}

// The kind the module type declares for a variable (binding may have made an unstored one a
// number); numbered variables and channel copies are numbers.
int DeclaredKind(const Var& var) {
  if (!var.ptype) return var.type;
  for (const Var* avar : {var.ptype->avarInputs, var.ptype->avarOutputs})
    for (const Var* pvarRow = avar; pvarRow && pvarRow->pszName; ++pvarRow)
      if (strcmp(pvarRow->pszName, var.pszName) == 0) return pvarRow->type;
  return FormTypeNumeric;
}

void LogStep(const char* pszStep) { AKS(AKSTrace, AK_HERE, "%s", pszStep); }

}  // namespace

bool Patch::bOptimize = true;

Patch::~Patch() {
  for (Voice* pvoice : apvoiceAll) DestroyVoice(pvoice);
  for (auto it = apmodPatch.rbegin(); it != apmodPatch.rend(); ++it) delete *it;
  for (VarTable* ptable : {&tabVoice, &tabPatch})
    for (int i = 0; i < ptable->N(); ++i) FormFree((*ptable)[i].pform);
  for (Form* pform : apformCodeVoice) FormFree(pform);
  for (Layer& layer : alayer)
    if (layer.iLevel != 1) AKConfigFree(layer.pconf);
  FormRandomUnregister(iGenerator);
}

Var* Patch::FindRecord(VarTable& table, const char* pszModule, const char* pszName, int iLevel, int iHistory) {
  const char* qModule = Q(pszModule);
  const char* qName = Q(pszName);
  for (int i = 0; i < table.N(); ++i) {
    Var& var = table[i];
    if (var.pszModule == qModule && var.pszName == qName && var.iLevel == iLevel && var.iHistory == iHistory)
      return &var;
  }
  return nullptr;
}

void Patch::Compile() {
  LogStep("Building per-patch modules...");
  BuildPerPatchModules();
  LogStep("Setting per-patch variables' pointers...");
  BindPerPatchRecords();
  GatherEvalPerPatch();
  LogStep("Compiling formulas...");
  for (int i = 0; i < tabPatch.N(); ++i) {
    if (AKstrcmp(tabPatch[i].pszUser, VarAugmentMarker) == 0) continue;
    CompileFormula(&tabPatch[i], true);
    CheckRateFunctions(&tabPatch[i], tabPatch[i].pform, true, false);
  }
  for (int i = 0; i < tabVoice.N(); ++i) {
    if (AKstrcmp(tabVoice[i].pszUser, VarAugmentMarker) == 0) continue;
    CompileFormula(&tabVoice[i], false);
    CheckRateFunctions(&tabVoice[i], tabVoice[i].pform, false, false);
  }
  if (!bCompiled) return;
  LogStep("Augment caller...");
  for (int i = 0; i < tabPatch.N(); ++i) AugmentCaller(tabPatch, i);
  for (int i = 0; i < tabVoice.N(); ++i) AugmentCaller(tabVoice, i);
  LogStep("Remapping interface...");
  // The formulas' texts are made only for a log that shows the remapping.
  bool bShowRemap = AKSWanted(AKSStatus);
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (int i = 0; i < ptable->N(); ++i) {
      Form* pform = (*ptable)[i].pform;
      if (!pform) continue;
      std::string sBefore = bShowRemap ? FormToText(pform, ptable->Data(), tabVoice.Data()) : std::string();
      if (RemapToCaller(*ptable, pform))
        AKS(AKSStatus, AK_HERE, "remapped %s to %s", sBefore.c_str(),
            FormToText(pform, ptable->Data(), tabVoice.Data()).c_str());
    }
  }
  if (!bCompiled) return;
  LogStep("Channelization...");
  if (Channelize() != 0) {
    Fail();
    return;
  }
  GatherEvalPerPatch();
  LogStep("Creating Multi-Mono modules...");
  CreateMultiMono();
  if (bCompiled) {
    LogStep("Channel Separate...");
    ChannelSeparate();
  }
  if (bCompiled) {
    LogStep("Optimize...");
    if (bOptimize) OptimizeTables();
    MakeBypassedReferencesConsistent();
  }
  if (bCompiled) {
    LogStep("Remove Unneeded...");
    RemoveUnneeded();
  }
  if (!bCompiled) return;
  FinalWiring();
  CompileCode();
  InitPerPatchModules();
  if (!bCompiled) return;
  CheckAudioRate();
  FindScopeFlag();
  if (bCompiled) CreateVoices();
  if (bCompiled) ReadShadowsDirectly();
  if (bCompiled) PlanAcross();
  if (bCompiled) PlanRest();
}

void Patch::BuildPerPatchModules() {
  for (size_t i = 0; i < amodPatch.size(); ++i) {
    const ModuleEntry& entry = amodPatch[i];
    int iLevel = entry.iFirstVar < tabPatch.N() ? tabPatch[entry.iFirstVar].iLevel : entry.iLevel;
    Module* pmod = entry.ptype->Create(entry.pszName, this, nullptr, true, iLevel, nullptr);
    pmod->pclock = &dTime;
    pmod->ppavarTable = tabPatch.PData();
    pmod->puRandom = &uRandomState;
    apmodPatch.push_back(pmod);
    const char* pszType = entry.ptype->pszName;
    if (strcmp(pszType, "Patch") == 0 && !pmodPatch) pmodPatch = static_cast<ModPatch*>(pmod);
    if (strcmp(pszType, "Channel") == 0) {
      // The patch's own channel starts from the state of the MIDI channel it is installed on.
      auto* pmodChannelOwn = static_cast<ModChannel*>(pmod);
      if (pmodChannel) pmodChannelOwn->CopyStateFrom(pmodChannel);
      pmodChannel = pmodChannelOwn;
    }
    if (entry.ptype->HasAttr(AttrFeedbackStep)) apmodDelay.push_back(pmod);
  }
}

void Patch::BindPerPatchRecord(int i) {
  Var& var = tabPatch[i];
  var.avarTable = tabPatch.Data();
  var.pmodule = var.iModulePP >= 0 && var.iModulePP < static_cast<int>(apmodPatch.size())
                    ? apmodPatch[static_cast<size_t>(var.iModulePP)]
                    : nullptr;
  if (var.iOffset >= 0 && var.pmodule) {
    var.pvalue = var.pmodule->VarStorage(var.iOffset);
  } else {
    var.pvalue = &var.value;
    var.type = FormTypeNumeric;
  }
}

void Patch::MakeRowsOnReference(const char* pszName) {
  for (bool bPerPatch : {true, false}) {
    VarTable& table = bPerPatch ? tabPatch : tabVoice;
    std::vector<ModuleEntry>& amod = bPerPatch ? amodPatch : amodVoice;
    for (size_t m = 0; m < amod.size(); ++m) {
      const Var* pvarRow = amod[m].ptype->RowOnReference(pszName);
      if (!pvarRow) continue;
      auto ofModule = [&](const Var& var) {
        return (bPerPatch ? var.iModulePP : var.iModule) == static_cast<int>(m) && var.iHistory == 0;
      };
      // Unless the module has the record already, it is made with the levels and rate of the
      // module's first output.
      const char* qName = Q(pvarRow->pszName);
      FormNameIndex* pindex = table.NameIndex();
      bool bMade = false;
      for (int i = pindex->FirstNamed(table.Data(), qName); i >= 0 && !bMade; i = pindex->NextNamed(i))
        bMade = table[i].pszName == qName && ofModule(table[i]);
      const Var* pvarOut = nullptr;
      for (int i = amod[m].iFirstVar; i < table.N() && !pvarOut; ++i)
        if (ofModule(table[i]) && !(table[i].flags & VarFlagInput)) pvarOut = &table[i];
      if (bMade || !pvarOut) continue;
      const ModuleEntry entry = amod[m];
      int i = CopyRow(*pvarRow, table, entry, bPerPatch, static_cast<int>(m), entry.iLine, pvarOut->iLevel,
                      pvarOut->iLevelOwn, pvarOut->iLevelParent, pvarOut->bAudioRate);
      if (!bPerPatch) continue;
      Var& varShadow = tabVoice[tabPatch[i].iShadow];
      varShadow.pszDefault = nullptr;
      varShadow.pszUser = nullptr;
      BindPerPatchRecord(i);
    }
  }
}

void Patch::BindPerPatchRecords() {
  for (int i = 0; i < tabPatch.N(); ++i) BindPerPatchRecord(i);
}

void Patch::GatherEvalPerPatch() {
  aiEvalPerPatch.clear();
  for (int i = 0; i < tabPatch.N(); ++i) {
    const Var& var = tabPatch[i];
    if (strcmp(var.pszModule, "Patch") != 0 || !var.pszUser || var.iLevel != 1) continue;
    if (strcmp(var.pszName, "Result") == 0 || strncmp(var.pszName, "Result$", 7) == 0) aiEvalPerPatch.push_back(i);
  }
}

void Patch::CompileFormula(Var* pvar, bool bPerPatch) {
  if (pvar->pfnOutput) return;
  VarTable& table = bPerPatch ? tabPatch : tabVoice;
  int iVar = table.IndexOf(pvar);
  // A voice must not sum all the voices, nor read the patch's output: its copy of every channel
  // of the patch's Result (Result, Result$2, ...) is plain 0.
  bool bShadowResult = !bPerPatch && pvar->iModule == -1 && strcmp(pvar->pszModule, "Patch") == 0 &&
                       pvar->ptype && pvar->ptype->ChannelOf(pvar, "Result") > 0 && pvar->iLevel == 1;
  const char* pszText = bShadowResult ? "0" : pvar->pszUser ? pvar->pszUser : pvar->pszDefault;
  if (!pszText) return;
  iCompiling_ = iVar;
  bCompilingPerPatch_ = bPerPatch;
  FormParseContext ctx;
  ctx.ppavarTable = table.PData();
  ctx.ppavarVoice = bPerPatch ? tabVoice.PData() : nullptr;
  ctx.pindexTable = table.NameIndex();
  ctx.pindexVoice = bPerPatch ? tabVoice.NameIndex() : nullptr;
  ctx.pszText = pszText;
  ctx.pszModule = pvar->pszModule;
  ctx.iLevel = pvar->iLevelOwn;
  ctx.iLevelParent = pvar->iLevelParent;
  ctx.pvUser = this;
  ctx.pfnResolve = [](void* pv, const char* pszModule, const char* pszName, int iHistory) {
    auto* ppatch = static_cast<Patch*>(pv);
    if (pszName && *pszName) ppatch->MakeRowsOnReference(pszName);
    VarTable& tab = ppatch->bCompilingPerPatch_ ? ppatch->tabPatch : ppatch->tabVoice;
    ppatch->ResolveReference(&tab[ppatch->iCompiling_], pszModule, pszName, iHistory);
  };
  ctx.pfnAnonymous = [](void* pv, const char* pszType, const char* const* apszArgs, int nArgs, int* piRejected,
                        char* szName, int nSize) {
    static_cast<Patch*>(pv)->AddAnonymousModule(pszType, apszArgs, nArgs, piRejected, szName, nSize);
  };
  ctx.pfnIsModuleType = [](const char* pszWord) { return ModuleFactory::Get()->Lookup(pszWord) != nullptr; };
  // A declared variable that is not text takes no string; user variables and probe captions may
  // hold any kind, and a voice's copy of a per-patch variable is checked with the original.
  bool bShadow = !bPerPatch && pvar->iModule == -1;
  ctx.bNumberWanted = !bShadow && DeclaredKind(*pvar) != FormTypeString && !(pvar->flags & VarFlagUser) &&
                      pvar->ptype && strcmp(pvar->ptype->pszName, "Scope") != 0;
  FormParseSplit split;
  Form* pform = FormParse(ctx, &split);
  pvar = &table[iVar];  // the table may have moved while references were resolved
  if (pform->et == FormTypeErrPatchOnlyFunction && !bPerPatch && pvar->iModule == -1) {
    AKS(AKSTrace, AK_HERE, "%s", "allowing FormTypeErrPatchOnlyFunction for shadow copy");
  } else if (FormIsError(pform)) {
    AKS(AKSWarn, AK_HERE, "%s:%s - %s (%s >>> %s <<< %s)", pvar->pszModule, pvar->pszName, FormTypeName(pform),
        split.sBefore.c_str(), split.sStretch.c_str(), split.sAfter.c_str());
    // The author sees at most the 40 characters before the fault.
    std::string sBefore = split.sBefore.size() > 40 ? split.sBefore.substr(split.sBefore.size() - 40) : split.sBefore;
    ERRADD(pvar->iLine, "%s:%s - %s (%s >>> %s <<< %s)", pvar->pszModule, pvar->pszName, FormTypeName(pform),
           sBefore.c_str(), split.sStretch.c_str(), split.sAfter.c_str());
    Fail();
  }
  FormBindRandom(pform, iGenerator);
  pvar->pform = pform;
  iCompiling_ = -1;
}

void Patch::CheckRateFunctions(Var* pvar, Form* pform, bool bPerPatch, bool bNested) {
  // Reports only the first offence of a formula; the compilation is not failed by these.
  struct Walk {
    static bool Run(Var* pvar, Form* pform, bool bPerPatch, bool bNested) {
      if (!pform || pform->et != FormTypeFn) return false;
      const FormFnInfo* pinfo = pform->u.fn.pinfo;
      if (bPerPatch && (pinfo == &FormFnRowOncePerVoice || pinfo == &FormFnRowOncePerNote)) {
        ERRADD(pvar->iLine, "%s:%s: Per-Patch module's formulas may not use %s()", pvar->pszModule, pvar->pszName,
               pinfo->pszName);
        return true;
      }
      if (bNested && IsOncePer(pinfo)) {
        ERRADD(pvar->iLine, "%s:%s: %s() may only be used at the outside-most function", pvar->pszModule,
               pvar->pszName, pinfo->pszName);
        return true;
      }
      for (int i = 0; i < pform->u.fn.nArg; ++i)
        if (Run(pvar, pform->u.fn.apformArg[i], bPerPatch, true)) return true;
      return false;
    }
  };
  Walk::Run(pvar, pform, bPerPatch, bNested);
}

Var* Patch::ResolveReference(Var* pvarRequest, const char* pszModule, const char* pszNameIn, int iHistory) {
  VarTable& table = bCompilingPerPatch_ ? tabPatch : tabVoice;
  const char* pszName = pszNameIn && *pszNameIn ? pszNameIn : "Output";
  int iRequest = table.IndexOf(pvarRequest);
  uint32_t flagsFound = 0;
  VarOutputFn pfnFound = nullptr;
  bool bModuleWritten = pszModule != nullptr;
  if (!pszModule) {
    if (pvarRequest->ptype && pvarRequest->ptype->IsNumberedOutput(pszName, &flagsFound, &pfnFound)) {
      pszModule = pvarRequest->pszModule;
    } else {
      const std::vector<ModuleEntry>& amod = bCompilingPerPatch_ ? amodPatch : amodVoice;
      const char* pszAccepting = nullptr;
      int nAccepting = 0;
      for (const ModuleEntry& entry : amod) {
        uint32_t flags = 0;
        VarOutputFn pfn = nullptr;
        if (!entry.ptype->IsNumberedOutput(pszName, &flags, &pfn)) continue;
        ++nAccepting;
        pszAccepting = entry.pszName;
        flagsFound = flags;
        pfnFound = pfn;
      }
      // A per-voice name must belong to exactly one module; per-patch, the last one wins.
      if (!nAccepting || (!bCompilingPerPatch_ && nAccepting > 1)) return nullptr;
      pszModule = pszAccepting;
    }
  }
  int iLevel = pvarRequest->iLevel;
  auto find = [&](int iDepth) -> Var* {
    const char* qModule = Q(pszModule);
    const char* qName = Q(pszName);
    for (int i = 0; i < table.N(); ++i) {
      Var& var = table[i];
      if (var.pszModule == qModule && var.pszName == qName && (var.iLevel == 0 || var.iLevel == iLevel) &&
          var.iHistory == iDepth)
        return &var;
    }
    return nullptr;
  };
  if (iHistory > 0) {
    ResolveReference(&table[iRequest], pszModule, pszName, 0);
    Var* pvar0 = find(0);
    if (!pvar0) return nullptr;
    int i0 = table.IndexOf(pvar0);
    int iPrev = i0;
    for (int d = 1; d <= iHistory; ++d) {
      Var* pvarD = find(d);
      if (pvarD) {
        iPrev = table.IndexOf(pvarD);
        continue;
      }
      Var var = table[i0];
      var.iOffset = -1;
      var.pszDefault = nullptr;
      var.pfnOutput = nullptr;
      var.flags = bModuleWritten ? 0 : flagsFound;
      var.pszUser = nullptr;
      var.pform = nullptr;
      var.pvalue = nullptr;
      var.iShadow = -1;
      var.iOrig = -1;
      var.iHistory = d;
      var.iLine = table[iRequest].iLine;  // what goes wrong with the copy is told where it was written
      var.pvarHistoryPrev = &table[iPrev];
      iPrev = table.Append(var);  // the table keeps the link right if it moves
      if (&table == &tabPatch) BindPerPatchRecord(iPrev);
    }
    return find(iHistory);
  }
  // A name the module's kind makes on demand (a delay's Tap3) gets its record when a formula names it.
  const char* qModule = Q(pszModule);
  const Var* pvarModule = nullptr;
  for (int i = 0; i < table.N(); ++i)
    if (table[i].pszModule == qModule) {
      pvarModule = &table[i];
      break;
    }
  if (!pvarModule) {
    AKS(AKSTrace, AK_HERE, "not finding module type for %s:%s", pszModule, pszName);
    return nullptr;
  }
  uint32_t flags = 0;
  VarOutputFn pfn = nullptr;
  if (!pvarModule->ptype || !pvarModule->ptype->IsNumberedOutput(pszName, &flags, &pfn)) return nullptr;
  if (find(0)) return nullptr;
  const Var& varRequest = table[iRequest];
  Var var{};
  var.pszName = Q(pszName);
  var.type = FormTypeNumeric;
  var.iOffset = -1;
  var.pfnOutput = pfn;
  var.flags = flags;
  var.pszModule = qModule;
  var.pszModuleType = Q(pvarModule->ptype->pszName);
  var.ptype = ModuleFactory::Get()->Lookup(pvarModule->ptype->pszName);
  var.iModule = pvarModule->iModule;
  var.iModulePP = pvarModule->iModulePP;
  VarPlaceAt(var, varRequest);
  int i = table.Append(var);
  if (&table == &tabPatch) BindPerPatchRecord(i);
  return &table[i];
}

void Patch::AugmentCaller(VarTable& table, int iVar) {
  Var& varPkg = table[iVar];
  if (strcmp(varPkg.pszModule, "Interface") != 0 || varPkg.iLevelOwn < 1) return;
  const Layer& layer = alayer[static_cast<size_t>(varPkg.iLevelOwn - 1)];
  if (layer.bPatch) return;  // an [Interface] of the patch itself has no caller
  auto augment = [&](VarTable& tab, int iPkg) {
    Var& varP = tab[iPkg];
    const char* qCaller = Q(layer.sCaller.c_str());
    Var* pvarCaller = nullptr;
    for (int i = 0; i < tab.N(); ++i) {
      Var& var = tab[i];
      if (var.iLevelOwn == layer.iLevelParent && var.pszModule == qCaller && var.pszName == varP.pszName && !var.iHistory) {
        pvarCaller = &var;
        break;
      }
    }
    if (!pvarCaller) {
      AKS(AKSWarn, AK_HERE, "didn't find <%d>%s:%s", varP.iLevelOwn, layer.sCaller.c_str(), varP.pszName);
      return;
    }
    const char* pszPkgText = varP.pszUser ? varP.pszUser : varP.pszDefault;
    if (AKstrcmp(pvarCaller->pszUser, VarAugmentMarker) == 0) {
      AKS(AKSTrace, AK_HERE, "found %s<%d>:%s; am augmenting with %s", pvarCaller->pszModule, pvarCaller->iLevelOwn,
          pvarCaller->pszName, pszPkgText ? pszPkgText : "");
      pvarCaller->pszUser = pszPkgText;
      FormFree(pvarCaller->pform);
      pvarCaller->pform = FormCopy(varP.pform);
    } else {
      AKS(AKSTrace, AK_HERE, "found %s<%d>:%s; leaving as caller intended: %s", pvarCaller->pszModule,
          pvarCaller->iLevelOwn, pvarCaller->pszName, pvarCaller->pszUser ? pvarCaller->pszUser : "");
    }
  };
  augment(table, iVar);
  if (&table == &tabPatch && varPkg.iShadow >= 0) augment(tabVoice, varPkg.iShadow);
  // Inside the package, the interface's values come from the caller.
  Var& varP = table[iVar];
  varP.pszUser = nullptr;
  FormFree(varP.pform);
  varP.pform = nullptr;
}

bool Patch::RemapToCaller(VarTable& table, Form* pform) {
  if (!pform) return false;
  if (pform->et == FormTypeFn) {
    bool bChanged = false;
    VarTable& tabArgs = pform->u.fn.pinfo == &FormFnRowSumVoices ? tabVoice : table;
    for (int i = 0; i < pform->u.fn.nArg; ++i) bChanged |= RemapToCaller(tabArgs, pform->u.fn.apformArg[i]);
    return bChanged;
  }
  if (pform->et != FormTypeRef || pform->u.iVar < 0) return false;
  Var& varIf = table[pform->u.iVar];
  if (strcmp(varIf.pszModule, "Interface") != 0 || varIf.iLevelOwn < 1) return false;
  const Layer& layer = alayer[static_cast<size_t>(varIf.iLevelOwn - 1)];
  if (layer.bPatch) return false;
  const char* qCaller = Q(layer.sCaller.c_str());
  for (int i = 0; i < table.N(); ++i) {
    Var& var = table[i];
    if (var.iLevelOwn == varIf.iLevelParent && var.pszName == varIf.pszName && var.pszModule == qCaller &&
        var.iHistory == varIf.iHistory) {
      var.bReferenced = true;
      varIf.bReferenced = true;
      pform->u.iVar = i;
      return true;
    }
  }
  // Loading always gives the caller every interface variable, so this means a broken package
  // level; the patch is refused rather than the program ended.
  ERRADD(varIf.iLine, "RemapToCaller() couldn't find %d %s", varIf.iLevelParent, varIf.pszName);
  Fail();
  return false;
}

bool Patch::ReferencesAudioRate(Form* pform, VarTable& table) {
  if (!pform) return false;
  if (pform->et == FormTypeRef) return pform->u.iVar >= 0 && table[pform->u.iVar].bAudioRate;
  if (pform->et != FormTypeFn) return false;
  VarTable& tabArgs = pform->u.fn.pinfo == &FormFnRowSumVoices ? tabVoice : table;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (ReferencesAudioRate(pform->u.fn.apformArg[i], tabArgs)) return true;
  return false;
}

namespace {

// Records that stand for the same variable, compared by their interned names and a few numbers.
// Sorted vectors of them: a compile makes a few hundred, and a hash set would allocate each.
struct RecordKey {
  uintptr_t uModule, uName;
  int a, b;
  auto operator<=>(const RecordKey&) const = default;
};

RecordKey MakeKey(const Var& var, int a, int b) {
  return {reinterpret_cast<uintptr_t>(var.pszModule), reinterpret_cast<uintptr_t>(var.pszName), a, b};
}

}  // namespace

void Patch::MakeBypassedReferencesConsistent() {
  // A folded record marks its copies in the other table and its other-level twins.
  auto twinKey = [](const Var& var) { return MakeKey(var, var.iLevel, var.iHistory); };
  std::vector<RecordKey> akeyMarked;
  for (int i = 0; i < tabVoice.N(); ++i)
    if (tabVoice[i].bReferenced) akeyMarked.push_back(twinKey(tabVoice[i]));
  std::sort(akeyMarked.begin(), akeyMarked.end());
  for (int i = 0; i < tabVoice.N(); ++i)
    if (std::binary_search(akeyMarked.begin(), akeyMarked.end(), twinKey(tabVoice[i]))) tabVoice[i].bReferenced = true;
  // Each record marks the first record of the other table that belongs to the same module copy.
  auto copyKey = [](const Var& var) { return MakeKey(var, var.iModule, var.iModulePP); };
  auto markFirst = [&](VarTable& tabFrom, VarTable& tabTo) {
    std::vector<std::pair<RecordKey, int>> aFirst;  // by key, then by index: the first comes first
    aFirst.reserve(static_cast<size_t>(tabTo.N()));
    for (int j = 0; j < tabTo.N(); ++j) aFirst.emplace_back(copyKey(tabTo[j]), j);
    std::sort(aFirst.begin(), aFirst.end());
    for (int i = 0; i < tabFrom.N(); ++i) {
      if (!tabFrom[i].bReferenced) continue;
      const RecordKey key = copyKey(tabFrom[i]);
      auto it = std::lower_bound(aFirst.begin(), aFirst.end(), std::pair<RecordKey, int>(key, -1));
      if (it != aFirst.end() && it->first == key) tabTo[it->second].bReferenced = true;
    }
  };
  markFirst(tabVoice, tabPatch);
  markFirst(tabPatch, tabVoice);
}

void Patch::FinalWiring() {
  LogStep("Rebuild apvarEvalPerPatch...");
  aiEvalPerPatch.clear();
  iOutLeft = iOutRight = -1;
  for (int i = 0; i < tabPatch.N(); ++i) {
    const Var& var = tabPatch[i];
    if (strcmp(var.pszModule, "Patch") != 0 || var.iLevel != 1 || var.iHistory) continue;
    if (strcmp(var.pszName, "Result") == 0) {
      iOutLeft = i;
      aiEvalPerPatch.push_back(i);
    } else if (strcmp(var.pszName, "Result$2") == 0 && var.pform) {
      iOutRight = i;
      aiEvalPerPatch.push_back(i);
    }
  }
  aiHistory.clear();
  for (int i = 0; i < tabPatch.N(); ++i) {
    Var& var = tabPatch[i];
    if (var.iHistory <= 0) continue;
    var.pvalue = &var.value;
    var.pvarHistoryPrev = FindRecord(tabPatch, var.pszModule, var.pszName, var.iLevel, var.iHistory - 1);
    aiHistory.push_back(i);
  }
  SortHistory(tabPatch, aiHistory);
  LogStep("Rebuild apvarEvalPerPatch...");
  for (int i = 0; i < tabPatch.N(); ++i) tabPatch[i].evalState = EvalStale;
}

void Patch::InitPerPatchModules() {
  // Modules find their variables among their own records only.
  aaiRecordsPatch.assign(apmodPatch.size(), {});
  for (int i = 0; i < tabPatch.N(); ++i)
    if (tabPatch[i].iModulePP >= 0 && tabPatch[i].iModulePP < static_cast<int>(aaiRecordsPatch.size()))
      aaiRecordsPatch[static_cast<size_t>(tabPatch[i].iModulePP)].push_back(i);
  aaiRecordsVoice.assign(amodVoice.size(), {});
  for (int i = 0; i < tabVoice.N(); ++i)
    if (tabVoice[i].iModule >= 0) aaiRecordsVoice[static_cast<size_t>(tabVoice[i].iModule)].push_back(i);
  for (size_t m = 0; m < apmodPatch.size(); ++m) apmodPatch[m]->paiRecords = &aaiRecordsPatch[m];
  for (size_t m = 0; m < apmodPatch.size(); ++m) {
    Module* pmod = apmodPatch[m];
    if (pmod->Init() != 0) ReportFailedInit(amodPatch[m]);
    pmod->Reset();
    pmod->NoteStart();
  }
}

// A module that could not be set up would be silent or wrong: the patch is refused, at the
// module's section.
void Patch::ReportFailedInit(const ModuleEntry& entry) {
  AKS(AKSWarn, AK_HERE, "Could not initialize %s", entry.pszName);
  ERRADD(entry.iLine, "Could not initialize %s", entry.pszName);
  Fail();
}

void Patch::CheckAudioRate() {
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (bool bChanged = true; bChanged;) {
      bChanged = false;
      if (ptable == &tabVoice) LogStep("Checking for audio-rate references.");
      for (int i = 0; i < ptable->N(); ++i) {
        Var& var = (*ptable)[i];
        if (var.bAudioRate || !ReferencesAudioRate(var.pform, *ptable)) continue;
        var.bAudioRate = true;
        bChanged = true;
        if (ptable == &tabVoice) AKS(AKSTrace, AK_HERE, "%s:%s references audio rate!", var.pszModule, var.pszName);
      }
    }
  }
}

void Patch::FindScopeFlag() {
  bScope = false;
  for (int i = 0; i < tabVoice.N(); ++i) {
    const Var& var = tabVoice[i];
    if (strcmp(var.pszModule, "Scope") != 0 || strcmp(var.pszName, "Bypass") != 0 || !var.pform) continue;
    bScope = var.pform->et == FormTypeNumeric && var.pform->u.value == 0;
    return;
  }
}

// Once the voices have bound their copies of per-patch module outputs, their code reads the
// per-patch records in place of the copies (FormCodeReadShadows). A record with code brings itself
// by the routine of its root node (CompileCode), so where a root changed, so does the routine: in
// the table and in every voice.
void Patch::ReadShadowsDirectly() {
  if (!bReadThrough || apvoiceAll.empty()) return;
  VarTable& tab = apvoiceAll.front()->tab;
  if (!FormCodeReadShadows(tab.Data(), tab.N())) return;
  std::vector<VarTable*> aptable = {&tabVoice};
  for (Voice* pvoice : apvoiceAll) aptable.push_back(&pvoice->tab);
  for (VarTable* ptable : aptable)
    for (int i = 0; i < ptable->N(); ++i) {
      Var& var = (*ptable)[i];
      if (var.pcode) var.pfnBring = FormCodeBring(var.pcode);
    }
}

// One array for the whole patch, so that the nodes a sample runs lie together; the trees stay
// for the dumps and for the rows the nodes leave to their own routines.
void Patch::CompileCode() {
  HoistNoteParts();
  // The tree a record's code comes from: its own, or the one its note parts were taken out of.
  auto code = [&](VarTable* ptable, int i) {
    Form* pform = ptable == &tabVoice ? apformCodeVoice[static_cast<size_t>(i)] : nullptr;
    return pform ? pform : (*ptable)[i].pform;
  };
  size_t nRoom = 0;
  for (VarTable* ptable : {&tabPatch, &tabVoice})
    for (int i = 0; i < ptable->N(); ++i) nRoom += static_cast<size_t>(FormCodeSize(code(ptable, i)));
  anodeCode.clear();
  anodeCode.reserve(nRoom);
  for (VarTable* ptable : {&tabPatch, &tabVoice})
    for (int i = 0; i < ptable->N(); ++i) {
      Var& var = (*ptable)[i];
      var.pcode = FormCompile(code(ptable, i), anodeCode);
      var.pfnBring = FormCodeBring(var.pcode);
    }
  ModuleBindOutputs(tabPatch.Data(), tabPatch.N(), aiEndPatch[EndPerNote]);
}

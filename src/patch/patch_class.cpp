// Evaluation classes: how often each variable can change, removal of what nothing needs, ordering
// of both tables by class, the update-on-MIDI lists, history wiring and the variable dumps.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "formula/errorlist.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/patch.h"

namespace {

constexpr int kMaxDepth = 100;  // class recursion beyond this is a loop through ordinary records

bool IsType(const Var& var, const char* pszType) { return var.ptype && strcmp(var.ptype->pszName, pszType) == 0; }

std::string Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  va_list args2;
  va_copy(args2, args);
  int n = vsnprintf(nullptr, 0, pszFormat, args);
  va_end(args);
  std::string s(static_cast<size_t>(n > 0 ? n : 0) + 1, 0);
  vsnprintf(s.data(), s.size(), pszFormat, args2);
  va_end(args2);
  s.resize(static_cast<size_t>(n > 0 ? n : 0));
  return s;
}

// Class 0 (unused) sorts last.
int SortKey(int iClass) { return iClass == ClassUnused ? 999 : iClass; }

}  // namespace

void Patch::ClearClassScratch(VarTable& table) {
  ++(&table == &tabPatch ? uEpochPatch_ : uEpochVoice_);
  for (int c : aiControlTouched_) abControlTouched_[c] = false;
  aiControlTouched_.clear();
}

int Patch::ComputeClass(Var* pvar, VarTable& table, int iDepth, int iBound) {
  unsigned uEpoch = &table == &tabPatch ? uEpochPatch_ : uEpochVoice_;
  if (pvar->uClassEpoch != uEpoch) {
    std::fill(std::begin(pvar->aclassCache), std::end(pvar->aclassCache), 0);
    pvar->bVisited = false;
    pvar->uClassEpoch = uEpoch;
  }
  if (pvar->aclassCache[iBound]) return pvar->aclassCache[iBound];
  if (iDepth + 4 > kMaxDepth) {
    ERRADD(pvar->iLine, "%s:%s - nesting too deep; suspect circularity", pvar->pszModule, pvar->pszName);
    Fail();
    pvar->aclassCache[iBound] = ClassConstant;
    return ClassConstant;
  }
  if (pvar->bVisited && (pvar->flags & VarFlagFeedback)) {
    pvar->aclassCache[iBound] = ClassPerSample;
    return ClassPerSample;
  }
  // A formula met again while its own class is being computed reads itself through formulas
  // alone: each formula of the loop is reported, and nothing beyond it is entered (the depth guard
  // would blame whatever it happened to reach last). A loop through a module's output is the
  // module's own feedback and is left to the output scan.
  auto itLoop = std::find(apvarComputing_.begin(), apvarComputing_.end(), pvar);
  if (pvar->pform && itLoop != apvarComputing_.end() &&
      std::all_of(itLoop, apvarComputing_.end(), [](const Var* pvarOn) { return pvarOn->pform != nullptr; })) {
    for (auto it = itLoop; it != apvarComputing_.end(); ++it)
      ERRADD((*it)->iLine, "%s:%s - nesting too deep; suspect circularity", (*it)->pszModule, (*it)->pszName);
    Fail();
    pvar->aclassCache[iBound] = ClassConstant;
    return ClassConstant;
  }
  apvarComputing_.push_back(pvar);
  pvar->bVisited = true;
  int t = std::max(pvar->evalClass, std::min(iBound, pvar->classMax));
  bool bShadow = &table == &tabVoice && pvar->iModule == -1 && pvar->iModulePP >= 0;
  if (bShadow && !IsType(*pvar, "Global") && !IsType(*pvar, "Channel")) {
    int iPP = PatchTwin(table.IndexOf(pvar));
    Var* pvarPP = iPP >= 0 ? &tabPatch[iPP] : nullptr;
    if (pvarPP) {
      t = ComputeClass(pvarPP, tabPatch, iDepth + 4, t);
    } else {
      AKS(AKSWarn, AK_HERE, "%s:%s - per-voice formula referred to per-patch module but not found", pvar->pszModule,
          pvar->pszName);
      ERRADD(pvar->iLine, "%s:%s - per-voice formula referred to per-patch module but not found", pvar->pszModule,
             pvar->pszName);
      Fail();
    }
  }
  if (pvar->pform) {
    if (pvar->pform->et == FormTypeFn) {
      const FormFnInfo* pinfo = pvar->pform->u.fn.pinfo;
      if (pinfo == &FormFnRowOncePerPatch) t = std::min(t, static_cast<int>(ClassPerPatch));
      else if (pinfo == &FormFnRowOncePerVoice) t = std::min(t, static_cast<int>(ClassPerVoice));
      else if (pinfo == &FormFnRowOncePerNote) t = std::min(t, static_cast<int>(ClassPerNote));
    }
    int iVar = table.IndexOf(pvar);
    int iFormula = FormulaClass(pvar->pform, table, iDepth + 4, t);
    pvar = &table[iVar];
    t = std::min(t, iFormula);
  } else if (pvar->pfnOutput && !pvar->bScanning && !bShadow) {
    // An output is as lively as the module computing it: every input of the module is needed.
    pvar->bScanning = true;
    int iVar = table.IndexOf(pvar);
    int iInputClass = -1;
    const char* pszModule = pvar->pszModule;
    int iLevel = pvar->iLevel;
    for (int i : InputsOf(table, *pvar)) {
      Var& var = table[i];
      int iClass = ComputeClass(&var, table, iDepth, t);
      if (strcmp(var.pszName, "Input") == 0) iInputClass = iClass;
    }
    pvar = &table[iVar];
    pvar->bScanning = false;
    if (pvar->ptype && pvar->ptype->HasAttr(AttrOutputFollows) && iInputClass >= 0) t = iInputClass;
    if (&table == &tabVoice && pvar->iModule >= 0) {
      int iHelper = amodVoice[static_cast<size_t>(pvar->iModule)].iHelper;
      if (iHelper >= 0) {
        for (int i : HelperInputs(iHelper)) {
          Var& var = tabPatch[i];
          if (var.pszModule != pszModule || var.iLevel != iLevel) continue;
          ComputeClass(&var, tabPatch, iDepth, ClassPerPatch);
        }
      }
    }
  }
  if (pvar->iHistory > 0) {
    // A history copy shifts in its variable's value every sample: the variable itself is needed,
    // with everything it reads, even when no formula names it. The copies between are kept by
    // the history-chain step; walking to depth 0 without recursion keeps deep histories cheap.
    Var* pvarNow = pvar->pvarHistoryPrev;
    while (pvarNow && pvarNow->iHistory > 0) pvarNow = pvarNow->pvarHistoryPrev;
    if (pvarNow) {
      int iVar = table.IndexOf(pvar);
      ComputeClass(pvarNow, table, iDepth + 4, t);
      pvar = &table[iVar];
    }
  }
  apvarComputing_.pop_back();
  pvar->evalClass = std::max(pvar->evalClass, t);
  pvar->aclassCache[iBound] = pvar->evalClass;
  return pvar->evalClass;
}

int Patch::FormulaClass(Form* pform, VarTable& table, int iDepth, int iBound) {
  if (!pform) return iBound;
  if (pform->et <= FormTypeKeyword) return ClassConstant;
  if (pform->et == FormTypeRef) {
    if (pform->u.iVar < 0) return iBound;
    Var* pvar = &table[pform->u.iVar];
    if (pvar->flags & VarFlagMidi) {
      int iControl = ControllerIndex(pvar->pszName);
      if (iControl < 0) {
        ERRADD(pvar->iLine, "didn't find MIDI control for %s:%s", pvar->pszModule, pvar->pszName);
      } else {
        if (!abControlTouched_[iControl]) aiControlTouched_.push_back(iControl);
        abControlTouched_[iControl] = true;
        if (&table == &tabPatch) {
          pvar->evalClass = std::max(pvar->evalClass, static_cast<int>(ClassPerPatch));
          return ClassPerPatch;
        }
        pvar->evalClass = std::max(pvar->evalClass, static_cast<int>(ClassPerNote));
        if (iControl < ControllerNoteNumber) {
          // The per-patch channel value must stay: voices read it through their copy.
          int& iPP = lookups_.aiPatchControl[static_cast<size_t>(pform->u.iVar)];
          for (int i = 0; i < tabPatch.N() && iPP == -2; ++i)
            if (tabPatch[i].pszName == pvar->pszName && tabPatch[i].ptype == pvar->ptype) iPP = i;
          if (iPP == -2) iPP = -1;
          Var* pvarPP = iPP >= 0 ? &tabPatch[iPP] : nullptr;
          if (pvarPP) {
            pvarPP->evalClass = std::max(pvarPP->evalClass, static_cast<int>(ClassConstant));
          } else {
            ERRADD(pvar->iLine, "didn't find per-patch copy of %s:%s", pvar->pszModule, pvar->pszName);
            Fail();
          }
        }
        return ClassPerNote;
      }
    }
    return ComputeClass(pvar, table, iDepth, iBound);
  }
  if (pform->et == FormTypeFn) {
    if (pform->u.fn.pinfo == &FormFnRowRandom) return iBound;
    // A call without arguments left after optimisation evaluates to a fixed value.
    if (pform->u.fn.nArg == 0) return ClassConstant;
    VarTable& tabArgs = pform->u.fn.pinfo == &FormFnRowSumVoices ? tabVoice : table;
    int iClass = ClassUnused;
    for (int i = 0; i < pform->u.fn.nArg; ++i)
      iClass = std::max(iClass, FormulaClass(pform->u.fn.apformArg[i], tabArgs, iDepth, iBound));
    return iClass;
  }
  return iBound;
}

void Patch::StartClassLookups() {
  lookups_.aiPatchTwin.assign(static_cast<size_t>(tabVoice.N()), -2);
  lookups_.aiPatchControl.assign(static_cast<size_t>(tabVoice.N()), -2);
  for (std::deque<ModuleInputs>& ainputs : lookups_.ainputs) ainputs.clear();
  lookups_.aaiHelperInputs.assign(amodPatch.size(), std::nullopt);
}

int Patch::PatchTwin(int iVoice) {
  int& iPP = lookups_.aiPatchTwin[static_cast<size_t>(iVoice)];
  if (iPP == -2) {
    const Var& var = tabVoice[iVoice];
    Var* pvarPP = FindRecord(tabPatch, var.pszModule, var.pszName, var.iLevel, var.iHistory);
    iPP = pvarPP ? tabPatch.IndexOf(pvarPP) : -1;
  }
  return iPP;
}

const std::vector<int>& Patch::InputsOf(VarTable& table, const Var& varOutput) {
  std::deque<ModuleInputs>& ainputs = lookups_.ainputs[&table == &tabPatch ? 0 : 1];
  for (const ModuleInputs& inputs : ainputs)
    if (inputs.pszModule == varOutput.pszModule && inputs.iLevel == varOutput.iLevel) return inputs.ai;
  // The module's own formulas at the output's level, not the records of user variables.
  ModuleInputs& inputs = ainputs.emplace_back(ModuleInputs{varOutput.pszModule, varOutput.iLevel, {}});
  for (int i = 0; i < table.N(); ++i) {
    const Var& var = table[i];
    if (var.pszModule != inputs.pszModule || var.iLevel != inputs.iLevel || var.iHistory || !var.pform) continue;
    if (var.flags & (VarFlagUser | VarFlagFormulaOutput)) continue;
    inputs.ai.push_back(i);
  }
  return inputs.ai;
}

const std::vector<int>& Patch::HelperInputs(int iHelper) {
  std::optional<std::vector<int>>& aiInputs = lookups_.aaiHelperInputs[static_cast<size_t>(iHelper)];
  if (!aiInputs) {
    aiInputs.emplace();
    for (int i = 0; i < tabPatch.N(); ++i) {
      const Var& var = tabPatch[i];
      if (var.iModulePP != iHelper || var.iHistory || !var.pform || (var.flags & VarFlagUser)) continue;
      aiInputs->push_back(i);
    }
  }
  return *aiInputs;
}

void Patch::RemoveUnneeded() {
  StartClassLookups();
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (int i = 0; i < ptable->N(); ++i) {
      Var& var = (*ptable)[i];
      var.evalClass = (var.flags & VarFlagAtLeastPatch) ? ClassPerPatch : ClassUnused;
      if (var.classMax == 0) var.classMax = ClassPerSample;
      if (IsType(var, "Patch") && var.iLevel == 1 && var.iHistory == 0) var.evalClass = ClassPerPatch;
    }
  }
  for (int iRoot : aiEvalPerPatch) {
    ClearClassScratch(tabPatch);
    ComputeClass(&tabPatch[iRoot], tabPatch, 0, ClassPerSample);
    if (!bCompiled) return;
  }
  for (int i = 0; i < tabVoice.N(); ++i) {
    const Var& var = tabVoice[i];
    if (var.iModule == -1) continue;
    bool bRoot = IsType(var, "Scope") || (IsType(var, "Voice") && (strcmp(var.pszName, "Finished") == 0 ||
                                                                   strcmp(var.pszName, "Result") == 0 ||
                                                                   strcmp(var.pszName, "TestAAA") == 0 ||
                                                                   strcmp(var.pszName, "TestBBB") == 0));
    if (!bRoot) continue;
    ClearClassScratch(tabVoice);
    ComputeClass(&tabVoice[i], tabVoice, 0, ClassPerSample);
    if (!bCompiled) return;
  }
  // Which controls each record's whole dependency tree reads.
  for (int i = 0; i < tabPatch.N(); ++i) {
    if (tabPatch[i].evalClass <= ClassUnused) continue;
    ClearClassScratch(tabPatch);
    int iClass = ComputeClass(&tabPatch[i], tabPatch, 0, ClassPerSample);
    if (iClass == ClassPerSample) continue;
    for (int c : aiControlTouched_) aaiMidiPatch[c].push_back(i);
  }
  // A voice's copy of a per-patch variable that is kept whatever reads it (the Patch module's) is
  // evaluated by every voice, so what its formula reads must be kept too.
  for (int i = 0; i < tabVoice.N(); ++i) {
    if (tabVoice[i].evalClass <= ClassUnused) continue;
    if (tabVoice[i].iModule == -1 && !tabVoice[i].pform) continue;
    ClearClassScratch(tabVoice);
    int iClass = ComputeClass(&tabVoice[i], tabVoice, 0, ClassPerSample);
    if (iClass == ClassPerSample) continue;
    for (int c : aiControlTouched_) aaiMidiVoice[c].push_back(i);
  }
  if (!bCompiled) return;
  // The unused copy of a user variable whose other copy is used draws no "may be typo" warning.
  for (int i = 0; i < tabPatch.N(); ++i) {
    Var& varPP = tabPatch[i];
    if (!(varPP.flags & VarFlagUser) || varPP.iShadow < 0) continue;
    Var& varShadow = tabVoice[varPP.iShadow];
    if (varShadow.evalClass && !varPP.evalClass) {
      varPP.bReferenced = true;
      AKS(AKSTrace, AK_HERE, "squashed warning for %s", varPP.pszName);
    } else if (varPP.evalClass && !varShadow.evalClass) {
      varShadow.bReferenced = true;
      AKS(AKSTrace, AK_HERE, "squashed warning for %s", varShadow.pszName);
    }
  }
  // A history copy's older depths change at least as often as it does.
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (int i = 0; i < ptable->N(); ++i) {
      Var& var = (*ptable)[i];
      if (var.iHistory <= 0 || !var.evalClass) continue;
      for (Var* pvar = var.pvarHistoryPrev; pvar && pvar->iHistory >= 1; pvar = pvar->pvarHistoryPrev) {
        pvar->evalClass = std::max(pvar->evalClass, var.evalClass);
        if (ptable == &tabVoice) AKS(AKSTrace, AK_HERE, "updated %s %s @%d", pvar->pszModule, pvar->pszName, pvar->iHistory);
      }
    }
  }
  lookups_ = {};
  AKS(AKSTrace, AK_HERE, "%s", "PRE-DELETE DUMP");
  DumpVariables();
  RemoveUnused(tabVoice, true);
  RemoveUnused(tabPatch, false);
  BindPerPatchRecords();
  AKS(AKSTrace, AK_HERE, "%s", "POST-DELETE DUMP");
  DumpVariables();
}

void Patch::RenumberReferences(Form* pform, const std::vector<int>& aiMap, const std::vector<int>& aiVoiceMap) {
  if (!pform) return;
  if (pform->et == FormTypeRef) {
    if (pform->u.iVar >= 0 && pform->u.iVar < static_cast<int>(aiMap.size())) pform->u.iVar = aiMap[static_cast<size_t>(pform->u.iVar)];
    return;
  }
  if (pform->et != FormTypeFn) return;
  const std::vector<int>& aiArgMap = pform->u.fn.pinfo == &FormFnRowSumVoices ? aiVoiceMap : aiMap;
  for (int i = 0; i < pform->u.fn.nArg; ++i) RenumberReferences(pform->u.fn.apformArg[i], aiArgMap, aiVoiceMap);
}

void Patch::RemoveUnused(VarTable& table, bool bPerVoice) {
  int n = table.N();
  std::vector<int> aiOrder(static_cast<size_t>(n));
  std::iota(aiOrder.begin(), aiOrder.end(), 0);
  std::vector<int> aiKey(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    table[i].iOrig = i;
    aiKey[static_cast<size_t>(i)] = SortKey(table[i].evalClass);
  }
  std::stable_sort(aiOrder.begin(), aiOrder.end(),
                   [&](int a, int b) { return aiKey[static_cast<size_t>(a)] < aiKey[static_cast<size_t>(b)]; });
  auto sorted = [&](int iNew) -> Var& { return table[aiOrder[static_cast<size_t>(iNew)]]; };
  std::vector<int> aiMap(static_cast<size_t>(n));
  for (int iNew = 0; iNew < n; ++iNew) aiMap[static_cast<size_t>(aiOrder[static_cast<size_t>(iNew)])] = iNew;
  if (bPerVoice) aiVoiceMap_ = aiMap;
  int* aiEnd = bPerVoice ? aiEndVoice : aiEndPatch;
  for (int k = 0; k < ClassEndCount; ++k) {  // aiEnd[k] ends the class ClassConstant + k
    int iEnd = 0;
    while (iEnd < n && sorted(iEnd).evalClass != ClassUnused && sorted(iEnd).evalClass <= ClassConstant + k) ++iEnd;
    aiEnd[k] = iEnd;
  }
  int nUsed = 0;
  while (nUsed < n && sorted(nUsed).evalClass != ClassUnused) ++nUsed;
  // The unused records, in their new order, are checked where they stand: only the used ones
  // move, since the rest is cut off.
  for (int i = nUsed; i < n; ++i) {
    Var& var = sorted(i);
    if (!IsType(var, "Interface") && !IsType(var, "Sub") && (var.flags & VarFlagUser) && !var.bReferenced)
      ERRADD(var.iLine, "%s:%s - variable isn't used and isn't input or output; may be typo", var.pszModule,
             var.pszName);
    // A voice's copy of a per-patch variable is checked with the original.
    bool bShadow = bPerVoice && var.iModule == -1;
    if (var.ptype && var.pform && var.pform->et == FormTypeNumeric && !var.iHistory && !bShadow)
      var.ptype->CheckConstant(var, var.pform->u.value);
    FormFree(var.pform);
    var.pform = nullptr;
  }
  std::vector<Var> avarUsed;
  avarUsed.reserve(static_cast<size_t>(nUsed));
  for (int i = 0; i < nUsed; ++i) avarUsed.push_back(sorted(i));
  for (int i = 0; i < nUsed; ++i) {
    table[i] = avarUsed[static_cast<size_t>(i)];
    RenumberReferences(table[i].pform, aiMap, aiVoiceMap_);
  }
  // The per-patch records' shadow indices follow the per-voice order.
  if (!bPerVoice) {
    for (int i = 0; i < nUsed; ++i) {
      int& iShadow = table[i].iShadow;
      if (iShadow >= 0 && iShadow < static_cast<int>(aiVoiceMap_.size()))
        iShadow = aiVoiceMap_[static_cast<size_t>(iShadow)] < tabVoice.N() ? aiVoiceMap_[static_cast<size_t>(iShadow)] : -1;
    }
  }
  table.Truncate(nUsed);
  for (std::vector<int>& ai : bPerVoice ? aaiMidiVoice : aaiMidiPatch) {
    for (int& i : ai) i = aiMap[static_cast<size_t>(i)];
    ai.erase(std::remove_if(ai.begin(), ai.end(), [&](int i) { return i >= nUsed; }), ai.end());
  }
}

void Patch::SortHistory(VarTable& table, std::vector<int>& aiHistory) {
  std::stable_sort(aiHistory.begin(), aiHistory.end(), [&](int a, int b) {
    const Var& va = table[a];
    const Var& vb = table[b];
    if (int i = strcmp(va.pszModule, vb.pszModule)) return i < 0;
    if (int i = strcmp(va.pszName, vb.pszName)) return i < 0;
    return va.iHistory > vb.iHistory;
  });
}

std::string Patch::DumpText() {
  std::string s;
  auto line = [&](const std::string& sLine) { s += sLine + "\n"; };
  auto midiLists = [&](std::vector<int>* aai, VarTable& table) {
    for (int c = 0; c < ControllerCount; ++c) {
      if (aai[c].empty()) continue;
      std::string sList;
      for (int i : aai[c])
        if (i < table.N()) sList += Format("%s:%s ", table[i].pszModule, table[i].pszName);
      line(Format("%-20.20s: %s", ControllerName(c), sList.c_str()));
    }
  };
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    VarTable& table = *ptable;
    bool bPatch = ptable == &tabPatch;
    line("");
    line(bPatch ? "PER-PATCH VARIABLES ********************************************"
                : "PER-VOICE VARIABLES ********************************************");
    line(Format("      Va Fo Su     %-14s   %-14s %-20s %-20s %s", "Module", "Variable", "Default Formula",
                "User Formula", "Decompiled"));
    int anClass[6] = {};
    // The note parts of per-sample formulas are the compiler's own: the formulas show whole.
    const int n = bPatch || apformCodeVoice.empty() ? table.N() : iNotePartsVoice;
    for (int i = 0; i < n; ++i) {
      const Var& var = table[i];
      anClass[std::clamp(var.evalClass, 0, 5)]++;
      if (strcmp(var.pszModule, "Channel") == 0 || strcmp(var.pszModule, "Tuning") == 0) continue;
      bool bPerPatchModule = var.iModulePP >= 0;
      std::string sName = var.iHistory ? Format("%s @%d", var.pszName, var.iHistory) : std::string(var.pszName);
      std::string sForm = var.pform ? FormToText(var.pform, table.Data(), tabVoice.Data()) : "";
      line(Format("%4d %2d %2d %2d %s%2d %-14s %c %-14s %-20s %-20s %-20s %s", var.iOrig, var.iLevel, var.iLevelOwn,
                  var.iLevelParent, bPerPatchModule ? "PP" : "  ", bPerPatchModule ? var.iModulePP : var.iModule,
                  var.pszModule, EvalClassLetters[std::clamp(var.evalClass, 0, 5)], sName.c_str(),
                  var.pszDefault ? var.pszDefault : "", var.pszUser ? var.pszUser : "", sForm.c_str(),
                  var.bAudioRate ? " AUDIO" : ""));
    }
    line("");
    line(Format("Unused: %d Constant: %d Per-Patch: %d Per-Voice: %d Per-Note: %d Per-Sample: %d", anClass[0],
                anClass[1], anClass[2], anClass[3], anClass[4], anClass[5]));
    line("");
    if (bPatch) {
      midiLists(aaiMidiPatch, tabPatch);
    } else {
      line("");
      line("Update-on-MIDI variables (which doesn't include controllers in variables that are updated every sample, "
           "so not all controllers are listed)");
      midiLists(aaiMidiVoice, tabVoice);
      line("");
    }
  }
  return s;
}

void Patch::DumpVariables() {
  // The dump is for developers; formatting it costs nothing when the log does not want it.
  if (!AKSGetActions(AKSStatus)) return;
  std::string s = DumpText();
  size_t iStart = 0;
  while (iStart < s.size()) {
    size_t iEnd = s.find('\n', iStart);
    AKS(AKSStatus, AK_HERE, "%s", s.substr(iStart, iEnd - iStart).c_str());
    iStart = iEnd + 1;
  }
}

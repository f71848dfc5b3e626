// Voices: creation from the patch's per-voice table, note start and release, per-sample work.
#include "patch/voice.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "foundation/akstatus.h"
#include "patch/structural.h"

namespace {

VoiceScopeCallback g_pfnScope = nullptr;
void* g_pvScopeArg = nullptr;
bool g_bScopeWanted = false;

bool IsType(const Var& var, const char* pszType) { return var.ptype && strcmp(var.ptype->pszName, pszType) == 0; }

}  // namespace

void VoiceSetScopeCallback(VoiceScopeCallback pfn, void* pvArg, bool bWanted) {
  g_pfnScope = pfn;
  g_pvScopeArg = pvArg;
  g_bScopeWanted = bWanted;
}

void VoiceGetScopeCallback(VoiceScopeCallback* ppfn, void** ppvArg, bool* pbWanted) {
  *ppfn = g_pfnScope;
  *ppvArg = g_pvScopeArg;
  *pbWanted = g_bScopeWanted;
}

Voice::Voice(Patch* ppatch_, int iNum) : ppatch(ppatch_), voiceNum(iNum) {
  Patch& patch = *ppatch;
  VarTable& tabPatchVoice = patch.tabVoice;
  int n = tabPatchVoice.N();
  tab.Reserve(n);
  for (int i = 0; i < n; ++i) tab.Append(tabPatchVoice[i]);
  // Step 1: the records the voice itself needs.
  for (int i = 0; i < n; ++i) {
    Var& var = tab[i];
    if (var.iModule < 0 || var.evalClass <= ClassPerPatch) continue;
    if (strcmp(var.pszModule, "Voice") == 0 && strcmp(var.pszName, "Finished") == 0 && IsType(var, "Voice"))
      iFinished = i;
    if (IsType(var, "Scope") && patch.bScope) aiProbe.push_back(i);
    if (iNum == 0 && strcmp(var.pszName, "TestAAA") == 0) iTestAAA = i;
    if (iNum == 0 && strcmp(var.pszName, "TestBBB") == 0) iTestBBB = i;
  }
  if (iFinished >= 0) iFinishedNamed = patch.NamedRecordVoice(iFinished);
  for (int i = 0; i < n; ++i) {
    Var& var = tab[i];
    if (!IsType(var, "Note") || strcmp(var.pszName, "VoiceNum") != 0) continue;
    if (var.pform) ERRADD(var.iLine, "%s:%s - VoiceNum form set??  overriding!", var.pszModule, var.pszName);
    var.pform = FormNewConstant(FormTypeNumeric, iNum);
    var.pcode = nullptr;
    var.pfnBring = FormRefBring;
    apformOwn_.push_back(var.pform);
  }
  // Step 2: the modules.
  apmod.assign(patch.amodVoice.size(), nullptr);
  for (size_t m = 0; m < patch.amodVoice.size(); ++m) {
    const Patch::ModuleEntry& entry = patch.amodVoice[m];
    int iFirst = -1;
    for (int i = 0; i < n && iFirst < 0; ++i)
      if (tab[i].iModule == static_cast<int>(m)) iFirst = i;
    if (iFirst < 0) {
      if (!entry.ptype->HasAttr(AttrQuietUnused)) ERRADD(-1, "module %s unused", entry.pszName);
      continue;
    }
    Module* pmodHelper = entry.iHelper >= 0 && entry.iHelper < static_cast<int>(patch.apmodPatch.size())
                             ? patch.apmodPatch[static_cast<size_t>(entry.iHelper)]
                             : nullptr;
    Module* pmod = entry.ptype->Create(entry.pszName, ppatch, this, false, tab[iFirst].iLevel, pmodHelper);
    pmod->pclock = &dTime;
    pmod->ppavarTable = tab.PData();
    pmod->puRandom = &patch.uRandomState;
    if (m < patch.aaiRecordsVoice.size()) pmod->paiRecords = &patch.aaiRecordsVoice[m];
    apmod[m] = pmod;
    const char* pszType = entry.ptype->pszName;
    if (strcmp(pszType, "Note") == 0 && !pmodNote) pmodNote = static_cast<ModNote*>(pmod);
    if (strcmp(pszType, "Voice") == 0 && !pmodVoice) {
      pmodVoice = static_cast<ModVoice*>(pmod);
      pdFinished_ = &pmodVoice->v.dFinished;
    }
    if (strcmp(pszType, "Scope") == 0 && !pmodScope) pmodScope = pmod;
    if (entry.ptype->HasAttr(AttrFeedbackStep)) apmodDelay.push_back(pmod);
  }
  // Step 3: bind every record to its storage.
  for (int i = 0; i < n; ++i) {
    Var& var = tab[i];
    var.avarTable = tab.Data();
    if (var.iModule >= 0) {
      var.pmodule = apmod[static_cast<size_t>(var.iModule)];
    } else if (var.iModulePP >= 0 && var.iModulePP < static_cast<int>(patch.apmodPatch.size())) {
      var.pmodule = patch.apmodPatch[static_cast<size_t>(var.iModulePP)];
    } else {
      AKS(AKSWarn, AK_HERE, "var->iModule and iModulePP both -1 for %s:%s", var.pszModule, var.pszName);
      var.pmodule = nullptr;
    }
    if (var.iOffset >= 0 && var.pmodule) {
      var.pvalue = var.pmodule->VarStorage(var.iOffset);
    } else {
      var.pvalue = &var.value;
      var.type = FormTypeNumeric;
    }
  }
  ModuleBindOutputs(tab.Data(), n, patch.aiEndVoice[Patch::EndPerNote]);
  ModuleBindShadows(tab.Data(), n, patch.aiEndVoice[Patch::EndPerNote], patch.tabPatch.Data(), patch.tabPatch.N(),
                    patch.aiEndPatch[Patch::EndPerNote]);
  // Step 4: initialise.
  MarkStale(0, n);
  for (size_t m = 0; m < apmod.size(); ++m)
    if (apmod[m] && apmod[m]->Init() != 0) aiInitFailed.push_back(static_cast<int>(m));
  if (pmodNote) pmodNote->v.dVoiceNum = iNum;
  // Step 5: constants and per-patch values, computed once by the first voice and copied by the rest.
  int iEndPerPatch = patch.aiEndVoice[Patch::EndPerPatch];
  if (iNum == 0 || patch.apvoiceFree.empty()) {
    MarkStale(0, n);
    for (int i = 0; i < iEndPerPatch; ++i) FormVarEval(&tab[i]);
  } else {
    Voice* pvoiceFrom = patch.apvoiceFree.front();
    for (int i = 0; i < iEndPerPatch; ++i) {
      Var& var = tab[i];
      const Var& varFrom = pvoiceFrom->tab[i];
      if (IsType(var, "Note") && strcmp(var.pszName, "VoiceNum") == 0) continue;
      if (varFrom.evalState != EvalCurrent) {
        ERRADD(var.iLine, "%s:%s - per-voice variable but not yet evaluated; treating as per-note", var.pszModule,
               var.pszName);
        continue;
      }
      if (var.type != FormTypeNumeric && var.type != FormTypeString && var.type != FormTypeBoolean &&
          var.type != FormTypeKeyword) {
        ERRADD(var.iLine, "%s:%s - unknown type %d", var.pszModule, var.pszName, var.type);
        continue;
      }
      *var.pvalue = *varFrom.pvalue;
      var.evalState = EvalCurrent;
    }
  }
  // Step 6: history copies keep their values in their own records; a per-patch variable's
  // history is the per-patch copy's.
  for (int i = 0; i < n; ++i) {
    Var& var = tab[i];
    if (var.iHistory <= 0) continue;
    aiHistory.push_back(i);
    var.pvalue = &var.value;
    if (var.iModule < 0) {
      const Var* pvarPP = nullptr;
      for (int j = 0; j < patch.tabPatch.N() && !pvarPP; ++j) {
        const Var& varPP = patch.tabPatch[j];
        if (varPP.pszModule == var.pszModule && varPP.pszName == var.pszName && varPP.iLevelOwn == var.iLevelOwn &&
            varPP.iHistory == var.iHistory)
          pvarPP = &varPP;
      }
      // A history that only voices read (Channel:ModWheel@1 in a voice's formula) has no
      // per-patch copy: each voice keeps it from its own copy of the value, sample by sample.
      if (pvarPP) var.pvalue = pvarPP->pvalue;
      else AKS(AKSTrace, AK_HERE, "%s:%s@%d kept by the voice", var.pszModule, var.pszName, var.iHistory);
    }
    var.pvarHistoryPrev = nullptr;
    for (int j = 0; j < n; ++j) {
      Var& varPrev = tab[j];
      if (varPrev.pszModule == var.pszModule && varPrev.pszName == var.pszName && varPrev.iLevel == var.iLevel &&
          varPrev.iHistory == var.iHistory - 1) {
        var.pvarHistoryPrev = &varPrev;
        break;
      }
    }
    // A broken history chain is a compiler fault; it refuses the patch instead of ending the
    // program (and with it an editing session).
    if (!var.pvarHistoryPrev) {
      ERRADD(var.iLine, "can't set pvarHistoryPrev for <%d>%s:%s@%d", var.iLevel, var.pszModule, var.pszName,
             var.iHistory);
      bHistoryBroken = true;
    }
  }
  Patch::SortHistory(tab, aiHistory);
  Reset();
}

Voice::~Voice() {
  for (auto it = apmod.rbegin(); it != apmod.rend(); ++it) delete *it;
  for (Form* pform : apformOwn_) FormFree(pform);
}

void Voice::MarkStale(int iFrom, int iTo) { FormMarkStale(tab.Data(), iFrom, iTo); }

void Voice::ForgetNoteParts() {
  MarkStale(ppatch->iNotePartsVoice, tab.N());
  Wake();
}

void Voice::AskRest(Module* pmod) {
  for (size_t m = 0; m < apmod.size(); ++m) {
    if (apmod[m] != pmod) continue;
    bAnyRest_ = true;
    if (m < ppatch->aaiRestVoice.size() && !ppatch->aaiRestVoice[m].empty() && aiRestAsked_.size() < aiRestAsked_.capacity())
      aiRestAsked_.push_back(static_cast<int>(m));
    return;
  }
}

void Voice::WakeNow() {
  if (!bAnyRest_) return;
  bAnyRest_ = false;
  aiRestAsked_.clear();
  aiResting_.clear();
  apvarStale_.clear();
  for (Module* pmod : apmod)
    if (pmod) pmod->bRestAsked = false;
}

void Voice::ReserveRest(size_t nRecords) {
  aiRestAsked_.reserve(apmod.size());
  aiResting_.reserve(nRecords);
  apvarStale_.reserve(static_cast<size_t>(ppatch->iNotePartsVoice - ppatch->aiEndVoice[Patch::EndPerNote]));
}

void Voice::MarkStaleListed() {
  Var* const* ppvar = apvarStale_.data();
  Var* const* const ppvarEnd = ppvar + apvarStale_.size();
  for (; ppvarEnd - ppvar >= 4; ppvar += 4)
    ppvar[0]->evalState = ppvar[1]->evalState = ppvar[2]->evalState = ppvar[3]->evalState = EvalStale;
  for (; ppvar < ppvarEnd; ++ppvar) (*ppvar)->evalState = EvalStale;
}

void Voice::SettleRest() {
  const Var* avar = tab.Data();
  for (int m : aiRestAsked_)
    for (int i : ppatch->aaiRestVoice[static_cast<size_t>(m)])
      if (avar[i].evalState == EvalCurrent && aiResting_.size() < aiResting_.capacity()) aiResting_.push_back(i);
  aiRestAsked_.clear();
  if (aiResting_.empty()) return;
  std::sort(aiResting_.begin(), aiResting_.end());
  aiResting_.erase(std::unique(aiResting_.begin(), aiResting_.end()), aiResting_.end());
  apvarStale_.clear();
  auto itResting = aiResting_.begin();
  for (int i = ppatch->aiEndVoice[Patch::EndPerNote]; i < ppatch->iNotePartsVoice; ++i) {
    if (itResting != aiResting_.end() && *itResting == i) ++itResting;
    else apvarStale_.push_back(tab.Data() + i);
  }
}

double Voice::NoteNumber() const {
  if (Fading()) return iPendingNote_;
  return pmodNote ? pmodNote->v.dNoteNumber : -1;
}

bool Voice::Released() const {
  if (bFadedOut_) return true;
  if (Fading()) return iPendingNote_ < 0 || dPendingOff_ >= 0;
  return pmodNote && pmodNote->v.dNoteOff != 0;
}

void Voice::FadeInto(int nFrames, int iNote, double dVelocity, int iIndex) {
  if (!Fading()) {
    nFadeLeft_ = nFadeFrames_ = nFrames;
    dFadeGain = static_cast<double>(nFadeLeft_) / (nFadeFrames_ + 1);
  }
  iPendingNote_ = iNote;
  dPendingVelocity_ = dVelocity;
  iPendingIndex_ = iIndex;
  dPendingOff_ = -1;
}

void Voice::FadeOut(int nFrames) {
  if (!Fading()) FadeInto(nFrames, -1, 0, 0);
  iPendingNote_ = -1;
}

void Voice::StepFade() {
  if (!Fading()) return;
  dFadeGain = static_cast<double>(--nFadeLeft_) / (nFadeFrames_ + 1);
  if (Fading()) return;
  if (iPendingNote_ < 0) {
    bFadedOut_ = true;
    return;
  }
  dFadeGain = 1;
  NoteOn(iPendingNote_, dPendingVelocity_, iPendingIndex_);
  if (dPendingOff_ >= 0) NoteOff(dPendingOff_);
  iPendingNote_ = -1;
}

void Voice::Reset() {
  Wake();
  nFadeLeft_ = 0;
  bFadedOut_ = false;
  dFadeGain = 1;
  iPendingNote_ = -1;
  for (int i : aiHistory) tab[i].value = 0;
  for (Module* pmod : apmod)
    if (pmod) pmod->Reset();
}

void Voice::NoteOn(int iNote, double dVelocity, int iIndex) {
  if (Fading()) {  // taken again while it fades: the new note replaces the one it would start
    FadeInto(nFadeFrames_, iNote, dVelocity, iIndex);
    return;
  }
  bFadedOut_ = false;
  dFadeGain = 1;
  dSample = dTime = 0;
  MarkStale(ppatch->aiEndVoice[Patch::EndPerVoice], ppatch->aiEndVoice[Patch::EndPerNote]);
  ForgetNoteParts();
  if (!pmodVoice) AKS(AKSFatal, AK_HERE, "%s", "no [Voice] section found: needed to set output and finish voice");
  if (pmodNote) {
    NoteVars& v = pmodNote->v;
    v.dNoteNumber = iNote;
    v.dVoicePerNote = iIndex;
    v.dVelocity = v.dOrigVelocity = dVelocity;
    v.dRelVelocity = 0;
    v.dPolyPressure = 0;
    v.dNoteOn = 1;
    v.dNoteOff = 0;
  }
  // A voice taken while it still sounds starts over; a finished one was reset when it retired.
  if (pmodVoice && pmodVoice->v.dFinished == 0)
    for (Module* pmod : apmod)
      if (pmod) pmod->Reset();
  for (Module* pmod : apmod)
    if (pmod) pmod->NoteStart();
}

void Voice::Retarget(int iNote, double dVelocity, int iIndex) {
  if (Fading()) {
    if (iPendingNote_ >= 0) FadeInto(nFadeFrames_, iNote, dVelocity, iIndex);
    return;
  }
  if (pmodNote) {
    pmodNote->v.dNoteNumber = iNote;
    pmodNote->v.dVelocity = dVelocity;
    pmodNote->v.dVoicePerNote = iIndex;
  }
  for (int iControl : {ControllerNoteNumber, ControllerVelocity, ControllerVoicePerNote}) Refresh(iControl);
}

void Voice::PolyPressure(double dValue) {
  if (pmodNote) pmodNote->v.dPolyPressure = dValue;
  Refresh(ControllerPolyPressure);
}

void Voice::NoteOff(double dVelocity) {
  if (Fading()) {
    if (iPendingNote_ >= 0) dPendingOff_ = dVelocity;
    return;
  }
  if (pmodNote) {
    pmodNote->v.dRelVelocity = dVelocity;
    pmodNote->v.dNoteOff = 1;
  }
  Refresh(ControllerNoteOff);
}

void Voice::Refresh(int iControl) {
  if (iControl < 0 || iControl >= ControllerCount) return;
  const std::vector<int>& ai = ppatch->aaiMidiVoice[iControl];
  ForgetNoteParts();
  for (int i : ai) tab[i].evalState = EvalStale;
  for (int i : ai)
    if (tab[i].evalState == EvalStale) FormVarEval(&tab[i]);
}

void Voice::RenderSample(bool bFirst) {
  dTime = dSample / ppatch->pengine->dFreqEval;
  if (pmodNote) {
    pmodNote->v.dSample = dSample;
    pmodNote->v.dTime = dTime;
  }
  if (bWakeWanted_.load(std::memory_order_relaxed) && bWakeWanted_.exchange(false, std::memory_order_acq_rel)) WakeNow();
  if (!aiRestAsked_.empty()) SettleRest();
  if (aiResting_.empty()) MarkStale(ppatch->aiEndVoice[Patch::EndPerNote], ppatch->iNotePartsVoice);
  else
    MarkStaleListed();
  if (iFinished >= 0) {
    Var* pvar = tab.Data() + iFinished;
    if (iFinishedNamed >= 0 && pvar->evalState == EvalStale) {
      Var* pvarNamed = tab.Data() + iFinishedNamed;
      FormVarEval(pvarNamed);
      *pvar->pvalue = *pvarNamed->pvalue;
      pvar->evalState = EvalCurrent;
    } else {
      FormVarEval(pvar);
    }
  }
  if (bFirst && (ppatch->bScope || g_bScopeWanted) && g_pfnScope) {
    for (int i : aiProbe) FormVarEval(&tab[i]);
    g_pfnScope(this, g_pvScopeArg);
  }
  if (dSample == 1 && pmodNote && pmodNote->v.dNoteOn != 0) {
    pmodNote->v.dNoteOn = 0;
    Refresh(ControllerNoteOn);
  }
}

double Voice::Eval(Form* pform) {
  // What the voice sums read is mostly one record of each voice (Voice:Result).
  if (pform->et == FormTypeRef && pform->u.iVar >= 0) return FormRefValue(tab.Data(), pform->u.iVar);
  double d = 0;
  FormEval(pform, tab.Data(), &d);
  return d;
}

void Voice::EndSampleWork() {
  for (Module* pmod : apmodDelay) pmod->FeedbackStep();
  dSample += 1;
  for (int i : aiHistory) {
    Var& var = tab[i];
    if (!var.pvarHistoryPrev) continue;
    if (var.pvarHistoryPrev->iHistory == 0) FormVarEval(var.pvarHistoryPrev);
    *var.pvalue = *var.pvarHistoryPrev->pvalue;
  }
}

void Voice::TimeTrial() {
  AKS(AKSTrace, AK_HERE, "%s", "Running Time Trial");
  double dRate = ppatch->pengine->dFreqEval;
  auto loop = [&](int iVar, bool bMoveClock) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point tStart = Clock::now();
    Var& var = tab[iVar];
    for (int iRound = 0; iRound < 10000000; ++iRound) {
      if (bMoveClock) {
        dSample = iRound;
        dTime = iRound / dRate;
      }
      MarkStale(ppatch->aiEndVoice[Patch::EndPerNote], ppatch->iNotePartsVoice);
      if (var.evalState == EvalStale && var.pform) {
        double dScratch;
        var.evalState = EvalBusy;
        FormEval(var.pform, tab.Data(), &dScratch);
        var.evalState = EvalCurrent;
      }
    }
    return std::chrono::duration<double>(Clock::now() - tStart).count();
  };
  double dBase = loop(iTestAAA, false);
  double dA = loop(iTestAAA, true);
  double dB = loop(iTestBBB, true);
  AKS(AKSStatus, AK_HERE, "baseline = %f A = %f B = %f", dBase, dA, dB);
  AKS(AKSStatus, AK_HERE, "A time is  %f%% of B", (dA - dBase) / (dB - dBase) * 100);
  iTestAAA = iTestBBB = -1;
}

void Voice::DumpTable(VarTable& table) {
  for (int i = 0; i < table.N(); ++i) {
    const Var& var = table[i];
    const char* pszState = var.evalState == EvalStale  ? " (Not Evaluated)"
                           : var.evalState == EvalBusy ? " (Evaluating) (shouldn't happen?!)"
                                                       : "";
    double d = var.pvalue ? *var.pvalue : var.value;
    char sz[32];
    switch (var.type) {
      case FormTypeString:
        AKS(AKSTrace, AK_HERE, "%-15.15s %-15.15s %d \"%s\"%s", var.pszModule, var.pszName, var.iLevelOwn,
            var.evalState == EvalCurrent ? FormStringText(d) : "Not Evaluated", pszState);
        break;
      case FormTypeBoolean:
        AKS(AKSTrace, AK_HERE, "%-15.15s %-15.15s %d %s%s", var.pszModule, var.pszName, var.iLevelOwn,
            d != 0 ? "true" : "false", pszState);
        break;
      case FormTypeKeyword:
        AKS(AKSTrace, AK_HERE, "%-15.15s %-15.15s %d %s%s", var.pszModule, var.pszName, var.iLevelOwn,
            FormEnumName(static_cast<int>(d), sz, sizeof sz), pszState);
        break;
      default:
        AKS(AKSTrace, AK_HERE, "%-15.15s %-15.15s %d %g%s", var.pszModule, var.pszName, var.iLevelOwn, d, pszState);
    }
  }
}

void Voice::Dump() {
  AKS(AKSTrace, AK_HERE, "%s", "Per Patch ====================================================================");
  DumpTable(ppatch->tabPatch);
  AKS(AKSTrace, AK_HERE, "%s", "Per Voice ====================================================================");
  DumpTable(tab);
  AKS(AKSTrace, AK_HERE, "%s", "");
}

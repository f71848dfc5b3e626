// Voices brought together. A voice sum reads one record of every voice; where that record's
// formula reads, early on, the output of a module kind that computes several voices at once (the
// MoogDirty ladder steps eight ladders in one pass, oscillators go four to a vector), the sum first
// brings what the formula reads for all voices, record by record, and then reads its record in each
// voice as before. A module whose computation always reads one input first (a ladder's Input) gets
// that input brought for all voices the same way before it computes. Each voice still brings its
// records in the order it would alone; only the voices' turns interleave, which changes nothing as
// long as the voices share no state (PlanAcross checks that once).
#include <cstring>
#include <vector>

#include "formula/formeval.h"
#include "formula/formfn.h"
#include "foundation/akstatus.h"
#include "patch/module.h"
#include "patch/patch.h"
#include "patch/voice.h"

namespace {

// Whether a tree calls the row anywhere inside it.
bool Calls(const Form* pform, const FormFnInfo& info) {
  if (!pform || pform->et != FormTypeFn) return false;
  if (pform->u.fn.pinfo == &info) return true;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (Calls(pform->u.fn.apformArg[i], info)) return true;
  return false;
}

// Whether a per-patch tree reads a per-patch record marked in ab (a voice sum's argument is a
// voice's record: Calls finds the sum itself).
bool Reads(const Form* pform, const std::vector<char>& ab) {
  if (!pform) return false;
  if (pform->et == FormTypeRef)
    return pform->u.iVar >= 0 && pform->u.iVar < static_cast<int>(ab.size()) && ab[static_cast<size_t>(pform->u.iVar)];
  if (pform->et != FormTypeFn || pform->u.fn.pinfo == &FormFnRowSumVoices) return false;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (Reads(pform->u.fn.apformArg[i], ab)) return true;
  return false;
}

bool IsPatchModule(const Var& var) { return strcmp(var.pszModule, "Patch") == 0; }

// The voice sums' arguments that are one voice record each, by that record's index.
void SumArguments(const Form* pform, std::vector<int>& aiVar) {
  if (!pform || pform->et != FormTypeFn) return;
  if (pform->u.fn.pinfo == &FormFnRowSumVoices && pform->u.fn.nArg == 1) {
    const Form* pformArg = pform->u.fn.apformArg[0];
    if (pformArg->et == FormTypeRef && pformArg->u.iVar >= 0) aiVar.push_back(pformArg->u.iVar);
  }
  for (int i = 0; i < pform->u.fn.nArg; ++i) SumArguments(pform->u.fn.apformArg[i], aiVar);
}

// Whether bringing record iVar of a voice can bring a record for which bTarget(record, index)
// holds: through the formulas it reads and the inputs of the modules it computes, to any depth.
template <class Target>
bool Reaches(const VarTable& tab, const std::vector<std::vector<int>>& aaiRecords, int iVar, const Target& bTarget,
             std::vector<char>& abSeen) {
  if (iVar < 0 || iVar >= tab.N() || abSeen[static_cast<size_t>(iVar)]) return false;
  abSeen[static_cast<size_t>(iVar)] = 1;
  const Var& var = tab[iVar];
  if (bTarget(var, iVar)) return true;
  if (var.pfnOutput && var.iModule >= 0 && static_cast<size_t>(var.iModule) < aaiRecords.size())
    for (int i : aaiRecords[static_cast<size_t>(var.iModule)])
      if (Reaches(tab, aaiRecords, i, bTarget, abSeen)) return true;
  std::vector<const Form*> apform = {var.pform};
  while (!apform.empty()) {
    const Form* pform = apform.back();
    apform.pop_back();
    if (!pform) continue;
    if (pform->et == FormTypeRef && Reaches(tab, aaiRecords, pform->u.iVar, bTarget, abSeen)) return true;
    if (pform->et == FormTypeFn)
      for (int i = 0; i < pform->u.fn.nArg; ++i) apform.push_back(pform->u.fn.apformArg[i]);
  }
  return false;
}

}  // namespace

bool Patch::bReadThrough = true;

bool Patch::VoiceRecordReaches(int iFrom, int iTo) {
  std::vector<char> abSeen(static_cast<size_t>(tabVoice.N()));
  return Reaches(tabVoice, aaiRecordsVoice, iFrom, [iTo](const Var&, int i) { return i == iTo; }, abSeen);
}

int Patch::NamedRecordVoice(int iVar) {
  if (!bReadThrough || iVar < 0 || iVar >= tabVoice.N()) return -1;
  const Var& var = tabVoice[iVar];
  const int iNamed = var.pform && var.pform->et == FormTypeRef ? var.pform->u.iVar : -1;
  if (iNamed < 0 || iNamed >= tabVoice.N() || var.iHistory || tabVoice[iNamed].iHistory ||
      tabVoice[iNamed].type != var.type || VoiceRecordReaches(iNamed, iVar))
    return -1;
  return iNamed;
}

// Voices share state where they draw from the patch's random generator (which voice draws first
// decides who gets which number), or where a voice's evaluation can run a voice sum, which reads
// the other voices' records while they would be half brought.
bool Patch::VoicesShareState() {
  for (VarTable* ptab : {&tabPatch, &tabVoice})
    for (int i = 0; i < ptab->N(); ++i)
      if (Calls((*ptab)[i].pform, FormFnRowRandom)) return true;
  for (const std::vector<ModuleEntry>* pamod : {&amodPatch, &amodVoice})
    for (const ModuleEntry& entry : *pamod)
      if (entry.ptype && entry.ptype->HasAttr(AttrDrawsRandom)) return true;
  for (int i = 0; i < tabVoice.N(); ++i)
    if (Calls(tabVoice[i].pform, FormFnRowSumVoices)) return true;
  // A voice runs a per-patch module when it reads its output: none may read a voice sum, also
  // through other per-patch records. The patch's own records (VoiceOutput, Result) are evaluated
  // once a frame, outside the voices: they may, and the search goes on through them.
  const int n = tabPatch.N();
  std::vector<char> abReaches(static_cast<size_t>(n));
  for (bool bChanged = true; bChanged;) {
    bChanged = false;
    for (int i = 0; i < n; ++i) {
      const Var& var = tabPatch[i];
      if (abReaches[static_cast<size_t>(i)] || !var.pform) continue;
      if (!Calls(var.pform, FormFnRowSumVoices) && !Reads(var.pform, abReaches)) continue;
      if (!IsPatchModule(var)) return true;
      abReaches[static_cast<size_t>(i)] = 1;
      bChanged = true;
    }
  }
  return false;
}

// Plans a record; true where it leads to a module output computed for voices together.
bool Patch::PlanRecordAcross(int iVar, std::vector<char>& abVisiting) {
  Voice* pvoice = apvoiceAll.front();
  const size_t u = static_cast<size_t>(iVar);
  if (iVar < 0 || iVar >= pvoice->tab.N() || abVisiting[u]) return false;
  AcrossPlan& plan = aplanAcross[u];
  if (plan.Planned()) return true;
  Var& var = pvoice->tab[iVar];
  if (var.pmodule && var.pmodule->ptype && var.iHistory == 0 &&
      (var.pfnBring == FormBringOutput || var.pfnBring == var.pmodule->ptype->BringRoutine(var.pmodule))) {
    plan.pfnAcross = var.pmodule->ptype->CalcAcrossRoutine(var.pmodule);
    if (!plan.pfnAcross) return false;
    // What the modules read first, brought for all the voices before they compute, where that too
    // leads to modules computed together (a ladder's input from oscillators). Alone, the module's
    // clock moves before it reads the input: where bringing the input can come back to the module,
    // it must stay that way.
    if (const Var* pvarFirst = var.pmodule->ptype->FirstPull(var.pmodule)) {
      const Var* avar = pvoice->tab.Data();
      std::vector<char> abSeen(static_cast<size_t>(pvoice->tab.N()));
      const int iModule = var.iModule;
      auto outputOfModule = [iModule](const Var& varTo, int) { return varTo.pfnOutput && varTo.iModule == iModule; };
      if (pvarFirst >= avar && pvarFirst < avar + pvoice->tab.N() &&
          !Reaches(pvoice->tab, aaiRecordsVoice, static_cast<int>(pvarFirst - avar), outputOfModule, abSeen)) {
        abVisiting[u] = 1;
        if (PlanRecordAcross(static_cast<int>(pvarFirst - avar), abVisiting))
          plan.iFirstPull = static_cast<int>(pvarFirst - avar);
        abVisiting[u] = 0;
      }
    }
    return true;
  }
  constexpr int kMaxReads = 16;
  int aiRead[kMaxReads];
  const int nRead = FormCodeReads(var.pcode, aiRead, kMaxReads);
  abVisiting[u] = 1;
  std::vector<int> ai;
  size_t nKeep = 0;  // up to the last read that leads to voices computed together
  for (int k = 0; k < nRead; ++k) {
    ai.push_back(aiRead[k]);
    if (PlanRecordAcross(aiRead[k], abVisiting)) nKeep = ai.size();
  }
  abVisiting[u] = 0;
  ai.resize(nKeep);
  // Whether what it reads first can come back to the record: only then must it count as being
  // brought meanwhile, so that the loop is found as alone.
  for (int iRead : ai) plan.bMayLoop = plan.bMayLoop || VoiceRecordReaches(iRead, iVar);
  plan.aiRead = std::move(ai);
  return nKeep > 0;
}

void Patch::PlanAcross() {
  aplanAcross.clear();
  if (apvoiceAll.empty() || VoicesShareState()) return;
  aplanAcross.assign(static_cast<size_t>(apvoiceAll.front()->tab.N()), {});
  std::vector<int> aiSum;
  for (int i = 0; i < tabPatch.N(); ++i) SumArguments(tabPatch[i].pform, aiSum);
  std::vector<char> abVisiting(aplanAcross.size());
  int nTogether = 0;
  for (int iSum : aiSum) nTogether += PlanRecordAcross(iSum, abVisiting);
  if (nTogether == 0) aplanAcross.clear();
  else AKS(AKSTrace, AK_HERE, "%d voice sums bring voices together", nTogether);
}

// Brings record iVar in the voices as each would alone; where the plan says so, for all of them
// at once.
void Patch::BringAcross(int iVar, Voice* const* apvoice, size_t nVoice) {
  const AcrossPlan& plan = aplanAcross[static_cast<size_t>(iVar)];
  // A compiled formula that nothing it reads first comes back to: those reads are all there is to
  // bring before it. Where the record is current already, so are they.
  if (!plan.pfnAcross && !plan.bMayLoop && !plan.aiRead.empty()) {
    for (int iRead : plan.aiRead) BringAcross(iRead, apvoice, nVoice);
    return;
  }
  // Only the voices where the record is still to be brought: elsewhere nothing it reads is. A
  // module output is busy from here while the module computes, as FormBringOutput brings one.
  Voice* apvoiceStale[kAcrossGroup];
  Var* apvar[kAcrossGroup];
  Module* apmod[kAcrossGroup];
  const bool bModule = plan.pfnAcross != nullptr;
  size_t m = 0;
  for (size_t j = 0; j < nVoice; ++j) {
    Var* pvar = apvoice[j]->tab.Data() + iVar;  // every sample: no index check
    if (pvar->evalState == EvalStale) {
      if (bModule) {
        pvar->evalState = EvalBusy;
        apmod[m] = pvar->pmodule;
      }
      apvoiceStale[m] = apvoice[j];
      apvar[m++] = pvar;
    } else if (pvar->evalState != EvalCurrent) {
      pvar->pfnBring(pvar, apvoice[j]->tab.Data());  // being brought: a loop, reported as alone
    }
  }
  if (m == 0) return;
  if (bModule) {
    // Then current with the other outputs of its computation.
    if (plan.iFirstPull >= 0) BringAcross(plan.iFirstPull, apvoiceStale, m);
    plan.pfnAcross(apmod, static_cast<int>(m));
    for (size_t j = 0; j < m; ++j) {
      FormRingCurrent(apvar[j]);
      apvar[j]->evalState = EvalCurrent;
    }
    return;
  }
  if (plan.aiRead.empty()) {
    for (size_t j = 0; j < m; ++j) apvar[j]->pfnBring(apvar[j], apvoiceStale[j]->tab.Data());
    return;
  }
  // A compiled formula: what it reads first, for all the voices, while it counts as being brought
  // (a loop back to it is found as alone); each voice then computes it when the sum reads it.
  for (size_t j = 0; j < m; ++j) apvar[j]->evalState = EvalBusy;
  for (int iRead : plan.aiRead) BringAcross(iRead, apvoiceStale, m);
  for (size_t j = 0; j < m; ++j) apvar[j]->evalState = EvalStale;
}

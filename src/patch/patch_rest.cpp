// Modules at rest. A module whose outputs cannot change until an event reaches its voice (an
// envelope holding its sustain) says so (Module::AskRest); from the next sample on, its per-sample
// outputs, and the per-sample formulas that read only those and records slower than a sample,
// keep their values and count as current without being brought. Any event of the voice (a note,
// a controller, a refresh) wakes them: they are brought as before. A formula at rest is pure
// arithmetic, so skipping it skips nothing but its own steps.
#include <utility>
#include <vector>

#include "formula/formcode.h"
#include "formula/formfn.h"
#include "patch/module.h"
#include "patch/patch.h"
#include "patch/voice.h"

namespace {

// Whether a tree is arithmetic over constants and records, with nothing to do beyond its value;
// the records it reads are appended to aiVar.
bool PureArithmetic(const Form* pform, std::vector<int>& aiVar) {
  if (!pform) return false;
  if (pform->et < FormTypeRef) return pform->et != FormTypeString;
  if (pform->et == FormTypeRef) {
    aiVar.push_back(pform->u.iVar);
    return pform->u.iVar >= 0;
  }
  if (pform->et != FormTypeFn || !FormFnIsArithmetic(pform->u.fn.pinfo)) return false;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (!PureArithmetic(pform->u.fn.apformArg[i], aiVar)) return false;
  return true;
}

}  // namespace

bool Patch::bRest = true;

void Patch::PlanRest() {
  aaiRestVoice.assign(amodVoice.size(), {});
  if (!bRest || apvoiceAll.empty()) return;
  const VarTable& tab = apvoiceAll.front()->tab;
  const int iFrom = aiEndVoice[EndPerNote], iTo = iNotePartsVoice;
  auto perSample = [iFrom, iTo](int i) { return i >= iFrom && i < iTo; };
  // The formulas that may rest, each with the per-sample records it reads: pure arithmetic, kept
  // in its own record or in the storage of a module that never writes another value there, no
  // history on either side, and at least one per-sample read (through which it rests with one
  // module only).
  std::vector<std::pair<int, std::vector<int>>> acandidate;
  std::vector<int> aiRead;
  for (int i = iFrom; i < iTo; ++i) {
    const Var& var = tab[i];
    if (var.pfnOutput || var.iHistory || var.pvarPatch || !var.pcode) continue;
    if (var.pvalue != &var.value && !(var.pmodule && var.pmodule->ptype->KeepsInputs(var.pmodule))) continue;
    const size_t u = static_cast<size_t>(i);
    const Form* pform = u < apformCodeVoice.size() && apformCodeVoice[u] ? apformCodeVoice[u] : var.pform;
    aiRead.clear();
    if (!PureArithmetic(pform, aiRead)) continue;
    std::vector<int> aiPerSample;
    bool bHistory = false;
    for (int iRead : aiRead) {
      bHistory = bHistory || iRead >= tab.N() || tab[iRead].iHistory;
      if (perSample(iRead)) aiPerSample.push_back(iRead);
    }
    if (!bHistory && !aiPerSample.empty()) acandidate.emplace_back(i, std::move(aiPerSample));
  }
  size_t nMost = 0;
  std::vector<char> abRests(static_cast<size_t>(tab.N()));
  for (size_t m = 0; m < amodVoice.size() && m < aaiRecordsVoice.size(); ++m) {
    // The outputs its computation makes; a module with an output of another routine, or one that
    // a formula sets, never rests. (Whether an input could move it at rest is the module's to
    // know: it asks only where none can.)
    std::vector<int> ai;
    bool bWhole = true;
    for (int i : aaiRecordsVoice[m]) {
      const Var& var = tab[i];
      if (!perSample(i) || var.iHistory || !var.pfnOutput) continue;
      if (!var.pform && var.pmodule && var.pfnBring == var.pmodule->ptype->BringRoutine(var.pmodule)) ai.push_back(i);
      else bWhole = false;
    }
    if (!bWhole || ai.empty()) continue;
    for (int i : ai) abRests[static_cast<size_t>(i)] = 1;
    // The formulas over them, until no more join.
    for (bool bJoined = true; bJoined;) {
      bJoined = false;
      for (const auto& [i, aiPerSample] : acandidate) {
        if (abRests[static_cast<size_t>(i)]) continue;
        bool bStill = true;
        for (int iRead : aiPerSample) bStill = bStill && abRests[static_cast<size_t>(iRead)];
        if (!bStill) continue;
        abRests[static_cast<size_t>(i)] = 1;
        ai.push_back(i);
        bJoined = true;
      }
    }
    for (int i : ai) abRests[static_cast<size_t>(i)] = 0;
    nMost += ai.size();
    aaiRestVoice[m] = std::move(ai);
  }
  for (Voice* pvoice : apvoiceAll) pvoice->ReserveRest(nMost);
}

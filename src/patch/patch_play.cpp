// Patch playback: voices started, stolen, released and retired; one output frame rendered.
#include <algorithm>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "foundation/akstatus.h"
#include "patch/structural.h"
#include "patch/voice.h"

namespace {

void Erase(std::vector<Voice*>& apvoice, Voice* pvoice) {
  apvoice.erase(std::remove(apvoice.begin(), apvoice.end(), pvoice), apvoice.end());
}

}  // namespace

void PatchSumVoices(Form* pformArg, Var* avarPerPatch, double* pd) {
  for (Var* pvar = avarPerPatch; pvar->pszName; ++pvar) {
    if (pvar->pmodule && pvar->pmodule->ppatch) {
      *pd = pvar->pmodule->ppatch->SumVoices(pformArg);
      return;
    }
  }
  *pd = 0;
}

void Patch::DestroyVoice(Voice* pvoice) { delete pvoice; }

void Patch::CreateVoices() {
  for (Voice* pvoice : apvoiceAll) delete pvoice;
  apvoiceAll.clear();
  apvoiceFree.clear();
  apvoiceActive.clear();
  apvoiceRender.clear();
  // The lists never grow beyond the voices, so rendering never allocates.
  for (auto* pav : {&apvoiceAll, &apvoiceFree, &apvoiceActive, &apvoiceRender})
    pav->reserve(static_cast<size_t>(iVoicePrealloc));
  aiHeld.reserve(128);
  for (int i = 0; i < iVoicePrealloc; ++i) {
    // Every voice is set up alike: what the first one reports, the others would only repeat.
    ErrorList::SetMuted(i > 0);
    Voice* pvoice = new Voice(this, i);
    ErrorList::SetMuted(false);
    apvoiceAll.push_back(pvoice);
    apvoiceFree.push_back(pvoice);
    // Every voice sets its modules up alike: the first voice's failures refuse the patch, and
    // the other voices are not made.
    if (i == 0 && pvoice->bHistoryBroken) {
      Fail();
      return;
    }
    if (i == 0 && !pvoice->aiInitFailed.empty()) {
      for (int m : pvoice->aiInitFailed) ReportFailedInit(amodVoice[static_cast<size_t>(m)]);
      return;
    }
  }
}

void Patch::NoteOn(int iNote, double dVelocity) {
  if (dVelocity == 0) {
    NoteOff(iNote, 0.5);
    return;
  }
  if (iNoteMax == 1) {
    std::lock_guard<std::mutex> lock(mutex);
    aiHeld.erase(std::remove(aiHeld.begin(), aiHeld.end(), iNote), aiHeld.end());
    if (aiHeld.size() < aiHeld.capacity()) aiHeld.push_back(iNote);
  }
  Play(iNote, dVelocity);
}

void Patch::NoteOff(int iNote, double dVelocity) {
  if (iNoteMax == 1) {
    int iReturnTo = -1;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (aiHeld.empty()) return;
      auto it = std::find(aiHeld.begin(), aiHeld.end(), iNote);
      if (it == aiHeld.end()) return;
      bool bTop = it == aiHeld.end() - 1;
      aiHeld.erase(it);
      if (!aiHeld.empty()) {
        if (!bTop) return;  // a note under the top was let go: nothing to hear
        iReturnTo = aiHeld.back();
      }
    }
    if (iReturnTo >= 0) {
      Play(iReturnTo, dVelocity);
      return;
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  for (Voice* pvoice : apvoiceActive)
    if (pvoice->NoteNumber() == iNote && !pvoice->Released()) pvoice->NoteOff(dVelocity);
}

void Patch::PolyPressure(int iNote, double dValue) {
  std::lock_guard<std::mutex> lock(mutex);
  for (Voice* pvoice : apvoiceActive)
    if (pvoice->NoteNumber() == iNote) pvoice->PolyPressure(dValue);
}

void Patch::AllNotesOff() {
  std::lock_guard<std::mutex> lock(mutex);
  aiHeld.clear();
  for (auto it = apvoiceActive.rbegin(); it != apvoiceActive.rend(); ++it) (*it)->NoteOff(1.0);
}

void Patch::FadeOutAll() {
  std::lock_guard<std::mutex> lock(mutex);
  aiHeld.clear();
  for (Voice* pvoice : apvoiceActive) pvoice->FadeOut(pengine->nVoiceFade);
}

void Patch::AllSoundOff() {
  std::lock_guard<std::mutex> lock(mutex);
  aiHeld.clear();
  while (!apvoiceActive.empty()) {
    Voice* pvoice = apvoiceActive.back();
    apvoiceActive.pop_back();
    apvoiceFree.push_back(pvoice);
    pvoice->Reset();
    ++nChanges;
  }
}

void Patch::ControllerChanged(int iChannel, int iControl, double dValue) {
  (void)iChannel;
  if (iControl < 0 || iControl >= ControllerCount) return;
  if (pmodChannel) pmodChannel->v.adValue[iControl] = dValue;
  for (int i : aaiMidiPatch[iControl]) tabPatch[i].evalState = EvalStale;
  for (Voice* pvoice : apvoiceRender) {
    pvoice->ForgetNoteParts();
    for (int i : aaiMidiVoice[iControl]) pvoice->tab[i].evalState = EvalStale;
  }
}

void Patch::Play(int iNote, double dVelocity) {
  int nStarted = 0;
  int nWanted = iVoicesPerNote;
  {
    std::lock_guard<std::mutex> lock(mutex);
    // A voice that still sounds fades out before it takes the note, when the engine asks for it.
    int nFade = pengine->nVoiceFade;
    auto start = [&](Voice* pvoice) { pvoice->NoteOn(iNote, dVelocity, nStarted++); };
    auto take = [&](Voice* pvoice) {
      if (nFade > 0 && !pvoice->Finished()) pvoice->FadeInto(nFade, iNote, dVelocity, nStarted++);
      else start(pvoice);
    };
    if (bRetrigger)
      for (Voice* pvoice : apvoiceActive)
        if (nStarted < nWanted && pvoice->NoteNumber() == iNote) take(pvoice);
    while (nStarted < nWanted && !apvoiceFree.empty()) {
      Voice* pvoice = apvoiceFree.back();
      apvoiceFree.pop_back();
      apvoiceActive.push_back(pvoice);
      ++nChanges;
      start(pvoice);
    }
    if (iNoteMax == 1 && !bRetrigger)
      for (Voice* pvoice : apvoiceActive)
        if (nStarted < nWanted) pvoice->Retarget(iNote, dVelocity, nStarted++);
    // Released voices are taken first, then the oldest sounding ones.
    for (size_t i = 0, nVisit = apvoiceActive.size(); nStarted < nWanted && i < nVisit; ++i) {
      Voice* pvoice = apvoiceActive[i];
      if (!pvoice->Released() || (bRetrigger && pvoice->NoteNumber() == iNote)) continue;
      apvoiceActive.erase(apvoiceActive.begin() + static_cast<long>(i));
      apvoiceActive.push_back(pvoice);
      --i, --nVisit;
      take(pvoice);
    }
    while (nStarted < nWanted && !apvoiceActive.empty()) {
      Voice* pvoice = apvoiceActive.front();
      apvoiceActive.erase(apvoiceActive.begin());
      apvoiceActive.push_back(pvoice);
      take(pvoice);
    }
  }
  if (nStarted < nWanted)
    ERRADD(-1, "could only play %d of %d voices: Playing %d Cached %d", nStarted, nWanted,
           static_cast<int>(apvoiceActive.size()), static_cast<int>(apvoiceFree.size()));
}

double Patch::SumVoices(Form* pform) {
  double d = 0;
  // What the voice sums read is mostly one record of each voice (Voice:Result).
  const int iVar = pform->et == FormTypeRef ? pform->u.iVar : -1;
  if (iVar >= 0 && apvoiceRender.size() >= kAcrossLeast && static_cast<size_t>(iVar) < aplanAcross.size() &&
      aplanAcross[static_cast<size_t>(iVar)].Planned()) {
    // Group by group, each summed while what it brought is still in the cache: the voices are
    // added in the same order.
    for (size_t i = 0; i < apvoiceRender.size(); i += kAcrossGroup) {
      const size_t n = std::min(kAcrossGroup, apvoiceRender.size() - i);
      if (bVoicesToBegin_) BeginVoices(i, i + n);
      BringAcross(iVar, apvoiceRender.data() + i, n);
      for (size_t j = i; j < i + n; ++j)
        d += FormRefValue(apvoiceRender[j]->tab.Data(), iVar) * apvoiceRender[j]->dFadeGain;
    }
    return d;
  }
  if (bVoicesToBegin_) BeginVoices(0, apvoiceRender.size());
  for (Voice* pvoice : apvoiceRender)
    d += (iVar >= 0 ? FormRefValue(pvoice->tab.Data(), iVar) : pvoice->Eval(pform)) * pvoice->dFadeGain;
  return d;
}

void Patch::BeginVoices(size_t iFrom, size_t iTo) {
  for (size_t i = iFrom; i < iTo; ++i) apvoiceRender[i]->RenderSample(i == 0);
  if (iTo == apvoiceRender.size()) bVoicesToBegin_ = false;
}

// How one frame renders (the mixer calls this once per frame for every installed patch):
//  1. The patch clock moves (Patch:Sample, Patch:Time) and every per-sample record of the
//     per-patch table goes stale; per-note and slower records stay as MIDI last left them.
//  2. The render list follows the active list when a note event changed it (under the mutex).
//  3. Each rendering voice advances its own clock and marks its per-sample records stale
//     (Voice::RenderSample); nothing is computed yet, except its finished test and, for the
//     first voice, the oscilloscope probe. Where the voice sum brings voices together, it
//     does this for each group of voices just before it brings them (step 4).
//  4. The per-patch output records (Result, Result$2...) are evaluated. This is where the
//     pulling happens: a formula that reads a voice's output goes through SumVoices, which
//     evaluates that record in every rendering voice (each one pulling its modules' inputs on
//     demand, at most once per clock value) and sums them, each scaled by the voice's
//     dFadeGain so that a voice being taken over fades instead of clicking.
//  5. Left and right are added into the frame; the output stage (clipping, level, 16-bit
//     conversion) runs later, on the whole buffer, in the engine's mixer.
//  6. Feedback steps: per-patch delays take their new sample, finished voices retire to the
//     free list, and each remaining voice runs Voice::EndSample (its delays and history
//     copies) and then Voice::StepFade, which moves a fading voice one frame down its ramp
//     and starts the note that took it over once the ramp ends.
//  7. The per-patch history copies shift, and the patch clock advances.
double Patch::RenderFrame(double* adFrame, int nChannels) {
  dTime = dSample / pengine->dFreqEval;
  if (pmodPatch) {
    pmodPatch->v.dSample = dSample;
    pmodPatch->v.dTime = dTime;
  }
  Var* avarPatch = tabPatch.Data();  // runs every sample: no index check per record
  FormMarkStale(avarPatch, aiEndPatch[EndPerNote], tabPatch.N());
  if (!apvoiceRender.empty() && apvoiceRender.front()->iTestAAA >= 0 && apvoiceRender.front()->iTestBBB >= 0)
    apvoiceRender.front()->TimeTrial();
  if (nChanges != nChangesRendered) {
    std::lock_guard<std::mutex> lock(mutex);
    apvoiceRender.assign(apvoiceActive.begin(), apvoiceActive.end());
    nChangesRendered = nChanges;
  }
  // Where a voice sum brings voices together, it begins their samples group by group. The
  // per-patch records evaluated before it read no voice (voices are brought together only where
  // they share no state), so they cannot tell; in a frame that runs no sum the voices begin after
  // them.
  bVoicesToBegin_ = apvoiceRender.size() >= kAcrossLeast && !aplanAcross.empty();
  if (!bVoicesToBegin_) BeginVoices(0, apvoiceRender.size());
  for (int i : aiEvalPerPatch) FormVarEval(avarPatch + i);
  if (bVoicesToBegin_) BeginVoices(0, apvoiceRender.size());
  double dLeft = iOutLeft >= 0 ? *avarPatch[iOutLeft].pvalue : 0;
  double dRight = iOutRight >= 0 ? *avarPatch[iOutRight].pvalue : dLeft;
  if (nChannels >= 1) adFrame[0] += dLeft;
  if (nChannels >= 2) adFrame[1] += dRight;
  for (Module* pmod : apmodDelay) pmod->FeedbackStep();
  // The render list is the active list as of this frame, so the mutex is needed only when one
  // of its voices finished.
  if (std::any_of(apvoiceRender.begin(), apvoiceRender.end(), [](Voice* pvoice) { return pvoice->Finished(); })) {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = apvoiceActive.size(); i-- > 0;) {
      Voice* pvoice = apvoiceActive[i];
      if (!pvoice->Finished()) continue;
      apvoiceActive.erase(apvoiceActive.begin() + static_cast<long>(i));
      if (bFIFO) apvoiceFree.insert(apvoiceFree.begin(), pvoice);
      else apvoiceFree.push_back(pvoice);
      Erase(apvoiceRender, pvoice);
      pvoice->Reset();
      ++nChanges;
    }
  }
  for (Voice* pvoice : apvoiceRender) {
    pvoice->EndSample();
    if (pvoice->Fading()) pvoice->StepFade();  // rare: keep the call off the common path
  }
  for (int i : aiHistory) {
    Var& var = tabPatch[i];
    if (!var.pvarHistoryPrev) continue;
    if (var.pvarHistoryPrev->iHistory == 0) FormVarEval(var.pvarHistoryPrev);
    *var.pvalue = *var.pvarHistoryPrev->pvalue;
  }
  dSample += 1;
  return dLeft;
}

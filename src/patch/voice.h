// One voice of a patch: its own per-voice modules and its private copy of the per-voice table.
#pragma once

#include <atomic>
#include <vector>

#include "patch/patch.h"

class ModNote;
class ModVoice;

// The oscilloscope's hook: called for the first voice of every sample while probing is active.
using VoiceScopeCallback = void (*)(Voice* pvoice, void* pvArg);
void VoiceSetScopeCallback(VoiceScopeCallback pfn, void* pvArg, bool bWanted);
// The registration in force, so that a temporary capture can put it back.
void VoiceGetScopeCallback(VoiceScopeCallback* ppfn, void** ppvArg, bool* pbWanted);

class Voice {
 public:
  Voice(Patch* ppatch, int iNum);
  virtual ~Voice();
  Voice(const Voice&) = delete;
  Voice& operator=(const Voice&) = delete;

  virtual void NoteOn(int iNote, double dVelocity, int iIndex);
  // Moves a sounding voice to another note without restarting it.
  virtual void Retarget(int iNote, double dVelocity, int iIndex);
  virtual void PolyPressure(double dValue);
  virtual void NoteOff(double dVelocity);
  // Marks the records that depend on a MIDI control stale and evaluates them again.
  virtual void Refresh(int iControl);
  // After an event that may change what the note reads (a note, a controller, a refresh): the
  // note parts of per-sample formulas are evaluated again when next read.
  void ForgetNoteParts();
  virtual void RenderSample(bool bFirst);
  virtual double Eval(Form* pform);
  // The delays' feedback steps, the clock and the history copies after every sample; the common
  // voice, with neither delays nor histories, only counts the sample, without a call.
  void EndSample() {
    if (apmodDelay.empty() && aiHistory.empty()) dSample += 1;
    else EndSampleWork();
  }
  virtual void Reset();
  virtual void TimeTrial();
  virtual void DumpTable(VarTable& table);
  virtual void Dump();

  // A voice taken over while it sounds, or cut, fades over a few frames instead of jumping to 0:
  // FadeInto starts the new note when the fade ends, FadeOut lets the voice retire then. While
  // it fades into a note, the voice answers for that note (its number, its note-off).
  void FadeInto(int nFrames, int iNote, double dVelocity, int iIndex);
  void FadeOut(int nFrames);
  bool Fading() const { return nFadeLeft_ > 0; }
  // After the frame's EndSample: one frame of the fade has passed.
  void StepFade();

  // Modules at rest (patch_rest.cpp): a module asks once its outputs stay as they are until an
  // event; from the next sample on its records at rest count as current. Wake, called by every
  // event of the voice, brings everything again from the voice's next sample. Events may come
  // from another thread than the one that renders (the IDE's keyboard), so Wake only leaves word
  // for the renderer, which also drops what a module asked before the event.
  void AskRest(Module* pmod);
  void Wake() { bWakeWanted_.store(true, std::memory_order_release); }
  // Room for the records at rest, so that resting never allocates.
  void ReserveRest(size_t nRecords);
  size_t RecordsAtRest() const { return bWakeWanted_.load(std::memory_order_acquire) ? 0 : aiResting_.size(); }

  bool Finished() const { return bFadedOut_ || (!Fading() && pdFinished_ && *pdFinished_ != 0); }
  double NoteNumber() const;
  bool Released() const;

  Patch* ppatch;
  double voiceNum;
  std::vector<Module*> apmod;       // one per per-voice module of the patch; null for a dropped one
  std::vector<int> aiInitFailed;    // the modules whose Init failed, by module list index
  bool bHistoryBroken = false;      // a history copy found no earlier copy to shift from
  std::vector<Module*> apmodDelay;  // delays, called after every sample
  ModNote* pmodNote = nullptr;
  ModVoice* pmodVoice = nullptr;
  Module* pmodScope = nullptr;
  VarTable tab;                     // the voice's copy of the per-voice table
  std::vector<int> aiProbe;         // Scope records, collected while the probe is active
  int iFinished = -1;
  // Where Voice:Finished only names another record (EnvGain:Finished) that cannot come back to it:
  // that record, brought and copied without the formula's routine; else -1.
  int iFinishedNamed = -1;
  int iTestAAA = -1, iTestBBB = -1;
  double dSample = 0, dTime = 0;
  std::vector<int> aiHistory;
  double dFadeGain = 1;  // what the voice sums contribute of this voice: below 1 while it fades

 private:
  int nFadeLeft_ = 0, nFadeFrames_ = 0;
  bool bFadedOut_ = false;
  // The note a fade leads into (-1: none), and its note-off if one came during the fade.
  int iPendingNote_ = -1, iPendingIndex_ = 0;
  double dPendingVelocity_ = 0, dPendingOff_ = -1;

  void MarkStale(int iFrom, int iTo);
  void EndSampleWork();
  // Before the sample's stale marks: the records of the modules that asked to rest last sample
  // start resting, those their last computation made current.
  void SettleRest();
  void WakeNow();
  void MarkStaleListed();
  std::atomic<bool> bWakeWanted_{false};
  std::vector<int> aiRestAsked_;  // modules that asked to rest, by module list index
  std::vector<int> aiResting_;    // records at rest, in table order
  // While records rest: the other per-sample records, which a sample marks stale one by one
  // (else the whole per-sample range is marked).
  std::vector<Var*> apvarStale_;
  bool bAnyRest_ = false;               // a module asked to rest since the last Wake
  const double* pdFinished_ = nullptr;  // the Voice module's Finished, once it is made
  std::vector<Form*> apformOwn_;  // formulas this voice made itself (its VoiceNum)
};

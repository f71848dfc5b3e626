// The module base class: what every module kind shares, and the operations the compiler calls.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "formula/formeval.h"
#include "formula/var.h"

class ModuleType;
class Patch;
class Voice;

class Module {
 public:
  // The value block holds the module's variables; declaration rows give byte offsets into it.
  Module(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel);
  virtual ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  virtual bool IsModule() { return true; }
  // Called once after the variables are bound; 0 on success.
  virtual int Init() { return 0; }
  // Restores the running state for a fresh note.
  virtual void Reset() {}
  // Work at note on, after any Reset.
  virtual void NoteStart() {}
  // Computes the outputs for the current clock value.
  virtual void Calc() {}
  // Work after every other computation of a sample (a delay's feedback); most modules have none.
  virtual void FeedbackStep() {}
  // The record of this module's variable (own level, depth 0) in its table; absent if none.
  // Tables hold their module and variable names interned (quarks), so names compare by address.
  virtual Var* FindVar(const char* pszName);
  // FindVar; a constant formula is evaluated once now into the module's storage and answers
  // absent, a varying one answers the record for the module to re-evaluate while running.
  virtual Var* GetVar(const char* pszName);
  // For an input record pulled every sample: where its formula only names another record of the
  // voice, that record, which the module then pulls without the copy between (unless bringing it
  // can come back to the input, where the loop must be found as it is); else the record itself.
  Var* PulledThrough(Var* pvar);
  Var* GetPulled(const char* pszName) { return PulledThrough(GetVar(pszName)); }

  ModuleType* ptype;
  char* pszName;
  const char* pszNameQuark;  // the name interned, as every table's records hold it
  Patch* ppatch;
  Voice* pvoice;
  bool bPerPatch;
  int iLevel;
  double* pclock = nullptr;  // seconds since note start (per-voice) or the patch's time (per-patch)

  // Where the table the module's variables live in is found: the patch's per-patch table or the
  // voice's copy of the per-voice table (a pointer to the pointer, as tables may move).
  Var** ppavarTable = nullptr;
  // The indices of this module's own records in its table, when the creator knows them; FindVar
  // then looks only there instead of through the whole table.
  const std::vector<int>* paiRecords = nullptr;
  // The patch's random generator (RandomSeed), which noise and swarms draw from with
  // FormRandomNext; set by whoever creates the module.
  uint32_t* puRandom = nullptr;
  // The module's storage for its declared variables; null for modules without storage.
  void* pvVars = nullptr;
  // Set once the module has asked to rest (AskRest); its voice clears it when an event wakes it.
  bool bRestAsked = false;

  // The address of a declared variable's storage.
  double* VarStorage(int iOffset) { return reinterpret_cast<double*>(static_cast<char*>(pvVars) + iOffset); }

 protected:
  // True once per clock value: modules compute at most once per instant and return at once
  // when pulled again.
  bool ClockMoved() {
    if (!pclock || *pclock == dLastClock_) return false;
    dLastClock_ = *pclock;
    return true;
  }
  // Says that the outputs just computed stay as they are until an event reaches the voice: from
  // the next sample on, the voice keeps them current without calling the module. Only for a state
  // that no input changing by the sample can move.
  void AskRest() {
    if (!bRestAsked) AskRestOnce();
  }
  // Makes the next ClockMoved answer true (after a Reset, the clock starts again at 0).
  void ForgetClock() { dLastClock_ = NAN; }
  // The value of an input that is re-evaluated while running: absent records keep the storage.
  static double Pull(Var* pvar, double dStored) {
    if (!pvar) return dStored;
    FormVarEval(pvar);
    return *pvar->pvalue;
  }

 private:
  void AskRestOnce();
  double dLastClock_ = NAN;
};

// The output routine of ordinary output rows: brings the module up to date.
void ModuleCalcOutput(Module* pmodule, Var* avarTable);
// Prepares the bound records of a table for rendering: an ordinary output row calls its module's
// Calc directly, and the per-sample ones (from iPerSample on) of one module form a ring, so that
// one computation makes them all current.
void ModuleBindOutputs(Var* avar, int nVar, int iPerSample);
// After ModuleBindOutputs on both: a voice's copies of the per-sample outputs of per-patch modules
// learn their per-patch records, so that only the first voice of a sample calls the module.
void ModuleBindShadows(Var* avarVoice, int nVoice, int iVoicePerSample, Var* avarPatch, int nPatch,
                       int iPatchPerSample);

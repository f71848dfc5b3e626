// The sample-and-hold module kind "Hold": samples its input at a clocked rate, each new sample
// placed at its sub-sample position.
#pragma once

#include <cstdint>

#include "patch/moduletype.h"

struct SampleHoldVars {
  double dFrequency;  // samples per second; 0 takes one sample at the note's start
  double dInput;
  double dInputPrev;  // the held value a note starts from
  double dSyncIn;     // -1, or the sub-sample position of a sampling instant forced from outside
  double dPhaseIn;    // cycles added to the sampling phase
  double dBypass;
  double dOutput;
  double dOutputPrev;
  double dSyncOut;   // -1, or where the sampling instant lies, in samples (-0.5 to 1)
  double dPhaseOut;  // the sampling phase in cycles
};

class ModSampleHold : public Module {
 public:
  static constexpr const char* pszClassName = "ModSampleHold";
  ModSampleHold(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                Module* pmodHelper);
  int Init() override;
  // Restarts the phase and holds a fresh InputPrev.
  void Reset() override;
  void Calc() override;

  SampleHoldVars v = {};

 private:
  Var* pvarFrequency_ = nullptr;
  Var* pvarInput_ = nullptr;
  Var* pvarInputPrev_ = nullptr;
  Var* pvarSyncIn_ = nullptr;
  Var* pvarPhaseIn_ = nullptr;
  Var* pvarBypass_ = nullptr;
  double dFreqEval_ = 0;
  double dHeld_ = 0;
  double dLastTime_ = -1;        // clock of the last computation; -1 after Reset
  double dPrevWavePhase_ = 0;    // p of the last computation, to see the phase wrap
  uint32_t nSinceAnnounce_ = 5;  // computations since a wrap was announced ahead of time
};

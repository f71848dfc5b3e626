// The wavetable oscillator kinds "SWO" and "LFSWO": per-voice readers of the band tables that
// their per-patch helper builds.
#pragma once

#include "modules/oscphase.h"
#include "patch/moduletype.h"

class ModSWOPerPatch;
struct SWOBand;

// The value block of a wavetable oscillator. "SWO" has no Audio output (its Output is the audio
// output); "LFSWO" has Output and Control both the wave and Audio for the sound.
struct SWOVars {
  double dFrequency;  // Hz; negative runs the phase backwards
  double dDuty;       // "Square" tables: the pulse width, as the distance between two reads
  double dSyncIn;     // -1, or the distance in samples to a master's wrap (-0.5..1)
  double dPhaseIn;    // cycles added to the phase before the table is read
  double dInterpolate;
  double dBypass;
  double dOutput;
  double dControl;   // the wave read from the table
  double dPositive;  // the wave moved to 0..1 (for a wave in -1..1)
  double dAudio;     // bass factor times the wave
  double dSyncOut;   // -1, or the distance in samples to this oscillator's wrap
  double dPhaseOut;  // the phase in cycles
};

class ModSWO : public Module {
 public:
  static constexpr const char* pszClassName = "ModSWO";
  // pmodHelper: the per-patch helper the compiler made from the same section (absent: silence).
  ModSWO(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
         Module* pmodHelper);
  int Init() override;
  void Reset() override;
  void Calc() override;

  SWOVars v = {};

 private:
  // The wave of a band at phase q (0..1): one read, or for a "Square" table the read at q less
  // the read at q - Duty.
  double Wave(const SWOBand& band, double q, double dDuty) const;
  double Read(const double* pdPoint, int n, double q) const;

  bool bLow_;  // the "LFSWO" layout: Output is the wave, Audio the sound
  ModSWOPerPatch* phelper_;
  Var* pvarFrequency_ = nullptr;
  Var* pvarDuty_ = nullptr;
  Var* pvarSyncIn_ = nullptr;
  Var* pvarPhaseIn_ = nullptr;
  Var* pvarBypass_ = nullptr;

  double dFreqEval_ = 44100;   // sample rate, Hz
  double dFreqFullBass_ = 55;  // below this frequency the audio output has full level
  bool bInterpolate_ = true;
  bool bSquare_ = false;        // the helper's tables are half sawtooths for a pulse
  const SWOBand* aband_ = nullptr;  // the helper's bands, fixed after its Init
  int nBand_ = 0;
  int iBand_ = -1;              // the band of the last computation, -1 without bands
  double dBass_ = 1;            // bass factor: FreqFullBass / |Frequency|, at most 1
  // Running state.
  OscPhase phase_;
};

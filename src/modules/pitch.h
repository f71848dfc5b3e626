// The "Pitch" module kind: the chain of frequency factors between a note's base frequency and the oscillators.
#pragma once

#include "patch/moduletype.h"

// Every factor is a frequency ratio; Output multiplies them into Input.
struct PitchVars {
  double dInput;  // Hz, by default the portamento's output
  double dOctave, dTranspose, dDetune, dPitchEnv;
  double dVibSource;                        // -1..1, the vibrato waveform
  double dVibManual, dVibControl, dVibEnv;  // vibrato depths; the largest one is used
  double dBendRange;                        // raised to the channel's pitch bend
  double dUnisonDetune, dUnisonSpread;
  double dOutput;  // Hz
};

// All the work is in the default formulas; the module only warns about factors set to a constant 0.
class ModPitch : public Module {
 public:
  static constexpr const char* pszClassName = "ModPitch";
  ModPitch(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  int Init() override;
  // The warning about a factor set to a constant 0, for Init and for a factor the compiler folded.
  static void CheckConstant(const Var& var, double dValue);

  PitchVars v = {};
};

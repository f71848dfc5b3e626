// The phase-modulation operator network: operators named by digits, each modulating its parent ("FMAlgo").
#pragma once

#include <string>
#include <vector>

#include "patch/moduletype.h"

struct FMAlgoVars {
  double dBypass;
  double dOutput;
};

// One sine operator. An operator named by its parent's name plus one digit modulates the
// parent's phase; operators with one-character names are carriers, summed into Output.
struct FMOperator {
  double dFreq = 1;         // Hz
  double dGain = 1;
  double dPlus = 0;         // PlusX: a phase offset in cycles of its own
  double dPhaseIn = 0;      // the phase offset the modulators add this sample (cycles)
  double dBass = 1;         // FreqFullBass / frequency above FreqFullBass
  double dPreGain = 0;      // the sine
  double dControl = 0;      // gain x sine
  double dAudio = 0;        // carriers: bass factor x gain x sine
  uint32_t uIncrement = 0;  // phase step per sample, 2^32 = one cycle
  uint32_t uPhase = 0;
  Var* pvarFreq = nullptr;
  Var* pvarGain = nullptr;
  Var* pvarPlus = nullptr;
  Var* pvarPreGain = nullptr;
  Var* pvarControl = nullptr;
  Var* pvarAudio = nullptr;
  double* pdPreGain = nullptr;    // where the outputs go: their records' values when read, else
  double* pdControl = nullptr;    // the three fields above (set once the operators stop moving)
  double* pdAudio = nullptr;
  double* pdTarget = nullptr;     // the phase offset input of the operator modulated; null for a carrier
  int iLine = -1;                 // the patch line of its first variable, for its message
  std::string sName;
};

class ModFMAlgo : public Module {
 public:
  static constexpr const char* pszClassName = "ModFMAlgo";
  ModFMAlgo(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
            Module* pmodHelper);
  int Init() override;
  void Reset() override;
  void Calc() override;
  // "Freq"N, "Gain"N, "Plus"N, "PreGain"N, "Control"N and "Audio"N.
  static bool IsNumberedInput(const char* pszVar);
  // "PreGain" or "Control" followed by at least one character, "Audio" followed by at least one.
  static bool IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput);

  FMAlgoVars v = {};

 private:
  FMOperator* FindOrAdd(const std::string& sName);
  int Connect();

  double dFreqEval_ = 0;
  // Sorted longest name first, so modulators come before the operators they modulate and the
  // carriers (one-character names) come last.
  std::vector<FMOperator> aop_;
};

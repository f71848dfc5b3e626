// The additive oscillator bank: sine operators with their own frequencies and slewed gains ("Adder").
#pragma once

#include <vector>

#include "patch/moduletype.h"

struct AdderVars {
  double dSlew, dBypass;
  double dOutput;
};

// One sine operator of the bank.
struct AdderOperator {
  static constexpr int MaxName = 63;  // longer operator names are cut
  double dFreq = 1;        // Hz
  double dGain = 0;        // the gain now, moving toward dTarget by at most the slew step a sample
  double dTarget = 1;
  double dBass = 1;        // FreqFullBass / frequency above FreqFullBass
  uint32_t uIncrement = 0; // phase step per sample, 2^32 = one cycle
  uint32_t uPhase = 0;
  Var* pvarFreq = nullptr;
  Var* pvarGain = nullptr;
  char szName[MaxName + 1] = {};
};

class ModAdder : public Module {
 public:
  static constexpr const char* pszClassName = "ModAdder";
  ModAdder(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
           Module* pmodHelper);
  int Init() override;
  void Reset() override;
  void Calc() override;
  // "Freq"N and "Gain"N.
  static bool IsNumberedInput(const char* pszVar);

  AdderVars v = {};

 private:
  AdderOperator* FindOrAdd(const char* pszName);
  void SetFreq(AdderOperator* pop);

  double dFreqEval_ = 0;
  double dSlewStep_ = 0;  // the most a gain moves in one sample
  std::vector<AdderOperator> aop_;
};

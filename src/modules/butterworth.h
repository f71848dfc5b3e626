// The "Filter" module: a 2-, 4- or 6-pole Butterworth low- or high-pass with resonance and an
// adaptive soft limiter.
#pragma once

#include "modules/filtermodule.h"
#include "patch/moduletype.h"

// The module's variables, in declaration order, then its output.
struct ButterworthVars {
  double dInput, dCutoff, dResonance, dPoles, dMode, dAmpHistHalf, dAmpLimBegin, dAmpLimRange, dBypass;
  double dOutput;
};

class ModButterworth : public ModFilterBase {
 public:
  static constexpr const char* pszClassName = "ModButterworth";
  // Three second-order sections make the six poles, the most the design knows.
  static constexpr int MaxSections = 3;

  ModButterworth(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                 Module* pmodHelper);
  int Init() override;
  void Reset() override;
  void NoteStart() override;
  void Calc() override;

  ButterworthVars v = {};

 private:
  // Designs the cascade for this resonance, working cutoff (Hz) and pole count.
  void Design(double dResonance, double dCutoff, double dPoles);

  Var* pvarCutoff_ = nullptr;
  Var* pvarResonance_ = nullptr;
  Var* pvarPoles_ = nullptr;
  Var* pvarMode_ = nullptr;

  // The cascade: the overall gain k, then per section the feedback (c1, c2) and feed-forward
  // (c3, c4) coefficients, and per section its history (h1, h2).
  int nSections_ = 0;
  double adCoef_[1 + 4 * MaxSections] = {};
  double adHist_[2 * MaxSections] = {};
  bool bDesigned_ = false;
  double dResonanceDesigned_ = 0, dCutoffDesigned_ = 0, dPolesDesigned_ = 0;

  // The peak follower of |Input| that the limiter scales with, and its per-sample decay factor.
  double dPeak_ = 0;
  double dPeakDecay_ = 0;

  // Each design warning is logged once per note: the design runs on the audio thread, and a
  // modulated value out of range would otherwise write a log line at every sample.
  bool bPolesReported_ = false, bResonanceReported_ = false;
};

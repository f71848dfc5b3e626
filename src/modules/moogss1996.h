// The "MoogSS1996" module: a four-stage ladder with hard saturation, whose resonance scales the
// feedback up to the point where it starts to ring on by itself.
#pragma once

#include "modules/filtermodule.h"
#include "patch/moduletype.h"

// The module's variables, in declaration order, then its output.
struct MoogSS1996Vars {
  double dInput, dCutoff, dResonance, dPoles, dBypass;
  double dOutput;
};

class ModMoogSS1996 : public ModFilterBase {
 public:
  static constexpr const char* pszClassName = "ModMoogSS1996";
  static constexpr int Stages = 4;  // whatever Poles says

  ModMoogSS1996(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                Module* pmodHelper);
  int Init() override;
  void NoteStart() override;
  void Calc() override;

  // The feedback at which the ladder is on the edge of self-oscillation, for the stage coefficient
  // p (−1 ... 1): Resonance 1 feeds back this much.
  static double ResonanceGain(double p);

  MoogSS1996Vars v = {};

 private:
  // Resonance at most 1 (a NaN counts as 1).
  void LimitResonance() {
    if (!(v.dResonance <= 1)) v.dResonance = 1;
  }
  // The stage coefficient and the feedback gain for the current cutoff.
  void Recompute();

  Var* pvarCutoff_ = nullptr;
  Var* pvarResonance_ = nullptr;
  Var* pvarPoles_ = nullptr;

  double dCutoffCooked_ = 0;
  double dStage_ = 0;         // p
  double dResonanceGain_ = 0;  // the feedback at Resonance 1
  double dOut_ = 0;            // the previous output, fed back
  double ads_[Stages] = {};    // the stages' states
};

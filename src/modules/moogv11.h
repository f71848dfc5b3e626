// The "MoogV11" module: a linear four-stage ladder run twice per sample, with a tanh input stage.
#pragma once

#include "modules/filtermodule.h"
#include "patch/moduletype.h"

// The module's variables, in declaration order, then its outputs.
struct MoogV11Vars {
  double dInput, dCutoff, dResonance, dBypass;
  double dStage1, dStage2, dStage3, dStage4, dOutput;
};

class ModMoogV11 : public ModFilterBase {
 public:
  static constexpr const char* pszClassName = "ModMoogV11";
  static constexpr int Stages = 4;

  ModMoogV11(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
             Module* pmodHelper);
  int Init() override;
  void NoteStart() override;
  void Calc() override;

  MoogV11Vars v = {};

 private:
  // g, h and m for this cutoff (Hz).
  void Cook(double dCutoff);

  Var* pvarCutoff_ = nullptr;
  Var* pvarResonance_ = nullptr;

  double dCutoffCooked_ = 0;
  double g_ = 0, h_ = 0, m_ = 0;  // a stage: y = (1 − g)·y + h·(previous input) + m·input
  double ady_[Stages] = {};       // the stages; the last is also the feedback value
  double dPrevU_ = 0;             // the first stage's input at the previous pass
};

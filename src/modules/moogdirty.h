// The "MoogDirty" module: a non-linear four-stage ladder with tanh stages and trapezoidal
// integration, and an output level compensated for the drive.
#pragma once

#include "modules/filtermodule.h"
#include "modules/samevalue.h"
#include "patch/moduletype.h"

// The module's variables, in declaration order, then its outputs.
struct MoogDirtyVars {
  double dInput, dCutoff, dResonance, dDrive, dBypass;
  double dStage1, dStage2, dStage3, dStage4, dOutput;
};

// The ladder's state. Per stage: its value y, tanh(k·y) and its previous increment.
struct MoogDirtyLadder {
  static constexpr int Stages = 4;
  double ady[Stages] = {}, adW[Stages] = {}, adD[Stages] = {};
  SameValue drivenArg;  // the argument of the input stage's tanh, and its value
  double dDriven = 0;
};

class ModMoogDirty : public ModFilterBase {
 public:
  static constexpr const char* pszClassName = "ModMoogDirty";
  static constexpr int Stages = MoogDirtyLadder::Stages;

  ModMoogDirty(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
               Module* pmodHelper);
  int Init() override;
  void NoteStart() override;
  void Calc() override;
  // Calc for the modules of several voices, each pulling its inputs as Calc would, their ladders
  // stepped side by side.
  static void CalcAcross(Module* const* apmod, int n);
  // Its computation pulls Input before anything else.
  static constexpr bool kKeepsInputs = true;
  static Var* FirstPull(Module* pmod) { return static_cast<ModMoogDirty*>(pmod)->pvarInput_; }

  MoogDirtyVars v = {};

 private:
  // Calc before the ladder's step: false when there is nothing to step (computed at this clock
  // value already, or bypassed), else the input stage's tanh argument.
  bool Prepare(double* pdArg);
  // Calc after the step: the stage outputs.
  void Finish();
  // The output compensation and the stages' rate, from Cutoff and Drive.
  void Recompute();

  Var* pvarCutoff_ = nullptr;
  Var* pvarResonance_ = nullptr;
  Var* pvarDrive_ = nullptr;

  bool bRecompute_ = true;
  double dCompensation_ = 1;  // c: the output gain that evens out the drive's level
  double dRate_ = 0;          // f: how fast a stage follows its input (per second, before k)
  double dHalfPeriod_ = 0;    // T: half a sample in seconds
  MoogDirtyLadder ladder_;
  // One sample of the ladder: the build with fused multiply-adds where the processor has them.
  void (*pfnStep_)(MoogDirtyLadder&, double dDrive, double T, double f) = nullptr;
};

// The slew module kinds: "Slew", the four SlewRate/SlewTime kinds, "Portamento" and
// "SubPortamento", which limit how fast a value follows its input.
#pragma once

#include "patch/moduletype.h"

struct SlewVars {
  double dInput;
  double dRate;       // Rate mode: units per second (linear) or factor per second (exponential)
  double dTime;       // Time mode: seconds a slew takes
  double dCurveType;  // keyword: "Linear", anything else is exponential
  double dContinue;   // boolean: a new note glides from the previous note's output
  double dBypass;
  double dOutput;
  double dSlewing;  // boolean: 1 while the output has not reached the input
};

class ModSlew : public Module {
 public:
  static constexpr const char* pszClassName = "ModSlew";
  ModSlew(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
          Module* pmodHelper);
  int Init() override;
  // Keeps the output, so that a new note can continue from the previous one.
  void NoteStart() override;
  void Calc() override;

  SlewVars v = {};

 private:
  // One step toward the input in Rate mode, in Time mode; answers the new output.
  double StepRate(double dIn, double dOut, double dt);
  double StepTime(double dIn, double dOut, double dt);

  Var* pvarInput_ = nullptr;
  Var* pvarRate_ = nullptr;
  Var* pvarTime_ = nullptr;
  Var* pvarCurveType_ = nullptr;
  Var* pvarContinue_ = nullptr;
  Var* pvarBypass_ = nullptr;
  int iLineRate_ = -1;  // patch lines for the run-time messages
  int iLineTime_ = -1;
  double dFreqEval_ = 0;
  double dLastTime_ = -1;     // clock of the last computation; -1 since the note started
  double dRemaining_ = 0;     // Time mode: seconds left of the running slew
  double dRateOfFactor_ = 0;  // exponential Rate mode: the Rate that dFactor_ was computed for
  double dFactor_ = 1;        // Rate ^ (1 / FreqEval)
};

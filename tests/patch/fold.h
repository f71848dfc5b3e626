// The module kind "Fold", which only the kind recipe test registers: a wavefolder that reflects
// its driven input back into -1..1.
#pragma once

#include "patch/moduletype.h"

struct FoldVars {
  double dInput;
  double dDrive;  // gain before the fold
  double dBypass;
  double dOutput;
};

class ModFold : public Module {
 public:
  static constexpr const char* pszClassName = "ModFold";
  ModFold(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
          Module* pmodHelper);
  int Init() override;
  void Reset() override { ForgetClock(); }
  void Calc() override;

  FoldVars v = {};

 private:
  Var* pvarInput_ = nullptr;
  Var* pvarDrive_ = nullptr;
  Var* pvarBypass_ = nullptr;
};

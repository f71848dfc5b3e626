// What the five filter module kinds share: the Input and Bypass steps of every computation, and
// the folding of recursive state.
#pragma once

#include <cmath>

#include "enginecore/settings.h"
#include "formula/formeval.h"
#include "modules/filters/foldstate.h"
#include "patch/module.h"

// The base of the filter modules. Input is looked up as a record, constant or not, and brought up
// to date at every computation; Bypass is looked up dynamically (a varying one is re-evaluated at
// every computation, a constant one evaluated once).
class ModFilterBase : public Module {
 protected:
  ModFilterBase(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {}

  // Init's first look-ups, and the sample rate, which stays while the patch is installed.
  void FindInputAndBypass() {
    pvarBypass_ = GetVar("Bypass");
    pvarInput_ = PulledThrough(FindVar("Input"));
    if (const InterpreterSettings* pengine = TheEngine()) dFreqEval_ = pengine->dFreqEval;
  }

  // The first step of every computation. False when there is nothing to do: the module computed
  // at this clock value already, or it has no Input record. Otherwise Input is current (read it
  // with Input()) and a varying Bypass has been re-evaluated into dBypass.
  bool BeginCalc(double& dBypass) {
    if (!ClockMoved() || !pvarInput_) return false;
    FormVarEval(pvarInput_);
    dBypass = Pull(pvarBypass_, dBypass);
    return true;
  }
  double Input() const { return *pvarInput_->pvalue; }

  Var* pvarInput_ = nullptr;
  Var* pvarBypass_ = nullptr;
  double dFreqEval_ = 44100;  // Hz
};

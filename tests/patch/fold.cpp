// The wavefolder "Fold": its declaration table and the fold.
#include "fold.h"

#include <cmath>

namespace {

#define FOLD_AT(field) VAR_OFFSET(FoldVars, field)

Var avarFoldInputs[] = {VarIn("Input", FormTypeNumeric, FOLD_AT(dInput), 0, 0, "0"),
                        VarIn("Drive", FormTypeNumeric, FOLD_AT(dDrive), 0, 0, "1"),
                        VarIn("Bypass", FormTypeBoolean, FOLD_AT(dBypass), 0, 0, "false"), VarEnd};
Var avarFoldOutputs[] = {VarOut("Output", FormTypeNumeric, FOLD_AT(dOutput), 0, 0), VarEnd};

const VarHelp ahelpFold[] = {{"Input", "the signal to fold"},
                             {"Drive", "gain before the fold: each unit beyond 1 folds the signal once more"},
                             {"Bypass", "true passes Input unchanged"},
                             {"Output", "-1..1: the driven input reflected at -1 and 1"},
                             {}};

ModuleTypeTmpl<ModFold> typeFold("Fold", avarFoldInputs, avarFoldOutputs,
                                 AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr, OrderFold, ahelpFold);

}  // namespace

ModFold::ModFold(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                 int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  v.dDrive = 1;
}

int ModFold::Init() {
  pvarInput_ = GetVar("Input");
  pvarDrive_ = GetVar("Drive");
  pvarBypass_ = GetVar("Bypass");
  return 0;
}

void ModFold::Calc() {
  if (!ClockMoved()) return;
  v.dInput = Pull(pvarInput_, v.dInput);
  v.dBypass = Pull(pvarBypass_, v.dBypass);
  if (v.dBypass != 0) {
    v.dOutput = v.dInput;
    return;
  }
  v.dDrive = Pull(pvarDrive_, v.dDrive);
  // The fold is a triangle of period 4 through (-1, -1) and (1, 1).
  double x = std::fmod(v.dInput * v.dDrive + 1, 4);
  if (x < 0) x += 4;
  v.dOutput = 1 - std::fabs(x - 2);
}

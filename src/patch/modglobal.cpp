// The Global module: the engine settings that formulas see, at level 0.
#include "patch/structural.h"

namespace {

Var avarGlobalInputs[] = {
    VarIn("FreqEval", FormTypeNumeric, VAR_OFFSET(GlobalVars, dFreqEval), ClassConstant, 0, nullptr),
    VarIn("FreqA", FormTypeNumeric, VAR_OFFSET(GlobalVars, dFreqA), ClassConstant, 0, nullptr),
    VarIn("FreqFullBass", FormTypeNumeric, VAR_OFFSET(GlobalVars, dFreqFullBass), ClassConstant, 0, nullptr),
    VarEnd};
Var avarGlobalOutputs[] = {VarEnd};

const VarHelp ahelpGlobal[] = {
    {"FreqEval", "Hz: the sample rate the engine renders at (from the engine settings)"},
    {"FreqA", "Hz: the tuning of A4, 440 by default"},
    {"FreqFullBass", "Hz: below this frequency oscillators get no bass compensation, 55 by default"},
    {}};
ModuleTypeTmpl<ModGlobal> typeGlobal("Global", avarGlobalInputs, avarGlobalOutputs, AttrRegistered, nullptr,
                                     OrderGlobal, ahelpGlobal);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_global = 0;

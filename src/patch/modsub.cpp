// The Sub module: a sub-patch included from another patch file.
#include "patch/structural.h"

namespace {

Var avarSubInputs[] = {
    VarIn("File", FormTypeString, VAR_OFFSET(SubVars, dFile), 0, 0, nullptr),
    VarIn("Result", FormTypeNumeric, VAR_OFFSET(SubVars, dResult), 0, 0, "Voice:Result"),
    VarEnd};
Var avarSubOutputs[] = {VarEnd};

const VarHelp ahelpSub[] = {
    {"File", "text: the sub-patch file, relative to this patch's folder"},
    {"Result", "the sub-patch's voice output (its Voice:Result), read as this section's value"},
    {}};
ModuleTypeTmpl<ModSub> typeSub("Sub", avarSubInputs, avarSubOutputs, AttrRegistered | AttrQuietUnused, nullptr,
                               OrderSub, ahelpSub);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_sub = 0;

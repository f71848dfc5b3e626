// The Patch module: the patch's voice settings, its output and its clock.
#include "structural.h"

namespace {

#define PATCH_IN(name, type, cap, flags, def) VarIn(#name, type, VAR_OFFSET(PatchVars, d##name), cap, flags, def)

Var avarPatchInputs[] = {
    PATCH_IN(Result, FormTypeNumeric, ClassPerSample, VarFlagChannels, "VoiceOutput"),
    PATCH_IN(VoicePrealloc, FormTypeNumeric, ClassPerPatch, 0, "16"),
    PATCH_IN(NoteMax, FormTypeNumeric, ClassPerPatch, 0, "16"),
    PATCH_IN(VoicesPerNote, FormTypeNumeric, ClassPerPatch, 0, "1"),
    PATCH_IN(Retrigger, FormTypeBoolean, ClassPerPatch, 0, "true"),
    PATCH_IN(VoiceCache, FormTypeKeyword, ClassPerPatch, 0, "FIFO"),
    PATCH_IN(RandomSeed, FormTypeNumeric, ClassPerPatch, 0, "0"),
    PATCH_IN(VarSpeed, FormTypeBoolean, ClassPerPatch, 0, nullptr),
    PATCH_IN(FreqEvalControl, FormTypeNumeric, ClassPerPatch, 0, "0"),
    VarEnd};

Var avarPatchOutputs[] = {
    VarOut("Sample", FormTypeNumeric, VAR_OFFSET(PatchVars, dSample), ClassPerSample, 0),
    VarOut("Time", FormTypeNumeric, VAR_OFFSET(PatchVars, dTime), ClassPerSample, 0),
    // The sum of the voices: an output defined by its formula, with no storage of its own.
    VarOut("VoiceOutput", FormTypeNumeric, -1, ClassPerSample, VarFlagFormulaOutput, nullptr,
           "SumVoices( Voice:Result )"),
    VarEnd};

// The patch's output may carry several channels (Result$2 is the right channel).
class ModuleTypeModPatch : public ModuleTypeTmpl<ModPatch> {
 public:
  using ModuleTypeTmpl<ModPatch>::ModuleTypeTmpl;
  int RefuseChannels(Var*) override { return 0; }
};

ModuleTypeModPatch typePatch("Patch", avarPatchInputs, avarPatchOutputs, AttrRegistered | AttrAudioRate, nullptr,
                              OrderPatch);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_patch = 0;

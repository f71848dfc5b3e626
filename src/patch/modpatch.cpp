// The Patch module: the patch's voice settings, its output and its clock.
#include "patch/structural.h"

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

const VarHelp ahelpPatch[] = {
    {"Result", "the patch's output, -1..1 full scale; Result$2 is the right channel (default the sum of the voices)"},
    {"VoicePrealloc", "voices made ahead of time; -1 makes NoteMax x VoicesPerNote"},
    {"NoteMax", "the most notes sounding at once, 1..; 1 makes the patch monophonic"},
    {"VoicesPerNote", "voices started per note (unison), 1..8; Pitch spreads them by UnisonSpread"},
    {"Retrigger", "true: a repeated key restarts its sounding voice instead of taking a new one"},
    {"VoiceCache", "keyword: FIFO reuses the voice that finished longest ago, LIFO the latest one"},
    {"RandomSeed", "the starting state of the patch's random generator (Random(), pink noise, Swarm)"},
    {"VarSpeed", "accepted for compatibility; not used"},
    {"FreqEvalControl", "Hz: a control rate kept with the patch; not used by the engine"},
    {"Sample", "samples since the patch was installed"},
    {"Time", "seconds since the patch was installed"},
    {"VoiceOutput", "the sum of every sounding voice's Voice:Result"},
    {}};
ModuleTypeModPatch typePatch("Patch", avarPatchInputs, avarPatchOutputs, AttrRegistered | AttrAudioRate, nullptr,
                             OrderPatch, ahelpPatch);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_patch = 0;

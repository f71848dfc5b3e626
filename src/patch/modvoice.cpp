// The Voice module: a voice's output and the condition that retires it.
#include "formula/errorlist.h"
#include "patch/structural.h"

const VarHelp ahelpVoice[] = {
    {"PreGain", "the voice's sound before the gain envelope, -1..1; PreGain$2 for a second channel"},
    {"Result", "the voice's output, summed into the patch (default PreGain times EnvGain:Amp)"},
    {"Finished", "true frees the voice for another note (default: the gain envelope has ended)"},
    {}};

namespace {

Var avarVoiceInputs[] = {
    VarIn("PreGain", FormTypeNumeric, VAR_OFFSET(VoiceVars, dPreGain), ClassPerSample, VarFlagChannels, "0"),
    VarIn("Result", FormTypeNumeric, VAR_OFFSET(VoiceVars, dResult), ClassPerSample, VarFlagChannels,
          "PreGain * EnvGain:Amp"),
    VarIn("Finished", FormTypeBoolean, VAR_OFFSET(VoiceVars, dFinished), 0, 0, "EnvGain:Finished"),
    VarEnd};
Var avarVoiceOutputs[] = {VarEnd};

// A voice may carry several channels in PreGain and Result, and in nothing else.
class ModuleTypeVoice : public ModuleTypeTmpl<ModVoice> {
 public:
  using ModuleTypeTmpl<ModVoice>::ModuleTypeTmpl;
  int RefuseChannels(Var* pvar) override {
    if (ChannelOf(pvar, "PreGain") || ChannelOf(pvar, "Result")) return 0;
    AKS(AKSWarn, AK_HERE, "%s:%s module cannot accept %d channel variable (except for PreGain or Result)",
        pvar->pszModule, pvar->pszName, pvar->nChannels);
    ERRADD(pvar->iLine, "%s:%s module cannot accept %d channel variable (except for PreGain or Result)",
           pvar->pszModule, pvar->pszName, pvar->nChannels);
    return -1;
  }
};

ModuleTypeVoice typeVoice("Voice", avarVoiceInputs, avarVoiceOutputs, AttrRegistered, nullptr, OrderVoice,
                          ahelpVoice);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_voice = 0;

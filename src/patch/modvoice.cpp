// The Voice module: a voice's output and the condition that retires it.
#include "errorlist.h"
#include "structural.h"

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

ModuleTypeVoice typeVoice("Voice", avarVoiceInputs, avarVoiceOutputs, AttrRegistered, nullptr, OrderVoice);

}  // namespace

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_voice = 0;

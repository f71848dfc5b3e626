// The Channel module: a MIDI channel's controller values as outputs, and the sixteen engine channels.
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "foundation/akstatus.h"
#include "patch/structural.h"

namespace {

Var avarChannelInputs[] = {VarEnd};

// The help line of a controller's output; a patch's Channel section may set any of them as a start value.
const char* ControllerHelp(int i) {
  if (i == ControllerPressure) return "channel pressure (aftertouch), 0..1";
  if (i == ControllerPitchBend) return "the pitch-bend wheel, -1..1, 0 at rest";
  char sz[96];
  if (i >= ControllerNoteDownFirst)
    snprintf(sz, sizeof sz, "1 while key %s (note %d) is held down on the channel, else 0",
             ControllerName(i) + strlen("NoteDown"), i - ControllerNoteDownFirst);
  else
    snprintf(sz, sizeof sz, "MIDI controller %d, 0..1 (the value / 127, finer when its low part is sent)", i);
  return StructuralKeepText(sz);
}

// ChannelNum, then every controller that holds a value except the per-note ones and the
// note-down flags' neighbours: 0-31 and 64-119 (less 88, 98, 100), pressure, pitch bend, the
// note-down flags. MIDI writes the values; nothing computes them, so they have no output routine,
// and a patch's formula for one (its initial value) is compiled and evaluated once in Init. A
// patch names a few of the hundreds: each gets its record where it is named.
Var* ChannelOutputs() {
  static Var avar[ControllerCount + 2];
  int n = 0;
  avar[n] = VarOut("ChannelNum", FormTypeNumeric, VAR_OFFSET(ChannelVars, dChannelNum), ClassConstant, 0, nullptr);
  avar[n++].pszHelp = "the MIDI channel the patch plays on, 1..16";
  for (int i = 0; i < ControllerCount; ++i) {
    if (!ControllerHoldsValue(i)) continue;
    int iOffset = VAR_OFFSET(ChannelVars, adValue) + i * static_cast<int>(sizeof(double));
    avar[n] =
        VarOut(ControllerName(i), FormTypeNumeric, iOffset, ClassConstant,
               VarFlagMidi | VarFlagNeverFold | VarFlagOnReference, nullptr);
    avar[n++].pszHelp = ControllerHelp(i);
  }
  avar[n] = VarEnd;
  return avar;
}

ModuleTypeTmpl<ModChannel> typeChannel("Channel", avarChannelInputs, ChannelOutputs(), AttrRegistered, nullptr,
                                       OrderChannel);

}  // namespace

ModChannel::ModChannel(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                       int iLevel, Module*)
    : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
  // A patch's channel starts from the engine's state; the patch then copies its own channel's.
  InterpreterSettings* pengine = TheEngine();
  if (ppatch && pengine && pengine->apmodChannel[0]) CopyStateFrom(static_cast<ModChannel*>(pengine->apmodChannel[0]));
}

void ModChannel::CopyStateFrom(const ModChannel* pmodFrom) {
  v = pmodFrom->v;
  memcpy(abFine, pmodFrom->abFine, sizeof abFine);
  memcpy(adPending, pmodFrom->adPending, sizeof adPending);
}

int ModChannel::Init() {
  if (!ppatch) return 0;  // an engine channel
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  int iResult = 0;
  for (Var* pvar = avar; pvar && pvar->pszName; ++pvar) {
    if (pvar->pmodule != this || !pvar->pform) continue;
    if (pvar->pform->et != FormTypeNumeric) {
      ERRADD(pvar->iLine, "%s:%s - a channel's initial value must be a number", pvar->pszModule, pvar->pszName);
      iResult = -1;
      continue;
    }
    FormVarRefresh(pvar);
  }
  return iResult;
}

void CreateChannelModules() {
  InterpreterSettings* pengine = TheEngine();
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Channel");
  if (!ptype) {
    AKS(AKSError, AK_HERE, "%s", "cannot find the first-class object for class ModChannel");
    return;
  }
  for (int i = 0; i < MidiChannels; ++i) {
    auto* pmod = static_cast<ModChannel*>(ptype->Create("Channel", nullptr, nullptr, true, 0, nullptr));
    pmod->v.dChannelNum = i + 1;
    pengine->apmodChannel[i] = pmod;
  }
}

void DestroyChannelModules() {
  InterpreterSettings* pengine = TheEngine();
  if (!pengine) return;
  for (Module*& pmod : pengine->apmodChannel) {
    delete pmod;
    pmod = nullptr;
  }
}

// Named by the factory so that the linker keeps this file's registration.
int g_nAnchor_channel = 0;

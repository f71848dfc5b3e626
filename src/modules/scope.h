// The Scope module: a per-voice probe naming the signals the oscilloscope captures and shows.
#pragma once

#include <vector>

#include "patch/moduletype.h"

struct ScopeVars {
  double dSyncIn, dFinished, dFreqHint, dBypass;
};

class ModOscilloscope : public Module {
 public:
  static constexpr const char* pszClassName = "ModOscilloscope";
  static constexpr int MaxSlots = 50;  // signals and captions one probe carries
  ModOscilloscope(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                  Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  static bool IsNumberedInput(const char* pszName) {
    return IsNumberedName(pszName, "Probe") || IsNumberedName(pszName, "Caption");
  }
  // Gives every variable but the four controls a slot, and sorts them into probes and captions.
  int Init() override;

  struct Caption {
    Var* pvar;
    int etKind;  // number, text or keyword
    char szLabel[256];
  };
  ScopeVars v = {};
  double adSlot[MaxSlots] = {};
  int nSlots = 0;
  std::vector<Var*> apvarProbe;
  std::vector<Caption> acaption;
  Var* pvarFreqHint = nullptr;  // when FreqHint varies
};

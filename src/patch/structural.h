// The structural module kinds: channel state, note, voice, patch, global, interface, sub-patch.
#pragma once

#include <string>

#include "enginecore/controllers.h"
#include "patch/moduletype.h"

// A MIDI channel's state: a value, a fine-part flag and a pending coarse value per controller.
// Sixteen engine channels exist (MIDI decoding writes them); a patch's own Channel copies one.
struct ChannelVars {
  double dChannelNum;
  double adValue[ControllerCount];
};

class ModChannel : public Module {
 public:
  static constexpr const char* pszClassName = "ModChannel";
  ModChannel(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
             Module* pmodHelper);
  // A patch's channel: every variable the patch set must be a number, the initial value.
  int Init() override;
  void CopyStateFrom(const ModChannel* pmodFrom);

  ChannelVars v = {};
  unsigned char abFine[ControllerCount] = {};  // set once the coarse controller received a fine part
  double adPending[ControllerCount] = {};      // raw coarse byte waiting for its fine part
};

// The help lines of the Voice rows, which a sub-patch's DummyVoice shares.
extern const VarHelp ahelpVoice[];
// Keeps a text made at start-up (defaults and help lines of generated tables) for the program's life.
const char* StructuralKeepText(std::string s);

// Makes the sixteen engine channel modules (named "Channel", no patch) into TheEngine().
void CreateChannelModules();
void DestroyChannelModules();

// The note a voice plays; the voice writes these values.
struct NoteVars {
  double dNoteNumber, dVelocity, dPolyPressure, dNoteOn, dNoteOff, dRelVelocity, dOrigVelocity, dVoiceNum,
      dVoicePerNote, dTime, dSample;
};

class ModNote : public Module {
 public:
  static constexpr const char* pszClassName = "ModNote";
  ModNote(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  NoteVars v = {};
};

// The voice's output and end.
struct VoiceVars {
  double dPreGain, dResult, dFinished;
};

class ModVoice : public Module {
 public:
  static constexpr const char* pszClassName = "ModVoice";
  ModVoice(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  // Only a note start, an event that wakes every record at rest, writes into an input.
  static constexpr bool kKeepsInputs = true;
  void NoteStart() override { v.dFinished = 0; }
  VoiceVars v = {};
};

// The patch's own settings, output and clock.
struct PatchVars {
  double dResult, dVoicePrealloc, dNoteMax, dVoicesPerNote, dRetrigger, dVoiceCache, dRandomSeed, dVarSpeed,
      dFreqEvalControl, dSample, dTime;
};

class ModPatch : public Module {
 public:
  static constexpr const char* pszClassName = "ModPatch";
  ModPatch(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  int Init() override {
    v.dResult = 0;
    return 0;
  }
  PatchVars v = {};
};

// The engine's global values: FreqEval, FreqA, FreqFullBass, merged into the section from the
// engine settings.
struct GlobalVars {
  double dFreqEval, dFreqA, dFreqFullBass;
};

class ModGlobal : public Module {
 public:
  static constexpr const char* pszClassName = "ModGlobal";
  ModGlobal(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  GlobalVars v = {};
};

// A package's interface, or its caller: only user variables, each given a slot of its own.
class ModInterface : public Module {
 public:
  static constexpr const char* pszClassName = "ModInterface";
  static constexpr int MaxVars = 100;  // slots inside the module
  ModInterface(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
               Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = adSlot;
  }
  int Init() override;
  double adSlot[MaxVars] = {};
};

// A sub-patch: its file, and its voice output seen from the calling level.
struct SubVars {
  double dFile, dResult;
};

class ModSub : public Module {
 public:
  static constexpr const char* pszClassName = "ModSub";
  ModSub(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = &v;
  }
  SubVars v = {};
};

// The stand-ins of a sub-patch's structural sections, re-exporting the parent's values.
class ModDummy : public Module {
 public:
  static constexpr const char* pszClassName = "ModDummy";
  static constexpr int MaxVars = 128;  // DummyChannel has 88 rows, the largest
  ModDummy(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel, Module*)
      : Module(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
    pvVars = adSlot;
  }
  double adSlot[MaxVars] = {};
};

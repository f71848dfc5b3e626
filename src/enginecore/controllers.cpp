// Names of the controller space.
#include "enginecore/controllers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

const char* const kCoarse[32] = {
    "BankSelect", "ModWheel", "BreathCtrl", "CN3",      "FootCtrl", "PortTime", "DataEntryMSB", "ChannelVol",
    "Balance",    "CN9",      "PanCtrl",    "ExprCtrl", "EffectCtrl1", "EffectCtrl2", "CN14", "CN15",
    "General1",   "General2", "General3",   "General4", "CN20",     "CN21",     "CN22",     "CN23",
    "CN24",       "CN25",     "CN26",       "CN27",     "CN28",     "CN29",     "CN30",     "CN31"};

const char* const k64To101[38] = {
    "DamperPdl",    "PortamentoPdl", "Sostenuto",     "SoftPdl",     "Legato",         "DamperPdl2",
    "SoundVariation", "Timbre",      "ReleaseTime",   "AttackTime",  "Brightness",     "DecayTime",
    "VibratoRate",  "VibratoDepth",  "VibratoDelay",  "SoundCtrl10", "General5",       "General6",
    "General7",     "General8",      "PortamentoCtrl", "CN85",       "CN86",           "CN87",
    "HiResVelPrefix", "CN89",        "CN90",          "ReverbSend",  "TremoloDepth",   "ChorusDepth",
    "DetuneDepth",  "PhaserDepth",   "DataIncrement", "DataDecrement", "NonRegParamLSB", "NonRegParam",
    "RegParamLSB",  "RegParam"};

const char* const kPerNote[7] = {"NoteNumber", "Velocity", "PolyPressure", "NoteOn",
                                 "NoteOff",    "RelVelocity", "VoicePerNote"};

const char* const kPitchNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

struct Names {
  std::string as[ControllerCount];
  // The index of each name: the compiler asks for every MIDI-set variable a formula reads.
  std::unordered_map<std::string_view, int> mapIndex;
  Names() {
    for (int i = 0; i < 32; ++i) {
      as[i] = kCoarse[i];
      as[32 + i] = i == 10 ? std::string("PanLSB") : std::string(kCoarse[i]) + "LSB";  // PanCtrl's fine part
    }
    for (int i = 64; i <= 101; ++i) as[i] = k64To101[i - 64];
    for (int i = 102; i <= 119; ++i) as[i] = "CN" + std::to_string(i);
    as[ControllerPressure] = "Pressure";
    as[ControllerPitchBend] = "PitchBend";
    for (int i = 0; i < 7; ++i) as[ControllerNoteNumber + i] = kPerNote[i];
    for (int n = 0; n < 128; ++n) as[ControllerNoteDownFirst + n] = std::string("NoteDown") + kPitchNames[n % 12] + std::to_string(n / 12 - 1);
    for (int i = ControllerCount - 1; i >= 0; --i) mapIndex[as[i]] = i;  // the lowest index of a name wins
  }
};

const Names& TheNames() {
  static const Names names;
  return names;
}

}  // namespace

const char* ControllerName(int iIndex) {
  return iIndex >= 0 && iIndex < ControllerCount ? TheNames().as[iIndex].c_str() : "";
}

int ControllerIndex(const char* pszName) {
  if (!pszName) return -1;
  const auto& map = TheNames().mapIndex;
  auto it = map.find(pszName);
  return it == map.end() ? -1 : it->second;
}

bool ControllerHoldsValue(int iIndex) {
  if (iIndex < 0 || iIndex >= ControllerCount) return false;
  if (iIndex >= 32 && iIndex <= 63) return false;
  if (iIndex == 88 || iIndex == 98 || iIndex == 100) return false;
  return iIndex < ControllerNoteNumber || iIndex >= ControllerNoteDownFirst;
}

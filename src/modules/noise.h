// The noise module kinds "Noise" (white by default) and "PinkNoise" (pink by default).
#pragma once

#include <cstdint>

#include "patch/moduletype.h"

struct NoiseVars {
  double dColor;  // keyword: "White", anything else is pink
  double dBypass;
  double dOutput;  // -1..1
};

class ModNoise : public Module {
 public:
  static constexpr const char* pszClassName = "ModNoise";
  ModNoise(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
           Module* pmodHelper);
  int Init() override;
  // Seeds the white noise from the voice number, once in the module's life.
  void NoteStart() override;
  void Calc() override;

  NoiseVars v = {};

 private:
  // The value of Note:VoiceNum at this module's level (any level's when there is none), or
  // absent when the table has no Note.
  Var* FindVoiceNum();
  void SeedWhite(double dVoiceNum);

  Var* pvarColor_ = nullptr;
  Var* pvarBypass_ = nullptr;
  double dWhite_;      // white state in 0..1, or the largest double while unseeded
  // Pink filter states, in units of the 0..32767 draws. They start at 0 and are never reset, so a
  // new module's pink noise rises from -1 over its first hundred samples or so.
  double dPink0_ = 0;
  double dPink1_ = 0;
  double dPink2_ = 0;
  uint32_t uOwnRandom_ = 1;  // drawn from only when no patch generator was given
};

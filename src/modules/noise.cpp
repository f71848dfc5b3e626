// The noise module kinds "Noise" and "PinkNoise": a chaotic white generator and filtered pink noise.
#include "modules/modulehelp.h"
#include "modules/noise.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "formula/formeval.h"
#include "patch/voice.h"

namespace {

Var avarNoiseInputs[] = {VarIn("Color", FormTypeKeyword, VAR_OFFSET(NoiseVars, dColor), 0, 0, "White"),
                         VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(NoiseVars, dBypass), 0, 0, "False"), VarEnd};
Var avarPinkInputs[] = {VarIn("Color", FormTypeKeyword, VAR_OFFSET(NoiseVars, dColor), 0, 0, "Pink"),
                        VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(NoiseVars, dBypass), 0, 0, "False"), VarEnd};
Var avarNoiseOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(NoiseVars, dOutput), 0, 0), VarEnd};

// What Noise and PinkNoise mean alike.
const VarHelp ahelpNoiseShared[] = {
    {"Bypass", ModHelp::kBypassSilences},
    {"Output", "the noise, -1..1"},
    {}};
const VarHelp ahelpNoise[] = {
    {"Color", "keyword: White (flat spectrum, each voice its own sequence) or Pink (-3 dB per octave)"},
    {}};
ModuleTypeTmpl<ModNoise> typeNoise("Noise", avarNoiseInputs, avarNoiseOutputs,
                                   AttrRegistered | AttrBypassSilences | AttrMultiMono | AttrAudioRate |
                                       AttrDrawsRandom,
                                   nullptr, OrderNoise, ahelpNoise, ahelpNoiseShared);
const VarHelp ahelpPinkNoise[] = {
    {"Color", "keyword: Pink (-3 dB per octave, from the patch's random generator) or White"},
    {}};
ModuleTypeTmpl<ModNoise> typePinkNoise("PinkNoise", avarPinkInputs, avarNoiseOutputs,
                                       AttrRegistered | AttrBypassSilences | AttrDrawsRandom, nullptr,
                                       OrderPinkNoise, ahelpPinkNoise, ahelpNoiseShared);

// The white seed is the voice number plus this, so that each voice runs its own sequence.
constexpr double kWhiteSeedOffset = 1900.0 / 99.0;  // 19.1919...

// The patch generator's step, scaled to 0..32767 as the pink filters want it.
inline double Draw15(uint32_t* pu) {
  *pu = *pu * 214013u + 2531011u;
  return static_cast<double>((*pu >> 16) & 0x7FFF);
}

// The pink filters: three one-pole lowpasses, each of its own uniform draws, at staggered corners
// (about 8 kHz, 1.8 kHz and 270 Hz at 44.1 kHz), weighted into a spectrum that is flat below
// about 100 Hz and falls about 3.7 dB per octave on average over the audio band. The weights sum
// to kPinkMean, the mean of their output divided by 32767/2, which is removed; the gain leaves
// the result mostly within -1..1, where it is limited.
constexpr double kPinkPole0 = 0.319, kPinkPole1 = 0.7756, kPinkPole2 = 0.9613;
constexpr double kPinkWeight0 = 0.02109238, kPinkWeight1 = 0.07113478, kPinkWeight2 = 0.68873558;
constexpr double kPinkMean = 0.78096274;
constexpr double kPinkGain = 4;

}  // namespace

ModNoise::ModNoise(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                   int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_), dWhite_(DBL_MAX) {
  pvVars = &v;
  v.dColor = ptype_ && ptype_->avarInputs == avarPinkInputs ? KwPink : KwWhite;
}

int ModNoise::Init() {
  pvarColor_ = GetVar("Color");
  pvarBypass_ = GetVar("Bypass");
  if (!puRandom) puRandom = &uOwnRandom_;
  return 0;
}

Var* ModNoise::FindVoiceNum() {
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  if (!avar) return nullptr;
  Var* pvarAny = nullptr;
  for (Var* pvar = avar; pvar->pszName; ++pvar) {
    if (pvar->iHistory != 0 || !pvar->pszModule || strcmp(pvar->pszModule, "Note") != 0 ||
        strcmp(pvar->pszName, "VoiceNum") != 0)
      continue;
    if (pvar->iLevel == iLevel) return pvar;
    if (!pvarAny) pvarAny = pvar;
  }
  return pvarAny;
}

void ModNoise::SeedWhite(double dVoiceNum) {
  dWhite_ = dVoiceNum + kWhiteSeedOffset;
  if (!std::isfinite(dWhite_) || dWhite_ == DBL_MAX) dWhite_ = kWhiteSeedOffset;
}

void ModNoise::NoteStart() {
  if (dWhite_ != DBL_MAX) return;
  // The compiler drops Note:VoiceNum when no formula reads it; the voice still knows its number.
  Var* pvar = FindVoiceNum();
  if (pvar) FormVarEval(pvar);
  SeedWhite(pvar ? *pvar->pvalue : pvoice ? pvoice->voiceNum : 0);
}

void ModNoise::Calc() {
  if (!ClockMoved()) return;
  if (Pull(pvarBypass_, v.dBypass) != 0) {
    v.dOutput = 0;
    return;
  }
  if (Pull(pvarColor_, v.dColor) == static_cast<double>(KwWhite)) {
    // A module without a voice never sees a note start; it takes the seed of voice 0.
    if (dWhite_ == DBL_MAX) SeedWhite(0);
    const double s = dWhite_;
    double dNext = 0.5 * s + 0.5 * (s + 19) * (s + 19);
    dNext -= std::trunc(dNext);
    dWhite_ = dNext;
    v.dOutput = 2 * dNext - 1;
    return;
  }
  const double r1 = Draw15(puRandom);
  const double r2 = Draw15(puRandom);
  const double r3 = Draw15(puRandom);
  dPink0_ = (dPink0_ - r1) * kPinkPole0 + r1;
  dPink1_ = (dPink1_ - r2) * kPinkPole1 + r2;
  dPink2_ = (dPink2_ - r3) * kPinkPole2 + r3;
  const double d =
      ((dPink2_ * kPinkWeight2 + dPink0_ * kPinkWeight0 + dPink1_ * kPinkWeight1) * (2.0 / 32767) - kPinkMean) *
      kPinkGain;
  v.dOutput = d < -1 ? -1 : d > 1 ? 1 : d;
}

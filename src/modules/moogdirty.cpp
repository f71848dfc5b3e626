// The "MoogDirty" module: each stage integrates, trapezoid-fashion, the difference between the tanh
// of its input and the tanh of its own value; the last stage feeds back into the first.
#include "modules/moogdirty.h"

#include <cmath>
#include <numbers>

#include "formula/vantanh.h"
#include "modules/modulehelp.h"
#include "modules/moogdirty_lanes.h"

namespace {

Var avarInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dInput), 0, 0, "0"),
    VarIn("Cutoff", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dCutoff), 0, 0, "2000"),
    VarIn("Resonance", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dResonance), 0, 0, "0"),
    VarIn("Drive", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dDrive), 0, 0, ".1"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(MoogDirtyVars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarOutputs[] = {VarOut("Stage1", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dStage1), 0, 0),
                     VarOut("Stage2", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dStage2), 0, 0),
                     VarOut("Stage3", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dStage3), 0, 0),
                     VarOut("Stage4", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dStage4), 0, 0),
                     VarOut("Output", FormTypeNumeric, VAR_OFFSET(MoogDirtyVars, dOutput), 0, 0),
                     VarEnd};

const VarHelp ahelpMoogDirty[] = {
    {"Input", ModHelp::kAudioInput},
    {"Cutoff", ModHelp::kCutoff},
    {"Bypass", ModHelp::kBypassPasses},
    {"Resonance", "feedback around the ladder, 0..about 1.5: 0 none, higher values ring and self-oscillate"},
    {"Drive", "input level into the saturating stages: 0.1 clean, 1 and more audibly distorted"},
    {"Stage1", ModHelp::kStage},
    {"Stage2", ModHelp::kStage},
    {"Stage3", ModHelp::kStage},
    {"Stage4", ModHelp::kStage},
    {"Output", ModHelp::kLadderOutput},
    {}};
ModuleTypeTmpl<ModMoogDirty> typeMoogDirty("MoogDirty", avarInputs, avarOutputs,
                                           AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr,
                                           OrderMoogDirty, ahelpMoogDirty);

// Cutoff × this × k = 2.2π × Cutoff: the stage's pole in radians per second (before the
// (1 − x)/(1 + x) correction below).
constexpr double kRatePerHz = 0.35939819957067237;
// The loop gain of the feedback per unit of Resonance.
constexpr double kFeedback = 2.9;

// The compensation fitted over the drive, at the two ends of the cutoff range (110 Hz and seven
// octaves up, 14080 Hz); between them it is interpolated over the octaves.
constexpr double kCutoffLow = 110, kCutoffHigh = 14080;
constexpr double kOctaves = 7;

double CompensationLow(double dDrive) {
  return dDrive < 0.15 ? 0.95 / (dDrive - 0.0005) + 3.89169 : 0.15 / (dDrive - 0.092) + 7.66;
}
double CompensationHigh(double dDrive) {
  return dDrive < 0.269 ? 0.95 / (dDrive - 0.0002) + 0.53922 : 0.19 / (dDrive - 0.092) + 3;
}

// One ladder, one sample: the plain build and the one with fused multiply-adds.
void StepPlain(MoogDirtyLadder& s, double dDrive, double T, double f) {
  MoogDirtyLadder* const aps[] = {&s};
  moogdirty::Step<false, 1>(aps, &dDrive, T, &f);
}
VAN_TARGET_FUSED void StepFused(MoogDirtyLadder& s, double dDrive, double T, double f) {
  MoogDirtyLadder* const aps[] = {&s};
  moogdirty::Step<true, 1>(aps, &dDrive, T, &f);
}

}  // namespace

ModMoogDirty::ModMoogDirty(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                           int iLevel, Module*)
    : ModFilterBase(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
}

int ModMoogDirty::Init() {
  FindInputAndBypass();
  pvarCutoff_ = GetVar("Cutoff");
  pvarResonance_ = GetVar("Resonance");
  pvarDrive_ = GetVar("Drive");
  dHalfPeriod_ = 0.5 / dFreqEval_;
  pfnStep_ = VanFusedUsable() ? StepFused : StepPlain;
  NoteStart();  // a per-patch module may never see a note
  return 0;
}

void ModMoogDirty::NoteStart() {
  ForgetClock();
  bRecompute_ = true;
  ladder_ = MoogDirtyLadder();
}

void ModMoogDirty::Recompute() {
  double dCutoff = v.dCutoff, dDrive = v.dDrive;
  double c = 1;
  if (dDrive != 0) {
    double dLow = CompensationLow(dDrive), dHigh = CompensationHigh(dDrive);
    if (dCutoff <= kCutoffLow) {
      c = dLow;
    } else if (dCutoff >= kCutoffHigh) {
      c = dHigh;
    } else {
      double h = std::log(dCutoff * (1 / kCutoffLow)) * (1 / kOctaves) / std::numbers::ln2;
      c = (1 - h) * dLow + h * dHigh;
    }
    // The fitted curves have poles at Drive 0.0002 and 0.0005: an infinite factor would turn the
    // silent start into NaN. There the output stays uncompensated, as with Drive 0.
    if (!std::isfinite(c)) c = 1;
  }
  dCompensation_ = c;

  // The stage rate, bent by (1 − x)/(1 + x) to keep the tuning at high cutoffs. Beyond 2R/π (above
  // Nyquist) or below 0 it turns negative, and a negative rate drives every stage away from its
  // input without bound: there the stages stand still instead.
  double x = std::numbers::pi * dCutoff / (2 * dFreqEval_);
  double f = dCutoff * kRatePerHz * (1 - x) / (1 + x);
  dRate_ = f > 0 ? f : 0;
  bRecompute_ = false;
}

// Inlined into the computations of one and of many ladders, which call it for every ladder and sample.
VAN_ALWAYS_INLINE bool ModMoogDirty::Prepare(double* pdArg) {
  if (!BeginCalc(v.dBypass)) return false;
  double dIn = Input();
  if (v.dBypass != 0) {
    v.dStage1 = v.dStage2 = v.dStage3 = v.dStage4 = v.dOutput = dIn;
    return false;
  }

  // A new cutoff or drive means a new compensation and rate.
  double dCutoffOld = v.dCutoff, dDriveOld = v.dDrive;
  v.dCutoff = Pull(pvarCutoff_, v.dCutoff);
  v.dDrive = Pull(pvarDrive_, v.dDrive);
  v.dResonance = Pull(pvarResonance_, v.dResonance);
  if (v.dCutoff != dCutoffOld || v.dDrive != dDriveOld) bRecompute_ = true;
  if (bRecompute_) Recompute();
  *pdArg = moogdirty::kScale * (v.dDrive * dIn - kFeedback * v.dResonance * ladder_.ady[3]);
  return true;
}

VAN_ALWAYS_INLINE void ModMoogDirty::Finish() {
  // The stage outputs, scaled back by the compensation.
  double c = dCompensation_;
  v.dStage1 = c * ladder_.ady[0];
  v.dStage2 = c * ladder_.ady[1];
  v.dStage3 = c * ladder_.ady[2];
  v.dStage4 = v.dOutput = c * ladder_.ady[3];
}

void ModMoogDirty::Calc() {
  double dArg;
  if (!Prepare(&dArg)) return;
  pfnStep_(ladder_, dArg, dHalfPeriod_, dRate_);
  Finish();
}

namespace {

// m ladders of the fused build in one pass: eight in two vectors (two chains to overlap), four in
// one, the rest side by side in scalar code. Each ladder's arithmetic is as it is alone.
VAN_TARGET_FUSED void StepFusedAcross(MoogDirtyLadder* const apladder[], const double adArg[], double T,
                                      const double af[], int m) {
  int i = 0;
  for (; i + 8 <= m; i += 8) moogdirty::lanes::Step<2>(apladder + i, adArg + i, T, af + i);
  if (i + 4 <= m) moogdirty::lanes::Step<1>(apladder + i, adArg + i, T, af + i), i += 4;
  switch (m - i) {
    case 3:
      return moogdirty::Step<true, 3>(apladder + i, adArg + i, T, af + i);
    case 2:
      return moogdirty::Step<true, 2>(apladder + i, adArg + i, T, af + i);
    case 1:
      return moogdirty::Step<true, 1>(apladder + i, adArg + i, T, af + i);
  }
}

}  // namespace

void ModMoogDirty::CalcAcross(Module* const* apmodIn, int n) {
  // Each module's inputs in turn, as its Calc would pull them; then the steps, side by side where
  // the fused build runs, the bypassed ones left out so that they leave no gaps in the vectors;
  // then the outputs. The voices of a patch share the sample rate, so T too.
  constexpr int kMost = ModuleType::kCalcAcrossMost;
  ModMoogDirty* apmod[kMost];
  MoogDirtyLadder* apladder[kMost];
  double adArg[kMost], af[kMost];
  int m = 0;
  for (int i = 0; i < n && i < kMost; ++i) {
    auto* pmod = static_cast<ModMoogDirty*>(apmodIn[i]);
    if (!pmod->Prepare(&adArg[m])) continue;
    apmod[m] = pmod;
    apladder[m] = &pmod->ladder_;
    af[m] = pmod->dRate_;
    ++m;
  }
  if (m == 0) return;
  if (VanFusedUsable())
    StepFusedAcross(apladder, adArg, apmod[0]->dHalfPeriod_, af, m);
  else
    for (int i = 0; i < m; ++i) apmod[i]->pfnStep_(*apladder[i], adArg[i], apmod[i]->dHalfPeriod_, af[i]);
  for (int i = 0; i < m; ++i) apmod[i]->Finish();
}

// The "MoogV11" module: per sample, two passes of the input stage (tanh of the input less the
// resonance feedback) and four one-pole stages, each of which blends its input with the previous one.
#include "modules/modulehelp.h"
#include "modules/moogv11.h"

#include <cfloat>
#include <cmath>

#include "enginecore/settings.h"

namespace {

Var avarInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dInput), 0, 0, "0"),
    VarIn("Cutoff", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dCutoff), 0, 0, "2000"),
    VarIn("Resonance", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dResonance), 0, 0, "1"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(MoogV11Vars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarOutputs[] = {VarOut("Stage1", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dStage1), 0, 0),
                     VarOut("Stage2", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dStage2), 0, 0),
                     VarOut("Stage3", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dStage3), 0, 0),
                     VarOut("Stage4", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dStage4), 0, 0),
                     VarOut("Output", FormTypeNumeric, VAR_OFFSET(MoogV11Vars, dOutput), 0, 0),
                     VarEnd};

const VarHelp ahelpMoogV11[] = {
    {"Input", ModHelp::kAudioInput},
    {"Cutoff", ModHelp::kCutoff},
    {"Bypass", ModHelp::kBypassPasses},
    {"Resonance", "feedback around the ladder, 0..1: near 1 the filter rings and then self-oscillates"},
    {"Stage1", ModHelp::kStage},
    {"Stage2", ModHelp::kStage},
    {"Stage3", ModHelp::kStage},
    {"Stage4", ModHelp::kStage},
    {"Output", ModHelp::kLadderOutput},
    {}};
ModuleTypeTmpl<ModMoogV11> typeMoogV11("MoogV11", avarInputs, avarOutputs,
                                       AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr, OrderMoogV11,
                                       ahelpMoogV11);

// g = Cutoff/R × 1.08π: at two passes per sample the stage's pole sits near 1.08 × Cutoff, which
// the delays around the loop pull back so that the ladder rings close to Cutoff.
constexpr double kTuning = 3.392920065876977;
// A stage takes 1/1.3 of its input's previous value and 0.3/1.3 of its new value.
constexpr double kPrevShare = 0.7692307692307692, kNewShare = 0.23076923076923073;
// The loop gain of the feedback per unit of Resonance.
constexpr double kFeedback = 4;
// A feedback value this close to 0 is stored as 0, so a dying tail ends instead of going denormal.
constexpr double kQuiet = 1e-8;

}  // namespace

ModMoogV11::ModMoogV11(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                       int iLevel, Module*)
    : ModFilterBase(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
}

int ModMoogV11::Init() {
  FindInputAndBypass();
  pvarCutoff_ = GetVar("Cutoff");
  pvarResonance_ = GetVar("Resonance");
  NoteStart();  // a per-patch module may never see a note
  return 0;
}

void ModMoogV11::NoteStart() {
  for (double& y : ady_) y = 0;
  dPrevU_ = 0;
  ForgetClock();
  if (pvarCutoff_) dCutoffCooked_ = DBL_MIN;  // the first computation cooks
  else Cook(v.dCutoff);
}

void ModMoogV11::Cook(double dCutoff) {
  dCutoffCooked_ = dCutoff;
  // The cutoff is kept within 0 ... Nyquist: beyond about 0.59 × rate (g = 2), or below 0, the
  // stages' pole 1 − g leaves the unit circle and the ladder grows without bound. NaN counts as 0.
  double dRate = TheEngine()->dFreqEval;
  if (!(dCutoff > 0)) dCutoff = 0;
  if (dCutoff > dRate / 2) dCutoff = dRate / 2;
  g_ = dCutoff / dRate * kTuning;
  h_ = g_ * kPrevShare;
  m_ = g_ * kNewShare;
}

void ModMoogV11::Calc() {
  if (!BeginCalc(v.dBypass)) return;
  double dIn = Input();
  if (v.dBypass != 0) {
    v.dStage1 = v.dStage2 = v.dStage3 = v.dStage4 = v.dOutput = dIn;
    return;
  }
  if (pvarCutoff_) {
    v.dCutoff = Pull(pvarCutoff_, v.dCutoff);
    if (v.dCutoff != dCutoffCooked_) Cook(v.dCutoff);
  }
  v.dResonance = Pull(pvarResonance_, v.dResonance);

  const double g1 = 1 - g_, h = h_, m = m_;
  const double dFeedback = kFeedback * v.dResonance, dHalfIn = dIn / 2;
  double y1 = ady_[0], y2 = ady_[1], y3 = ady_[2], y4 = ady_[3], uPrev = dPrevU_;
  for (int iPass = 0; iPass < 2; ++iPass) {
    // The feedback is the last stage: from the previous sample in the first pass, from the first
    // pass in the second.
    double u = std::tanh(dIn - dFeedback * (y4 - dHalfIn));
    double y1New = g1 * y1 + h * uPrev + m * u;
    double y2New = g1 * y2 + h * y1 + m * y1New;
    double y3New = g1 * y3 + h * y2 + m * y2New;
    y4 = g1 * y4 + h * y3 + m * y3New;
    y1 = y1New, y2 = y2New, y3 = y3New, uPrev = u;
  }
  ady_[0] = FoldState(y1);
  ady_[1] = FoldState(y2);
  ady_[2] = FoldState(y3);
  ady_[3] = std::fabs(y4) > kQuiet ? FoldState(y4) : 0;
  dPrevU_ = FoldState(uPrev);

  v.dStage1 = y1;
  v.dStage2 = y2;
  v.dStage3 = y3;
  v.dStage4 = v.dOutput = y4;
}

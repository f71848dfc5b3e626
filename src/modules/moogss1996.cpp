// The "MoogSS1996" module: four one-pole stages, each a clamped trapezoid step, fed back from the
// previous output.
#include "modules/modulehelp.h"
#include "modules/moogss1996.h"

#include <array>
#include <cmath>
#include <numbers>

#include "enginecore/settings.h"

namespace {

Var avarInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(MoogSS1996Vars, dInput), 0, 0, "0"),
    VarIn("Cutoff", FormTypeNumeric, VAR_OFFSET(MoogSS1996Vars, dCutoff), 0, 0, "2000"),
    VarIn("Resonance", FormTypeNumeric, VAR_OFFSET(MoogSS1996Vars, dResonance), 0, 0, "1"),
    VarIn("Poles", FormTypeNumeric, VAR_OFFSET(MoogSS1996Vars, dPoles), 0, 0, "4"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(MoogSS1996Vars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(MoogSS1996Vars, dOutput), 0, 0), VarEnd};

const VarHelp ahelpMoogSS1996[] = {
    {"Input", ModHelp::kAudioInput},
    {"Cutoff", ModHelp::kCutoff},
    {"Bypass", ModHelp::kBypassPasses},
    {"Resonance", "feedback around the ladder, 0..1 (larger values act as 1)"},
    {"Poles", "accepted for compatibility: the ladder always has four stages (24 dB per octave)"},
    {"Output", ModHelp::kOutput},
    {}};
ModuleTypeTmpl<ModMoogSS1996> typeMoogSS1996("MoogSS1996", avarInputs, avarOutputs,
                                             AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr,
                                             OrderMoogSS1996, ahelpMoogSS1996);

// Every stage clamps to ±0.95: (|v + 0.95| − |v − 0.95|)/2.
inline double Sat(double d) { return (std::fabs(d + 0.95) - std::fabs(d - 0.95)) / 2; }

// An output this close to 0 is stored as 0, so a dying tail ends instead of going denormal.
constexpr double kQuiet = 1e-8;

// The feedback at the edge of self-oscillation. A stage (t = a·x + (1 − a)·s, out = t + s) is
// H(z) = a(1 + z⁻¹)/(1 − b·z⁻¹) with a = 1 + p, b = −p; the loop is −r/4 · H⁴ · z⁻¹ (a quarter of
// the previous output). It rings on where the loop's phase is −π and its gain 1: at the w with
// 3w + 4·atan2(b·sin w, 1 − b·cos w) = π, where r = 4/|H(w)|⁴. That is 1 at p = −1, 4/9 at p = 0
// and 1/4 at p = 1.
double CriticalFeedback(double p) {
  constexpr double kPi = std::numbers::pi;
  p = std::fmax(p, -1 + 1e-9);  // at p = −1 exactly the stage is 0/0; its limit is taken
  double a = 1 + p, b = -p;
  auto Phase = [b](double w) { return 3 * w + 4 * std::atan2(b * std::sin(w), 1 - b * std::cos(w)) - kPi; };
  double wLow = 0, wHigh = kPi;  // the phase rises from −π at w = 0 to at least π at w = π
  for (int i = 0; i < 60; ++i) {  // bisection: 2⁻⁶⁰·π is below the last bit of w
    double w = (wLow + wHigh) / 2;
    (Phase(w) < 0 ? wLow : wHigh) = w;
  }
  double w = (wLow + wHigh) / 2;
  double dGain = std::fabs(a) * 2 * std::cos(w / 2) / std::hypot(1 - b * std::cos(w), b * std::sin(w));
  return 4 / (dGain * dGain * dGain * dGain);
}

// The critical feedback at p = i/99 for i = −99 ... 99, read by linear interpolation.
constexpr int kSteps = 99;
const std::array<double, 2 * kSteps + 1> kadResonanceGain = [] {
  std::array<double, 2 * kSteps + 1> ad{};
  for (int i = -kSteps; i <= kSteps; ++i) ad[i + kSteps] = CriticalFeedback(static_cast<double>(i) / kSteps);
  return ad;
}();

}  // namespace

double ModMoogSS1996::ResonanceGain(double p) {
  double x = kSteps * p;
  if (!(x > -kSteps)) return kadResonanceGain.front();
  if (!(x < kSteps)) return kadResonanceGain.back();
  double dFloor = std::floor(x);
  int i = static_cast<int>(dFloor) + kSteps;
  double dFrac = x - dFloor;
  return kadResonanceGain[i] + dFrac * (kadResonanceGain[i + 1] - kadResonanceGain[i]);
}

ModMoogSS1996::ModMoogSS1996(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                             int iLevel, Module*)
    : ModFilterBase(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
}

int ModMoogSS1996::Init() {
  FindInputAndBypass();
  pvarCutoff_ = GetVar("Cutoff");
  pvarResonance_ = GetVar("Resonance");
  pvarPoles_ = GetVar("Poles");  // accepted; the ladder always has four stages
  LimitResonance();
  Recompute();
  NoteStart();  // a per-patch module may never see a note
  return 0;
}

void ModMoogSS1996::NoteStart() {
  ForgetClock();
  dOut_ = 0;
  for (double& s : ads_) s = 0;
}

void ModMoogSS1996::Recompute() {
  dCutoffCooked_ = v.dCutoff;
  double g = 2 * v.dCutoff / TheEngine()->dFreqEval;
  dStage_ = 3.2937 * g - (0.69346 * g * g * g + 0.59515 * g * g) - 1.0072;
  dResonanceGain_ = ResonanceGain(dStage_);
}

void ModMoogSS1996::Calc() {
  if (!BeginCalc(v.dBypass)) return;
  double dIn = Input();
  if (v.dBypass != 0) {
    v.dOutput = dIn;
    return;
  }
  v.dCutoff = Pull(pvarCutoff_, v.dCutoff);
  if (pvarResonance_) {
    v.dResonance = Pull(pvarResonance_, v.dResonance);
    LimitResonance();
  }
  if (v.dCutoff != dCutoffCooked_) Recompute();

  const double p = dStage_;
  double x = (0.65 * dIn - v.dResonance * dResonanceGain_ * dOut_) / 4;
  for (double& s : ads_) {
    double t = Sat((x - s) * p + x);
    x = Sat(t + s);
    s = FoldState(t);
  }
  x = FoldState(x);
  dOut_ = v.dOutput = std::fabs(x) > kQuiet ? x : 0;
}

// The "Filter" module: Butterworth sections designed by the bilinear transform with pre-warping,
// run as a cascade, followed by a soft limiter that follows the input's recent peak.
#include "modules/butterworth.h"
#include "modules/modulehelp.h"

#include <cmath>
#include <numbers>

#include "enginecore/settings.h"
#include "foundation/akstatus.h"

namespace {

Var avarInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dInput), 0, 0, "0"),
    VarIn("Cutoff", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dCutoff), 0, 0, "2000"),
    VarIn("Resonance", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dResonance), 0, 0, "1"),
    VarIn("Poles", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dPoles), 0, 0, "4"),
    VarIn("Mode", FormTypeKeyword, VAR_OFFSET(ButterworthVars, dMode), 0, 0, "Lowpass"),
    VarIn("AmpHistHalf", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dAmpHistHalf), 0, 0, "1"),
    VarIn("AmpLimBegin", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dAmpLimBegin), 0, 0, "3"),
    VarIn("AmpLimRange", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dAmpLimRange), 0, 0, "2"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(ButterworthVars, dBypass), 0, 0, "false"),
    VarEnd};
Var avarOutputs[] = {VarOut("Output", FormTypeNumeric, VAR_OFFSET(ButterworthVars, dOutput), 0, 0), VarEnd};

const VarHelp ahelpFilter[] = {
    {"Input", ModHelp::kAudioInput},
    {"Cutoff", ModHelp::kCutoff},
    {"Bypass", ModHelp::kBypassPasses},
    {"Resonance", "the q of the filter, 1..1000: 1 is a plain Butterworth response, larger values peak at Cutoff"},
    {"Poles", "2, 4 or 6: the steepness, 12, 24 or 36 dB per octave"},
    {"Mode", "keyword: Lowpass or Highpass"},
    {"AmpHistHalf", "seconds: the half-life of the peak follower that sets the soft limiter's level; set once"},
    {"AmpLimBegin", "times the recent peak: where the soft limiter begins to round the output; set once"},
    {"AmpLimRange", "times the recent peak: how far above the limit's start the output may still rise; set once"},
    {"Output", ModHelp::kOutput},
    {}};
ModuleTypeTmpl<ModButterworth> typeFilter("Filter", avarInputs, avarOutputs,
                                          AttrRegistered | AttrBypassPasses | AttrMultiMono | AttrAudioRate, nullptr,
                                          OrderFilter, ahelpFilter);

// The damping (s coefficient at q = 1) of each section of the normalised Butterworth prototypes,
// 2·sin((2k − 1)π/2N), by section count.
constexpr double kadDamping[ModButterworth::MaxSections][ModButterworth::MaxSections] = {
    {1.4142135}, {0.765367, 1.847759}, {0.5176387, 1.414214, 1.931852}};

// The working cutoff stays within 10 Hz ... 0.4 × rate: below, the sections' poles crowd 1 and lose
// precision; above, the pre-warping tangent runs away towards Nyquist.
constexpr double kCutoffMin = 10, kCutoffMaxOfRate = 0.4;
// Resonance and poles that force the first design after a reset.
constexpr double kUndesigned = -999999.9;
// The smallest resonance the design takes: at 0 the damping d/q is infinite (NaN coefficients) and
// below 0 the poles leave the unit circle. The value itself (and the warning) is kept as written.
constexpr double kResonanceMin = 0.001;

}  // namespace

ModButterworth::ModButterworth(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch,
                               int iLevel, Module*)
    : ModFilterBase(ptype, pszName, ppatch, pvoice, bPerPatch, iLevel) {
  pvVars = &v;
}

int ModButterworth::Init() {
  FindInputAndBypass();
  pvarCutoff_ = GetVar("Cutoff");
  pvarResonance_ = GetVar("Resonance");
  pvarPoles_ = GetVar("Poles");
  pvarMode_ = GetVar("Mode");
  // The limiter's settings are taken once, whether their formulas vary or not.
  for (const char* pszVar : {"AmpHistHalf", "AmpLimBegin", "AmpLimRange"}) FormVarRefresh(GetVar(pszVar));
  // A per-patch module may never see a note: start it as a note would.
  Reset();
  NoteStart();
  return 0;
}

void ModButterworth::Reset() {
  ForgetClock();
  dResonanceDesigned_ = dCutoffDesigned_ = dPolesDesigned_ = kUndesigned;
  bDesigned_ = false;
  dPeak_ = 0;
  nSections_ = 0;
  for (double& d : adCoef_) d = 0;
  for (double& d : adHist_) d = 0;
  bPolesReported_ = bResonanceReported_ = false;
}

void ModButterworth::NoteStart() {
  // The peak follower halves in AmpHistHalf seconds.
  dPeakDecay_ = std::pow(0.5, 1 / (TheEngine()->dFreqEval * v.dAmpHistHalf));
}

void ModButterworth::Calc() {
  if (!BeginCalc(v.dBypass)) return;
  double dIn = Input();
  if (v.dBypass != 0) {
    v.dOutput = dIn;
    return;
  }

  // 1. The peak follower (a NaN input leaves it decaying).
  double dAbs = std::fabs(dIn), dPeak = dPeakDecay_ * dPeak_;
  if (dAbs > dPeak) dPeak = dAbs;
  dPeak_ = dPeak >= DBL_MIN ? dPeak : 0;

  // 2. The design parameters.
  v.dCutoff = Pull(pvarCutoff_, v.dCutoff);
  v.dResonance = Pull(pvarResonance_, v.dResonance);
  v.dPoles = Pull(pvarPoles_, v.dPoles);
  v.dMode = Pull(pvarMode_, v.dMode);
  if (!(v.dCutoff >= 1)) v.dCutoff = 1;
  double dCutoffMax = kCutoffMaxOfRate * TheEngine()->dFreqEval;
  double dCutoff = v.dCutoff < dCutoffMax ? v.dCutoff : dCutoffMax;
  if (dCutoff < kCutoffMin) dCutoff = kCutoffMin;

  // 3. A new design only when something it depends on changed.
  if (!bDesigned_ || v.dResonance != dResonanceDesigned_ || dCutoff != dCutoffDesigned_ ||
      v.dPoles != dPolesDesigned_) {
    Design(v.dResonance, dCutoff, v.dPoles);
    dResonanceDesigned_ = v.dResonance;
    dCutoffDesigned_ = dCutoff;
    dPolesDesigned_ = v.dPoles;
  }

  // 4. The cascade, each section in direct form II.
  double y = adCoef_[0] * dIn;
  for (int i = 0; i < nSections_; ++i) {
    const double* c = &adCoef_[1 + 4 * i];
    double* h = &adHist_[2 * i];
    double w = y - c[0] * h[0] - c[1] * h[1];
    y = w + c[2] * h[0] + c[3] * h[1];
    h[1] = h[0];
    h[0] = FoldState(w);
  }

  // 5. The soft limiter: beyond AmpLimBegin times the recent peak the output bends over and never
  // passes (AmpLimBegin + AmpLimRange) times it, however sharp the resonance.
  double dLim1 = v.dAmpLimBegin * dPeak_, dLim2 = v.dAmpLimRange * dPeak_;
  if (y > dLim1) y = dLim1 + dLim2 * std::tanh((y - dLim1) / dLim2);
  if (y < -dLim1) y = -dLim1 + dLim2 * std::tanh((y + dLim1) / dLim2);

  // 6. The high-pass is what the low-pass takes away.
  v.dOutput = v.dMode == static_cast<double>(KwHighpass) ? dIn - y : y;
}

void ModButterworth::Design(double dResonance, double dCutoff, double dPoles) {
  if (!(dPoles / 2 == std::trunc(dPoles / 2)) || dPoles < 2) {
    if (!bPolesReported_) AKS(AKSWarn, AK_HERE, "Poles must be 2, 4, or 6; found %g", dPoles);
    bPolesReported_ = true;
  }
  if (!(dResonance >= 1 && dResonance <= 1000)) {
    if (!bResonanceReported_)
      AKS(AKSWarn, AK_HERE,
          "Resonance expected to be within range 1..1000 inclusive; found %g; will try it but no promises",
          dResonance);
    bResonanceReported_ = true;
  }
  if (!(dResonance >= kResonanceMin)) dResonance = kResonanceMin;

  // Sections: the pole count halved and truncated; counts the design does not know leave k = 1
  // and no section (the input passes to the limiter unchanged).
  double dSections = std::trunc(dPoles / 2);
  int nSections = dSections >= 1 && dSections <= MaxSections ? static_cast<int>(dSections) : 0;
  if (nSections != nSections_)
    for (double& d : adHist_) d = 0;  // a new arrangement of sections starts from rest
  nSections_ = nSections;
  double k = 1;
  if (nSections > 0) {
    // The resonance is shared among the sections: their q multiply to it.
    double q = nSections == 1 ? dResonance : std::pow(dResonance, 2 / dPoles);
    double R = TheEngine()->dFreqEval, R2 = R * R;
    // Pre-warping puts the digital −3 dB point (at resonance 1) exactly at the cutoff.
    double wp = 2 * R * std::tan(std::numbers::pi * dCutoff / R);
    for (int i = 0; i < nSections; ++i) {
      // Prototype 1 / (s² + d·s + 1) in the coefficients of 1, s and s², pre-warped.
      double a0 = 1, a1 = 0, a2 = 0;
      double b0 = 1, b1 = kadDamping[nSections - 1][i] / q / wp, b2 = 1 / (wp * wp);
      // The bilinear transform s = 2R·(1 − z⁻¹)/(1 + z⁻¹).
      double A = 4 * a2 * R2 + 2 * a1 * R + a0;
      double B = 4 * b2 * R2 + 2 * b1 * R + b0;
      k *= A / B;
      double* c = &adCoef_[1 + 4 * i];
      c[0] = (2 * b0 - 8 * b2 * R2) / B;
      c[1] = (4 * b2 * R2 - 2 * b1 * R + b0) / B;
      c[2] = (2 * a0 - 8 * a2 * R2) / A;
      c[3] = (4 * a2 * R2 - 2 * a1 * R + a0) / A;
    }
  }
  adCoef_[0] = k;
  bDesigned_ = true;
}

// The slew module kinds: declaration tables of the seven kinds, and the Rate and Time slews.
#include "modules/modulehelp.h"
#include "modules/slew.h"

#include <cfloat>
#include <cmath>

#include "enginecore/settings.h"
#include "formula/errorlist.h"

namespace {

// Rate, Time and the output hold this until set: Rate and Time when the patch gives no formula,
// the output until the first computation.
constexpr double kUnset = DBL_MAX;

#define SLEW_AT(field) VAR_OFFSET(SlewVars, field)

// The seven kinds share their variables; they differ in defaults and in the order of the rows.
enum SlewRowOrder { RateFirst, TimeFirst, BypassFirst };
struct SlewDefaults {
  const char* pszInput;
  const char* pszRate;
  const char* pszTime;
  const char* pszCurveType;
  const char* pszContinue;
  const char* pszBypass;
};

Var* SlewInputs(Var* avar, SlewRowOrder order, const SlewDefaults& d) {
  const Var varInput = VarIn("Input", FormTypeNumeric, SLEW_AT(dInput), 0, 0, d.pszInput);
  const Var varRate = VarIn("Rate", FormTypeNumeric, SLEW_AT(dRate), 0, 0, d.pszRate);
  const Var varTime = VarIn("Time", FormTypeNumeric, SLEW_AT(dTime), 0, 0, d.pszTime);
  const Var varCurveType = VarIn("CurveType", FormTypeKeyword, SLEW_AT(dCurveType), ClassPerPatch, 0, d.pszCurveType);
  const Var varContinue = VarIn("Continue", FormTypeBoolean, SLEW_AT(dContinue), 0, 0, d.pszContinue);
  const Var varBypass = VarIn("Bypass", FormTypeBoolean, SLEW_AT(dBypass), 0, 0, d.pszBypass);
  int n = 0;
  switch (order) {
    case RateFirst:
      for (const Var& var : {varInput, varRate, varCurveType, varContinue, varTime, varBypass}) avar[n++] = var;
      break;
    case TimeFirst:
      for (const Var& var : {varInput, varTime, varCurveType, varContinue, varRate, varBypass}) avar[n++] = var;
      break;
    case BypassFirst:
      for (const Var& var : {varBypass, varInput, varContinue, varRate, varTime, varCurveType}) avar[n++] = var;
      break;
  }
  avar[n] = VarEnd;
  return avar;
}

constexpr int kSlewKinds = 7;
Var aavarSlewInputs[kSlewKinds][7];
Var avarSlewOutputs[] = {VarOut("Output", FormTypeNumeric, SLEW_AT(dOutput), 0, 0),
                         VarOut("Slewing", FormTypeBoolean, SLEW_AT(dSlewing), 0, 0), VarEnd};

constexpr uint32_t kSlewAttrs = AttrRegistered | AttrBypassPasses | AttrMultiMono;
constexpr uint32_t kPortamentoAttrs = kSlewAttrs | AttrQuietUnused;

const VarHelp ahelpSlew[] = {
    {"Input", "the value to follow (for Portamento the note's frequency in Hz from Tuning)"},
    {"Rate", "Linear: units per second; Exponential: factor per second (at least 1). Set Rate or Time, not both"},
    {"Time", "seconds a slew takes to reach the input (when Rate is not set), 0.001..10"},
    {"CurveType", "keyword, per patch: Linear (straight line) or Exponential (constant ratio, for frequencies)"},
    {"Continue", "true: a new note glides from where the last one left the output; false: it starts at its input"},
    {"Bypass", ModHelp::kBypassPasses},
    {"Output", "the slewed value"},
    {"Slewing", "1 while the output is moving toward the input, else 0"},
    {}};
ModuleTypeTmpl<ModSlew> typeSlew("Slew",
                                 SlewInputs(aavarSlewInputs[0], RateFirst,
                                            {nullptr, nullptr, nullptr, "Linear", "False", "False"}),
                                 avarSlewOutputs, kSlewAttrs, nullptr, OrderSlew, ahelpSlew);
ModuleTypeTmpl<ModSlew> typeSlewRateLinear("SlewRateLinear",
                                           SlewInputs(aavarSlewInputs[1], RateFirst,
                                                      {nullptr, nullptr, nullptr, "Linear", "False", "False"}),
                                           avarSlewOutputs, kSlewAttrs, nullptr, OrderSlewRateLinear, ahelpSlew);
ModuleTypeTmpl<ModSlew> typeSlewRateExponential(
    "SlewRateExponential",
    SlewInputs(aavarSlewInputs[2], RateFirst, {nullptr, nullptr, nullptr, "Exponential", "False", "False"}),
    avarSlewOutputs, kSlewAttrs, nullptr, OrderSlewRateExponential, ahelpSlew);
ModuleTypeTmpl<ModSlew> typeSlewTimeLinear("SlewTimeLinear",
                                           SlewInputs(aavarSlewInputs[3], TimeFirst,
                                                      {nullptr, nullptr, nullptr, "Linear", "False", "False"}),
                                           avarSlewOutputs, kSlewAttrs, nullptr, OrderSlewTimeLinear, ahelpSlew);
ModuleTypeTmpl<ModSlew> typeSlewTimeExponential(
    "SlewTimeExponential",
    SlewInputs(aavarSlewInputs[4], TimeFirst, {nullptr, nullptr, nullptr, "Exponential", "False", "False"}),
    avarSlewOutputs, kSlewAttrs, nullptr, OrderSlewTimeExponential, ahelpSlew);
ModuleTypeTmpl<ModSlew> typePortamento("Portamento",
                                       SlewInputs(aavarSlewInputs[5], BypassFirst,
                                                  {"Tuning:Output", nullptr, nullptr, "Exponential", "True", "False"}),
                                       avarSlewOutputs, kPortamentoAttrs, nullptr, OrderPortamento, ahelpSlew);
ModuleTypeTmpl<ModSlew> typeSubPortamento("SubPortamento",
                                          SlewInputs(aavarSlewInputs[6], BypassFirst,
                                                     {"Tuning:Output", "Super( Portamento:Rate )",
                                                      "Super( Portamento:Time )", "Super( Portamento:CurveType )",
                                                      "Super( Portamento:Continue )", "Super( Portamento:Bypass )"}),
                                          avarSlewOutputs, kPortamentoAttrs, nullptr, OrderSubPortamento, ahelpSlew);

}  // namespace

ModSlew::ModSlew(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_, int iLevel_,
                 Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  v.dRate = v.dTime = v.dOutput = kUnset;
}

int ModSlew::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  v.dRate = v.dTime = v.dOutput = kUnset;
  pvarBypass_ = GetVar("Bypass");
  pvarInput_ = GetVar("Input");
  pvarContinue_ = GetVar("Continue");
  pvarRate_ = GetVar("Rate");
  pvarTime_ = GetVar("Time");
  pvarCurveType_ = GetVar("CurveType");
  Var* pvar = FindVar("Rate");
  iLineRate_ = pvar ? pvar->iLine : -1;
  pvar = FindVar("Time");
  iLineTime_ = pvar ? pvar->iLine : -1;
  return 0;
}

void ModSlew::NoteStart() {
  dLastTime_ = -1;
  dRemaining_ = 0;
  v.dSlewing = 0;
}

double ModSlew::StepRate(double dIn, double dOut, double dt) {
  const double dRate = v.dRate;
  if (dRate < 0) {
    ERRADD(iLineRate_, "%s:Rate must be >= 0.0", pszName);
    return 0;
  }
  if (v.dCurveType == static_cast<double>(KwLinear)) {
    v.dSlewing = 1;
    const double dStep = dt * dRate;  // units per second
    if (dIn > dOut) return dStep > dIn - dOut ? dIn : dOut + dStep;
    return dStep > dOut - dIn ? dIn : dOut - dStep;
  }
  if (dOut * dIn < 0) {
    ERRADD(iLineRate_, "[%s] Curve is Exponential but Input and Output on opposite sides of 0", pszName);
    return 0;
  }
  if (dRate < 1) {
    ERRADD(iLineRate_, "%s:Rate must be >= 1.0 when Curve = Exponential", pszName);
    return 0;
  }
  v.dSlewing = 1;
  // Rate is the factor per second, so each computation moves by its FreqEval-th root.
  if (dRate != dRateOfFactor_) {
    dRateOfFactor_ = dRate;
    dFactor_ = std::pow(dRate, 1 / dFreqEval_);
  }
  const double k = dFactor_;
  const double r = dIn / dOut;
  if (r >= 1) return k > r ? dIn : dOut * k;
  return 1 / k < r ? dIn : dOut / k;
}

double ModSlew::StepTime(double dIn, double dOut, double dt) {
  const double dTime = v.dTime;
  if (dTime == kUnset) {
    ERRADD(-1, "%s <%d>: Rate or Time must be set", pszName, iLevel);
    return 0;
  }
  if (dTime < 0) {
    ERRADD(iLineTime_, "%s:Time must be positive", pszName);
    return 0;
  }
  if (v.dSlewing == 0) {
    // A slew starts; an input that moves during it does not restart the time.
    v.dSlewing = 1;
    dRemaining_ = dTime;
  }
  // (A clock that stood still or went back with time left over cannot divide by zero either.)
  if (dt > dRemaining_ || !(dRemaining_ > 0)) {
    v.dSlewing = 0;
    dRemaining_ = 0;
    return dIn;
  }
  const double dFraction = dt / dRemaining_;
  dRemaining_ -= dt;
  const double r = dIn / dOut;
  // The constant-ratio path needs both ends on one side of 0 and an output that is not 0; without
  // it the step follows the straight line rather than produce a NaN.
  if (v.dCurveType == static_cast<double>(KwLinear) || !(r >= 0 && std::isfinite(r)))
    return dOut + (dIn - dOut) * dFraction;
  return dOut * std::pow(r, dFraction);
}

void ModSlew::Calc() {
  const double dClock = *pclock;
  if (dClock == dLastTime_) return;
  v.dBypass = Pull(pvarBypass_, v.dBypass);
  v.dInput = Pull(pvarInput_, v.dInput);
  const double dIn = v.dInput;
  if (v.dBypass != 0) {
    v.dOutput = dIn;
    v.dSlewing = 0;
    dRemaining_ = 0;
    dLastTime_ = dClock;
    return;
  }
  v.dContinue = Pull(pvarContinue_, v.dContinue);
  v.dRate = Pull(pvarRate_, v.dRate);
  v.dTime = Pull(pvarTime_, v.dTime);
  v.dCurveType = Pull(pvarCurveType_, v.dCurveType);
  const double dOut = v.dOutput;
  if (dOut == dIn) {
    v.dSlewing = 0;
    dRemaining_ = 0;
  } else if (dOut == kUnset || !std::isfinite(dOut) || (dLastTime_ == -1 && v.dContinue == 0)) {
    // Never computed, or a note that does not continue: start at the input. (An output that went
    // NaN or infinite with its input starts again here too, instead of staying stuck.)
    v.dOutput = dIn;
  } else {
    const double dt = dLastTime_ == -1 ? 1 / dFreqEval_ : dClock - dLastTime_;
    v.dOutput = v.dRate != kUnset ? StepRate(dIn, dOut, dt) : StepTime(dIn, dOut, dt);
  }
  dLastTime_ = dClock;
}

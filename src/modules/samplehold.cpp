// The sample-and-hold: its declaration table and the clocked sampling with sub-sample placement.
#include "modules/modulehelp.h"
#include "modules/samplehold.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "enginecore/settings.h"

namespace {

#define HOLD_AT(field) VAR_OFFSET(SampleHoldVars, field)

Var avarHoldInputs[] = {VarIn("Frequency", FormTypeNumeric, HOLD_AT(dFrequency), 0, 0, "0"),
                        VarIn("Input", FormTypeNumeric, HOLD_AT(dInput), 0, 0, "Random()"),
                        VarIn("InputPrev", FormTypeNumeric, HOLD_AT(dInputPrev), 0, 0, "Random()"),
                        VarIn("SyncIn", FormTypeBoolean, HOLD_AT(dSyncIn), 0, 0, "-1"),
                        VarIn("PhaseIn", FormTypeNumeric, HOLD_AT(dPhaseIn), 0, 0, "0"),
                        VarIn("Bypass", FormTypeBoolean, HOLD_AT(dBypass), 0, 0, "false"),
                        VarEnd};
Var avarHoldOutputs[] = {VarOut("Output", FormTypeNumeric, HOLD_AT(dOutput), 0, 0),
                         VarOut("OutputPrev", FormTypeNumeric, HOLD_AT(dOutputPrev), 0, 0),
                         VarOut("SyncOut", FormTypeBoolean, HOLD_AT(dSyncOut), 0, 0),
                         VarOut("PhaseOut", FormTypeNumeric, HOLD_AT(dPhaseOut), 0, 0), VarEnd};

const VarHelp ahelpHold[] = {
    {"Frequency", "Hz: how often a new sample is taken; 0 samples only at note start or when SyncIn fires"},
    {"Input", "the value sampled at each tick (default a new random value 0..1)"},
    {"InputPrev", "the value held before the first tick of a note (default random)"},
    {"SyncIn", "-1, or a tick from another module's SyncOut: sample now and restart the phase"},
    {"PhaseIn", ModHelp::kPhaseIn},
    {"Bypass", ModHelp::kBypassPasses},
    {"Output", "the held value, blended over the sample in which it changed"},
    {"OutputPrev", "the value held before the latest tick"},
    {"SyncOut", "-1, or on a tick where in the sample it fell: can clock oscillators and other holds"},
    {"PhaseOut", ModHelp::kPhaseOut},
    {}};
ModuleTypeTmpl<ModSampleHold> typeHold("Hold", avarHoldInputs, avarHoldOutputs,
                                       AttrRegistered | AttrBypassPasses | AttrMultiMono, nullptr, OrderHold,
                                       ahelpHold);

// A wrap announced at a computation is not announced again at the next two.
constexpr uint32_t kAnnounceGap = 2;
// No sync from outside.
constexpr double kNoSync = -1;
// SyncOut describes instants from half a sample ahead to one sample ago.
constexpr double kMaxSamplesAgo = 1;

// The fractional part with the sign of its argument, as modf gives it.
inline double Fraction(double d) {
  double dWhole;
  return std::modf(d, &dWhole);
}

}  // namespace

ModSampleHold::ModSampleHold(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                             int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  v.dSyncIn = kNoSync;
}

int ModSampleHold::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  pvarBypass_ = GetVar("Bypass");
  pvarFrequency_ = GetVar("Frequency");
  pvarInput_ = GetVar("Input");
  pvarInputPrev_ = GetVar("InputPrev");
  pvarSyncIn_ = GetVar("SyncIn");
  pvarPhaseIn_ = GetVar("PhaseIn");
  return 0;
}

void ModSampleHold::Reset() {
  dLastTime_ = -1;
  dPrevWavePhase_ = DBL_MAX;  // above any phase: the first computation sees a wrap
  v.dPhaseOut = 0;
  nSinceAnnounce_ = 5;  // so that a wrap in the first computations is taken at once
  v.dInputPrev = Pull(pvarInputPrev_, v.dInputPrev);
  dHeld_ = v.dInputPrev;
}

void ModSampleHold::Calc() {
  const double dClock = *pclock;
  if (dClock == dLastTime_) return;
  v.dBypass = Pull(pvarBypass_, v.dBypass);
  if (v.dBypass != 0) {
    v.dInput = Pull(pvarInput_, v.dInput);
    dHeld_ = v.dOutput = v.dInput;
    dLastTime_ = dClock;
    return;
  }
  v.dFrequency = Pull(pvarFrequency_, v.dFrequency);
  v.dSyncIn = Pull(pvarSyncIn_, v.dSyncIn);
  v.dPhaseIn = Pull(pvarPhaseIn_, v.dPhaseIn);
  const double dFrequency = v.dFrequency;
  const double dSyncIn = v.dSyncIn;

  const double t0 = dLastTime_ == -1 ? 0 : dLastTime_;
  double dPhase = Fraction((dClock - t0) * dFrequency + v.dPhaseOut);
  if (!std::isfinite(dPhase)) dPhase = 0;  // a NaN or infinite Frequency must not stick in the phase
  dLastTime_ = dClock;
  if (dSyncIn != kNoSync) dPhase = 0;
  const double p = Fraction(v.dPhaseIn + dPhase);
  ++nSinceAnnounce_;

  double dt;  // phase advance per sample
  double dSyncOut;
  if (dFrequency == 0) {
    dt = 0;
    dSyncOut = dClock == 0 ? 0 : dSyncIn;  // one sample at the note's start
  } else {
    dt = dFrequency / dFreqEval_;
    if (dPrevWavePhase_ > p && nSinceAnnounce_ > kAnnounceGap) {
      // Wrapped p/dt samples ago. At a note's start with a PhaseIn (or after PhaseIn jumps) the
      // phase can stand far past the wrap; the distance is kept within the one sample that
      // SyncOut describes, so that the blend below cannot extrapolate far beyond the input.
      dSyncOut = std::min(p / dt, kMaxSamplesAgo);
    } else if (dt * 0.5 > 1 - p) {
      dSyncOut = (p - 1) / dt;  // wraps less than half a sample ahead: take it now
      nSinceAnnounce_ = 0;
    } else {
      dSyncOut = kNoSync;
    }
  }
  if (dSyncIn != kNoSync) {
    dPhase = dSyncIn >= 0 ? dSyncIn * dt : dSyncIn * dt + 1;
    dSyncOut = dSyncIn;
  }
  dPrevWavePhase_ = p;
  v.dPhaseOut = dPhase;
  v.dSyncOut = dSyncOut;

  if (dSyncOut == kNoSync) {
    v.dOutput = dHeld_;
    return;
  }
  // A sample: the new value, blended with the previous one by where the instant falls.
  v.dInput = Pull(pvarInput_, v.dInput);
  v.dOutputPrev = dHeld_;
  dHeld_ = v.dInput;
  v.dOutput = (dSyncOut + 0.5) * v.dInput + (0.5 - dSyncOut) * v.dOutputPrev;
}

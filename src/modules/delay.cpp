// The multi-tap delay line: taps from per-patch formulas or numbered variables, feedback after the sample.
#include "modules/delay.h"
#include "modules/modulehelp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "modules/filters/foldstate.h"
#include "modules/fxcommon.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;
// Every tap made from the forms or by name lengthens the line to half a second beyond its time,
// so that a time later set a little longer still fits.
constexpr double kLineMargin = 0.5001;
// The line's length when no tap asks for one (seconds).
constexpr double kDefaultLength = 0.1;
// A tap named but not timed sounds N milliseconds late.
constexpr double kDefaultTapSpacing = 0.001;

Var avarDelayInputs[] = {
    VarIn("Input", FormTypeNumeric, VAR_OFFSET(DelayVars, dInput), 0, 0, "0"),
    VarIn("Feedback", FormTypeNumeric, VAR_OFFSET(DelayVars, dFeedback), 0, 0, "0"),
    VarIn("Speed", FormTypeNumeric, VAR_OFFSET(DelayVars, dSpeed), 0, 0, "1.0"),
    VarIn("Interpolate", FormTypeKeyword, VAR_OFFSET(DelayVars, dInterpolate), 0, 0, "Linear"),
    VarIn("Fade", FormTypeKeyword, VAR_OFFSET(DelayVars, dFade), 0, 0, "Flat"),
    VarIn("TimeMax", FormTypeNumeric, VAR_OFFSET(DelayVars, dTimeMax), 0, 0, "0"),
    // The tap range and the three forms are read once, when the line is built.
    VarIn("TapFrom", FormTypeNumeric, VAR_OFFSET(DelayVars, dTapFrom), ClassPerPatch, 0, "0"),
    VarIn("TapTo", FormTypeNumeric, VAR_OFFSET(DelayVars, dTapTo), ClassPerPatch, 0, "-1"),
    VarIn("TimeForm", FormTypeNumeric, VAR_OFFSET(DelayVars, dTimeForm), ClassPerPatch, 0, "0"),
    VarIn("GainForm", FormTypeNumeric, VAR_OFFSET(DelayVars, dGainForm), ClassPerPatch, 0, "1"),
    VarIn("PanForm", FormTypeNumeric, VAR_OFFSET(DelayVars, dPanForm), ClassPerPatch, 0, "0.5"),
    VarIn("Bypass", FormTypeBoolean, VAR_OFFSET(DelayVars, dBypass), 0, 0, "false"),
    VarEnd};

// Stereo is the bus of the two outputs; channelization turns it into Output and Output2.
Var StereoRow() {
  Var var = VarOut("Stereo", FormTypeNumeric, -1, 0, VarFlagFormulaOutput, nullptr, "MakeBus( Output, Output2 )");
  var.nChannels = 2;
  return var;
}

Var avarDelayOutputs[] = {
    VarOut("Tap", FormTypeNumeric, VAR_OFFSET(DelayVars, dTap), ClassPerPatch, 0),
    VarOut("Output", FormTypeNumeric, VAR_OFFSET(DelayVars, dOutput), 0, 0),
    VarOut("Output2", FormTypeNumeric, VAR_OFFSET(DelayVars, dOutput2), 0, 0),
    StereoRow(),
    VarEnd};

// The tap read-out: a TapN output brings the delay up to date for the current instant.
void DelayTapReadOut(Module* pmodule, Var*) { static_cast<ModDelay*>(pmodule)->ModDelay::Calc(); }

const VarHelp ahelpDelay[] = {
    {"Input", ModHelp::kAudioInput},
    {"Feedback", "added into the line each sample after everything else, so it may read the delay's own outputs"},
    {"Speed", "divides every delay time: 2 halves them"},
    {"Interpolate", "constant keyword: Linear (smooth fractional delays) or None (whole samples)"},
    {"Fade",
     "constant keyword: Flat (both sides full at the centre, fading towards the edges) or Power (constant power)"},
    {"TimeMax", "seconds: the longest delay the line must hold; needed only when a TimeN varies"},
    {"TapFrom", "per patch: first tap number made by the TimeForm, GainForm and PanForm formulas"},
    {"TapTo", "per patch: last tap number made by the forms; below TapFrom makes none"},
    {"TimeForm", "per patch: seconds of tap number Tap, for taps TapFrom..TapTo"},
    {"GainForm", "per patch: linear gain of tap number Tap"},
    {"PanForm", "per patch: pan of tap number Tap, 0 left .. 1 right"},
    {"Bypass", ModHelp::kBypassSilences},
    {"Tap", "the tap number the forms are being evaluated for"},
    {"Output", "the sum of the taps, left side"},
    {"Output2", "the sum of the taps, right side"},
    {"Stereo", "the two sides as one two-channel bus: MakeBus( Output, Output2 )"},
    {"Time<N>", "seconds: tap N's delay (up to TimeMax when it varies)"},
    {"Gain<N>", "linear: tap N's level (default 1)"},
    {"Pan<N>", "tap N's place, 0 left .. 1 right (default 0.5)"},
    {"Tap<N>", "output: tap N's own signal, before panning"},
    {}};
ModuleTypeTmpl<ModDelay> typeDelay("Delay", avarDelayInputs, avarDelayOutputs,
                                   AttrRegistered | AttrBypassSilences | AttrMultiMono | AttrAudioRate |
                                       AttrFeedbackStep,
                                   nullptr, OrderDelay,
                                   ahelpDelay);

}  // namespace

ModDelay::ModDelay(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                   int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  // The defaults hold when the compiler dropped a record.
  v.dSpeed = 1;
  v.dInterpolate = KwLinear;
  v.dFade = KwFlat;
  v.dTapTo = -1;
  v.dGainForm = 1;
  v.dPanForm = 0.5;
}

ModDelay::~ModDelay() { std::free(pdLine_); }

bool ModDelay::IsNumberedInput(const char* pszVar) {
  return IsNumberedName(pszVar, "Time") || IsNumberedName(pszVar, "Gain") || IsNumberedName(pszVar, "Pan") ||
         IsNumberedName(pszVar, "Tap") || std::strcmp(pszVar, "TimeMax") == 0;
}

bool ModDelay::IsNumberedOutput(const char* pszVar, uint32_t* pflags, VarOutputFn* ppfnOutput) {
  if (!IsNumberedName(pszVar, "Tap") && std::strcmp(pszVar, "Tap0") != 0) return false;
  *pflags = 0;
  *ppfnOutput = DelayTapReadOut;
  return true;
}

int ModDelay::LineOf(const char* pszVar) {
  Var* pvar = FindVar(pszVar);
  return pvar ? pvar->iLine : -1;
}

void ModDelay::PanStep(DelayTap* ptap) {
  if (bMono_) {
    ptap->dLeft = 1;
    ptap->dRight = 0;
  } else if (bPower_) {
    ptap->dLeft = std::cos(kHalfPi * ptap->dPan);
    ptap->dRight = std::sin(kHalfPi * ptap->dPan);
  } else if (ptap->dPan < 0.5) {
    ptap->dLeft = 1;
    ptap->dRight = std::max(0.0, 2 * ptap->dPan);
  } else {
    ptap->dLeft = std::max(0.0, 2 - 2 * ptap->dPan);
    ptap->dRight = 1;
  }
}

DelayTap* ModDelay::FindOrAddTap(int iNumber) {
  for (DelayTap& tap : atap_)
    if (tap.iNumber == iNumber) return &tap;
  DelayTap tap;
  tap.iNumber = iNumber;
  tap.dTime = iNumber * kDefaultTapSpacing;
  tap.dPan = bMono_ ? 0 : 0.5;
  atap_.push_back(tap);
  PanStep(&atap_.back());
  return &atap_.back();
}

// Taps TapFrom..TapTo, each timed, weighted and panned by the forms with Tap set to its number.
int ModDelay::MakeFormTaps(double* pdLength) {
  double dFirst = std::ceil(v.dTapFrom), dLast = std::floor(v.dTapTo);
  if (!(dLast >= dFirst)) return 0;  // an empty range (NaN included)
  if (dLast - dFirst + 1 > MaxTaps || dFirst < -MaxTapNumber || dLast > MaxTapNumber) {
    ERRADD(LineOf("TapTo"), "%s:TapFrom and TapTo ask for taps %g to %g; a delay has at most %d taps, numbered -%d to %d",
           pszName, dFirst, dLast, MaxTaps, MaxTapNumber, MaxTapNumber);
    return 1;
  }
  Var* pvarTap = FindVar("Tap");
  Var* pvarTimeForm = FindVar("TimeForm");
  Var* pvarGainForm = FindVar("GainForm");
  Var* pvarPanForm = FindVar("PanForm");
  int iLine = pvarTimeForm->iLine;
  for (int t = static_cast<int>(dFirst); t <= static_cast<int>(dLast); ++t) {
    v.dTap = t;
    if (pvarTap) pvarTap->evalState = EvalCurrent;  // the forms read the number, not a computation
    FormVarRefresh(pvarTimeForm);
    FormVarRefresh(pvarGainForm);
    FormVarRefresh(pvarPanForm);
    DelayTap tap;
    tap.iNumber = t;
    tap.iLine = iLine;
    tap.dTime = *pvarTimeForm->pvalue;
    tap.dGain = *pvarGainForm->pvalue;
    tap.dPan = *pvarPanForm->pvalue;
    atap_.push_back(tap);
    PanStep(&atap_.back());
    *pdLength = std::max(*pdLength, tap.dTime + kLineMargin);
  }
  return 0;
}

// Taps named by TimeN, GainN, PanN and TapN (and Tap0); a tap not made yet is added.
int ModDelay::MakeDeclaredTaps(double* pdLength) {
  int iResult = 0;
  FxForEachOwnRecord(this, [&](Var* pvar) {
    int iNumber = 0;
    Var* DelayTap::*pmember = nullptr;
    if (IsNumberedName(pvar->pszName, "Time", &iNumber)) pmember = &DelayTap::pvarTime;
    else if (IsNumberedName(pvar->pszName, "Gain", &iNumber)) pmember = &DelayTap::pvarGain;
    else if (IsNumberedName(pvar->pszName, "Pan", &iNumber)) pmember = &DelayTap::pvarPan;
    else if (IsNumberedName(pvar->pszName, "Tap", &iNumber) || std::strcmp(pvar->pszName, "Tap0") == 0)
      pmember = &DelayTap::pvarTap;
    if (!pmember || iResult) return;
    size_t nBefore = atap_.size();
    DelayTap* ptap = FindOrAddTap(iNumber);
    if (atap_.size() > nBefore) {
      if (static_cast<int>(atap_.size()) > MaxTaps) {
        ERRADD(pvar->iLine, "%s:%s makes more than %d taps", pszName, pvar->pszName, MaxTaps);
        iResult = 1;
        return;
      }
      *pdLength = std::max(*pdLength, ptap->dTime + kLineMargin);
    }
    ptap->*pmember = pvar;
    if (pmember == &DelayTap::pvarTime) ptap->iLine = pvar->iLine;
  });
  return iResult;
}

// Constant TimeN, GainN and PanN take their values now; varying ones are kept for Calc.
void ModDelay::BindTaps(double* pdLength) {
  for (DelayTap& tap : atap_) {
    if (tap.pvarTime) {
      tap.pvarTime = FxBindRecord(tap.pvarTime, &tap.dTime);
      if (tap.pvarTime) {
        tap.dTime = 0;
        if (!bVaryTime_) iLineTimeMax_ = tap.pvarTime->iLine;
        bVaryTime_ = true;
      } else {
        *pdLength = std::max(*pdLength, tap.dTime);
      }
    }
    if (tap.pvarGain) {
      tap.pvarGain = FxBindRecord(tap.pvarGain, &tap.dGain);
      if (tap.pvarGain) tap.dGain = 0;
    }
    if (tap.pvarPan) {
      tap.pvarPan = FxBindRecord(tap.pvarPan, &tap.dPan);
      if (!tap.pvarPan) PanStep(&tap);
    }
    if (tap.pvarTap) bTapOut_ = true;
  }
}

// Fixed times become whole-sample delays (and weights for "Linear"). A time below 0 samples (a
// tap that could never sound) or longer than any line can be fails. Answers in *pnNeeded the line
// length in samples that every fixed tap fits in.
int ModDelay::PlaceFixedTaps(int* pnNeeded) {
  *pnNeeded = 0;
  int iResult = 0;
  for (DelayTap& tap : atap_) {
    double d = dRate_ * tap.dTime;
    if (!(d >= 0)) {
      ERRADD(tap.iLine, "%s:Time%d is negative or less than 0 samples", pszName, tap.iNumber);
      tap.bSilent = true;
      iResult = 1;
      continue;
    }
    // A fixed tap reads at most one sample beyond its delay, and the line holds N samples.
    if (d + 2 > MaxLineSamples) {
      ERRADD(tap.iLine, "%s:Time%d is longer than a delay line can be (%g s)", pszName, tap.iNumber,
             (MaxLineSamples - 2) / dRate_);
      return 1;
    }
    if (bLinear_) {
      tap.iDelay = static_cast<int>(d);
      tap.dFrac = d - tap.iDelay;
      tap.dWeight1 = tap.dGain * (1 - tap.dFrac);
      tap.dWeight2 = tap.dGain * tap.dFrac;
    } else {
      tap.iDelay = static_cast<int>(d + 0.5);
    }
    *pnNeeded = std::max(*pnNeeded, tap.iDelay + 2);
  }
  // A silenced tap still answers its TapN, with 0.
  for (const DelayTap& tap : atap_)
    if (tap.bSilent && tap.pvarTap) *tap.pvarTap->pvalue = 0;
  std::erase_if(atap_, [](const DelayTap& tap) { return tap.bSilent; });
  return iResult;
}

// The line: long enough for the working length, or for TimeMax when a time varies.
int ModDelay::SizeLine(double dLength, int nNeeded) {
  double dSamples;
  if (bVaryTime_) {
    // TimeMax's messages go to its line, or when the patch left it out, to the first varying time's.
    Var* pvarTimeMax = GetVar("TimeMax");
    if (Var* pvar = FindVar("TimeMax"); pvar && pvar->pszUser) iLineTimeMax_ = pvar->iLine;
    if (pvarTimeMax) {
      ERRADD(iLineTimeMax_, "%s:TimeMax must be a numeric constant (maximum delay, in seconds)", pszName);
      return 1;
    }
    if (v.dTimeMax == 0) {
      ERRADD(iLineTimeMax_, "%s:TimeMax must be set (numeric constant, in seconds) if any taps have a formula for TimeX",
             pszName);
      return 1;
    }
    dSamples = dFreqEval_ * v.dTimeMax + 2;
    if (!(v.dTimeMax > 0) || dSamples > MaxLineSamples) {
      ERRADD(iLineTimeMax_, "%s:TimeMax must be more than 0 and at most %g s", pszName,
             (MaxLineSamples - 2) / dFreqEval_);
      return 1;
    }
  } else {
    if (dLength == 0) dLength = kDefaultLength;
    // The margins of named taps may ask for more than the longest line; the fixed taps do not.
    dSamples = std::min(dFreqEval_ * dLength + 2, static_cast<double>(MaxLineSamples));
    if (!(dSamples >= 2)) dSamples = 2;
  }
  nLine_ = std::max(static_cast<int>(dSamples), nNeeded);
  pdLine_ = static_cast<double*>(std::calloc(2 * static_cast<size_t>(nLine_), sizeof(double)));
  if (!pdLine_) {
    ERRADD(LineOf("TimeMax"), "%s:not enough memory for a delay line of %g s", pszName, nLine_ / dFreqEval_);
    nLine_ = 0;
    return 1;
  }
  return 0;
}

int ModDelay::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  pvarInput_ = GetVar("Input");
  pvarFeedback_ = GetVar("Feedback");
  int iResult = 0;
  if (Var* pvar = GetVar("Interpolate")) {
    ERRADD(pvar->iLine, "%s:Interpolate must be a constant (None, Linear)", pszName);
    iResult = 1;
  }
  if (Var* pvar = GetVar("Fade")) {
    ERRADD(pvar->iLine, "%s:Fade must be a constant (Power, Flat)", pszName);
    iResult = 1;
  }
  if (iResult) return iResult;
  bLinear_ = v.dInterpolate != static_cast<double>(KwNone);
  bPower_ = v.dFade == static_cast<double>(KwPower);

  // The working length of the line, in seconds.
  double dLength = 0;
  pvarSpeed_ = GetVar("Speed");
  if (pvarSpeed_) {
    bVaryTime_ = true;
    iLineTimeMax_ = pvarSpeed_->iLine;
  } else if (!(v.dSpeed > 0)) {
    // Speed divides every time: 0 would make them infinite, below 0 they would read the future.
    ERRADD(LineOf("Speed"), "%s:Speed must be more than 0", pszName);
    return 1;
  } else {
    dRate_ = dFreqEval_ / v.dSpeed;
  }
  bMono_ = FindVar("Output2") == nullptr;

  Var* pvarTapFrom = GetVar("TapFrom");
  Var* pvarTapTo = GetVar("TapTo");
  if (pvarTapFrom || pvarTapTo) {
    ERRADD((pvarTapFrom ? pvarTapFrom : pvarTapTo)->iLine, "%s:TapFrom and TapTo must be a numeric constant", pszName);
    return 1;
  }
  if (!FindVar("TimeForm") || !FindVar("GainForm") || !FindVar("PanForm")) {
    AKS(AKSTrace, AK_HERE,
        "Not all per-patch variables were found, so not creating taps.  Perhaps the module was eliminated due to "
        "output not being used.");
    return 0;
  }
  if (MakeFormTaps(&dLength) || MakeDeclaredTaps(&dLength)) return 1;
  BindTaps(&dLength);

  int nNeeded = 0;
  if (!bVaryTime_ && PlaceFixedTaps(&nNeeded)) return 1;
  if (SizeLine(dLength, nNeeded)) return 1;

  for (DelayTap& tap : atap_) {
    tap.pdOut = tap.pvarTap ? tap.pvarTap->pvalue : &tap.dOut;
    if (tap.pvarTime) aptapVaryTime_.push_back(&tap);
    if (tap.pvarGain) aptapVaryGain_.push_back(&tap);
    if (tap.pvarPan) aptapVaryPan_.push_back(&tap);
  }
  ChooseReader();
  return 0;
}

void ModDelay::Reset() {
  if (pdLine_) std::memset(pdLine_, 0, 2 * static_cast<size_t>(nLine_) * sizeof(double));
  ForgetClock();
  dLastWarned_ = -1;
  iWrite_ = nLine_ - 1;
}

// The tap readers, one per combination of the choices fixed at Init.
void ModDelay::ChooseReader() {
  static constexpr ReadFn apfn[16] = {
      &ModDelay::ReadTaps<false, false, false, false>, &ModDelay::ReadTaps<false, false, false, true>,
      &ModDelay::ReadTaps<false, false, true, false>,  &ModDelay::ReadTaps<false, false, true, true>,
      &ModDelay::ReadTaps<false, true, false, false>,  &ModDelay::ReadTaps<false, true, false, true>,
      &ModDelay::ReadTaps<false, true, true, false>,   &ModDelay::ReadTaps<false, true, true, true>,
      &ModDelay::ReadTaps<true, false, false, false>,  &ModDelay::ReadTaps<true, false, false, true>,
      &ModDelay::ReadTaps<true, false, true, false>,   &ModDelay::ReadTaps<true, false, true, true>,
      &ModDelay::ReadTaps<true, true, false, false>,   &ModDelay::ReadTaps<true, true, false, true>,
      &ModDelay::ReadTaps<true, true, true, false>,    &ModDelay::ReadTaps<true, true, true, true>};
  pfnRead_ = apfn[(!bMono_ ? 8 : 0) | (bLinear_ ? 4 : 0) | (bVaryTime_ ? 2 : 0) | (bTapOut_ ? 1 : 0)];
}

void ModDelay::WarnTimeMax(double dDelay) {
  if (!(dDelay > dLastWarned_)) return;
  ERRADD(iLineTimeMax_, "%s:TimeMax must be at least %f ms", pszName, (dDelay + 1) / dFreqEval_ * 1000);
  dLastWarned_ = dDelay + 1;
}

template <bool kStereo, bool kLinear, bool kVaryTime, bool kTapOut>
void ModDelay::ReadTaps() {
  const double* pdNow = pdLine_ + iWrite_;  // pdNow[k] is the sample of k samples ago
  const double dRate = dRate_;
  const double dLast = nLine_;
  double dLeft = 0, dRight = 0;
  // By index: stepping a pointer below an empty list's null data would be undefined.
  for (size_t i = atap_.size(); i-- > 0;) {
    DelayTap* ptap = &atap_[i];
    double dv = 0;
    if constexpr (!kVaryTime) {
      if constexpr (kLinear)
        dv = ptap->dWeight1 * pdNow[ptap->iDelay] + ptap->dWeight2 * pdNow[ptap->iDelay + 1];
      else
        dv = ptap->dGain * pdNow[ptap->iDelay];
    } else {
      double d = dRate * ptap->dTime;
      if (!(d >= 0)) {
        ERRADD(ptap->iLine, "%s:Time%d is negative or less than 0 samples", pszName, ptap->iNumber);
      } else if constexpr (kLinear) {
        // Both samples read must lie in the line: trunc(d) + 1 < N.
        if (d < dLast - 1) {
          int k = static_cast<int>(d);
          double f = d - k;
          dv = ptap->dGain * ((1 - f) * pdNow[k] + f * pdNow[k + 1]);
        } else {
          WarnTimeMax(d);
        }
      } else {
        if (d + 0.5 < dLast) dv = ptap->dGain * pdNow[static_cast<int>(d + 0.5)];
        else WarnTimeMax(d);
      }
    }
    if constexpr (kStereo) {
      dLeft += ptap->dLeft * dv;
      dRight += ptap->dRight * dv;
    } else {
      dLeft += dv;
    }
    if constexpr (kTapOut) *ptap->pdOut = dv;
  }
  v.dOutput = dLeft;
  v.dOutput2 = dRight;
}

void ModDelay::Calc() {
  if (!pdLine_ || !ClockMoved()) return;
  double dInput = FoldState(Pull(pvarInput_, v.dInput));
  pdLine_[iWrite_] = pdLine_[iWrite_ + nLine_] = dInput;
  if (pvarSpeed_) dRate_ = dFreqEval_ / Pull(pvarSpeed_, v.dSpeed);
  for (DelayTap* ptap : aptapVaryTime_) ptap->dTime = Pull(ptap->pvarTime, ptap->dTime);
  for (DelayTap* ptap : aptapVaryGain_) {
    ptap->dGain = Pull(ptap->pvarGain, ptap->dGain);
    // Fixed-time "Linear" taps carry their gain in the weights.
    ptap->dWeight1 = ptap->dGain * (1 - ptap->dFrac);
    ptap->dWeight2 = ptap->dGain * ptap->dFrac;
  }
  for (DelayTap* ptap : aptapVaryPan_) {
    double dPan = Pull(ptap->pvarPan, ptap->dPan);
    if (dPan != ptap->dPan) {
      ptap->dPan = dPan;
      PanStep(ptap);
    }
  }
  (this->*pfnRead_)();
}

void ModDelay::FeedbackStep() {
  if (!pdLine_) return;
  // The step needs this sample's input in the line even when nothing read the delay this sample.
  ModDelay::Calc();
  double* pd = pdLine_ + iWrite_;
  double dSum = FoldState(*pd + Pull(pvarFeedback_, v.dFeedback));
  pd[0] = pd[nLine_] = dSum;
  if (--iWrite_ < 0) iWrite_ = nLine_ - 1;
}

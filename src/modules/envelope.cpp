// The envelope generator: segment building from stages and numbered variables, the stage types,
// and the per-sample segment walk.
#include "modules/envelope.h"

#include "patch/startup_hooks.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "foundation/akstatus.h"

namespace {

const char* const apszStageName[EnvStages] = {"Wait",  "Attack", "Impact",  "Decay",
                                              "Break", "Slope",  "Sustain", "Release"};
// One letter per stage for the names of the stage types with more than one stage.
constexpr char kStageLetters[EnvStages + 1] = "WAIDBPSR";

// A segment's start is put this far before the clock value that starts it, so that a segment
// of time T ends at the first computation at or after T even when the clock, a sum of sample
// periods, carries rounding errors (1e-8 s is well under a sample at any usable rate).
constexpr double kStartLead = 0.00000001;

// Numbered segments are kept to a size an envelope can use: a name such as Time99999999 would
// otherwise make an array of a hundred million segments.
constexpr int kMaxSegmentNumber = 9999;

constexpr uint32_t kEnvAttrs = AttrRegistered | AttrMultiMono;

#define ENV_AT(field) VAR_OFFSET(EnvelopeVars, field)

constexpr int kCommonInputs = 5;
Var avarEnvInputs[] = {
    VarIn("Bypass", FormTypeBoolean, ENV_AT(dBypass), 0, 0, "false"),
    VarIn("Speed", FormTypeNumeric, ENV_AT(dSpeed), 0, 0, "1.0"),
    VarIn("Stop", FormTypeNumeric, ENV_AT(dStop), 0, 0, "true"),
    VarIn("TrigRelease", FormTypeNumeric, ENV_AT(dTrigRelease), 0, 0, "AND( Note:NoteOff, NOT( Channel:DamperPdl ) )"),
    VarIn("Epsilon", FormTypeNumeric, ENV_AT(dEpsilon), 0, 0, "-46dB"),
    VarEnd};

Var avarEnvOutputs[] = {VarOut("Output", FormTypeNumeric, ENV_AT(dOutput), 0, 0),
                        VarOut("Exp", FormTypeNumeric, ENV_AT(dExp), 0, 0),
                        VarOut("Amp", FormTypeNumeric, ENV_AT(dAmp), 0, 0),
                        VarOut("Custom", FormTypeNumeric, ENV_AT(dCustom), 0, 0),
                        VarOut("Segment", FormTypeNumeric, ENV_AT(dSegment), 0, 0),
                        VarOut("SyncOut", FormTypeBoolean, ENV_AT(dSyncOut), 0, 0),
                        VarOut("Finished", FormTypeBoolean, ENV_AT(dFinished), 0, 0),
                        VarEnd};

// Help lines of every envelope type: the stage rows of the stage types and the common rows.
const VarHelp ahelpEnv[] = {
    {"Wait", "seconds at 0 before the envelope starts to rise"},
    {"Attack", "seconds to rise to 1 (linear on Amp)"},
    {"Impact", "seconds to stay at 1 after the attack"},
    {"Decay", "seconds to fall from 1 to the next level (Break or Sustain)"},
    {"Break", "0..1: the level the decay falls to before the slope"},
    {"Slope", "seconds to move from the break level on to the sustain level"},
    {"Sustain", "0..1: the level held while Stop is true (normally while the key is down)"},
    {"Release", "seconds to fall to 0 once TrigRelease fires"},
    {"Bypass", "true freezes the envelope: its outputs hold"},
    {"Speed", "time scale: 2 plays every segment twice as fast, 0 freezes; e.g. key tracking"},
    {"Stop", "the hold condition: a holding segment waits while this is true"},
    {"TrigRelease", "the condition that starts the release (default: note released, damper pedal up)"},
    {"Epsilon", "constant: how close to 0 exponential curves go, e.g. -46 dB; smaller is longer tails"},
    {"Output", "0..1: the envelope with straight segments"},
    {"Exp", "0..1: the envelope with exponential (constant-ratio) segments"},
    {"Amp", "0..1: straight while rising, exponential while falling: the natural choice for gain"},
    {"Custom", "0..1: per segment straight, or exponential where CurvN is Exponential"},
    {"Segment", "the number of the segment being played"},
    {"SyncOut", "1 on the sample at which a segment begins, else 0"},
    {"Finished", "1 once the last segment has ended: a Voice's Finished reads it to free the voice"},
    {"Time<N>", "seconds: how long segment N takes (N from 1)"},
    {"Valu<N>", "the level segment N ends at; Valu0 is the starting level"},
    {"Trig<N>", "a condition: when it becomes true, segment N starts from where the envelope is"},
    {"Stop<N>", "a condition: segment N holds at its end while it is true"},
    {"Goto<N>", "the segment to continue with after segment N (a loop); 0 for none"},
    {"Curv<N>", "constant keyword: Exponential makes segment N curve on the Custom output, else Linear"},
    {}};

ModuleTypeTmpl<ModEnvelope> typeEnv("Env", avarEnvInputs, avarEnvOutputs, kEnvAttrs, nullptr, OrderEnv, ahelpEnv);

// The stage types: one per subset s of the stages, bit b of s standing for stage b.
constexpr int kStageTypes = 1 << EnvStages;
constexpr int kStageTypeNameSize = 64;  // the longest name, WAIDBPSREnv, needs 12
Var aavarStageInputs[kStageTypes][EnvStages + kCommonInputs + 1];
char aszStageTypeName[kStageTypes][kStageTypeNameSize];
ModuleType* aptypeStage[kStageTypes];  // registered types live as long as the program

void StageTypeName(int s, char* sz) {
  if (s == 0) {
    snprintf(sz, kStageTypeNameSize, "GateEnv");
    return;
  }
  for (int b = 0; b < EnvStages; ++b)
    if (s == 1 << b) {
      snprintf(sz, kStageTypeNameSize, "%sEnv", apszStageName[b]);
      return;
    }
  char aszLetter[EnvStages][2] = {};
  for (int b = 0; b < EnvStages; ++b)
    if (s & (1 << b)) aszLetter[b][0] = kStageLetters[b];
  snprintf(sz, kStageTypeNameSize, "%s%s%s%s%s%s%s%sEnv", aszLetter[0], aszLetter[1], aszLetter[2], aszLetter[3],
           aszLetter[4], aszLetter[5], aszLetter[6], aszLetter[7]);
}

// Binds one of a segment's variables: a constant (or formula-less) record is evaluated now into
// the field and dropped; a varying one stays for the running envelope. Answers whether it stays.
bool BindField(Var*& pvar, double* pd) {
  if (!pvar) return false;
  if (pvar->pform && !FormIsConstant(pvar->pform)) return true;
  if (pvar->pform) FormVarRefresh(pvar);
  *pd = *pvar->pvalue;
  pvar = nullptr;
  return false;
}

// "Valu12" with prefix "Valu" gives 12; -1 when the rest is not a non-empty run of digits.
int SegmentNumber(const char* pszName, const char* pszPrefix) {
  size_t n = strlen(pszPrefix);
  if (strncmp(pszName, pszPrefix, n) != 0 || !pszName[n]) return -1;
  long iNumber = 0;
  for (const char* p = pszName + n; *p; ++p) {
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;
    if (iNumber <= kMaxSegmentNumber) iNumber = iNumber * 10 + (*p - '0');
  }
  return static_cast<int>(iNumber);
}

}  // namespace

// The stage types are made once at start-up, after every static registration.
ModuleStartupHook g_hookEnvStages(EnvRegisterStageTypes);

void EnvRegisterStageTypes() {
  static bool bRegistered = false;
  if (bRegistered) return;
  bRegistered = true;
  for (int s = 0; s < kStageTypes; ++s) {
    Var* avar = aavarStageInputs[s];
    int n = 0;
    for (int b = 0; b < EnvStages; ++b)
      if (s & (1 << b))
        avar[n++] = VarIn(apszStageName[b], FormTypeNumeric, ENV_AT(adStage) + b * static_cast<int>(sizeof(double)), 0,
                          0, b == EnvSustain ? "1" : "0");
    for (int i = 0; i < kCommonInputs; ++i) avar[n++] = avarEnvInputs[i];
    avar[n] = VarEnd;
    StageTypeName(s, aszStageTypeName[s]);
    aptypeStage[s] =
        new ModuleTypeTmpl<ModEnvelope>(aszStageTypeName[s], avar, avarEnvOutputs, kEnvAttrs, nullptr, OrderEnvStages,
                                        ahelpEnv);
  }
}

bool ModEnvelope::IsNumberedInput(const char* pszVar) {
  for (const char* pszPrefix : {"Valu", "Time", "Trig", "Goto", "Stop", "Curv"})
    if (IsNumberedName(pszVar, pszPrefix)) return true;
  for (const char* pszName : {"Valu0", "Trig0", "Stop0", "Trigger"})
    if (strcmp(pszVar, pszName) == 0) return true;
  for (const char* pszStage : apszStageName)
    if (strcmp(pszVar, pszStage) == 0) return true;
  return false;
}

ModEnvelope::ModEnvelope(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                         int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
  v.dSpeed = 1;
}

EnvSegment& ModEnvelope::Seg(int k) {
  if (k >= aseg_.N()) aseg_.SetSize(k + 1);
  return aseg_[k];
}

int ModEnvelope::Init() {
  dFreqEval_ = TheEngine()->dFreqEval;
  pvarBypass_ = GetVar("Bypass");
  pvarSpeed_ = GetVar("Speed");
  if (Var* pvarEpsilon = GetVar("Epsilon")) {
    ERRADD(pvarEpsilon->iLine, "%s:Epsilon must be a constant (such as .001 or -48dB)", pszName);
    return 1;
  }
  aseg_.Empty();
  atrig_.Empty();
  bMayRest_ = true;
  Unready();
  BuildFromStages();
  BuildFromNumbered();
  // An envelope that got no segments (or only a Wait) ends on a held 1.
  if (aseg_.N() == (FindVar("Wait") ? 2 : 0)) {
    EnvSegment& seg = Seg(aseg_.N());
    seg.dValue = 1;
    seg.dStop = 1;
    seg.bHasStop = true;
  }
  Bind();
  return 0;
}

// The stages, in their fixed order, each adding or completing segments; a Decay or Slope leaves
// its target open (pending) for a following Break, Sustain or Release to fill.
void ModEnvelope::BuildFromStages() {
  Var* apvar[EnvStages];
  for (int b = 0; b < EnvStages; ++b) apvar[b] = FindVar(apszStageName[b]);
  Var* pvarTrigger = FindVar("Trigger");
  Var* pvarStop = FindVar("Stop");
  Var* pvarTrigRelease = FindVar("TrigRelease");
  auto SetValue = [this](int k, double d) { Seg(k).dValue = d; };
  auto SetTime = [this](int k, Var* pvar) {
    Seg(k).pvarTime = pvar;
    if (!pvar) aseg_[k].dTime = 0;
  };
  auto HoldOnStop = [this, pvarStop](int k) {
    Seg(k).pvarStop = pvarStop;
    aseg_[k].bHasStop = pvarStop != nullptr;
  };

  int i = 0;
  bool bPending = false;
  if (pvarTrigger) {
    SetValue(0, 0);
    Seg(0).pvarTrigger = pvarTrigger;
  }
  if (apvar[EnvWait]) {
    SetValue(0, 0);
    SetTime(1, apvar[EnvWait]);
    SetValue(1, 0);
    i = 2;
  }
  if (apvar[EnvAttack]) {
    if (i == 0) {
      SetValue(0, 0);
      i = 1;
    }
    SetTime(i, apvar[EnvAttack]);
    SetValue(i, 1);
    ++i;
  }
  if (apvar[EnvImpact]) {
    if (i == 0) {
      SetValue(0, 1);
      i = 1;
    } else if (!apvar[EnvAttack]) {
      SetTime(i, nullptr);
      SetValue(i, 1);
      ++i;
    }
    SetTime(i, apvar[EnvImpact]);
    SetValue(i, 1);
    ++i;
  }
  if (apvar[EnvDecay]) {
    if (!apvar[EnvAttack] && !apvar[EnvImpact]) {
      SetTime(i, nullptr);
      SetValue(i, 1);
      ++i;
    }
    SetTime(i, apvar[EnvDecay]);
    bPending = true;
  }
  if (apvar[EnvBreak]) {
    if (bPending) {
      Seg(i).pvarValue = apvar[EnvBreak];
      bPending = false;
      ++i;
    } else if (i == 0) {
      Seg(0).pvarValue = apvar[EnvBreak];
      i = 1;
    } else {
      SetTime(i, nullptr);
      Seg(i).pvarValue = apvar[EnvBreak];
      ++i;
    }
  }
  if (apvar[EnvSlope]) {
    if (bPending) {
      SetValue(i, 0);
      ++i;
    } else if (i == 0) {
      SetValue(0, 0);
      i = 1;
    }
    SetTime(i, apvar[EnvSlope]);
    bPending = true;
  }
  if (apvar[EnvSustain]) {
    if (bPending) {
      Seg(i).pvarValue = apvar[EnvSustain];
      HoldOnStop(i);
      ++i;
      bPending = false;
    } else {
      if (i == 0) {
        SetTime(0, nullptr);
        SetValue(0, 0);
        i = 1;
      }
      SetTime(i, nullptr);
      Seg(i).pvarValue = apvar[EnvSustain];
      Seg(i).pvarStop = pvarStop;
      ++i;
    }
  }
  if (apvar[EnvRelease]) {
    if (bPending) {
      SetValue(i, 0);
      ++i;
    } else if (i == 0) {
      SetValue(0, 1);
      SetTime(1, nullptr);
      SetValue(1, 1);
      i = 2;
    }
    SetTime(i, apvar[EnvRelease]);
    SetValue(i, 0);
    Seg(i).pvarTrigger = pvarTrigRelease;
    HoldOnStop(i - 1);
  } else if (bPending) {
    SetValue(i, 0);
  }
  if (apvar[EnvWait] && i == 2) SetValue(2, 1);
  if (!apvar[EnvRelease] && aseg_.N() > 0) HoldOnStop(aseg_.N() - 1);

  int nSustains = 0;
  for (const EnvSegment& seg : aseg_) nSustains += pvarStop && seg.pvarStop == pvarStop;
  // Each hold still works on its own, so this is only worth a note in the log.
  if (nSustains > 1) AKS(AKSWarn, AK_HERE, "multiple sustains in %s", pszName);
}

// Time<N>, Valu<N>, Trig<N>, Goto<N>, Stop<N> and Curv<N> address segment N directly.
void ModEnvelope::BuildFromNumbered() {
  enum { FieldTime, FieldValue, FieldTrigger, FieldGoto, FieldStop, FieldCurve, Fields };
  static const struct {
    const char* pszPrefix;
    bool bZeroAllowed;  // segment 0 has no time, goto or curve
  } aField[Fields] = {{"Time", false}, {"Valu", true}, {"Trig", true},
                      {"Goto", false}, {"Stop", true}, {"Curv", false}};
  Var* avar = ppavarTable ? *ppavarTable : nullptr;
  for (Var* pvar = avar; pvar && pvar->pszName; ++pvar) {
    if (pvar->iLevel != iLevel || pvar->iHistory != 0 || !pvar->pszModule || strcmp(pvar->pszModule, pszName) != 0)
      continue;
    for (int f = 0; f < Fields; ++f) {
      int k = SegmentNumber(pvar->pszName, aField[f].pszPrefix);
      if (k < 0 || (k == 0 && !aField[f].bZeroAllowed)) continue;
      if (k > kMaxSegmentNumber) {
        ERRADD(pvar->iLine, "%s:%s numbers a segment above %d; ignoring it", pszName, pvar->pszName, kMaxSegmentNumber);
        break;
      }
      EnvSegment& seg = Seg(k);
      Var** ppvarField[Fields] = {&seg.pvarTime, &seg.pvarValue, &seg.pvarTrigger,
                                  &seg.pvarGoto, &seg.pvarStop,  &seg.pvarCurve};
      if (*ppvarField[f]) {
        const char* pszText = pvar->pszUser ? pvar->pszUser : pvar->pszDefault ? pvar->pszDefault : "";
        ERRADD(pvar->iLine, "%s:%s is specified multiple times; ignoring setting of %s", pszName, pvar->pszName,
               pszText);
        break;
      }
      *ppvarField[f] = pvar;
      if (f == FieldStop) seg.bHasStop = true;
      break;
    }
  }
}

void ModEnvelope::Bind() {
  for (int m = 0; m < aseg_.N(); ++m) {
    EnvSegment& seg = aseg_[m];
    seg.iIndex = m;
    BindField(seg.pvarTime, &seg.dTime);
    BindField(seg.pvarValue, &seg.dValue);
    BindField(seg.pvarGoto, &seg.dGoto);
    BindField(seg.pvarStop, &seg.dStop);
    if (BindField(seg.pvarTrigger, &seg.dTrigger)) {
      atrig_.Add({seg.pvarTrigger, m});
      bMayRest_ = bMayRest_ && seg.pvarTrigger->evalClass < ClassPerSample;
    }
    if (BindField(seg.pvarCurve, &seg.dCurve)) {
      ERRADD(seg.pvarCurve->iLine, "%s:%s only handles constant values; setting to Linear", pszName,
             seg.pvarCurve->pszName);
      seg.pvarCurve = nullptr;
      seg.dCurve = KwLinear;
    }
  }
}

void ModEnvelope::Reset() {
  dLastTime_ = -1;
  v.dSegment = 1;
  dSegStart_ = -kStartLead;
  v.dFinished = 0;
  Unready();
}

void ModEnvelope::NoteStart() {
  Unready();
  if (aseg_.N() > 0) aseg_[0].dValue = Pull(aseg_[0].pvarValue, aseg_[0].dValue);
}

void ModEnvelope::SetAll(double dValue) {
  v.dOutput = v.dExp = v.dAmp = v.dCustom = dValue;
  for (Track& track : atrack_) track.dLevel = v.dEpsilon + dValue;
}

void ModEnvelope::SetUp(int k, const double adStart[Tracks], double dAmpRef, bool bSync) {
  EnvSegment& seg = aseg_.begin()[k];
  seg.dValue = Pull(seg.pvarValue, seg.dValue);
  seg.dTime = Pull(seg.pvarTime, seg.dTime);
  v.dSpeed = Pull(pvarSpeed_, v.dSpeed);
  Unready();
  if (bSync) v.dSyncOut = 1;
  const double dEpsilon = v.dEpsilon;
  // Computations the segment lasts, inverted: each exponential step is the whole ratio to the n-th.
  const double n = seg.dTime == 0 ? 0 : v.dSpeed / (seg.dTime * dFreqEval_);
  for (int i = 0; i < Tracks; ++i) {
    atrack_[i].dStart = adStart[i];
    atrack_[i].dDelta = seg.dValue - adStart[i];
  }
  atrack_[TrackAmp].dLevel = v.dAmp + dEpsilon;
  atrack_[TrackCustom].dLevel = v.dCustom + dEpsilon;
  int iLinear = 1 << TrackOutput;
  if (seg.dValue >= dAmpRef) iLinear |= 1 << TrackAmp;
  if (seg.dCurve != static_cast<double>(KwExponential)) iLinear |= 1 << TrackCustom;
  for (int i = TrackExp; i < Tracks; ++i) {
    // A constant-ratio path needs both ends on the positive side of -Epsilon; where there is none
    // (a negative target, Epsilon 0 from a level of 0) the track takes the straight line instead
    // of producing a NaN or an infinity.
    double dFactor = std::pow((dEpsilon + seg.dValue) / atrack_[i].dLevel, n);
    if (dFactor > 0 && std::isfinite(dFactor)) {
      atrack_[i].dFactor = dFactor;
    } else {
      atrack_[i].dFactor = 1;
      iLinear |= 1 << i;
    }
  }
  pfnStep_ = apfnStep_[iLinear];
}

// A straight track puts its output on the segment's line; an exponential one reads its level and
// multiplies it on. Of the straight tracks only Exp keeps its level: the next set-up continues
// Exp from its level but starts Amp and Custom from their outputs, and Output has no level.
template <int kLinear>
void ModEnvelope::Step(ModEnvelope* penv, double f) {
  const double dEpsilon = penv->v.dEpsilon;
  auto Move = [f, dEpsilon](Track& track, double& dOut, auto iTrack) {
    if constexpr ((kLinear >> iTrack) & 1) {
      dOut = track.dStart + track.dDelta * f;
      if constexpr (iTrack == TrackExp) track.dLevel = dOut + dEpsilon;
    } else {
      dOut = track.dLevel - dEpsilon;
      track.dLevel *= track.dFactor;
    }
  };
  Track* atrack = penv->atrack_;
  EnvelopeVars& v = penv->v;
  Move(atrack[TrackOutput], v.dOutput, std::integral_constant<int, TrackOutput>());
  Move(atrack[TrackExp], v.dExp, std::integral_constant<int, TrackExp>());
  Move(atrack[TrackAmp], v.dAmp, std::integral_constant<int, TrackAmp>());
  Move(atrack[TrackCustom], v.dCustom, std::integral_constant<int, TrackCustom>());
}

const ModEnvelope::StepFn ModEnvelope::apfnStep_[1 << Tracks] = {
    Step<0>, Step<1>, Step<2>,  Step<3>,  Step<4>,  Step<5>,  Step<6>,  Step<7>,
    Step<8>, Step<9>, Step<10>, Step<11>, Step<12>, Step<13>, Step<14>, Step<15>};

// A sustain held by a constant stop, in most samples of a long note: what the full computation
// would do, found without a call and from a few fields side by side, so that the held sample saves
// no registers and touches little. Any other case, a trigger whose record is not current included,
// goes the full way.
void ModEnvelope::Calc() {
  const double t = *pclock;
  if (bHeldPlain_ && t != dLastTime_ && t != 0) {
    bool bStays = true;
    for (const Trigger& trig : atrig_)
      bStays = bStays && (iReady_ == trig.iSegment || !trig.pvar ||
                          (trig.pvar->evalState == EvalCurrent && *trig.pvar->pvalue == 0));
    if (bStays) {
      dLastTime_ = t;
      v.dSyncOut = 0;
      if (bMayRest_) AskRest();  // nothing but an event can move it now
      return;
    }
  }
  CalcFull();
}

void ModEnvelope::CalcFull() {
  const int nSeg = aseg_.N();
  if (nSeg < 2) return;
  const double t = *pclock;
  if (t == dLastTime_) return;
  dLastTime_ = t;
  EnvSegment* aseg = aseg_.begin();

  if (t == 0) {
    // A voice's first computation: start segment 1 from segment 0's value.
    aseg[0].dValue = Pull(aseg[0].pvarValue, aseg[0].dValue);
    const double w = aseg[0].dValue;
    SetAll(w);
    const double adStart[Tracks] = {w, w, w, w};
    SetUp(1, adStart, w, false);
  }
  v.dBypass = Pull(pvarBypass_, v.dBypass);
  if (v.dBypass != 0) return;
  v.dSyncOut = 0;
  if (!(v.dSpeed > 0)) return;  // frozen (a NaN speed freezes too)

  int k = static_cast<int>(v.dSegment);
  // Triggers: the first one that fires moves the envelope into its segment.
  for (const Trigger& trig : atrig_) {
    if (k == trig.iSegment) continue;
    if (Pull(trig.pvar, 0) == 0) continue;
    k = trig.iSegment;
    v.dSegment = k;
    dSegStart_ = t - kStartLead;
    const double adStart[Tracks] = {v.dOutput, v.dExp, v.dAmp, v.dCustom};
    SetUp(k, adStart, v.dAmp, true);
    break;
  }
  // In the ready segment: held, or moving on its line until its end.
  const uint64_t uSpeed = std::bit_cast<uint64_t>(v.dSpeed);
  if (k == iReady_ && uSpeed == uReadySpeed_) {
    if (bHeld_) return;
    if (dSegStart_ + dLength_ > t) {
      pfnStep_(this, (t - dSegStart_) / dLength_);
      return;
    }
  }
  Advance(k, t);
}

// Kept apart from Calc, which runs every sample and mostly returns before this: its registers
// would otherwise be saved and restored on every call.
void ModEnvelope::Advance(int k, double t) {
  const int nSeg = aseg_.N();
  EnvSegment* aseg = aseg_.begin();
  bHeld_ = bHeldPlain_ = false;

  // Advance through the segments that have ended by now. A loop of redirections through segments
  // that take no time would never end; past this many steps the current segment starts now.
  int nStepsLeft = 2 * nSeg + 2;
  while (k < nSeg) {
    EnvSegment& seg = aseg[k];
    if (--nStepsLeft < 0) {
      dSegStart_ = t;
      break;
    }
    seg.dGoto = Pull(seg.pvarGoto, seg.dGoto);
    if (seg.dGoto >= 1 && seg.dGoto < nSeg && static_cast<int>(seg.dGoto) != k) {
      // Redirection: the target's time counts from the moment this segment began.
      k = static_cast<int>(seg.dGoto);
      v.dSegment = k;
      const double a = seg.dValue;
      const double adStart[Tracks] = {a, a, a, a};
      SetUp(k, adStart, v.dOutput, true);
      continue;
    }
    const double dLength = seg.dTime / v.dSpeed;  // (a set-up re-evaluates a varying Speed)
    if (!seg.pvarGoto) {
      iReady_ = k;
      // A segment that takes no time steps at fraction 1, not by the quotient: an end at minus
      // infinity sends it here, where that is decided, and only its hold takes the short way.
      dLength_ = seg.dTime != 0 ? dLength : -INFINITY;
      uReadySpeed_ = std::bit_cast<uint64_t>(v.dSpeed);
    }
    const double dEnd = dSegStart_ + dLength;
    if (dEnd > t) break;
    SetAll(seg.dValue);
    if (seg.bHasStop) {
      seg.dStop = Pull(seg.pvarStop, seg.dStop);
      if (seg.dStop != 0) {
        bHeld_ = !seg.pvarStop && iReady_ == k;
        // Held where nothing but a trigger can move it: no varying Bypass or Speed.
        bHeldPlain_ = bHeld_ && !pvarBypass_ && v.dBypass == 0 && !pvarSpeed_ && v.dSpeed > 0;
        return;  // held: the segment counts as ended until the stop clears
      }
      dSegStart_ = t;
    } else {
      dSegStart_ = dEnd;
    }
    ++k;
    v.dSegment = k;
    if (k >= nSeg) break;
    const double a = seg.dValue;
    const double adStart[Tracks] = {a, a, a, a};
    SetUp(k, adStart, v.dOutput, true);
  }

  if (k >= nSeg) {
    v.dOutput = v.dExp = v.dAmp = v.dCustom = aseg[nSeg - 1].dValue;
    v.dFinished = 1;
    return;
  }
  const EnvSegment& seg = aseg[k];
  pfnStep_(this, seg.dTime == 0 ? 1 : (t - dSegStart_) / (seg.dTime / v.dSpeed));
}

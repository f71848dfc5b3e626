// The wavetable oscillator kinds "SWO" and "LFSWO": their tables, the band search, the table
// reads, and phase, sync and bass compensation as in the oscillator.
#include "modules/modulehelp.h"
#include "modules/swo.h"

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "modules/swoperpatch.h"

namespace {

#define SWO_IN(name, kind, cap, def) VarIn(#name, kind, VAR_OFFSET(SWOVars, d##name), cap, 0, def)
#define SWO_OUT(name, kind) VarOut(#name, kind, VAR_OFFSET(SWOVars, d##name), 0, 0)

// The inputs of both kinds; only the default frequency differs.
#define SWO_INPUTS(pszFrequency)                                                                  \
  {                                                                                               \
    SWO_IN(Frequency, FormTypeNumeric, 0, pszFrequency), SWO_IN(Duty, FormTypeNumeric, 0, ".5"),   \
        SWO_IN(SyncIn, FormTypeBoolean, 0, "-1"), SWO_IN(PhaseIn, FormTypeNumeric, 0, "0"),         \
        SWO_IN(Interpolate, FormTypeBoolean, ClassPerPatch, "true"),                              \
        SWO_IN(Bypass, FormTypeBoolean, 0, "false"), VarEnd                                       \
  }

Var avarSWOInputs[] = SWO_INPUTS("Pitch");
Var avarSWOOutputs[] = {SWO_OUT(Output, FormTypeNumeric),  SWO_OUT(Control, FormTypeNumeric),
                        SWO_OUT(Positive, FormTypeNumeric), SWO_OUT(SyncOut, FormTypeBoolean),
                        SWO_OUT(PhaseOut, FormTypeNumeric), VarEnd};
Var avarLFSWOInputs[] = SWO_INPUTS("6.5");
Var avarLFSWOOutputs[] = {SWO_OUT(Output, FormTypeNumeric),  SWO_OUT(Control, FormTypeNumeric),
                          SWO_OUT(Positive, FormTypeNumeric), SWO_OUT(Audio, FormTypeNumeric),
                          SWO_OUT(SyncOut, FormTypeBoolean),  SWO_OUT(PhaseOut, FormTypeNumeric),
                          VarEnd};

#undef SWO_INPUTS
#undef SWO_IN
#undef SWO_OUT

constexpr uint32_t kSWOAttrs = AttrRegistered | AttrBypassSilences;
// What SWO and LFSWO mean alike.
const VarHelp ahelpSWOShared[] = {
    {"Duty", ModHelp::kDuty},
    {"SyncIn", ModHelp::kSyncIn},
    {"PhaseIn", ModHelp::kPhaseIn},
    {"Interpolate", "per patch: true reads between table points (smoother), false takes the nearest point"},
    {"Bypass", ModHelp::kBypassSilences},
    {"Control", ModHelp::kRawWave},
    {"Positive", ModHelp::kPositive},
    {"SyncOut", ModHelp::kSyncOut},
    {"PhaseOut", ModHelp::kPhaseOut},
    {"Harm<N>",
     "the amplitude of harmonic N, overriding Waveform and HarmonicForm for it (kept by the per-patch helper)"},
    {"SampleLoc<N>", "with SampleFile: where sample N starts in the file, in bytes (kept by the per-patch helper)"},
    {"SampleLen<N>", "with SampleFile: the length of sample N, in bytes (kept by the per-patch helper)"},
    {"SampleFreq<N>", "with SampleFile: Hz, the lowest frequency sample N serves (kept by the per-patch helper)"},
    {}};
const VarHelp ahelpSWO[] = {
    {"Frequency", ModHelp::kFrequencyPitch},
    {"Output", "audio: the table's wave with bass compensation"},
    {}};
ModuleTypeTmpl<ModSWO> typeSWO("SWO", avarSWOInputs, avarSWOOutputs, kSWOAttrs | AttrAudioRate, "SWOPerPatch",
                               OrderSWO, ahelpSWO, ahelpSWOShared);
const VarHelp ahelpLFSWO[] = {
    {"Frequency", ModHelp::kFrequencyLfo},
    {"Output", ModHelp::kRawWave},
    {"Audio", "audio: the table's wave with bass compensation"},
    {}};
ModuleTypeTmpl<ModSWO> typeLFSWO("LFSWO", avarLFSWOInputs, avarLFSWOOutputs, kSWOAttrs, "LFSWOPerPatch",
                                 OrderLFSWO, ahelpLFSWO, ahelpSWOShared);

}  // namespace

ModSWO::ModSWO(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_, int iLevel_,
               Module* pmodHelper)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_),
      bLow_(ptype_ && ptype_->avarOutputs == avarLFSWOOutputs),
      phelper_(static_cast<ModSWOPerPatch*>(pmodHelper)) {
  pvVars = &v;
  // The defaults of the tables, for variables that end without a formula.
  v.dFrequency = bLow_ ? 6.5 : 0;
  v.dDuty = 0.5;
  v.dSyncIn = -1;
  v.dInterpolate = 1;
  v.dPositive = 0.5;
  v.dSyncOut = -1;
}

int ModSWO::Init() {
  if (const InterpreterSettings* pengine = TheEngine()) {
    dFreqEval_ = pengine->dFreqEval;
    dFreqFullBass_ = pengine->dFreqFullBass;
  }
  pvarBypass_ = GetVar("Bypass");
  pvarFrequency_ = GetVar("Frequency");
  pvarDuty_ = GetVar("Duty");
  pvarSyncIn_ = GetVar("SyncIn");
  pvarPhaseIn_ = GetVar("PhaseIn");
  if (const Var* pvarInterpolate = GetVar("Interpolate")) {
    ERRADD(pvarInterpolate->iLine, "%s:Interpolate must be a constant; defaulting to true", pszName);
    bInterpolate_ = true;
  } else {
    bInterpolate_ = v.dInterpolate != 0;
  }
  dBass_ = BassFactor(v.dFrequency, dFreqFullBass_);
  if (phelper_) {
    aband_ = phelper_->Bands().data();
    nBand_ = static_cast<int>(phelper_->Bands().size());
    bSquare_ = phelper_->Waveform() == KwSquare;
  }
  iBand_ = nBand_ > 0 ? nBand_ / 2 : -1;
  return 0;
}

void ModSWO::Reset() {
  phase_.Reset();
  ForgetClock();
}

// Point trunc(n q), blended with the next point by the rest when interpolating. The phase is in
// 0..1, so the index is 0..n and its neighbour at most n + 1: both inside the guard values.
double ModSWO::Read(const double* pdPoint, int n, double q) const {
  const double x = n * q;
  const int k = static_cast<int>(x);
  if (!bInterpolate_) return pdPoint[k];
  const double f = x - k;
  return pdPoint[k + 1] * f + (1 - f) * pdPoint[k];
}

double ModSWO::Wave(const SWOBand& band, double q, double dDuty) const {
  const double* pd = band.Points();
  double w = Read(pd, band.n, q);
  if (bSquare_) w -= Read(pd, band.n, WavePhase(q - dDuty));
  return w;
}

void ModSWO::Calc() {
  if (!ClockMoved()) return;

  // Bypassed: silent, and the clock of the last computation stays, so the phase catches up later.
  if (Pull(pvarBypass_, v.dBypass) != 0) {
    v.dOutput = v.dAudio = v.dControl = 0;
    v.dPositive = 0.5;
    v.dSyncOut = -1;  // a pending sync announcement must not repeat while the master is off
    return;
  }

  if (pvarFrequency_) dBass_ = BassFactor(Pull(pvarFrequency_, v.dFrequency), dFreqFullBass_);
  const double dFreq = v.dFrequency;
  const double dSyncIn = Pull(pvarSyncIn_, v.dSyncIn);
  const double dPhaseIn = Pull(pvarPhaseIn_, v.dPhaseIn);
  const double dt = dFreq / dFreqEval_;  // cycles per sample
  const double p = phase_.Advance(*pclock, dFreq, dPhaseIn, dt, &v.dSyncOut);
  const bool bSync = dSyncIn != -1;

  // The band of this frequency: a few steps at most from the last one, as frequencies glide. A
  // frequency equal to a band's low frequency stays in the band below.
  const SWOBand* pband = nullptr;
  if (iBand_ >= 0) {
    int i = iBand_;
    while (i > 0 && aband_[i].dFreqLow > dFreq) --i;
    while (i + 1 < nBand_ && dFreq > aband_[i + 1].dFreqLow) ++i;
    iBand_ = i;
    if (aband_[i].n > 0) pband = &aband_[i];
  }

  double dWave = 0;  // no table (a helper without bands, an empty sample) plays silence
  const double dDuty = pband && bSquare_ ? Pull(pvarDuty_, v.dDuty) : 0;
  if (pband) dWave = Wave(*pband, p, dDuty);
  if (bSync) {
    const double q = phase_.Sync(dSyncIn, dt, dPhaseIn);
    if (pband) dWave = SyncBlend(dSyncIn, dWave, Wave(*pband, q, dDuty));
    v.dSyncOut = dSyncIn;
  }
  phase_.Settle();

  const double dAudio = dBass_ * dWave;
  v.dControl = dWave;
  v.dPositive = (dWave + 1) * 0.5;
  v.dAudio = dAudio;
  v.dOutput = bLow_ ? dWave : dAudio;
  v.dPhaseOut = phase_.dPhase;
}

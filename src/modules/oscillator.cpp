// The oscillator module kinds "Osc" and "LFO": their tables, waveforms, band-limiting and hard sync.
#include "modules/modulehelp.h"
#include "modules/oscillator.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "formula/vanmath.h"
#include "formula/vantanh.h"
#include "modules/oscillator_lanes.h"

namespace {

// Normalisation constants: each makes the fundamental of its wave (at duty 0.5) one unit high.
constexpr double kHalfPi = 1.5707963267948966;          // sawtooth: fundamental 2/pi
constexpr double kQuarterPi = 0.7853981633974483;       // square: fundamental 4/pi
constexpr double kPiSquaredOver8 = 1.2337005501361697;  // triangle: fundamental 8/pi^2
constexpr double kCycle = 4294967296.0;                 // 2^32: one cycle of the sine table's phase

#define OSC_IN(name, kind, def) VarIn(#name, kind, VAR_OFFSET(OscillatorVars, d##name), 0, 0, def)
#define OSC_OUT(name, kind) VarOut(#name, kind, VAR_OFFSET(OscillatorVars, d##name), 0, 0)

Var avarOscInputs[] = {OSC_IN(Frequency, FormTypeNumeric, "Pitch"), OSC_IN(Waveform, FormTypeKeyword, "Sawtooth"),
                       OSC_IN(Duty, FormTypeNumeric, ".5"),         OSC_IN(Power, FormTypeNumeric, "1"),
                       OSC_IN(SyncIn, FormTypeNumeric, "-1"),       OSC_IN(PhaseIn, FormTypeNumeric, "0"),
                       OSC_IN(Bypass, FormTypeBoolean, "false"),    VarEnd};
Var avarOscOutputs[] = {OSC_OUT(Output, FormTypeNumeric),      OSC_OUT(Control, FormTypeNumeric),
                        OSC_OUT(Positive, FormTypeNumeric),    OSC_OUT(SyncOut, FormTypeNumeric),
                        OSC_OUT(PhaseOut, FormTypeNumeric),    OSC_OUT(DCOffset, FormTypeNumeric),
                        OSC_OUT(AudioAmpAdj, FormTypeNumeric), VarEnd};

Var avarLfoInputs[] = {OSC_IN(Frequency, FormTypeNumeric, "6.5"), OSC_IN(Waveform, FormTypeKeyword, "Sine"),
                       OSC_IN(Duty, FormTypeNumeric, ".5"),       OSC_IN(Power, FormTypeNumeric, "1"),
                       OSC_IN(SyncIn, FormTypeBoolean, "-1"),     OSC_IN(PhaseIn, FormTypeNumeric, "0"),
                       OSC_IN(Bypass, FormTypeBoolean, "false"),  VarEnd};
Var avarLfoOutputs[] = {
    OSC_OUT(Output, FormTypeNumeric),   OSC_OUT(Control, FormTypeNumeric),     OSC_OUT(Audio, FormTypeNumeric),
    OSC_OUT(Positive, FormTypeNumeric), OSC_OUT(SyncOut, FormTypeBoolean),     OSC_OUT(PhaseOut, FormTypeNumeric),
    OSC_OUT(DCOffset, FormTypeNumeric), OSC_OUT(AudioAmpAdj, FormTypeNumeric), VarEnd};

#undef OSC_IN
#undef OSC_OUT

constexpr uint32_t kOscAttrs = AttrRegistered | AttrBypassSilences | AttrMultiMono;
// What Osc and LFO mean alike.
const VarHelp ahelpOscShared[] = {
    {"Waveform",
     "keyword: Sawtooth, Square, Triangle, Sine, SawPulse (band-limited) or SawtoothNA, SquareNA, SawPulseNA (naive)"},
    {"Duty", ModHelp::kDuty},
    {"Power", "exponent applied to the wave's size, sign kept: 1 leaves it, 2 sharpens, 0.5 rounds; about 0.1..10"},
    {"SyncIn", ModHelp::kSyncIn},
    {"PhaseIn", ModHelp::kPhaseIn},
    {"Bypass", ModHelp::kBypassSilences},
    {"Control", ModHelp::kRawWave},
    {"Positive", ModHelp::kPositive},
    {"SyncOut", ModHelp::kSyncOut},
    {"PhaseOut", ModHelp::kPhaseOut},
    {"DCOffset", "the amount that cancels the raw wave's mean at this duty (added before scaling)"},
    {"AudioAmpAdj",
     "the factor from the mean-free raw wave to the audio output: shape normalisation times bass compensation"},
    {}};
const VarHelp ahelpOsc[] = {
    {"Frequency", ModHelp::kFrequencyPitch},
    {"Output", ModHelp::kAudioOut},
    {}};
ModuleTypeTmpl<ModOscillator> typeOsc("Osc", avarOscInputs, avarOscOutputs, kOscAttrs | AttrAudioRate, nullptr,
                                      OrderOsc, ahelpOsc, ahelpOscShared);
const VarHelp ahelpLfo[] = {
    {"Frequency", ModHelp::kFrequencyLfo},
    {"Output", ModHelp::kRawWave},
    {"Audio", ModHelp::kAudioOut},
    {}};
ModuleTypeTmpl<ModOscillator> typeLfo("LFO", avarLfoInputs, avarLfoOutputs, kOscAttrs, nullptr, OrderLFO,
                                      ahelpLfo, ahelpOscShared);

// A keyword value as a waveform number; values no int can hold are unknown waveforms.
inline int WaveNumber(double d) { return d > -1e9 && d < 1e9 ? static_cast<int>(d) : -1; }

// Duty wrapped into 0 <= D < 1: the fractional part by truncation, plus 1 when negative. A tiny
// negative duty would round up to exactly 1, which the triangle and sine shapes divide by the
// distance to, so it stays just below 1; a duty that is not finite falls back to the default.
inline double WrapDuty(double d) {
  if (!std::isfinite(d)) return 0.5;
  d -= std::trunc(d);
  if (d < 0) d += 1;
  return d < 1 ? d : std::nextafter(1.0, 0.0);
}

// sin(2 pi x) for x in 0..1 through the sine table.
inline double TableSin(double x) { return VanSin(static_cast<uint32_t>(static_cast<int64_t>(x * kCycle))); }

// The naive shapes at wave phase p (0..1), duty D (0..1) and the triangle's half duty h = D/2.
inline double SawtoothWave(double p) { return 1 - 2 * p; }
inline double SquareWave(double p, double D) { return p < D ? 1 : -1; }
inline double SawPulseWave(double p, double D) { return D == 0 || p < D ? 1 - 2 * p : -1; }
// A half sine over the duty, then a negative half sine over the rest.
inline double SineWave(double p, double D) {
  return p < D ? TableSin(0.5 * p / D) : TableSin(0.5 + 0.5 * (p - D) / (1 - D));
}
inline double TriangleWave(double p, double h) {
  if (p < h) return p / h;
  if (p <= 1 - h) return 1 - (p - h) / (0.5 - h);
  return (p - 1) / h;
}

// The naive wave of a shape (the band-limited shapes and their naive twins alike).
inline double NaiveWave(int iShape, double p, double D, double h) {
  switch (iShape) {
    case KwSquare:
    case KwSquareNA:
      return SquareWave(p, D);
    case KwTriangle:
      return TriangleWave(p, h);
    case KwSine:
      return SineWave(p, D);
    case KwSawPulse:
    case KwSawPulseNA:
      return SawPulseWave(p, D);
    default:
      return SawtoothWave(p);
  }
}

}  // namespace

ModOscillator::ModOscillator(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                             int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_),
      bLfo_(ptype_ && ptype_->avarOutputs == avarLfoOutputs) {
  pvVars = &v;
  // The defaults of the tables, for variables that end without a formula.
  v.dFrequency = bLfo_ ? 6.5 : 0;
  v.dWaveform = bLfo_ ? KwSine : KwSawtooth;
  v.dDuty = 0.5;
  v.dPower = 1;
  v.dSyncIn = -1;
  v.dSyncOut = -1;
  v.dPositive = 0.5;
  iWave_ = WaveNumber(v.dWaveform);
}

int ModOscillator::Init() {
  if (const InterpreterSettings* pengine = TheEngine()) {
    dFreqEval_ = pengine->dFreqEval;
    dFreqFullBass_ = pengine->dFreqFullBass;
  }
  pvarFrequency_ = GetPulled("Frequency");
  pvarWaveform_ = GetVar("Waveform");
  pvarDuty_ = GetVar("Duty");
  pvarPower_ = GetVar("Power");
  pvarSyncIn_ = GetVar("SyncIn");
  pvarPhaseIn_ = GetVar("PhaseIn");
  pvarBypass_ = GetVar("Bypass");
  if (const Var* pvar = FindVar("Waveform")) iLineWaveform_ = pvar->iLine;
  if (!pvarWaveform_) iWave_ = WaveNumber(v.dWaveform);
  if (!pvarFrequency_) derived_.dBass = BassFactor(v.dFrequency, dFreqFullBass_);
  if (!pvarDuty_) derived_.dDuty = WrapDuty(v.dDuty);
  iLaneShape_ = LaneShape();
  return 0;
}

void ModOscillator::Reset() {
  phase_.Reset();
  ForgetClock();
}

double ModOscillator::PullDuty() {
  derived_.dDuty = WrapDuty(Pull(pvarDuty_, v.dDuty));
  return derived_.dDuty;
}

void ExactDivisor::Set(double d) {
  int iExponent = 0;
  const double dRecip = 1 / d;
  dDivisor = d;
  bProduct = d > 0 && std::frexp(d, &iExponent) == 0.5 && std::isfinite(dRecip);
  dInverse = bProduct ? dRecip : 0;
}

void ModOscillator::Calc() {
  if (ClockMoved()) Compute();
}

void ModOscillator::Compute() {
  // Bypassed: silent, and the clock of the last computation stays, so the phase catches up later.
  if (Pull(pvarBypass_, v.dBypass) != 0) {
    v.dOutput = v.dControl = v.dAudio = 0;
    v.dPositive = 0.5;
    v.dSyncOut = -1;  // a pending sync announcement must not repeat while the master is off
    return;
  }

  if (pvarWaveform_) iWave_ = WaveNumber(Pull(pvarWaveform_, v.dWaveform));
  // One dispatch per computation: each shape's computation is straight code.
  switch (iWave_) {
    case KwSawtooth: return Run<KwSawtooth>();
    case KwSawtoothNA: return Run<KwSawtoothNA>();
    case KwSquare: return Run<KwSquare>();
    case KwSquareNA: return Run<KwSquareNA>();
    case KwTriangle: return Run<KwTriangle>();
    case KwSine: return Run<KwSine>();
    case KwSawPulse: return Run<KwSawPulse>();
    case KwSawPulseNA: return Run<KwSawPulseNA>();
    default: return Run<kUnknownWave>();
  }
}

inline double ModOscillator::PullFrequency() {
  const double dFreq = Pull(pvarFrequency_, v.dFrequency);
  // Cycles per sample, samples per cycle and the bass factor: made only when the frequency
  // changed (a constant frequency has its bass factor from Init).
  if (!freq_.Same(dFreq)) {
    derived_.dt = dFreq / dFreqEval_;
    derived_.dSamplesPerCycle = dFreqEval_ / dFreq;
    if (pvarFrequency_) derived_.dBass = BassFactor(dFreq, dFreqFullBass_);
  }
  return dFreq;
}

void ModOscillator::SineDivisors(double dDuty) {
  if (!sineDuty_.Same(dDuty)) {
    sineRise_.Set(dDuty);
    sineFall_.Set(1 - dDuty);
  }
}

template <int kShape>
void ModOscillator::RunAt(double dFreq) {
  const double dSyncIn = Pull(pvarSyncIn_, v.dSyncIn);
  const double dPhaseIn = Pull(pvarPhaseIn_, v.dPhaseIn);

  // Advance the phase and announce wraps to slaves.
  const bool bSync = dSyncIn != -1;
  const double dt = derived_.dt;
  const double p = phase_.Advance(*pclock, dFreq, dPhaseIn, dt, &v.dSyncOut);

  // The raw wave, its mean and the normalisation constant.
  double dCtl;
  double dDC = 0;
  double dK = kHalfPi;
  double dDuty = 0;
  if constexpr (kShape == KwSawtooth || kShape == KwSawtoothNA) {
    dCtl = SawtoothWave(p);
  } else if constexpr (kShape == KwSquare || kShape == KwSquareNA) {
    dDuty = Duty();
    dCtl = SquareWave(p, dDuty);
    dDC = 1 - 2 * dDuty;
    dK = kQuarterPi;
  } else if constexpr (kShape == KwTriangle) {
    dDuty = Duty();
    dHalfDuty_ = dDuty / 2;
    dCtl = TriangleWave(p, dHalfDuty_);
    // From the symmetric triangle (d = 0) towards the sawtooth it becomes at duty 0 or 1 (d = 1).
    const double d = std::fabs(dDuty - 0.5) * 2;
    dK = (1 - d * d) * kPiSquaredOver8 + d * d * kHalfPi;
  } else if constexpr (kShape == KwSine) {
    dDuty = Duty();
    // The two halves divide by the duty and by its rest: divisors kept per duty.
    SineDivisors(dDuty);
    dCtl = p < dDuty ? TableSin(sineRise_.Divide(0.5 * p)) : TableSin(0.5 + sineFall_.Divide(0.5 * (p - dDuty)));
    dK = 1;
  } else if constexpr (kShape == KwSawPulse || kShape == KwSawPulseNA) {
    dDuty = Duty();
    dCtl = SawPulseWave(p, dDuty);
    dDC = (1 - dDuty) * (1 - dDuty);
  } else {
    static_assert(kShape == kUnknownWave);
    ERRADD(iLineWaveform_, "%s:Waveform - unknown keyword", pszName);
    dCtl = SawtoothWave(p);
  }

  // Band-limiting: the jumps of the sawtooth, square and saw-pulse become one-sample linear ramps
  // centred on the discontinuity. a: samples since the wrap, b: samples to the wrap, c: samples
  // from the duty edge.
  if constexpr (kShape == KwSawtooth || kShape == kUnknownWave || kShape == KwSquare || kShape == KwSawPulse) {
    if (dFreq > 0 && !bSync) {
      const double L = derived_.dSamplesPerCycle;
      const double a = L * p;
      const double b = (1 - p) * L;
      if constexpr (kShape == KwSawtooth || kShape == kUnknownWave) {
        if (a < 0.5)
          dCtl = a * ((2 - 4 * p) + 2 * (0.5 - a) / L);
        else if (b < 0.5)
          dCtl = b * ((2 - 4 * p) - 2 * (0.5 - b) / L);
      } else if constexpr (kShape == KwSquare) {
        const double c = (p - dDuty) * L;
        if (a < 0.5)
          dCtl = 2 * a;
        else if (b < 0.5)
          dCtl = -2 * b;
        else if (c > -0.5 && c < 0.5)
          dCtl = -2 * c;
      } else {
        const double c = (p - dDuty) * L;
        if (a < 0.5)
          dCtl = (1 - ((0.5 - a) / L + 2 * p)) * (a + 0.5) - 0.5 + a;
        else if (b < 0.5)
          dCtl = (3 - ((b + 0.5) / L + 2 * p)) * (0.5 - b) - 0.5 - b;
        else if (c > -0.5 && c < 0.5)
          dCtl = (1 - (2 * p - (0.25 - c) / L)) * (0.5 - c) - 0.5 - c;
      }
    }
  }

  // Hard sync: restart where the master's wrap puts this oscillator, and cross-fade to the new
  // wave by how far inside the sample the wrap fell.
  if (bSync) {
    const double q = phase_.Sync(dSyncIn, dt, dPhaseIn);
    dCtl = SyncBlend(dSyncIn, dCtl, NaiveWave(kShape == kUnknownWave ? KwSawtooth : kShape, q, dDuty, dHalfDuty_));
  }
  phase_.Settle();

  // Shaping: the magnitude raised to Power, the sign kept (0 stays 0, also for Power <= 0).
  const double dPower = Pull(pvarPower_, v.dPower);
  if (dPower != 1 && dCtl != 0) dCtl = std::copysign(std::pow(std::fabs(dCtl), dPower), dCtl);

  const double dAmpAdj = dK * derived_.dBass;
  const double dAudio = (dCtl + dDC) * dAmpAdj;
  v.dControl = dCtl;
  v.dAudio = dAudio;
  v.dOutput = bLfo_ ? dCtl : dAudio;
  v.dPositive = (dCtl + 1) * 0.5;
  v.dAudioAmpAdj = dAmpAdj;
  v.dDCOffset = dDC;
  v.dPhaseOut = phase_.dPhase;
}

// ---------------------------------------------------------------------------------------------
// Oscillators of several voices together.

int ModOscillator::LaneShape() {
  // Only the frequency may vary: the computation pulls nothing else, so nothing it reads changes
  // when the other voices' frequencies are pulled in between.
  if (pvarBypass_ || v.dBypass != 0 || pvarWaveform_ || pvarSyncIn_ || v.dSyncIn != -1 || pvarPhaseIn_ ||
      pvarPower_ || v.dPower != 1)
    return -1;
  lane_.dPhaseIn = v.dPhaseIn;
  lane_.dOutputSign = bLfo_ ? -1 : 1;
  if (iWave_ == KwSawtooth) return KwSawtooth;
  if (iWave_ != KwSine || pvarDuty_) return -1;
  // The lanes multiply by the divisors' inverses: a duty whose halves need a true quotient goes alone.
  SineDivisors(derived_.dDuty);
  lane_.dRiseInverse = sineRise_.dInverse;
  lane_.dFallInverse = sineFall_.dInverse;
  return sineRise_.bProduct && sineFall_.bProduct ? KwSine : -1;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// Four consecutive doubles of each of four oscillators, from field on, as four vectors of one
// double each, and back.
#define OSC_LOAD(field, av) LoadColumns(&p0->field, &p1->field, &p2->field, &p3->field, av)
#define OSC_STORE(field, av) StoreColumns(&p0->field, &p1->field, &p2->field, &p3->field, av)

// RunAt<kShape> of four oscillators in the plain case (LaneShape), step by step the same
// operations: OscPhase::Advance without sync, the wave, Settle, the outputs without shaping.
template <int kShape>
VAN_TARGET_FUSED void ModOscillator::RunLanes(ModOscillator* const apmod[4], const double adFreq[4]) {
  using namespace osclanes;
  static_assert(sizeof(OscPhase) == 4 * sizeof(double) && offsetof(OscPhase, dSinceSync) == 3 * sizeof(double));
  static_assert(sizeof(Derived) == 4 * sizeof(double) && offsetof(Derived, dSamplesPerCycle) == 3 * sizeof(double));
  static_assert(sizeof(LaneConstants) == 4 * sizeof(double));
  static_assert(offsetof(OscillatorVars, dAudioAmpAdj) == offsetof(OscillatorVars, dOutput) + 7 * sizeof(double));
  // In locals, so that the stores below need not read the array again.
  ModOscillator *const p0 = apmod[0], *const p1 = apmod[1], *const p2 = apmod[2], *const p3 = apmod[3];
  const Vec zero = _mm256_setzero_pd(), one = Set(1), half = Set(0.5);
  Vec aState[4], aDerived[4], aConstant[4];
  OSC_LOAD(phase_.dPhase, aState);
  OSC_LOAD(derived_.dDuty, aDerived);
  OSC_LOAD(lane_.dPhaseIn, aConstant);
  const auto& [dPhaseOld, dLastTime, dPrevWave, dSinceOld] = aState;
  const auto& [dDuty, dBass, dt, L] = aDerived;
  const auto& [dPhaseIn, dRiseInverse, dFallInverse, dOutputSign] = aConstant;
  const Vec dClock = _mm256_set_pd(*p3->pclock, *p2->pclock, *p1->pclock, *p0->pclock);
  const Vec dFreq = _mm256_loadu_pd(adFreq);

  // The phase advance and the wrap announcements.
  const Vec dStart = Select(Eq(dLastTime, Set(-1)), dLastTime, zero);
  const Vec dPhase = FracSigned(Add(Mul(Sub(dClock, dStart), dFreq), dPhaseOld));
  Vec p = FracSigned(Add(dPhase, dPhaseIn));
  Vec dSince = Select(Lt(dSinceOld, Set(3)), dSinceOld, Add(dSinceOld, one));
  const Vec bWrapped = And(Gt(dPrevWave, p), Ge(dSince, Set(3)));
  const Vec bEarly = AndNot(bWrapped, Lt(Sub(one, p), Mul(dt, half)));
  Vec dSyncOut = Select(bEarly, Set(-1), Div(Sub(p, one), dt));
  dSyncOut = Select(bWrapped, dSyncOut, Select(Ne(dt, zero), zero, Div(p, dt)));
  dSince = Select(bEarly, dSince, zero);
  p = Select(Lt(p, zero), p, Add(p, one));
  p = Select(And(Ge(p, zero), Le(p, one)), zero, p);

  // The wave.
  Vec dCtl;
  double dK;
  if constexpr (kShape == KwSawtooth) {
    dK = kHalfPi;
    dCtl = Sub(one, Mul(Set(2), p));
    // The band-limited ramps at the wrap, for a rising phase.
    const Vec bRising = Gt(dFreq, zero);
    if (Any(bRising)) {
      const Vec a = Mul(L, p), b = Mul(Sub(one, p), L);
      const Vec dSlope = Sub(Set(2), Mul(Set(4), p));
      const Vec dAfter = Mul(a, Add(dSlope, Div(Mul(Set(2), Sub(half, a)), L)));
      const Vec dBefore = Mul(b, Sub(dSlope, Div(Mul(Set(2), Sub(half, b)), L)));
      const Vec bAfter = Lt(a, half);
      dCtl = Select(And(bRising, AndNot(bAfter, Lt(b, half))), dCtl, dBefore);
      dCtl = Select(And(bRising, bAfter), dCtl, dAfter);
    }
  } else {
    static_assert(kShape == KwSine);
    dK = 1;
    const Vec dRise = Mul(Mul(half, p), dRiseInverse);
    const Vec dFall = Add(half, Mul(Mul(half, Sub(p, dDuty)), dFallInverse));
    dCtl = TableSin(Select(Lt(p, dDuty), dFall, dRise));
  }

  const Vec dSettled = Select(Le(Abs(dPhase), Set(DBL_MAX)), zero, dPhase);
  const Vec dAmpAdj = Mul(Set(dK), dBass);
  const Vec dAudio = Mul(Add(dCtl, zero), dAmpAdj);
  const Vec aNewState[4] = {dSettled, dClock, p, dSince};
  OSC_STORE(phase_.dPhase, aNewState);
  // The outputs from Output to AudioAmpAdj, as OscillatorVars lays them out; "LFO" puts the raw
  // wave on Output, "Osc" the audio.
  const Vec aOut[4] = {Select(dOutputSign, dAudio, dCtl), dCtl, dAudio, Mul(Add(dCtl, one), half)};
  const Vec aOutMore[4] = {dSyncOut, dSettled, zero, dAmpAdj};
  OSC_STORE(v.dOutput, aOut);
  OSC_STORE(v.dSyncOut, aOutMore);
}

#undef OSC_LOAD
#undef OSC_STORE
#else
// Without x86 vectors (where VanFusedUsable() is false anyway) each goes alone.
template <int kShape>
void ModOscillator::RunLanes(ModOscillator* const apmod[4], const double adFreq[4]) {
  for (int k = 0; k < 4; ++k) apmod[k]->RunAt<kShape>(adFreq[k]);
}
#endif

template <int kShape>
void ModOscillator::RunGroup(ModOscillator* const apmod[], const double adFreq[], int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) RunLanes<kShape>(apmod + i, adFreq + i);
  for (; i < n; ++i) apmod[i]->RunAt<kShape>(adFreq[i]);
}

void ModOscillator::CalcAcross(Module* const* apmodIn, int n) {
  // Each oscillator's frequency in turn, as its Calc would pull it first; the plain ones are then
  // computed by shape, the others at once, alone.
  constexpr int kMost = ModuleType::kCalcAcrossMost;
  struct Group {
    ModOscillator* apmod[kMost];
    double adFreq[kMost];
    int n = 0;
  } saws, sines;
  const bool bLanes = VanFusedUsable();
  for (int i = 0; i < n && i < kMost; ++i) {
    auto* pmod = static_cast<ModOscillator*>(apmodIn[i]);
    if (!pmod->ClockMoved()) continue;
    const int iShape = bLanes ? pmod->iLaneShape_ : -1;
    if (iShape < 0) {
      pmod->Compute();
      continue;
    }
    Group& group = iShape == KwSine ? sines : saws;
    group.adFreq[group.n] = pmod->PullFrequency();
    group.apmod[group.n++] = pmod;
  }
  RunGroup<KwSawtooth>(saws.apmod, saws.adFreq, saws.n);
  RunGroup<KwSine>(sines.apmod, sines.adFreq, sines.n);
}

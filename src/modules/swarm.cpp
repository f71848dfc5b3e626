// The module kind "Swarm": oscillator set-up from the shape formulas, the event queue of
// discontinuities, and the running sum that they correct at their sub-sample positions.
//
// The sum of all oscillators is one running value. Every sample it moves by a common slope (the
// sawtooths' fall, the triangles' summed rise and fall); each oscillator adds to it only at its
// own discontinuities, which wait in a circular queue sorted by time. A jump that falls inside a
// sample is split between that sample and the next by where it fell, which band-limits it.
#include "modules/modulehelp.h"
#include "modules/swarm.h"

#include <algorithm>
#include <cmath>

#include "enginecore/settings.h"
#include "formula/errorlist.h"
#include "modules/oscphase.h"

namespace {

#define SWARM_IN(name, kind, cap, def) VarIn(#name, kind, VAR_OFFSET(SwarmVars, d##name), cap, 0, def)
#define SWARM_OUT(name) VarOut(#name, FormTypeNumeric, VAR_OFFSET(SwarmVars, d##name), 0, 0)
// Set-up values: plain fields, read by the shape formulas, never computed by Calc.
#define SWARM_SETUP(name) VarOut(#name, FormTypeNumeric, VAR_OFFSET(SwarmVars, d##name), ClassPerPatch, 0, nullptr)

Var avarSwarmInputs[] = {
    SWARM_IN(Waveform, FormTypeKeyword, ClassPerPatch, "Sawtooth"),
    SWARM_IN(Count, FormTypeNumeric, ClassPerPatch, "7"),
    SWARM_IN(Frequency, FormTypeNumeric, 0, "Pitch"),
    SWARM_IN(Detune, FormTypeNumeric, 0, "2 cents"),
    SWARM_IN(Bypass, FormTypeBoolean, 0, "false"),
    SWARM_IN(GainShape, FormTypeNumeric, ClassPerPatch, "0 dB"),
    SWARM_IN(DetuneShape, FormTypeNumeric, ClassPerPatch, "Wave * Wave * IF( Wave \\ 2, 1, -1 ) + Sqrt(2)/10"),
    SWARM_IN(GainAdjust, FormTypeNumeric, ClassPerPatch, "SelectN( Count, 0, .3, .5, .75, sqrt( Count+5 )/3)"),
    VarEnd};
Var avarSwarmOutputs[] = {SWARM_OUT(Output),    SWARM_OUT(Control),  SWARM_OUT(SyncOut),
                          SWARM_SETUP(Wave),    SWARM_SETUP(Side),   SWARM_SETUP(SideWave),
                          SWARM_SETUP(DetuneAmt), VarEnd};

#undef SWARM_IN
#undef SWARM_OUT
#undef SWARM_SETUP

const VarHelp ahelpSwarm[] = {
    {"Waveform", "keyword, per patch: Sawtooth, Square or Triangle"},
    {"Count", "per patch: the number of oscillators, 1..10000"},
    {"Frequency", ModHelp::kFrequencyPitch},
    {"Detune", "ratio: the spread of the oscillators' pitches, e.g. 2..30 cents"},
    {"Bypass", ModHelp::kBypassSilences},
    {"GainShape",
     "per patch: the gain of oscillator Wave (a formula of Wave and DetuneAmt); the gains are scaled to sum 1"},
    {"DetuneShape",
     "per patch: where oscillator Wave sits in the spread (a formula of Wave, Side, SideWave); scaled into -1..1"},
    {"GainAdjust", "per patch: the output level correction for Count oscillators"},
    {"Output", "audio: the sum of the oscillators"},
    {"Control", "the running sum before the level correction"},
    {"SyncOut", "where the first oscillator wrapped, as an oscillator's SyncOut"},
    {"Wave", "the oscillator number the shape formulas are computed for, 0..Count-1"},
    {"Side", "1 for an even oscillator number, 0 for an odd one (read by DetuneShape)"},
    {"SideWave", "(Wave + 1) div 2: the oscillator's place counted outward on its side (read by DetuneShape)"},
    {"DetuneAmt", "the oscillator's normalised detune, -1..1 (read by GainShape)"},
    {}};
ModuleTypeTmpl<ModSwarm> typeSwarm("Swarm", avarSwarmInputs, avarSwarmOutputs,
                                   AttrRegistered | AttrBypassSilences | AttrDrawsRandom, nullptr, OrderSwarm,
                                   ahelpSwarm);

// Starts as the smallest positive normal double, so that the first computation sets the
// frequency-dependent values (no real frequency equals it).
constexpr double kNoFrequency = 2.2250738585072014e-308;
// The draw's scale: 1/32767, so that 15 random bits reach both 0 and 1.
constexpr double kRandomScale = 3.051850947599719e-05;

int LineOf(Module* pmod, const char* pszVar) {
  const Var* pvar = pmod->FindVar(pszVar);
  return pvar ? pvar->iLine : -1;
}

}  // namespace

ModSwarm::ModSwarm(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_,
                   int iLevel_, Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_), iWave_(KwSawtooth), dLastFreq_(kNoFrequency) {
  pvVars = &v;
  // The defaults of the tables, for variables that end without a formula.
  v.dWaveform = KwSawtooth;
  v.dCount = 7;
  v.dDetune = std::exp2(2.0 / 1200);  // 2 cents
  v.dGainShape = 1;                   // 0 dB
  v.dGainAdjust = 1;
}

int ModSwarm::Init() {
  bBuilt_ = false;
  if (const InterpreterSettings* pengine = TheEngine()) {
    dFreqEval_ = pengine->dFreqEval;
    dFreqFullBass_ = pengine->dFreqFullBass;
  }

  // The waveform and the count are fixed for the life of the module.
  const Var* pvarWaveform = GetVar("Waveform");
  const double dWave = v.dWaveform;
  const int iWave = dWave == std::trunc(dWave) && std::fabs(dWave) < 1e9 ? static_cast<int>(dWave) : -1;
  if (pvarWaveform || !(iWave == KwSawtooth || iWave == KwSquare || iWave == KwTriangle)) {
    ERRADD(LineOf(this, "Waveform"), "Waveform must be Sawtooth or Square; assuming Sawtooth");
    iWave_ = KwSawtooth;
  } else {
    iWave_ = iWave;
  }
  const Var* pvarCount = GetVar("Count");
  const double dCount = v.dCount;
  if (pvarCount || !(dCount >= 1 && dCount <= kMaxCount) || dCount != std::trunc(dCount)) {
    ERRADD(LineOf(this, "Count"), "must be a constant int from 1 to 10000; assuming 7");
    nOsc_ = 7;
  } else {
    nOsc_ = static_cast<int>(dCount);
  }
  Var* pvarDetuneShape = GetVar("DetuneShape");
  Var* pvarGainShape = GetVar("GainShape");

  aosc_.assign(static_cast<size_t>(nOsc_), Osc{});
  aevent_.assign(static_cast<size_t>(nOsc_), Event{});

  // Detune shapes, normalised so that the widest is -1 or 1; oscillator 0 stays undetuned.
  double dShapeMax = 0;
  for (int i = 1; i < nOsc_; ++i) {
    v.dWave = i;
    v.dSide = i % 2 == 0 ? 1 : 0;
    v.dSideWave = (i + 1) / 2;
    if (pvarDetuneShape) FormVarRefresh(pvarDetuneShape);
    double d = v.dDetuneShape;
    if (!std::isfinite(d)) {
      ERRADD(LineOf(this, "DetuneShape"), "%s:DetuneShape is %g for oscillator %d; using 0", pszName, d, i);
      d = 0;
    }
    aosc_[static_cast<size_t>(i)].iNumber = i;
    aosc_[static_cast<size_t>(i)].dShape = d;
    dShapeMax = std::max(dShapeMax, std::fabs(d));
  }
  if (dShapeMax != 0)
    for (Osc& osc : aosc_) osc.dShape /= dShapeMax;

  // Gains, normalised to sum to 1.
  double dGainSum = 0;
  for (int i = 0; i < nOsc_; ++i) {
    Osc& osc = aosc_[static_cast<size_t>(i)];
    aevent_[static_cast<size_t>(i)].posc = &osc;
    v.dWave = i;
    v.dDetuneAmt = osc.dShape;
    if (pvarGainShape) FormVarRefresh(pvarGainShape);
    osc.dGain = v.dGainShape;
    dGainSum += osc.dGain;
  }
  if (dGainSum != 0 && std::isfinite(dGainSum)) {
    const double dScale = 1 / dGainSum;
    for (Osc& osc : aosc_) osc.dGain *= dScale;
  } else {
    // Shapes that cancel out (or are not numbers) have no scale to normalise by: equal gains.
    ERRADD(LineOf(this, "GainShape"), "%s:GainShape sums to %g; using equal gains", pszName, dGainSum);
    for (Osc& osc : aosc_) osc.dGain = 1.0 / nOsc_;
  }

  // Kept apart from the variable, which the voice may evaluate again after this set-up.
  const Var* pvarGainAdjust = GetVar("GainAdjust");
  dGainAdjust_ = v.dGainAdjust;
  if (pvarGainAdjust || !(dGainAdjust_ > 0 && dGainAdjust_ < 1000)) {
    ERRADD(LineOf(this, "GainAdjust"), "GainAdjust evaluate at patch load to a constant >0 and <1000; assuming 1");
    dGainAdjust_ = 1;
  }

  pvarBypass_ = GetVar("Bypass");
  pvarDetune_ = GetVar("Detune");
  pvarFrequency_ = GetVar("Frequency");
  bBuilt_ = true;
  return 0;
}

double ModSwarm::Random() {
  uint32_t* pu = puRandom ? puRandom : &uRandomOwn_;
  *pu = *pu * 214013u + 2531011u;
  return ((*pu >> 16) & 0x7FFF) * kRandomScale;
}

double ModSwarm::DetuneNow() {
  const double d = Pull(pvarDetune_, v.dDetune);
  return d >= 1 && std::isfinite(d) ? d : 1;  // below 1 would swap the sides; not finite has no period
}

void ModSwarm::NoteStart() {
  if (pvarDetune_) FormVarRefresh(pvarDetune_);
  const double dDetune = DetuneNow();

  ForgetClock();
  dLastFreq_ = kNoFrequency;
  dTau_ = 0;
  iCurrent_ = 0;
  dPending_ = 0;
  dSum_ = 0;
  dTriSlope_ = 0;

  // A random phase r for every oscillator: the running sum starts at the waves' values there,
  // and each first event is where its wave next jumps or turns.
  for (int i = 0; i < nOsc_; ++i) {
    Osc& osc = aosc_[static_cast<size_t>(i)];
    const double r = Random();
    const double m = std::pow(dDetune, osc.dShape);
    const double g = osc.dGain;
    osc.dPeriod = m;
    osc.dJump = g * m;
    double dFirst;
    if (iWave_ == KwSawtooth) {
      dSum_ += (1 - 2 * r) * osc.dJump;
      dFirst = (1 - r) * m;
    } else {
      double r2 = 2 * r;
      const bool bFirstHalf = r2 < 1;  // square high, triangle falling
      if (bFirstHalf) osc.dJump = -osc.dJump;
      else r2 -= 1;
      if (iWave_ == KwSquare) {
        dSum_ -= osc.dJump;
      } else if (bFirstHalf) {
        dSum_ += (1 - 2 * r2) * g;
        dTriSlope_ -= 4 * g;
      } else {
        dSum_ += (2 * r2 - 1) * g;
        dTriSlope_ += 4 * g;
      }
      dFirst = (1 - r2) * m / 2;
    }
    aevent_[static_cast<size_t>(i)] = Event{dFirst, &osc};
  }
  // Ties (equal times) are kept in oscillator order, so that a note start is reproducible. A NaN
  // time (from a NaN Detune) sorts last, as an event that never comes: compared raw it would
  // break the ordering the sort relies on, and the sort could write outside the queue.
  auto key = [](double d) { return std::isnan(d) ? HUGE_VAL : d; };
  std::sort(aevent_.begin(), aevent_.end(), [&key](const Event& a, const Event& b) {
    double ta = key(a.dTime), tb = key(b.dTime);
    return ta < tb || (ta == tb && a.posc < b.posc);
  });
}

template <int iWave>
void ModSwarm::RunEvents() {
  Event* aev = aevent_.data();
  const int n = nOsc_;
  const double dTau = dTau_;
  const double dt = dt_;
  double dSum = dSum_, dPending = dPending_, dTriSlope = dTriSlope_;
  int iCur = iCurrent_;
  // A constant Detune leaves every period as the note start made it: no power to take.
  const bool bDetuneVaries = pvarDetune_ != nullptr;
  double dDetune = 0;
  bool bDetune = false;
  // A bound on the events of one sample, far above what any playable setting needs (each
  // oscillator wraps at most a few times per sample below the Nyquist frequency), so that an
  // absurd Frequency or Detune costs time but cannot hang the audio thread. Events left over are
  // late, not lost: they land whole in the sample that reaches them.
  long nBudget = 16L * n + 64;
  while (aev[iCur].dTime <= dTau && nBudget-- > 0) {
    if (bDetuneVaries && !bDetune) {
      dDetune = DetuneNow();
      bDetune = true;
    }
    const double t = aev[iCur].dTime;
    Osc& osc = *aev[iCur].posc;
    if (osc.iNumber == 0) v.dSyncOut = 1;
    const double m = bDetuneVaries ? std::pow(dDetune, osc.dShape) : osc.dPeriod;
    const double g = osc.dGain;
    const double dOld = osc.dJump;
    const double dAfter = std::min(dTau - t, dt);  // base cycles of this sample after the event
    const double f = dt > 0 ? dAfter / dt : 0;     // the part of the sample after the event
    double dNew = g * m;
    double dNext;
    if constexpr (iWave == KwSawtooth) {
      const double dTotal = dOld + dNew;
      dSum += f * dTotal;
      dPending += (1 - f) * dTotal;
      dNext = t + m;
    } else if constexpr (iWave == KwSquare) {
      if (dOld >= 0) dNew = -dNew;  // the sign alternates each half period
      const double dDiff = dOld - dNew;
      dSum += f * dDiff;
      dPending += (1 - f) * dDiff;
      dNext = t + m / 2;
    } else {
      if (dOld >= 0) dNew = -dNew;
      dSum -= 4 * dAfter * (dOld - dNew);  // re-do the part after the turn in the new direction
      dNext = t + (osc.dPeriod + m) / 4;
      dTriSlope += dNew >= 0 ? 8 * g : -8 * g;
    }
    osc.dJump = dNew;
    osc.dPeriod = m;

    // Re-queue behind the later events: the freed slot is the last of the circle once the
    // current index moves on, so later entries shift forward into it. An equal time goes first.
    int j = iCur;
    for (int nMoved = 0; nMoved < n - 1; ++nMoved) {
      const int jPrev = j == 0 ? n - 1 : j - 1;
      if (dNext > aev[jPrev].dTime) break;
      aev[j] = aev[jPrev];
      j = jPrev;
    }
    aev[j] = Event{dNext, &osc};
    iCur = iCur + 1 == n ? 0 : iCur + 1;
  }
  dSum_ = dSum;
  dPending_ = dPending;
  iCurrent_ = iCur;
  if constexpr (iWave == KwTriangle) {
    dTriSlope_ = dTriSlope;
    dSlope_ = dTriSlope * dt;
  }
}

void ModSwarm::Calc() {
  if (!ClockMoved()) return;

  // Bypassed (or still being built): silent, and the running state stands still.
  if (!bBuilt_ || Pull(pvarBypass_, v.dBypass) != 0) {
    v.dOutput = 0;
    return;
  }

  v.dSyncOut = 0;
  const double dFreq = Pull(pvarFrequency_, v.dFrequency);
  if (dFreq != dLastFreq_) {
    dLastFreq_ = dFreq;
    // Time runs forward at |Frequency|: a swarm running backwards would never meet its events
    // while the slope drove the sum away. A frequency that is not finite stops the time.
    dt_ = std::isfinite(dFreq) ? std::fabs(dFreq) / dFreqEval_ : 0;
    dSlope_ = iWave_ == KwSawtooth ? -2 * dt_ : iWave_ == KwSquare ? 0 : dTriSlope_ * dt_;
    dOutGain_ = dGainAdjust_ * BassFactor(dFreq, dFreqFullBass_);
  }

  dTau_ += dt_;
  dSum_ += dPending_ + dSlope_;
  dPending_ = 0;
  if (nOsc_ > 0) {
    if (iWave_ == KwSawtooth) RunEvents<KwSawtooth>();
    else if (iWave_ == KwSquare) RunEvents<KwSquare>();
    else RunEvents<KwTriangle>();
  }

  v.dControl = dSum_;
  v.dOutput = dOutGain_ * dSum_;
}

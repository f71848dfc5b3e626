// Phase bookkeeping shared by the oscillators that read a wave at a phase ("Osc", "LFO", "SWO",
// "LFSWO"): the phase advance by the clock, the wrap announcement of SyncOut, the hard-sync
// restart from SyncIn, and the bass factor.
#pragma once

#include <cfloat>
#include <cmath>

#include "modules/samevalue.h"

// The fractional part with the sign of its argument kept, as modf gives it. A phase is mostly
// below one cycle already, where x - trunc(x) is x + 0 (which turns -0 into 0): that path skips
// the slow conversion of trunc.
inline double FracSigned(double x) { return std::fabs(x) < 1 ? x + 0.0 : x - std::trunc(x); }

// A phase brought into 0..1: the fractional part, plus 1 when negative; a phase that is not
// finite (a PhaseIn or Frequency that was not) reads the wave at 0.
inline double WavePhase(double x) {
  double p = FracSigned(x);
  if (p < 0) p += 1;
  return p >= 0 && p <= 1 ? p : 0;
}

// The bass factor keeps the audio level of low notes: full below FreqFullBass, falling as
// 1/frequency above it, the same for negative frequencies. Frequency 0 (where the ratio has no
// value) and a frequency that is not finite keep full level.
inline double BassFactor(double dFreq, double dFullBass) {
  double dBass;
  if (dFreq == 0)
    dBass = 1;
  else if (dFreq > dFullBass)
    dBass = dFullBass / dFreq;
  else if (dFreq > -dFullBass)
    dBass = 1;
  else
    dBass = -(dFullBass / dFreq);
  return std::isfinite(dBass) ? dBass : 1;
}

// Hard sync cross-fade: the wave restarted at the master's wrap (dNew) replaces the running one
// (dOld) by how far inside the sample the wrap fell; SyncIn is -0.5..1 samples.
inline double SyncBlend(double dSyncIn, double dOld, double dNew) {
  return dSyncIn < 0.5 ? (dSyncIn + 0.5) * dNew + (0.5 - dSyncIn) * dOld : dNew;
}

// The running phase of one oscillator and its wrap announcements, four doubles that four
// oscillators load as four vectors.
struct OscPhase {
  double dPhase = 0;           // cycles, a fraction that keeps its sign (PhaseOut)
  double dLastTime = -1;       // clock of the last computation, -1 for never
  double dPrevWave = DBL_MAX;  // wave phase of the last computation
  double dSinceSync = 0;       // computations since a wrap was announced early (counts up to 3)

  void Reset() {
    dPhase = 0;
    dLastTime = -1;
    dPrevWave = DBL_MAX;
    dSinceSync = 0;
  }

  // Advances the phase by the time since the last computation (the whole note time at first) at
  // dFreq Hz, and answers the wave phase (phase + PhaseIn) in 0..1. *pdSyncOut gets the wrap
  // announcement: on the sample after a wrap the samples since it, on the sample before a wrap
  // that is less than half a sample ahead minus the samples to it, otherwise -1; a wrap announced
  // early is not announced again on the sample where it happens. dt: cycles per sample.
  double Advance(double dClock, double dFreq, double dPhaseIn, double dt, double* pdSyncOut) {
    const double dStart = dLastTime == -1 ? 0 : dLastTime;
    dPhase = FracSigned((dClock - dStart) * dFreq + dPhase);
    dLastTime = dClock;
    double p = FracSigned(dPhase + dPhaseIn);
    if (dSinceSync < 3) ++dSinceSync;  // saturates: only "at least 3" matters
    if (dPrevWave > p && dSinceSync >= 3) {
      *pdSyncOut = dt != 0 ? p / dt : 0;  // at frequency 0 only PhaseIn wraps: call it this sample
    } else if (1 - p < dt * 0.5) {
      *pdSyncOut = (p - 1) / dt;
      dSinceSync = 0;
    } else {
      *pdSyncOut = -1;
    }
    if (p < 0) p += 1;
    if (!(p >= 0 && p <= 1)) p = 0;
    dPrevWave = p;
    return p;
  }

  // Hard sync from a master's SyncIn (not -1): the phase restarts where the master's wrap puts
  // it; answers the wave phase to read the restarted wave at. A wrap still ahead (SyncIn < 0)
  // leaves the phase just before it, so the wrap happens on the next sample.
  double Sync(double dSyncIn, double dt, double dPhaseIn) {
    dPhase = dSyncIn >= 0 ? dSyncIn * dt : 0;
    const double q = WavePhase(dPhase + dPhaseIn);
    if (dSyncIn < 0) dPhase = dSyncIn * dt + 1;
    return q;
  }

  // A frequency or sync input that was not finite must not stick in the phase.
  void Settle() {
    if (!std::isfinite(dPhase)) dPhase = 0;
  }
};

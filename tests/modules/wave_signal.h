// Measurements for the swarm and wavetable tests: formula numbers, the error list's entries with
// their lines, sine and cosine coefficients, windowed tone amplitudes, the patch's generator.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "errorlist.h"
#include "osc_signal.h"

// A number as a formula writes it, exactly.
inline std::string Num(double d) {
  char sz[64];
  snprintf(sz, sizeof sz, "%.17g", d);
  return sz;
}

// The patch line of the error list's entry with this text (or, with bPrefix, starting with it),
// or -2 when there is none.
inline int ErrorLine(const std::string& sText, bool bPrefix = false) {
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  int iLine = -2;
  for (int i = 0; i < plist->anode.N(); ++i) {
    const std::string s = plist->anode[i].psz;
    if (bPrefix ? s.rfind(sText, 0) == 0 : s == sText) iLine = plist->anode[i].iLine;
  }
  plist->Unlock();
  return iLine;
}

inline int ErrorCount() {
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  const int n = plist->anode.N();
  plist->Unlock();
  return n;
}

// The coefficients of sin and cos of the tone at dFreq: for a signal holding a whole number of
// its periods, x = b sin(2 pi f t) + a cos(2 pi f t) + (other harmonics) gives {b, a}.
struct SinCos {
  double dSin, dCos;
};
inline SinCos ToneCoefficients(const std::vector<double>& ad, double dFreq, double dRate) {
  double dSin = 0, dCos = 0;
  const double dStep = 2 * kPi * dFreq / dRate;
  for (size_t i = 0; i < ad.size(); ++i) {
    dSin += ad[i] * std::sin(dStep * static_cast<double>(i));
    dCos += ad[i] * std::cos(dStep * static_cast<double>(i));
  }
  const double dScale = 2.0 / static_cast<double>(ad.size());
  return {dSin * dScale, dCos * dScale};
}

// The amplitude of the sinusoid at dFreq under a Hann window, for tones that do not fit the
// signal's length a whole number of times; neighbours some bins away leak little into it.
inline double WindowedAmplitude(const std::vector<double>& ad, double dFreq, double dRate) {
  std::complex<double> sum = 0;
  double dWeight = 0;
  const double dStep = 2 * kPi * dFreq / dRate;
  const double n = static_cast<double>(ad.size());
  for (size_t i = 0; i < ad.size(); ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / n);
    sum += w * ad[i] * std::polar(1.0, -dStep * static_cast<double>(i));
    dWeight += w;
  }
  return 2 * std::abs(sum) / dWeight;
}

// One draw in 0..1 of a patch's random generator, x = x * 214013 + 2531011, 15 bits of it.
inline double PatchDraw(uint32_t* px) {
  *px = *px * 214013u + 2531011u;
  return static_cast<double>((*px >> 16) & 0x7FFF) / 32767.0;
}

// The generator's state after n draws from x.
inline uint32_t AfterDraws(uint32_t x, int n) {
  for (int i = 0; i < n; ++i) PatchDraw(&x);
  return x;
}

// Signal measurements for the oscillator group's tests: frequency by zero crossings, one DFT bin,
// power spectra by averaged FFTs, error-list texts, and a fixture that prepares the sine table.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "errorlist.h"
#include "vanmath.h"

constexpr double kPi = std::numbers::pi;

// Tests of modules that read the sine table.
class SineTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { VanMathInitTables(); }
};

// Frequency in Hz from the rising zero crossings of a signal (crossing instants interpolated
// linearly between samples), averaged over every whole period seen; 0 with fewer than two.
inline double CrossingFrequency(const std::vector<double>& ad, double dRate) {
  double dFirst = -1, dLast = -1;
  int nCross = 0;
  for (size_t i = 1; i < ad.size(); ++i) {
    if (!(ad[i - 1] < 0 && ad[i] >= 0)) continue;
    double dAt = static_cast<double>(i - 1) + ad[i - 1] / (ad[i - 1] - ad[i]);
    if (nCross == 0) dFirst = dAt;
    dLast = dAt;
    ++nCross;
  }
  return nCross < 2 ? 0 : dRate * (nCross - 1) / (dLast - dFirst);
}

// The amplitude of the sinusoid at dFreq in the signal (a single DFT bin, scaled so that a sine of
// amplitude A reads A when the signal holds a whole number of its periods).
inline double ToneAmplitude(const std::vector<double>& ad, double dFreq, double dRate) {
  std::complex<double> sum = 0;
  const double dStep = 2 * kPi * dFreq / dRate;
  for (size_t i = 0; i < ad.size(); ++i) sum += ad[i] * std::polar(1.0, -dStep * static_cast<double>(i));
  return 2 * std::abs(sum) / static_cast<double>(ad.size());
}

inline double MeanSquare(const std::vector<double>& ad) {
  double d = 0;
  for (double x : ad) d += x * x;
  return d / static_cast<double>(ad.size());
}

inline double Mean(const std::vector<double>& ad) {
  double d = 0;
  for (double x : ad) d += x;
  return d / static_cast<double>(ad.size());
}

// In-place radix-2 FFT; the size must be a power of two.
inline void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * kPi / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1;
      for (size_t k = 0; k < len / 2; ++k) {
        std::complex<double> u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

// The power spectrum averaged over consecutive segments of nSize samples (rectangular window):
// entry k is E|X_k|^2 / nSize, which for a stationary signal approaches its power spectral
// density at k * rate / nSize (per unit of normalised frequency, two-sided). Entries 0..nSize/2.
inline std::vector<double> AveragedSpectrum(const std::vector<double>& ad, size_t nSize) {
  std::vector<double> adPower(nSize / 2 + 1, 0.0);
  size_t nSegments = ad.size() / nSize;
  std::vector<std::complex<double>> a(nSize);
  for (size_t s = 0; s < nSegments; ++s) {
    for (size_t i = 0; i < nSize; ++i) a[i] = ad[s * nSize + i];
    Fft(a);
    for (size_t k = 0; k <= nSize / 2; ++k) adPower[k] += std::norm(a[k]) / static_cast<double>(nSize);
  }
  for (double& d : adPower) d /= static_cast<double>(nSegments);
  return adPower;
}

// The mean of a spectrum's entries whose frequency lies in [dLow, dHigh) Hz.
inline double BandMean(const std::vector<double>& adPower, size_t nSize, double dRate, double dLow, double dHigh) {
  double d = 0;
  int n = 0;
  for (size_t k = 1; k < adPower.size(); ++k) {
    double f = static_cast<double>(k) * dRate / static_cast<double>(nSize);
    if (f < dLow || f >= dHigh) continue;
    d += adPower[k];
    ++n;
  }
  return n ? d / n : 0;
}

inline double Db(double dPowerRatio) { return 10 * std::log10(dPowerRatio); }

// The error list's messages with their counts, as "text xN".
inline std::vector<std::string> ErrorTexts() {
  std::vector<std::string> as;
  ErrorList* plist = ErrorList::Get();
  plist->Lock();
  for (int i = 0; i < plist->anode.N(); ++i)
    as.push_back(std::string(plist->anode[i].psz) + " x" + std::to_string(plist->anode[i].iCount));
  plist->Unlock();
  return as;
}

// Signal measurements for the oscillator group's tests: power spectra by averaged FFTs, error-list
// texts, and a fixture that prepares the sine table (tone amplitudes and crossings: test_signal.h).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "error_support.h"
#include "formula/vanmath.h"
#include "test_signal.h"

constexpr double kPi = std::numbers::pi;

// Tests of modules that read the sine table.
class SineTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { VanMathInitTables(); }
};

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

// Signal measurements shared by the tests and benchmarks: a tone's amplitude, a response's
// transform at one frequency, frequency by zero crossings, and decibels of amplitude and of power
// ratios.
#pragma once

#include <complex>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

// The amplitude of the sinusoid at dFreq in the signal: one DFT bin, scaled so that a sine of
// amplitude A reads A when the signal holds a whole number of its periods.
inline double BinAmplitude(const std::vector<double>& ad, double dFreq, double dRate) {
  std::complex<double> sum = 0;
  const double dStep = 2 * std::numbers::pi * dFreq / dRate;
  for (size_t i = 0; i < ad.size(); ++i) sum += ad[i] * std::polar(1.0, -dStep * static_cast<double>(i));
  return 2 * std::abs(sum) / static_cast<double>(ad.size());
}

// The amplitude of the sinusoid at dFreq in the stretch [iFrom, end) under a Hann window, for
// tones that do not fit the stretch a whole number of times; neighbours some bins away leak
// little into it.
inline double HannAmplitude(const std::vector<double>& ad, double dFreq, double dRate, size_t iFrom = 0) {
  std::complex<double> sum = 0;
  double dWeight = 0;
  const double dStep = 2 * std::numbers::pi * dFreq / dRate;
  const double n = static_cast<double>(ad.size() - iFrom);
  for (size_t i = 0; i + iFrom < ad.size(); ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / n);
    sum += w * ad[iFrom + i] * std::polar(1.0, -dStep * static_cast<double>(i));
    dWeight += w;
  }
  return 2 * std::abs(sum) / dWeight;
}

// The discrete-time Fourier transform of the stretch [iFrom, end) at dFreq Hz, as a filter's
// impulse response gives its complex gain at that frequency.
inline std::complex<double> Dtft(const std::vector<double>& ad, double dFreq, double dRate, size_t iFrom = 0) {
  const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi * dFreq / dRate);
  std::complex<double> z = 1, sum = 0;
  for (size_t i = iFrom; i < ad.size(); ++i) {
    sum += ad[i] * z;
    z *= step;
  }
  return sum;
}

// The coefficients of sin and cos of the tone at dFreq: for a signal holding a whole number of
// its periods, x = b sin(2 pi f t) + a cos(2 pi f t) + (other harmonics) gives {b, a}.
struct SinCos {
  double dSin, dCos;
};
inline SinCos ToneCoefficients(const std::vector<double>& ad, double dFreq, double dRate) {
  double dSin = 0, dCos = 0;
  const double dStep = 2 * std::numbers::pi * dFreq / dRate;
  for (size_t i = 0; i < ad.size(); ++i) {
    dSin += ad[i] * std::sin(dStep * static_cast<double>(i));
    dCos += ad[i] * std::cos(dStep * static_cast<double>(i));
  }
  const double dScale = 2.0 / static_cast<double>(ad.size());
  return {dSin * dScale, dCos * dScale};
}

// Frequency in Hz from the rising zero crossings of the samples [iFrom, iTo) of a signal read by
// at(i) (crossing instants interpolated linearly between samples), averaged over every whole
// period seen; 0 with fewer than two crossings.
template <class At>
double CrossingFrequencyOf(At at, long iFrom, long iTo, double dRate) {
  double dFirst = -1, dLast = -1;
  int nCross = 0;
  for (long i = iFrom > 1 ? iFrom : 1; i < iTo; ++i) {
    const double x0 = at(i - 1), x1 = at(i);
    if (!(x0 < 0 && x1 >= 0)) continue;
    double dAt = static_cast<double>(i - 1) + x0 / (x0 - x1);
    if (nCross == 0) dFirst = dAt;
    dLast = dAt;
    ++nCross;
  }
  return nCross < 2 ? 0 : dRate * (nCross - 1) / (dLast - dFirst);
}

// The same over the stretch [iFrom, end) of a signal held in a vector.
inline double CrossingFrequency(const std::vector<double>& ad, double dRate, size_t iFrom = 0) {
  return CrossingFrequencyOf([&](long i) { return ad[static_cast<size_t>(i)]; }, static_cast<long>(iFrom),
                             static_cast<long>(ad.size()), dRate);
}

// Decibels of an amplitude (gain) ratio and of a power ratio.
inline double AmplitudeDb(double dGain) { return 20 * std::log10(dGain); }
inline double PowerDb(double dPowerRatio) { return 10 * std::log10(dPowerRatio); }

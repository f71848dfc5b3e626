// The graph control's arithmetic: analysis, axes, Y range, info line and the graph's state.
#include "ide/ksgraphcore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char* const KSGraphNoData = "no data to graph";
const char* const KSGraphTooGreat = "Y data magnitude too great";
const char* const KSGraphTooMuchData = "too much data to do harmonic analysis";

namespace {

const KSColor kacolorSeries[9] = {{0, 255, 0},    {255, 255, 0}, {255, 128, 0},   {255, 0, 0},    {128, 0, 255},
                                  {64, 64, 255}, {0, 255, 255}, {255, 255, 255}, {128, 128, 128}};

// The dB tick steps, finest first.
const double kadDBStep[] = {0.1, 0.125, 0.25, 0.5, 1, 3, 6, 12, 24};
constexpr int kMinTickPixels = 5;

std::string Format(const char* pszFormat, double d) {
  char sz[64];
  snprintf(sz, sizeof sz, pszFormat, d);
  return sz;
}

// Rounds outward to a multiple of a unit one decade below the span, so that labels stay short.
double RoundOutward(double d, double dSpan, bool bUp) {
  if (std::fabs(d) > KSGraphMaxMagnitude || !std::isfinite(d) || dSpan <= 0) return d;
  double dUnit = std::pow(10.0, std::floor(std::log10(dSpan)) - 1);
  double dUnits = d / dUnit;
  // A value a rounding error away from a multiple stays on it.
  double dNearest = std::round(dUnits);
  if (std::fabs(dUnits - dNearest) < 1e-9) return dNearest * dUnit;
  return (bUp ? std::ceil(dUnits) : std::floor(dUnits)) * dUnit;
}

}  // namespace

KSColor KSGraphSeriesColor(int iSeries) { return kacolorSeries[((iSeries % 9) + 9) % 9]; }

int KSGraphAnalyse(const double* ady, int n, double dRate, double dFreqFullBass, int iScale, double* adSpectrum,
                   double* pdF0, double* pdLargest) {
  *pdLargest = 0;
  *pdF0 = n > 0 ? dRate / n : 0;
  if (n > KSGraphMaxAnalysisPoints || n <= 0) return 0;
  double dF0 = *pdF0;
  double dHarmonics = dF0 > 0 ? std::floor(KSGraphFreqHigh / dF0 + 1) : 0;
  int nHarmonics = static_cast<int>(std::min({dHarmonics, double(KSGraphMaxHarmonics), double(n / 2)}));
  // sin and cos of 2 pi j k / n repeat every n steps of j k: one table serves every harmonic.
  std::vector<double> adSin(static_cast<size_t>(n)), adCos(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    adSin[static_cast<size_t>(k)] = std::sin(2 * M_PI * k / n);
    adCos[static_cast<size_t>(k)] = std::cos(2 * M_PI * k / n);
  }
  double dWeight = dFreqFullBass > 0 && dF0 >= dFreqFullBass ? dF0 / dFreqFullBass : 1;
  std::fill(adSpectrum, adSpectrum + KSGraphMaxHarmonics, 0.0);
  for (int j = 1; j < nHarmonics; ++j) {
    double dS = 0, dC = 0;
    long iPhase = 0;
    for (int k = 0; k < n; ++k) {
      dS += ady[k] * adSin[static_cast<size_t>(iPhase)];
      dC += ady[k] * adCos[static_cast<size_t>(iPhase)];
      iPhase += j;
      if (iPhase >= n) iPhase -= n;
    }
    double dA = 2 * std::sqrt(dS * dS + dC * dC) / n;
    double dP = j * dA * dWeight;
    double dValue = dA;
    if (iScale == KSGraphPower) dValue = dP;
    if (iScale == KSGraphDBPower) {
      dValue = dP > 0 ? 20 * std::log10(dP) : KSGraphDBFloor;
      if (!(dValue >= KSGraphDBFloor)) dValue = KSGraphDBFloor;
    }
    adSpectrum[j] = dValue;
    if (std::isfinite(dValue) && dValue > *pdLargest) *pdLargest = dValue;
  }
  return nHarmonics;
}

int KSGraphFreqX(int iLeft, int iRight, double dFreq) {
  return iLeft + static_cast<int>(std::log(dFreq / KSGraphFreqLow) * (iRight - iLeft) /
                                  std::log(KSGraphFreqHigh / KSGraphFreqLow));
}

std::string KSGraphFreqLabel(double dFreq) {
  if (dFreq < 50) return Format("%.1f", dFreq);
  if (dFreq < 10000) return Format("%.0f", dFreq);
  return Format("%.0fk", dFreq / 1000);
}

std::vector<KSAxisTick> KSGraphHarmonicTicks(int iLeft, int iRight, int nHarmonics, double dF0) {
  std::vector<KSAxisTick> atick;
  for (int h = 1; h < nHarmonics; h += 4) {
    int x = KSGraphHarmonicX(iLeft, h);
    if (x > iRight) break;
    KSAxisTick tick{x, std::to_string(h), "", (h - 1) % 8 == 0};
    if (tick.bMajor) tick.sLabel2 = KSGraphFreqLabel(h * dF0);
    atick.push_back(tick);
  }
  return atick;
}

std::vector<KSAxisTick> KSGraphFreqTicks(int iLeft, int iRight) {
  std::vector<KSAxisTick> atick;
  atick.push_back({KSGraphFreqX(iLeft, iRight, KSGraphFreqLow), Format("%.0f", KSGraphFreqLow), ""});
  int iOctave = 0;
  for (double f = 27.5; f <= 14080; f *= 2, ++iOctave) {
    std::string sLabel = f < 50 ? Format("%.1f", f) : f < 10000 ? Format("%.0f", f) : Format("%.0fk", f / 1000);
    atick.push_back({KSGraphFreqX(iLeft, iRight, f), sLabel, "A" + std::to_string(iOctave)});
  }
  atick.push_back({KSGraphFreqX(iLeft, iRight, KSGraphFreqHigh), Format("%.0fk", KSGraphFreqHigh / 1000), ""});
  return atick;
}

int KSGraphDecimals(double dStep) {
  for (int n = 0; n < 9; ++n) {
    double d = dStep * std::pow(10.0, n);
    if (std::fabs(d - std::round(d)) < 1e-9 * std::max(1.0, d)) return n;
  }
  return 9;
}

KSYAxis KSGraphDBAxis(double dLargest, int iDBRange, int iHeight) {
  // A range of nothing (a workspace edited by hand) would leave no axis: the default is shown.
  if (iDBRange <= 0) iDBRange = 48;
  double dBottom = -static_cast<double>(iDBRange);
  KSYAxis axis{dBottom, 0, kadDBStep[std::size(kadDBStep) - 1], 0};
  for (double dStep : kadDBStep) {
    double dTop = std::max(0.0, std::ceil(dLargest / dStep) * dStep);
    double dPixels = dTop > dBottom ? dStep * iHeight / (dTop - dBottom) : 0;
    axis = {dBottom, dTop, dStep, KSGraphDecimals(dStep)};
    if (dPixels >= kMinTickPixels) break;
  }
  return axis;
}

KSYAxis KSGraphLinearAxis(double dLargest) {
  if (!(dLargest > 0) || !std::isfinite(dLargest)) return {0, 1, 0.2, 1};
  double dDecade = std::pow(10.0, std::floor(std::log10(dLargest)));
  double dMantissa = dLargest / dDecade;
  // At most ten ticks: 2, 5 or 10 tenths of the value's decade.
  double dStep = (dMantissa <= 2 ? 2 : dMantissa <= 5 ? 5 : 10) * dDecade / 10;
  double dTop = std::ceil(dLargest / dStep - 1e-9) * dStep;
  return {0, dTop, dStep, KSGraphDecimals(dStep)};
}

std::vector<KSAxisTick> KSGraphYTicks(const KSYAxis& axis, int iHeight) {
  std::vector<KSAxisTick> atick;
  if (!(axis.dHigh > axis.dLow) || !(axis.dStep > 0)) return atick;
  long nSteps = std::lround((axis.dHigh - axis.dLow) / axis.dStep);
  for (long i = 0; i <= nSteps; ++i) {
    double d = axis.dLow + i * axis.dStep;
    int y = static_cast<int>(std::lround((axis.dHigh - d) * iHeight / (axis.dHigh - axis.dLow)));
    char sz[64];
    snprintf(sz, sizeof sz, "%.*f", axis.nDecimals, d);
    atick.push_back({y, sz, ""});
  }
  return atick;
}

void KSYRange::Widen(double dMin, double dMax) {
  if (std::isnan(dMin) || std::isnan(dMax) || dMin > dMax) return;
  double dSpan = dMax - dMin;
  // A flat line still gets a range around it.
  if (dSpan == 0) dSpan = dMax != 0 ? std::fabs(dMax) : 1;
  double dLow = dMin - 0.05 * dSpan, dHigh = dMax + 0.05 * dSpan;
  double dWide = std::isfinite(dHigh - dLow) ? dHigh - dLow : 0;
  dLow = RoundOutward(dLow, dWide, false);
  dHigh = RoundOutward(dHigh, dWide, true);
  if (!bSet) {
    bSet = true;
    this->dLow = dLow;
    this->dHigh = dHigh;
    return;
  }
  this->dLow = std::min(this->dLow, dLow);
  this->dHigh = std::max(this->dHigh, dHigh);
}

std::string KSGraphNoteName(int k) {
  static const char* const kapszPitchClass[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  if (k < 0) return "";
  return kapszPitchClass[k % 12] + std::to_string(k / 12 - 1);
}

std::string KSGraphInfoLine(int nPoints, double dFundamental, double dRate) {
  double f = dFundamental != 0 ? dFundamental : nPoints > 0 ? dRate / nPoints : 0;
  char sz[160];
  if (!(f > 0) || !std::isfinite(f)) {
    // Neither a hint nor a rate: no frequency to name.
    snprintf(sz, sizeof sz, "%d samples", nPoints);
    return sz;
  }
  double dNote = 12 * std::log2(f / 440) + 69;
  // Notes far outside the names must not overflow the integer conversion.
  int k = dNote > -1000 && dNote < 1000 ? static_cast<int>(dNote + 0.4999) : -1;
  double dCents = (dNote - k) * 100;
  if (k >= 0 && k <= 131)
    snprintf(sz, sizeof sz, "%d samples, %.2f Hz (%s %+2.1f cents)", nPoints, f, KSGraphNoteName(k).c_str(), dCents);
  else if (f < 5)
    snprintf(sz, sizeof sz, "%d samples, %.3f sec", nPoints, 1 / f);
  else
    snprintf(sz, sizeof sz, "%d samples, %.2f Hz note %.2f", nPoints, f, dNote);
  return sz;
}

void KSGraphModel::SetSeries(const char* pszName, int i, int n, const double* adX, const double* adY, double dRate,
                             double dFreq) {
  if (i < 0) return;
  dRate_ = dRate;
  dFundamental_ = dFreq;
  if (static_cast<int>(aseries_.size()) < i + 1) aseries_.resize(static_cast<size_t>(i) + 1);
  KSGraphSeries& series = aseries_[static_cast<size_t>(i)];
  series.sName = pszName ? pszName : "";
  n = std::max(n, 0);
  series.adX.assign(adX, adX + n);
  series.adY.assign(adY, adY + n);
  series.color = KSGraphSeriesColor(i);
  series.nHarmonics = 0;
  if (bSpectrum_) Analyse(series);
}

void KSGraphModel::Analyse(KSGraphSeries& series) {
  series.adSpectrum.resize(KSGraphMaxHarmonics);
  double dF0 = 0;
  series.nHarmonics = KSGraphAnalyse(series.adY.data(), static_cast<int>(series.adY.size()), dRate_, dFreqFullBass_,
                                     iScale_, series.adSpectrum.data(), &dF0, &series.dLargest);
  if (series.nHarmonics > 0) dFundamental_ = dF0;
}

void KSGraphModel::SetDisplay(bool bSpectrum, bool bFreqView) {
  bool bAnalyse = bSpectrum && !bSpectrum_;
  bSpectrum_ = bSpectrum;
  bFreqView_ = bFreqView;
  if (bAnalyse)
    for (KSGraphSeries& series : aseries_) Analyse(series);
}

void KSGraphModel::SetVertScale(int iScale) {
  iScale_ = std::clamp(iScale, 0, 2);
  if (bSpectrum_)
    for (KSGraphSeries& series : aseries_) Analyse(series);
  ResetYRange();
}

void KSGraphModel::SetDBRange(int iDB) {
  iDBRange_ = iDB;
  if (bSpectrum_)
    for (KSGraphSeries& series : aseries_) Analyse(series);
  ResetYRange();
}

void KSGraphModel::UpdateYRange() {
  double dMin = INFINITY, dMax = -INFINITY;
  for (const KSGraphSeries& series : aseries_)
    for (double d : series.adY)
      if (!std::isnan(d)) {
        dMin = std::min(dMin, d);
        dMax = std::max(dMax, d);
      }
  if (dMin <= dMax) range_.Widen(dMin, dMax);
}

double KSGraphModel::LargestSpectrumValue() const {
  double d = 0;
  int nDrawn = 0;
  for (const KSGraphSeries& series : aseries_)
    if (nDrawn++ < KSGraphMaxSpectrumSeries && series.nHarmonics > 0) d = std::max(d, series.dLargest);
  return d;
}

const char* KSGraphModel::Unusable() const {
  if (aseries_.empty() || aseries_[0].adY.empty()) return KSGraphNoData;
  if (!bSpectrum_ && range_.TooGreat()) return KSGraphTooGreat;
  if (bSpectrum_ && aseries_[0].adY.size() > static_cast<size_t>(KSGraphMaxAnalysisPoints)) return KSGraphTooMuchData;
  return nullptr;
}

std::string KSGraphModel::InfoLine() const {
  int n = aseries_.empty() ? 0 : static_cast<int>(aseries_[0].adY.size());
  return KSGraphInfoLine(n, dFundamental_, dRate_);
}

std::string KSGraphModel::Summary() const {
  static const char* const kapszScale[3] = {"amplitude", "power", "dB power"};
  std::string s;
  if (bSpectrum_) s = std::string("spectrum (") + (bFreqView_ ? "frequency" : "harmonic") + " X axis, " +
                      kapszScale[iScale_] + " Y axis)";
  else s = "waveform";
  if (const char* psz = Unusable()) return s + ": " + psz;
  s += ": " + InfoLine();
  char sz[160];
  if (!bSpectrum_) {
    snprintf(sz, sizeof sz, "; Y %g .. %g", range_.dLow, range_.dHigh);
    s += sz;
  }
  for (const KSGraphSeries& series : aseries_) {
    s += "; " + series.sName;
    if (!bSpectrum_ || series.nHarmonics == 0) continue;
    // The three strongest harmonics, strongest first.
    std::vector<int> aj;
    for (int j = 1; j < series.nHarmonics; ++j) aj.push_back(j);
    std::stable_sort(aj.begin(), aj.end(), [&](int a, int b) { return series.adSpectrum[a] > series.adSpectrum[b]; });
    s += ":";
    for (size_t i = 0; i < aj.size() && i < 3; ++i) {
      snprintf(sz, sizeof sz, " h%d=%.*f", aj[i], iScale_ == KSGraphDBPower ? 1 : 4, series.adSpectrum[aj[i]]);
      s += sz;
    }
  }
  return s;
}

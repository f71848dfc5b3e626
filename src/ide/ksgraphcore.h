// The graph control's arithmetic without a window: harmonic analysis of one period, the spectrum
// and waveform axes with their labels, the Y range that only widens, the info line, the texts for
// data that cannot be drawn, and the graph's state (series, display modes) that the widget draws.
#pragma once

#include <string>
#include <vector>

constexpr int KSGraphMaxHarmonics = 1500;      // spectrum slots a series keeps
constexpr int KSGraphMaxAnalysisPoints = 11000;  // longer captures are not analysed (too slow)
constexpr int KSGraphMaxSpectrumSeries = 20;   // series drawn as bars at one harmonic
constexpr double KSGraphMaxMagnitude = 100000;  // Y values beyond this are not drawn
constexpr double KSGraphFreqLow = 20, KSGraphFreqHigh = 20000;  // the frequency axis
constexpr double KSGraphDBFloor = -192;  // dB of silence (and anything quieter)

enum KSGraphScale { KSGraphAmplitude = 0, KSGraphPower = 1, KSGraphDBPower = 2 };

extern const char* const KSGraphNoData;       // "no data to graph"
extern const char* const KSGraphTooGreat;     // "Y data magnitude too great"
extern const char* const KSGraphTooMuchData;  // "too much data to do harmonic analysis"

struct KSColor {
  int r, g, b;
  bool operator==(const KSColor&) const = default;
};
// The series colours, by series index modulo 9.
KSColor KSGraphSeriesColor(int iSeries);

// The harmonics of n points taken as exactly one period at dRate. Fills adSpectrum[1 .. H-1]
// (adSpectrum must hold KSGraphMaxHarmonics values; slot 0 is left 0) with the amplitude (scale
// 0), the power-weighted amplitude (1) or its dB (2). Answers H, the harmonic count (0 for more
// than 11000 points); *pdF0 gets rate / n and *pdLargest the largest finite value (at least 0).
int KSGraphAnalyse(const double* ady, int n, double dRate, double dFreqFullBass, int iScale, double* adSpectrum,
                   double* pdF0, double* pdLargest);

// One labelled place on an axis: its pixel and up to two label lines.
struct KSAxisTick {
  int iPos;
  std::string sLabel, sLabel2;
  bool bMajor = true;  // drawn with the brighter grid pen
};

// The pixel of harmonic h on the harmonic X axis.
inline int KSGraphHarmonicX(int iLeft, int h) { return iLeft + 10 * h - 7; }
// The pixel of frequency f on the frequency X axis (20 Hz at iLeft, 20 kHz at iRight).
int KSGraphFreqX(int iLeft, int iRight, double dFreq);
// A frequency as the axes write it: "%.1f" below 50 Hz, "%.0f" below 10 kHz, else "%.0fk".
std::string KSGraphFreqLabel(double dFreq);
// Harmonic axis: every fourth harmonic from 1 labelled with its number, every eighth also with
// its frequency; only those that fit left of iRight.
std::vector<KSAxisTick> KSGraphHarmonicTicks(int iLeft, int iRight, int nHarmonics, double dF0);
// Frequency axis: 20 Hz, 27.5 Hz and its octaves up to 14080 Hz, 20 kHz; the A octaves between
// get a second label "A0", "A1", ...
std::vector<KSAxisTick> KSGraphFreqTicks(int iLeft, int iRight);

// A vertical axis: its range, tick step, and the decimals its labels show.
struct KSYAxis {
  double dLow, dHigh, dStep;
  int nDecimals;
};
// The dB axis from -dBRange up to the largest value raised to the step (at least 0); the step is
// the first of 0.1 ... 24 dB that keeps ticks at least 5 pixels apart over iHeight pixels.
KSYAxis KSGraphDBAxis(double dLargest, int iDBRange, int iHeight);
// A linear axis from 0: steps of 2, 5 or 10 times a power of ten, from the largest value.
KSYAxis KSGraphLinearAxis(double dLargest);
// The axis's ticks from dLow to dHigh, labelled with "%.*f"; iPos counts pixels down from the top
// of a plot of iHeight pixels.
std::vector<KSAxisTick> KSGraphYTicks(const KSYAxis& axis, int iHeight);
// The decimals a step needs to be written exactly (0.125 needs 3).
int KSGraphDecimals(double dStep);

// The waveform's Y range: empty until data arrives, then only widening until reset.
struct KSYRange {
  bool bSet = false;
  double dLow = 0, dHigh = 0;
  // Takes the lowest and highest Y of new data: widened by 5% of their difference on each side,
  // rounded outward to few significant digits (values beyond +-100000 are left unrounded), and
  // merged with the range kept so far.
  void Widen(double dMin, double dMax);
  void Reset() { *this = KSYRange(); }
  bool TooGreat() const { return bSet && (dLow < -KSGraphMaxMagnitude || dHigh > KSGraphMaxMagnitude); }
};

// The name of note k: "C-1" for 0 up to "B9" for 131.
std::string KSGraphNoteName(int k);
// "%d samples, %.2f Hz (%s %+2.1f cents)" and its two other forms; f 0 means rate / points.
std::string KSGraphInfoLine(int nPoints, double dFundamental, double dRate);

// One series of a graph.
struct KSGraphSeries {
  std::string sName;
  std::vector<double> adX, adY;
  KSColor color{};
  int nHarmonics = 0;
  std::vector<double> adSpectrum;  // KSGraphMaxHarmonics slots once analysed
  double dLargest = 0;
};

// What a graph holds and how it shows it; the widget draws this.
class KSGraphModel {
 public:
  explicit KSGraphModel(double dFreqFullBass = 55) : dFreqFullBass_(dFreqFullBass) {}

  void SetSeries(const char* pszName, int i, int n, const double* adX, const double* adY, double dRate, double dFreq);
  void ClearSeries() { aseries_.clear(); }
  void SetCaption(const char* psz) { sCaption_ = psz ? psz : ""; }
  // Spectrum or waveform; a spectrum's frequency or harmonic X axis. Switching into spectrum
  // mode analyses the series.
  void SetDisplay(bool bSpectrum, bool bFreqView);
  // Changing the scale or the dB range analyses every series again and resets the Y range.
  void SetVertScale(int iScale);
  void SetDBRange(int iDB);
  void ResetYRange() { range_.Reset(); }
  // Widens the kept Y range by the lowest and highest Y of all series (before each drawing).
  void UpdateYRange();
  void SetFreqFullBass(double d) { dFreqFullBass_ = d; }

  const std::vector<KSGraphSeries>& Series() const { return aseries_; }
  const std::string& Caption() const { return sCaption_; }
  bool Spectrum() const { return bSpectrum_; }
  bool FreqView() const { return bFreqView_; }
  int VertScale() const { return iScale_; }
  int DBRange() const { return iDBRange_; }
  double Rate() const { return dRate_; }
  double Fundamental() const { return dFundamental_; }
  const KSYRange& YRange() const { return range_; }
  // The largest finite spectrum value of the series drawn (at least 0).
  double LargestSpectrumValue() const;

  // The text shown in place of the graph when the data cannot be drawn, or null.
  const char* Unusable() const;
  std::string InfoLine() const;
  // One line saying what the graph shows (mode, info line, range or strongest harmonics), for
  // the status log.
  std::string Summary() const;

 private:
  void Analyse(KSGraphSeries& series);
  std::vector<KSGraphSeries> aseries_;
  std::string sCaption_;
  double dRate_ = 0, dFundamental_ = 0, dFreqFullBass_;
  bool bSpectrum_ = true, bFreqView_ = false;
  int iScale_ = KSGraphDBPower, iDBRange_ = 48;
  KSYRange range_;
};

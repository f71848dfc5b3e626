// Tests of the wavetable oscillators "SWO" and "LFSWO" with their per-patch helpers: harmonic
// tables at their gains and phases, band selection without aliasing, sample files, phase, sync,
// bass compensation, bypass, and the set-up messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "module_harness.h"
#include "patch/patch.h"
#include "wave_signal.h"

namespace {

constexpr double kRate = 44100;
constexpr double kHighRate = 96000;  // harmonics up to 24 kHz stay below its Nyquist frequency

class SWOTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrorList::Get()->Clear(); }
};

// A formula setting; names the helper declares go to it.
struct Setting {
  const char* pszVar;
  std::string sFormula;
};

// Renders n samples of one output of a fresh oscillator.
std::vector<double> RenderSWO(const char* pszType, const std::vector<Setting>& aSet, const char* pszOut, int n,
                              double dRate = kRate) {
  ModuleHarness h(pszType, dRate);
  for (const Setting& set : aSet) h.Set(set.pszVar, set.sFormula.c_str());
  EXPECT_EQ(h.Start(), 0);
  return h.Render(pszOut, n);
}

// The band grid of the harmonic tables: SampleFreqMin, times SampleRange, ... below SampleFreqMax.
std::vector<double> BandLows(double dMin, double dRange, double dMax) {
  std::vector<double> ad;
  for (double f = dMin; f < dMax; f *= dRange) ad.push_back(f);
  return ad;
}
// The low frequency of the band that plays dFreq: the highest band starting below it (the first
// band also takes everything below it; a frequency equal to a band's start stays below).
double BandOf(const std::vector<double>& adLow, double dFreq) {
  double dLow = adLow.front();
  for (double d : adLow)
    if (d < dFreq) dLow = d;
  return dLow;
}
// The default grid: from half a semitone below 27.5 Hz in steps of 3 semitones to 10 kHz.
std::vector<double> DefaultBands() { return BandLows(27.5 / std::exp2(0.5 / 12), std::exp2(3.0 / 12), 10000); }

// Linear interpolation between the n points of a table passes harmonic k at sinc^2(pi k / n).
double InterpolationGain(int k, int n) {
  const double x = kPi * k / n;
  return std::pow(std::sin(x) / x, 2);
}

// ---------------------------------------------------------------------------------------------
// Harmonic tables: every harmonic of the band at its amplitude and phase.

struct HarmonicCase {
  const char* pszWhat;
  std::vector<Setting> aSet;
  std::vector<std::pair<const char*, const char*>> aHarm;  // numbered harmonics of the helper
  double dHarmFreqMax;
  // The sine and cosine coefficients of harmonic k in a band starting at dLow Hz.
  std::function<SinCos(int k, double dLow)> fnExpected;
};
void PrintTo(const HarmonicCase& c, std::ostream* os) { *os << c.pszWhat; }

SinCos Sawtooth(int k, double) { return {1.0 / k, 0}; }

class SWOHarmonicTest : public SWOTest, public ::testing::WithParamInterface<HarmonicCase> {};

// At 200 Hz (96 kHz sample rate) the oscillator plays the default band starting at 179.7 Hz,
// whose table holds every harmonic up to HarmFreqMax at that band start, and nothing above.
TEST_P(SWOHarmonicTest, EachHarmonicAtItsGain) {
  const HarmonicCase& c = GetParam();
  constexpr double kFreq = 200;
  ModuleHarness h("SWO", kHighRate);
  h.Set("Frequency", Num(kFreq).c_str());
  for (const Setting& set : c.aSet) h.Set(set.pszVar, set.sFormula.c_str());
  for (const auto& [pszVar, pszFormula] : c.aHarm) h.SetHelper(pszVar, pszFormula);
  ASSERT_EQ(h.Start(), 0);
  const std::vector<double> ad = h.Render("Control", 4800);  // ten periods

  const double dLow = BandOf(DefaultBands(), kFreq);
  const double dOversampling = dLow * std::exp2(3.0 / 12) < 3000 ? 4 : 8;
  const int n = static_cast<int>(std::ceil(kHighRate / dLow * dOversampling));
  const int kMax = static_cast<int>(std::floor(c.dHarmFreqMax / dLow));
  for (int k = 1; k <= kMax + 10; ++k) {
    SinCos expected = k <= kMax ? c.fnExpected(k, dLow) : SinCos{0, 0};
    const double g = InterpolationGain(k, n);
    const SinCos measured = ToneCoefficients(ad, k * kFreq, kHighRate);
    // The images of the interpolation fold onto harmonics too, each below 3e-5.
    EXPECT_NEAR(measured.dSin, expected.dSin * g, 4e-5 + 1e-4 * std::fabs(expected.dSin)) << c.pszWhat << " k=" << k;
    EXPECT_NEAR(measured.dCos, expected.dCos * g, 4e-5 + 1e-4 * std::fabs(expected.dCos)) << c.pszWhat << " k=" << k;
  }
  EXPECT_EQ(ErrorEntries(), 0);
}

const double kQuarter = kPi / 2;

INSTANTIATE_TEST_SUITE_P(
    Tables, SWOHarmonicTest,
    ::testing::Values(
        HarmonicCase{"no waveform: a sawtooth", {}, {}, 20000, Sawtooth},
        HarmonicCase{"Sawtooth", {{"Waveform", "Sawtooth"}}, {}, 20000, Sawtooth},
        HarmonicCase{"Square, duty 0.5: the odd harmonics",
                     {{"Waveform", "Square"}},
                     {},
                     20000,
                     [](int k, double) { return SinCos{k % 2 ? 1.0 / k : 0, 0}; }},
        HarmonicCase{"Square, duty 0.25: two sawtooth reads a quarter apart",
                     {{"Waveform", "Square"}, {"Duty", "0.25"}},
                     {},
                     20000,
                     [](int k, double) {
                       return SinCos{0.5 / k * (1 - std::cos(kQuarter * k)), 0.5 / k * std::sin(kQuarter * k)};
                     }},
        HarmonicCase{"Triangle: odd harmonics, alternating, 1/k^2",
                     {{"Waveform", "Triangle"}},
                     {},
                     20000,
                     [](int k, double) { return SinCos{k % 2 == 0 ? 0 : (k % 4 == 1 ? 1.0 : -1.0) / (k * k), 0}; }},
        HarmonicCase{"Sine", {{"Waveform", "Sine"}}, {}, 20000, [](int k, double) { return SinCos{k == 1 ? 1.0 : 0, 0}; }},
        HarmonicCase{"a HarmonicForm makes the Formula waveform",
                     {{"HarmonicForm", "1 / Harmonic"}},
                     {},
                     20000,
                     [](int k, double) { return SinCos{1.0 / (k * k), 0}; }},
        HarmonicCase{"HarmonicForm reading FreqHarm",
                     {{"HarmonicForm", "IF( FreqHarm < 2000, 1, 0 )"}},
                     {},
                     20000,
                     [](int k, double dLow) { return SinCos{k * dLow < 2000 ? 1.0 / k : 0, 0}; }},
        HarmonicCase{"numbered harmonics override the waveform",
                     {{"Waveform", "Sine"}},
                     {{"Harm3", "0.6"}, {"Harm5", "-0.5"}},
                     20000,
                     [](int k, double) { return SinCos{k == 1 ? 1 : k == 3 ? 0.2 : k == 5 ? -0.1 : 0, 0}; }},
        HarmonicCase{"FixedFilter", {{"FixedFilter", "0.25"}}, {}, 20000,
                     [](int k, double) { return SinCos{0.25 / k, 0}; }},
        HarmonicCase{"DenomPower 2", {{"DenomPower", "2"}}, {}, 20000,
                     [](int k, double) { return SinCos{1.0 / (k * k), 0}; }},
        HarmonicCase{"PhaseForm turns every harmonic",
                     {{"PhaseForm", "0.1"}},
                     {},
                     20000,
                     [](int k, double) { return SinCos{std::cos(0.2 * kPi) / k, std::sin(0.2 * kPi) / k}; }},
        HarmonicCase{"PhaseForm a quarter: a cosine",
                     {{"Waveform", "Sine"}, {"PhaseForm", "0.25"}},
                     {},
                     20000,
                     [](int k, double) { return SinCos{0, k == 1 ? 1.0 : 0}; }},
        HarmonicCase{"HarmFreqMax", {{"HarmFreqMax", "5000"}}, {}, 5000, Sawtooth}));

// ---------------------------------------------------------------------------------------------
// Bands: each frequency plays the band below it.

class SWOBandTest : public SWOTest, public ::testing::WithParamInterface<double> {};

// Bands an octave apart from 100 Hz (100, 200, ... 6400 Hz): the band a frequency plays shows in
// its highest harmonic, 20000 Hz / band start.
TEST_P(SWOBandTest, TheBandBelowTheFrequencyPlays) {
  const double dFreq = GetParam();
  const std::vector<Setting> aSet = {{"Frequency", Num(dFreq)},
                                     {"SampleFreqMin", "100"},
                                     {"SampleRange", "2"},
                                     {"SampleFreqMax", "10000"}};
  const std::vector<double> ad = RenderSWO("SWO", aSet, "Control", 9600, kHighRate);
  const double dLow = BandOf(BandLows(100, 2, 10000), dFreq);
  const int n = static_cast<int>(std::ceil(kHighRate / dLow * (2 * dLow < 3000 ? 4 : 8)));
  const int kMax = static_cast<int>(std::floor(20000 / dLow));
  const double dTop = ToneCoefficients(ad, kMax * dFreq, kHighRate).dSin;
  // Interpolation images folding onto harmonics stay below 5e-5; a harmonic is 1 / number.
  EXPECT_NEAR(dTop, InterpolationGain(kMax, n) / kMax, 5e-5) << dFreq << " Hz: harmonic " << kMax;
  if ((kMax + 1) * dFreq < kHighRate / 2) {
    const double dAbove = BinAmplitude(ad, (kMax + 1) * dFreq, kHighRate);
    EXPECT_LT(dAbove, 5e-5) << dFreq << " Hz: harmonic " << kMax + 1;
  }
}

// Below the first band, within bands, above SampleFreqMax (the last band).
INSTANTIATE_TEST_SUITE_P(Frequencies, SWOBandTest, ::testing::Values(50, 100, 190, 210, 390, 410, 12010));

// The band search moves from the last band: a frequency landing exactly on a band's start keeps
// the band it came from, the lower one coming from below and the upper one coming from above.
TEST_F(SWOTest, AtABandStartTheSearchStaysWhereItCameFrom) {
  const struct {
    double dBefore, dAt;
    int kMax;  // the highest harmonic of the band that plays at dAt
  } aCases[] = {{150, 200, 200}, {300, 200, 100}, {300, 400, 100}, {500, 400, 50}};
  for (const auto& c : aCases) {
    ModuleHarness h("SWO", kHighRate);
    h.AddContext("Ctx", "F");
    h.Set("Frequency", "Ctx:F");
    h.Set("SampleFreqMin", "100");
    h.Set("SampleRange", "2");
    ASSERT_EQ(h.Start(), 0);
    h.Value("Ctx", "F") = c.dBefore;
    h.Out("Control");
    h.Value("Ctx", "F") = c.dAt;
    std::vector<double> ad;
    for (int k = 0; k < 4800; ++k) {
      h.Step();
      ad.push_back(h.Out("Control"));
    }
    EXPECT_GT(BinAmplitude(ad, c.kMax * c.dAt, kHighRate), 0.5 / c.kMax) << c.dBefore << " to " << c.dAt;
    EXPECT_LT(BinAmplitude(ad, (c.kMax + 1) * c.dAt, kHighRate), 5e-5) << c.dBefore << " to " << c.dAt;
  }
}

// Stepping the frequency up over the audio range and down again, every step plays a band whose
// harmonics fold at most above 20 kHz: below it the spectrum holds the harmonics and nothing else.
TEST_F(SWOTest, BandsSwitchWithoutAliasingAsTheFrequencySweeps) {
  constexpr int kSize = 4096;
  constexpr double kBin = kRate / kSize;
  ModuleHarness h("SWO");
  h.AddContext("Ctx", "F");
  h.Set("Frequency", "Ctx:F");
  ASSERT_EQ(h.Start(), 0);
  // Odd bin numbers: the window holds whole periods, and no folded harmonic lands on a harmonic.
  // Up to 11 kHz: above it the last band's second harmonic passes the Nyquist frequency.
  std::vector<int> aiBin = {11, 19, 31, 47, 71, 101, 151, 223, 331, 499, 751, 1001};
  for (int i = static_cast<int>(aiBin.size()) - 2; i >= 0; --i) aiBin.push_back(aiBin[static_cast<size_t>(i)]);
  bool bFirst = true;
  for (int iBin : aiBin) {
    const double dFreq = iBin * kBin;
    std::vector<std::complex<double>> a(kSize);
    for (int k = 0; k < kSize; ++k) {
      if (!bFirst) h.Step();
      bFirst = false;
      h.Value("Ctx", "F") = dFreq;
      a[static_cast<size_t>(k)] = h.Out("Control");
    }
    Fft(a);
    double dHarmonics = 0, dOther = 0;
    for (int b = 1; b * kBin < 20000; ++b) (b % iBin == 0 ? dHarmonics : dOther) += std::norm(a[static_cast<size_t>(b)]);
    // Linear interpolation leaves images down to about -50 dB; a band one step too low folds
    // harmonics down at about -25 dB.
    EXPECT_LT(dOther, 1e-4 * dHarmonics) << dFreq << " Hz: " << PowerDb(dOther / dHarmonics) << " dB between harmonics";
    // The fundamental of the sawtooth series: amplitude 1, through the band's interpolation.
    const double dLow = BandOf(DefaultBands(), dFreq);
    const int n = static_cast<int>(std::ceil(kRate / dLow * (dLow * std::exp2(3.0 / 12) < 3000 ? 4 : 8)));
    EXPECT_NEAR(2 * std::abs(a[static_cast<size_t>(iBin)]) / kSize, InterpolationGain(1, n), 1e-4) << dFreq << " Hz";
  }
}

// ---------------------------------------------------------------------------------------------
// Sample files.

// A folder standing in for the installation, with a file of raw bytes in it.
class SampleFileTest : public SWOTest {
 protected:
  void SetUp() override {
    SWOTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() /
           ("vantrel_swo_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "samples");
    sInstallBefore_ = PatchInstallDir();
    PatchSetInstallDir(dir_.string());
  }
  void TearDown() override {
    PatchSetInstallDir(sInstallBefore_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Write(const char* pszName, const std::vector<unsigned char>& abyte) {
    FILE* pf = fopen((dir_ / pszName).string().c_str(), "wb");
    ASSERT_NE(pf, nullptr);
    if (!abyte.empty()) fwrite(abyte.data(), 1, abyte.size(), pf);
    fclose(pf);
  }
  std::string Path(const char* pszName) { return (dir_ / pszName).string(); }

  std::filesystem::path dir_;
  std::string sInstallBefore_;
};

// Three bytes of something else, sample 1 (8 points), sample 2 (4 points).
const std::vector<unsigned char> abyteSample1 = {200, 255, 0, 191, 63, 127, 130, 50};
const std::vector<unsigned char> abyteSample2 = {0, 64, 128, 255};
std::vector<unsigned char> TwoSamples() {
  std::vector<unsigned char> a = {1, 2, 3};
  a.insert(a.end(), abyteSample1.begin(), abyteSample1.end());
  a.insert(a.end(), abyteSample2.begin(), abyteSample2.end());
  return a;
}
double Point(unsigned char b) { return (b - 127) / 128.0; }

void SetTwoSamples(ModuleHarness& h, const char* pszFile) {
  h.Set("SampleFile", pszFile);
  h.SetHelper("SampleLoc1", "3");
  h.SetHelper("SampleLen1", "8");
  h.SetHelper("SampleFreq1", "10");
  h.SetHelper("SampleLoc2", "11");
  h.SetHelper("SampleLen2", "4");
  h.SetHelper("SampleFreq2", "8000");
}

// One sample per point (Frequency = rate / points), read in the middle of each point's span: the
// bytes in order, unsigned with 127 as zero, in steps of 1/128. Sample 2 serves from 8000 Hz.
TEST_F(SampleFileTest, ReadsRawUnsignedBytesPerBand) {
  Write("samples/two.raw", TwoSamples());
  for (const char* pszFile : {"\"samples/two.raw\"", "\"samples\\\\two.raw\""}) {
    for (const std::vector<unsigned char>* pabyte : {&abyteSample1, &abyteSample2}) {
      const int n = static_cast<int>(pabyte->size());
      ModuleHarness h("SWO");
      SetTwoSamples(h, pszFile);
      h.Set("Interpolate", "false");
      h.Set("Frequency", Num(kRate / n).c_str());
      h.Set("PhaseIn", Num(0.5 / n).c_str());
      ASSERT_EQ(h.Start(), 0) << pszFile;
      const double dBass = 55 / (kRate / n);
      for (int k = 0; k < 3 * n; ++k, h.Step()) {
        const double d = Point((*pabyte)[static_cast<size_t>(k % n)]);
        ASSERT_DOUBLE_EQ(h.Out("Control"), d) << pszFile << " " << n << " points, sample " << k;
        ASSERT_DOUBLE_EQ(h.Out("Output"), dBass * d);
      }
    }
  }
  EXPECT_EQ(ErrorEntries(), 0);
}

// Half a point per sample: the points and the midpoints between them, the last midpoint between
// the last point and the first.
TEST_F(SampleFileTest, InterpolatesAcrossTheEndOfTheCycle) {
  Write("samples/two.raw", TwoSamples());
  ModuleHarness h("SWO");
  SetTwoSamples(h, "\"samples/two.raw\"");
  h.Set("Frequency", Num(kRate / 16).c_str());
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 48; ++k, h.Step()) {
    const int j = (k / 2) % 8;
    const double a = Point(abyteSample1[static_cast<size_t>(j)]), b = Point(abyteSample1[static_cast<size_t>((j + 1) % 8)]);
    ASSERT_NEAR(h.Out("Control"), k % 2 ? (a + b) / 2 : a, 1e-12) << "sample " << k;
  }
}

struct BadFileCase {
  const char* pszWhat;
  std::vector<unsigned char> abyte;  // the file's bytes, or none for no file
  bool bWrite;
  std::vector<std::pair<const char*, const char*>> aHelper;  // set at line 20 + position
  const char* pszLineVar;                                    // the line the message is at
  std::function<std::string(const std::string& sPath)> fnMessage;
};
void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.pszWhat; }
class SampleFileErrorTest : public SampleFileTest, public ::testing::WithParamInterface<BadFileCase> {};

// A sample file that cannot be used fails the helper's set-up with its message at the line of
// the variable concerned; the oscillator then plays silence.
TEST_P(SampleFileErrorTest, FailsWithTheMessageAtItsLine) {
  const BadFileCase& c = GetParam();
  if (c.bWrite) Write("samples/bad.raw", c.abyte);
  ModuleHarness h("SWO");
  h.Set("Frequency", "440");
  h.Set("SampleFile", "\"samples/bad.raw\"", 19);
  int iLine = std::string(c.pszLineVar) == "SampleFile" ? 19 : -1;
  for (size_t i = 0; i < c.aHelper.size(); ++i) {
    h.SetHelper(c.aHelper[i].first, c.aHelper[i].second, 20 + static_cast<int>(i));
    if (std::string(c.aHelper[i].first) == c.pszLineVar) iLine = 20 + static_cast<int>(i);
  }
  EXPECT_EQ(h.Start(), 1);
  const std::string sMessage = c.fnMessage(Path("samples/bad.raw"));
  EXPECT_EQ(ErrorLine(sMessage), iLine) << sMessage;
  for (int k = 0; k < 100; ++k, h.Step()) ASSERT_EQ(h.Out("Output"), 0);
}

std::string ReadMessage(const std::string& sPath) {
  return "SWO:SampleFile - read( " + sPath + " ) = -1: the file ends before the sample does\n";
}
const std::vector<std::pair<const char*, const char*>> aOneSample = {{"SampleLoc1", "0"}, {"SampleLen1", "8"}};

INSTANTIATE_TEST_SUITE_P(
    Files, SampleFileErrorTest,
    ::testing::Values(
        BadFileCase{"missing", {}, false, aOneSample, "SampleFile",
                    [](const std::string& s) {
                      return "SWO:SampleFile - open( " + s + " ) = -1: No such file or directory\n";
                    }},
        BadFileCase{"short", {1, 2, 3, 4, 5}, true, aOneSample, "SampleLen1", ReadMessage},
        BadFileCase{"empty", {}, true, aOneSample, "SampleLen1", ReadMessage},
        BadFileCase{"sample past the end", std::vector<unsigned char>(8, 100), true,
                    {{"SampleLoc1", "4"}, {"SampleLen1", "8"}}, "SampleLen1", ReadMessage},
        BadFileCase{"no samples named", {1, 2, 3}, true, {}, "SampleFile",
                    [](const std::string&) {
                      return std::string("SWO:SampleFile = samples/bad.raw but no individual samples specified\n");
                    }},
        BadFileCase{"huge sample", {1, 2, 3}, true, {{"SampleLoc1", "0"}, {"SampleLen1", "1e12"}}, "SampleLen1",
                    [](const std::string&) { return std::string("SWO:SampleLen1 = 1e+12 must be from 0 to 4194304"); }},
        BadFileCase{"negative offset", {1, 2, 3}, true, {{"SampleLoc1", "-5"}, {"SampleLen1", "2"}}, "SampleLoc1",
                    [](const std::string&) { return std::string("SWO:SampleLoc1 = -5 must be from 0 to 2147483647"); }},
        BadFileCase{"sample number beyond the limit", {1, 2, 3}, true, {{"SampleLen5000", "2"}}, "SampleLen5000",
                    [](const std::string&) {
                      return std::string("SWO:SampleLen5000: samples are numbered from 1 to 1000");
                    }}));

// A sample of no points plays silence; its neighbours still play.
TEST_F(SampleFileTest, AnEmptySamplePlaysSilence) {
  Write("samples/two.raw", TwoSamples());
  ModuleHarness h("SWO");
  SetTwoSamples(h, "\"samples/two.raw\"");
  h.SetHelper("SampleLen2", "0");
  h.Set("Frequency", "10000");
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 100; ++k, h.Step()) {
    ASSERT_EQ(h.Out("Control"), 0) << "sample " << k;
    ASSERT_EQ(h.Out("Output"), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// "LFSWO".

// The default table: 5000 points of harmonics 1 to 1000 at equal amplitude (DenomPower 0),
// rescaled to -1..1. One sample per point reads it point by point; Output and Audio (full bass
// at 6.5 Hz and below) are the wave itself.
TEST_F(SWOTest, LowFrequencyDefaultsToOneNormalisedTable) {
  constexpr int n = 5000, kHarmonics = 1000;
  std::vector<double> adPoint(n, 0);
  for (int j = 0; j < n; ++j)
    for (int i = 1; i <= kHarmonics; ++i) adPoint[static_cast<size_t>(j)] += std::sin(2 * kPi * i * j / n);
  const auto [itLo, itHi] = std::minmax_element(adPoint.begin(), adPoint.end());
  const double dLo = *itLo, dHi = *itHi;
  for (double& d : adPoint) d = (d - dLo) * 2 / (dHi - dLo) - 1;

  ModuleHarness h("LFSWO");
  h.Set("Frequency", Num(kRate / n).c_str());
  h.Set("PhaseIn", Num(0.5 / n).c_str());
  h.Set("Interpolate", "false");
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < n + 100; ++k, h.Step()) {
    const double d = adPoint[static_cast<size_t>(k % n)];
    ASSERT_NEAR(h.Out("Control"), d, 1e-9) << "sample " << k;
    ASSERT_EQ(h.Out("Output"), h.Out("Control"));
    ASSERT_EQ(h.Out("Audio"), h.Out("Control"));
    ASSERT_NEAR(h.Out("Positive"), (d + 1) / 2, 1e-9);
  }
}

TEST_F(SWOTest, LowFrequencySineAtItsDefaultFrequency) {
  ModuleHarness h("LFSWO");
  h.Set("Waveform", "Sine");
  h.Set("Samples", "1000");
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 10000; ++k, h.Step()) ASSERT_NEAR(h.Out("Output"), std::sin(2 * kPi * k * 6.5 / kRate), 1e-5);
}

// A table without any harmonic is all zeros.
TEST_F(SWOTest, LowFrequencyTableWithoutHarmonicsIsSilent) {
  for (const char* pszSetting : {"Waveform", "HarmTo"}) {
    ModuleHarness h("LFSWO");
    h.Set(pszSetting, std::string(pszSetting) == "Waveform" ? "SH" : "0");
    ASSERT_EQ(h.Start(), 0);
    for (int k = 0; k < 2000; ++k, h.Step()) ASSERT_EQ(h.Out("Output"), 0) << pszSetting;
  }
}

// ---------------------------------------------------------------------------------------------
// Phase and sync, as in the oscillator.

struct PhaseCase {
  double dFreq, dPhaseIn;
};
void PrintTo(const PhaseCase& c, std::ostream* os) { *os << c.dFreq << " Hz, PhaseIn " << c.dPhaseIn; }
class SWOPhaseTest : public SWOTest, public ::testing::WithParamInterface<PhaseCase> {};

// A sine table read at the phase: PhaseOut counts cycles (backwards for a negative frequency),
// PhaseIn shifts the wave.
TEST_P(SWOPhaseTest, PhaseOutCountsCyclesAndPhaseInShifts) {
  const PhaseCase& c = GetParam();
  ModuleHarness h("SWO");
  h.Set("Waveform", "Sine");
  h.Set("Frequency", Num(c.dFreq).c_str());
  h.Set("PhaseIn", Num(c.dPhaseIn).c_str());
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 3000; ++k, h.Step()) {
    const double dCycles = k * c.dFreq / kRate;
    const double dPhase = h.Out("PhaseOut");
    const double dOff = std::fabs(dPhase - dCycles) - std::floor(std::fabs(dPhase - dCycles) + 0.5);
    ASSERT_LT(std::fabs(dOff), 1e-8) << "sample " << k;
    ASSERT_TRUE(c.dFreq >= 0 ? dPhase >= 0 && dPhase < 1 : dPhase <= 0 && dPhase > -1) << dPhase;
    ASSERT_NEAR(h.Out("Control"), std::sin(2 * kPi * (dCycles + c.dPhaseIn)), 5e-5) << "sample " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, SWOPhaseTest,
                         ::testing::Values(PhaseCase{440, 0}, PhaseCase{440, .25}, PhaseCase{100, -.3},
                                           PhaseCase{-300, 0}, PhaseCase{-300, .6}, PhaseCase{25, 1.5}));

// The announcements of a phase starting at 0: every later wrap once, on the sample nearest to it,
// as the signed distance from the wrap to that sample; -1 elsewhere.
std::vector<double> ExpectedSyncOut(double dFreq, int nSamples) {
  std::vector<double> ad(static_cast<size_t>(nSamples), -1);
  for (int j = 1;; ++j) {
    const double dWrap = j * kRate / dFreq;
    const long iNearest = std::lround(dWrap);
    if (iNearest >= nSamples) break;
    ad[static_cast<size_t>(iNearest)] = static_cast<double>(iNearest) - dWrap;
  }
  return ad;
}

class SWOSyncOutTest : public SWOTest, public ::testing::WithParamInterface<double> {};

TEST_P(SWOSyncOutTest, AnnouncesEachWrapOnTheNearestSample) {
  const double dFreq = GetParam();
  constexpr int kSamples = 6000;
  const std::vector<double> ad = RenderSWO("SWO", {{"Frequency", Num(dFreq)}}, "SyncOut", kSamples);
  const std::vector<double> adExpected = ExpectedSyncOut(dFreq, kSamples);
  int nWraps = 0;
  for (int k = 0; k < kSamples; ++k) {
    ASSERT_NEAR(ad[static_cast<size_t>(k)], adExpected[static_cast<size_t>(k)], 1e-6) << "sample " << k;
    nWraps += ad[static_cast<size_t>(k)] != -1;
  }
  EXPECT_EQ(nWraps, static_cast<int>(std::floor((kSamples - 0.5) * dFreq / kRate)));
}

INSTANTIATE_TEST_SUITE_P(Frequencies, SWOSyncOutTest, ::testing::Values(441.3, 1234.567, 3210.9));

struct HardSyncCase {
  const char* pszType;
  double dSyncIn;
};
void PrintTo(const HardSyncCase& c, std::ostream* os) { *os << c.pszType << " SyncIn " << c.dSyncIn; }
class SWOHardSyncTest : public SWOTest, public ::testing::WithParamInterface<HardSyncCase> {};

// A constant SyncIn restarts the oscillator every sample at SyncIn samples past the master's
// wrap and cross-fades to the restarted wave by where the wrap fell; SyncOut passes SyncIn on.
TEST_P(SWOHardSyncTest, CrossFadesToTheRestartedWave) {
  const HardSyncCase& c = GetParam();
  constexpr double kFreq = 1000;
  const double s = c.dSyncIn, dt = kFreq / kRate;
  ModuleHarness h(c.pszType);
  h.Set("Waveform", "Sine");
  if (std::string(c.pszType) == "LFSWO") h.Set("Samples", "20000");  // a table as fine as the audio bands'
  h.Set("Frequency", Num(kFreq).c_str());
  h.Set("SyncIn", Num(s).c_str());
  ASSERT_EQ(h.Start(), 0);
  const double pWould = (1 + s) * dt, pRestart = s >= 0 ? s * dt : 0;
  const double w = std::sin(2 * kPi * pRestart), dWould = std::sin(2 * kPi * pWould);
  const double dControl = s < 0.5 ? (s + 0.5) * w + (0.5 - s) * dWould : w;
  const double dPhase = s >= 0 ? s * dt : 1 + s * dt;
  h.Out("Control");  // the first sample restarts the phase; from the second on, each sample
  h.Step();          // starts one step after the last restart
  for (int k = 1; k < 20; ++k, h.Step()) {
    EXPECT_NEAR(h.Out("Control"), dControl, 5e-5) << "sample " << k;
    EXPECT_NEAR(h.Out("PhaseOut"), dPhase, 1e-12) << "sample " << k;
    EXPECT_EQ(h.Out("SyncOut"), s) << "sample " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Constant, SWOHardSyncTest,
                         ::testing::Values(HardSyncCase{"SWO", .25}, HardSyncCase{"SWO", .75},
                                           HardSyncCase{"SWO", -.25}, HardSyncCase{"LFSWO", .4}));

// A slave fed with a master's announcements restarts at each master wrap: its phase is its own
// frequency times the time since the last wrap announced.
TEST_F(SWOTest, SlaveRestartsAtTheMastersWraps) {
  constexpr double kMaster = 441.3, kSlave = kMaster * 2.71828;
  ModuleHarness h("SWO");
  h.AddContext("Master", "SyncOut");
  h.Set("Frequency", Num(kSlave).c_str());
  h.Set("SyncIn", "Master:SyncOut");
  ASSERT_EQ(h.Start(), 0);
  const std::vector<double> adSync = ExpectedSyncOut(kMaster, 4000);
  double dWrap = 0;
  int nSynced = 0;
  for (int k = 0; k < 4000; ++k, h.Step()) {
    const double s = adSync[static_cast<size_t>(k)];
    h.Value("Master", "SyncOut") = s;
    if (s != -1) {
      dWrap = k - s;
      ++nSynced;
    }
    const double dExpected = (k - dWrap) * kSlave / kRate;
    const double dOff = h.Out("PhaseOut") - dExpected;
    ASSERT_LT(std::fabs(dOff - std::round(dOff)), 1e-7) << "sample " << k;
  }
  EXPECT_GT(nSynced, 35);
}

// ---------------------------------------------------------------------------------------------
// Bass compensation and bypass.

class SWOBassTest : public SWOTest, public ::testing::WithParamInterface<double> {};

// The audio output is the wave times FreqFullBass / |Frequency| above FreqFullBass (55 Hz), the
// wave itself below; the control outputs stay the wave.
TEST_P(SWOBassTest, AudioFallsAsOneOverFrequencyAboveFullBass) {
  const double dFreq = GetParam();
  const double dBass = std::fabs(dFreq) > 55 ? 55 / std::fabs(dFreq) : 1;
  for (const char* pszType : {"SWO", "LFSWO"}) {
    ModuleHarness h(pszType);
    h.Set("Waveform", "Sine");
    h.Set("Frequency", Num(dFreq).c_str());
    ASSERT_EQ(h.Start(), 0);
    const char* pszAudio = std::string(pszType) == "SWO" ? "Output" : "Audio";
    double dPeak = 0;
    for (int k = 0; k < 2000; ++k, h.Step()) {
      const double dWave = h.Out("Control");
      dPeak = std::max(dPeak, std::fabs(dWave));
      ASSERT_DOUBLE_EQ(h.Out(pszAudio), dBass * dWave) << pszType << " sample " << k;
    }
    EXPECT_GT(dPeak, 0.5) << pszType;
  }
}

INSTANTIATE_TEST_SUITE_P(Frequencies, SWOBassTest, ::testing::Values(20, 55, 110, 440, -440, 3000));

// A varying frequency recomputes the factor every sample.
TEST_F(SWOTest, BassFactorFollowsAVaryingFrequency) {
  ModuleHarness h("SWO");
  h.AddContext("Ctx", "F");
  h.Set("Frequency", "Ctx:F");
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 2000; ++k, h.Step()) {
    const double dFreq = 30 + k;
    h.Value("Ctx", "F") = dFreq;
    ASSERT_DOUBLE_EQ(h.Out("Output"), h.Out("Control") * (dFreq > 55 ? 55 / dFreq : 1)) << "sample " << k;
  }
}

// While bypassed the outputs rest (Positive at 0.5) and no wrap is announced; the phase then
// catches up as if it had run on.
TEST_F(SWOTest, BypassSilencesAndThePhaseCatchesUp) {
  for (const char* pszType : {"SWO", "LFSWO"}) {
    ModuleHarness h(pszType);
    h.AddContext("Ctx", "Off");
    h.Set("Waveform", "Sine");
    h.Set("Frequency", "1000");
    h.Set("Bypass", "Ctx:Off");
    ASSERT_EQ(h.Start(), 0);
    for (int k = 0; k < 400; ++k, h.Step()) {
      const bool bOff = k >= 100 && k < 250;
      h.Value("Ctx", "Off") = bOff;
      const double dWave = std::sin(2 * kPi * k * 1000 / kRate);
      ASSERT_NEAR(h.Out("Control"), bOff ? 0 : dWave, 2e-4) << pszType << " sample " << k;
      ASSERT_NEAR(h.Out("Output"), bOff ? 0 : h.Out("Control") * (std::string(pszType) == "SWO" ? 0.055 : 1), 1e-12);
      ASSERT_NEAR(h.Out("Positive"), bOff ? 0.5 : (dWave + 1) / 2, 1e-4);
      if (bOff) {
        ASSERT_EQ(h.Out("SyncOut"), -1);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Set-up messages and tables that cannot be built.

// SampleRange 1 is replaced by 2, with the message at its line: bands an octave apart.
TEST_F(SWOTest, SampleRangeOfOneIsReplacedByTwo) {
  const std::vector<Setting> aOctaves = {{"Frequency", "410"}, {"SampleFreqMin", "100"}, {"SampleRange", "2"}};
  const std::vector<double> adOctaves = RenderSWO("SWO", aOctaves, "Control", 500);
  ErrorList::Get()->Clear();
  ModuleHarness h("SWO");
  h.Set("Frequency", "410");
  h.Set("SampleFreqMin", "100");
  h.Set("SampleRange", "1", 7);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(ErrorLine("SWO:SampleRange must be positive; replacing value 1 with 2"), 7);
  EXPECT_EQ(h.Render("Control", 500), adOctaves);
}

// A varying Interpolate is reported, and the oscillator interpolates.
TEST_F(SWOTest, VaryingInterpolateIsReportedAndInterpolates) {
  const std::vector<Setting> aSet = {{"Frequency", "1234.5"}, {"Interpolate", "true"}};
  const std::vector<double> adInterpolated = RenderSWO("SWO", aSet, "Control", 500);
  ModuleHarness h("SWO");
  h.Set("Frequency", "1234.5");
  h.Set("Interpolate", "Note:Time < 100", 4);
  ASSERT_EQ(h.Start(), 0);
  EXPECT_EQ(ErrorLine("SWO:Interpolate must be a constant; defaulting to true"), 4);
  EXPECT_EQ(h.Render("Control", 500), adInterpolated);
}

struct UnbuildableCase {
  const char* pszType;
  std::vector<Setting> aSet;  // set at line 30 + position
  const char* pszLineVar;
  const char* pszMessage;  // the message, or how it starts
};
void PrintTo(const UnbuildableCase& c, std::ostream* os) { *os << c.pszMessage; }
class SWOUnbuildableTest : public SWOTest, public ::testing::WithParamInterface<UnbuildableCase> {};

// Settings whose tables would be endless, enormous or not numbers fail the helper's set-up with
// a message at the line of the variable concerned, quickly; the oscillator plays silence.
TEST_P(SWOUnbuildableTest, FailsWithAMessageAtTheVariablesLine) {
  const UnbuildableCase& c = GetParam();
  ModuleHarness h(c.pszType);
  h.Set("Frequency", "440");
  int iLine = -1;
  for (size_t i = 0; i < c.aSet.size(); ++i) {
    h.Set(c.aSet[i].pszVar, c.aSet[i].sFormula.c_str(), 30 + static_cast<int>(i));
    if (std::string(c.aSet[i].pszVar) == c.pszLineVar) iLine = 30 + static_cast<int>(i);
  }
  EXPECT_EQ(h.Start(), 1);
  EXPECT_EQ(ErrorLine(c.pszMessage, true), iLine) << c.pszMessage << "\n"
                                            << ::testing::PrintToString(ErrorTexts());
  EXPECT_EQ(ErrorEntries(), 1);
  for (int k = 0; k < 100; ++k, h.Step()) ASSERT_EQ(h.Out("Output"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SWOUnbuildableTest,
    ::testing::Values(
        UnbuildableCase{"SWO", {{"SampleFreqMin", "0"}}, "SampleFreqMin",
                        "SWO:SampleFreqMin must be a positive frequency; it is 0"},
        UnbuildableCase{"SWO", {{"SampleFreqMin", "0.001"}}, "SampleFreqMin",
                        "SWO: the band from 0.001 Hz needs a table of 176400000 points, more than 4194304"},
        UnbuildableCase{"SWO", {{"OversampForm", "0"}}, "OversampForm", "SWO:OversampForm must be positive; it is 0"},
        UnbuildableCase{"SWO", {{"HarmFreqMax", "1e300"}}, "HarmFreqMax", "SWO: the tables would sum "},
        UnbuildableCase{"SWO", {{"SampleFreqMin", "20000"}, {"SampleRange", "1.00001"}, {"SampleFreqMax", "1e300"}},
                        "SampleRange",
                        "SWO: SampleFreqMin to SampleFreqMax in steps of SampleRange makes more than 1000 bands"},
        UnbuildableCase{"SWO", {{"SampleFreqMin", "20000"}, {"SampleRange", "1.00001"}, {"SampleFreqMax", "1e999"}},
                        "SampleFreqMax",
                        "SWO: SampleFreqMin to SampleFreqMax in steps of SampleRange makes more than 1000 bands"},
        UnbuildableCase{"SWO", {{"SampleFreqMin", "1"}, {"SampleRange", "1.001"}, {"HarmFreqMax", "0"}},
                        "SampleFreqMin", "SWO: the bands need more than 8388608 table points in all"},
        UnbuildableCase{"SWO", {{"HarmonicForm", "1 / ( Harmonic - 3 )"}}, "HarmonicForm",
                        "SWO: harmonic 3 has amplitude inf and phase 0; both must be finite"},
        UnbuildableCase{"SWO", {{"Waveform", "Sine"}, {"PhaseForm", "1 / 0"}}, "PhaseForm",
                        "SWO: harmonic 1 has amplitude 1 and phase inf; both must be finite"},
        UnbuildableCase{"LFSWO", {{"Samples", "0"}}, "Samples", "LFSWO:Samples must be from 1 to 4194304; it is 0"},
        UnbuildableCase{"LFSWO", {{"HarmTo", "1e300"}}, "HarmTo", "LFSWO: the tables would sum "}));

// When the compiler removed the helper's variables there are no tables: the oscillator is silent.
TEST_F(SWOTest, WithoutTablesTheOscillatorIsSilent) {
  ModuleHarness h("SWO");
  h.Omit("HarmonicForm");
  h.Set("Frequency", "440");
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 100; ++k, h.Step()) {
    ASSERT_EQ(h.Out("Output"), 0);
    ASSERT_EQ(h.Out("Positive"), 0.5);
  }
}

}  // namespace

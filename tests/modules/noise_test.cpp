// Tests of the noise kinds "Noise" and "PinkNoise": white statistics and spectrum, seeding by
// voice, the pink spectrum of its three filters, the patch generator, bypass, allocation-free runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "module_harness.h"
#include "osc_signal.h"

namespace {

constexpr double kRate = 44100;

// The white generator as a mathematician would run it: the chaotic map s -> frac(s/2 + (s + 19)^2 / 2)
// from the seed voice + 1900/99, read as 2s - 1.
std::vector<double> WhiteMap(double dVoice, int n) {
  std::vector<double> ad;
  double s = dVoice + 1900.0 / 99.0;
  for (int i = 0; i < n; ++i) {
    s = 0.5 * s + 0.5 * (s + 19) * (s + 19);
    s -= std::trunc(s);
    ad.push_back(2 * s - 1);
  }
  return ad;
}

std::vector<double> RenderNoise(const char* pszType, const char* pszVoice, int n, uint32_t uSeed = 1,
                                const char* pszColor = nullptr) {
  ModuleHarness h(pszType);
  if (pszVoice) h.AddContext("Note", "VoiceNum", pszVoice);
  if (pszColor) h.Set("Color", pszColor);
  h.uRandom = uSeed;
  h.Start();
  return h.Render("Output", n);
}

double Autocorrelation(const std::vector<double>& ad, size_t nLag) {
  const double dMean = Mean(ad);
  double dNum = 0, dDen = 0;
  for (size_t i = 0; i < ad.size(); ++i) {
    dDen += (ad[i] - dMean) * (ad[i] - dMean);
    if (i + nLag < ad.size()) dNum += (ad[i] - dMean) * (ad[i + nLag] - dMean);
  }
  return dNum / dDen;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// White noise.

class WhiteNoiseTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WhiteNoiseTest, UniformZeroMeanAndUncorrelated) {
  std::vector<double> ad = RenderNoise("Noise", GetParam(), 1 << 17);
  int anBin[10] = {};
  for (double d : ad) {
    ASSERT_GE(d, -1);
    ASSERT_LT(d, 1);
    ++anBin[static_cast<int>((d + 1) * 5)];
  }
  // Uniform on -1..1: mean 0, variance 1/3, a tenth of the values in each tenth of the range.
  EXPECT_NEAR(Mean(ad), 0, 0.01);
  EXPECT_NEAR(MeanSquare(ad) - Mean(ad) * Mean(ad), 1.0 / 3, 0.01);
  for (int n : anBin) EXPECT_NEAR(n / static_cast<double>(ad.size()), 0.1, 0.01);
  for (size_t nLag = 1; nLag <= 8; ++nLag) EXPECT_LT(std::fabs(Autocorrelation(ad, nLag)), 0.05) << "lag " << nLag;
}

TEST_P(WhiteNoiseTest, SpectrumIsFlat) {
  constexpr size_t kFft = 1024;
  std::vector<double> adPower = AveragedSpectrum(RenderNoise("Noise", GetParam(), 1 << 17), kFft);
  // Spectral flatness (geometric over arithmetic mean of the power): 1 for a flat spectrum.
  double dLog = 0, dSum = 0;
  for (size_t k = 1; k < kFft / 2; ++k) dLog += std::log(adPower[k]), dSum += adPower[k];
  const double n = kFft / 2 - 1;
  EXPECT_GT(std::exp(dLog / n) / (dSum / n), 0.95);
  // Every octave band holds the same power per hertz, within half a decibel.
  const double dAll = BandMean(adPower, kFft, kRate, 300, 19200);
  for (double f = 300; f < 19200; f *= 2)
    EXPECT_NEAR(PowerDb(BandMean(adPower, kFft, kRate, f, 2 * f) / dAll), 0, 0.5) << f << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Voices, WhiteNoiseTest, ::testing::Values("0", "1", "7"));

// The sequence is the map's from the voice's number: the same voice gives the same sequence every
// run, another voice another sequence; a module without a voice plays voice 0's.
struct SeedCase {
  const char* pszVoice;  // Note:VoiceNum formula, or none
  bool bPerPatch;
  double dVoiceMeant;
};
void PrintTo(const SeedCase& c, std::ostream* os) {
  *os << "voice " << (c.pszVoice ? c.pszVoice : "none") << (c.bPerPatch ? " per patch" : "");
}
class NoiseSeedTest : public ::testing::TestWithParam<SeedCase> {};

TEST_P(NoiseSeedTest, SequenceFollowsTheMapFromTheVoiceNumber) {
  const SeedCase& c = GetParam();
  ModuleHarness h("Noise", kRate, c.bPerPatch);
  if (c.pszVoice) h.AddContext("Note", "VoiceNum", c.pszVoice);
  h.Start();
  std::vector<double> adExpected = WhiteMap(c.dVoiceMeant, 40);
  std::vector<double> ad = h.Render("Output", 40);
  for (size_t i = 0; i < ad.size(); ++i) ASSERT_NEAR(ad[i], adExpected[i], 1e-9) << "sample " << i;
}

INSTANTIATE_TEST_SUITE_P(Voices, NoiseSeedTest,
                         ::testing::Values(SeedCase{"0", false, 0}, SeedCase{"3", false, 3}, SeedCase{"11", false, 11},
                                           SeedCase{"1 + 1", false, 2}, SeedCase{nullptr, false, 0},
                                           SeedCase{nullptr, true, 0}));

// In a sub-patch the module reads the Note of its own level (which re-exports the voice's).
TEST(NoiseTest, SeedComesFromTheNoteOfTheModulesLevel) {
  ModuleHarness h("Noise");
  h.PlaceInSubPatch();
  h.AddContextAt(1, "Note", "VoiceNum", "9");
  h.AddContext("Note", "VoiceNum", "5");
  h.Start();
  std::vector<double> ad = h.Render("Output", 10), adExpected = WhiteMap(5, 10);
  for (size_t i = 0; i < ad.size(); ++i) ASSERT_NEAR(ad[i], adExpected[i], 1e-9) << "sample " << i;
}

TEST(NoiseTest, VoicesGiveDifferentSequencesAndAVoiceTheSameOneEachTime) {
  std::vector<double> ad1 = RenderNoise("Noise", "1", 1000), ad2 = RenderNoise("Noise", "2", 1000);
  EXPECT_EQ(RenderNoise("Noise", "1", 1000), ad1);
  int nEqual = 0;
  for (size_t i = 0; i < ad1.size(); ++i) nEqual += ad1[i] == ad2[i];
  EXPECT_LT(nEqual, 5);
}

TEST(NoiseTest, SeededOnceInTheModulesLife) {
  // A new note in the same voice goes on with the sequence instead of repeating it.
  ModuleHarness h("Noise");
  h.AddContext("Note", "VoiceNum", "4");
  h.Start();
  std::vector<double> ad = h.Render("Output", 20);
  h.Retrigger();
  std::vector<double> adMore = h.Render("Output", 20);
  ad.insert(ad.end(), adMore.begin(), adMore.end());
  std::vector<double> adExpected = WhiteMap(4, 40);
  for (size_t i = 0; i < ad.size(); ++i) ASSERT_NEAR(ad[i], adExpected[i], 1e-9) << "sample " << i;
}

TEST(NoiseTest, WhiteLeavesThePatchGeneratorAlone) {
  ModuleHarness h("Noise");
  h.uRandom = 12345;
  h.Start();
  h.Render("Output", 100);
  EXPECT_EQ(h.uRandom, 12345u);
}

// Bypass silences; the sequence stands still meanwhile and goes on afterwards.
TEST(NoiseTest, BypassSilencesAndHoldsTheSequence) {
  for (const char* pszType : {"Noise", "PinkNoise"}) {
    ModuleHarness h(pszType);
    h.AddContext("Ctx", "Off");
    h.AddContext("Note", "VoiceNum", "5");
    h.Set("Bypass", "Ctx:Off");
    h.Set("Color", "White");
    h.Start();
    std::vector<double> adExpected = WhiteMap(5, 60);
    size_t iNext = 0;
    for (int n = 0; n < 100; ++n, h.Step()) {
      const bool bOff = n >= 30 && n < 70;
      h.Value("Ctx", "Off") = bOff;
      const double dExpected = bOff ? 0 : adExpected[iNext++];
      ASSERT_NEAR(h.Out("Output"), dExpected, 1e-9) << pszType << " sample " << n;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Pink noise.

namespace {
// The generator of the patch, advanced n times.
uint32_t Advance(uint32_t u, int n) {
  for (int i = 0; i < n; ++i) u = u * 214013u + 2531011u;
  return u;
}
}  // namespace

class PinkNoiseTest : public ::testing::TestWithParam<const char*> {};

// Pink noise draws three numbers per sample from the patch's generator, so the same seed gives
// the same noise and another seed other noise.
TEST_P(PinkNoiseTest, DrawsThreeNumbersPerSampleFromThePatchGenerator) {
  constexpr int kSamples = 500;
  ModuleHarness h("Noise");
  h.Set("Color", GetParam());
  h.uRandom = 777;
  h.Start();
  std::vector<double> ad = h.Render("Output", kSamples);
  EXPECT_EQ(h.uRandom, Advance(777, 3 * kSamples));
  EXPECT_EQ(RenderNoise("Noise", nullptr, kSamples, 777, GetParam()), ad);
  std::vector<double> adOther = RenderNoise("Noise", nullptr, kSamples, 778, GetParam());
  // The filters start from 0, so both begin pinned at -1 until they have filled (a few hundred
  // samples at most); compare after that.
  int nEqual = 0;
  for (size_t i = 300; i < ad.size(); ++i) nEqual += ad[i] == adOther[i];
  EXPECT_LT(nEqual, 5);
}

// Every colour but "White" is pink.
INSTANTIATE_TEST_SUITE_P(Colours, PinkNoiseTest, ::testing::Values("Pink", "Sine", "Unset", "None"));

TEST(NoiseTest, PinkNoiseKindIsPinkByDefault) {
  ModuleHarness h("PinkNoise");
  h.uRandom = 99;
  h.Start();
  h.Render("Output", 10);
  EXPECT_EQ(h.uRandom, Advance(99, 30));
}

// Without its Color row (dropped by the compiler) each kind keeps its own colour.
TEST(NoiseTest, DroppedColourKeepsTheKindsDefault) {
  for (const char* pszType : {"Noise", "PinkNoise"}) {
    ModuleHarness h(pszType);
    h.Omit("Color");
    h.uRandom = 5;
    h.Start();
    h.Render("Output", 10);
    EXPECT_EQ(h.uRandom, std::string(pszType) == "Noise" ? 5u : Advance(5, 30)) << pszType;
  }
}

// Three one-pole lowpasses of independent uniform draws, summed with their weights: the power
// spectrum at frequency f (cycles per sample) is var(draw) * g^2 * sum w^2 (1 - a)^2 / |1 - a e^-j2pi f|^2,
// with g = 4 * 2/32767 the output scaling.
double PinkModel(double f) {
  const double aa[] = {0.319, 0.7756, 0.9613}, aw[] = {0.02109238, 0.07113478, 0.68873558};
  const double dVarDraw = (32768.0 * 32768.0 - 1) / 12, g = 4 * 2 / 32767.0;
  double d = 0;
  for (int i = 0; i < 3; ++i)
    d += aw[i] * aw[i] * (1 - aa[i]) * (1 - aa[i]) / (1 - 2 * aa[i] * std::cos(2 * kPi * f) + aa[i] * aa[i]);
  return dVarDraw * g * g * d;
}

TEST(NoiseTest, PinkSpectrumFallsAsItsFiltersSay) {
  constexpr size_t kFft = 8192;
  constexpr int kSamples = 1 << 19;
  std::vector<double> ad = RenderNoise("PinkNoise", nullptr, kSamples, 2024);
  for (double d : ad) ASSERT_TRUE(d >= -1 && d <= 1) << d;
  EXPECT_NEAR(Mean(ad), 0, 0.01);

  std::vector<double> adPower = AveragedSpectrum(ad, kFft), adModel(adPower.size());
  for (size_t k = 0; k < adModel.size(); ++k) adModel[k] = PinkModel(static_cast<double>(k) / kFft);
  // Octave bands from 40 Hz: each within 0.75 dB of the filters' response.
  std::vector<double> adBandDb, adOctave;
  for (double f = 40; f < 20000; f *= 2) {
    const double dMeasured = BandMean(adPower, kFft, kRate, f, 2 * f);
    EXPECT_NEAR(PowerDb(dMeasured / BandMean(adModel, kFft, kRate, f, 2 * f)), 0, 0.75) << f << " Hz";
    adBandDb.push_back(PowerDb(dMeasured));
    adOctave.push_back(std::log2(f));
  }
  // Falling 3 to 4 dB per octave on average over the audio band (least-squares slope of the band
  // levels), though flat at the bottom and steeper in the upper middle.
  const double xm = Mean(adOctave), ym = Mean(adBandDb);
  double dNum = 0, dDen = 0;
  for (size_t i = 0; i < adBandDb.size(); ++i) {
    dNum += (adOctave[i] - xm) * (adBandDb[i] - ym);
    dDen += (adOctave[i] - xm) * (adOctave[i] - xm);
  }
  EXPECT_NEAR(dNum / dDen, -3.5, 1.0) << "dB per octave";
}

TEST(NoiseTest, PinkNeverLeavesTheRangeWhateverTheSeed) {
  for (uint32_t uSeed : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    std::vector<double> ad = RenderNoise("PinkNoise", nullptr, 100000, uSeed);
    for (double d : ad) ASSERT_TRUE(d >= -1 && d <= 1) << "seed " << uSeed;
    EXPECT_GT(MeanSquare(ad), 0.01) << "seed " << uSeed;
  }
}

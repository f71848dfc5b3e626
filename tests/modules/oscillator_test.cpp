// Tests of the oscillator kinds "Osc" and "LFO": pitch, levels, shapes, band-limiting, duty,
// power, note restarts and the LFO's outputs (phase and sync: oscphase_test.cpp; declarations:
// tests/data/modules).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "module_harness.h"
#include "modules/oscillator.h"
#include "osc_signal.h"

namespace {

constexpr double kRate = 44100;

// A formula setting of the module under test.
struct Setting {
  const char* pszVar;
  std::string sFormula;
};

// Renders n samples of one output of a fresh module.
std::vector<double> RenderOsc(const char* pszType, const std::vector<Setting>& aSet, const char* pszOut, int n,
                              double dRate = kRate) {
  ModuleHarness h(pszType, dRate);
  for (const Setting& set : aSet) h.Set(set.pszVar, set.sFormula.c_str());
  h.Start();
  return h.Render(pszOut, n);
}

// Where the ideal wave jumps or bends: phases to keep away from when comparing samples.
std::vector<double> Edges(const std::string& sWave, double D) {
  if (sWave.rfind("Sawtooth", 0) == 0) return {0, 1};
  if (sWave == "Triangle") return {0, D / 2, 1 - D / 2, 1};
  return {0, D, 1};
}

}  // namespace

// Single cases of the oscillator group.
class OscTest : public SineTableTest {};

// ---------------------------------------------------------------------------------------------
// Pitch: every waveform at several frequencies and two sample rates, by zero crossings.

using PitchCase = std::tuple<const char*, std::pair<double, double>>;  // waveform, (frequency, rate)
class OscPitchTest : public SineTableTest, public ::testing::WithParamInterface<PitchCase> {};

TEST_P(OscPitchTest, ZeroCrossingsGiveTheFrequency) {
  const auto& [pszWave, freqRate] = GetParam();
  const auto [dFreq, dRate] = freqRate;
  std::vector<double> ad =
      RenderOsc("Osc", {{"Waveform", pszWave}, {"Frequency", Num(dFreq)}}, "Control", static_cast<int>(dRate), dRate);
  EXPECT_NEAR(CrossingFrequency(ad, dRate), dFreq, dFreq * 5e-4) << pszWave;
}

INSTANTIATE_TEST_SUITE_P(EveryWaveform, OscPitchTest,
                         ::testing::Combine(::testing::Values("Sawtooth", "SawtoothNA", "Square", "SquareNA",
                                                              "Triangle", "Sine", "SawPulse", "SawPulseNA"),
                                            ::testing::Values(std::pair{55.0, 44100.0}, std::pair{440.0, 44100.0},
                                                              std::pair{1234.5, 44100.0}, std::pair{4000.0, 44100.0},
                                                              std::pair{440.0, 48000.0}, std::pair{3000.0, 48000.0})));

// ---------------------------------------------------------------------------------------------
// Level: the fundamental of the audio output is one unit, times the bass factor.

struct LevelCase {
  const char* pszWave;
  double dDuty, dFreq;
};
void PrintTo(const LevelCase& c, std::ostream* os) {
  *os << c.pszWave << " duty " << c.dDuty << " at " << c.dFreq << " Hz";
}
class OscLevelTest : public SineTableTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(OscLevelTest, FundamentalIsOneUnitTimesBassFactor) {
  const LevelCase& c = GetParam();
  std::vector<double> ad =
      RenderOsc("Osc", {{"Waveform", c.pszWave}, {"Duty", Num(c.dDuty)}, {"Frequency", Num(c.dFreq)}}, "Output", kRate);
  const double dBass = std::min(1.0, 55 / c.dFreq);  // FreqFullBass is 55 Hz by default
  EXPECT_NEAR(BinAmplitude(ad, c.dFreq, kRate), dBass, 2e-3 * dBass) << c.pszWave << " " << c.dDuty;
}

INSTANTIATE_TEST_SUITE_P(SymmetricShapes, OscLevelTest,
                         ::testing::Values(LevelCase{"Sawtooth", .5, 50}, LevelCase{"SawtoothNA", .5, 110},
                                           LevelCase{"Square", .5, 50}, LevelCase{"SquareNA", .5, 220},
                                           LevelCase{"Triangle", .5, 110}, LevelCase{"Triangle", 0, 50},
                                           LevelCase{"Sine", .5, 50}, LevelCase{"Sine", .5, 220},
                                           LevelCase{"SawPulse", 0, 110}, LevelCase{"SawPulseNA", 0, 50}));

// AudioAmpAdj and DCOffset: the normalisation constant of the shape times the bass factor, and
// the offset the audio output adds to the raw wave.
struct AmpCase {
  const char* pszWave;
  double dDuty, dFreq, dFullBass, dAmpAdj, dDC;
};
void PrintTo(const AmpCase& c, std::ostream* os) {
  *os << c.pszWave << " duty " << c.dDuty << " at " << c.dFreq << " Hz, full bass " << c.dFullBass;
}
class OscAmpAdjTest : public SineTableTest, public ::testing::WithParamInterface<AmpCase> {};

TEST_P(OscAmpAdjTest, NormalisationAndOffset) {
  const AmpCase& c = GetParam();
  for (bool bDynamic : {false, true}) {
    ModuleHarness h("Osc");
    const double dFullBassWas = TheEngine()->dFreqFullBass;
    TheEngine()->dFreqFullBass = c.dFullBass;
    h.AddContext("Ctx", "F");
    h.Set("Waveform", c.pszWave);
    h.Set("Duty", Num(c.dDuty).c_str());
    h.Set("Frequency", bDynamic ? "Ctx:F" : Num(c.dFreq).c_str());
    h.Start();
    h.Value("Ctx", "F") = c.dFreq;
    for (int i = 0; i < 3; ++i, h.Step()) {
      EXPECT_NEAR(h.Out("AudioAmpAdj"), c.dAmpAdj, 1e-12) << c.pszWave << (bDynamic ? " dynamic" : "");
      EXPECT_NEAR(h.Out("DCOffset"), c.dDC, 1e-12) << c.pszWave;
    }
    TheEngine()->dFreqFullBass = dFullBassWas;
  }
}

constexpr double kTriangleK = kPi * kPi / 8;
INSTANTIATE_TEST_SUITE_P(Shapes, OscAmpAdjTest,
                         ::testing::Values(AmpCase{"Sawtooth", .5, 30, 55, kPi / 2, 0},   // below FullBass: full level
                                           AmpCase{"Sawtooth", .5, 110, 55, kPi / 4, 0},  // twice FullBass: half
                                           AmpCase{"SawtoothNA", .5, -110, 55, kPi / 4, 0},  // the bass factor uses |F|
                                           AmpCase{"Sawtooth", .5, 0, 55, kPi / 2, 0},       // frequency 0: factor 1
                                           AmpCase{"Sawtooth", .5, 200, 100, kPi / 4, 0},    // FullBass from the engine
                                           AmpCase{"Square", .5, 55, 55, kPi / 4, 0},  // exactly FullBass: full level
                                           AmpCase{"SquareNA", .25, 20, 55, kPi / 4, .5},   // DC 1 - 2D
                                           AmpCase{"Triangle", .5, 20, 55, kTriangleK, 0},  // symmetric triangle
                                           AmpCase{"Triangle", 0, 20, 55, kPi / 2, 0},      // a falling ramp
                                           AmpCase{"Triangle", .25, 20, 55, .75 * kTriangleK + .25 * kPi / 2, 0},
                                           AmpCase{"Sine", .3, 220, 55, .25, 0},
                                           AmpCase{"SawPulse", .5, 27.5, 55, kPi / 2, .25},   // DC (1 - D)^2
                                           AmpCase{"SawPulseNA", 0, 27.5, 55, kPi / 2, 1}));  // duty 0: plain saw, DC 1

// The audio output has no DC: the offset is minus the raw wave's mean (duty D square: 2D - 1;
// saw-pulse: -(1 - D)^2). Naive shapes sampled half a sample away from every edge, with a whole
// number of samples in each part, show it exactly; the ramped ones over whole cycles at a
// frequency prime to the rate, where the ramps average out.
struct MeanCase {
  const char* pszWave;
  double dDuty;
};
void PrintTo(const MeanCase& c, std::ostream* os) { *os << c.pszWave << " duty " << c.dDuty; }
class OscMeanTest : public SineTableTest, public ::testing::WithParamInterface<MeanCase> {};

TEST_P(OscMeanTest, AudioOutputHasNoDC) {
  const MeanCase& c = GetParam();
  const bool bNaive = std::string(c.pszWave).ends_with("NA");
  constexpr int kPeriod = 400;  // samples per cycle of the naive case: D * 400 is a whole number
  const double dFreq = bNaive ? kRate / kPeriod : 97.3;
  const int nSamples = bNaive ? 100 * kPeriod : static_cast<int>(200 * kRate / dFreq);
  std::vector<double> ad = RenderOsc("Osc",
                                     {{"Waveform", c.pszWave},
                                      {"Duty", Num(c.dDuty)},
                                      {"Frequency", Num(dFreq)},
                                      {"PhaseIn", Num(bNaive ? 0.5 / kPeriod : 0)}},
                                     "Output", nSamples);
  EXPECT_NEAR(Mean(ad), 0, bNaive ? 1e-9 : 1e-3) << c.pszWave << " duty " << c.dDuty;
  EXPECT_GT(MeanSquare(ad), 0.05) << "not silent";
}

INSTANTIATE_TEST_SUITE_P(DutyShapes, OscMeanTest,
                         ::testing::Values(MeanCase{"Square", .1}, MeanCase{"SquareNA", .25}, MeanCase{"Square", .6},
                                           MeanCase{"SquareNA", .9}, MeanCase{"SawPulse", .25},
                                           MeanCase{"SawPulseNA", .6}, MeanCase{"SawPulseNA", .9}));

// ---------------------------------------------------------------------------------------------
// Shapes: the naive shapes follow the drawn waves sample by sample.

struct ShapeCase {
  const char* pszWave;
  double dDuty;       // as written in the patch
  double dDutyMeant;  // wrapped into 0..1
  double dFreq;
};
void PrintTo(const ShapeCase& c, std::ostream* os) {
  *os << c.pszWave << " duty " << c.dDuty << " at " << c.dFreq << " Hz";
}
class OscShapeTest : public SineTableTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(OscShapeTest, ControlFollowsTheIdealWave) {
  const ShapeCase& c = GetParam();
  for (bool bDynamic : {false, true}) {
    ModuleHarness h("Osc");
    h.AddContext("Ctx", "D");
    h.Set("Waveform", c.pszWave);
    h.Set("Frequency", Num(c.dFreq).c_str());
    h.Set("Duty", bDynamic ? "Ctx:D" : Num(c.dDuty).c_str());
    h.Start();
    h.Value("Ctx", "D") = c.dDuty;
    int nCompared = 0;
    for (int n = 0; n < 2000; ++n, h.Step()) {
      double p = PhaseAt(n, c.dFreq);
      double dControl = h.Out("Control");
      bool bNearEdge = false;
      for (double dEdge : Edges(c.pszWave, c.dDutyMeant)) bNearEdge |= std::fabs(p - dEdge) < 1e-9;
      if (bNearEdge) continue;
      ASSERT_NEAR(dControl, IdealWave(c.pszWave, p, c.dDutyMeant), 1e-6)
          << c.pszWave << " duty " << c.dDuty << (bDynamic ? " dynamic" : "") << " sample " << n;
      ++nCompared;
    }
    EXPECT_GT(nCompared, 1900);
  }
}

INSTANTIATE_TEST_SUITE_P(NaiveShapes, OscShapeTest,
                         ::testing::Values(ShapeCase{"SawtoothNA", .5, .5, 123.45},
                                           ShapeCase{"SquareNA", .5, .5, 123.45}, ShapeCase{"SquareNA", .2, .2, 321.9},
                                           ShapeCase{"SquareNA", 1.25, .25, 321.9},
                                           ShapeCase{"SquareNA", -.25, .75, 321.9},
                                           ShapeCase{"Triangle", .5, .5, 123.45}, ShapeCase{"Triangle", .2, .2, 250.3},
                                           ShapeCase{"Triangle", 0, 0, 250.3}, ShapeCase{"Triangle", 1.9, .9, 250.3},
                                           ShapeCase{"Sine", .5, .5, 123.45}, ShapeCase{"Sine", .3, .3, 97.1},
                                           ShapeCase{"Sine", -.2, .8, 97.1}, ShapeCase{"SawPulseNA", 0, 0, 123.45},
                                           ShapeCase{"SawPulseNA", .4, .4, 123.45}));

// Duty: the share of each cycle spent in the first part of the wave.
struct DutyCase {
  const char* pszWave;
  double dDuty, dShare;
};
void PrintTo(const DutyCase& c, std::ostream* os) { *os << c.pszWave << " duty " << c.dDuty; }
class OscDutyTest : public SineTableTest, public ::testing::WithParamInterface<DutyCase> {};

TEST_P(OscDutyTest, FirstPartLastsTheDuty) {
  const DutyCase& c = GetParam();
  constexpr int kPeriod = 400, kCycles = 20;
  for (bool bDynamic : {false, true}) {
    ModuleHarness h("Osc");
    h.AddContext("Ctx", "D");
    h.Set("Waveform", c.pszWave);
    h.Set("Frequency", Num(kRate / kPeriod).c_str());
    h.Set("PhaseIn", Num(0.5 / kPeriod).c_str());  // no sample falls on an edge
    h.Set("Duty", bDynamic ? "Ctx:D" : Num(c.dDuty).c_str());
    h.Start();
    h.Value("Ctx", "D") = c.dDuty;
    int nFirst = 0;
    for (double d : h.Render("Control", kPeriod * kCycles))
      nFirst += std::strncmp(c.pszWave, "SawPulse", 8) == 0 ? d > -0.5 : d > 0;  // saw part ends at 1 - 2D
    EXPECT_EQ(nFirst, static_cast<int>(std::lround(c.dShare * kPeriod * kCycles)))
        << c.pszWave << " duty " << c.dDuty << (bDynamic ? " dynamic" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(Duties, OscDutyTest,
                         ::testing::Values(DutyCase{"Square", .5, .5}, DutyCase{"Square", .1, .1},
                                           DutyCase{"SquareNA", .75, .75}, DutyCase{"Square", 1.25, .25},
                                           DutyCase{"SquareNA", -.25, .75}, DutyCase{"Sine", .3, .3},
                                           DutyCase{"Sine", 2.6, .6}, DutyCase{"SawPulse", .35, .35},
                                           DutyCase{"SawPulseNA", -1.5, .5}));

// ---------------------------------------------------------------------------------------------
// Band-limiting.

// An edge that falls on a sample reads the middle of the jump; every sample a whole sample or more
// from an edge reads the naive wave.
struct EdgeCase {
  const char* pszWave;
  double dDuty;
};
void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.pszWave << " duty " << c.dDuty; }
class OscEdgeTest : public SineTableTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(OscEdgeTest, JumpsBecomeRampsThroughTheMiddle) {
  const EdgeCase& c = GetParam();
  constexpr int kPeriod = 8;  // an edge at every 4th sample
  std::vector<double> ad =
      RenderOsc("Osc", {{"Waveform", c.pszWave}, {"Duty", Num(c.dDuty)}, {"Frequency", Num(kRate / kPeriod)}},
                "Control", 10 * kPeriod);
  for (int n = 0; n < static_cast<int>(ad.size()); ++n) {
    const int i = n % kPeriod;
    const double p = static_cast<double>(i) / kPeriod;
    const bool bEdge = i == 0 || (c.pszWave != std::string("Sawtooth") && i == static_cast<int>(c.dDuty * kPeriod));
    const double dExpected = bEdge ? 0 : IdealWave(c.pszWave, p, c.dDuty);
    EXPECT_NEAR(ad[static_cast<size_t>(n)], dExpected, 1e-9) << c.pszWave << " sample " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(BandLimited, OscEdgeTest,
                         ::testing::Values(EdgeCase{"Sawtooth", .5}, EdgeCase{"Square", .5}, EdgeCase{"Square", .25}));

// At a high fundamental the energy folded back from above Nyquist (everything but the harmonics
// below Nyquist and DC) is much lower with the ramps than with the naive jumps.
struct AliasCase {
  const char* pszLimited;
  const char* pszNaive;
  double dDuty;
};
void PrintTo(const AliasCase& c, std::ostream* os) { *os << c.pszLimited << " duty " << c.dDuty; }
class OscAliasTest : public SineTableTest, public ::testing::WithParamInterface<AliasCase> {};

namespace {
// Power of a signal outside DC and the harmonics of dFreq below Nyquist. dFreq in whole hertz and
// one second of samples, so every harmonic and every alias falls on its own DFT bin.
double AliasedPower(const std::vector<double>& ad, double dFreq) {
  double dPower = MeanSquare(ad) - Mean(ad) * Mean(ad);
  for (double f = dFreq; f < kRate / 2; f += dFreq) dPower -= std::pow(BinAmplitude(ad, f, kRate), 2) / 2;
  return dPower;
}
}  // namespace

TEST_P(OscAliasTest, RampsCutTheAliasedEnergy) {
  const AliasCase& c = GetParam();
  constexpr double kFreq = 3001;  // prime to the rate: no alias lands on a harmonic
  auto render = [&](const char* pszWave) {
    return RenderOsc("Osc", {{"Waveform", pszWave}, {"Duty", Num(c.dDuty)}, {"Frequency", Num(kFreq)}}, "Control",
                     kRate);
  };
  std::vector<double> adLimited = render(c.pszLimited), adNaive = render(c.pszNaive);
  const double dLimited = AliasedPower(adLimited, kFreq), dNaive = AliasedPower(adNaive, kFreq);
  // The naive wave folds back a sizeable share of its power: a listener hears it.
  EXPECT_GT(dNaive / MeanSquare(adNaive), 0.01) << c.pszNaive;
  // The ramps take at least 6 dB off the aliases (half their power) ...
  EXPECT_LT(PowerDb(dLimited / dNaive), -6) << c.pszLimited;
  // ... and leave the fundamental within 0.5 dB.
  EXPECT_NEAR(PowerDb(std::pow(BinAmplitude(adLimited, kFreq, kRate) / BinAmplitude(adNaive, kFreq, kRate), 2)), 0, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Pairs, OscAliasTest,
                         ::testing::Values(AliasCase{"Sawtooth", "SawtoothNA", .5}, AliasCase{"Square", "SquareNA", .5},
                                           AliasCase{"Square", "SquareNA", .3}, AliasCase{"SawPulse", "SawPulseNA", .5},
                                           AliasCase{"SawPulse", "SawPulseNA", .2}));

// ---------------------------------------------------------------------------------------------
// Power shaping: |wave| ^ Power with the sign kept.

struct PowerCase {
  const char* pszWave;
  double dPower;
};
void PrintTo(const PowerCase& c, std::ostream* os) { *os << c.pszWave << " power " << c.dPower; }
class OscPowerTest : public SineTableTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(OscPowerTest, ShapesTheMagnitudeKeepingTheSign) {
  const PowerCase& c = GetParam();
  constexpr double kFreq = 150.7;
  for (bool bDynamic : {false, true}) {
    ModuleHarness h("Osc");
    h.AddContext("Ctx", "P");
    h.Set("Waveform", c.pszWave);
    h.Set("Frequency", Num(kFreq).c_str());
    h.Set("Power", bDynamic ? "Ctx:P" : Num(c.dPower).c_str());
    h.Start();
    h.Value("Ctx", "P") = c.dPower;
    const double dK = h.Out("AudioAmpAdj");
    for (int n = 0; n < 1000; ++n, h.Step()) {
      const double w = IdealWave(c.pszWave, PhaseAt(n, kFreq), .5);
      const double dShaped = std::copysign(std::pow(std::fabs(w), c.dPower), w);
      ASSERT_NEAR(h.Out("Control"), dShaped, 2e-6) << c.pszWave << " ^ " << c.dPower << " sample " << n;
      ASSERT_NEAR(h.Out("Output"), dShaped * dK, 2e-6);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Powers, OscPowerTest,
                         ::testing::Values(PowerCase{"Sine", 2}, PowerCase{"Sine", 0.5}, PowerCase{"SawtoothNA", 3},
                                           PowerCase{"Triangle", 2}, PowerCase{"Sine", 1}));

// ---------------------------------------------------------------------------------------------
// Note restarts, frequency 0, unknown waveforms (phase, sync and bypass: oscphase_test.cpp).

TEST_F(OscTest, RetriggerStartsTheWaveAfresh) {
  for (const char* pszOut : {"Output", "PhaseOut", "SyncOut"}) {
    ModuleHarness h("Osc");
    h.Set("Frequency", "1234.5");
    h.Start();
    std::vector<double> adFirst = h.Render(pszOut, 300);
    h.Step();
    EXPECT_GT(h.Out("PhaseOut"), 0.01) << "the wave has moved on";
    h.Retrigger();
    EXPECT_EQ(h.Render(pszOut, 300), adFirst) << pszOut;
  }
}

TEST_F(OscTest, FrequencyZeroHoldsTheStartOfTheWave) {
  // No band-limiting at frequency 0: the sawtooth sits at its naive start value 1.
  ModuleHarness h("Osc");
  h.Set("Frequency", "0");
  h.Start();
  for (int n = 0; n < 50; ++n, h.Step()) {
    ASSERT_EQ(h.Out("Control"), 1);
    ASSERT_DOUBLE_EQ(h.Out("Output"), kPi / 2);
    ASSERT_EQ(h.Out("SyncOut"), -1);
  }
}

TEST_F(OscTest, UnknownWaveformIsReportedEverySampleAndPlaysASawtooth) {
  for (const char* pszKeyword : {"RevSawtooth", "SH", "White"}) {
    ErrorList::Get()->Clear();
    std::vector<double> adSaw = RenderOsc("Osc", {{"Frequency", "700"}}, "Output", 10);
    ModuleHarness h("Osc", kRate, false, "Osc2");
    h.Set("Waveform", pszKeyword);
    h.Set("Frequency", "700");
    h.Start();
    EXPECT_EQ(h.Render("Output", 10), adSaw) << pszKeyword;
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{"Osc2:Waveform - unknown keyword x10"}) << pszKeyword;
  }
  ErrorList::Get()->Clear();
}

// The sine divides its phase by the duty and by the rest of the cycle every sample; where the
// divisor's reciprocal is exact the quotient is taken as a product, which must round alike. Every
// pair of divisor and dividend below gives the division's bits (NaN stays NaN).
TEST(OscDivisorTest, ProductOnlyWhereItEqualsTheQuotient) {
  const double adDivisor[] = {0.5,   0.25,   1,    0.125, 0x1p-1022, 0x1p-1074, 0x1p-1030, 0x1p1023, 0.3,
                              0.75,  0.7,    1e-300, 0,   -0.5,      NAN,       INFINITY,  std::nextafter(0.5, 1.0)};
  const double adValue[] = {0.0,  -0.0, 0.2, 0.25, 0.49999999999999994, 1e-310, 0x1p-1074, 0.1, 1e300, DBL_MAX,
                            -0.3, NAN,  INFINITY, 0.123456789012345678};
  for (double d : adDivisor) {
    ExactDivisor div;
    div.Set(d);
    for (double x : adValue) {
      const double dWant = x / d, dGot = div.Divide(x);
      if (std::isnan(dWant)) {
        EXPECT_TRUE(std::isnan(dGot)) << x << " / " << d;
      } else {
        EXPECT_EQ(std::bit_cast<uint64_t>(dGot), std::bit_cast<uint64_t>(dWant)) << x << " / " << d;
      }
    }
  }
}

// A duty that changes every sample re-divides at once: a sine whose duty alternates between 0.5
// (divided as a product) and 0.3 gives on each sample what the sine at that duty gives.
TEST_F(OscTest, SineFollowsADutyThatChangesEverySample) {
  const int n = 3000;
  std::vector<double> adAt[2];
  const char* apszDuty[2] = {"0.5", "0.3"};
  for (int i = 0; i < 2; ++i)
    adAt[i] = RenderOsc("Osc", {{"Waveform", "Sine"}, {"Frequency", "1234.5"}, {"Duty", apszDuty[i]}}, "Output", n);
  ModuleHarness h("Osc");
  h.AddContext("Ctx", "Duty");
  h.Set("Waveform", "Sine");
  h.Set("Frequency", "1234.5");
  h.Set("Duty", "Ctx:Duty");
  h.Start();
  for (int j = 0; j < n; ++j) {
    if (j) h.Step();
    h.Value("Ctx", "Duty") = j % 2 ? 0.3 : 0.5;
    ASSERT_EQ(h.Out("Output"), adAt[j % 2][j]) << "sample " << j;
  }
}

// A variable the compiler dropped (nothing set or read it) keeps the default of its row.
TEST_F(OscTest, DroppedInputsPlayTheirDefaults) {
  std::vector<double> adFull = RenderOsc("Osc", {{"Frequency", "440"}}, "Output", 500);
  ModuleHarness h("Osc");
  for (const char* pszVar : {"Waveform", "Duty", "Power", "SyncIn", "PhaseIn", "Bypass"}) h.Omit(pszVar);
  h.Set("Frequency", "440");
  h.Start();
  EXPECT_EQ(h.Render("Output", 500), adFull);

  ModuleHarness hLfo("LFO");
  for (const char* pszVar : {"Frequency", "Waveform", "Duty", "Power", "SyncIn", "PhaseIn", "Bypass"})
    hLfo.Omit(pszVar);
  hLfo.Start();
  for (int n = 0; n < 2000; ++n, hLfo.Step())
    ASSERT_NEAR(hLfo.Out("Output"), std::sin(2 * kPi * n * 6.5 / kRate), 1e-6) << "sample " << n;
}

// ---------------------------------------------------------------------------------------------
// The LFO's layout and defaults.

TEST_F(OscTest, LfoOutputsTheRawWaveAndAudioSeparately) {
  ModuleHarness h("LFO");
  h.Set("Waveform", "Square");
  h.Set("Duty", ".25");
  h.Start();
  // The LFO's defaults: 6.5 Hz; its raw wave leaves Output, the normalised one Audio.
  std::vector<double> adOutput;
  for (int n = 0; n < 2 * kRate; ++n, h.Step()) {
    const double dControl = h.Out("Control");
    adOutput.push_back(h.Out("Output"));
    ASSERT_EQ(adOutput.back(), dControl);
    ASSERT_NEAR(h.Out("Audio"), (dControl + 0.5) * kPi / 4, 1e-12);  // DC 1 - 2D, K pi/4, full bass
    ASSERT_NEAR(h.Out("Positive"), (dControl + 1) / 2, 1e-12);
  }
  EXPECT_NEAR(CrossingFrequency(adOutput, kRate), 6.5, 1e-3);
}

TEST_F(OscTest, LfoDefaultsToASixAndAHalfHertzSine) {
  ModuleHarness h("LFO");
  h.Start();
  for (int n = 0; n < 5000; ++n, h.Step())
    ASSERT_NEAR(h.Out("Output"), std::sin(2 * kPi * n * 6.5 / kRate), 1e-6) << "sample " << n;
}

// The three ladder modules ("MoogDirty", "MoogSS1996", "MoogV11"): levels at rest, the low-pass
// slope, resonance and self-oscillation, and the limits that keep them finite.
#include <cmath>
#include <string>
#include <vector>

#include "filter_module_support.h"

namespace filtertest {
namespace {

std::string Text(double d) { return std::to_string(d); }

// The last value of an output after the module has sat for two seconds on a constant input.
double SettledOutput(const char* pszType, Settings aSet, double dIn, const char* pszOut = "Output") {
  aSet.push_back({"Input", "Src:Signal"});
  auto ph = MakeModule(pszType, aSet);
  return RenderWith(*ph, pszOut, 2 * 44100, [dIn](int) { return dIn; }).back();
}

// ---- Levels at rest -------------------------------------------------------------------------------

// MoogDirty's drive-compensation fits, at 110 Hz and at seven octaves up (14080 Hz).
double CompensationLow(double d) { return d < 0.15 ? 0.95 / (d - 0.0005) + 3.89169 : 0.15 / (d - 0.092) + 7.66; }
double CompensationHigh(double d) { return d < 0.269 ? 0.95 / (d - 0.0002) + 0.53922 : 0.19 / (d - 0.092) + 3; }

// At rest every stage of MoogDirty equals its input, so the first stage holds Drive·Input less
// 2.9·Resonance times the last: each stage sits at Drive·Input/(1 + 2.9·Resonance), and the outputs
// scale that by the compensation, interpolated over the octaves between 110 and 14080 Hz.
TEST_F(FilterModuleTest, MoogDirtyRestsAtTheCompensatedDrive) {
  struct Case {
    double dCutoff, dDrive, dResonance;
    double dOctaveShare;  // where the cutoff lies between the two fits: 0 at 110 Hz or below, 1 at 14080 or above
  } aCase[] = {{50, 0.1, 0, 0},      {110 * std::pow(2.0, 3.5), 0.1, 0, 0.5}, {14080, 0.1, 0, 1},
               {20000, 0.1, 0.5, 1}, {50, 0.3, 0.5, 0},                       {110 * std::pow(2.0, 1.4), 0.3, 0, 0.2}};
  const double dIn = 0.5;
  for (const Case& c : aCase) {
    double dComp = (1 - c.dOctaveShare) * CompensationLow(c.dDrive) + c.dOctaveShare * CompensationHigh(c.dDrive);
    double dExpected = dComp * c.dDrive * dIn / (1 + 2.9 * c.dResonance);
    Settings aSet = {{"Cutoff", Text(c.dCutoff)},
                     {"Drive", Text(c.dDrive)},
                     {"Resonance", Text(c.dResonance)}};
    for (const char* pszOut : {"Output", "Stage1", "Stage4"})
      EXPECT_NEAR(SettledOutput("MoogDirty", aSet, dIn, pszOut), dExpected, 1e-9 * dComp)
          << pszOut << " at cutoff " << c.dCutoff << ", drive " << c.dDrive << ", resonance " << c.dResonance;
  }
}

// Drive 0 takes nothing from the input (and the compensation is 1): silence.
TEST_F(FilterModuleTest, MoogDirtyWithoutDriveIsSilent) {
  auto ph = MakeModule("MoogDirty", {{"Input", "SIN( Note:Time * 200 )"}, {"Drive", "0"}, {"Resonance", "2"}});
  EXPECT_EQ(PeakOf(Render(*ph, "Output", 4410)), 0.0);
}

// MoogV11's stages are unit-gain low-passes, so at rest all four hold the input stage's value u,
// which solves u = tanh(In − 4·Resonance·(u − In/2)).
TEST_F(FilterModuleTest, MoogV11RestsWhereTheFeedbackBalances) {
  const double dIn = 0.2;
  for (double dResonance : {0.0, 0.5, 0.8}) {
    double uLow = -1, uHigh = 1;  // the right side falls as u rises: one crossing
    for (int i = 0; i < 200; ++i) {
      double u = (uLow + uHigh) / 2;
      (std::tanh(dIn - 4 * dResonance * (u - dIn / 2)) > u ? uLow : uHigh) = u;
    }
    for (const char* pszOut : {"Output", "Stage1", "Stage3"})
      EXPECT_NEAR(SettledOutput("MoogV11", {{"Cutoff", "500"}, {"Resonance", Text(dResonance)}}, dIn, pszOut),
                  uLow, 1e-9)
          << pszOut << " at resonance " << dResonance;
  }
}

// MoogSS1996's stages each double a steady value (the new and the previous step add up), and the
// input enters at 0.65/4: without feedback it rests at 16 × 0.65/4 = 2.6 times its input.
TEST_F(FilterModuleTest, MoogSS1996WithoutResonanceRestsAtItsLadderGain) {
  for (double dCutoff : {200.0, 2000.0})
    EXPECT_NEAR(SettledOutput("MoogSS1996", {{"Cutoff", Text(dCutoff)}, {"Resonance", "0"}}, 0.3), 2.6 * 0.3,
                1e-9);
}

// ---- Slope and resonance ----------------------------------------------------------------------------

struct LadderCase {
  const char* pszType;
  Settings aSet;
};
void PrintTo(const LadderCase& c, std::ostream* pos) { *pos << c.pszType; }

// The gain of a small tone at dFreq relative to the gain at 10 Hz.
double RelativeGain(const LadderCase& c, const char* pszResonance, double dFreq) {
  auto Gain = [&](double f) {
    Settings aSet = c.aSet;
    aSet.push_back({"Input", "Src:Signal"});
    aSet.push_back({"Cutoff", "500"});
    aSet.push_back({"Resonance", pszResonance});
    auto ph = MakeModule(c.pszType, aSet);
    const double dLevel = 0.02;  // small enough for every saturation to be out of play
    std::vector<double> ad =
        RenderWith(*ph, "Output", 22050, [&](int i) { return dLevel * std::sin(2 * kPi * f * i / kRate); });
    return HannAmplitude(ad, f, kRate, 11025) / dLevel;
  };
  return Gain(dFreq) / Gain(10);
}

class LadderResponse : public FilterModuleTest, public testing::WithParamInterface<LadderCase> {};

// Four poles: three octaves above the cutoff the analog ladder is 72 dB down; these discrete ladders
// give at least 48 (16 dB per octave). Without resonance the cutoff is a corner (each of the four
// stages a few dB down); resonance lifts it above the passband.
TEST_P(LadderResponse, IsALowPassWhoseResonanceLiftsTheCutoff) {
  const LadderCase& c = GetParam();
  EXPECT_LT(AmplitudeDb(RelativeGain(c, "0", 8 * 500)), -48);
  EXPECT_LT(RelativeGain(c, "0", 500), 0.5);
  EXPECT_GT(RelativeGain(c, "0.8", 500), 2);
}

INSTANTIATE_TEST_SUITE_P(Ladders, LadderResponse,
                         testing::Values(LadderCase{"MoogDirty", {{"Drive", "0.1"}}}, LadderCase{"MoogV11", {}},
                                         LadderCase{"MoogSS1996", {}}),
                         [](const testing::TestParamInfo<LadderCase>& info) { return info.param.pszType; });

struct RingCase {
  const char* pszType;
  const char* pszResonance;
  bool bRingsOn;
};
void PrintTo(const RingCase& c, std::ostream* pos) { *pos << c.pszType << " resonance " << c.pszResonance; }

class LadderSelfOscillation : public FilterModuleTest, public testing::WithParamInterface<RingCase> {};

// Struck by an impulse, a ladder below its critical resonance falls silent; above it, it rings on
// by itself at about the cutoff (where each of the four stages turns the phase by 45°).
TEST_P(LadderSelfOscillation, RingsOnAboveItsCriticalResonance) {
  const RingCase& c = GetParam();
  auto ph = MakeModule(c.pszType, {{"Input", kImpulse}, {"Cutoff", "1000"}, {"Resonance", c.pszResonance}});
  std::vector<double> ad = Render(*ph, "Output", 2 * 44100);
  double dEarly = PeakOf(ad, 11025, 22050), dLate = PeakOf(ad, 66150);
  if (!c.bRingsOn) {
    EXPECT_LT(dLate, 1e-6);
    return;
  }
  EXPECT_GT(dLate, 1e-3);
  EXPECT_GT(dLate, 0.5 * dEarly);  // not dying away
  EXPECT_NEAR(CrossingFrequency(ad, kRate, 44100), 1000, 100);
}

INSTANTIATE_TEST_SUITE_P(Ladders, LadderSelfOscillation,
                         testing::Values(RingCase{"MoogDirty", "0.5", false}, RingCase{"MoogDirty", "2", true},
                                         RingCase{"MoogV11", "0.5", false}, RingCase{"MoogV11", "1.2", true},
                                         RingCase{"MoogSS1996", "0.9", false}, RingCase{"MoogSS1996", "1", true}));

// MoogSS1996 takes Resonance up to 1 (the edge of self-oscillation), constant or varying, and
// accepts any Poles: it always has four stages.
TEST_F(FilterModuleTest, MoogSS1996LimitsResonanceAndKeepsFourStages) {
  auto Sound = [](const char* pszResonance, const char* pszPoles) {
    auto ph = MakeModule("MoogSS1996", {{"Input", "0.5 * SIN( Note:Time * 150 ) + 0.3 * SIN( Note:Time * 1900 )"},
                                        {"Cutoff", "900"},
                                        {"Resonance", pszResonance},
                                        {"Poles", pszPoles}});
    return Render(*ph, "Output", 8820);
  };
  std::vector<double> adReference = Sound("1", "4");
  EXPECT_EQ(Sound("5", "4"), adReference);
  EXPECT_EQ(Sound("5 + Note:Time", "4"), adReference);
  EXPECT_EQ(Sound("1", "2"), adReference);
  EXPECT_EQ(Sound("1", "6"), adReference);
  EXPECT_NE(Sound("0.5", "4"), adReference);
}

// ---- Values the models cannot take as written -----------------------------------------------------

// MoogDirty's compensation fits have poles at Drive 0.0002 and 0.0005; a cutoff beyond 2R/π (above
// Nyquist) or below 0 would drive its stages away without bound, and MoogV11's stages leave the
// unit circle beyond about 0.59 × rate or below 0. Ten seconds of noise stay finite and bounded.
// (MoogV11 at its top cutoff, Nyquist, lifts Nyquist itself: each stage's impulse response sums to
// under 4 there, so the tanh-bounded input stage can reach at most 4⁴.)
TEST_F(FilterModuleTest, LaddersStayFiniteWhereTheirFormulasBreak) {
  struct Case {
    const char* pszType;
    Settings aSet;
    double dBound;
  } aCase[] = {
      {"MoogDirty", {{"Drive", "0.0005"}}, 100},
      {"MoogDirty", {{"Drive", "0.0002"}}, 100},
      {"MoogDirty", {{"Cutoff", "40000"}, {"Resonance", "1"}}, 10},
      {"MoogDirty", {{"Cutoff", "-3000"}, {"Resonance", "1"}}, 10},
      {"MoogV11", {{"Cutoff", "40000"}}, 256},
      {"MoogV11", {{"Cutoff", "-3000"}}, 10},
      {"MoogV11", {{"Cutoff", "SIN( Note:Time * 7 ) * 60000"}, {"Resonance", "0.5"}}, 256},
  };
  for (const Case& c : aCase) {
    Settings aSet = c.aSet;
    aSet.push_back({"Input", "Src:Signal"});
    auto ph = MakeModule(c.pszType, aSet);
    Noise noise;
    std::vector<double> ad = RenderWith(*ph, "Output", 10 * 44100, [&noise](int) { return noise.Next(); });
    double dPeak = 0;
    for (double d : ad) {
      ASSERT_TRUE(std::isfinite(d)) << c.pszType << " " << c.aSet[0].second;
      dPeak = std::max(dPeak, std::fabs(d));
    }
    EXPECT_LT(dPeak, c.dBound) << c.pszType << " " << c.aSet[0].second;
  }
}

}  // namespace
}  // namespace filtertest

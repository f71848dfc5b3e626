// The "Filter" module (Butterworth): responses against the analog prototype, resonance, the cutoff
// limits, the soft limiter and the design warnings.
#include <cmath>
#include <string>
#include <vector>

#include "filter_module_support.h"

namespace filtertest {
namespace {

const double kSqrt2 = std::sqrt(2.0);

// An impulse response of the Filter module, long enough for every case here to ring out.
std::vector<double> Impulse(Settings aSet, int n = 1 << 15) {
  aSet.push_back({"Input", kImpulse});
  auto ph = MakeModule("Filter", aSet);
  return Render(*ph, "Output", n);
}

std::string Text(double d) { return std::to_string(d); }

// ---- Response against the prototype ---------------------------------------------------------------

struct ResponseCase {
  int nPoles;
  double dCutoff, dResonance;
  bool bHighpass;
};
void PrintTo(const ResponseCase& c, std::ostream* pos) {
  *pos << c.nPoles << " poles at " << c.dCutoff << " Hz, resonance " << c.dResonance << (c.bHighpass ? ", high-pass" : "");
}

class ButterworthResponse : public FilterModuleTest, public testing::WithParamInterface<ResponseCase> {};

// Two octaves either side of the cutoff, the low-pass against the pre-warped analog Butterworth and
// the high-pass against what the low-pass leaves of the input (1 − H), phase included.
TEST_P(ButterworthResponse, FollowsThePrototypeAroundTheCutoff) {
  const ResponseCase& c = GetParam();
  std::vector<double> ah = Impulse({{"Poles", Text(c.nPoles)},
                                    {"Cutoff", Text(c.dCutoff)},
                                    {"Resonance", Text(c.dResonance)},
                                    {"Mode", c.bHighpass ? "Highpass" : "Lowpass"}});
  for (double dRatio : {0.25, 0.5, 1.0, 2.0, 4.0}) {
    double f = c.dCutoff * dRatio;
    if (f > 0.45 * kRate) continue;
    Complex hLow = ButterworthLowpass(WarpedS(f, c.dCutoff), c.nPoles, c.dResonance);
    Complex hExpected = c.bHighpass ? 1.0 - hLow : hLow;
    Complex hMeasured = Dtft(ah, f);
    EXPECT_LT(std::abs(hMeasured - hExpected), 1e-4 * std::max(1.0, std::abs(hExpected)))
        << "at " << f << " Hz: " << AmplitudeDb(std::abs(hMeasured)) << " dB, expected " << AmplitudeDb(std::abs(hExpected));
  }
  if (!c.bHighpass && c.dResonance == 1) {  // the Butterworth's defining point
    EXPECT_NEAR(AmplitudeDb(std::abs(Dtft(ah, c.dCutoff))), AmplitudeDb(1 / kSqrt2), 0.01);
  }
}

INSTANTIATE_TEST_SUITE_P(Filter, ButterworthResponse,
                         testing::Values(ResponseCase{2, 1000, 1, false}, ResponseCase{4, 1000, 1, false},
                                         ResponseCase{6, 1000, 1, false}, ResponseCase{4, 200, 1, false},
                                         ResponseCase{4, 8000, 1, false}, ResponseCase{6, 17000, 1, false},
                                         ResponseCase{2, 1000, 4, false}, ResponseCase{4, 1000, 4, false},
                                         ResponseCase{6, 2000, 10, false}, ResponseCase{2, 1000, 1, true},
                                         ResponseCase{4, 1000, 1, true}, ResponseCase{6, 3000, 2, true}));

// Well above the cutoff every pole takes 6 dB per octave: 12, 24 and 36 dB per octave for 2, 4 and
// 6 poles (measured between 4 and 8 times a 100 Hz cutoff, where the asymptote holds to 0.01 dB per
// pole and the bilinear warping adds 0.015 dB per pole).
TEST_F(FilterModuleTest, ButterworthFallsSixDbPerOctavePerPole) {
  for (int nPoles : {2, 4, 6}) {
    std::vector<double> ah = Impulse({{"Poles", Text(nPoles)}, {"Cutoff", "100"}});
    double dFall = AmplitudeDb(std::abs(Dtft(ah, 400))) - AmplitudeDb(std::abs(Dtft(ah, 800)));
    EXPECT_NEAR(dFall, 20 * std::log10(2.0) * nPoles, 0.05 * nPoles) << nPoles << " poles";
  }
}

// The prototype's gain at its corner is the product of the sections' q over the product of their
// dampings, which is √2 for a Butterworth: Resonance/√2, however many poles share it.
TEST_F(FilterModuleTest, ButterworthResonanceSetsTheGainAtTheCutoff) {
  for (int nPoles : {2, 4, 6})
    for (double dResonance : {2.0, 4.0, 10.0}) {
      std::vector<double> ah = Impulse(
          {{"Poles", Text(nPoles)}, {"Cutoff", "1000"}, {"Resonance", Text(dResonance)}});
      EXPECT_NEAR(AmplitudeDb(std::abs(Dtft(ah, 1000))), AmplitudeDb(dResonance / kSqrt2), 0.01)
          << nPoles << " poles, resonance " << dResonance;
    }
}

// The working cutoff is kept within 10 Hz ... 0.4 × rate (17640 Hz at 44100 Hz).
TEST_F(FilterModuleTest, ButterworthCutoffIsKeptWithinItsRange) {
  struct Case {
    const char* pszCutoff;
    double dWorking;
  } aCase[] = {{"100000", 0.4 * kRate}, {"0", 10}, {"-50", 10}, {"5", 10}};
  for (const Case& c : aCase) {
    std::vector<double> ah = Impulse({{"Cutoff", c.pszCutoff}}, 1 << 16);
    for (double f : {c.dWorking / 2, c.dWorking})
      EXPECT_NEAR(AmplitudeDb(std::abs(Dtft(ah, f))), AmplitudeDb(std::abs(ButterworthLowpass(WarpedS(f, c.dWorking), 4, 1))), 0.01)
          << "Cutoff " << c.pszCutoff << " at " << f << " Hz";
  }
}

// ---- The soft limiter -----------------------------------------------------------------------------

// A tone at the cutoff of a 2-pole filter with resonance 100, whose linear gain there is 100/√2.
std::vector<double> ResonantTone(const Settings& aExtra, double (*pfnLevel)(double dTime), int n) {
  Settings aSet = {{"Input", "Src:Signal"}, {"Poles", "2"}, {"Cutoff", "1000"}, {"Resonance", "100"}};
  aSet.insert(aSet.end(), aExtra.begin(), aExtra.end());
  auto ph = MakeModule("Filter", aSet);
  return RenderWith(*ph, "Output", n, [pfnLevel](int i) {
    double t = i / kRate;
    return pfnLevel(t) * std::sin(2 * kPi * 1000 * t);
  });
}

// Beyond AmpLimBegin × the recent input peak the output bends over towards, and never passes,
// (AmpLimBegin + AmpLimRange) × that peak; with the limit far away the resonance rings freely.
TEST_F(FilterModuleTest, ButterworthLimiterHoldsResonanceToItsRange) {
  auto HalfLevel = [](double) { return 0.5; };
  std::vector<double> adLimited = ResonantTone({}, HalfLevel, 66150);
  double dPeak = PeakOf(adLimited, 44100);
  EXPECT_LE(dPeak, (3 + 2) * 0.5 * (1 + 1e-9));
  EXPECT_GE(dPeak, 0.99 * (3 + 2) * 0.5);  // the linear output would be 33 ranges beyond

  std::vector<double> adFree = ResonantTone({{"AmpLimBegin", "1000"}}, HalfLevel, 66150);
  EXPECT_NEAR(HannAmplitude(adFree, 1000, kRate, 44100), 0.5 * 100 / kSqrt2, 0.01 * 0.5 * 100 / kSqrt2);
}

// The peak the limit scales with halves every AmpHistHalf seconds: after a loud half second and a
// quiet one, a fast follower has forgotten the loud part and a slow one has not.
TEST_F(FilterModuleTest, ButterworthLimiterForgetsThePeakInAmpHistHalf) {
  auto LoudThenQuiet = [](double t) { return t < 0.5 ? 1.0 : 0.1; };
  // Fast: at 1 s the old peak is 2^-10 of itself, the limit 5 × the quiet level.
  std::vector<double> adFast = ResonantTone({{"AmpHistHalf", "0.05"}}, LoudThenQuiet, 66150);
  double dFast = PeakOf(adFast, 44100);
  EXPECT_LE(dFast, 5 * (0.1 + 1.0 / 1024));
  EXPECT_GE(dFast, 0.45);
  // Slow: at 1 s the peak is still 2^-0.25 of the loud level, so the limit starts near 3 × 0.84.
  std::vector<double> adSlow = ResonantTone({{"AmpHistHalf", "2"}}, LoudThenQuiet, 66150);
  EXPECT_GE(PeakOf(adSlow, 44100), 3 * std::pow(2.0, -0.25));
}

// ---- Out-of-range design values ---------------------------------------------------------------------

// Odd pole counts and counts below 2 are reported (as a warning: the patch plays on) and designed as
// the truncated half: 3 poles is one section, as 2; 0 and 8 (even, so not reported) have no section
// the design knows, and the input passes. The resonance warning also keeps its design.
TEST_F(FilterModuleTest, ButterworthReportsOutOfRangeDesignsAndPlaysOn) {
  struct Case {
    const char* pszPoles;
    const char* pszResonance;
    const char* pszMessage;  // nullptr: none
    const char* pszSameAsPoles;  // the pole count it must sound like, or nullptr: the input passes
  } aCase[] = {
      {"3", "1", "Poles must be 2, 4, or 6; found 3", "2"},
      {"8", "1", nullptr, nullptr},
      {"0", "1", "Poles must be 2, 4, or 6; found 0", nullptr},
      {"4", "0.5", "Resonance expected to be within range 1..1000 inclusive; found 0.5; will try it but no promises",
       nullptr},
      {"4", "2000", "Resonance expected to be within range 1..1000 inclusive; found 2000; will try it but no promises",
       nullptr},
  };
  auto Tone = [](int i) { return 0.25 * std::sin(2 * kPi * 700 * i / kRate); };
  for (const Case& c : aCase) {
    LogCatcher log(AKSWarn);
    auto ph = MakeModule("Filter", {{"Input", "Src:Signal"}, {"Poles", c.pszPoles}, {"Resonance", c.pszResonance}});
    std::vector<double> ad = RenderWith(*ph, "Output", 4410, Tone);
    ASSERT_EQ(log.asMessage.size(), c.pszMessage ? 1u : 0u) << c.pszPoles << " " << c.pszResonance;
    if (c.pszMessage) {
      EXPECT_EQ(log.asMessage[0], c.pszMessage);
    }
    for (double d : ad) ASSERT_TRUE(std::isfinite(d));
    if (c.pszSameAsPoles) {
      auto phSame = MakeModule("Filter", {{"Input", "Src:Signal"}, {"Poles", c.pszSameAsPoles}});
      EXPECT_EQ(ad, RenderWith(*phSame, "Output", 4410, Tone));
    } else if (std::string(c.pszResonance) == "1") {
      for (int i = 0; i < 4410; ++i) ASSERT_EQ(ad[i], Tone(i)) << i;
    }
  }
}

// Below 1 the resonance still sets the corner gain (Resonance/√2); a resonance modulated outside
// the range is reported once per note, not at every redesign.
TEST_F(FilterModuleTest, ButterworthLowResonanceIsDesignedAndReportedOncePerNote) {
  {
    LogCatcher log(AKSWarn);
    std::vector<double> ah = Impulse({{"Poles", "2"}, {"Cutoff", "1000"}, {"Resonance", "0.5"}});
    EXPECT_NEAR(AmplitudeDb(std::abs(Dtft(ah, 1000))), AmplitudeDb(0.5 / kSqrt2), 0.01);
  }
  LogCatcher log(AKSWarn);
  auto ph = MakeModule("Filter", {{"Input", "Src:Signal"}, {"Resonance", "0.5 + 0.25 * SIN( Note:Time * 3 )"}});
  Render(*ph, "Output", 4410);
  EXPECT_EQ(log.asMessage.size(), 1u);
  ph->Retrigger();
  Render(*ph, "Output", 4410);
  EXPECT_EQ(log.asMessage.size(), 2u);
}

// A resonance of 0 or below cannot be designed as written (infinite or negative damping): the
// output stays finite and bounded by the limiter.
TEST_F(FilterModuleTest, ButterworthZeroOrNegativeResonanceStaysFinite) {
  for (const char* pszResonance : {"0", "-1", "-1000"}) {
    LogCatcher log(AKSWarn);
    Noise noise;
    auto ph = MakeModule("Filter", {{"Input", "Src:Signal"}, {"Resonance", pszResonance}});
    std::vector<double> ad = RenderWith(*ph, "Output", 44100, [&noise](int) { return noise.Next(); });
    for (double d : ad) ASSERT_TRUE(std::isfinite(d)) << pszResonance;
    EXPECT_LE(PeakOf(ad), 5.0) << pszResonance;
  }
}

}  // namespace
}  // namespace filtertest

// The delay line: tap timing in samples, interpolation, panning laws, feedback echoes, taps from
// the per-patch forms, on-demand tap outputs, and every message for bad settings.
#include <functional>
#include <limits>

#include "fx_support.h"
#include "modules/delay.h"

namespace {

// A delay whose input (Src:In), varying tap time (Src:Time), speed (Src:Speed) and pan (Src:Pan)
// the test drives sample by sample.
class DelayRig {
 public:
  DelayRig() {
    for (const char* pszName : {"In", "Time", "Speed", "Pan"}) h.AddContext("Src", pszName);
    h.Set("Input", "Src:In");
  }
  ModDelay* Delay() { return static_cast<ModDelay*>(h.pmodule()); }
  double& Src(const char* pszName) { return h.Value("Src", pszName); }

  // Runs n samples with input fnInput(k), reading the named outputs in order each sample, then
  // taking the feedback step as the engine does. Answers one row of samples per output.
  std::vector<std::vector<double>> Run(int n, const std::function<double(int)>& fnInput,
                                       const std::vector<const char*>& apszOutputs) {
    std::vector<std::vector<double>> aad(apszOutputs.size());
    for (int k = 0; k < n; ++k) {
      if (k || bRan_) h.Step();
      Src("In") = fnInput(k);
      for (size_t j = 0; j < apszOutputs.size(); ++j) aad[j].push_back(h.Out(apszOutputs[j]));
      Delay()->FeedbackStep();
    }
    bRan_ = true;
    return aad;
  }

  ModuleHarness h{"Delay", kFxRate};

 private:
  bool bRan_ = false;
};

double Impulse(int k) { return k == 0 ? 1.0 : 0.0; }

// What a delay of d samples makes of an impulse: all of it at round(d) without interpolation;
// 1 - frac at floor(d) and frac one sample later with linear interpolation.
std::vector<double> DelayedImpulse(double d, bool bLinear, int n) {
  std::vector<double> ad(static_cast<size_t>(n), 0.0);
  if (bLinear) {
    int k = static_cast<int>(std::floor(d));
    ad[static_cast<size_t>(k)] += 1 - (d - k);
    ad[static_cast<size_t>(k) + 1] += d - k;
  } else {
    ad[static_cast<size_t>(std::floor(d + 0.5))] = 1;
  }
  return ad;
}

void ExpectSignal(const std::vector<double>& adGot, const std::vector<double>& adWant, double dTol, const char* pszWhat) {
  ASSERT_EQ(adGot.size(), adWant.size());
  for (size_t k = 0; k < adGot.size(); ++k) EXPECT_NEAR(adGot[k], adWant[k], dTol) << pszWhat << " at sample " << k;
}

// ---- Timing -----------------------------------------------------------------------------------

struct TimingCase {
  const char* pszInterpolate;
  double dSamples;  // the tap's time, in samples at Speed 1
  double dSpeed;
  bool bVaryTime;   // Time1 follows a formula (and TimeMax is set)
  bool bVarySpeed;
};
std::ostream& operator<<(std::ostream& os, const TimingCase& tc) {
  return os << tc.pszInterpolate << " " << tc.dSamples << " samples, speed " << tc.dSpeed << (tc.bVaryTime ? ", varying time" : "")
            << (tc.bVarySpeed ? ", varying speed" : "");
}

class DelayTiming : public FxParamTest<TimingCase> {};
class DelayLine : public FxTest {};

TEST_P(DelayTiming, AnImpulseComesOutAfterTheTapsDelay) {
  const TimingCase& tc = GetParam();
  DelayRig rig;
  double dTime = tc.dSamples / kFxRate;
  rig.h.Set("Interpolate", tc.pszInterpolate);
  rig.h.Set("Time1", tc.bVaryTime ? "Src:Time" : Seconds(dTime).c_str());
  rig.h.Set("Speed", tc.bVarySpeed ? "Src:Speed" : Format("%g", tc.dSpeed).c_str());
  if (tc.bVaryTime || tc.bVarySpeed) rig.h.Set("TimeMax", "1");
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Src("Time") = dTime;
  rig.Src("Speed") = tc.dSpeed;
  double d = tc.dSamples / tc.dSpeed;
  int n = static_cast<int>(d) + 8;
  auto aad = rig.Run(n, Impulse, {"Output"});
  ExpectSignal(aad[0], DelayedImpulse(d, std::string(tc.pszInterpolate) == "Linear", n), 1e-9, "Output");
  EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Taps, DelayTiming,
    ::testing::Values(TimingCase{"None", 100, 1, false, false}, TimingCase{"None", 37.4, 1, false, false},
                      TimingCase{"None", 37.6, 1, false, false}, TimingCase{"Linear", 100.25, 1, false, false},
                      TimingCase{"Linear", 7.9, 1, false, false}, TimingCase{"Linear", 0, 1, false, false},
                      // a quarter of a second, the tap's time by name overriding the 1 ms it starts with
                      TimingCase{"Linear", 11025, 1, false, false}, TimingCase{"None", 11025, 1, false, false},
                      // Speed divides every delay
                      TimingCase{"None", 200, 2, false, false}, TimingCase{"Linear", 37.5, 2, false, false},
                      TimingCase{"Linear", 30.2, 0.5, false, false}, TimingCase{"Linear", 3000, 0.25, false, false},
                      // the same through the per-sample reading
                      TimingCase{"None", 37.6, 1, true, false}, TimingCase{"Linear", 100.25, 1, true, false},
                      TimingCase{"Linear", 37.5, 2, false, true}, TimingCase{"None", 200, 2, true, true},
                      TimingCase{"Linear", 11025.5, 1, true, false}));

// A varying time may reach TimeMax exactly; one sample further it is out of the line.
TEST_F(DelayLine, AVaryingTimeMayReachTimeMaxAndNoFurther) {
  for (double dSamples : {441.0, 442.5}) {
    ErrorList::Get()->Clear();
    DelayRig rig;
    rig.h.Set("Time1", "Src:Time");
    rig.h.Set("TimeMax", "0.01", 5);  // 441 samples
    ASSERT_EQ(rig.h.Start(), 0);
    rig.Src("Time") = dSamples / kFxRate;
    int n = 450;
    auto aad = rig.Run(n, Impulse, {"Output"});
    if (dSamples == 441) {
      ExpectSignal(aad[0], DelayedImpulse(441, true, n), 1e-9, "Output");
      EXPECT_EQ(ErrorList::Get()->anode.N(), 0);
    } else {
      ExpectSignal(aad[0], std::vector<double>(static_cast<size_t>(n), 0.0), 0, "Output");
      double d = kFxRate * (dSamples / kFxRate);
      const ErrorListNode* pnode = FindError(Format("Delay:TimeMax must be at least %f ms", (d + 1) / kFxRate * 1000));
      ASSERT_NE(pnode, nullptr);
      EXPECT_EQ(pnode->iLine, 5);
      EXPECT_EQ(pnode->iCount, 1) << "reported once per new maximum";
    }
  }
}

// ---- Gains, panning ---------------------------------------------------------------------------

TEST_F(DelayLine, EachTapSoundsAtItsOwnTimeAndGain) {
  DelayRig rig;
  const double adSamples[] = {12, 30, 31};
  const double adGain[] = {0.5, -0.25, 2};
  for (int i = 0; i < 3; ++i) rig.h.Set(Format("Time%d", i + 1).c_str(), Seconds(adSamples[i] / kFxRate).c_str());
  rig.h.Set("Gain1", "0.5");
  rig.h.Set("Gain2", "Src:Pan - 0.25");  // varying, evaluating to -0.25
  rig.h.Set("Gain3", "2");
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Src("Pan") = 0;
  auto aad = rig.Run(40, Impulse, {"Output", "Output2"});
  std::vector<double> adWant(40, 0.0);
  for (int i = 0; i < 3; ++i) adWant[static_cast<size_t>(adSamples[i])] = adGain[i];
  // Taps are centred by default, and the flat law gives a centred tap full level on both sides.
  ExpectSignal(aad[0], adWant, 1e-9, "Output");
  ExpectSignal(aad[1], adWant, 1e-9, "Output2");
}

struct PanCase {
  const char* pszFade;
  double dPan;
  bool bVaryPan;
};
std::ostream& operator<<(std::ostream& os, const PanCase& pc) {
  return os << pc.pszFade << " pan " << pc.dPan << (pc.bVaryPan ? " varying" : "");
}

class DelayPanning : public FxParamTest<PanCase> {};

TEST_P(DelayPanning, TheTapsLevelsFollowThePanLaw) {
  const PanCase& pc = GetParam();
  DelayRig rig;
  rig.h.Set("Fade", pc.pszFade);
  rig.h.Set("Time1", Seconds(10 / kFxRate).c_str());
  rig.h.Set("Pan1", pc.bVaryPan ? "Src:Pan" : Format("%.17g", pc.dPan).c_str());
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Src("Pan") = pc.dPan;
  auto aad = rig.Run(12, Impulse, {"Output", "Output2"});
  double dLeft = aad[0][10], dRight = aad[1][10];
  if (std::string(pc.pszFade) == "Power") {
    // Constant power: the two gains are the cosine and sine of a quarter turn times the pan.
    EXPECT_NEAR(dLeft * dLeft + dRight * dRight, 1, 1e-12);
    EXPECT_NEAR(dLeft, std::cos(kFxPi / 2 * pc.dPan), 1e-12);
    EXPECT_NEAR(dRight, std::sin(kFxPi / 2 * pc.dPan), 1e-12);
  } else {
    // Flat: the nearer side stays at full level, the other falls linearly to 0 at the edge.
    EXPECT_NEAR(std::max(dLeft, dRight), 1, 1e-12);
    EXPECT_NEAR(dLeft, pc.dPan <= 0.5 ? 1 : 2 * (1 - pc.dPan), 1e-12);
    EXPECT_NEAR(dRight, pc.dPan >= 0.5 ? 1 : 2 * pc.dPan, 1e-12);
  }
  EXPECT_EQ(aad[0][9], 0);
  EXPECT_EQ(aad[1][11], 0);
}

INSTANTIATE_TEST_SUITE_P(Laws, DelayPanning,
                         ::testing::Values(PanCase{"Power", 0, false}, PanCase{"Power", 0.25, false},
                                           PanCase{"Power", 0.5, false}, PanCase{"Power", 0.8, false},
                                           PanCase{"Power", 1, false}, PanCase{"Power", 0.3, true},
                                           PanCase{"Flat", 0, false}, PanCase{"Flat", 0.2, false},
                                           PanCase{"Flat", 0.5, false}, PanCase{"Flat", 0.75, false},
                                           PanCase{"Flat", 1, false}, PanCase{"Flat", 0.9, true}));

// A delay whose second output nothing uses is mono: every tap goes fully into Output.
TEST_F(DelayLine, AMonoDelayPutsEveryTapInOutput) {
  DelayRig rig;
  rig.h.Omit("Output2");
  rig.h.Omit("Stereo");
  rig.h.Set("Fade", "Power");
  rig.h.Set("Time1", Seconds(4 / kFxRate).c_str());
  rig.h.Set("Pan1", "1");
  rig.h.Set("Time2", Seconds(6 / kFxRate).c_str());
  ASSERT_EQ(rig.h.Start(), 0);
  auto aad = rig.Run(8, Impulse, {"Output"});
  EXPECT_NEAR(aad[0][4], 1, 1e-12);
  EXPECT_NEAR(aad[0][6], 1, 1e-12);
  EXPECT_EQ(rig.Delay()->v.dOutput2, 0);
}

// ---- Feedback ---------------------------------------------------------------------------------

struct FeedbackCase {
  double dFeedback;
  int nDelay;
  const char* pszInterpolate;
  bool bVaryTime;  // a varying time with a TimeMax just above it: the echoes run round the line many times
};
std::ostream& operator<<(std::ostream& os, const FeedbackCase& fc) {
  return os << "feedback " << fc.dFeedback << " every " << fc.nDelay << " samples, " << fc.pszInterpolate
            << (fc.bVaryTime ? ", varying time" : "");
}

class DelayFeedback : public FxParamTest<FeedbackCase> {};

// Output fed back at g makes echo m of an impulse (at m delays) g^(m-1) loud: the feedback is
// added to the sample written in the same sample period, so echoes stay exactly one delay apart.
TEST_P(DelayFeedback, EchoesDecayByTheFeedbackEachRepeat) {
  const FeedbackCase& fc = GetParam();
  DelayRig rig;
  rig.h.Set("Interpolate", fc.pszInterpolate);
  rig.h.Set("Time1", fc.bVaryTime ? "Src:Time" : Seconds(fc.nDelay / kFxRate).c_str());
  rig.h.Set("TimeMax", Seconds((fc.nDelay + 3) / kFxRate).c_str());
  rig.h.Set("Feedback", Format("Output * %.17g", fc.dFeedback).c_str());
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Src("Time") = fc.nDelay / kFxRate;
  const int nEchoes = 8;
  int n = fc.nDelay * nEchoes + 1;
  auto aad = rig.Run(n, Impulse, {"Output"});
  std::vector<double> adWant(static_cast<size_t>(n), 0.0);
  for (int m = 1; m <= nEchoes; ++m) adWant[static_cast<size_t>(m * fc.nDelay)] = std::pow(fc.dFeedback, m - 1);
  ExpectSignal(aad[0], adWant, 1e-9, "Output");
  // The decay rate: the level ratio of successive echoes is the feedback.
  for (int m = 2; m <= nEchoes; ++m)
    EXPECT_NEAR(aad[0][static_cast<size_t>(m * fc.nDelay)] / aad[0][static_cast<size_t>((m - 1) * fc.nDelay)],
                fc.dFeedback, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Repeats, DelayFeedback,
                         ::testing::Values(FeedbackCase{0.5, 100, "Linear", false}, FeedbackCase{0.5, 100, "None", false},
                                           FeedbackCase{-0.7, 33, "Linear", false}, FeedbackCase{0.9, 1, "Linear", false},
                                           FeedbackCase{0.25, 2205, "None", false}, FeedbackCase{0.5, 100, "Linear", true},
                                           FeedbackCase{0.8, 57, "None", true}, FeedbackCase{0.95, 4000, "None", false}));

// The line must move on with its input in every sample, also when nothing read the delay.
TEST_F(DelayLine, TheLineAdvancesWhenNothingReadsTheDelay) {
  DelayRig rig;
  rig.h.Set("Time1", Seconds(20 / kFxRate).c_str());
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Run(10, Impulse, {});  // ten samples nobody listens to
  auto aad = rig.Run(20, [](int) { return 0.0; }, {"Output"});
  std::vector<double> adWant(20, 0.0);
  adWant[10] = 1;
  ExpectSignal(aad[0], adWant, 1e-12, "Output");
}

// Nothing that is not a finite number stays in the line: a NaN input sample is dropped, and the
// feedback loop around it goes on with ordinary numbers.
TEST_F(DelayLine, ANaNInputDoesNotStayInTheLine) {
  DelayRig rig;
  rig.h.Set("Time1", Seconds(5 / kFxRate).c_str());
  rig.h.Set("Feedback", "Output * 0.5");
  ASSERT_EQ(rig.h.Start(), 0);
  auto aad = rig.Run(
      40, [](int k) { return k == 0 ? std::numeric_limits<double>::quiet_NaN() : k == 1 ? 1.0 : 0.0; }, {"Output"});
  std::vector<double> adWant(40, 0.0);
  for (int m = 1; 1 + 5 * m < 40; ++m) adWant[static_cast<size_t>(1 + 5 * m)] = std::pow(0.5, m - 1);
  ExpectSignal(aad[0], adWant, 1e-12, "Output");
}

TEST_F(DelayLine, ResetEmptiesTheLine) {
  DelayRig rig;
  rig.h.Set("Time1", Seconds(30 / kFxRate).c_str());
  rig.h.Set("Feedback", "Output * 0.9");
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Run(20, [](int) { return 1.0; }, {"Output"});
  rig.h.Retrigger();
  auto aad = rig.Run(100, [](int) { return 0.0; }, {"Output"});
  ExpectSignal(aad[0], std::vector<double>(100, 0.0), 0, "Output");
}

// ---- Taps from the forms, tap outputs ---------------------------------------------------------

// TapFrom 1 to TapTo 4 with a time of Tap x 10 ms: four taps at 441, 882, 1323 and 1764 samples,
// each weighted and panned by the forms.
TEST_F(DelayLine, TheFormsMakeOneTapPerNumber) {
  DelayRig rig;
  rig.h.Set("Fade", "Power");
  rig.h.Set("TapFrom", "1");
  rig.h.Set("TapTo", "4");
  rig.h.Set("TimeForm", "Tap * 10 ms");
  rig.h.Set("GainForm", "1 / Tap");
  rig.h.Set("PanForm", "(Tap - 1) / 3");
  ASSERT_EQ(rig.h.Start(), 0);
  int n = 1800;
  auto aad = rig.Run(n, Impulse, {"Output", "Output2"});
  std::vector<double> adLeft(static_cast<size_t>(n), 0.0), adRight = adLeft;
  for (int t = 1; t <= 4; ++t) {
    double dPan = (t - 1) / 3.0;
    std::vector<double> ad = DelayedImpulse(t * 0.01 * kFxRate, true, n);
    for (size_t k = 0; k < ad.size(); ++k) {
      adLeft[k] += ad[k] / t * std::cos(kFxPi / 2 * dPan);
      adRight[k] += ad[k] / t * std::sin(kFxPi / 2 * dPan);
    }
  }
  ExpectSignal(aad[0], adLeft, 1e-9, "Output");
  ExpectSignal(aad[1], adRight, 1e-9, "Output2");
}

// Each TapN output carries its own tap alone, and reading it brings the delay up to date; Tap0
// reads the form tap numbered 0; naming Tap3 alone makes a tap at 3 ms.
TEST_F(DelayLine, TapOutputsCarryTheirOwnTap) {
  DelayRig rig;
  rig.h.Set("Interpolate", "None");
  rig.h.Set("TapFrom", "0");
  rig.h.Set("TapTo", "0");
  rig.h.Set("TimeForm", Seconds(2 / kFxRate).c_str());
  rig.h.Set("Time1", Seconds(5 / kFxRate).c_str());
  rig.h.Set("Time2", Seconds(9 / kFxRate).c_str());
  rig.h.Set("Gain2", "0.5");
  for (const char* psz : {"Tap0", "Tap1", "Tap2", "Tap3"}) rig.h.AddOutput(psz);
  ASSERT_EQ(rig.h.Start(), 0);
  int n = 140;
  auto aad = rig.Run(n, Impulse, {"Tap2", "Tap1", "Tap0", "Tap3", "Output"});
  std::vector<double> adTap2(static_cast<size_t>(n), 0.0), adTap1 = adTap2, adTap0 = adTap2, adTap3 = adTap2;
  adTap0[2] = 1;
  adTap1[5] = 1;
  adTap2[9] = 0.5;
  adTap3[static_cast<size_t>(std::floor(0.003 * kFxRate + 0.5))] = 1;
  ExpectSignal(aad[0], adTap2, 1e-12, "Tap2");
  ExpectSignal(aad[1], adTap1, 1e-12, "Tap1");
  ExpectSignal(aad[2], adTap0, 1e-12, "Tap0");
  ExpectSignal(aad[3], adTap3, 1e-12, "Tap3");
  std::vector<double> adSum(static_cast<size_t>(n));
  for (size_t k = 0; k < adSum.size(); ++k) adSum[k] = adTap0[k] + adTap1[k] + adTap2[k] + adTap3[k];
  ExpectSignal(aad[4], adSum, 1e-12, "Output");
}

// When the compiler dropped one of the forms, the delay builds no line and stays silent.
TEST_F(DelayLine, WithoutTheFormsTheDelayIsSilent) {
  DelayRig rig;
  rig.h.Omit("TimeForm");
  rig.h.Set("Time1", Seconds(3 / kFxRate).c_str());
  ASSERT_EQ(rig.h.Start(), 0);
  auto aad = rig.Run(10, [](int) { return 1.0; }, {"Output"});
  ExpectSignal(aad[0], std::vector<double>(10, 0.0), 0, "Output");
}

// ---- Bad settings -----------------------------------------------------------------------------

struct SettingCase {
  std::vector<std::pair<const char*, const char*>> asetVars;  // variable, formula (set at line 7)
  std::string sMessage;  // expected in the error list at line 7 (module name Delay)
  int iInit;             // what Init answers
};
std::ostream& operator<<(std::ostream& os, const SettingCase& sc) { return os << sc.sMessage; }

// The longest delay a line holds, in seconds of tap time at this speed.
double LongestTime(double dSpeed) { return (ModDelay::MaxLineSamples - 2) / (kFxRate / dSpeed); }

class DelaySettings : public FxParamTest<SettingCase> {};

TEST_P(DelaySettings, AreReportedAtTheVariablesLine) {
  const SettingCase& sc = GetParam();
  DelayRig rig;
  for (auto [pszVar, pszFormula] : sc.asetVars) rig.h.Set(pszVar, pszFormula, 7);
  ASSERT_EQ(rig.h.Start(), sc.iInit);
  const ErrorListNode* pnode = FindError(sc.sMessage);
  ASSERT_NE(pnode, nullptr) << "missing: " << sc.sMessage;
  EXPECT_EQ(pnode->iLine, 7);
  // Whatever was refused, the delay never makes sound from it.
  auto aad = rig.Run(50, [](int) { return 1.0; }, {"Output", "Output2"});
  ExpectSignal(aad[0], std::vector<double>(50, 0.0), 0, "Output");
  ExpectSignal(aad[1], std::vector<double>(50, 0.0), 0, "Output2");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DelaySettings,
    ::testing::Values(
        SettingCase{{{"Interpolate", "Src:In"}}, "Delay:Interpolate must be a constant (None, Linear)", 1},
        SettingCase{{{"Fade", "Src:In"}}, "Delay:Fade must be a constant (Power, Flat)", 1},
        SettingCase{{{"TapFrom", "Src:In"}}, "Delay:TapFrom and TapTo must be a numeric constant", 1},
        SettingCase{{{"TapTo", "Src:In"}}, "Delay:TapFrom and TapTo must be a numeric constant", 1},
        SettingCase{{{"Time1", "Src:Time"}},
                    "Delay:TimeMax must be set (numeric constant, in seconds) if any taps have a formula for TimeX", 1},
        SettingCase{{{"Speed", "Src:Speed"}},
                    "Delay:TimeMax must be set (numeric constant, in seconds) if any taps have a formula for TimeX", 1},
        SettingCase{{{"Time1", "Src:Time"}, {"TimeMax", "Src:Time"}},
                    "Delay:TimeMax must be a numeric constant (maximum delay, in seconds)", 1},
        // A fixed time below 0 makes a tap that could never sound.
        SettingCase{{{"Time1", "-0.01"}}, "Delay:Time1 is negative or less than 0 samples", 1},
        SettingCase{{{"TapFrom", "1"}, {"TapTo", "2"}, {"TimeForm", "0 - Tap * 0.001"}},
                    "Delay:Time2 is negative or less than 0 samples", 1},
        // What no line can hold.
        SettingCase{{{"Speed", "0"}}, "Delay:Speed must be more than 0", 1},
        SettingCase{{{"Speed", "-2"}}, "Delay:Speed must be more than 0", 1},
        SettingCase{{{"Time1", "1e9"}}, Format("Delay:Time1 is longer than a delay line can be (%g s)", LongestTime(1)),
                    1},
        SettingCase{{{"Time1", "200"}, {"Speed", "0.5"}},
                    Format("Delay:Time1 is longer than a delay line can be (%g s)", LongestTime(0.5)), 1},
        SettingCase{{{"Time1", "Src:Time"}, {"TimeMax", "1e9"}},
                    Format("Delay:TimeMax must be more than 0 and at most %g s", LongestTime(1)), 1},
        SettingCase{{{"Time1", "Src:Time"}, {"TimeMax", "-1"}},
                    Format("Delay:TimeMax must be more than 0 and at most %g s", LongestTime(1)), 1},
        SettingCase{{{"TapTo", "1e9"}},
                    Format("Delay:TapFrom and TapTo ask for taps 0 to 1e+09; a delay has at most %d taps, numbered -%d to %d",
                           ModDelay::MaxTaps, ModDelay::MaxTapNumber, ModDelay::MaxTapNumber),
                    1},
        SettingCase{{{"TapFrom", "3e9"}, {"TapTo", "3e9"}},
                    Format("Delay:TapFrom and TapTo ask for taps 3e+09 to 3e+09; a delay has at most %d taps, numbered -%d "
                           "to %d",
                           ModDelay::MaxTaps, ModDelay::MaxTapNumber, ModDelay::MaxTapNumber),
                    1}));

struct RunCase {
  const char* pszWhat;  // Src:Time or Src:Speed
  double dValue;
  bool bNegative;       // reported as a negative time, else as a time beyond TimeMax
};
std::ostream& operator<<(std::ostream& os, const RunCase& rc) { return os << rc.pszWhat << " " << rc.dValue; }

class DelayBadTimes : public FxParamTest<RunCase> {};

// A varying time that cannot be read is reported and its tap is silent; the reading never
// leaves the line (the sanitizer watches every access).
TEST_P(DelayBadTimes, AreReportedAndSilent) {
  const RunCase& rc = GetParam();
  DelayRig rig;
  rig.h.Set("Time1", "Src:Time", 3);
  rig.h.Set("Speed", "Src:Speed");
  rig.h.Set("TimeMax", "0.01", 4);
  rig.h.Set("Time2", Seconds(7 / kFxRate).c_str());  // a sound tap beside it
  ASSERT_EQ(rig.h.Start(), 0);
  rig.Src("Time") = 0.001;
  rig.Src("Speed") = 1;
  rig.Src(rc.pszWhat) = rc.dValue;
  double dSamplesOfTap1 = kFxRate / rig.Src("Speed") * rig.Src("Time");
  auto aad = rig.Run(30, Impulse, {"Output"});
  bool bSpeed = std::string(rc.pszWhat) == "Speed";
  // A bad speed spoils both taps; a bad time only the first.
  std::vector<double> adWant = bSpeed ? std::vector<double>(30, 0.0) : DelayedImpulse(7, true, 30);
  ExpectSignal(aad[0], adWant, 1e-9, "Output");
  std::string sMessage = rc.bNegative ? "Delay:Time1 is negative or less than 0 samples"
                                      : Format("Delay:TimeMax must be at least %f ms", (dSamplesOfTap1 + 1) / kFxRate * 1000);
  const ErrorListNode* pnode = FindError(sMessage);
  ASSERT_NE(pnode, nullptr) << "missing: " << sMessage;
  EXPECT_EQ(pnode->iLine, rc.bNegative ? 3 : 4);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DelayBadTimes,
    ::testing::Values(RunCase{"Time", -0.001, true}, RunCase{"Time", std::numeric_limits<double>::quiet_NaN(), true},
                      RunCase{"Time", -std::numeric_limits<double>::infinity(), true}, RunCase{"Time", 1e300, false},
                      RunCase{"Time", 0.0105, false}, RunCase{"Time", std::numeric_limits<double>::infinity(), false},
                      RunCase{"Speed", -1, true}, RunCase{"Speed", 0, false}, RunCase{"Speed", 0.02, false}));

}  // namespace

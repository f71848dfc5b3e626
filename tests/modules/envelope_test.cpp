// The envelope as a synth programmer hears it: stage times and levels, linear and exponential
// curves, holds, releases from every stage, triggers, redirection, speed, and the end.
#include <gtest/gtest.h>

#include <cmath>

#include "env_support.h"

namespace {

// An ADSR as drawn in a manual: up to 1 over Attack, down to Sustain over Decay, held there, and
// after the note-off from the level reached down to 0 over Release. Times in seconds.
struct Adsr {
  double dAttack, dDecay, dSustain, dRelease;
};

double AdsrHeld(const Adsr& e, double t) {
  if (t < e.dAttack) return t / e.dAttack;
  if (t < e.dAttack + e.dDecay) return 1 + (e.dSustain - 1) * (t - e.dAttack) / e.dDecay;
  return e.dSustain;
}

// tOff: the note-off instant; dFrom: the level the release starts from.
double AdsrAt(const Adsr& e, double tOff, double dFrom, double t) {
  if (t < tOff) return AdsrHeld(e, t);
  const double f = (t - tOff) / e.dRelease;
  return f >= 1 ? 0 : dFrom * (1 - f);
}

std::string Num(double d) { return std::to_string(d); }

std::unique_ptr<ModuleHarness> StartAdsr(const Adsr& e, double dRate = kEnvRate, EnvSettings aMore = {},
                                         const EnvContext& aContext = {}) {
  const std::string asValue[] = {Num(e.dAttack), Num(e.dDecay), Num(e.dSustain), Num(e.dRelease)};
  EnvSettings aSet = {{"Attack", asValue[0].c_str()},
                      {"Decay", asValue[1].c_str()},
                      {"Sustain", asValue[2].c_str()},
                      {"Release", asValue[3].c_str()}};
  aSet.insert(aSet.end(), aMore.begin(), aMore.end());
  return StartEnvelope("ADSREnv", aSet, dRate, aContext);
}

// The first sample index at or after time t (a segment ends at the first computation at or
// after its end).
int FirstSampleAt(double t, double dRate) { return static_cast<int>(std::ceil(t * dRate - 1e-6)); }

struct ReleaseCase {
  const char* pszStage;  // where the note-off falls
  Adsr env;
  double dRate;
  int iNoteOff;  // sample of the note-off
};
void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << "note-off in the " << c.pszStage; }

class EnvelopeReleaseTest : public ::testing::TestWithParam<ReleaseCase> {};

// Every sample of the linear output follows the drawn ADSR, whatever stage the note-off meets,
// and the envelope finishes exactly Release after the note-off.
TEST_P(EnvelopeReleaseTest, OutputFollowsTheStagesAndReleasesFromWhereItIs) {
  const ReleaseCase& c = GetParam();
  auto ph = StartAdsr(c.env, c.dRate);
  const double tOff = c.iNoteOff / c.dRate;
  const double dFrom = AdsrHeld(c.env, (c.iNoteOff - 1) / c.dRate);
  const int iFinished = c.iNoteOff + FirstSampleAt(c.env.dRelease, c.dRate);
  for (int j = 0; j <= iFinished + 20; ++j) {
    if (j) ph->Step();
    if (j == c.iNoteOff) ph->Value("Note", "NoteOff") = 1;
    const double t = j / c.dRate;
    ASSERT_NEAR(ph->Out("Output"), AdsrAt(c.env, tOff, dFrom, t), 1e-5) << c.pszStage << " sample " << j;
    ASSERT_EQ(ph->Out("Finished"), j >= iFinished ? 1 : 0) << c.pszStage << " sample " << j;
    if (j >= c.iNoteOff && j < iFinished) {
      ASSERT_EQ(ph->Out("Segment"), 3) << "the release is segment 3";
    }
  }
  for (const char* pszOut : {"Exp", "Amp", "Custom"}) EXPECT_EQ(ph->Out(pszOut), 0) << pszOut << " at the end";
}

INSTANTIATE_TEST_SUITE_P(Envelope, EnvelopeReleaseTest,
                         ::testing::Values(ReleaseCase{"attack", {0.0101, 0.0203, 0.6, 0.0307}, 44100, 200},
                                           ReleaseCase{"decay", {0.0101, 0.0203, 0.6, 0.0307}, 44100, 600},
                                           ReleaseCase{"sustain", {0.0101, 0.0203, 0.6, 0.0307}, 44100, 2000},
                                           ReleaseCase{"sustain at 48k", {0.0051, 0.0122, 0.25, 0.0417}, 48000, 1500}),
                         [](const auto& info) {
                           std::string s = info.param.pszStage;
                           for (char& ch : s)
                             if (ch == ' ') ch = '_';
                           return s;
                         });

// Without a note-off the default Stop ("true") holds the sustain for as long as the note lasts.
TEST(EnvelopeTest, SustainHoldsUntilTheNoteOff) {
  const Adsr e = {0.01, 0.02, 0.4, 0.05};
  auto ph = StartAdsr(e);
  for (int j = 1; j < static_cast<int>(2 * kEnvRate); ++j) ph->Step();
  EXPECT_DOUBLE_EQ(ph->Out("Output"), 0.4);
  EXPECT_DOUBLE_EQ(ph->Out("Amp"), 0.4);
  EXPECT_EQ(ph->Out("Finished"), 0);
  EXPECT_EQ(ph->Out("Segment"), 2);
}

// A Stop formula that clears lets the envelope go on into the release by itself.
TEST(EnvelopeTest, ClearingStopEndsTheSustain) {
  const Adsr e = {0.01, 0.02, 0.4, 0.0123};
  auto ph = StartAdsr(e, kEnvRate, {{"Stop", "Pedal:Down"}}, {{"Pedal", "Down"}});
  const int iClear = 3000;
  const int iFinished = iClear + FirstSampleAt(e.dRelease, kEnvRate);
  for (int j = 0; j <= iFinished + 5; ++j) {
    if (j) ph->Step();
    ph->Value("Pedal", "Down") = j < iClear ? 1 : 0;
    const double t = (j - iClear) / kEnvRate;
    const double dWant = j < iClear ? AdsrHeld(e, j / kEnvRate) : j >= iFinished ? 0 : 0.4 * (1 - t / e.dRelease);
    ASSERT_NEAR(ph->Out("Output"), dWant, 1e-5) << "sample " << j;
    ASSERT_EQ(ph->Out("Finished"), j >= iFinished ? 1 : 0) << "sample " << j;
  }
}

// The default release trigger waits for the damper pedal: a note-off with the pedal down keeps
// the sustain until the pedal comes up.
TEST(EnvelopeTest, DamperPedalDelaysTheRelease) {
  const Adsr e = {0.01, 0.01, 0.5, 0.01};
  auto ph = StartAdsr(e);
  ph->Value("Channel", "DamperPdl") = 1;
  const int iOff = 2000, iPedalUp = 5000;
  for (int j = 0; j <= iPedalUp; ++j) {
    if (j) ph->Step();
    if (j == iOff) ph->Value("Note", "NoteOff") = 1;
    if (j == iPedalUp) ph->Value("Channel", "DamperPdl") = 0;
    ph->Out("Output");
    if (j > 1000 && j < iPedalUp) {
      ASSERT_DOUBLE_EQ(ph->Out("Output"), 0.5) << "sample " << j;
    }
  }
  ph->Step();
  EXPECT_NEAR(ph->Out("Output"), 0.5 * (1 - 1 / (0.01 * kEnvRate)), 1e-5) << "falling from the pedal's release";
}

// Exp multiplies its distance from -Epsilon by a constant ratio per sample; Amp is the straight
// line while rising and the constant ratio while falling; Custom is linear unless the segment's
// curve is "Exponential".
TEST(EnvelopeTest, LinearAndExponentialCurves) {
  const double E = DefaultEpsilon();
  const Adsr e = {0.01, 0.02, 0.5, 0.05};
  const int nAttack = 441, nDecay = 882;  // 10 ms and 20 ms at 44.1 kHz
  struct {
    const char* pszCurv1;  // curve of the attack segment, or none
    bool bCustomExpInAttack;
  } aCases[] = {{nullptr, false}, {"Exponential", true}, {"Linear", false}};
  for (const auto& c : aCases) {
    EnvSettings aMore;
    if (c.pszCurv1) aMore.push_back({"Curv1", c.pszCurv1});
    auto ph = StartAdsr(e, kEnvRate, aMore);
    for (int j = 0; j < nAttack + nDecay + 10; ++j) {
      if (j) ph->Step();
      const double dLinear = AdsrHeld(e, j / kEnvRate);
      double dExp;
      if (j < nAttack)
        dExp = E * std::pow((1 + E) / E, static_cast<double>(j) / nAttack) - E;
      else if (j < nAttack + nDecay)
        dExp = (1 + E) * std::pow((0.5 + E) / (1 + E), static_cast<double>(j - nAttack) / nDecay) - E;
      else
        dExp = 0.5;
      ASSERT_NEAR(ph->Out("Output"), dLinear, 1e-5) << j;
      ASSERT_NEAR(ph->Out("Exp"), dExp, 1e-9 + 1e-9 * dExp) << j;
      ASSERT_NEAR(ph->Out("Amp"), j < nAttack ? dLinear : dExp, 1e-5) << j;
      const bool bCustomExp = j < nAttack ? c.bCustomExpInAttack : false;
      ASSERT_NEAR(ph->Out("Custom"), bCustomExp ? dExp : dLinear, 1e-5) << (c.pszCurv1 ? c.pszCurv1 : "-") << " " << j;
    }
  }
}

// A note-off in the rising attack turns Amp from the straight line to the constant-ratio fall.
TEST(EnvelopeTest, AmpFallsExponentiallyAfterANoteOffInTheAttack) {
  const double E = DefaultEpsilon();
  const Adsr e = {0.05, 0.05, 0.5, 0.02};
  auto ph = StartAdsr(e);
  const int iOff = 1000;
  const double a = (iOff - 1) / (e.dAttack * kEnvRate);  // Amp just before the note-off
  const double nRelease = e.dRelease * kEnvRate;
  for (int j = 0; j < iOff + 800; ++j) {
    if (j) ph->Step();
    if (j == iOff) ph->Value("Note", "NoteOff") = 1;
    const double dWant =
        j < iOff ? j / (e.dAttack * kEnvRate) : (a + E) * std::pow(E / (a + E), (j - iOff) / nRelease) - E;
    ASSERT_NEAR(ph->Out("Amp"), dWant, 1e-6) << j;
  }
}

// The Trigger variable re-enters segment 0: the envelope starts again from 0 with a new attack,
// and SyncOut marks the moment.
TEST(EnvelopeTest, TriggerRestartsTheEnvelope) {
  const Adsr e = {0.01, 0.01, 0.5, 0.01};
  for (int iPulse : {300, 2000}) {  // during the attack, during the sustain
    auto ph = StartAdsr(e, kEnvRate, {{"Trigger", "Gate:Pulse"}}, {{"Gate", "Pulse"}});
    for (int j = 0; j < iPulse + 300; ++j) {
      if (j) ph->Step();
      ph->Value("Gate", "Pulse") = j == iPulse ? 1 : 0;
      const double dWant = j < iPulse ? AdsrHeld(e, j / kEnvRate) : (j - iPulse) / (e.dAttack * kEnvRate);
      ASSERT_NEAR(ph->Out("Output"), dWant, 1e-5) << iPulse << " " << j;
      if (j == iPulse) {
        EXPECT_EQ(ph->Out("SyncOut"), 1);
      }
      if (j == iPulse + 1) {
        EXPECT_EQ(ph->Out("SyncOut"), 0);
      }
    }
  }
}

// Numbered variables alone make an envelope: segment 0 to 1 to 2, then finished, every output at
// the last value (a negative one, which no constant-ratio curve reaches, so Exp and Amp go straight).
TEST(EnvelopeTest, NumberedSegmentsPlayInOrder) {
  auto ph = StartEnvelope("Env",
                          {{"Valu0", "0.25"}, {"Time1", "0.01"}, {"Valu1", "1"}, {"Time2", "0.02"}, {"Valu2", "-0.5"}});
  const int iEnd = FirstSampleAt(0.03, kEnvRate);
  for (int j = 0; j <= iEnd + 10; ++j) {
    if (j) ph->Step();
    const double t = j / kEnvRate;
    const double dWant = t < 0.01 ? 0.25 + 0.75 * t / 0.01 : t < 0.03 ? 1 - 1.5 * (t - 0.01) / 0.02 : -0.5;
    ASSERT_NEAR(ph->Out("Output"), dWant, 1e-5) << j;
    for (const char* pszOut : {"Exp", "Amp", "Custom"})
      ASSERT_TRUE(std::isfinite(ph->Out(pszOut))) << pszOut << " " << j;
    ASSERT_EQ(ph->Out("Finished"), j >= iEnd ? 1 : 0) << j;
  }
  for (const char* pszOut : {"Output", "Exp", "Amp", "Custom"}) EXPECT_EQ(ph->Out(pszOut), -0.5) << pszOut;
}

// A Goto redirects the envelope: 0 -> 1 -> 0 repeated is a triangle with a period of the two
// segment times; gotos to 0, to the segment itself or past the end are ignored.
TEST(EnvelopeTest, GotoRedirectsAndIgnoresImpossibleTargets) {
  struct {
    const char* pszGoto;
    bool bLoops;
  } aCases[] = {{"1", true}, {"0", false}, {"3", false}, {"9", false}, {"-1", false}};
  for (const auto& c : aCases) {
    auto ph = StartEnvelope(
        "Env",
        {{"Valu0", "0"}, {"Time1", "0.01"}, {"Valu1", "1"}, {"Time2", "0.01"}, {"Valu2", "0"}, {"Goto3", c.pszGoto}});
    const int n = static_cast<int>(0.07 * kEnvRate);  // three and a half periods
    int nSync = 0;
    for (int j = 0; j < n; ++j) {
      if (j) ph->Step();
      const double t = j / kEnvRate;
      const double p = std::fmod(t, 0.02);
      double dWant = p < 0.01 ? p / 0.01 : 1 - (p - 0.01) / 0.01;
      if (!c.bLoops && t >= 0.02) dWant = 0;
      ASSERT_NEAR(ph->Out("Output"), dWant, 1e-5) << "Goto3 " << c.pszGoto << " sample " << j;
      nSync += ph->Out("SyncOut") == 1;
    }
    EXPECT_EQ(ph->Out("Finished"), c.bLoops ? 0 : 1) << c.pszGoto;
    if (c.bLoops) {
      EXPECT_EQ(nSync, 6) << "a segment starts every 10 ms after the first";
    }
  }
}

// Speed scales every segment's time (and, through the per-sample ratio, the exponential ones).
TEST(EnvelopeTest, SpeedScalesTheTimes) {
  const double E = DefaultEpsilon();
  const Adsr e = {0.02, 0.04, 0.5, 0.05};
  for (double dSpeed : {2.0, 0.5}) {
    const Adsr eScaled = {e.dAttack / dSpeed, e.dDecay / dSpeed, e.dSustain, e.dRelease / dSpeed};
    const std::string sSpeed = Num(dSpeed);
    auto ph = StartAdsr(e, kEnvRate, {{"Speed", sSpeed.c_str()}});
    const double nAttack = eScaled.dAttack * kEnvRate;
    for (int j = 0; j < static_cast<int>((eScaled.dAttack + eScaled.dDecay) * kEnvRate) + 50; ++j) {
      if (j) ph->Step();
      ASSERT_NEAR(ph->Out("Output"), AdsrHeld(eScaled, j / kEnvRate), 1e-5) << dSpeed << " " << j;
      if (j < nAttack) {
        ASSERT_NEAR(ph->Out("Exp"), E * std::pow((1 + E) / E, j / nAttack) - E, 1e-9) << j;
      }
    }
  }
}

// Speed 0 freezes every output where it is, note-off included.
TEST(EnvelopeTest, SpeedZeroFreezes) {
  auto ph = StartAdsr({0.01, 0.01, 0.5, 0.01}, kEnvRate, {{"Speed", "0"}});
  for (int j = 0; j < 2000; ++j) {
    if (j) ph->Step();
    if (j == 1000) ph->Value("Note", "NoteOff") = 1;
    for (const char* pszOut : {"Output", "Exp", "Amp", "Custom"}) ASSERT_EQ(ph->Out(pszOut), 0) << pszOut << " " << j;
  }
  EXPECT_EQ(ph->Out("Finished"), 0);
}

// A Speed that a reader elsewhere re-evaluates between set-ups changes the running segment's
// length at once: doubled in the middle of the attack, the attack ends on the line of the new
// speed (measured from the segment's start) and at half its time.
TEST(EnvelopeTest, SpeedReadElsewhereRescalesTheRunningSegment) {
  const double dAttack = 0.02;
  auto ph = StartAdsr({dAttack, 0.05, 0.5, 0.05}, kEnvRate, {{"Speed", "Ctx:Speed"}}, {{"Ctx", "Speed"}});
  const int iChange = 200;
  const int iEnd = FirstSampleAt(dAttack / 2, kEnvRate);
  for (int j = 0; j < iEnd + 10; ++j) {
    if (j) ph->Step();
    ph->Value("Ctx", "Speed") = j < iChange ? 1 : 2;
    ph->Out("Speed");  // the reader elsewhere
    const double t = j / kEnvRate;
    if (j < iChange) {
      ASSERT_NEAR(ph->Out("Output"), t / dAttack, 1e-6) << "sample " << j;
    } else if (j < iEnd) {
      ASSERT_NEAR(ph->Out("Output"), 2 * t / dAttack, 1e-6) << "sample " << j;
    } else {
      ASSERT_EQ(ph->Out("Segment"), 2) << "sample " << j;
    }
  }
}

// The held sustain skips the look at its segment while nothing can end it, yet answers exactly
// what the full look answers. Two envelopes, one whose constant Stop allows the shortcut and one
// whose Stop is a formula (looked at every sample), go through the same hold, a Speed lowered by
// a reader elsewhere (which moves the decay's end past the clock again) and raised, a note-off
// and the release: every output agrees bit for bit on every sample.
TEST(EnvelopeTest, HeldSustainAgreesWithTheFullComputation) {
  const EnvContext aContext = {{"Ctx", "Speed"}, {"Ctx", "Hold"}};
  auto Start = [&](const char* pszStop) {
    return StartAdsr({0.01, 0.02, 0.5, 0.03}, kEnvRate, {{"Speed", "Ctx:Speed"}, {"Stop", pszStop}}, aContext);
  };
  auto phShort = Start("true");
  auto phFull = Start("Ctx:Hold");
  // Samples at which the speed changes, and the note-off (the sustain starts at sample 1323).
  const int iSlow = 2000, iFast = 2100, iNormal = 2500, iOff = 3000;
  bool bReopened = false;
  for (int j = 0; j < 5000; ++j) {
    const double dSpeed = j < iSlow ? 1 : j < iFast ? 0.5 : j < iNormal ? 3 : 1;
    for (ModuleHarness* ph : {phShort.get(), phFull.get()}) {
      if (j) ph->Step();
      ph->Value("Ctx", "Speed") = dSpeed;
      ph->Value("Ctx", "Hold") = 1;
      ph->Value("Note", "NoteOff") = j >= iOff;
      ph->Out("Speed");
    }
    for (const char* pszOut : {"Output", "Exp", "Amp", "Custom", "Segment", "SyncOut", "Finished"})
      ASSERT_EQ(phShort->Out(pszOut), phFull->Out(pszOut)) << pszOut << " at sample " << j;
    bReopened |= j > iSlow && j < iOff && phShort->Out("Output") != 0.5;
  }
  EXPECT_TRUE(bReopened) << "the lowered speed did not move the decay's end";
  EXPECT_EQ(phShort->Out("Finished"), 1);
}

// An attack of 0 passes straight into the decay at the first computation, marked on SyncOut.
TEST(EnvelopeTest, ZeroAttackStartsInTheDecay) {
  auto ph = StartEnvelope("ADSREnv", {{"Attack", "0"}, {"Decay", "0.01"}, {"Sustain", "0.5"}, {"Release", "0.01"}});
  EXPECT_EQ(ph->Out("SyncOut"), 1);
  EXPECT_EQ(ph->Out("Segment"), 2);
  EXPECT_NEAR(ph->Out("Output"), 1, 1e-5);
  ph->Step();
  EXPECT_EQ(ph->Out("SyncOut"), 0);
  EXPECT_NEAR(ph->Out("Output"), 1 - 0.5 / (0.01 * kEnvRate), 1e-5);
}

// The voice's gain envelope gets its attack and release as formulas over the pitch: 100 ms and
// 400 ms divided by the pitch, or by FreqFullBass for notes below it. Here they are variables of
// a plain "Env", which the stage translation turns into an attack-release envelope.
TEST(EnvelopeTest, GainEnvelopeDefaultsScaleWithThePitch) {
  for (double dPitch : {440.0, 20.0}) {
    EnvRegisterStageTypes();
    ModuleHarness h("Env", kEnvRate, false, "EnvGain");
    h.FoldConstants();
    h.AddContext("Note", "NoteOff");
    h.AddContext("Channel", "DamperPdl");
    h.AddContext("Pitch", "Output", Num(dPitch).c_str());
    h.AddContext("Global", "FreqFullBass", "55");
    h.Set("antiClick", "1");
    h.Set("Attack", "antiClick * 100ms / Max( Pitch, Global:FreqFullBass )");
    h.Set("Release", "antiClick * 400ms / Max( Pitch, Global:FreqFullBass )");
    ASSERT_EQ(h.Start(), 0);
    const double dDivisor = std::max(dPitch, 55.0);
    const int iTop = FirstSampleAt(0.1 / dDivisor, kEnvRate);
    const int iOff = 1000;
    const int iEnd = iOff + FirstSampleAt(0.4 / dDivisor, kEnvRate);
    for (int j = 0; j <= iEnd; ++j) {
      if (j) h.Step();
      if (j == iOff) h.Value("Note", "NoteOff") = 1;
      const double dAmp = h.Out("Amp");  // the voice pulls its gain every sample
      if (j == iTop - 1) {
        EXPECT_LT(dAmp, 1) << dPitch;
      }
      if (j >= iTop && j < iOff) {
        ASSERT_EQ(dAmp, 1) << dPitch << " " << j;
      }
      if (j == iEnd - 1) {
        EXPECT_EQ(h.Out("Finished"), 0) << dPitch;
      }
    }
    EXPECT_EQ(h.Out("Finished"), 1) << dPitch;
    EXPECT_EQ(h.Out("Amp"), 0) << dPitch;
  }
}

// Fewer than two segments: the envelope never computes and its outputs stay 0.
TEST(EnvelopeTest, FewerThanTwoSegmentsStaySilent) {
  for (const char* pszType : {"GateEnv", "Env", "BreakEnv"}) {
    auto ph = StartEnvelope(pszType, {});
    for (int j = 0; j < 100; ++j) {
      if (j) ph->Step();
      for (const char* pszOut : {"Output", "Exp", "Amp", "Custom", "Finished"})
        ASSERT_EQ(ph->Out(pszOut), 0) << pszType << ":" << pszOut;
    }
  }
}

// Bypass holds every output where it is.
TEST(EnvelopeTest, BypassHoldsTheOutputs) {
  auto ph = StartAdsr({0.01, 0.01, 0.5, 0.01}, kEnvRate, {{"Bypass", "Gate:Bypass"}}, {{"Gate", "Bypass"}});
  for (int j = 0; j < 200; ++j) {
    if (j) ph->Step();
    ph->Value("Gate", "Bypass") = j >= 100;
    ph->Out("Output");
  }
  EXPECT_NEAR(ph->Out("Output"), 99 / (0.01 * kEnvRate), 1e-5);
}

// Mistakes the patch author hears about.
TEST(EnvelopeTest, MessagesForTheAuthor) {
  EnvRegisterStageTypes();
  ErrorList::Get()->Clear();
  {
    auto ph = std::make_unique<ModuleHarness>("ADSREnv", kEnvRate);
    ph->FoldConstants();
    ph->AddContext("Note", "NoteOff");
    ph->Set("Epsilon", "Note:NoteOff * 0.01");
    EXPECT_EQ(ph->Start(), 1) << "a varying Epsilon fails the set-up";
    EXPECT_TRUE(ErrorListHas("ADSREnv:Epsilon must be a constant (such as .001 or -48dB)"));
  }
  {
    // The release segment already has its trigger from the stages: Trig3 is ignored.
    auto ph = StartEnvelope("ADSREnv", {{"Trig3", "1"}, {"Attack", "0.001"}, {"Decay", "0.001"}});
    EXPECT_TRUE(ErrorListHas("ADSREnv:Trig3 is specified multiple times; ignoring setting of 1"));
    for (int j = 1; j < 500; ++j) ph->Step();
    EXPECT_EQ(ph->Out("Output"), 1) << "no release without the note-off";
  }
  {
    auto ph = StartEnvelope("ADSREnv", {{"Curv1", "Note:NoteOff"}, {"Attack", "0.01"}});
    EXPECT_TRUE(ErrorListHas("ADSREnv:Curv1 only handles constant values; setting to Linear"));
    for (int j = 1; j < 100; ++j) ph->Step();
    EXPECT_DOUBLE_EQ(ph->Out("Custom"), ph->Out("Output")) << "the attack stays linear";
  }
}

}  // namespace

// The sample-and-hold: when it samples (rate, phase, sync), where each sampling instant falls
// within the sample, how a new value is blended in, bypass, and its random defaults.
#include "modules/samplehold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "env_support.h"

namespace {

// A hold of the input Note:Sample (so the value held tells when it was taken), starting from -5.
std::unique_ptr<ModuleHarness> StartHold(const EnvSettings& aSet, double dRate = kEnvRate) {
  auto ph = std::make_unique<ModuleHarness>("Hold", dRate);
  ph->AddContext("Clock", "Sync");
  ph->Set("Input", "Note:Sample");
  ph->Set("InputPrev", "-5");
  for (const auto& set : aSet) ph->Set(set.first, set.second);
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

struct Event {
  int iSample;
  double dSyncOut, dOutput, dOutputPrev;
};

std::vector<Event> Events(ModuleHarness& h, int n) {
  std::vector<Event> aevent;
  for (int j = 0; j < n; ++j) {
    if (j) h.Step();
    const double dSync = h.Out("SyncOut");
    if (dSync != -1) aevent.push_back({j, dSync, h.Out("Output"), h.Out("OutputPrev")});
  }
  return aevent;
}

// With Frequency 0 the hold takes one sample at the note's start, half the new value and half
// the previous one, and keeps it.
TEST(HoldTest, FrequencyZeroTakesOneSampleAtTheStart) {
  auto ph = StartHold({{"Input", "Note:Sample + 10"}});
  EXPECT_EQ(ph->Out("SyncOut"), 0);
  EXPECT_EQ(ph->Out("Output"), 0.5 * 10 + 0.5 * -5);
  for (int j = 1; j < 1000; ++j) {
    ph->Step();
    ASSERT_EQ(ph->Out("SyncOut"), -1) << j;
    ASSERT_EQ(ph->Out("Output"), 10) << "holds the value taken (the blend was for the first sample only)";
  }
}

struct RateCase {
  double dFrequency;
  double dPhaseIn;
};
void PrintTo(const RateCase& c, std::ostream* os) { *os << c.dFrequency << " Hz, PhaseIn " << c.dPhaseIn; }

class HoldRateTest : public ::testing::TestWithParam<RateCase> {};

// One sample per cycle of Frequency, taken at the output sample nearest to the cycle's start;
// SyncOut says how far (in samples) the true instant lies before that sample, and the new value
// is blended with the previous one by that distance.
TEST_P(HoldRateTest, SamplesOncePerCycleAtItsSubSamplePosition) {
  const RateCase& c = GetParam();
  auto ph =
      StartHold({{"Frequency", std::to_string(c.dFrequency).c_str()}, {"PhaseIn", std::to_string(c.dPhaseIn).c_str()}});
  const double dPeriod = kEnvRate / c.dFrequency;  // samples per cycle
  std::vector<Event> aevent = Events(*ph, 20000);
  ASSERT_FALSE(aevent.empty());
  EXPECT_EQ(aevent[0].iSample, 0) << "a fresh note samples at once";
  EXPECT_GE(aevent[0].dSyncOut, -0.5);
  EXPECT_LE(aevent[0].dSyncOut, 1);
  // The cycles start where the phase plus PhaseIn passes a whole number.
  const double dFirst = (1 - c.dPhaseIn) * dPeriod;
  const int nCycles = static_cast<int>((20000 - 0.5 - dFirst) / dPeriod) + 1;
  ASSERT_EQ(static_cast<int>(aevent.size()), nCycles + 1);
  double dHeld = aevent[0].iSample;
  for (int k = 1; k <= nCycles; ++k) {
    const Event& e = aevent[k];
    const double dInstant = dFirst + (k - 1) * dPeriod;
    EXPECT_EQ(e.iSample, static_cast<int>(std::lround(dInstant))) << "cycle " << k;
    EXPECT_NEAR(e.dSyncOut, e.iSample - dInstant, 1e-6) << "cycle " << k;
    EXPECT_EQ(e.dOutputPrev, dHeld);
    EXPECT_NEAR(e.dOutput, (e.dSyncOut + 0.5) * e.iSample + (0.5 - e.dSyncOut) * dHeld, 1e-9);
    dHeld = e.iSample;
  }
}

INSTANTIATE_TEST_SUITE_P(Hold, HoldRateTest,
                         ::testing::Values(RateCase{100, 0},  // every 441 samples exactly
                                           RateCase{97, 0},   // 454.64 samples
                                           RateCase{1234.5, 0}, RateCase{97, 0.25}));

// Between samples the output is the value taken; PhaseOut is the cycle position.
TEST(HoldTest, HoldsBetweenSamplesAndShowsThePhase) {
  auto ph = StartHold({{"Frequency", "97"}});
  int iTaken = 0;
  for (int j = 0; j < 3000; ++j) {
    if (j) ph->Step();
    const double dCycles = j * 97 / kEnvRate;
    const double dPhase = dCycles - std::floor(dCycles);
    const double dDistance = std::fabs(ph->Out("PhaseOut") - dPhase);
    ASSERT_LT(std::min(dDistance, 1 - dDistance), 1e-9) << j;
    if (ph->Out("SyncOut") != -1) {
      iTaken = j;
    } else {
      ASSERT_EQ(ph->Out("Output"), iTaken) << j;
    }
  }
}

// A sync from outside takes a sample at once, at the position it gives, and restarts the cycle
// from there.
TEST(HoldTest, SyncInRestartsTheCycle) {
  auto ph = StartHold({{"Frequency", "97"}, {"SyncIn", "Clock:Sync"}});
  ph->Value("Clock", "Sync") = -1;
  const int iSync = 1000;
  const double dPeriod = kEnvRate / 97;
  int iTaken = 0;  // the sample (and so the value) taken last before the sync
  std::vector<Event> aevent;
  for (int j = 0; j < 2000; ++j) {
    if (j) ph->Step();
    ph->Value("Clock", "Sync") = j == iSync ? 0.25 : -1;
    const double dSync = ph->Out("SyncOut");
    if (dSync != -1 && j < iSync) iTaken = j;
    if (dSync != -1 && j >= iSync) aevent.push_back({j, dSync, ph->Out("Output"), ph->Out("OutputPrev")});
  }
  EXPECT_EQ(iTaken, std::lround(2 * dPeriod)) << "the second cycle's sample";
  ASSERT_GE(aevent.size(), 2u);
  EXPECT_EQ(aevent[0].iSample, iSync);
  EXPECT_EQ(aevent[0].dSyncOut, 0.25);
  EXPECT_EQ(aevent[0].dOutputPrev, iTaken);
  EXPECT_NEAR(aevent[0].dOutput, 0.75 * iSync + 0.25 * iTaken, 1e-9);
  const double dNext = iSync - 0.25 + dPeriod;
  EXPECT_EQ(aevent[1].iSample, std::lround(dNext));
  EXPECT_NEAR(aevent[1].dSyncOut, aevent[1].iSample - dNext, 1e-6);
}

TEST(HoldTest, BypassPassesTheInput) {
  auto ph = StartHold({{"Frequency", "97"}, {"Bypass", "true"}});
  for (int j = 0; j < 100; ++j) {
    if (j) ph->Step();
    ASSERT_EQ(ph->Out("Output"), j);
  }
}

// By default the hold samples the patch's random generator, and each note starts from a fresh
// random value.
TEST(HoldTest, DefaultsDrawFromThePatchGenerator) {
  ModuleHarness h("Hold", kEnvRate);
  ASSERT_EQ(h.Start(), 0);
  uint32_t u = 1;  // the stand-in patch's generator, seeded like RandomSeed 1
  auto Draw = [&u] {
    u = u * 214013u + 2531011u;
    return static_cast<double>((u >> 16) & 32767) / 32767.0;
  };
  for (int iNote = 0; iNote < 3; ++iNote) {
    if (iNote) h.Retrigger();
    const double dPrev = Draw();  // InputPrev, drawn when the note starts
    const double dNew = Draw();   // Input, at the sample taken at the note's start
    EXPECT_NEAR(h.Out("Output"), 0.5 * dNew + 0.5 * dPrev, 1e-12) << "note " << iNote;
    for (int j = 1; j < 50; ++j) h.Step();
    EXPECT_NEAR(h.Out("Output"), dNew, 1e-12) << "note " << iNote;
  }
}

}  // namespace

// Phase and sync of every kind that reads a wave at a running phase ("Osc", "LFO", "SWO",
// "LFSWO"), one suite over the phase code they share: PhaseOut and PhaseIn, the wrap
// announcements of SyncOut, hard sync from SyncIn, and bypass with the phase catching up.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "module_harness.h"
#include "osc_signal.h"

namespace {

constexpr double kRate = 44100;

// What differs between the kinds for these tests.
struct PhaseKind {
  const char* pszType;
  const char* pszAudio;   // the output with the bass factor
  double dWaveTolerance;  // how closely the wave follows the drawn sine: a table reads it less exactly,
  double dBypassTolerance;  // and the table of a 1 kHz band is coarser still
  bool bSyncOutPassesSyncIn;  // a wavetable slave hands its master's announcements on
};
void PrintTo(const PhaseKind& k, std::ostream* os) { *os << k.pszType; }

const PhaseKind kKinds[] = {
    {"Osc", "Output", 1e-6, 1e-6, false},
    {"LFO", "Audio", 1e-6, 1e-6, false},
    {"SWO", "Output", 5e-5, 2e-4, true},
    {"LFSWO", "Audio", 5e-5, 5e-5, true},
};

// A fresh module of the kind playing a sine unless told otherwise; the low-frequency table gets as many points as the
// audio bands have, so that it reads the sine as closely.
std::unique_ptr<ModuleHarness> StartSine(const PhaseKind& k, const std::vector<std::pair<const char*, std::string>>& aSet,
                                         const std::vector<const char*>& apszContext = {}) {
  auto ph = std::make_unique<ModuleHarness>(k.pszType);
  for (const char* psz : apszContext) ph->AddContext("Ctx", psz);
  bool bWaveform = false;
  for (const auto& set : aSet) bWaveform |= std::string(set.first) == "Waveform";
  if (!bWaveform) ph->Set("Waveform", "Sine");
  if (std::string(k.pszType) == "LFSWO") ph->Set("Samples", "20000");
  for (const auto& [pszVar, sFormula] : aSet) ph->Set(pszVar, sFormula.c_str());
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

// What a master at dFreq announces at each sample, worked out from its wrap instants j / dFreq:
// every wrap once, on the sample nearest to it, as the signed distance from the wrap to that
// sample; -1 elsewhere.
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

class PhaseTest : public SineTableTest {};

// ---------------------------------------------------------------------------------------------
// PhaseOut counts cycles (backwards for a negative frequency), PhaseIn shifts the wave.

struct PhaseCase {
  double dFreq, dPhaseIn;
};
void PrintTo(const PhaseCase& c, std::ostream* os) { *os << c.dFreq << " Hz, PhaseIn " << c.dPhaseIn; }
class PhaseOutTest : public PhaseTest, public ::testing::WithParamInterface<std::tuple<PhaseKind, PhaseCase>> {};

TEST_P(PhaseOutTest, CountsCyclesAndPhaseInShiftsTheWave) {
  const auto& [k, c] = GetParam();
  auto ph = StartSine(k, {{"Frequency", Num(c.dFreq)}, {"PhaseIn", Num(c.dPhaseIn)}});
  for (int n = 0; n < 3000; ++n, ph->Step()) {
    const double dCycles = n * c.dFreq / kRate;
    const double dPhase = ph->Out("PhaseOut");
    ASSERT_LT(CircularDistance(dPhase, dCycles), 1e-8) << "sample " << n;
    ASSERT_TRUE(c.dFreq >= 0 ? dPhase >= 0 && dPhase < 1 : dPhase <= 0 && dPhase > -1) << dPhase;
    ASSERT_NEAR(ph->Out("Control"), std::sin(2 * kPi * (dCycles + c.dPhaseIn)), k.dWaveTolerance) << "sample " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, PhaseOutTest,
                         ::testing::Combine(::testing::ValuesIn(kKinds),
                                            ::testing::Values(PhaseCase{440, 0}, PhaseCase{440, .25},
                                                              PhaseCase{100, -.3}, PhaseCase{-300, 0},
                                                              PhaseCase{-300, .6}, PhaseCase{25, 1.5})));

class PhaseKindTest : public PhaseTest, public ::testing::WithParamInterface<PhaseKind> {};

TEST_P(PhaseKindTest, VaryingPhaseInModulatesThePhase) {
  const PhaseKind& k = GetParam();
  auto ph = StartSine(k, {{"Frequency", "200"}, {"PhaseIn", "Ctx:Phase"}}, {"Phase"});
  for (int n = 0; n < 500; ++n, ph->Step()) {
    const double dMod = 0.3 * std::sin(n * 0.01);
    ph->Value("Ctx", "Phase") = dMod;
    ASSERT_NEAR(ph->Out("Control"), std::sin(2 * kPi * (n * 200 / kRate + dMod)), k.dWaveTolerance) << "sample " << n;
  }
}

// While bypassed the outputs rest (Positive at 0.5) and no wrap is announced; the phase then
// catches up as if it had run on.
TEST_P(PhaseKindTest, BypassSilencesAndThePhaseCatchesUp) {
  const PhaseKind& k = GetParam();
  auto ph = StartSine(k, {{"Frequency", "1000"}, {"Bypass", "Ctx:Off"}}, {"Off"});
  const double dBass = 55.0 / 1000;  // FreqFullBass over the frequency
  for (int n = 0; n < 400; ++n, ph->Step()) {
    const bool bOff = n >= 100 && n < 250;
    ph->Value("Ctx", "Off") = bOff;
    const double dWave = std::sin(2 * kPi * n * 1000 / kRate);
    ASSERT_NEAR(ph->Out("Control"), bOff ? 0 : dWave, k.dBypassTolerance) << "sample " << n;
    ASSERT_NEAR(ph->Out("Positive"), bOff ? 0.5 : (dWave + 1) / 2, k.dBypassTolerance / 2) << "sample " << n;
    ASSERT_NEAR(ph->Out(k.pszAudio), bOff ? 0 : ph->Out("Control") * dBass, 1e-12) << "sample " << n;
    if (bOff) {
      ASSERT_EQ(ph->Out("SyncOut"), -1) << "sample " << n;
    } else {
      ASSERT_NEAR(ph->Out("PhaseOut"), PhaseAt(n, 1000), 1e-9) << "sample " << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PhaseKindTest, ::testing::ValuesIn(kKinds));

// ---------------------------------------------------------------------------------------------
// Sync.

class SyncTest : public PhaseTest, public ::testing::WithParamInterface<std::tuple<PhaseKind, double>> {};

TEST_P(SyncTest, SyncOutAnnouncesEachWrapOnTheNearestSample) {
  const auto& [k, dFreq] = GetParam();
  constexpr int kSamples = 6000;
  auto ph = StartSine(k, {{"Frequency", Num(dFreq)}});
  const std::vector<double> adExpected = ExpectedSyncOut(dFreq, kSamples);
  int nWraps = 0;
  for (int n = 0; n < kSamples; ++n, ph->Step()) {
    const double d = ph->Out("SyncOut");
    ASSERT_NEAR(d, adExpected[static_cast<size_t>(n)], 1e-6) << "sample " << n;
    nWraps += d != -1;
  }
  EXPECT_EQ(nWraps, static_cast<int>(std::floor((kSamples - 0.5) * dFreq / kRate)));
}

// A slave fed with the master's announcements restarts at the instant of each master wrap: its
// phase at every sample is its frequency times the time since the last wrap announced.
TEST_P(SyncTest, SlaveRestartsAtTheMastersWrap) {
  const auto& [k, dMaster] = GetParam();
  const double dSlave = dMaster * 2.71828;
  constexpr int kSamples = 6000;
  auto ph = StartSine(k, {{"Frequency", Num(dSlave)}, {"SyncIn", "Ctx:SyncOut"}}, {"SyncOut"});
  const std::vector<double> adSync = ExpectedSyncOut(dMaster, kSamples);
  double dWrap = 0;  // the last wrap announced, in samples
  int nSynced = 0;
  for (int n = 0; n < kSamples; ++n, ph->Step()) {
    const double s = adSync[static_cast<size_t>(n)];
    ph->Value("Ctx", "SyncOut") = s;
    if (s != -1) {
      dWrap = n - s;
      ++nSynced;
    }
    const double dExpected = (n - dWrap) * dSlave / kRate;
    ASSERT_LT(CircularDistance(ph->Out("PhaseOut"), dExpected), 1e-7) << "sample " << n;
  }
  EXPECT_GT(nSynced, 50);
}

INSTANTIATE_TEST_SUITE_P(MasterFrequencies, SyncTest,
                         ::testing::Combine(::testing::ValuesIn(kKinds), ::testing::Values(441.3, 1234.567, 3210.9)));

// A constant SyncIn restarts the slave every sample at SyncIn samples past a wrap, and cross-fades
// from the wave it would have had to the restarted one.
struct HardSyncCase {
  PhaseKind kind;
  const char* pszWave;
  double dSyncIn;
};
void PrintTo(const HardSyncCase& c, std::ostream* os) {
  *os << c.kind.pszType << " " << c.pszWave << " SyncIn " << c.dSyncIn;
}
class HardSyncTest : public PhaseTest, public ::testing::WithParamInterface<HardSyncCase> {};

TEST_P(HardSyncTest, CrossFadesToTheRestartedWave) {
  const HardSyncCase& c = GetParam();
  constexpr double kFreq = 1000;
  const double s = c.dSyncIn, dt = kFreq / kRate;
  auto ph = StartSine(c.kind, {{"Waveform", c.pszWave}, {"Frequency", Num(kFreq)}, {"SyncIn", Num(s)}});
  // From the second sample on, each sample starts one increment after the last restart.
  const double pWould = (1 + s) * dt, pRestart = s >= 0 ? s * dt : 0;
  const double w = IdealWave(c.pszWave, pRestart, .5), dWould = IdealWave(c.pszWave, pWould, .5);
  const double dControl = s < 0.5 ? (s + 0.5) * w + (0.5 - s) * dWould : w;
  const double dPhase = s >= 0 ? s * dt : 1 + s * dt;  // before a wrap just ahead: almost a cycle
  ph->Out("Control");
  ph->Step();
  for (int n = 1; n < 20; ++n, ph->Step()) {
    EXPECT_NEAR(ph->Out("Control"), dControl, c.kind.dWaveTolerance) << "sample " << n;
    EXPECT_NEAR(ph->Out("PhaseOut"), dPhase, 1e-12) << "sample " << n;
    if (c.kind.bSyncOutPassesSyncIn) {
      EXPECT_EQ(ph->Out("SyncOut"), s) << "sample " << n;
    }
  }
}

// The oscillator's drawn waves show where the cross-fade lands; the wavetables play the sine.
INSTANTIATE_TEST_SUITE_P(Constant, HardSyncTest,
                         ::testing::Values(HardSyncCase{kKinds[0], "Sawtooth", .25}, HardSyncCase{kKinds[0], "Sawtooth", .75},
                                           HardSyncCase{kKinds[0], "Sawtooth", -.25}, HardSyncCase{kKinds[0], "Sine", .25},
                                           HardSyncCase{kKinds[0], "Square", .1}, HardSyncCase{kKinds[0], "Triangle", .4},
                                           HardSyncCase{kKinds[1], "Sine", .4}, HardSyncCase{kKinds[2], "Sine", .25},
                                           HardSyncCase{kKinds[2], "Sine", .75}, HardSyncCase{kKinds[2], "Sine", -.25},
                                           HardSyncCase{kKinds[3], "Sine", .4}));

}  // namespace

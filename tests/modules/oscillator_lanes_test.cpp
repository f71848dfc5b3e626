// Oscillators of several voices computed together (four to a vector where they play a plain
// sawtooth or sine) against the same oscillators computed alone: the same outputs, bit for bit,
// on frequencies that take every branch of the phase advance, the wrap announcement and the wave.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "formula/vantanh.h"
#include "module_harness.h"
#include "modules/oscillator.h"
#include "osc_signal.h"

namespace {

// One oscillator of the group: its kind and the settings besides the frequency. The last member
// of a row says whether it is plain (a sawtooth or sine that the vectors take) or goes alone.
struct Member {
  const char* pszType;
  std::vector<std::pair<const char*, const char*>> aSet;
  bool bLanes;
};

const Member kaMember[] = {
    {"Osc", {{"Waveform", "Sawtooth"}}, true},
    {"Osc", {{"Waveform", "Sine"}}, true},
    {"LFO", {{"Waveform", "Sine"}}, true},
    {"Osc", {{"Waveform", "Sawtooth"}, {"PhaseIn", "0.3"}}, true},
    {"LFO", {{"Waveform", "Sawtooth"}}, true},
    {"Osc", {{"Waveform", "Sine"}, {"Duty", "0.25"}}, true},
    {"Osc", {{"Waveform", "Sawtooth"}, {"PhaseIn", "-2.75"}}, true},
    {"Osc", {{"Waveform", "Sine"}, {"PhaseIn", "0.5"}}, true},
    {"Osc", {{"Waveform", "Sine"}, {"Duty", "0.3"}}, false},  // its halves divide: alone
    {"Osc", {{"Waveform", "Square"}}, false},
    {"Osc", {{"Waveform", "Sawtooth"}, {"PhaseIn", "Ctx:F * 0.001"}}, false},
    {"Osc", {{"Waveform", "Sawtooth"}, {"Power", "2"}}, false},
    {"Osc", {{"Waveform", "Sawtooth"}}, true},
    {"Osc", {{"Waveform", "Sine"}}, true},
};
constexpr int kMembers = static_cast<int>(std::size(kaMember));
static_assert(kMembers <= ModuleType::kCalcAcrossMost);

std::unique_ptr<ModuleHarness> Make(const Member& m) {
  auto ph = std::make_unique<ModuleHarness>(m.pszType);
  ph->AddContext("Ctx", "F");
  ph->Set("Frequency", "Ctx:F");
  for (const auto& [pszVar, pszFormula] : m.aSet) ph->Set(pszVar, pszFormula);
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

// Member k's frequency at sample n: a steady tone of its own, with odd values for a few samples
// at times of their own (so that the lanes of one vector differ), and a glide through zero.
double Frequency(int k, int n) {
  static const double adOdd[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 0.0,
                                 -0.0,
                                 -440.0,
                                 30000.0,  // beyond half the sample rate: more than half a cycle a sample
                                 44100.0,  // a whole cycle a sample
                                 1e-300,
                                 -5e-324,
                                 1e300};
  const int nOddEvery = 97 + 13 * k;
  if (n % nOddEvery < 3) return adOdd[(n / nOddEvery + k) % std::size(adOdd)];
  if (n > 2000 && n < 2600) return 300.0 - (n - 2000) * (1.0 + 0.1 * k);  // glides down through 0
  return 55.0 * std::pow(1.37, k) + (n % 500 == 250 ? 0.5 : 0);
}

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// The outputs of the oscillator kinds, as OscillatorVars holds them.
const std::pair<const char*, double OscillatorVars::*> kaOutput[] = {
    {"Output", &OscillatorVars::dOutput},       {"Control", &OscillatorVars::dControl},
    {"Audio", &OscillatorVars::dAudio},         {"Positive", &OscillatorVars::dPositive},
    {"SyncOut", &OscillatorVars::dSyncOut},     {"PhaseOut", &OscillatorVars::dPhaseOut},
    {"DCOffset", &OscillatorVars::dDCOffset},   {"AudioAmpAdj", &OscillatorVars::dAudioAmpAdj},
};

}  // namespace

class OscLanesTest : public SineTableTest {};

TEST_F(OscLanesTest, TogetherAsAlone) {
  if (!VanFusedUsable()) GTEST_SKIP() << "no AVX2 and FMA here: oscillators always compute alone";
  std::vector<std::unique_ptr<ModuleHarness>> aphTogether, aphAlone;
  std::vector<Module*> apmodTogether;
  for (const Member& m : kaMember) {
    aphTogether.push_back(Make(m));
    aphAlone.push_back(Make(m));
    apmodTogether.push_back(aphTogether.back()->pmodule());
  }
  int nMismatch = 0;
  for (int n = 0; n < 4000 && nMismatch < 5; ++n) {
    // A note on again now and then, so that a first computation (no last time) runs in vectors too.
    const bool bRetrigger = n % 1500 == 1499;
    for (int k = 0; k < kMembers; ++k) {
      for (auto* pph : {aphTogether[k].get(), aphAlone[k].get()}) {
        if (bRetrigger && k % 2 == 0) pph->Retrigger();
        else if (n > 0) pph->Step();
        pph->Value("Ctx", "F") = Frequency(k, n);
      }
    }
    // Members that did not retrigger are one sample ahead of those that did: still one group.
    ModOscillator::CalcAcross(apmodTogether.data(), kMembers);
    for (int k = 0; k < kMembers; ++k) {
      aphAlone[k]->pmodule()->Calc();
      const auto& vTogether = static_cast<ModOscillator*>(aphTogether[k]->pmodule())->v;
      const auto& vAlone = static_cast<ModOscillator*>(aphAlone[k]->pmodule())->v;
      for (const auto& [pszName, pd] : kaOutput) {
        if (SameBits(vTogether.*pd, vAlone.*pd)) continue;
        ADD_FAILURE() << "member " << k << " (" << kaMember[k].pszType << " " << kaMember[k].aSet[0].second
                      << ") sample " << n << " frequency " << Frequency(k, n) << ": " << pszName << " together "
                      << vTogether.*pd << ", alone " << vAlone.*pd;
        ++nMismatch;
      }
    }
  }
}

// A group computed twice in one sample computes once: the second call finds every clock where it
// was, as Calc does.
TEST_F(OscLanesTest, ASecondCallInTheSameSampleChangesNothing) {
  std::vector<std::unique_ptr<ModuleHarness>> aph;
  std::vector<Module*> apmod;
  for (int k = 0; k < 8; ++k) {
    aph.push_back(Make(kaMember[k % 2]));
    aph.back()->Value("Ctx", "F") = 100 + k;
    apmod.push_back(aph.back()->pmodule());
  }
  ModOscillator::CalcAcross(apmod.data(), 8);
  ModOscillator::CalcAcross(apmod.data(), 8);
  for (auto& ph : aph) ph->Step();
  ModOscillator::CalcAcross(apmod.data(), 8);
  const double dPhaseOnce = static_cast<ModOscillator*>(apmod[0])->v.dPhaseOut;
  ModOscillator::CalcAcross(apmod.data(), 8);
  EXPECT_EQ(static_cast<ModOscillator*>(apmod[0])->v.dPhaseOut, dPhaseOnce);
  EXPECT_DOUBLE_EQ(dPhaseOnce, 100.0 / 44100);
}

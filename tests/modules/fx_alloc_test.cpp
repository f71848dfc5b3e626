// The delay and the operator banks allocate nothing while they run, whatever mode they are in.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "alloc_counter.h"
#include "formula/vanmath.h"
#include "module_harness.h"
#include "modules/delay.h"

namespace {

struct AllocCase {
  const char* pszWhat;
  const char* pszType;
  std::function<void(ModuleHarness&)> fnSetUp;
  std::vector<const char*> apszOutputs;
};
std::ostream& operator<<(std::ostream& os, const AllocCase& ac) { return os << ac.pszWhat; }

class FxAllocations : public ::testing::TestWithParam<AllocCase> {
 protected:
  static void SetUpTestSuite() { VanMathInitTables(); }
};

TEST_P(FxAllocations, NoneWhileRunning) {
  const AllocCase& ac = GetParam();
  ModuleHarness h(ac.pszType);
  h.AddContext("Src", "Wobble", "0.5 + 0.4 * SIN( Note:Time * 3 )");
  ac.fnSetUp(h);
  ASSERT_EQ(h.Start(), 0);
  auto* pdelay = std::strcmp(ac.pszType, "Delay") == 0 ? static_cast<ModDelay*>(h.pmodule()) : nullptr;
  auto fnSample = [&] {
    h.Step();
    for (const char* psz : ac.apszOutputs) h.Out(psz);
    if (pdelay) pdelay->FeedbackStep();
  };
  for (int i = 0; i < 100; ++i) fnSample();  // warm-up: first reports create their error-list entries
  AllocationCounter counter;
  for (int i = 0; i < 2000; ++i) fnSample();
  EXPECT_EQ(counter.Count(), 0) << ac.pszWhat;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FxAllocations,
    ::testing::Values(
        AllocCase{"fixed taps",
                  "Delay",
                  [](ModuleHarness& h) {
                    h.Set("Input", "Src:Wobble");
                    h.Set("Time1", "0.001");
                    h.Set("Time2", "0.0013");
                    h.Set("Feedback", "Output * 0.5");
                  },
                  {"Output", "Output2"}},
        AllocCase{"varying taps with outputs",
                  "Delay",
                  [](ModuleHarness& h) {
                    h.Set("Input", "Src:Wobble");
                    h.Set("Fade", "Power");
                    h.Set("Time1", "Src:Wobble * 0.01");
                    h.Set("Gain1", "Src:Wobble");
                    h.Set("Pan1", "Src:Wobble");
                    h.Set("Time2", "Src:Wobble * 0.012");
                    h.Set("TimeMax", "0.02");
                    h.Set("Speed", "Src:Wobble + 0.5");
                    h.Set("Feedback", "Tap1 * 0.5");
                    h.AddOutput("Tap1");
                  },
                  {"Tap1", "Output", "Output2"}},
        AllocCase{"adder",
                  "Adder",
                  [](ModuleHarness& h) {
                    h.Set("Slew", "0.0005");
                    h.Set("Freq1", "440 * Src:Wobble");
                    h.Set("Gain1", "Src:Wobble");
                    h.Set("Freq2", "660");
                  },
                  {"Output"}},
        AllocCase{"operator network",
                  "FMAlgo",
                  [](ModuleHarness& h) {
                    h.Set("Freq1", "440 * Src:Wobble");
                    h.Set("Gain11", "Src:Wobble");
                    h.Set("Plus1", "Src:Wobble");
                    h.Set("Freq2", "220");
                    h.AddOutput("Audio2");
                  },
                  {"Output", "Audio2"}}));

}  // namespace

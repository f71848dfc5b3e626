// The swarm and the wavetable oscillators allocate nothing while they run, whatever their mode.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "alloc_counter.h"
#include "module_harness.h"

namespace {

struct AllocCase {
  const char* pszWhat;
  const char* pszType;
  std::function<void(ModuleHarness&)> fnSetUp;
  std::vector<const char*> apszOutputs;
};
void PrintTo(const AllocCase& c, std::ostream* os) { *os << c.pszWhat; }

class WaveAllocations : public ::testing::TestWithParam<AllocCase> {};

// After a warm-up (first error-list entries), samples and note starts allocate nothing.
TEST_P(WaveAllocations, NoneWhileRunning) {
  const AllocCase& c = GetParam();
  ModuleHarness h(c.pszType);
  h.AddContext("Src", "Wobble", "0.5 + 0.4 * SIN( Note:Time * 3 )");
  c.fnSetUp(h);
  ASSERT_EQ(h.Start(), 0);
  auto fnSample = [&] {
    h.Step();
    for (const char* psz : c.apszOutputs) h.Out(psz);
  };
  for (int i = 0; i < 100; ++i) fnSample();
  AllocationCounter counter;
  for (int i = 0; i < 3000; ++i) fnSample();
  h.Retrigger();
  for (int i = 0; i < 1000; ++i) fnSample();
  EXPECT_EQ(counter.Count(), 0) << c.pszWhat;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WaveAllocations,
    ::testing::Values(
        AllocCase{"swarm of sawtooths",
                  "Swarm",
                  [](ModuleHarness& h) {
                    h.Set("Count", "100");
                    h.Set("Frequency", "200 + 400 * Src:Wobble");
                    h.Set("Detune", "1 + 0.02 * Src:Wobble");
                  },
                  {"Output", "Control", "SyncOut"}},
        AllocCase{"swarm of squares",
                  "Swarm",
                  [](ModuleHarness& h) {
                    h.Set("Waveform", "Square");
                    h.Set("Frequency", "880");
                    h.Set("Bypass", "Src:Wobble > 0.85");
                  },
                  {"Output"}},
        AllocCase{"swarm of triangles",
                  "Swarm",
                  [](ModuleHarness& h) {
                    h.Set("Waveform", "Triangle");
                    h.Set("Count", "1000");
                    h.Set("Frequency", "3000 * Src:Wobble");
                  },
                  {"Output"}},
        AllocCase{"wavetable sweeping through the bands",
                  "SWO",
                  [](ModuleHarness& h) {
                    h.Set("Frequency", "20000 * Src:Wobble * Src:Wobble");
                    h.Set("PhaseIn", "Src:Wobble");
                  },
                  {"Output", "Control", "Positive", "SyncOut", "PhaseOut"}},
        AllocCase{"wavetable pulse with varying duty and sync",
                  "SWO",
                  [](ModuleHarness& h) {
                    h.Set("Waveform", "Square");
                    h.Set("Frequency", "330");
                    h.Set("Duty", "Src:Wobble");
                    h.Set("SyncIn", "IF( Src:Wobble > 0.8, 0.3, -1 )");
                    h.Set("Bypass", "Src:Wobble < 0.15");
                  },
                  {"Output"}},
        AllocCase{"low-frequency wavetable",
                  "LFSWO",
                  [](ModuleHarness& h) {
                    h.Set("Frequency", "10 * Src:Wobble");
                    h.Set("Interpolate", "false");
                  },
                  {"Output", "Audio"}}));

}  // namespace

// The envelope and control modules allocate nothing while they run: through every envelope
// stage and a release, while slewing (or reporting a mistake), sampling, and looking up.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "alloc_counter.h"
#include "env_support.h"

namespace {

struct AllocCase {
  const char* pszWhat;
  const char* pszType;
  EnvSettings aSet;
  std::vector<const char*> apszOutputs;
  // Changes the inputs at sample j (the note-off, a new input value, ...).
  std::function<void(ModuleHarness&, int j)> fnAt;
};
void PrintTo(const AllocCase& c, std::ostream* os) { *os << c.pszWhat; }

class EnvAllocationsTest : public ::testing::TestWithParam<AllocCase> {};

TEST_P(EnvAllocationsTest, NoneWhileRunning) {
  const AllocCase& c = GetParam();
  auto ph = StartEnvelope(c.pszType, c.aSet, kEnvRate, {{"In", "Value"}, {"Clock", "Sync"}});
  auto fnSample = [&](int j) {
    if (j) ph->Step();
    c.fnAt(*ph, j);
    for (const char* psz : c.apszOutputs) ph->Out(psz);
  };
  for (int j = 0; j < 100; ++j) fnSample(j);  // warm-up: a first report creates its error-list entry
  AllocationCounter counter;
  for (int j = 100; j < 3000; ++j) fnSample(j);
  EXPECT_EQ(counter.Count(), 0) << c.pszWhat;
}

const std::vector<const char*> kEnvOutputs = {"Output", "Exp", "Amp", "Custom", "Segment", "SyncOut", "Finished"};

INSTANTIATE_TEST_SUITE_P(
    Env, EnvAllocationsTest,
    ::testing::Values(
        AllocCase{
            "ADSR through every stage",
            "ADSREnv",
            {{"Attack", "0.01"}, {"Decay", "0.01"}, {"Sustain", "0.5"}, {"Release", "0.01"}, {"Curv2", "Exponential"}},
            kEnvOutputs,
            [](ModuleHarness& h, int j) { h.Value("Note", "NoteOff") = j >= 2000; }},
        AllocCase{"looping numbered segments",
                  "Env",
                  {{"Time1", "0.001"}, {"Valu1", "1"}, {"Time2", "0.001"}, {"Valu2", "-1"}, {"Goto3", "1"}},
                  kEnvOutputs,
                  [](ModuleHarness&, int) {}},
        AllocCase{"linear rate slew",
                  "SlewRateLinear",
                  {{"Input", "In:Value"}, {"Rate", "10"}},
                  {"Output", "Slewing"},
                  [](ModuleHarness& h, int j) { h.Value("In", "Value") = j / 500 % 2; }},
        AllocCase{"exponential time slew",
                  "SlewTimeExponential",
                  {{"Input", "In:Value"}, {"Time", "0.005"}},
                  {"Output", "Slewing"},
                  [](ModuleHarness& h, int j) { h.Value("In", "Value") = 100 + 100 * (j / 500 % 2); }},
        AllocCase{"slew reporting a missing Rate and Time",
                  "Slew",
                  {{"Input", "In:Value"}},
                  {"Output"},
                  [](ModuleHarness& h, int j) { h.Value("In", "Value") = j; }},
        AllocCase{"hold clocked and synced",
                  "Hold",
                  {{"Input", "Note:Sample"}, {"InputPrev", "0"}, {"Frequency", "97"}, {"SyncIn", "Clock:Sync"}},
                  {"Output", "OutputPrev", "SyncOut", "PhaseOut"},
                  [](ModuleHarness& h, int j) { h.Value("Clock", "Sync") = j % 1000 == 0 ? 0.5 : -1; }},
        AllocCase{"tuning look-ups",
                  "Tuning",
                  {{"Input", "In:Value"}},
                  {"Output", "A4"},
                  [](ModuleHarness& h, int j) { h.Value("In", "Value") = j % 150; }}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace

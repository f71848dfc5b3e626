// The filter modules allocate nothing while they run, with every parameter varying at audio rate.
#include <gtest/gtest.h>

#include "alloc_counter.h"
#include "filter_module_support.h"

namespace filtertest {
namespace {

struct AllocCase {
  const char* pszName;
  const char* pszType;
  Settings aSet;
};
void PrintTo(const AllocCase& c, std::ostream* pos) { *pos << c.pszName; }

const char* kSweep = "1000 + 800 * SIN( Note:Time * 300 )";
const char* kTone = "0.5 * SIN( Note:Time * 220 )";

const AllocCase kCases[] = {
    {"Filter", "Filter",
     {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "0.5 + Note:Time"},
      {"Poles", "2 + 2 * FLOOR( FRACTION( Note:Time * 50 ) * 3 )"}, {"Mode", "IF( Note:Time < 0.02, Lowpass, Highpass )"}}},
    {"MoogDirty", "MoogDirty", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time"}, {"Drive", "0.1 + Note:Time"}}},
    {"MoogSS1996", "MoogSS1996", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time * 10"}}},
    {"MoogV11", "MoogV11", {{"Input", kTone}, {"Cutoff", kSweep}, {"Resonance", "Note:Time"}}},
    {"MultiFilter", "MultiFilter",
     {{"Input", kTone}, {"GainMaster", "1 - Note:Time"}, {"Type1", "IF( FRACTION( Note:Time * 100 ) < 0.5, LPF2, HPF2 )"},
      {"Freq1", kSweep}, {"Q1", "1 + Note:Time"}, {"Freq2", "3000"}, {"Gain2", "2 + Note:Time"}, {"Type3", "HiShelf1"},
      {"Freq3", "5000"}, {"Gain3", "0.5"}}},
    {"MultiFilterParallel", "MultiFilter",
     {{"Input", kTone}, {"Layout", "Parallel"}, {"Freq1", kSweep}, {"Gain1", "3"}, {"Type2", "BPF2"}, {"Freq2", "2000"}}},
};

class FilterAllocations : public FilterModuleTest, public testing::WithParamInterface<AllocCase> {};

TEST_P(FilterAllocations, NoneWhileRunning) {
  auto ph = MakeModule(GetParam().pszType, GetParam().aSet);
  auto Sample = [&] {
    ph->Step();
    ph->Out("Output");
  };
  for (int i = 0; i < 100; ++i) Sample();  // warm-up: first reports are made here
  AllocationCounter counter;
  for (int i = 0; i < 4000; ++i) Sample();
  EXPECT_EQ(counter.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterAllocations, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<AllocCase>& info) { return info.param.pszName; });

}  // namespace
}  // namespace filtertest

// Nanoseconds per sample of the filter modules, through the test harness (which adds its own stepping
// and the evaluation of Input: the "harness" case measures that alone).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formula/formeval.h"
#include "formula/vanmath.h"
#include "module_harness.h"
#include "modules/filters/filterfactory.h"

namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

// Runs one module on noise, one sample per iteration.
void RunModule(benchmark::State& state, const char* pszType, const Settings& aSet) {
  VanMathInitTables();
  FilterFactory::Get()->BuildIndex();
  ModuleHarness h(pszType);
  h.AddContext("Src", "Signal");
  h.Set("Input", "Src:Signal");
  for (const auto& [sVar, sFormula] : aSet) h.Set(sVar.c_str(), sFormula.c_str());
  h.Start();
  double& dSignal = h.Value("Src", "Signal");
  Var* pvarOut = h.Find(h.pmodule()->pszName, "Output");
  uint32_t u = 1;
  for (auto _ : state) {
    h.Step();
    u = u * 214013u + 2531011u;
    dSignal = (u >> 8) / double(1u << 23) - 1.0;
    FormVarEval(pvarOut);
    benchmark::DoNotOptimize(*pvarOut->pvalue);
  }
}

const char* kSweep = "1000 + 800 * SIN( Note:Time * 300 )";

const Settings kFourBands = {{"Type1", "LoShelf2"}, {"Freq1", "200"},  {"Gain1", "2"},  {"Type2", "ParametricConst"},
                             {"Freq2", "1000"},     {"Gain2", "0.5"}, {"Q2", "2"},     {"Type3", "ParametricConst"},
                             {"Freq3", "3000"},     {"Gain3", "3"},   {"Q3", "1"},     {"Type4", "HiShelf2"},
                             {"Freq4", "8000"},     {"Gain4", "0.7"}};

Settings WithLayout(Settings aSet, const char* pszLayout) {
  aSet.push_back({"Layout", pszLayout});
  return aSet;
}

void BM_Harness(benchmark::State& s) { RunModule(s, "MultiFilter", {}); }
void BM_Filter(benchmark::State& s) { RunModule(s, "Filter", {{"Cutoff", "1000"}}); }
void BM_FilterSixPoles(benchmark::State& s) { RunModule(s, "Filter", {{"Cutoff", "1000"}, {"Poles", "6"}}); }
void BM_FilterSweptCutoff(benchmark::State& s) { RunModule(s, "Filter", {{"Cutoff", kSweep}}); }
void BM_MoogDirty(benchmark::State& s) { RunModule(s, "MoogDirty", {{"Cutoff", "1000"}, {"Resonance", "0.5"}}); }
void BM_MoogDirtySweptCutoff(benchmark::State& s) { RunModule(s, "MoogDirty", {{"Cutoff", kSweep}}); }
void BM_MoogSS1996(benchmark::State& s) { RunModule(s, "MoogSS1996", {{"Cutoff", "1000"}, {"Resonance", "0.5"}}); }
void BM_MoogSS1996SweptCutoff(benchmark::State& s) { RunModule(s, "MoogSS1996", {{"Cutoff", kSweep}}); }
void BM_MoogV11(benchmark::State& s) { RunModule(s, "MoogV11", {{"Cutoff", "1000"}, {"Resonance", "0.5"}}); }
void BM_MoogV11SweptCutoff(benchmark::State& s) { RunModule(s, "MoogV11", {{"Cutoff", kSweep}}); }
void BM_MultiFilterOneBandSerial(benchmark::State& s) {
  RunModule(s, "MultiFilter", {{"Type1", "LPF2"}, {"Freq1", "1000"}, {"Q1", "3"}});
}
void BM_MultiFilterOneBandParallel(benchmark::State& s) {
  RunModule(s, "MultiFilter", {{"Layout", "Parallel"}, {"Type1", "LPF2"}, {"Freq1", "1000"}, {"Q1", "3"}});
}
void BM_MultiFilterFourBandsSerial(benchmark::State& s) { RunModule(s, "MultiFilter", WithLayout(kFourBands, "Serial")); }
void BM_MultiFilterFourBandsParallel(benchmark::State& s) {
  RunModule(s, "MultiFilter", WithLayout(kFourBands, "Parallel"));
}
void BM_MultiFilterFourBandsOneSwept(benchmark::State& s) {
  Settings aSet = kFourBands;
  aSet[4].second = kSweep;  // Freq2
  RunModule(s, "MultiFilter", aSet);
}

BENCHMARK(BM_Harness);
BENCHMARK(BM_Filter);
BENCHMARK(BM_FilterSixPoles);
BENCHMARK(BM_FilterSweptCutoff);
BENCHMARK(BM_MoogDirty);
BENCHMARK(BM_MoogDirtySweptCutoff);
BENCHMARK(BM_MoogSS1996);
BENCHMARK(BM_MoogSS1996SweptCutoff);
BENCHMARK(BM_MoogV11);
BENCHMARK(BM_MoogV11SweptCutoff);
BENCHMARK(BM_MultiFilterOneBandSerial);
BENCHMARK(BM_MultiFilterOneBandParallel);
BENCHMARK(BM_MultiFilterFourBandsSerial);
BENCHMARK(BM_MultiFilterFourBandsParallel);
BENCHMARK(BM_MultiFilterFourBandsOneSwept);

}  // namespace

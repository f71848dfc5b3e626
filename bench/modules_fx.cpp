// Benchmarks of the effects and operator group: nanoseconds per sample of the delay line by tap
// count, the additive bank with eight partials, and operator networks of two and six operators.
#include <benchmark/benchmark.h>

#include <string>

#include "formula/vanmath.h"
#include "module_harness.h"
#include "modules/delay.h"

namespace {

// One module computed sample after sample: the clock moves on and Calc runs, as the first output
// read of each sample makes it run in a patch; a delay then takes its feedback step as the engine
// does. With bVarying, every formula record is marked stale each sample (the harness's Step) so
// varying inputs are evaluated again: that run includes the harness's own marking.
void RunModule(benchmark::State& state, ModuleHarness& h, bool bVarying = false) {
  Module* pmodule = h.pmodule();
  auto* pdelay = dynamic_cast<ModDelay*>(pmodule);
  const double dStep = 1.0 / TheEngine()->dFreqEval;
  double& dOut = h.Value(pmodule->pszName, "Output");
  for (auto _ : state) {
    if (bVarying) h.Step();
    else h.dTime += dStep;
    pmodule->Calc();
    if (pdelay) pdelay->FeedbackStep();
    benchmark::DoNotOptimize(dOut);
  }
  // One iteration is one sample: the time column reads as nanoseconds per sample.
  state.SetItemsProcessed(state.iterations());
}

void BM_Delay(benchmark::State& state, const char* pszInterpolate, bool bVaryTime) {
  ModuleHarness h("Delay");
  int nTaps = static_cast<int>(state.range(0));
  h.Set("Input", bVaryTime ? "Note:Time" : "0.3");
  h.Set("Interpolate", pszInterpolate);
  h.Set("Fade", "Power");
  h.Set("Feedback", "0.001");
  if (bVaryTime) h.Set("TimeMax", "0.5");
  for (int i = 1; i <= nTaps; ++i) {
    std::string sTime = bVaryTime ? "0.1 + 0.01 * Note:Time" : std::to_string(0.0137 * i);
    h.Set(("Time" + std::to_string(i)).c_str(), sTime.c_str());
    h.Set(("Pan" + std::to_string(i)).c_str(), std::to_string(i / (nTaps + 1.0)).c_str());
  }
  h.Start();
  RunModule(state, h, bVaryTime);
}

void BM_Adder(benchmark::State& state) {
  VanMathInitTables();
  ModuleHarness h("Adder");
  h.Set("Slew", "0.0005");
  for (int i = 1; i <= 8; ++i) {
    h.Set(("Freq" + std::to_string(i)).c_str(), std::to_string(110.0 * i).c_str());
    h.Set(("Gain" + std::to_string(i)).c_str(), std::to_string(1.0 / i).c_str());
  }
  h.Start();
  RunModule(state, h);
}

void BM_FMAlgo(benchmark::State& state, std::vector<const char*> apszOperators) {
  VanMathInitTables();
  ModuleHarness h("FMAlgo");
  for (const char* pszOp : apszOperators) {
    h.Set((std::string("Freq") + pszOp).c_str(), std::to_string(110.0 * std::string(pszOp).size()).c_str());
    h.Set((std::string("Gain") + pszOp).c_str(), "0.3");
  }
  h.Start();
  RunModule(state, h);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Delay, Linear, "Linear", false)->Arg(1)->Arg(4)->Arg(32);
BENCHMARK_CAPTURE(BM_Delay, None, "None", false)->Arg(1)->Arg(4)->Arg(32);
BENCHMARK_CAPTURE(BM_Delay, LinearVaryingTimes, "Linear", true)->Arg(1)->Arg(4)->Arg(32);
BENCHMARK(BM_Adder);
BENCHMARK_CAPTURE(BM_FMAlgo, TwoOperators, std::vector<const char*>{"1", "11"});
BENCHMARK_CAPTURE(BM_FMAlgo, SixOperators, std::vector<const char*>{"1", "11", "111", "2", "21", "22"});

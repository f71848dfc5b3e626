// Benchmarks of the oscillator group: nanoseconds per sample of each waveform, white and pink noise.
#include <benchmark/benchmark.h>

#include <string>

#include "module_harness.h"
#include "vanmath.h"

namespace {

// One module computed sample after sample: the clock moves on and Calc runs, as the first output
// read of each sample makes it run in a patch (formula evaluation around it is not counted).
void RunModule(benchmark::State& state, ModuleHarness& h) {
  Module* pmodule = h.pmodule();
  const double dStep = 1.0 / TheEngine()->dFreqEval;
  double& dOut = h.Value(h.pmodule()->pszName, "Output");
  for (auto _ : state) {
    h.dTime += dStep;
    pmodule->Calc();
    benchmark::DoNotOptimize(dOut);
  }
  state.SetItemsProcessed(state.iterations());  // one item per sample: the rate reads as samples/s
}

void BM_Osc(benchmark::State& state, const char* pszWave, bool bSync, const char* pszPower = "1") {
  VanMathInitTables();
  ModuleHarness h("Osc");
  h.Set("Waveform", pszWave);
  h.Set("Frequency", "440");
  h.Set("Duty", ".4");
  h.Set("Power", pszPower);
  if (bSync) h.Set("SyncIn", "0.3");  // synced on every sample: the slower path
  h.Start();
  RunModule(state, h);
}

void BM_Noise(benchmark::State& state, const char* pszColor) {
  ModuleHarness h("Noise");
  h.Set("Color", pszColor);
  h.Start();
  RunModule(state, h);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Osc, Sawtooth, "Sawtooth", false);
BENCHMARK_CAPTURE(BM_Osc, SawtoothNA, "SawtoothNA", false);
BENCHMARK_CAPTURE(BM_Osc, Square, "Square", false);
BENCHMARK_CAPTURE(BM_Osc, SquareNA, "SquareNA", false);
BENCHMARK_CAPTURE(BM_Osc, Triangle, "Triangle", false);
BENCHMARK_CAPTURE(BM_Osc, Sine, "Sine", false);
BENCHMARK_CAPTURE(BM_Osc, SawPulse, "SawPulse", false);
BENCHMARK_CAPTURE(BM_Osc, SawPulseNA, "SawPulseNA", false);
BENCHMARK_CAPTURE(BM_Osc, SawtoothSynced, "Sawtooth", true);
BENCHMARK_CAPTURE(BM_Osc, SineSynced, "Sine", true);
BENCHMARK_CAPTURE(BM_Osc, SinePower, "Sine", false, "2.5");
BENCHMARK_CAPTURE(BM_Noise, White, "White");
BENCHMARK_CAPTURE(BM_Noise, Pink, "Pink");

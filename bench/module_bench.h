// What the module benchmarks share.
#pragma once

#include <benchmark/benchmark.h>

#include "module_harness.h"

// One module computed sample after sample: the clock moves on and Calc runs, as the first output
// read of each sample makes it run in a patch (formula evaluation around it is not counted).
inline void RunModule(benchmark::State& state, ModuleHarness& h) {
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

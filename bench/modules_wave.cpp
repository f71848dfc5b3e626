// Benchmarks of the swarm and wavetable group: nanoseconds per sample of the wavetable
// oscillators, and the swarm's cost per sample and per oscillator as its count grows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "module_bench.h"
#include "module_harness.h"

namespace {

// A wavetable oscillator at a fixed frequency (one band), or gliding up through the bands over
// 8 octaves a second (the band search moves every few hundred samples).
void BM_SWO(benchmark::State& state, const char* pszType, const char* pszWave, bool bGlide) {
  ModuleHarness h(pszType);
  h.AddContext("Ctx", "F");
  h.Set("Waveform", pszWave);
  h.Set("Frequency", bGlide ? "Ctx:F" : "440");
  h.Start();
  if (!bGlide) {
    RunModule(state, h);
    return;
  }
  Module* pmodule = h.pmodule();
  const double dStep = 1.0 / TheEngine()->dFreqEval;
  const double dRise = std::exp2(8 * dStep);  // the glide per sample
  double& dFreq = h.Value("Ctx", "F");
  Var* pvarFrequency = h.Find(pszType, "Frequency");
  double& dOut = h.Value(pszType, "Output");
  dFreq = 55;
  for (auto _ : state) {
    h.dTime += dStep;
    dFreq = dFreq > 14000 ? 55 : dFreq * dRise;
    pvarFrequency->evalState = EvalStale;
    pmodule->Calc();
    benchmark::DoNotOptimize(dOut);
  }
  state.SetItemsProcessed(state.iterations());
}

// A swarm of Count sawtooths at 220 Hz: the "osc" counter is the time per oscillator and sample.
void BM_Swarm(benchmark::State& state, const char* pszWave) {
  const int nCount = static_cast<int>(state.range(0));
  ModuleHarness h("Swarm");
  h.FoldConstantReferences();
  h.Set("Waveform", pszWave);
  h.Set("Count", std::to_string(nCount).c_str());
  h.Set("Frequency", "220");
  h.Start();
  RunModule(state, h);
  state.counters["osc"] = benchmark::Counter(static_cast<double>(state.iterations()) * nCount,
                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(BM_SWO, Sawtooth, "SWO", "Sawtooth", false);
BENCHMARK_CAPTURE(BM_SWO, Square, "SWO", "Square", false);
BENCHMARK_CAPTURE(BM_SWO, SawtoothGliding, "SWO", "Sawtooth", true);
BENCHMARK_CAPTURE(BM_SWO, LFSine, "LFSWO", "Sine", false);
BENCHMARK_CAPTURE(BM_SWO, LFSawtooth, "LFSWO", "Sawtooth", false);
BENCHMARK_CAPTURE(BM_Swarm, Sawtooth, "Sawtooth")->Arg(7)->Arg(100)->Arg(1000);
BENCHMARK_CAPTURE(BM_Swarm, Square, "Square")->Arg(7)->Arg(100)->Arg(1000);
BENCHMARK_CAPTURE(BM_Swarm, Triangle, "Triangle")->Arg(7)->Arg(100)->Arg(1000);

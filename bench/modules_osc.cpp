// Benchmarks of the oscillator group: nanoseconds per sample of each waveform, white and pink noise.
#include <benchmark/benchmark.h>

#include <string>

#include "formula/vanmath.h"
#include "module_bench.h"
#include "module_harness.h"

namespace {

void BM_Osc(benchmark::State& state, const char* pszWave, bool bSync, const char* pszPower = "1",
            const char* pszDuty = ".4") {
  VanMathInitTables();
  ModuleHarness h("Osc");
  h.Set("Waveform", pszWave);
  h.Set("Frequency", "440");
  h.Set("Duty", pszDuty);
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
BENCHMARK_CAPTURE(BM_Osc, SineHalfDuty, "Sine", false, "1", ".5");  // the default duty
BENCHMARK_CAPTURE(BM_Osc, SawPulse, "SawPulse", false);
BENCHMARK_CAPTURE(BM_Osc, SawPulseNA, "SawPulseNA", false);
BENCHMARK_CAPTURE(BM_Osc, SawtoothSynced, "Sawtooth", true);
BENCHMARK_CAPTURE(BM_Osc, SineSynced, "Sine", true);
BENCHMARK_CAPTURE(BM_Osc, SinePower, "Sine", false, "2.5");
BENCHMARK_CAPTURE(BM_Noise, White, "White");
BENCHMARK_CAPTURE(BM_Noise, Pink, "Pink");

// tanh for per-sample code: the C library's against VanTanh's two builds, nanoseconds per call, both
// as a chain (each argument waits for the last result, as in a ladder's stages) and independent.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "formula/vantanh.h"

namespace {

constexpr int kBlock = 1024;  // calls per iteration; the counters divide it out

double Library(double x) { return std::tanh(x); }
double Plain(double x) { return VanTanh<false>(x); }
VAN_TARGET_FUSED double Fused(double x) { return VanTanh<true>(x); }

// Arguments as a stage sees them: a slow swing through ±1.5.
std::vector<double> Swing() {
  std::vector<double> ad(kBlock);
  for (int i = 0; i < kBlock; ++i) ad[i] = 1.5 * std::sin(i * 0.01);
  return ad;
}

benchmark::Counter PerCall() {
  return benchmark::Counter(kBlock, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <double (*pfn)(double)>
void Chain(benchmark::State& state) {
  if (pfn == Fused && !VanFusedUsable()) return state.SkipWithError("no FMA and AVX2 here");
  const std::vector<double> ad = Swing();
  double y = 0;
  for (auto _ : state) {
    for (double d : ad) y = pfn(d + 0.5 * y);
    benchmark::DoNotOptimize(y);
  }
  state.counters["ns"] = PerCall();
}

template <double (*pfn)(double)>
void Independent(benchmark::State& state) {
  if (pfn == Fused && !VanFusedUsable()) return state.SkipWithError("no FMA and AVX2 here");
  const std::vector<double> ad = Swing();
  for (auto _ : state) {
    double dSum = 0;
    for (double d : ad) dSum += pfn(d);
    benchmark::DoNotOptimize(dSum);
  }
  state.counters["ns"] = PerCall();
}

BENCHMARK(Chain<Library>);
BENCHMARK(Chain<Plain>);
BENCHMARK(Chain<Fused>);
BENCHMARK(Independent<Library>);
BENCHMARK(Independent<Plain>);
BENCHMARK(Independent<Fused>);

}  // namespace

// Filter kernels: nanoseconds per sample of Calc for each filter type, and per Cook.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "modules/filters/filter.h"
#include "modules/filters/filterfactory.h"

namespace {

constexpr double kRate = 44100;
constexpr int kBlock = 256;  // samples (or cooks) per iteration; the counters divide it out

// The same full-scale noise for every type (the patches' 32-bit generator).
std::vector<double> NoiseBlock() {
  std::vector<double> ad;
  unsigned uState = 12345;
  for (int i = 0; i < kBlock; ++i) {
    uState = uState * 214013u + 2531011u;
    ad.push_back((uState >> 8) / double(1u << 23) - 1.0);
  }
  return ad;
}

Filter TypedFilter(const FilterType* ptype) {
  Filter f;
  f.SetSampleRate(kRate);
  ptype->Apply(f);
  f.Cook(1000, 2, 2);
  return f;
}

// Time per item, shown as "ns" per sample or per cook.
benchmark::Counter PerItem() {
  return benchmark::Counter(kBlock, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BenchCalc(benchmark::State& state, const FilterType* ptype) {
  Filter f = TypedFilter(ptype);
  std::vector<double> ad = NoiseBlock();
  for (auto _ : state) {
    double dSum = 0;
    for (double x : ad) dSum += f.Calc(x);
    benchmark::DoNotOptimize(dSum);
  }
  state.counters["per_sample"] = PerItem();
}

// A frequency that moves at every cook, as under modulation.
void BenchCook(benchmark::State& state, const FilterType* ptype) {
  Filter f = TypedFilter(ptype);
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) f.Cook(100 + 50 * i, 2, 2);
    benchmark::DoNotOptimize(f.a0);
  }
  state.counters["per_cook"] = PerItem();
}

}  // namespace

// Its own main: the types register during static initialisation, so the benchmarks per type are
// registered only once main runs.
int main(int argc, char** argv) {
  FilterFactory* pfactory = FilterFactory::Get();
  for (int i = 0; i < pfactory->NTypes(); ++i) {
    const FilterType* ptype = pfactory->TypeAt(i);
    benchmark::RegisterBenchmark((std::string("Calc/") + ptype->pszName).c_str(), BenchCalc, ptype);
  }
  for (int i = 0; i < pfactory->NTypes(); ++i) {
    const FilterType* ptype = pfactory->TypeAt(i);
    benchmark::RegisterBenchmark((std::string("Cook/") + ptype->pszName).c_str(), BenchCook, ptype);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

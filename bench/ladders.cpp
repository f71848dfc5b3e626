// What stepping voices together gains: K "MoogDirty" ladders, each fed back and driven as in the
// module, stepped one after the other, side by side in one pass, or four to a vector (Lanes, one
// or two vectors). Nanoseconds per ladder and sample; all give the same states, bit for bit.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "modules/moogdirty_lanes.h"

namespace {

constexpr int kSamples = 512;  // per iteration; the counter divides them out
constexpr double kRate = 44100, kHalfPeriod = 0.5 / kRate;
constexpr double kDrive = 0.1, kResonance = 0.5, kFeedback = 2.9;

// A ladder with its input: a sawtooth of its own pitch, and the module's stage rate at 2 kHz.
struct Lane {
  MoogDirtyLadder ladder;
  double dPhase = 0, dStep = 0, dRate = 0;
  double Drive() {
    dPhase += dStep;
    if (dPhase >= 1) dPhase -= 1;
    const double dIn = 1 - 2 * dPhase;
    return moogdirty::kScale * (kDrive * dIn - kFeedback * kResonance * ladder.ady[3]);
  }
};

void Tune(Lane* alane, int n) {
  const double dCutoff = 2000, x = 3.141592653589793 * dCutoff / (2 * kRate);
  for (int k = 0; k < n; ++k) {
    alane[k] = Lane();
    alane[k].dStep = 110 * std::pow(2, k * 7 / 12.0) / kRate;
    alane[k].dRate = dCutoff * 0.35939819957067237 * (1 - x) / (1 + x);
  }
}

// Kept out of line, as the module's step is a call through a pointer.
[[gnu::noinline]] VAN_TARGET_FUSED void StepOne(MoogDirtyLadder* pladder, double dDrive, double f) {
  MoogDirtyLadder* const apladder[] = {pladder};
  moogdirty::Step<true, 1>(apladder, &dDrive, kHalfPeriod, &f);
}

template <int K>
VAN_TARGET_FUSED void StepTogether(Lane* alane) {
  MoogDirtyLadder* apladder[K];
  double adDrive[K], af[K];
  for (int k = 0; k < K; ++k) apladder[k] = &alane[k].ladder, adDrive[k] = alane[k].Drive(), af[k] = alane[k].dRate;
  moogdirty::Step<true, K>(apladder, adDrive, kHalfPeriod, af);
}

template <int NV>
VAN_TARGET_FUSED void StepInLanes(Lane* alane) {
  constexpr int K = 4 * NV;
  MoogDirtyLadder* apladder[K];
  double adDrive[K], af[K];
  for (int k = 0; k < K; ++k) apladder[k] = &alane[k].ladder, adDrive[k] = alane[k].Drive(), af[k] = alane[k].dRate;
  moogdirty::lanes::Step<NV>(apladder, adDrive, kHalfPeriod, af);
}

bool SameState(const MoogDirtyLadder& a, const MoogDirtyLadder& b) {
  return std::memcmp(a.ady, b.ady, sizeof a.ady) == 0 && std::memcmp(a.adW, b.adW, sizeof a.adW) == 0 &&
         std::memcmp(a.adD, b.adD, sizeof a.adD) == 0 && std::memcmp(&a.dDriven, &b.dDriven, sizeof a.dDriven) == 0;
}

template <int K>
void Apart(benchmark::State& state) {
  if (!VanFusedUsable()) return state.SkipWithError("no FMA and AVX2 here");
  Lane alane[K];
  Tune(alane, K);
  for (auto _ : state) {
    for (int i = 0; i < kSamples; ++i)
      for (Lane& lane : alane) StepOne(&lane.ladder, lane.Drive(), lane.dRate);
    benchmark::DoNotOptimize(alane[0].ladder.ady[3]);
  }
  state.counters["ns"] = benchmark::Counter(kSamples * K, benchmark::Counter::kIsIterationInvariantRate |
                                                              benchmark::Counter::kInvert);
}

template <int K, void (*pfnStep)(Lane*)>
void Together(benchmark::State& state) {
  if (!VanFusedUsable()) return state.SkipWithError("no FMA and AVX2 here");
  // The same voices stepped both ways for a while must agree exactly.
  Lane alaneApart[K], alaneTogether[K];
  Tune(alaneApart, K);
  Tune(alaneTogether, K);
  for (int i = 0; i < 20000; ++i) {
    for (Lane& lane : alaneApart) StepOne(&lane.ladder, lane.Drive(), lane.dRate);
    pfnStep(alaneTogether);
  }
  for (int k = 0; k < K; ++k)
    if (!SameState(alaneApart[k].ladder, alaneTogether[k].ladder))
      return state.SkipWithError("the ladders stepped together differ from the ladders stepped apart");
  for (auto _ : state) {
    for (int i = 0; i < kSamples; ++i) pfnStep(alaneTogether);
    benchmark::DoNotOptimize(alaneTogether[0].ladder.ady[3]);
  }
  state.counters["ns"] = benchmark::Counter(kSamples * K, benchmark::Counter::kIsIterationInvariantRate |
                                                              benchmark::Counter::kInvert);
}

BENCHMARK(Apart<1>);
BENCHMARK(Apart<2>);
BENCHMARK(Apart<4>);
BENCHMARK(Apart<8>);
BENCHMARK(Together<2, StepTogether<2>>)->Name("Together<2>");
BENCHMARK(Together<4, StepTogether<4>>)->Name("Together<4>");
BENCHMARK(Together<8, StepTogether<8>>)->Name("Together<8>");
BENCHMARK(Together<4, StepInLanes<1>>)->Name("Lanes<4>");
BENCHMARK(Together<8, StepInLanes<2>>)->Name("Lanes<8>");
BENCHMARK(Together<16, StepInLanes<4>>)->Name("Lanes<16>");

}  // namespace

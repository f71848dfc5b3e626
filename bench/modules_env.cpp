// Nanoseconds per sample of the envelope and control modules: the envelope in each of its main
// stages, every slew kind while it slews, the sample-and-hold, and a tuning's look-up.
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "module_harness.h"
#include "modules/envelope.h"

namespace {

constexpr double kRate = 44100;

using Settings = std::vector<std::pair<const char*, const char*>>;

// The type name, once the stage types (ADSREnv) are there as the application makes them.
const char* Registered(const char* pszType) {
  EnvRegisterStageTypes();
  return pszType;
}

// A module in the stand-in patch, stepped the way a voice steps it: the clock moves, the
// per-sample records (the output read and the inputs that vary) turn stale, and the output is
// pulled, which computes the module once.
class Bench {
 public:
  Bench(const char* pszType, const Settings& aSet, const char* pszOutput, bool bSubPatch = false)
      : h_(Registered(pszType), kRate, false, bSubPatch ? "Glide" : nullptr) {
    h_.FoldConstants();
    if (bSubPatch) {
      h_.PlaceInSubPatch();
      for (const char* pszVar : {"Rate", "Time", "CurveType", "Continue", "Bypass"})
        h_.AddContextAt(1, "Portamento", pszVar);
    }
    h_.AddContext("Note", "NoteOff");
    h_.AddContext("Note", "NoteNumber");
    h_.AddContext("Channel", "DamperPdl");
    h_.AddContext("In", "Value");
    h_.AddContext("Global", "FreqA", "440");
    for (const auto& set : aSet) h_.Set(set.first, set.second);
    h_.Start();
    for (Var* pvar = *h_.pmodule()->ppavarTable; pvar->pszName; ++pvar)
      if (pvar->pform && !FormIsConstant(pvar->pform)) apvarStale_.push_back(pvar);
    pvarOutput_ = h_.Find(h_.pmodule()->pszName, pszOutput);
    apvarStale_.push_back(pvarOutput_);
  }

  ModuleHarness& h() { return h_; }

  // Computes the current sample, then moves the clock on: the first computation is at note
  // time 0, where an envelope sets up its first segment.
  void Sample() {
    for (Var* pvar : apvarStale_) pvar->evalState = EvalStale;
    FormVarEval(pvarOutput_);
    h_.dTime += 1 / kRate;
    h_.dSample += 1;
  }

  void Run(benchmark::State& state) {
    for (auto _ : state) {
      Sample();
      benchmark::DoNotOptimize(*pvarOutput_->pvalue);
    }
    state.SetItemsProcessed(state.iterations());
  }

 private:
  ModuleHarness h_;
  std::vector<Var*> apvarStale_;
  Var* pvarOutput_ = nullptr;
};

// Stage times of 1e5 s keep the envelope in the stage measured for the whole run.
void EnvAttack(benchmark::State& state) {
  Bench b("ADSREnv", {{"Attack", "100000"}, {"Decay", "1"}, {"Sustain", "0.5"}, {"Release", "1"}}, "Amp");
  b.Run(state);
}
void EnvDecay(benchmark::State& state) {
  Bench b("ADSREnv", {{"Attack", "0"}, {"Decay", "100000"}, {"Sustain", "0.5"}, {"Release", "1"}}, "Amp");
  b.Run(state);
}
void EnvSustain(benchmark::State& state) {
  Bench b("ADSREnv", {{"Attack", "0"}, {"Decay", "0"}, {"Sustain", "0.5"}, {"Release", "1"}}, "Amp");
  b.Run(state);
}
void EnvRelease(benchmark::State& state) {
  Bench b("ADSREnv", {{"Attack", "0"}, {"Decay", "0"}, {"Sustain", "0.5"}, {"Release", "100000"}}, "Amp");
  b.Sample();
  b.h().Value("Note", "NoteOff") = 1;
  b.Run(state);
}
BENCHMARK(EnvAttack);
BENCHMARK(EnvDecay);
BENCHMARK(EnvSustain);
BENCHMARK(EnvRelease);

// Each slew kind with an input far enough away that it slews for the whole run.
void Slewing(benchmark::State& state, const char* pszType, Settings aSet, double dFrom, double dTo,
             bool bSubPatch = false) {
  aSet.push_back({"Input", "In:Value"});
  Bench b(pszType, aSet, "Output", bSubPatch);
  if (bSubPatch) {
    b.h().Value("Portamento", "Rate") = DBL_MAX;  // unset in the parent
    b.h().Value("Portamento", "Time") = 100000;
    b.h().Value("Portamento", "CurveType") = KwExponential;
    b.h().Value("Portamento", "Continue") = 1;
  }
  b.h().Value("In", "Value") = dFrom;
  b.Sample();
  b.h().Value("In", "Value") = dTo;
  b.Run(state);
}
BENCHMARK_CAPTURE(Slewing, Slew, "Slew", {{"Rate", "1"}}, 0, 1e12);
BENCHMARK_CAPTURE(Slewing, SlewRateLinear, "SlewRateLinear", {{"Rate", "1"}}, 0, 1e12);
BENCHMARK_CAPTURE(Slewing, SlewRateExponential, "SlewRateExponential", {{"Rate", "1.0001"}}, 1, 1e300);
BENCHMARK_CAPTURE(Slewing, SlewTimeLinear, "SlewTimeLinear", {{"Time", "100000"}}, 0, 1);
BENCHMARK_CAPTURE(Slewing, SlewTimeExponential, "SlewTimeExponential", {{"Time", "100000"}}, 1, 2);
BENCHMARK_CAPTURE(Slewing, Portamento, "Portamento", {{"Time", "100000"}}, 220, 440);
BENCHMARK_CAPTURE(Slewing, SubPortamento, "SubPortamento", {}, 220, 440, true);

void Hold(benchmark::State& state) {
  Bench b("Hold", {{"Frequency", "97"}, {"Input", "Note:Sample"}, {"InputPrev", "0"}}, "Output");
  b.Run(state);
}
BENCHMARK(Hold);

// A tuning answering a note number that may change every sample.
void Map(benchmark::State& state) {
  Bench b("Tuning", {{"Input", "Note:NoteNumber"}}, "Output");
  b.h().Value("Note", "NoteNumber") = 69;
  b.Run(state);
}
BENCHMARK(Map);

}  // namespace

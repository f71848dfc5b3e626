// Rendering and compiling whole patches: frames per second with notes held, compile time of a
// large patch, and how many per-sample records the optimizer saves.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {

AppCore& Core() {
  static AppCore* pcore = [] {
    AKSInitializeSpec("", "E=V;F=V");  // the compiler's trace would drown the figures
    return new AppCore(VANTREL_STAGE);
  }();
  return *pcore;
}

Patch* Compile(const std::string& sPath) {
  Patch* ppatch = Core().CompilePatchFile(sPath.c_str(), 0);
  if (!ppatch || !ppatch->bCompiled) {
    fprintf(stderr, "cannot compile %s\n", sPath.c_str());
    abort();
  }
  return ppatch;
}

std::string BenchPatch(const char* pszName) { return std::string(VANTREL_BENCH_PATCHES) + "/" + pszName; }

// Renders frames with nNotes notes held (a chord of thirds from middle C).
void RenderHeld(benchmark::State& state, const char* pszPatch) {
  Patch* ppatch = Compile(BenchPatch(pszPatch));
  int nNotes = static_cast<int>(state.range(0));
  for (int i = 0; i < nNotes; ++i) ppatch->NoteOn(60 + 4 * i, 0.5);
  double adFrame[2];
  for (auto _ : state) {
    adFrame[0] = adFrame[1] = 0;
    ppatch->RenderFrame(adFrame, 2);
    benchmark::DoNotOptimize(adFrame[0]);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  delete ppatch;
}

// A patch of n oscillators a little apart in pitch, all summed by the voice. (Chains of variables
// deeper than 25 levels are refused as suspect loops, so the modules stand side by side.)
std::string LargePatch(int nModules) {
  std::string s;
  for (int i = 1; i <= nModules; ++i) {
    s += "[Osc" + std::to_string(i) + "]\nFrequency = Pitch * ( 1 + " + std::to_string(i) + " / 10000 )\n";
    s += "Duty = 0." + std::to_string(i % 9 + 1) + "\n";
  }
  // A formula has at most 59 operands, so the voice sums groups of fifty.
  s += "[Voice]\n";
  std::string sGroups;
  for (int iGroup = 0; iGroup * 50 < nModules; ++iGroup) {
    s += "group" + std::to_string(iGroup) + " = Osc" + std::to_string(iGroup * 50 + 1);
    for (int i = iGroup * 50 + 2; i <= std::min(nModules, iGroup * 50 + 50); ++i) s += " + Osc" + std::to_string(i);
    s += "\n";
    sGroups += (iGroup ? " + group" : "group") + std::to_string(iGroup);
  }
  s += "PreGain = ( " + sGroups + " ) / " + std::to_string(nModules) + "\n";
  return s;
}

void CompileLarge(benchmark::State& state) {
  std::string sPath = std::filesystem::temp_directory_path() / "vantrel_bench_large.vantrel";
  std::ofstream(sPath) << LargePatch(static_cast<int>(state.range(0)));
  for (auto _ : state) delete Compile(sPath);
  std::filesystem::remove(sPath);
}

int CountPerSample(Patch* ppatch) {
  int n = 0;
  for (VarTable* ptable : {&ppatch->tabPatch, &ppatch->tabVoice})
    for (int i = 0; i < ptable->N(); ++i) n += (*ptable)[i].evalClass == ClassPerSample;
  return n;
}

// Per-sample records with and without the optimizer, reported as counters.
void OptimizerSavings(benchmark::State& state, const char* pszPatch) {
  int anCount[2];
  for (bool bOptimize : {false, true}) {
    Patch::bOptimize = bOptimize;
    // Unoptimized, envelopes refuse their unfolded constants when initialised; the classes
    // are computed before that, which is all this counts.
    Patch* ppatch = Core().CompilePatchFile(BenchPatch(pszPatch).c_str(), 0);
    anCount[bOptimize] = CountPerSample(ppatch);
    delete ppatch;
  }
  Patch::bOptimize = true;
  for (auto _ : state) benchmark::DoNotOptimize(anCount);
  state.counters["per-sample before"] = anCount[0];
  state.counters["per-sample after"] = anCount[1];
}

}  // namespace

BENCHMARK_CAPTURE(RenderHeld, Sine, "sine.vantrel")->Arg(1)->Arg(8);
BENCHMARK_CAPTURE(RenderHeld, TwoSaws, "two_saws.vantrel")->Arg(1)->Arg(8);
BENCHMARK_CAPTURE(RenderHeld, Default, "../../installation/patch/Default.vantrel")->Arg(1)->Arg(8);
BENCHMARK(CompileLarge)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OptimizerSavings, Sine, "sine.vantrel")->Iterations(1);
BENCHMARK_CAPTURE(OptimizerSavings, TwoSaws, "two_saws.vantrel")->Iterations(1);
BENCHMARK_CAPTURE(OptimizerSavings, Default, "../../installation/patch/Default.vantrel")->Iterations(1);

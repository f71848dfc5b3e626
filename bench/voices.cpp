// Voices per CPU: the MoogDirty benchmark patch held at 1 to 128 notes and a one-sine patch at
// eight, reported as voice-seconds rendered per CPU-second (N notes x seconds of sound / CPU time).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/appcore.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {

// The sample rate of the stage's settings, which the patches render at.
constexpr double kRate = 44100;

AppCore& Core() {
  static AppCore* pcore = [] {
    AKSInitializeSpec("", "E=V;F=V");  // the compiler's trace would drown the figures
    return new AppCore(VANTREL_STAGE);
  }();
  return *pcore;
}

// Note i of a chord of N: 36 + 7i mod 48 for the first 48 (a spread over four octaves), then the
// keys above (84 ... 127) and below (35 ... 0), so that any N up to 128 has distinct keys.
int ChordKey(int i) {
  if (i < 48) return 36 + i * 7 % 48;
  if (i < 92) return 84 + (i - 48);
  return 35 - (i - 92);
}

// Holds N notes at velocity 0.5 and renders stereo frames; the first half second (attack and
// decay) is rendered before timing, so the figure is the sustained cost.
void HeldVoices(benchmark::State& state, const char* pszPatch) {
  std::string sPath = std::string(VANTREL_BENCH_PATCHES) + "/" + pszPatch;
  Patch* ppatch = Core().CompilePatchFile(sPath.c_str(), 0);
  if (!ppatch || !ppatch->bCompiled) {
    fprintf(stderr, "cannot compile %s\n", sPath.c_str());
    abort();
  }
  int nNotes = static_cast<int>(state.range(0));
  for (int i = 0; i < nNotes; ++i) ppatch->NoteOn(ChordKey(i), 0.5);
  double adFrame[2];
  for (int i = 0; i < kRate / 2; ++i) {
    adFrame[0] = adFrame[1] = 0;
    ppatch->RenderFrame(adFrame, 2);
  }
  for (auto _ : state) {
    adFrame[0] = adFrame[1] = 0;
    ppatch->RenderFrame(adFrame, 2);
    benchmark::DoNotOptimize(adFrame[0]);
  }
  // A rate counter divides by the CPU time of the timed loop: shown as "voice-seconds=X/s".
  state.counters["voice-seconds"] =
      benchmark::Counter(nNotes * static_cast<double>(state.iterations()) / kRate, benchmark::Counter::kIsRate);
  delete ppatch;
}

}  // namespace

BENCHMARK_CAPTURE(HeldVoices, MoogDirty, "moog_dirty.vantrel")->Arg(1)->Arg(8)->Arg(32)->Arg(128);
BENCHMARK_CAPTURE(HeldVoices, Sine, "sine.vantrel")->Arg(8);

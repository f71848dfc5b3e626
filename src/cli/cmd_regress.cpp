// vantrel regress: the regression runner without windows, over the installation's patch folder.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "app/appcore.h"
#include "app/regress.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"

namespace {

struct RegressCliOptions {
  double dSeconds = 1;
  int nFrames = 0;
  bool bUpdate = false;
};

void PrintLine(const RegressResult& result, void*) {
  char szPercent[32] = "---.--%";
  if (result.dPercent >= 0) snprintf(szPercent, sizeof szPercent, "%.2f%%", result.dPercent);
  printf("%-50s %-22s %10.0f Hz %9s%s%s\n", result.sName.c_str(), result.sResult.c_str(), result.dRate, szPercent,
         result.sNote.c_str(), result.bExemplarWritten ? " (exemplar written)" : "");
  fflush(stdout);
  if (result.sResult == "compilation error") {
    for (const ErrorListNode& node : ErrorList::Get()->anode) PrintDiagnostic(result.sPath.c_str(), node);
  }
}

int RunRegress(const RegressCliOptions& cli) {
  if (!(cli.dSeconds > 0) || cli.dSeconds > 600) {
    fprintf(stderr, "vantrel: --seconds must be above 0 and at most 600\n");
    return ExitUsage;
  }
  std::unique_ptr<AppCore> pcore = MakeAppCore();
  if (!pcore) return ExitUsage;
  RegressOptions opt;
  opt.dSeconds = cli.dSeconds;
  opt.nFrames = cli.nFrames;
  opt.bUpdate = cli.bUpdate;
  opt.bShow = false;
  opt.pfnLine = PrintLine;
  RegressSummary sum;
  if (RunRegressions(*pcore, opt, &sum) != 0) {
    fprintf(stderr, "vantrel: %s\n", sum.sError.c_str());
    return ExitUsage;
  }
  printf("%d patch(es): %d OK, %d differ, %d without exemplar, %d compilation error(s), %d file error(s)\n",
         sum.nTested, sum.nOK, sum.nDiffers, sum.nNoExemplar, sum.nCompileErrors, sum.nOtherErrors);
  if (sum.nBenchmarked > 0)
    printf("average performance %.2f%% of the benchmark over %d patch(es)\n", sum.dAverage, sum.nBenchmarked);
  if (cli.bUpdate)
    printf("updated: %d exemplar(s) changed, %d new; %d benchmark line(s) added\n", sum.nExemplarsReplaced,
           sum.nExemplarsNew, sum.nBenchmarksAdded);
  printf("results: %s/results.txt\n", AKWriteDir(AKPlaceRegressions).c_str());
  if (sum.nCompileErrors > 0 || (sum.nDiffers > 0 && !cli.bUpdate)) return ExitRefused;
  if (sum.nOtherErrors > 0) return ExitUsage;
  return ExitOk;
}

}  // namespace

Command AddRegressCommand(CLI::App& app) {
  auto opt = std::make_shared<RegressCliOptions>();
  CLI::App* papp = app.add_subcommand(
      "regress", "Play every patch of the installation and compare its sound with the stored exemplar");
  papp->add_option("--seconds", opt->dSeconds, "Wall-clock time each patch plays (default 1)")->type_name("S");
  papp->add_option("--frames", opt->nFrames, "Capture exactly N frames, the same on any machine")
      ->type_name("N")
      ->check(CLI::Range(1, RegressMaxSamples));
  papp->add_flag("--update", opt->bUpdate, "Replace the exemplar of every patch that differs");
  papp->footer(
      "Each patch under patch/ (but patch/edit_history) is installed on channel 1 and plays note 60 at velocity 0.5;\n"
      "the first voice's output is compared with regressions/NAME.exemplar. A patch seen for the first time gets\n"
      "its exemplar; one that differs by more than 1e-10 gets NAME.differ (with --update: a new exemplar). Every\n"
      "patch gets NAME.csv, and regressions/results.txt one line with its speed against regressions/benchmark.txt\n"
      "(--update also adds the missing benchmark lines).\n"
      "An installation the user cannot write keeps all this in $XDG_DATA_HOME/vantrel/regressions (by default\n"
      "~/.local/share/vantrel/regressions), reading the installed exemplars where it has none of its own, and\n"
      "plays the user's own patches of $XDG_DATA_HOME/vantrel/patch/user as user/NAME too.\n"
      "Exit status: 0 all well, 1 a patch differs or does not compile, 2 usage, or a file could not be used.");
  return {papp, [opt] { return RunRegress(*opt); }};
}

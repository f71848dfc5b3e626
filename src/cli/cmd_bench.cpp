// vantrel bench: how fast each patch renders, as the performance line installation posts.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "formula/errorlist.h"

namespace {

constexpr OptionRange kSecondsRange = {0, 600, false, ""};  // ten minutes per patch is plenty for a figure

struct BenchOptions {
  std::vector<std::string> asPaths;
  double dSeconds = 1;
};

std::string g_sCurrent;

int RunBench(const BenchOptions& opt) {
  if (!CheckOptionRange("--seconds", opt.dSeconds, kSecondsRange)) return ExitUsage;
  std::unique_ptr<AppCore> pcore = MakeAppCore();
  if (!pcore) return ExitUsage;
  // The performance line is the result: standard output, one line per patch.
  pcore->pfnUserMessage = [](const char* psz) { printf("%s: %s\n", g_sCurrent.c_str(), psz); };
  int iExit = ExitOk;
  for (const std::string& sPath : opt.asPaths) {
    if (!CheckReadable(sPath)) {
      iExit = ExitUsage;
      continue;
    }
    g_sCurrent = sPath;
    int iResult = pcore->LoadPatch(sPath.c_str(), 0, false, opt.dSeconds, nullptr);
    for (const ErrorListNode& node : ErrorList::Get()->anode)
      PrintDiagnostic(sPath.c_str(), node);
    if (iResult != 0 && iExit == ExitOk) iExit = ExitRefused;
    fflush(stdout);
  }
  return iExit;
}

}  // namespace

Command AddBenchCommand(CLI::App& app) {
  auto opt = std::make_shared<BenchOptions>();
  CLI::App* papp = app.add_subcommand("bench", "Install each patch and measure how fast it renders one held note");
  papp->add_option("PATCH", opt->asPaths, "Patch files")->required();
  papp->add_option("--seconds", opt->dSeconds, "How long to measure each patch (default 1)")->type_name("S");
  papp->footer(
      "Prints \"performance: P polyphony; T us; F kHz\": how many copies of one note could render in real time,\n"
      "the time per sample frame, and the frames per second in thousands.");
  return {papp, [opt] { return RunBench(*opt); }};
}

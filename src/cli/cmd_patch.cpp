// vantrel check and vantrel dump: compile patches as installing them would, and show the result.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "formula/errorlist.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"
#include "patch/patch.h"

namespace {

// The patch's diagnostics in line order, the patch's own lines first, then those of each file it
// includes (the list itself is sorted by text).
void PrintErrorList(const std::string& sPath) {
  ErrorList* pel = ErrorList::Get();
  pel->Lock();
  std::vector<const ErrorListNode*> apnode;
  for (const ErrorListNode& node : pel->anode) apnode.push_back(&node);
  std::stable_sort(apnode.begin(), apnode.end(), [](const ErrorListNode* a, const ErrorListNode* b) {
    if ((a->pszLineFile != nullptr) != (b->pszLineFile != nullptr)) return a->pszLineFile == nullptr;
    if (int iCompare = AKstrcmp(a->pszLineFile, b->pszLineFile)) return iCompare < 0;
    return a->iLine < b->iLine;
  });
  for (const ErrorListNode* pnode : apnode) PrintDiagnostic(sPath.c_str(), *pnode);
  pel->Unlock();
}

int RunCheck(const std::vector<std::string>& asPaths, bool bDump) {
  std::unique_ptr<AppCore> pcore = MakeAppCore();
  if (!pcore) return ExitUsage;
  int iExit = ExitOk;
  for (const std::string& sPath : asPaths) {
    if (!CheckReadable(sPath)) {
      iExit = ExitUsage;
      continue;
    }
    Patch* ppatch = pcore->CompilePatchFile(sPath.c_str(), 0);
    PrintErrorList(sPath);
    if (!ppatch) {
      iExit = ExitUsage;
      continue;
    }
    if (!ppatch->bCompiled && iExit == ExitOk) iExit = ExitRefused;
    if (bDump && ppatch->bCompiled) fputs(ppatch->DumpText().c_str(), stdout);
    delete ppatch;
  }
  return iExit;
}

}  // namespace

Command AddCheckCommand(CLI::App& app) {
  auto pasPaths = std::make_shared<std::vector<std::string>>();
  CLI::App* papp = app.add_subcommand("check", "Compile patches as installing them on MIDI channel 1 would; print diagnostics");
  papp->add_option("PATCH", *pasPaths, "Patch files (.vantrel)")->required();
  papp->footer("Diagnostics go to standard error as PATH:LINE: MESSAGE. Exit status 1 when a patch is refused.");
  return {papp, [pasPaths] { return RunCheck(*pasPaths, false); }};
}

Command AddDumpCommand(CLI::App& app) {
  auto psPath = std::make_shared<std::string>();
  CLI::App* papp = app.add_subcommand("dump", "Compile a patch and print its variable tables with evaluation classes");
  papp->add_option("PATCH", *psPath, "A patch file (.vantrel)")->required();
  papp->footer(
      "Class letters: u unused, c constant, P per-patch, V per-voice, N per-note, S per-sample.\n"
      "Columns: original index, level, owning level, parent level, PP for per-patch modules and the module's\n"
      "index, module, class, variable, default formula, user formula, the formula as compiled.");
  return {papp, [psPath] { return RunCheck({*psPath}, true); }};
}

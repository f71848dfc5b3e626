// vantrel conf: read a configuration file and print it back in text or XML form.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

namespace {

struct ConfOptions {
  std::string sFile;
  bool bFromXml = false;
  bool bToXml = false;
};

// Reader warnings ("line %d: ...") and fatal XML faults become diagnostics at the file's lines.
void PrintReaderMessage(int, const char*, int, const char* pszMessage, const char*, void* pvPath) {
  const char* pszText;
  int iLine = SplitLinePrefix(pszMessage, &pszText);
  PrintDiagnostic(static_cast<const char*>(pvPath), iLine, pszText);
}

int RunConf(const ConfOptions& opt) {
  if (!CheckReadable(opt.sFile)) return ExitUsage;
  FILE* pfile = fopen(opt.sFile.c_str(), "rb");
  if (!pfile) {
    fprintf(stderr, "vantrel: cannot read %s: %s\n", opt.sFile.c_str(), strerror(errno));
    return ExitUsage;
  }
  // The diagnostics replace the raw log lines on standard error; the log file keeps them.
  void* pvPath = const_cast<char*>(opt.sFile.c_str());
  AKSSetCallback(AKSWarn, PrintReaderMessage, pvPath);
  AKSSetCallback(AKSFatal, PrintReaderMessage, pvPath);
  AKSSetActions(AKSWarn, AKSGetActions(AKSWarn) & ~AKSActDebug);
  AKSSetActions(AKSFatal, (AKSGetActions(AKSFatal) & ~AKSActDebug) | AKSActExit);
  AKConfig_T* pconf = AKConfigReadStream(opt.sFile.c_str(), pfile, opt.bFromXml ? AKConfigXml : AKConfigText);
  fclose(pfile);
  int iResult = AKConfigWriteStream(pconf, stdout, opt.bToXml ? AKConfigXml : AKConfigText);
  AKConfigFree(pconf);
  if (iResult != 0 || fflush(stdout) != 0) {
    fprintf(stderr, "vantrel: cannot write the configuration to standard output\n");
    return ExitUsage;
  }
  return ExitOk;
}

}  // namespace

Command AddConfCommand(CLI::App& app) {
  auto opt = std::make_shared<ConfOptions>();
  CLI::App* papp = app.add_subcommand("conf", "Read a configuration file and print it back (text form, or XML with --to-xml)");
  papp->add_option("FILE", opt->sFile, "The configuration file (patch, package or settings)")->required();
  papp->add_flag("--from-xml", opt->bFromXml, "Read the file in XML form");
  papp->add_flag("--to-xml", opt->bToXml, "Print the configuration in XML form");
  papp->footer("Reader warnings go to standard error as FILE:LINE: message.");
  return {papp, [opt] { return RunConf(*opt); }};
}

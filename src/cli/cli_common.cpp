// The installation folder, status-log set-up and diagnostic printing shared by the subcommands.
#include "cli/cli_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/appcore.h"
#include "cli/statuslog.h"
#include "formula/errorlist.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"

namespace fs = std::filesystem;

namespace {

std::string& InstallDirStore() {
  static std::string s;
  return s;
}

std::string ExecutableInstallDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().parent_path().string();
}

}  // namespace

const std::string& InstallDir() {
  std::string& s = InstallDirStore();
  if (s.empty()) {
    s = ExecutableInstallDir();
    AKPathsInit(s);
  }
  return s;
}

void SetInstallDir(const std::string& sDir) {
  InstallDirStore() = sDir;
  AKPathsInit(sDir);
}

std::string SettingsPath() {
  InstallDir();  // decides where the user's files are, on first use
  return AKSettingsPath();
}

void AddInstallOption(CLI::App* papp) {
  papp->add_option_function<std::string>(
          "--install", [](const std::string& s) { SetInstallDir(s); },
          "Installation folder (default: two levels above the executable)")
      ->type_name("DIR");
}

void PrintDiagnostic(const char* pszPath, int iLine, const char* pszMessage, int nCount) {
  // Some messages end in a line break of their own; a diagnostic is one line.
  size_t nLength = strlen(pszMessage);
  while (nLength > 0 && (pszMessage[nLength - 1] == '\n' || pszMessage[nLength - 1] == '\r')) --nLength;
  // A message may quote a binary file; escaped, it can neither garble nor drive the terminal.
  std::string sMessage(nLength * 4 + 1, '\0');
  AKEscapeBinary(sMessage.data(), sMessage.size(), pszMessage, nLength);
  if (iLine >= 0) fprintf(stderr, "%s:%d: %s", pszPath, iLine, sMessage.c_str());
  else fprintf(stderr, "%s: %s", pszPath, sMessage.c_str());
  if (nCount > 1) fprintf(stderr, " [x%d]", nCount);
  fputc('\n', stderr);
}

void PrintDiagnostic(const char* pszPath, const ErrorListNode& node) {
  PrintDiagnostic(node.pszLineFile ? node.pszLineFile : pszPath, node.iLine, node.psz, node.iCount);
}

int SplitLinePrefix(const char* pszMessage, const char** ppszText) {
  int iLine = -1, n = 0;
  if (sscanf(pszMessage, "line %d: %n", &iLine, &n) == 1 && n > 0) {
    *ppszText = pszMessage + n;
    return iLine;
  }
  *ppszText = pszMessage;
  return -1;
}

bool CheckOptionRange(const char* pszOption, double d, const OptionRange& range) {
  bool bAboveMin = range.bFromMin ? d >= range.dMin : d > range.dMin;
  if (bAboveMin && d <= range.dMax) return true;  // false for NaN too
  fprintf(stderr, range.bFromMin ? "vantrel: %s must be from %g to %g%s, not %g\n"
                                 : "vantrel: %s must be above %g and at most %g%s, not %g\n",
          pszOption, range.dMin, range.dMax, range.pszUnit, std::isnan(d) ? std::fabs(d) : d);  // never "-nan"
  return false;
}

bool CheckReadable(const std::string& sPath) {
  struct stat st;
  const char* pszReason = nullptr;
  if (stat(sPath.c_str(), &st) != 0) pszReason = strerror(errno);
  else if (S_ISDIR(st.st_mode)) pszReason = "is a directory";
  else if (access(sPath.c_str(), R_OK) != 0) pszReason = strerror(errno);
  if (!pszReason) return true;
  fprintf(stderr, "vantrel: cannot read %s: %s\n", sPath.c_str(), pszReason);
  return false;
}

std::unique_ptr<AppCore> MakeAppCore(const std::vector<std::string>& asSettingsOverride) {
  std::string sSettings = SettingsPath();
  if (access(sSettings.c_str(), R_OK) != 0) {
    fprintf(stderr, "vantrel: cannot read interpreter file \"%s\": %s\n", sSettings.c_str(), strerror(errno));
    return nullptr;
  }
  // An unusable setting is the user's business; after that, the patch compiler's warnings reach
  // the user through the error list, which every command prints as diagnostics.
  auto pcore = std::make_unique<AppCore>(InstallDir(), asSettingsOverride);
  AKSSetActions(AKSWarn, AKSGetActions(AKSWarn) & ~AKSActDebug);
  EchoWarnings(false);
  return pcore;
}

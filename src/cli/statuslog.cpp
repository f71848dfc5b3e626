// The command line's status log: no file unless asked for, plain diagnostics on standard error.
#include "cli/statuslog.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli_common.h"
#include "foundation/akpaths.h"
#include "foundation/akstatus.h"

namespace {

std::string g_sLogFile;
std::atomic<void (*)(const std::string&)> g_pfnSink{nullptr};

void PrintToStderr(const std::string& sLine) {
  std::string s = sLine + "\n";
  // One write, so that lines from several threads do not interleave.
  if (write(2, s.data(), s.size()) < 0) return;  // nowhere left to tell
}

void EchoToUser(int, const char* pszMessage) {
  if (NamesPlatformCall(pszMessage)) return;
  std::string s = pszMessage;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  if (s.empty()) return;
  void (*pfnSink)(const std::string&) = g_pfnSink.load();
  (pfnSink ? pfnSink : PrintToStderr)("vantrel: " + s);
}

constexpr unsigned kUserSeverities = 1u << AKSWarn | 1u << AKSError | 1u << AKSFatal;

}  // namespace

void AddLogOption(CLI::App* papp) {
  papp->add_option("--log", g_sLogFile, "Also keep the developer log in FILE (appended to)")->type_name("FILE");
}

bool InitStatusLog() {
  if (getenv("KSStatus")) {
    // The developer's choice: the actions KSStatus names, into the --log file or else a
    // time-stamped file in the log folder (none when it cannot be written).
    std::string sBase;
    if (g_sLogFile.empty()) {
      InstallDir();  // decides where the log folder is
      std::string sDir = AKMakeWriteDir(AKPlaceLog);
      if (!sDir.empty() && access(sDir.c_str(), W_OK) == 0) sBase = sDir + "/vantrel";
    }
    AKSInitialize(sBase.c_str());
  } else {
    // A failed internal check still aborts and a fatal error still ends the run; what the user
    // reads of them is the plain echo.
    AKSInitializeSpec("", g_sLogFile.empty() ? "E=A;F=E" : "S=L;R=L;W=L;E=LA;F=LE");
    AKSSetEcho(EchoToUser, kUserSeverities);
  }
  if (!g_sLogFile.empty() && !AKSOpenLogFile(g_sLogFile.c_str())) {
    fprintf(stderr, "vantrel: cannot write the log file %s: %s\n", g_sLogFile.c_str(), strerror(errno));
    return false;
  }
  return true;
}

void EchoWarnings(bool bOn) {
  // Under KSStatus the developer's actions rule and nothing is echoed.
  if (getenv("KSStatus")) return;
  AKSSetEcho(EchoToUser, bOn ? kUserSeverities : kUserSeverities & ~(1u << AKSWarn));
}

void SetUserMessageSink(void (*pfnSink)(const std::string& sLine)) { g_pfnSink.store(pfnSink); }

bool NamesPlatformCall(const char* pszMessage) {
  // A call is a name glued to its opening parenthesis; plain words put a blank before one.
  for (const char* p = pszMessage; *p; ++p)
    if (*p == '(' && p > pszMessage && (isalnum(static_cast<unsigned char>(p[-1])) || p[-1] == '_')) return true;
  return false;
}

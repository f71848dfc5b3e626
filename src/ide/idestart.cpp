// Installation folder, user name, developers' account, instance channel name.
#include "ide/idestart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "foundation/akstatus.h"
#include "ide/kswinfactory.h"
#include "ide/windowapis.h"

std::string InstallDirFromExecutable(const std::string& sExePath) {
  size_t iSlash = sExePath.rfind('/');
  if (iSlash == std::string::npos) {
    AKS(AKSError, AK_HERE, "cannot find backslash before binary name: %s", sExePath.c_str());
    return "";
  }
  std::string sBin = sExePath.substr(0, iSlash);
  iSlash = sBin.rfind('/');
  if (iSlash == std::string::npos) {
    AKS(AKSError, AK_HERE, "cannot find backslash before binary directory: %s", sBin.c_str());
    return "";
  }
  // An executable in /bin has the root as its installation.
  return iSlash == 0 ? "/" : sBin.substr(0, iSlash);
}

void EnsureUserName() {
  const char* psz = getenv("USERNAME");
  if (psz && *psz) return;
  psz = getenv("USER");
  if (!psz || !*psz) {
    struct passwd* ppw = getpwuid(getuid());
    psz = ppw ? ppw->pw_name : "user";
  }
  setenv("USERNAME", psz, 1);
}

bool IsDeveloperAccount() {
  const char* pszUser = getenv("USERNAME");
  const char* pszDomain = getenv("USERDOMAIN");
  return pszUser && pszDomain && strcmp(pszUser, kDeveloperUser) == 0 && strcmp(pszDomain, kDeveloperDomain) == 0;
}

std::string InstanceChannelName(const std::string& sInstallDir) {
  const char* pszUser = getenv("USERNAME");
  char sz[128];
  snprintf(sz, sizeof sz, "vantrel-ide-%s-%zx", pszUser ? pszUser : "", std::hash<std::string>{}(sInstallDir));
  return sz;
}

PatchEditorApi* FindEditor(KSWinFactory& factory) {
  return dynamic_cast<PatchEditorApi*>(factory.FindWindowOfType(kTypeEditor));
}

HelpApi* OpenHelp(KSWinFactory& factory) {
  if (!factory.FindType(kTypeHelp)) return nullptr;
  KSWin* pwin = factory.FindWindowOfType(kTypeHelp);
  if (!pwin) pwin = factory.OpenWindow(kTypeHelp);
  return dynamic_cast<HelpApi*>(pwin);
}

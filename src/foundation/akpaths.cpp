// The installation's folders and the user's XDG folders: which one a file is read from and written to.
#include "foundation/akpaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

struct PlaceRow {
  const char* pszInstalled;  // below the installation
  int iBase;                 // which XDG base folder holds the user's copy
  const char* pszUser;       // below that base's "vantrel" folder
};

enum { kState, kData, kConfig };

// Indexed by AKPlace.
constexpr PlaceRow kaRow[AKPlaceCount] = {
    {"log", kState, "log"},
    {"sysex", kData, "sysex"},
    {"workspace", kData, "workspace"},
    {"template", kData, "template"},
    {"patch/user", kData, "patch/user"},
    {"patch/edit_history", kData, "patch/edit_history"},
    {"regressions", kData, "regressions"},
    {"config", kConfig, ""},
};

struct BaseRow {
  const char* pszVariable;
  const char* pszFallback;  // below $HOME
};

constexpr BaseRow kaBase[] = {
    {"XDG_STATE_HOME", ".local/state"},
    {"XDG_DATA_HOME", ".local/share"},
    {"XDG_CONFIG_HOME", ".config"},
};

std::string sInstallDir;
bool bPerUser = false;

// "" when neither the variable (absolute) nor HOME is set.
std::string BaseDir(int iBase) {
  const char* psz = getenv(kaBase[iBase].pszVariable);
  if (psz && *psz == '/') return psz;
  psz = getenv("HOME");
  if (!psz || !*psz) return "";
  return std::string(psz) + "/" + kaBase[iBase].pszFallback;
}

std::string UserDir(AKPlace place) {
  std::string sBase = BaseDir(kaRow[place].iBase);
  if (sBase.empty()) return "";
  std::string sDir = sBase + "/vantrel";
  if (*kaRow[place].pszUser) sDir += std::string("/") + kaRow[place].pszUser;
  return sDir;
}

bool Exists(const std::string& sPath) {
  struct stat st;
  return stat(sPath.c_str(), &st) == 0;
}

}  // namespace

void AKPathsInit(const std::string& sDir) {
  sInstallDir = sDir;
  // Only a refusal counts: a folder that is not there yet is made by whoever writes first,
  // as before. A system package marks its installation as shared, so that even root, whom file
  // modes do not stop, leaves the package's files as they were installed.
  bPerUser = Exists(sDir + "/" + kSharedMarker) ||
             (access(sDir.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM));
}

const std::string& AKPathsInstallDir() { return sInstallDir; }

bool AKPathsPerUser() { return bPerUser; }

std::string AKInstalledDir(AKPlace place) { return sInstallDir + "/" + kaRow[place].pszInstalled; }

std::string AKWriteDir(AKPlace place) { return bPerUser ? UserDir(place) : AKInstalledDir(place); }

std::string AKMakeWriteDir(AKPlace place, std::string* psError) {
  std::string sDir = AKWriteDir(place);
  std::string sError;
  if (sDir.empty()) {
    sError = std::string("no folder to write ") + kaRow[place].pszInstalled +
             " files in: the installation is read-only and HOME is not set";
  } else {
    std::error_code ec;
    std::filesystem::create_directories(sDir, ec);
    if (ec) sError = "cannot create folder " + sDir + ": " + ec.message();
  }
  if (sError.empty()) return sDir;
  if (psError) *psError = sError;
  return "";
}

std::string AKReadPath(AKPlace place, const std::string& sName) {
  if (bPerUser) {
    std::string sUser = UserDir(place);
    if (!sUser.empty() && Exists(sUser + "/" + sName)) return sUser + "/" + sName;
  }
  return AKInstalledDir(place) + "/" + sName;
}

// The patch browser's collections and folder listing.
#include "ide/browserlist.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "foundation/akpaths.h"

namespace fs = std::filesystem;

const BrowserCollection kabrowserCollection[kBrowserCollections] = {
    {"Tutorial", "tutorial"},
    {"Demo", "demo"},
    {"1980sDigiWave", "1980sDigiWave"},
    {"User", "user"},
};

namespace {
constexpr const char* kExtension = ".vantrel";
}

std::string BrowserCollectionFolder(const std::string& sInstallDir, int iCollection) {
  if (iCollection < 0 || iCollection >= kBrowserCollections) return "";
  // The user's own patches live in the user's folders when the installation is read-only.
  if (iCollection == kBrowserCollections - 1 && AKPathsPerUser()) return AKWriteDir(AKPlaceUserPatch);
  return sInstallDir + "/patch/" + kabrowserCollection[iCollection].pszFolder;
}

bool BrowserPatchName(const std::string& sFile, std::string* psName) {
  size_t i = sFile.find(kExtension);
  if (i == std::string::npos || i == 0 || i + strlen(kExtension) != sFile.size()) return false;
  *psName = sFile.substr(0, i);
  return true;
}

int BrowserListFolder(const std::string& sFolder, std::vector<std::string>* pasName, int* piError) {
  std::error_code ec;
  fs::directory_iterator it(sFolder, ec);
  std::vector<std::string> asName;
  // The iterator never yields "." and "..".
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string sName;
    std::error_code ecType;
    if (it->is_directory(ecType)) continue;
    if (BrowserPatchName(it->path().filename().string(), &sName)) asName.push_back(sName);
  }
  if (ec) {
    *piError = ec.value();
    return -1;
  }
  // std::string compares as unsigned bytes: "Zebra" before "apple".
  std::sort(asName.begin(), asName.end());
  *pasName = std::move(asName);
  return 0;
}

std::string BrowserCannotReadText(const std::string& sFolder, int iError) {
  return "Cannot read \"" + sFolder + "/*\": " + std::to_string(iError);
}

std::string BrowserPatchPath(const std::string& sFolder, const std::string& sName) {
  return sFolder + "/" + sName + kExtension;
}

// The patch browser's collections and the rules by which a folder becomes its list of patches.
#pragma once

#include <string>
#include <vector>

// The collections in tab order: the tab's text and the folder under the installation's "patch".
struct BrowserCollection {
  const char* pszTab;
  const char* pszFolder;
};
constexpr int kBrowserCollections = 4;
extern const BrowserCollection kabrowserCollection[kBrowserCollections];

// The folder of a collection. Every reader of a collection's folder asks here, so that a
// collection can live elsewhere than the installation (a user folder on a read-only install).
std::string BrowserCollectionFolder(const std::string& sInstallDir, int iCollection);

// The patch a file name stands for: a name whose first ".vantrel" is at its very end, without
// that extension. False for every other name (Bass.vantrel.bak, Bass.VANTREL, ".vantrel").
bool BrowserPatchName(const std::string& sFile, std::string* psName);

// The patches of a folder, by byte value ascending. -1 with *piError (the system's error code)
// when the folder cannot be read; *pasName is then left as it was.
int BrowserListFolder(const std::string& sFolder, std::vector<std::string>* pasName, int* piError);

// What the browser shows when a folder cannot be read: the box's title and its text.
constexpr const char* kBrowserCannotReadTitle = "Cannot Read Directory";
std::string BrowserCannotReadText(const std::string& sFolder, int iError);

// The file a row stands for.
std::string BrowserPatchPath(const std::string& sFolder, const std::string& sName);

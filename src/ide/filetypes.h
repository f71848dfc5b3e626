// The file types of the desktop: a desktop entry that opens .vantrel and .vanpack files with
// this installation's program, and their MIME types (subclasses of text/plain), installed into
// the user's XDG data folder.
#pragma once

#include <string>
#include <vector>

struct FileTypeFile {
  std::string sPath;     // below the data folder
  std::string sContent;
};

// The files for an installation: "applications/vantrel-ide.desktop", "mime/packages/vantrel.xml"
// and the icon "icons/hicolor/scalable/apps/vantrel.svg". The Debian package installs the same
// files (for its own installation folder) into the system's share folder.
std::vector<FileTypeFile> FileTypeFiles(const std::string& sInstallDir);

// $XDG_DATA_HOME, else $HOME/.local/share; "" when neither is set.
std::string UserDataHome();

// Writes every file whose content differs from what is there (nothing when all are up to date,
// and nothing where a system data folder of $XDG_DATA_DIRS holds the same file, as the package
// installs them), then refreshes the MIME and desktop databases with their tools where they
// exist. Answers the number of files written, or -1 when one could not be written (logged).
int RegisterFileTypes(const std::string& sDataHome, const std::string& sInstallDir);

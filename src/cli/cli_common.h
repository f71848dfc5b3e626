// What every vantrel subcommand shares: the installation folder, the status log, diagnostics.
#pragma once

#include <memory>
#include <string>
#include <vector>

class AppCore;
struct ErrorListNode;

namespace CLI {
class App;
}

// Exit statuses of the command-line contract.
enum { ExitOk = 0, ExitRefused = 1, ExitUsage = 2 };

// The installation directory: --install if given, else two levels above the executable.
const std::string& InstallDir();
void SetInstallDir(const std::string& sDir);
// The engine settings file: the user's own when the installation is read-only and one exists.
std::string SettingsPath();
// Adds --install DIR to a subcommand.
void AddInstallOption(CLI::App* papp);

// Prints "PATH:LINE: MESSAGE" (or "PATH: MESSAGE" when iLine < 0) with " [xN]" when counted N > 1.
// Bytes a terminal would act on are printed as \xHH.
void PrintDiagnostic(const char* pszPath, int iLine, const char* pszMessage, int nCount = 1);
// Prints an error-list entry of the patch at pszPath; a line of a sub-patch or package the patch
// includes is printed with that file's path.
void PrintDiagnostic(const char* pszPath, const ErrorListNode& node);

// Splits a reader message "line %d: text" into its line and text; answers -1 when it has no prefix.
int SplitLinePrefix(const char* pszMessage, const char** ppszText);

// The application core for the installation; warnings of the settings reach standard error, later
// ones are kept off it (commands print their own diagnostics); null, with a message, when the
// engine settings cannot be read.
std::unique_ptr<AppCore> MakeAppCore(const std::vector<std::string>& asSettingsOverride = {});

// The values a numeric option accepts: above dMin (from dMin when bFromMin), at most dMax.
struct OptionRange {
  double dMin, dMax;
  bool bFromMin;
  const char* pszUnit;  // written after the bounds, such as " Hz"; "" for none
};
// Checks a value given for an option; when it is outside the range (or not a number) prints
// "vantrel: --seconds must be above 0 and at most 3600, not -1" and answers false.
bool CheckOptionRange(const char* pszOption, double d, const OptionRange& range);

// Checks that a file can be read; prints "vantrel: cannot read PATH: reason" and answers false if not.
bool CheckReadable(const std::string& sPath);

// What every vantrel subcommand shares: the installation folder, the status log, diagnostics.
#pragma once

#include <memory>
#include <string>
#include <vector>

class AppCore;

namespace CLI {
class App;
}

// Exit statuses of the command-line contract.
enum { ExitOk = 0, ExitRefused = 1, ExitUsage = 2 };

// The installation directory: --install if given, else two levels above the executable.
const std::string& InstallDir();
void SetInstallDir(const std::string& sDir);
// Adds --install DIR to a subcommand.
void AddInstallOption(CLI::App* papp);

// Prints "PATH:LINE: MESSAGE" (or "PATH: MESSAGE" when iLine < 0) with " [xN]" when counted N > 1.
void PrintDiagnostic(const char* pszPath, int iLine, const char* pszMessage, int nCount = 1);

// Splits a reader message "line %d: text" into its line and text; answers -1 when it has no prefix.
int SplitLinePrefix(const char* pszMessage, const char** ppszText);

// The application core for the installation; warnings of the settings reach standard error, later
// ones are kept off it (commands print their own diagnostics); null, with a message, when the
// engine settings cannot be read.
std::unique_ptr<AppCore> MakeAppCore(const std::vector<std::string>& asSettingsOverride = {});

// Checks that a file can be read; prints "vantrel: cannot read PATH: reason" and answers false if not.
bool CheckReadable(const std::string& sPath);

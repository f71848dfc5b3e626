// Start-up steps of the desktop application that need no window system: the installation
// folder from the executable's path, the user's name, the developers' account.
#pragma once

#include <string>

// The folder two levels above the executable (which lives in the installation's bin folder);
// "" with the failure logged when the path cannot be cut twice.
std::string InstallDirFromExecutable(const std::string& sExePath);

// USERNAME names the user's workspace file; where the system does not set it, it is taken from
// USER or the password database, so that "$USERNAME" always expands to the login name.
void EnsureUserName();

// The developers' own account, which sees the Test menu: USERNAME "vantrel-dev" and
// USERDOMAIN "vantrel".
constexpr const char* kDeveloperUser = "vantrel-dev";
constexpr const char* kDeveloperDomain = "vantrel";
bool IsDeveloperAccount();

// The name of the single-instance channel for this user and installation.
std::string InstanceChannelName(const std::string& sInstallDir);

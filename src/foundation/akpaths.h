// Where the program's own files live: inside the installation when it is writable, else in the user's XDG folders.
#pragma once

#include <string>

// A writable installation (a build tree, a checkout, a portable copy) keeps everything it writes
// inside itself. An installation the process cannot write (a system package under /opt) sends
// every write to the user's folders instead, and reading looks there first:
//
//   place            writable installation   per-user
//   AKPlaceLog          INSTALL/log             $XDG_STATE_HOME/vantrel/log
//   AKPlaceSysex        INSTALL/sysex           $XDG_DATA_HOME/vantrel/sysex
//   AKPlaceWorkspace    INSTALL/workspace       $XDG_DATA_HOME/vantrel/workspace
//   AKPlaceTemplate     INSTALL/template        $XDG_DATA_HOME/vantrel/template
//   AKPlaceUserPatch    INSTALL/patch/user      $XDG_DATA_HOME/vantrel/patch/user
//   AKPlaceEditHistory  INSTALL/patch/edit_history  $XDG_DATA_HOME/vantrel/patch/edit_history
//   AKPlaceRegressions  INSTALL/regressions     $XDG_DATA_HOME/vantrel/regressions
//   AKPlaceConfig       INSTALL/config          $XDG_CONFIG_HOME/vantrel
//
// The XDG variables fall back to ~/.local/state, ~/.local/share and ~/.config; a relative value
// is ignored, as the XDG rules say.
enum AKPlace {
  AKPlaceLog,
  AKPlaceSysex,
  AKPlaceWorkspace,
  AKPlaceTemplate,
  AKPlaceUserPatch,
  AKPlaceEditHistory,
  AKPlaceRegressions,
  AKPlaceConfig,
  AKPlaceCount
};

// The file that marks an installation as shared by the users of a system (the Debian package
// installs it): written in by nobody, as if it were read-only.
constexpr const char* kSharedMarker = "config/shared-installation";

// Decides, for the whole process, where the installation is and whether it is written in.
// Called again with another folder (tests do), it decides again.
void AKPathsInit(const std::string& sInstallDir);

// The folder given to AKPathsInit ("" before the first call).
const std::string& AKPathsInstallDir();

// True when writes go to the user's folders because the installation cannot be written.
bool AKPathsPerUser();

// The folder of a place inside the installation, where the shipped files are.
std::string AKInstalledDir(AKPlace place);

// The folder a place's files are written to (the installed one, or the user's); "" when the
// installation is read-only and the user has no home folder either. Not created here.
std::string AKWriteDir(AKPlace place);

// AKWriteDir, created with its parents; "" when that fails, with the reason in *psError. Logs
// nothing, so that it can serve before the status log is open.
std::string AKMakeWriteDir(AKPlace place, std::string* psError = nullptr);

// The file to read for a name below a place: the user's copy when there is one, else the
// installed one (which may not exist either).
std::string AKReadPath(AKPlace place, const std::string& sName);

// The files most callers need, by name.
inline std::string AKSettingsPath() { return AKReadPath(AKPlaceConfig, "Interpreter.vantrel"); }
inline std::string AKInputActionPath() { return AKReadPath(AKPlaceConfig, "InputAction.ini"); }

// An installation made by `cmake --install` into a temporary folder, and commands run with it
// mounted read-only, for the tests of where a read-only installation's users keep their files.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace readonly_install {

namespace fs = std::filesystem;

// The one exit status the mount script answers when it cannot make the read-only mount.
constexpr int kCannotMount = 77;

// `cmake --install BUILD --prefix PREFIX`; its exit status, its output in PREFIX.log.
inline int Install(const fs::path& prefix) {
  fs::remove_all(prefix);
  std::string sCommand = std::string("'") + CMAKE_COMMAND + "' --install '" + VANTREL_BUILD_DIR + "' --prefix '" +
                         prefix.string() + "' >'" + prefix.string() + ".log' 2>&1";
  int iStatus = system(sCommand.c_str());
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

// chmod -R a-w, or back to u+w (so the test can remove it).
inline void SetWritable(const fs::path& prefix, bool bWritable) {
  std::string sCommand = "chmod -R " + std::string(bWritable ? "u+w" : "a-w") + " '" + prefix.string() + "'";
  if (system(sCommand.c_str()) != 0) ADD_FAILURE() << sCommand;
}

// A file mode does not stop root, so the installation is also bind-mounted read-only over itself,
// in a mount namespace of the command's own (it ends with the command). Root gets one with
// unshare -m; another user maps itself to root in a user namespace of its own (unshare -rm).
// The arguments after the script: the installation, then the command to run.
inline fs::path MountScript(const fs::path& dir) {
  fs::path script = dir / "readonly.sh";
  std::ofstream(script) << "prefix=$1; shift\n"
                           "mount --bind \"$prefix\" \"$prefix\" && mount -o remount,bind,ro \"$prefix\" || exit "
                        << kCannotMount << "\nexec \"$@\"\n";
  return script;
}

inline std::vector<std::string> ReadOnlyCommand(const fs::path& script, const fs::path& prefix,
                                                const std::vector<std::string>& asCommand) {
  std::vector<std::string> as = {"unshare", geteuid() == 0 ? "-m" : "-rm", "sh", script.string(), prefix.string()};
  as.insert(as.end(), asCommand.begin(), asCommand.end());
  return as;
}

// Why the read-only mount cannot be tried here, or "".
inline std::string CannotMountReason() {
  if (system("command -v unshare >/dev/null 2>&1") != 0) return "unshare is not installed";
  if (system("command -v mount >/dev/null 2>&1") != 0) return "mount is not installed";
  return "";
}

// Every regular file below a folder, relative to it.
inline std::set<std::string> Files(const fs::path& dir) {
  std::set<std::string> as;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) as.insert(fs::relative(it->path(), dir).string());
  return as;
}

// The files of a home folder that lie outside the given folders below it.
inline std::vector<std::string> FilesOutside(const fs::path& home, const std::vector<std::string>& asAllowed) {
  std::vector<std::string> as;
  for (const std::string& s : Files(home)) {
    bool bInside = false;
    for (const std::string& sAllowed : asAllowed) bInside = bInside || s == sAllowed || s.rfind(sAllowed + "/", 0) == 0;
    if (!bInside) as.push_back(s);
  }
  return as;
}

}  // namespace readonly_install

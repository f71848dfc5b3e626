// The desktop application installed by `cmake --install` and mounted read-only: it starts, logs,
// saves the workspace and reads it back, all in the user's XDG folders, and exits cleanly.
#include <sys/stat.h>

#include "../e2e/readonly_install.h"
#include "ide_e2e_support.h"

namespace {

using namespace ide_e2e;
using namespace readonly_install;

TEST(InstalledIde, ReadOnlyInstallationKeepsTheUsersFilesAtHome) {
  for (const char* pszTool : {"Xvfb", "xdotool"})
    if (!Have(pszTool)) GTEST_SKIP() << pszTool << " is not installed";
  std::string sWhy = CannotMountReason();
  if (!sWhy.empty()) GTEST_SKIP() << sWhy;
  fs::path dir = fs::path(testing::TempDir()) / ("ide_install_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path prefix = dir / "prefix", home = dir / "home", runtime = dir / "runtime";
  ASSERT_EQ(Install(prefix), 0) << ReadText(dir / "prefix.log");
  fs::create_directories(home);
  fs::create_directories(runtime);
  chmod(runtime.c_str(), 0700);
  VirtualDisplay display(dir);
  if (display.sDisplay.empty()) GTEST_SKIP() << "Xvfb did not start: " << ReadText(dir / "xvfb.log");
  std::map<std::string, std::string> env = {
      {"DISPLAY", display.sDisplay},
      {"WAYLAND_DISPLAY", ""},
      {"QT_QPA_PLATFORM", "xcb"},
      {"HOME", home.string()},
      {"XDG_DATA_HOME", ""},
      {"XDG_STATE_HOME", ""},
      {"XDG_CONFIG_HOME", ""},
      {"XDG_CACHE_HOME", ""},
      {"XDG_RUNTIME_DIR", runtime.string()},
      {"USERNAME", "idetest"},
      {"USERDOMAIN", ""},
      {"KSStatus", "T=L;S=L;R=L;W=L;E=LAV;F=LEV"},
      // No sound and no MIDI system needed: the engine plays on its clock.
      {"JACK_DEFAULT_SERVER", "vantrel-none-" + std::to_string(getpid())},
      {"JACK_NO_START_SERVER", "1"},
      {"ASAN_OPTIONS", "detect_leaks=0"}};  // the X and font libraries keep what they cache
  fs::path logs = home / ".local/state/vantrel/log";
  auto Log = [&] {
    std::string s;
    for (const std::string& sFile : Files(logs))
      if (sFile.rfind("VantrelIDE-", 0) == 0) s += ReadText(logs / sFile);
    return s;
  };
  auto LogHas = [&](const std::string& s) { return WaitFor([&] { return Log().find(s) != std::string::npos; }, kStepSeconds); };
  fs::path script = MountScript(dir);
  std::set<std::string> asBefore = Files(prefix);
  SetWritable(prefix, false);

  // Starts the program on the read-only installation; its main window's id, "" when it did not
  // come up (the reason in *piExit: the exit status, or kCannotMount).
  pid_t pidIde = -1;
  auto Start = [&](const char* pszOut, int* piExit) {
    pidIde = Spawn(ReadOnlyCommand(script, prefix, {(prefix / "bin/vantrel-ide").string()}), env, dir / pszOut);
    std::string sWindow;
    *piExit = -1;
    WaitFor(
        [&] {
          int iStatus;
          if (waitpid(pidIde, &iStatus, WNOHANG) == pidIde) {
            *piExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
            pidIde = -1;
            return true;
          }
          sWindow = Capture("xdotool search --name '^VantrelIDE$'", env);
          return !sWindow.empty();
        },
        kStartSeconds);
    return sWindow.substr(0, sWindow.find('\n'));
  };
  // File menu entries, sent once the window traces the menu's opening.
  auto Menu = [&](const std::string& sWindow, const char* pszKey) {
    auto Openings = [&] {
      std::string sLog = Log();
      size_t n = 0;
      for (size_t i = 0; (i = sLog.find("main window: menu opened: File", i)) != std::string::npos; ++i) ++n;
      return n;
    };
    size_t nBefore = Openings();
    Capture("xdotool windowfocus --sync " + sWindow, env);
    Capture("xdotool key alt+f", env);
    EXPECT_TRUE(WaitFor([&] { return Openings() > nBefore; }, kStepSeconds)) << Log();
    Capture(std::string("xdotool key ") + pszKey, env);
  };

  int iExit = -1;
  std::string sWindow = Start("ide.out", &iExit);
  if (iExit == kCannotMount) {
    SetWritable(prefix, true);
    GTEST_SKIP() << "no read-only mount here: " << ReadText(dir / "ide.out");
  }
  ASSERT_FALSE(sWindow.empty()) << "exit " << iExit << ": " << ReadText(dir / "ide.out") << Log();
  EXPECT_TRUE(LogHas("LoadPatch( \"" + (prefix / "patch/Default.vantrel").string() + "\", 0 ) = 0")) << Log();
  // The default workspace still comes from the installation.
  EXPECT_TRUE(LogHas("opening workspace \"" + (prefix / "workspace/default.xml").string() + "\"")) << Log();

  fs::path workspace = home / ".local/share/vantrel/workspace/idetest.xml";
  Menu(sWindow, "w");
  EXPECT_TRUE(WaitFor([&] { return ReadText(workspace).find("</Workspace>") != std::string::npos; }, kStepSeconds))
      << Log();
  Menu(sWindow, "x");
  EXPECT_EQ(Wait(pidIde, kStepSeconds), 0) << ReadText(dir / "ide.out") << Log();
  pidIde = -1;

  // The next start opens the user's own workspace from home.
  sWindow = Start("ide2.out", &iExit);
  ASSERT_FALSE(sWindow.empty()) << "exit " << iExit << ": " << ReadText(dir / "ide2.out") << Log();
  EXPECT_TRUE(LogHas("opening workspace \"" + workspace.string() + "\"")) << Log();
  Menu(sWindow, "x");
  EXPECT_EQ(Wait(pidIde, kStepSeconds), 0) << ReadText(dir / "ide2.out") << Log();

  SetWritable(prefix, true);
  EXPECT_EQ(Files(prefix), asBefore);
  EXPECT_NE(Log().find("LoadPatch("), std::string::npos) << "no log in the user's state folder";
  // The program's own files under vantrel/; the desktop's (file types, Qt's settings and caches)
  // in the XDG folders too.
  EXPECT_EQ(FilesOutside(home, {".local/state", ".local/share", ".config", ".cache"}), std::vector<std::string>{});
  fs::remove_all(dir);
}

}  // namespace

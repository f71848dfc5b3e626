// What the desktop application's end-to-end tests share: processes started and waited on as
// conditions, a virtual X server, a private JACK server for the MIDI, and the fixture that starts
// them with a private copy of the installation and reads the windows' traces from the status log.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <memory>

#include "process_support.h"

namespace ide_e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Limits for a loaded two-core machine running a sanitizer build: generous, and only ever
// waited on as conditions, never slept through.
inline constexpr double kStartSeconds = 180;
inline constexpr double kStepSeconds = 90;
inline const char* const kPrivateJack = "vantrel-ide-test";

inline bool Have(const char* pszTool) { return system((std::string("command -v ") + pszTool + " >/dev/null 2>&1").c_str()) == 0; }

// Runs a command with the environment given; its standard output.
inline std::string Capture(const std::string& sCommand, const std::map<std::string, std::string>& env) {
  std::string sWithEnv;
  for (const auto& [sName, sValue] : env) sWithEnv += sName + "='" + sValue + "' ";
  FILE* ppipe = popen(("env " + sWithEnv + sCommand + " 2>/dev/null").c_str(), "r");
  if (!ppipe) return "";
  std::string s;
  char ach[256];
  while (fgets(ach, sizeof ach, ppipe)) s += ach;
  pclose(ppipe);
  return s;
}

// JACK keeps its servers' machine-wide table (at most 8, with the entries of servers that died
// left behind) in /dev/shm. Where the test may (as root, as in CI), it gives itself a /dev/shm of
// its own, so that nobody else's servers can fill the table for it and none of its own are left
// in anybody else's; its children (Xvfb, jackd, the IDE, midi_send) share it.
class PrivateShm : public testing::Environment {
 public:
  void SetUp() override {
    if (unshare(CLONE_NEWNS) != 0) return;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777");
  }
};
inline testing::Environment* const g_penvPrivateShm = testing::AddGlobalTestEnvironment(new PrivateShm);

// A virtual X server on a display number it picks itself; started again (up to three times)
// when it ends before a client could connect, as when another server took the number first. It
// never resets: by default a server starts over when its last client leaves, and a client that
// connects then (the IDE after the readiness probe, or its second start after the first quit)
// finds no display, most often on a busy machine.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const fs::path& dir) {
    for (int iTry = 0; iTry < 3 && sDisplay.empty(); ++iTry) {
      std::string s = Start(dir);
      if (!s.empty() && WaitFor([&] { return Capture("xdotool getdisplaygeometry", {{"DISPLAY", s}}) != ""; }, kStepSeconds))
        sDisplay = s;
      else
        Stop();
    }
  }
  ~VirtualDisplay() { Stop(); }
  std::string sDisplay;  // "" when no server started

 private:
  std::string Start(const fs::path& dir) {
    int afd[2];
    if (pipe(afd) != 0) return "";
    pid_ = Spawn({"Xvfb", "-displayfd", std::to_string(afd[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"}, {},
                 dir / "xvfb.log", afd[1]);
    close(afd[1]);
    pollfd p = {afd[0], POLLIN, 0};
    std::string sNumber;
    auto tEnd = Clock::now() + std::chrono::duration<double>(kStartSeconds);
    while (Clock::now() < tEnd && sNumber.find('\n') == std::string::npos) {
      if (poll(&p, 1, 200) > 0) {
        char ach[32];
        ssize_t n = read(afd[0], ach, sizeof ach);
        if (n <= 0) break;
        sNumber.append(ach, static_cast<size_t>(n));
      }
    }
    close(afd[0]);
    return sNumber.find('\n') != std::string::npos ? ":" + sNumber.substr(0, sNumber.find('\n')) : "";
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait(pid_, 30);
      pid_ = -1;
    }
  }
  pid_t pid_ = -1;
};

// The JACK server the MIDI travels through: one of the test's own (the dummy driver, a private
// name), as on a shared machine other programs may hold a port of the same name on the default
// server. Where no private server can start (JACK allows only a few at once), the default
// server serves, as long as no other program has a "vantrel-midi" client on it.
class Jack {
 public:
  explicit Jack(const fs::path& dir) {
    if (!Have("jackd") || !Have("jack_lsp")) {
      sWhy = "jackd is not installed";
      return;
    }
    std::string sPrivate = std::string(kPrivateJack) + "-" + std::to_string(getpid());
    pid_ = Spawn({"jackd", "-n", sPrivate, "-d", "dummy", "-r", "44100", "-p", "256"}, {}, dir / "jackd.log");
    bool bEnded = false;
    bReady = WaitFor(
        [&] {
          int iStatus;
          bEnded = bEnded || waitpid(pid_, &iStatus, WNOHANG) == pid_;
          return bEnded || system(("JACK_DEFAULT_SERVER=" + sPrivate + " jack_lsp >/dev/null 2>&1").c_str()) == 0;
        },
        kStartSeconds) &&
             !bEnded;
    if (bReady) {
      sServer = sPrivate;
      return;
    }
    if (bEnded) pid_ = -1;
    sWhy = "no private JACK server: " + ReadText(dir / "jackd.log");
    std::string sPorts = Capture("jack_lsp", {{"JACK_NO_START_SERVER", "1"}});
    if (sPorts.empty()) return;
    if (sPorts.find("vantrel-midi") != std::string::npos) {
      sWhy += "; the default server already has a vantrel-midi client";
      return;
    }
    bReady = true;
  }
  ~Jack() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait(pid_, 30);
    }
  }
  bool bReady = false;
  std::string sServer;  // "" for the machine's default server
  std::string sWhy;

 private:
  pid_t pid_ = -1;
};

class IdeE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* pszTool : {"Xvfb", "xdotool"})
      if (!Have(pszTool)) GTEST_SKIP() << pszTool << " is not installed";
    dir = fs::path(testing::TempDir()) / ("ide_e2e_" + std::to_string(getpid()));
    fs::remove_all(dir);
    install = dir / "install";
    fs::create_directories(install);
    for (const char* pszPart : {"config", "patch", "template", "workspace"})
      fs::copy(fs::path(VANTREL_STAGE) / pszPart, install / pszPart, fs::copy_options::recursive);
    fs::create_directories(dir / "home");
    pdisplay = std::make_unique<VirtualDisplay>(dir);
    if (pdisplay->sDisplay.empty()) GTEST_SKIP() << "Xvfb did not start: " << ReadText(dir / "xvfb.log");
    if (NeedsJack()) {
      pjack = std::make_unique<Jack>(dir);
      if (!pjack->bReady) GTEST_SKIP() << pjack->sWhy;
    }
    env = {{"DISPLAY", pdisplay->sDisplay},
           {"WAYLAND_DISPLAY", ""},
           {"QT_QPA_PLATFORM", "xcb"},
           {"HOME", (dir / "home").string()},
           {"XDG_DATA_HOME", (dir / "home/share").string()},
           {"XDG_RUNTIME_DIR", ""},
           {"USERNAME", "idetest"},
           {"USERDOMAIN", ""},
           {"KSStatus", "T=L;S=L;R=L;W=L;E=LAV;F=LEV"},
           // empty: unset, the default server; without JACK a name no server has, so the
           // sound goes to no device and the engine renders on its clock
           {"JACK_DEFAULT_SERVER", pjack ? pjack->sServer : std::string(kPrivateJack) + "-none"},
           {"JACK_NO_START_SERVER", "1"},
           {"ASAN_OPTIONS", "detect_leaks=0"}};  // the X and font libraries keep what they cache
  }
  void TearDown() override {
    if (pidIde > 0) Wait(pidIde, 1);
  }
  // A test that plays no MIDI needs no JACK server (JACK allows only a few at once).
  virtual bool NeedsJack() const { return true; }

  std::string Log() {
    std::string s;
    if (fs::exists(install / "log"))
      for (const auto& entry : fs::directory_iterator(install / "log"))
        if (entry.path().filename().string().rfind("VantrelIDE-", 0) == 0) s += ReadText(entry.path());
    return s;
  }
  bool LogHas(const std::string& s, double dSeconds = kStepSeconds) {
    return WaitFor([&] { return Log().find(s) != std::string::npos; }, dSeconds);
  }
  std::string Xdotool(const std::string& sArgs) { return Capture("xdotool " + sArgs, env); }
  // The first window whose name matches the pattern, waited for; "" when none came.
  std::string FindWindow(const std::string& sPattern, double dSeconds = kStartSeconds) {
    std::string sWindow;
    WaitFor(
        [&] {
          sWindow = Xdotool("search --name '" + sPattern + "'");
          return !sWindow.empty();
        },
        dSeconds);
    return sWindow.substr(0, sWindow.find('\n'));
  }

  fs::path dir, install;
  std::unique_ptr<VirtualDisplay> pdisplay;
  std::unique_ptr<Jack> pjack;
  std::map<std::string, std::string> env;
  pid_t pidIde = -1;
};

}  // namespace ide_e2e

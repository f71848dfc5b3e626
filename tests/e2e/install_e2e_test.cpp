// The installed program: `cmake --install` lays out the tree the program finds two levels above
// its executable; a writable copy keeps its files inside, a read-only one sends them to the
// user's XDG folders, and every command still works.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "e2e/readonly_install.h"
#include "e2e/run_vantrel.h"

namespace {

namespace fs = std::filesystem;
using namespace readonly_install;

struct HomeRun {
  int iExit = -1;
  std::string sOut, sErr;
};

std::string Quoted(const std::string& s) {
  std::string sQuoted = "'";
  for (char c : s) sQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return sQuoted + "'";
}

// Runs a command with a home of its own: HOME set, the XDG variables and KSStatus unset unless
// given.
HomeRun RunWithHome(const std::vector<std::string>& asCommand, const fs::path& home, const fs::path& dirOut,
                const std::map<std::string, std::string>& envMore = {}) {
  std::string sCommand = "env -u KSStatus -u XDG_DATA_HOME -u XDG_STATE_HOME -u XDG_CONFIG_HOME HOME=" + Quoted(home.string());
  for (const auto& [sName, sValue] : envMore) sCommand += " " + sName + "=" + Quoted(sValue);
  for (const std::string& s : asCommand) sCommand += " " + Quoted(s);
  sCommand += " >" + Quoted((dirOut / "out").string()) + " 2>" + Quoted((dirOut / "err").string());
  int iStatus = system(sCommand.c_str());
  HomeRun run;
  run.iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
  run.sOut = ReadText(dirOut / "out");
  run.sErr = ReadText(dirOut / "err");
  return run;
}

// The sample rate in a WAV file's header (a canonical one, as vantrel writes it).
uint32_t WavRate(const fs::path& wav) {
  std::string s = ReadText(wav);
  if (s.size() < 28) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(s[24])) | static_cast<uint32_t>(static_cast<unsigned char>(s[25])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[26])) << 16 | static_cast<uint32_t>(static_cast<unsigned char>(s[27])) << 24;
}

class InstalledTree : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::path(testing::TempDir()) / ("vantrel_install_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    iInstall = Install(dir / "prefix");
  }
  static void TearDownTestSuite() {
    if (fs::exists(dir / "prefix")) SetWritable(dir / "prefix", true);
    fs::remove_all(dir);
  }
  void SetUp() override { ASSERT_EQ(iInstall, 0) << ReadText(dir / "prefix.log"); }
  // A fresh folder for one test's home and outputs.
  static fs::path Fresh(const std::string& sName) {
    fs::path path = dir / sName;
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
  }
  static fs::path Prefix() { return dir / "prefix"; }
  static std::string Vantrel() { return (Prefix() / "bin/vantrel").string(); }

  static fs::path dir;
  static int iInstall;
};

fs::path InstalledTree::dir;
int InstalledTree::iInstall = -1;

// The shipped tree arrives whole, beside the programs, with the empty folders the staged tree has.
TEST_F(InstalledTree, HoldsTheProgramsAndEveryShippedFile) {
  fs::path source = fs::path(VANTREL_SOURCE_DIR) / "installation";
  std::set<std::string> asShipped = Files(source);
  asShipped.erase("regressions/.gitignore");
  ASSERT_GT(asShipped.size(), 50u);
  for (const std::string& s : asShipped) {
    ASSERT_TRUE(fs::exists(Prefix() / s)) << s;
    EXPECT_EQ(ReadText(Prefix() / s), ReadText(source / s)) << s;
  }
  for (const char* psz : {"bin/vantrel", VANTREL_IDE_BUILT ? "bin/vantrel-ide" : "bin/vantrel"})
    EXPECT_EQ(access((Prefix() / psz).c_str(), X_OK), 0) << psz;
  for (const char* psz : {"log", "sysex", "patch/user", "template", "workspace", "package"})
    EXPECT_TRUE(fs::is_directory(Prefix() / psz)) << psz;
  EXPECT_TRUE(fs::exists(Prefix() / "workspace/default.xml"));
  // What only the package puts in the system's folders stays out of a plain install.
  for (const char* psz : {"usr", "share", "man"}) EXPECT_FALSE(fs::exists(Prefix() / psz)) << psz;
}

// A copy the user can write (a portable installation) keeps everything it writes inside, as a
// build tree does, and leaves the home folder alone.
TEST_F(InstalledTree, WritableCopyKeepsItsFilesInside) {
  fs::path work = Fresh("writable");
  fs::path copy = work / "vantrel";
  fs::copy(Prefix(), copy, fs::copy_options::recursive);
  fs::create_directories(work / "home");
  HomeRun run = RunWithHome({(copy / "bin/vantrel").string(), "regress", "--frames", "64"}, work / "home", work,
                        {{"KSStatus", "W=L;E=LA"}});
  EXPECT_EQ(run.iExit, 0) << run.sOut << run.sErr;
  EXPECT_NE(run.sOut.find("results: " + (copy / "regressions/results.txt").string()), std::string::npos) << run.sOut;
  EXPECT_TRUE(fs::exists(copy / "regressions/results.txt"));
  EXPECT_TRUE(fs::exists(copy / "regressions/demo/WarmPad.csv"));
  bool bLog = false;
  for (const std::string& s : Files(copy / "log")) bLog = bLog || s.rfind("vantrel-", 0) == 0;
  EXPECT_TRUE(bLog) << "no log in the installation's log folder";
  EXPECT_TRUE(Files(work / "home").empty());
}

// The package marks its installation as shared: even a user who could write it (root) keeps
// their files at home, so that the package's files stay as installed.
TEST_F(InstalledTree, SharedInstallationIsNotWrittenEvenWhenItCouldBe) {
  fs::path work = Fresh("shared");
  fs::path copy = work / "vantrel";
  fs::copy(Prefix(), copy, fs::copy_options::recursive);
  fs::copy_file(fs::path(VANTREL_SOURCE_DIR) / "packaging/shared-installation", copy / "config/shared-installation");
  std::set<std::string> asBefore = Files(copy);
  fs::path home = work / "home";
  HomeRun run = RunWithHome({(copy / "bin/vantrel").string(), "regress", "--frames", "64"}, home, work,
                            {{"KSStatus", "W=L;E=LA"}});
  EXPECT_EQ(run.iExit, 0) << run.sOut << run.sErr;
  EXPECT_TRUE(fs::exists(home / ".local/share/vantrel/regressions/results.txt")) << run.sOut;
  EXPECT_FALSE(Files(home / ".local/state/vantrel/log").empty());
  EXPECT_EQ(Files(copy), asBefore);
}

// The installation as a system package has it: nobody may write it. Every command works, and
// every file the program writes lands in the user's XDG folders; the user's own settings and
// patches there are read first.
TEST_F(InstalledTree, ReadOnlyInstallationWritesOnlyToTheUsersFolders) {
  std::string sWhy = CannotMountReason();
  if (!sWhy.empty()) GTEST_SKIP() << sWhy;
  fs::path work = Fresh("readonly");
  fs::path home = work / "home";
  fs::path data = home / ".local/share/vantrel";
  fs::create_directories(data / "patch/user");
  std::ofstream(data / "patch/user/Mine.vantrel") << "[Osc1]\nFrequency = Pitch\n\n[Voice]\nPreGain = Osc1\n";
  fs::path script = MountScript(work);
  std::set<std::string> asBefore = Files(Prefix());
  SetWritable(Prefix(), false);
  auto ReadOnly = [&](const std::vector<std::string>& as, const std::map<std::string, std::string>& env = {}) {
    HomeRun run = RunWithHome(ReadOnlyCommand(script, Prefix(), as), home, work, env);
    if (run.iExit == kCannotMount) {
      SetWritable(Prefix(), true);
      return run;
    }
    EXPECT_EQ(run.sErr.find("Read-only file system"), std::string::npos) << run.sErr;
    return run;
  };
  std::string sDefault = (Prefix() / "patch/Default.vantrel").string();

  // The regression runner: the shipped exemplars are read from the installation, the user's
  // patch is played too and gets its first exemplar, results and captures go home.
  HomeRun run = ReadOnly({Vantrel(), "regress", "--frames", "64"});
  if (run.iExit == kCannotMount) GTEST_SKIP() << "no read-only mount here: " << run.sErr;
  EXPECT_EQ(run.iExit, 0) << run.sOut << run.sErr;
  EXPECT_NE(run.sOut.find(" 0 differ, 1 without exemplar, 0 compilation error(s), 0 file error(s)"), std::string::npos)
      << run.sOut;
  EXPECT_NE(run.sOut.find("user/Mine.vantrel"), std::string::npos) << run.sOut;
  EXPECT_NE(run.sOut.find("results: " + (data / "regressions/results.txt").string()), std::string::npos) << run.sOut;
  EXPECT_TRUE(fs::exists(data / "regressions/user/Mine.exemplar"));
  EXPECT_TRUE(fs::exists(data / "regressions/demo/WarmPad.csv"));
  // A second run compares the user's patch with its new exemplar.
  run = ReadOnly({Vantrel(), "regress", "--frames", "64"});
  EXPECT_EQ(run.iExit, 0) << run.sOut << run.sErr;
  EXPECT_NE(run.sOut.find(" 0 differ, 0 without exemplar"), std::string::npos) << run.sOut;

  // Live on the clock-paced output, with the developer log on: the log goes to the state folder.
  run = ReadOnly({Vantrel(), "play", sDefault, "--audio", "null", "--seconds", "0.3", "--note", "60:0.8:0"},
                 {{"KSStatus", "W=L;E=LA"}});
  EXPECT_EQ(run.iExit, 0) << run.sErr;
  bool bLog = false;
  for (const std::string& s : Files(home / ".local/state/vantrel/log")) bLog = bLog || s.rfind("vantrel-", 0) == 0;
  EXPECT_TRUE(bLog) << "no log in the user's state folder";

  // The user's own engine settings override the installed ones.
  fs::create_directories(home / ".config/vantrel");
  std::string sSettings = ReadText(Prefix() / "config/Interpreter.vantrel");
  size_t iRate = sSettings.find("FreqEval      = 44100");
  ASSERT_NE(iRate, std::string::npos) << sSettings;
  std::ofstream(home / ".config/vantrel/Interpreter.vantrel") << sSettings.replace(iRate, 21, "FreqEval = 22050");
  fs::path wav = home / "out.wav";
  run = ReadOnly({Vantrel(), "render", sDefault, "-o", wav.string(), "--seconds", "0.2"});
  EXPECT_EQ(run.iExit, 0) << run.sErr;
  EXPECT_EQ(WavRate(wav), 22050u);

  SetWritable(Prefix(), true);
  EXPECT_EQ(Files(Prefix()), asBefore);
  EXPECT_EQ(FilesOutside(home, {".local/state/vantrel", ".local/share/vantrel", ".config/vantrel", "out.wav"}),
            std::vector<std::string>{});
}

}  // namespace

namespace {

// The package's man page, made from the command's --help texts: every command has its section,
// the build folder's path is gone, and groff reads it without a warning.
TEST(ManPage, CoversEveryCommandAndRendersCleanly) {
  std::string sPage;
  {
    FILE* ppipe = popen((std::string("gzip -dc '") + VANTREL_MAN_PAGE + "'").c_str(), "r");
    ASSERT_NE(ppipe, nullptr);
    char ach[4096];
    size_t n;
    while ((n = fread(ach, 1, sizeof ach, ppipe)) > 0) sPage.append(ach, n);
    ASSERT_EQ(pclose(ppipe), 0) << VANTREL_MAN_PAGE;
  }
  for (const char* psz : {"conf", "formula", "modules", "check", "dump", "render", "bench", "play", "regress"})
    EXPECT_NE(sPage.find(std::string("\n.SS ") + psz + "\n"), std::string::npos) << psz;
  EXPECT_NE(sPage.find("Usage: vantrel render [OPTIONS] PATCH"), std::string::npos);
  EXPECT_EQ(sPage.find(VANTREL_BUILD_DIR), std::string::npos);
  if (system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff is not installed";
  std::string sCommand = std::string("gzip -dc '") + VANTREL_MAN_PAGE + "' | groff -man -Tutf8 -ww -z 2>&1";
  FILE* ppipe = popen(sCommand.c_str(), "r");
  ASSERT_NE(ppipe, nullptr);
  std::string sWarnings;
  char ach[512];
  while (fgets(ach, sizeof ach, ppipe)) sWarnings += ach;
  EXPECT_EQ(pclose(ppipe), 0);
  EXPECT_EQ(sWarnings, "");
}

}  // namespace

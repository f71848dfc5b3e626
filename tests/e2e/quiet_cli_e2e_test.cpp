// A quiet, conventional command line: no log file unless asked for, and what reaches standard
// error is for the user (plain one-line diagnostics, never the developer log's lines).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "run_vantrel.h"

namespace fs = std::filesystem;

namespace {

// Every file and folder below dir with its size and modification time.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> m;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    struct stat st = {};
    lstat(e.path().c_str(), &st);
    m[e.path().string()] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
  }
  return m;
}

// A line of the developer log: severity letter, date, time with microseconds, file and line.
bool HasDeveloperLine(const std::string& s) {
  static const std::regex re(R"((^|\n)[TSRWEF0-9] \d\d\.\d\d \d\d:\d\d:\d\d\.\d{6} \S+:\d+ - )");
  return std::regex_search(s, re);
}

std::string Patch() { return DataPath("engine/sine.vantrel"); }

}  // namespace

TEST(QuietCli, RenderAndFormulaLeaveNoFileInTheInstallation) {
  fs::path install = CopyInstall("nofile");
  fs::path out = fs::path(testing::TempDir()) / ("quiet_" + std::to_string(getpid()) + ".wav");
  std::map<std::string, std::string> before = Snapshot(install);
  std::string sInstall = " --install '" + install.string() + "'";
  VantrelRun r = RunVantrel("formula --eval '1 + 1'" + sInstall);
  EXPECT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_EQ(r.sOut, "2\n");
  r = RunVantrel("render '" + Patch() + "' -o '" + out.string() + "' --seconds 0.1 --note 69" + sInstall);
  EXPECT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_FALSE(HasDeveloperLine(r.sErr)) << r.sErr;
  EXPECT_EQ(Snapshot(install), before);
  EXPECT_FALSE(fs::exists(install / "log"));
  fs::remove_all(install);
  fs::remove(out);
}

TEST(QuietCli, LogOptionKeepsTheDeveloperLogInTheFileNamed) {
  fs::path install = CopyInstall("logoption");
  fs::path log = fs::path(testing::TempDir()) / ("quiet_" + std::to_string(getpid()) + ".log");
  fs::remove(log);
  std::string sArgs = "formula --eval '1 + 1' --install '" + install.string() + "' --log '" + log.string() + "'";
  VantrelRun r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_EQ(r.sOut, "2\n");
  std::string sLog = ReadText(log);
  EXPECT_TRUE(HasDeveloperLine(sLog)) << sLog;
  EXPECT_NE(sLog.find("closing log upon normal exit"), std::string::npos) << sLog;
  // A second run appends.
  r = RunVantrel(sArgs);
  std::string sLog2 = ReadText(log);
  EXPECT_EQ(sLog2.rfind(sLog, 0), 0u);
  EXPECT_GT(sLog2.size(), sLog.size());
  EXPECT_FALSE(fs::exists(install / "log"));

  r = RunVantrel("formula --eval 1 --log '" + (install / "no" / "such" / "folder.log").string() + "'");
  EXPECT_EQ(r.iExit, 2);
  EXPECT_NE(r.sErr.find("vantrel: cannot write the log file"), std::string::npos) << r.sErr;
  fs::remove_all(install);
  fs::remove(log);
}

// A sound system that is not there: the log's texts name the failed calls ("waveOutOpen() = 6");
// the user reads what happened, in words, and nothing a library printed by itself.
TEST(QuietCli, NoPlatformCallsOrLibraryNoiseForTheUser) {
  VantrelRun r = RunVantrel("play '" + Patch() + "' --audio pulse --seconds 0.3 --install '" + DataPath("install") + "'");
  EXPECT_FALSE(HasDeveloperLine(r.sErr)) << r.sErr;
  for (const char* psz : {"waveOutOpen", "RtApi", "MidiInAlsa", "pa_context_connect"})
    EXPECT_EQ(r.sErr.find(psz), std::string::npos) << psz << " in\n" << r.sErr;
  // Every line is one of ours.
  for (size_t i = 0; i < r.sErr.size();) {
    size_t iEnd = r.sErr.find('\n', i);
    std::string sLine = r.sErr.substr(i, iEnd - i);
    EXPECT_TRUE(sLine.rfind("vantrel: ", 0) == 0 || sLine.rfind("level ", 0) == 0) << sLine;
    i = iEnd == std::string::npos ? r.sErr.size() : iEnd + 1;
  }
}

// An unusable engine setting is replaced by its default, and the user is told on standard error
// in a plain line, whichever command reads the settings.
struct SettingCase {
  const char* pszName;
  const char* pszSetting;  // the line added to the settings section
  const char* pszCommand;  // "render" or "play"
  const char* pszMessage;
};
void PrintTo(const SettingCase& c, std::ostream* pos) { *pos << c.pszName; }

class UnusableSetting : public testing::TestWithParam<SettingCase> {};

TEST_P(UnusableSetting, IsShownOnStandardError) {
  const SettingCase& c = GetParam();
  fs::path install = CopyInstall(c.pszName);
  std::ofstream(install / "config" / "Interpreter.vantrel", std::ios::app) << c.pszSetting << "\n";
  fs::path out = install.string() + ".wav";
  std::string sCommand = std::string(c.pszCommand) == "render"
                             ? "render '" + Patch() + "' -o '" + out.string() + "' --seconds 0.1"
                             : "play '" + Patch() + "' --audio null --seconds 0.2";
  VantrelRun r = RunVantrel(sCommand + " --install '" + install.string() + "'");
  EXPECT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_NE(r.sErr.find(std::string("vantrel: ") + c.pszMessage + "\n"), std::string::npos) << r.sErr;
  EXPECT_FALSE(HasDeveloperLine(r.sErr)) << r.sErr;
  fs::remove_all(install);
  fs::remove(out);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, UnusableSetting,
    testing::Values(
        SettingCase{"rate_0", "FreqEval = 0", "render", "FreqEval was set to 0, which cannot be used; using 44100"},
        SettingCase{"rate_1e9", "FreqEval = 1e9", "render",
                    "FreqEval was set to 1e+09, which cannot be used; using 44100"},
        SettingCase{"buffers_0", "Buffers = 0", "render", "Buffers was set to 0, which cannot be used; using 3"},
        SettingCase{"buffers_0_play", "Buffers = 0", "play", "Buffers was set to 0, which cannot be used; using 3"}),
    [](const testing::TestParamInfo<SettingCase>& info) { return std::string(info.param.pszName); });

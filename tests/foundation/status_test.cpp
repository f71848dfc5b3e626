// The status log, watched from outside: a fresh probe process per case, its streams, log and exit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/akstatus.h"

namespace fs = std::filesystem;

namespace {

struct ProbeResult {
  std::string sOut, sErr, sLog, sLogName;
  int iExit = -1;    // exit status, or -1 when killed
  int iSignal = 0;   // the signal that ended it
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the probe in a fresh folder; the log base name is that folder's "probe".
ProbeResult RunProbe(const std::string& sArgs, const std::string& sEnv = "") {
  static int iRun = 0;
  fs::path dir = fs::path(testing::TempDir()) / ("status_probe_" + std::to_string(getpid()) + "_" + std::to_string(iRun++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string sCommand = "cd " + dir.string() + " && env -u KSStatus " + sEnv + " " + STATUS_PROBE + " " + sArgs +
                         " >out 2>err";
  int iStatus = system(sCommand.c_str());
  ProbeResult r;
  if (WIFEXITED(iStatus)) r.iExit = WEXITSTATUS(iStatus);
  // The shell reports a child killed by a signal as 128 + the signal.
  if (r.iExit > 128) r.iSignal = r.iExit - 128, r.iExit = -1;
  r.sOut = ReadFile(dir / "out");
  r.sErr = ReadFile(dir / "err");
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".log") {
      r.sLogName = entry.path().filename().string();
      r.sLog = ReadFile(entry.path());
    }
  return r;
}

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

}  // namespace

TEST(Status, LineFormatCarriesLetterTimeFileAndLine) {
  ProbeResult r = RunProbe("--spec S=S S hello");
  EXPECT_EQ(r.iExit, 0);
  std::regex re(R"(S \d\d\.\d\d \d\d:\d\d:\d\d\.\d{6} probe\.cpp:12 - hello\nreturned\n)");
  EXPECT_TRUE(std::regex_match(r.sOut, re)) << r.sOut;
}

TEST(Status, DefaultPresetSendsEverythingEverywhere) {
  for (const char* pszLetter : {"S", "T"}) {
    ProbeResult r = RunProbe(std::string("--env --base probe ") + pszLetter + " visible");
    EXPECT_TRUE(Contains(r.sOut, "- visible\n")) << pszLetter;
    EXPECT_TRUE(Contains(r.sLog, "- visible\n")) << pszLetter;
    EXPECT_TRUE(Contains(r.sErr, "- visible\n")) << pszLetter << ": the debugger output is standard error";
    EXPECT_TRUE(Contains(r.sLog, "closing log upon normal exit"));
  }
}

TEST(Status, ProductionPreset) {
  ProbeResult r = RunProbe("--env --base probe T quiet", "KSStatus=PRODUCTION");
  EXPECT_FALSE(Contains(r.sOut + r.sErr + r.sLog, "quiet"));
  r = RunProbe("--env --base probe W careful", "KSStatus=production");
  EXPECT_EQ(r.sOut, "returned\n");
  EXPECT_TRUE(Contains(r.sLog, "careful"));
  EXPECT_TRUE(Contains(r.sErr, "careful"));
}

TEST(Status, ErrorAbortsWithItsMessage) {
  ProbeResult r = RunProbe("--env --base probe E broken", "KSStatus=production");
  EXPECT_EQ(r.iSignal, SIGABRT);
  EXPECT_TRUE(Contains(r.sLog, "broken"));
  EXPECT_TRUE(Contains(r.sErr, "\nAKS() is aborting.\n\n"));
  r = RunProbe("--env E broken", "KSStatus=utility");
  EXPECT_EQ(r.iSignal, SIGABRT);
  EXPECT_TRUE(Contains(r.sOut, "- broken\n"));
  EXPECT_FALSE(Contains(r.sOut, "returned"));
}

TEST(Status, FatalCallsTheExitHookAndClosesTheLog) {
  ProbeResult r = RunProbe("--env --base probe --hook F doomed", "KSStatus=production");
  EXPECT_EQ(r.iExit, 1);
  EXPECT_EQ(r.sOut, "exit hook ran\n");
  EXPECT_TRUE(Contains(r.sLog, "doomed"));
  std::string sTail = "closing log because of AKS() exit\n";
  ASSERT_GE(r.sLog.size(), sTail.size());
  EXPECT_EQ(r.sLog.substr(r.sLog.size() - sTail.size()), sTail);
}

TEST(Status, SeveritiesWithoutActionsAreIgnoredEvenErrors) {
  ProbeResult r = RunProbe("--env --base probe W logged", "KSStatus=W=L");
  EXPECT_TRUE(Contains(r.sLog, "logged"));
  EXPECT_EQ(r.sOut, "returned\n");
  for (const char* pszLetter : {"E", "F"}) {
    r = RunProbe(std::string("--env --base probe ") + pszLetter + " ignored", "KSStatus=W=L");
    EXPECT_EQ(r.iExit, 0) << pszLetter;
    EXPECT_EQ(r.sOut, "returned\n");
    EXPECT_FALSE(Contains(r.sLog, "ignored"));
  }
}

TEST(Status, ErrorWithoutExitActionStillEndsTheProcess) {
  ProbeResult r = RunProbe("--spec E=L --base probe E ends");
  EXPECT_EQ(r.iExit, 1);
  EXPECT_FALSE(Contains(r.sOut, "returned"));
}

TEST(Status, MalformedSpecificationsDie) {
  struct Case {
    const char* pszSpec;
    const char* pszMessage;
  } aCases[] = {
      {"X=L", "AKSInitialize: unknown severity code 'X'"},
      {"W=LZ", "$KSStatus: severity 'W' has unknown action code 'Z'"},
      {"WL", "$KSStatus: severity code 'W' not followed by ="},
  };
  for (const Case& c : aCases) {
    ProbeResult r = RunProbe("--env S x", std::string("KSStatus=") + c.pszSpec);
    EXPECT_EQ(r.iExit, 1) << c.pszSpec;
    EXPECT_EQ(r.sErr, std::string("\n\n") + c.pszMessage + "\n\n");
  }
}

TEST(Status, InitialisingTwiceDies) {
  ProbeResult r = RunProbe("--spec S=S --twice S x");
  EXPECT_EQ(r.iExit, 1);
  EXPECT_EQ(r.sErr, "\n\nAKSInitialize() seems to be called twice!  Aborting.\n\n");
}

TEST(Status, LogNameCarriesTimeAndProcessNumber) {
  ProbeResult r = RunProbe("--spec S=L --base probe S x");
  EXPECT_TRUE(std::regex_match(r.sLogName, std::regex(R"(probe-\d{8}-\d{6}-\d{5,}\.log)"))) << r.sLogName;
}

TEST(Status, AbsoluteSourceNamesAreShortenedRelativeOnesKept) {
  ProbeResult r = RunProbe("--spec S=S --file 'C:\\src\\lib\\Form.cpp' S x");
  EXPECT_TRUE(Contains(r.sOut, " Form.cpp:12 - x")) << r.sOut;
  r = RunProbe("--spec S=S --file '..\\lib\\Form.cpp' S x");
  EXPECT_TRUE(Contains(r.sOut, " ..\\lib\\Form.cpp:12 - x")) << r.sOut;
  r = RunProbe("--spec S=S --file /work/src/formula/form.cpp S x");
  EXPECT_TRUE(Contains(r.sOut, " form.cpp:12 - x")) << r.sOut;
}

TEST(Status, ConfigurationInitialisation) {
  fs::path dir = fs::path(testing::TempDir());
  std::ofstream(dir / "status_ok.conf") << "Status = stdout LOG\nWarn = visualc\n";
  ProbeResult r = RunProbe("--config " + (dir / "status_ok.conf").string() + " S shown");
  EXPECT_TRUE(Contains(r.sOut, "- shown\n"));
  std::ofstream(dir / "status_bad.conf") << "Warn = log STDOUT exit\n";
  r = RunProbe("--config " + (dir / "status_bad.conf").string() + " S x");
  EXPECT_EQ(r.iExit, 1);
  EXPECT_TRUE(Contains(r.sErr, "severity code \"Warn\": expecting space-seperated list of log, exit, abort, visualc; "
                               "found \"STDOUT exit\""));
}

TEST(Status, LinesFromManyThreadsNeverInterleave) {
  ProbeResult r = RunProbe("--spec W=L --base probe --threads 8 W payload");
  std::istringstream in(r.sLog);
  std::regex re(R"(W \d\d\.\d\d \d\d:\d\d:\d\d\.\d{6} probe\.cpp:\d - thread \d message \d+ payload)");
  int nLines = 0;
  for (std::string sLine; std::getline(in, sLine);) {
    ASSERT_TRUE(std::regex_match(sLine, re)) << sLine;
    ++nLines;
  }
  EXPECT_EQ(nLines, 8 * 500);
}

// The user's echo: the message text alone, for the chosen severities only, and not while a
// callback takes the messages over.
TEST(Status, EchoGivesTheUserThePlainText) {
  ProbeResult r = RunProbe("--spec '' --echo W 'disk nearly full'");
  EXPECT_EQ(r.iExit, 0);
  EXPECT_EQ(r.sErr, "echo W: disk nearly full\n");
  EXPECT_EQ(r.sOut, "returned\n");
  r = RunProbe("--spec '' --echo S 'progress'");
  EXPECT_EQ(r.sErr, "");
  r = RunProbe("--spec '' --echo --callback W 'line 3: no section name'");
  EXPECT_EQ(r.sErr, "");
  EXPECT_EQ(r.sOut, "callback: line 3: no section name\nreturned\n");
  // A fatal error still ends the run after the user was told.
  r = RunProbe("--spec F=E --echo F 'cannot start'");
  EXPECT_EQ(r.iExit, 1);
  EXPECT_EQ(r.sErr, "echo F: cannot start\n");
}

// Rotation keeps the newest log files of a base name, by the time in their names, and never
// touches anything else in the folder.
TEST(Status, RotationKeepsTheNewestLogsOfItsBaseName) {
  fs::path dir = fs::path(testing::TempDir()) / ("status_rotate_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::vector<std::string> asLog;
  for (int i = 0; i < 25; ++i) {
    char sz[64];
    // Minutes apart, written in an order unrelated to their times; the process numbers vary.
    int iMinute = (i * 7) % 25;
    snprintf(sz, sizeof sz, "VantrelIDE-20261210-12%02d00-%05d.log", iMinute, 40000 - i * 1000);
    std::ofstream(dir / sz) << "x";
    asLog.push_back(sz);
  }
  std::sort(asLog.begin(), asLog.end());
  const char* apszOther[] = {"VantrelIDE-notes.log", "Other-20261210-120000-00001.log", "VantrelIDE-20261210-1200-1.log",
                             "VantrelIDE-20261210-120000-00001.txt"};
  for (const char* psz : apszOther) std::ofstream(dir / psz) << "keep";
  EXPECT_EQ(AKSRotateLogs((dir / "VantrelIDE").c_str(), 20), 5);
  for (size_t i = 0; i < asLog.size(); ++i) EXPECT_EQ(fs::exists(dir / asLog[i]), i >= 5) << asLog[i];
  for (const char* psz : apszOther) EXPECT_TRUE(fs::exists(dir / psz)) << psz;
  EXPECT_EQ(AKSRotateLogs((dir / "VantrelIDE").c_str(), 20), 0);
  fs::remove_all(dir);
}

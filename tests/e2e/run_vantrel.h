// Runs the vantrel command and captures its standard output, standard error and exit status.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "process_support.h"

struct VantrelRun {
  std::string sOut, sErr;
  int iExit = -1;
};

// A file name as the name of a parametrised test: every character but letters and digits becomes '_'.
inline std::string FileTestName(const testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  for (char& ch : s)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

inline std::string DataPath(const std::string& sRelative) { return std::string(VANTREL_TEST_DATA) + "/" + sRelative; }

// sArgs is passed through the shell, so quote what needs it.
inline VantrelRun RunVantrel(const std::string& sArgs) {
  static int iRun = 0;
  std::filesystem::path dir = std::filesystem::path(testing::TempDir()) /
                              ("vantrel_run_" + std::to_string(getpid()) + "_" + std::to_string(iRun++));
  std::filesystem::create_directories(dir);
  std::string sCommand = std::string("env -u KSStatus ") + VANTREL_EXE + " " + sArgs + " >" + (dir / "out").string() +
                         " 2>" + (dir / "err").string();
  int iStatus = system(sCommand.c_str());
  VantrelRun r;
  r.iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
  r.sOut = ReadText(dir / "out");
  r.sErr = ReadText(dir / "err");
  std::filesystem::remove_all(dir);
  return r;
}

// A copy of the test installation that a test may change and watch.
inline std::filesystem::path CopyInstall(const std::string& sName) {
  std::filesystem::path dir =
      std::filesystem::path(testing::TempDir()) / ("install_" + std::to_string(getpid()) + "_" + sName);
  std::filesystem::remove_all(dir);
  std::filesystem::copy(DataPath("install"), dir, std::filesystem::copy_options::recursive);
  // Logs that earlier runs with KSStatus left in the fixture are not this run's doing.
  std::filesystem::remove_all(dir / "log");
  return dir;
}

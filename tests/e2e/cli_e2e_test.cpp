// The vantrel command line as a whole: commands it does not have, and option values out of range.
#include <gtest/gtest.h>

#include <fstream>

#include "run_vantrel.h"

TEST(CliE2E, AWordThatIsNoCommandIsNamedAndTheCommandsListed) {
  const char* const kList = "the commands are conf, formula, modules, check, dump, render, bench, play, regress";
  for (const char* pszArgs : {"bogus", "bogus --help", "Render x.vantrel"}) {
    VantrelRun r = RunVantrel(pszArgs);
    std::string sWord = std::string(pszArgs).substr(0, std::string(pszArgs).find(' '));
    EXPECT_EQ(r.iExit, 2) << pszArgs;
    EXPECT_EQ(r.sErr, "vantrel: \"" + sWord + "\" is not a command; " + kList + " (vantrel COMMAND --help)\n") << pszArgs;
    EXPECT_EQ(r.sOut, "") << pszArgs;
  }
  // Commands and vantrel's own options are untouched by the check.
  VantrelRun r = RunVantrel("--version");
  EXPECT_EQ(r.iExit, 0);
  EXPECT_NE(r.sOut.find("vantrel "), std::string::npos) << r.sOut;
  r = RunVantrel("formula --eval '1 + 1'");
  EXPECT_EQ(r.sOut, "2\n");
}

// Every value outside an option's range is refused with the range, none is taken as the default.
TEST(CliE2E, BenchRefusesSecondsOutOfRange) {
  std::string sPatch = testing::TempDir() + "/bench_range.vantrel";
  std::ofstream(sPatch) << "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n";
  for (const char* pszValue : {"-1", "0", "600.5", "nan"}) {
    VantrelRun r = RunVantrel("bench '" + sPatch + "' --seconds " + pszValue);
    EXPECT_EQ(r.iExit, 2) << pszValue;
    EXPECT_EQ(r.sErr, std::string("vantrel: --seconds must be above 0 and at most 600, not ") + pszValue + "\n");
    EXPECT_EQ(r.sOut, "") << "nothing measured";
  }
}

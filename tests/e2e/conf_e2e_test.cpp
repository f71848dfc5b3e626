// vantrel conf: the configuration reader's behaviour seen from the command line.
#include <gtest/gtest.h>

#include "run_vantrel.h"

namespace {

struct ConfCase {
  const char* pszFile;
  const char* pszFlags;
  const char* pszOut;
  const char* pszErr;  // with FILE standing for the path given on the command line
  int iExit;
};

void PrintTo(const ConfCase& c, std::ostream* os) { *os << "conf " << c.pszFlags << " " << c.pszFile; }

std::string Substitute(std::string s, const std::string& sPath) {
  for (size_t i; (i = s.find("FILE")) != std::string::npos;) s.replace(i, 4, sPath);
  return s;
}

class ConfE2E : public testing::TestWithParam<ConfCase> {};

}  // namespace

TEST_P(ConfE2E, PrintsTheConfigurationAndItsDiagnostics) {
  const ConfCase& c = GetParam();
  std::string sPath = DataPath(std::string("conf/") + c.pszFile);
  VantrelRun r = RunVantrel(std::string("conf ") + c.pszFlags + " '" + sPath + "'");
  EXPECT_EQ(r.sOut, c.pszOut);
  EXPECT_EQ(r.sErr, Substitute(c.pszErr, sPath));
  EXPECT_EQ(r.iExit, c.iExit);
}

std::string CaseName(const testing::TestParamInfo<ConfCase>& info) { return "Case" + std::to_string(info.index); }

INSTANTIATE_TEST_SUITE_P(
    Files, ConfE2E,
    testing::Values(
        // A header A.B then A: both headers reach the same section A.
        ConfCase{"reopen.vantrel", "", "\n[Osc]\n\nFreq = 440\nWave = Saw\nGain = 0.5\n\n[Osc.Sub]\n\nx = 1\n", "", 0},
        ConfCase{"duplicate.vantrel", "", "\n[Env]\n\nAttack  = 20ms  \nRelease = 1s\n",
                 "FILE:4: Env:Attack - variable duplicated; last version takes precedence\n", 0},
        ConfCase{"continuation.vantrel", "", "Result = Osc1 +Osc2\nOther  = 1 + 2\nGain   = 5 # not a comment\n", "", 0},
        ConfCase{"noequals.vantrel", "", "\n[A]\n\nx      = 1\nlonely = \n", "FILE:3: A:lonely - no equals after variable\n",
                 0},
        ConfCase{"crlf.vantrel", "", "\n[A]\n\nx = 1\n[B]\n\nbad = \n", "FILE:6: B:bad - no equals after variable\n", 0},
        ConfCase{"vtab.vantrel", "", "\n[A]\n\nx = 12\ny = 3\n",
                 "FILE:2: skipping vertical tab\nFILE:3: skipping vertical tab\n", 0},
        ConfCase{"quotes.xml", "--from-xml", "title = Tom & Jerry's \"x<y>\"\n\n[Win]\n\nLeft = 10\n", "", 0},
        ConfCase{"quotes.xml", "--from-xml --to-xml",
                 "<title>Tom &amp; Jerry&apos;s &quot;x&lt;y&gt;&quot;</title>\n<Win>\n    <Left>10</Left>\n</Win>\n", "",
                 0},
        ConfCase{"unclosed.xml", "--from-xml", "", "FILE: expected closing tag\n", 1},
        ConfCase{"missing.vantrel", "", "", "vantrel: cannot read FILE: No such file or directory\n", 2},
        ConfCase{"", "", "", "vantrel: cannot read FILE: is a directory\n", 2}),
    CaseName);

TEST(ConfE2E, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunVantrel("conf").iExit, 2);
  EXPECT_EQ(RunVantrel("nosuchcommand").iExit, 2);
  VantrelRun r = RunVantrel("conf --help");
  EXPECT_EQ(r.iExit, 0);
  EXPECT_NE(r.sOut.find("--to-xml"), std::string::npos);
}

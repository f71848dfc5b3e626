// vantrel formula: the calculator's answers and its errors with their places.
#include <gtest/gtest.h>

#include "run_vantrel.h"

namespace {

struct FormulaCase {
  const char* pszFormula;
  std::string sOut;  // standard output
  std::string sErr;  // standard error
  int iExit;
};

const char* const kHistory = "a value's history (Name@N: its value N samples ago) exists only in a patch";

void PrintTo(const FormulaCase& c, std::ostream* os) { *os << c.pszFormula; }

class FormulaE2E : public testing::TestWithParam<FormulaCase> {};
class FormulaEvalE2E : public testing::TestWithParam<FormulaCase> {};

VantrelRun RunFormula(const char* pszCommand, const char* pszFormula) {
  std::string sQuoted = "'";
  for (const char* p = pszFormula; *p; ++p) sQuoted += *p == '\'' ? std::string("'\\''") : std::string(1, *p);
  return RunVantrel(std::string(pszCommand) + " " + sQuoted + "'");
}

}  // namespace

TEST_P(FormulaE2E, PrintsTheTreeOrTheErrorAndPlace) {
  VantrelRun r = RunFormula("formula", GetParam().pszFormula);
  EXPECT_EQ(r.sOut, GetParam().sOut);
  EXPECT_EQ(r.sErr, GetParam().sErr);
  EXPECT_EQ(r.iExit, GetParam().iExit);
}

TEST_P(FormulaEvalE2E, PrintsTheValue) {
  VantrelRun r = RunFormula("formula --eval", GetParam().pszFormula);
  EXPECT_EQ(r.sOut, GetParam().sOut);
  EXPECT_EQ(r.sErr, GetParam().sErr);
  EXPECT_EQ(r.iExit, GetParam().iExit);
}

std::string Long(char ch, int n) { return std::string(static_cast<size_t>(n), ch); }

INSTANTIATE_TEST_SUITE_P(
    ParseErrors, FormulaE2E,
    testing::Values(
        FormulaCase{"2 ^ 3 ^ 2", "2^3^2\n", "", 0},
        FormulaCase{"", "", ": no formula given\n     >>>  <<< \n", 1},
        FormulaCase{"f", "", "f: this module name, field name, or key word isn't known\n     >>> f <<< \n", 1},
        FormulaCase{"f (1)", "", "f (1): this function name isn't known\n     >>> f <<<  (1)\n", 1},
        FormulaCase{"1 2", "", "1 2: this infix operator isn't known\n    1  >>>  <<< 2\n", 1},
        FormulaCase{"1 + * 2", "",
                    "1 + * 2: this must be a constant, field, enumeration, parenthesized formula, function, or unary minus\n"
                    "    1 +  >>> * <<<  2\n",
                    1},
        FormulaCase{"1,", "", "1,: this argument seperator isn't in a list of arguments\n    1 >>>  <<< ,\n", 1},
        FormulaCase{"1)", "", "1): this right parenthesis doesn't have a matching left\n    1 >>>  <<< )\n", 1},
        FormulaCase{"MAX + 1", "", "MAX + 1: a function must be followed by a left parenthesis\n     >>> MAX <<<  + 1\n", 1},
        FormulaCase{"Super(1)", "",
                    "Super(1): The Super() pseudo-function cannot be used at the top level\n     >>> Super <<< (1)\n", 1},
        FormulaCase{"(1 + 2", "", "(1 + 2: this left parenthesis doesn't have a matching right\n     >>> (1 + 2 <<< \n", 1},
        FormulaCase{"MAX(1]", "", "MAX(1]: this argument must be followed by a comma or right parenthesis\n    MAX(1 >>>  <<< ]\n",
                    1},
        FormulaCase{"\"open", "", "\"open: unterminated string constant\n     >>> \"open <<< \n", 1},
        FormulaCase{"1 + NOT(1, 2)", "",
                    "1 + NOT(1, 2): this function doesn't have the right argument count\n    1 +  >>> NOT(1, 2) <<< \n", 1},
        FormulaCase{"2 * 3 SEMIS", "",
                    "2 * 3 SEMIS: this exponential unit may only be preceded by + or -\n    2 *  >>> 3 SEMIS <<< \n", 1},
        FormulaCase{"SumVoices(1)", "",
                    "SumVoices(1): a function only callable from patch is called in a voice formula\n"
                    "     >>> SumVoices <<< (1)\n",
                    1},
        FormulaCase{"\"440\" + 1", "", "\"440\" + 1: this argument doesn't have the correct type\n     >>> \"440\" <<<  + 1\n",
                    1},
        // A history reference needs a playing patch; the calculator says so in the author's terms.
        FormulaCase{"A4@3", "", "A4@3: " + std::string(kHistory) + "\n     >>> A4 <<< @3\n", 1},
        FormulaCase{"Tuning:A4@3 + 1", "", "Tuning:A4@3 + 1: " + std::string(kHistory) + "\n     >>> Tuning:A4@3 <<<  + 1\n", 1},
        FormulaCase{"A4@3 + f", "", "A4@3 + f: " + std::string(kHistory) + "\n     >>> A4 <<< @3 + f\n", 1},
        FormulaCase{"A4 + f@3", "", "A4 + f@3: this module name, field name, or key word isn't known\n    A4 +  >>> f <<< @3\n", 1}));

TEST(FormulaE2E, LongWordsAndFormulasAreRefused) {
  std::string sWord = Long('w', 600);
  VantrelRun r = RunFormula("formula", sWord.c_str());
  EXPECT_EQ(r.sErr, sWord + ": this word is too long to parse\n     >>> " + sWord + " <<< \n");
  std::string sSum = "1";
  for (int i = 1; i < 60; ++i) sSum += "+1";  // sixty operands
  r = RunFormula("formula", sSum.c_str());
  EXPECT_EQ(r.sErr, sSum + ": this formula is too long to parse\n    " + sSum.substr(0, sSum.size() - 1) + " >>> 1 <<< \n");
  EXPECT_EQ(r.iExit, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormulaEvalE2E,
    testing::Values(FormulaCase{"440 + 7 SEMIS", "659.25511382574\n", "", 0},
                    FormulaCase{"440 - 12 SEMIS", "220\n", "", 0}, FormulaCase{"-6 DB", "0.501187233627272\n", "", 0},
                    FormulaCase{"5 ms + 1 sec", "1.005\n", "", 0}, FormulaCase{"1200 CENTS", "2\n", "", 0},
                    FormulaCase{"IF(1 < 2, \"yes\", \"no\")", "\"yes\"\n", "", 0},
                    FormulaCase{"AND(1, NOT(0), 2 >= 2)", "1\n", "", 0},
                    FormulaCase{"SelectLoopN(-1, 10, 20, 30)", "30\n", "", 0},
                    FormulaCase{"LinFadeLoop(0.75, 0, 10)", "5\n", "", 0},
                    FormulaCase{"Curve(0.25, 0, 0, 10, 20)", "0\n", "", 0},
                    FormulaCase{"0.5{100, 400}", "200\n", "", 0}, FormulaCase{"7 \\ 3 + (-1 \\ 3)", "3\n", "", 0},
                    FormulaCase{"RANDOM()", "0.00125125888851588\n", "", 0},
                    FormulaCase{"\"it\"\"s\"", "\"it\"\"s\"\n", "", 0},
                    FormulaCase{"\"440\" + 1", "",
                                "\"440\" + 1: this argument doesn't have the correct type\n     >>> \"440\" <<<  + 1\n", 1},
                    // Not-a-number has no sign worth printing; the infinities have theirs.
                    FormulaCase{"0/0", "nan\n", "", 0}, FormulaCase{"1 - 0/0", "nan\n", "", 0},
                    FormulaCase{"SQRT(-1)", "nan\n", "", 0}, FormulaCase{"1/0", "inf\n", "", 0},
                    FormulaCase{"-1/0", "-inf\n", "", 0}));

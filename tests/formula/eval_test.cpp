// Constant formulas evaluated: arithmetic, units, logic, selection, fades, curves and shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formula/formfn.h"
#include "table_fixture.h"

namespace {

struct EvalCase {
  const char* pszText;
  double dWant;
};

void PrintTo(const EvalCase& c, std::ostream* os) { *os << "\"" << c.pszText << "\""; }

class Eval : public testing::TestWithParam<EvalCase> {};

const double kSemi = std::pow(2.0, 1.0 / 12);

}  // namespace

TEST_P(Eval, GivesTheValue) {
  ParsedFormula f(GetParam().pszText);
  ASSERT_FALSE(FormIsError(f.pform)) << FormTypeName(f.pform) << " >>>" << f.split.sStretch;
  double d = f.Value();
  if (std::isnan(GetParam().dWant)) EXPECT_TRUE(std::isnan(d)) << d;
  else if (std::isinf(GetParam().dWant)) EXPECT_EQ(d, GetParam().dWant);
  else EXPECT_NEAR(d, GetParam().dWant, 1e-9 * std::max(1.0, std::fabs(GetParam().dWant)));
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Eval,
    testing::Values(EvalCase{"1 + 2 * 3", 7}, EvalCase{"(1 + 2) * 3", 9}, EvalCase{"2 ^ 3 ^ 2", 64},
                    EvalCase{"10 - 2 - 3", 5}, EvalCase{"100 / 5 / 2", 10}, EvalCase{"-2 + 3", 1},
                    EvalCase{"- 2 + 3", -5}, EvalCase{"2 * - 3 + 4", -14}, EvalCase{"7 \\ 3", 1},
                    EvalCase{"-1 \\ 3", 2}, EvalCase{"5 \\ 0", 0}, EvalCase{"5 \\ -2", 0}, EvalCase{"7.5 \\ 2", 1.5},
                    EvalCase{"1 / 0", INFINITY}, EvalCase{"SQRT(-1)", NAN}, EvalCase{"TwoPower(3, 99)", 8},
                    EvalCase{"MAX(-1, -2)", -1}, EvalCase{"MIN(4)", 4}, EvalCase{"MIN(3, 1, 2)", 1},
                    EvalCase{"SIN(0.25)", 1}, EvalCase{"COS(0.5)", -1}, EvalCase{"TAN(0.125)", 1},
                    EvalCase{"TANH(0.5)", 0.46211715726000974}, EvalCase{"FLOOR(-1.5)", -2}, EvalCase{"CEIL(1.2)", 2},
                    EvalCase{"FRACTION(-1.25)", -0.25}, EvalCase{"ABS(-3)", 3}, EvalCase{"1e300 * 1e300", INFINITY}));

INSTANTIATE_TEST_SUITE_P(
    Units, Eval,
    testing::Values(EvalCase{"440 HZ", 440}, EvalCase{"12 SEMIS", 2}, EvalCase{"1200 CENTS", 2},
                    EvalCase{"2 OCTAVES", 4}, EvalCase{"-6 DB", 0.50118723362727224}, EvalCase{"5 MS", 0.005},
                    EvalCase{"2 SECS", 2}, EvalCase{"440 + 7 SEMIS", 440 * std::pow(kSemi, 7)},
                    EvalCase{"440 - 12 SEMIS", 220}, EvalCase{"100 - 3 SEMIS", 100 / std::pow(kSemi, 3)},
                    EvalCase{"1 + 10 CENTS", std::pow(2.0, 10 / 1200.0)}, EvalCase{"0.25[100, 200]", 125},
                    EvalCase{"-1[100, 200]", 100}, EvalCase{"2[100, 200]", 200}, EvalCase{"0.5{100, 400}", 200}));

INSTANTIATE_TEST_SUITE_P(
    Logic, Eval,
    testing::Values(EvalCase{"IF(0, 1, 0, 2, 3)", 3}, EvalCase{"IF(0, 1, 5, 2, 3)", 2}, EvalCase{"AND(1, 2, 3)", 1},
                    EvalCase{"AND(1, 0)", 0}, EvalCase{"OR(0, 0)", 0}, EvalCase{"OR(0, 2)", 1}, EvalCase{"NOT(0)", 1},
                    EvalCase{"NOT(3)", 0}, EvalCase{"2 < 3", 1}, EvalCase{"2 >= 3", 0}, EvalCase{"2 <> 3", 1},
                    EvalCase{"2 = 2", 1}, EvalCase{"INLIST(2, 1, 2, 3)", 1}, EvalCase{"INLIST(5, 1, 2)", 0},
                    EvalCase{"true", 1}, EvalCase{"FALSE", 0}));

INSTANTIATE_TEST_SUITE_P(
    Selection, Eval,
    testing::Values(EvalCase{"Select(1, 10, 20, 30)", 30}, EvalCase{"Select(0.5, 10, 20)", 20},
                    EvalCase{"Select(-3, 10, 20)", 10}, EvalCase{"SelectN(7, 10, 20)", 20},
                    EvalCase{"SelectN(1.9, 10, 20, 30)", 20}, EvalCase{"SelectLoop(1.25, 10, 20, 30, 40)", 20},
                    EvalCase{"SelectLoopN(-1, 10, 20, 30)", 30}, EvalCase{"SelectLoopN(-0.5, 10, 20, 30)", 30},
                    EvalCase{"SelectN(0/0, 10, 20)", 10}, EvalCase{"SelectLoopN(1/0, 10, 20)", 10}));

INSTANTIATE_TEST_SUITE_P(
    Fades, Eval,
    testing::Values(EvalCase{"LinFade(0.5, 0, 10, 20)", 10}, EvalCase{"LinFade(0.25, 0, 10, 20)", 5},
                    EvalCase{"LinFade(-1, 0, 10, 20)", 0}, EvalCase{"LinFade(7, 0, 10, 20)", 20},
                    EvalCase{"LinFadeN(1.5, 0, 10, 20)", 15}, EvalCase{"LinFadeLoop(0.75, 0, 10)", 5},
                    EvalCase{"LinFadeLoopN(-0.5, 0, 10)", 5}, EvalCase{"ExpFade(0.5, 100, 400)", 200},
                    EvalCase{"PowFade(0.5, 1, 1)", std::sqrt(2.0)}, EvalCase{"PowFadeN(1, 3, 7)", 7},
                    EvalCase{"Curve(0.25, 0.5, 0, 10, 20)", 5}, EvalCase{"Curve(0.25, 0, 0, 10, 20)", 0},
                    EvalCase{"Curve(0.25, 1, 0, 10, 20)", 10}, EvalCase{"Curve(0.5, 0.25, 0, 10)", 2.5},
                    EvalCase{"CurveN(1, 0.9, 0, 10, 20)", 10}, EvalCase{"SCurve(0.3, 0, 0, 10)", 0},
                    EvalCase{"SCurve(0.7, 0, 0, 10)", 10}, EvalCase{"SCurve(0.3, 0.5, 0, 10)", 3},
                    EvalCase{"SCurve(0.3, 1, 0, 10)", 5}, EvalCase{"SCurveLoopN(0.25, 0.25, 0, 8)", 1},
                    EvalCase{"LinFadeX(5, 0, 0, 10, 100)", 50}, EvalCase{"LinFadeX(-5, 0, 7, 10, 100)", 7},
                    EvalCase{"LinFadeX(50, 0, 7, 10, 100)", 100}, EvalCase{"PEAK(200, 200, 2, 0, 1)", 1},
                    EvalCase{"PEAK(100, 200, 2, 0, 1)", 0}, EvalCase{"PEAK(150, 200, 2, 0, 1)", 0.5},
                    EvalCase{"PEAK(300, 200, 2, 0, 1)", 0.5}, EvalCase{"PEAK(401, 200, 2, 3, 1)", 3},
                    EvalCase{"BreakOutN(1, 3, 5)", 3}, EvalCase{"BreakOutN(1.5, 1, 1)", std::sqrt(2.0)},
                    EvalCase{"BreakOutN(3, 3, 5)", 3}, EvalCase{"PanL(2, 0)", 2}, EvalCase{"PanR(2, 1)", 2},
                    EvalCase{"PanL(1, 0.5)", std::sqrt(0.5)}, EvalCase{"SumBusN(1, 2, 3)", 6},
                    EvalCase{"ONCEPERNOTE(4)", 4}, EvalCase{"LEN(\"abc\")", 0}));

TEST(EvalCurves, CurveWithMiddleShapeIsLinearEverywhere) {
  for (double x = -0.25; x <= 1.25; x += 0.0625) {
    std::string sCurve = "Curve(" + std::to_string(x) + ", 0.5, 3, -1, 8, 2)";
    std::string sLin = "LinFade(" + std::to_string(x) + ", 3, -1, 8, 2)";
    EXPECT_NEAR(ParsedFormula(sCurve.c_str()).Value(), ParsedFormula(sLin.c_str()).Value(), 1e-12) << x;
  }
}

TEST(EvalLazy, OnlyTheNeededArgumentsAreEvaluated) {
  // The division by zero would be a NaN if evaluated; each function must skip it.
  for (const char* psz : {"IF(1, 5, 0/0)", "AND(0, 0/0) + 5", "OR(1, 0/0) + 4", "Select(0, 5, 0/0)",
                          "LinFade(0, 5, 0/0)", "PEAK(1000, 200, 2, 5, 0/0)", "INLIST(1, 1, 0/0) + 4",
                          "Curve(0, 0/0, 5, 6)", "0[5, 0/0]"}) {
    ParsedFormula f(psz);
    EXPECT_FALSE(std::isnan(f.Value())) << psz;
  }
}

TEST(EvalFind, FindAndInitialLeaveTheResultAlone) {
  ParsedFormula f("FIND(\"abc\", \"b\")");
  double d = 42;
  FormEval(f.pform, f.pavar, &d);
  EXPECT_EQ(d, 42);
}

TEST(EvalRandom, FollowsThePatchGenerator) {
  uint32_t uState = 1;
  int iGenerator = FormRandomRegister(&uState);
  ParsedFormula f("RANDOM() - RANDOM()");
  FormBindRandom(f.pform, iGenerator);
  // s -> s*214013 + 2531011; value ((s >> 16) & 32767) / 32767.
  uint32_t s = 1;
  s = s * 214013u + 2531011u;
  double d1 = ((s >> 16) & 32767) / 32767.0;
  s = s * 214013u + 2531011u;
  double d2 = ((s >> 16) & 32767) / 32767.0;
  EXPECT_DOUBLE_EQ(f.Value(), d1 - d2);
  EXPECT_NE(d1, d2);
  EXPECT_EQ(uState, s);
  FormRandomUnregister(iGenerator);
}

TEST(EvalRandomDeathTest, RandomWithoutItsGeneratorEndsTheProgram) {
  ParsedFormula f("RANDOM()");
  EXPECT_EXIT(f.Value(), testing::ExitedWithCode(1), "don't have secret arg");
}

TEST(EvalBusDeathTest, BusRowsMustHaveBeenRewritten) {
  ParsedFormula f("MakeBus(1, 2)");
  EXPECT_EXIT(f.Value(), testing::ExitedWithCode(1), "FormFnMakeBus\\(\\) should have been replaced by ChannelSeparate\\(\\)");
  ParsedFormula g("BreakOut(1, 2)");
  EXPECT_EXIT(g.Value(), testing::ExitedWithCode(1), "FormFnBreakOut\\(\\) should have been replaced by FormFnBreakOutN\\(\\)");
}

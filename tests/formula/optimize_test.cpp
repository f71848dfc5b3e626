// The optimizer: its rewrites, and a differential test that it never changes what a formula computes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formula/formopt.h"
#include "table_fixture.h"

namespace {

// A table of inputs (values a test sets) and constants, plus one record per formula under test.
class OptTable {
 public:
  explicit OptTable(const std::vector<std::string>& asFormulas) {
    for (const char* psz : {"a", "b", "c", "d"}) table_.Add("In", psz);
    table_.Add("K", "k440", "440");
    table_.Add("K", "kwire", "In:a");
    Var& varMidi = table_.Add("K", "midi", "0.5");
    varMidi.flags = VarFlagNeverFold;
    for (size_t i = 0; i < asFormulas.size(); ++i) table_.Add("F", ("f" + std::to_string(i)).c_str(), asFormulas[i].c_str());
    etFirstError = table_.Compile();
    n_ = asFormulas.size();
  }
  void Optimize() {
    for (int nRound = 0; nRound < 100 && FormOptimizeTable(table_.Table(), table_.Table()); ++nRound) {
    }
  }
  void SetInputs(const double ad[4]) {
    int i = 0;
    for (const char* psz : {"a", "b", "c", "d"}) table_.Find("In", psz)->value = ad[i++];
  }
  double Eval(size_t i) {
    table_.MarkStale();
    return table_.Eval("F", ("f" + std::to_string(i)).c_str());
  }
  std::string Text(size_t i) { return FormToText(table_.Find("F", ("f" + std::to_string(i)).c_str())->pform, table_.Table()); }
  Var* Find(const char* pszModule, const char* pszName) { return table_.Find(pszModule, pszName); }
  int etFirstError;

 private:
  TestTable table_;
  size_t n_;
};

std::string Optimized(const char* pszFormula) {
  OptTable t({pszFormula});
  EXPECT_EQ(t.etFirstError, 0) << pszFormula;
  t.Optimize();
  return t.Text(0);
}

// Where plain evaluation gives no number (a division by zero times zero, say), the optimizer's
// identities (x * 0 is 0) may give one; every finite result must stay.
bool SameValue(double x, double y) {
  if (!std::isfinite(x)) return true;
  return std::fabs(x - y) <= 1e-9 * std::max({1.0, std::fabs(x), std::fabs(y)});
}

}  // namespace

TEST(Optimize, Rewrites) {
  struct {
    const char* pszIn;
    const char* pszOut;
  } aCases[] = {
      {"2 * 3 + a", "6+<1>In:a"},
      {"a * 0", "0"},
      {"a / 1", "<1>In:a"},
      {"1 / a", "Reciprocal(<1>In:a)"},
      {"0 - a", "-<1>In:a"},
      {"2 ^ a", "TwoPower(<1>In:a)"},
      {"a ^ -1", "Reciprocal(<1>In:a)"},
      {"a ^ 1", "<1>In:a"},
      {"0 ^ a", "0^<1>In:a"},
      {"1 ^ a", "1"},
      {"a - 1 - 2", "<1>In:a-3"},
      {"10 - a - 2", "8-<1>In:a"},
      {"a / 2 / 4", "<1>In:a/8"},
      {"8 / a / 2", "4/<1>In:a"},
      {"a * (b * c)", "<1>In:a*<1>In:b*<1>In:c"},
      {"OR(a, 1)", "1"},
      {"AND(a, 0)", "0"},
      {"OR(0, 0)", "0"},
      {"AND(a, 1, a)", "AND(<1>In:a)"},
      {"IF(1, a, b)", "<1>In:a"},
      {"IF(0, a, b)", "<1>In:b"},
      {"IF(c, a, c, b, d)", "IF(<1>In:c,<1>In:a,<1>In:d)"},
      {"IF(c, a, a)", "<1>In:a"},
      {"SelectLoopN(-0.5, a, b, c)", "<1>In:c"},
      {"Select(a, b, b, b)", "<1>In:b"},
      {"MAX(a, 3, a, 7, 5)", "MAX(<1>In:a,7)"},
      {"MIN(2, 9)", "2"},
      {"INLIST(a, b, a)", "1"},
      {"INLIST(3, a, 4, 5)", "INLIST(3,<1>In:a)"},
      {"INLIST(3, 4, 5)", "0"},
      {"LinFade(0.5, a, b, c)", "<1>In:b"},
      {"LinFade(0.25, 0, a, 20)", "LinFade(0.25,0,<1>In:a,20)"},
      {"LinFade(0.25, 0, 10, a)", "5"},
      {"Curve(a, 0.5, b, c)", "LinFade(<1>In:a,<1>In:b,<1>In:c)"},
      {"CurveN(a, 0, b, c)", "SelectN(<1>In:a,<1>In:b,<1>In:c)"},
      {"Curve(a, 0, b, c)", "Curve(<1>In:a,0,<1>In:b,<1>In:c)"},
      {"SCurveLoop(a, 0.5, b, c)", "LinFadeLoop(<1>In:a,<1>In:b,<1>In:c)"},
      {"PEAK(a, 200, 2, b, b)", "<1>In:b"},
      {"PEAK(50, 200, 2, a, b)", "<1>In:a"},
      {"LinFadeX(a, 0, b, 10, b)", "<1>In:b"},
      {"LinFadeX(5, 0, 0, 10, a)", "LinFadeX(5,0,0,10,<1>In:a)"},
      {"LinFadeX(-1, 0, a, 10, b)", "<1>In:a"},
      {"K:k440 * 2", "880"},
      {"K:kwire + 1", "<1>In:a+1"},
      {"K:midi * 2", "<1>K:midi*2"},
      {"PowFade(a, b, b)", "PowFade(<1>In:a,<1>In:b,<1>In:b)"},
  };
  for (const auto& c : aCases) EXPECT_EQ(Optimized(c.pszIn), c.pszOut) << c.pszIn;
}

TEST(Optimize, FoldingMarksTheFoldedRecordAndASecondRunChangesNothing) {
  OptTable t({"K:k440 * In:a", "IF(In:a > 1, K:k440, 0)"});
  ASSERT_EQ(t.etFirstError, 0);
  t.Optimize();
  EXPECT_TRUE(t.Find("K", "k440")->bReferenced);
  EXPECT_FALSE(t.Find("K", "midi")->bReferenced);
  std::string s0 = t.Text(0), s1 = t.Text(1);
  t.Optimize();
  EXPECT_EQ(t.Text(0), s0);
  EXPECT_EQ(t.Text(1), s1);
}

// Random formulas over the inputs, built from every kind of row the optimizer rewrites. Division
// and powers are kept finite for finite inputs: x * 0 is folded to 0, which is exact only for
// finite x, and a formula must not hide a non-finite value inside a MIN or MAX for the
// comparison to mean anything.
std::vector<std::string> RandomFormulas(int n, unsigned uSeed) {
  std::mt19937 rng(uSeed);
  auto pick = [&](int k) { return static_cast<int>(rng() % static_cast<unsigned>(k)); };
  std::function<std::string(int)> expr = [&](int iDepth) -> std::string {
    const char* apszLeaf[] = {"In:a", "In:b", "In:c", "In:d", "0", "1", "2", "-1", "0.5", "3", "K:k440", "K:kwire", "K:midi"};
    if (iDepth > 3 || pick(3) == 0) return apszLeaf[pick(13)];
    std::string x = expr(iDepth + 1), y = expr(iDepth + 1), z = expr(iDepth + 1);
    switch (pick(20)) {
      case 0: return "(" + x + " + " + y + ")";
      case 1: return "(" + x + " - " + y + ")";
      case 2: return "(" + x + " * " + y + ")";
      case 3: return "(" + x + " / (1 + " + y + " * " + y + "))";
      case 4: return "((ABS(" + x + ") + 1) ^ MIN(" + y + ", 3))";
      case 5: return "MIN(" + x + ", " + y + ", " + z + ")";
      case 6: return "MAX(" + x + ", " + y + ")";
      case 7: return "AND(" + x + ", " + y + ")";
      case 8: return "OR(" + x + ", " + y + ", " + x + ")";
      case 9: return "IF(" + x + ", " + y + ", " + x + ", " + z + ", " + y + ")";
      case 10: return "INLIST(" + x + ", " + y + ", " + z + ", " + x + ")";
      case 11: return "Select(" + x + ", " + y + ", " + z + ")";
      case 12: return "SelectLoopN(" + x + ", " + y + ", " + z + ", " + y + ")";
      case 13: return "LinFade(" + x + ", " + y + ", " + z + ")";
      case 14: return "CurveN(" + x + ", " + y + ", " + z + ", 1)";
      case 15: return "SCurveLoop(" + x + ", 0.5, " + y + ", " + z + ")";
      case 16: return "LinFadeX(" + x + ", 0, " + y + ", 1, " + z + ")";
      case 17: return "PEAK(" + x + ", 2, 2, " + y + ", " + z + ")";
      case 18: return "(" + x + " \\ " + y + ")";
      default: return "(" + x + " < " + y + ")";
    }
  };
  std::vector<std::string> as;
  for (int i = 0; i < n; ++i) as.push_back(expr(0));
  return as;
}

TEST(Optimize, NeverChangesWhatAFormulaComputes) {
  std::vector<std::string> asFormulas = {
      "In:a * 2 * 3",       "In:a - 1 - 2",      "10 - In:a - 2",     "In:a / 2 / 4",         "8 / In:a / 2",
      "2 ^ In:a",           "In:a ^ -1",         "1 / In:a",          "0 - In:a",             "In:a * 1 * In:b",
      "IF(In:c, In:a, In:c, In:b, In:d)",       "Curve(In:a, 0.5, In:b, In:c, 4)",          "SCurve(In:a, 0.5, 1, In:b)",
      "CurveLoopN(In:a, 0, In:b, In:c, In:d)",  "MAX(In:a, 1, 3, In:a)",   "OR(In:a, 0, In:a)",
      "LinFadeX(In:a, 0, In:b, 0.5, 3, 1, In:c)", "PEAK(In:a, 2, 2, In:b, In:c)", "BreakOutN(In:a, In:b, In:c)",
      "PowFade(In:a, In:b, In:b)",              "ExpFade(In:a, 100, 400)", "K:k440 * 2 ^ ((In:a - 69) / 12)"};
  for (const std::string& s : RandomFormulas(400, 1234)) asFormulas.push_back(s);
  OptTable plain(asFormulas), optimized(asFormulas);
  ASSERT_EQ(plain.etFirstError, 0);
  optimized.Optimize();
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> dist(-2.5, 2.5);
  const double aadFixed[][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {0.5, -0.5, 2, 1}, {-1, 0, 1, 0.25}};
  for (int iSample = 0; iSample < 200; ++iSample) {
    double ad[4];
    for (int k = 0; k < 4; ++k) ad[k] = iSample < 4 ? aadFixed[iSample][k] : std::round(dist(rng) * 4) / 4;
    plain.SetInputs(ad);
    optimized.SetInputs(ad);
    for (size_t i = 0; i < asFormulas.size(); ++i) {
      double x = plain.Eval(i), y = optimized.Eval(i);
      ASSERT_TRUE(SameValue(x, y)) << asFormulas[i] << "\noptimized: " << optimized.Text(i) << "\ninputs " << ad[0]
                                   << " " << ad[1] << " " << ad[2] << " " << ad[3] << ": " << x << " vs " << y;
    }
  }
}

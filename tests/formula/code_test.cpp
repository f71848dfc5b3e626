// Compiled formulas give what the tree walk gives, to the bit, and read their references lazily.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "formula/formcode.h"
#include "table_fixture.h"

namespace {

// Inputs chosen to show a changed order of operations: a subnormal, an overflow, a signed zero.
class CodeTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    table_.Add("A", "x", "0.1");
    table_.Add("B", "y", "1e308");
    table_.Add("C", "z", "-0");
    table_.Add("D", "w", "3e-310");
  }
  TestTable table_;
};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Records compiled into one array of fixed room, as the patch compiles its tables.
struct Code {
  std::vector<FormNode> anode;
  explicit Code(size_t nRoom = 100) { anode.reserve(nRoom); }
  const FormNode* Compile(Var& var) {
    var.pcode = FormCompile(var.pform, anode);
    var.pfnBring = FormCodeBring(var.pcode);
    return var.pcode;
  }
};

TEST_P(CodeTest, GivesTheTreeWalksValueToTheBit) {
  Var& var = table_.Add("R", "r", GetParam());
  ASSERT_EQ(table_.Compile(), 0) << GetParam();
  Code code(static_cast<size_t>(FormCodeSize(var.pform)));
  const FormNode* pcode = code.Compile(var);
  ASSERT_NE(pcode, nullptr) << GetParam();
  table_.MarkStale();
  double dTree = -1;
  FormEval(var.pform, table_.Table(), &dTree);
  table_.MarkStale();
  double dCode = FormRun(pcode, table_.Table());
  EXPECT_TRUE(SameBits(dTree, dCode)) << GetParam() << ": tree " << dTree << ", code " << dCode;
  // The record brought up to date by the routine made for its code.
  EXPECT_NE(var.pfnBring, FormRefBring) << GetParam();
  table_.MarkStale();
  FormVarEval(&var);
  EXPECT_TRUE(SameBits(dTree, *var.pvalue)) << GetParam() << ": tree " << dTree << ", record " << *var.pvalue;
}

// Arithmetic at the root, with operands of every kind, folded chains and other rows inside.
INSTANTIATE_TEST_SUITE_P(Formulas, CodeTest,
                         ::testing::Values("A:x * B:y", "A:x + B:y + D:w", "A:x - B:y - 3", "A:x / C:z",
                                           "(A:x + B:y) * 0.5", "500 + 4000 * A:x", "-A:x", "-(D:w * A:x)",
                                           "A:x * B:y * B:y * 0.5", "D:w * 1e308 * 0.1", "C:z - C:z",
                                           "(A:x ^ D:w) * MAX(A:x, C:z)", "A:x", "7", "B:y / (D:w * 1e-10)",
                                           "IF(A:x > 0, B:y * 2, C:z) + 1", "SIN(A:x) * B:y + D:w",
                                           "MAX(A:x, C:z, D:w) * 2", "MIN(D:w, A:x) - MIN(B:y)", "A:x ^ 2 ^ 0.5",
                                           "B:y ^ C:z + 1 ^ (B:y * B:y)", "MAX(C:z, 0) / (A:x - 0.1)",
                                           // Steps between constants, taken while compiling.
                                           "MAX(1, 2, A:x) * (2 * 3)", "MIN(5)", "MAX(-0, 0) - A:x",
                                           "1 / 0 * A:x", "2 ^ 0.5 ^ D:w", "-(1e308 * 10) + A:x"));

TEST(Code, LeavesOtherRowsToTheTreeWalk) {
  TestTable table;
  Var& var = table.Add("R", "r", "IF(1, 2, 3)");
  ASSERT_EQ(table.Compile(), 0);
  Code code;
  EXPECT_EQ(code.Compile(var), nullptr);
  EXPECT_TRUE(code.anode.empty());
}

TEST(Code, ReadsAReferenceOnlyWhenReachedAndOnlyOnce) {
  TestTable table;
  table.Add("A", "x", "2");
  table.Add("B", "y", "A:x * 3");
  table.Add("C", "unread", "5");
  Var& var = table.Add("R", "r", "B:y * B:y + A:x");
  ASSERT_EQ(table.Compile(), 0);
  Code code;
  code.Compile(*table.Find("B", "y"));
  ASSERT_NE(code.Compile(var), nullptr);
  table.MarkStale();
  FormVarEval(&var);
  EXPECT_EQ(*var.pvalue, 38);
  EXPECT_EQ(table.Find("B", "y")->evalState, EvalCurrent);
  EXPECT_EQ(table.Find("C", "unread")->evalState, EvalStale);
}

TEST(Code, ReportsALoopAsTheTreeWalkDoes) {
  TestTable table;
  Var& var = table.Add("R", "r", "R:r + 1");
  ASSERT_EQ(table.Compile(), 0);
  Code code;
  ASSERT_NE(code.Compile(var), nullptr);
  table.MarkStale();
  FormVarEval(&var);
  EXPECT_EQ(var.nLoops, 1);
  EXPECT_EQ(var.evalState, EvalCurrent);
}

TEST(Code, GivesUpWhenTheRoomRunsOut) {
  TestTable table;
  Var& var = table.Add("R", "r", "(1 + SIN(2)) * (3 - COS(4))");
  ASSERT_EQ(table.Compile(), 0);
  Code code(1);
  EXPECT_EQ(code.Compile(var), nullptr);
}

}  // namespace

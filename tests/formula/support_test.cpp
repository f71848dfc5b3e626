// The error list and the fast math tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "formula/errorlist.h"
#include "formula/vanmath.h"

TEST(ErrorListTest, SortsCountsAndKeepsTheFirstLine) {
  ErrorList* pel = ErrorList::Get();
  pel->Clear();
  EXPECT_TRUE(pel->Updated()) << "clearing is a change";
  EXPECT_FALSE(pel->Updated());
  pel->Add(AK_HERE, 3, "beta");
  pel->Add(AK_HERE, 9, "beta");
  pel->Add(AK_HERE, -1, "Beta");
  pel->Add(AK_HERE, 1, "alpha %d", 2);
  ASSERT_EQ(pel->anode.N(), 3);
  EXPECT_STREQ(pel->anode[0].psz, "Beta") << "byte order puts upper case first";
  EXPECT_STREQ(pel->anode[1].psz, "alpha 2");
  EXPECT_STREQ(pel->anode[2].psz, "beta");
  EXPECT_EQ(pel->anode[2].iCount, 2);
  EXPECT_EQ(pel->anode[2].iLine, 3);
  std::string sLong(5000, 'x');
  pel->Add(AK_HERE, -1, "%s", sLong.c_str());
  EXPECT_EQ(std::string(pel->anode[3].psz).size(), 4095u);
}

TEST(ErrorListTest, ConcurrentAddsAreAllCounted) {
  ErrorList* pel = ErrorList::Get();
  pel->Clear();
  std::vector<std::thread> aThreads;
  for (int t = 0; t < 4; ++t)
    aThreads.emplace_back([pel, t] {
      for (int i = 0; i < 1000; ++i) pel->Add(AK_HERE, -1, "message %d", (i + t) % 10);
    });
  for (std::thread& th : aThreads) th.join();
  ASSERT_EQ(pel->anode.N(), 10);
  int nTotal = 0;
  for (const ErrorListNode& node : pel->anode) nTotal += node.iCount;
  EXPECT_EQ(nTotal, 4000);
}

// Lines of included files travel as positions; each entry names the file its line belongs to,
// while equal texts still merge into the first entry.
TEST(ErrorListTest, PositionsNameTheFileOfTheirLine) {
  ErrorList* pel = ErrorList::Get();
  pel->Clear();
  int iBaseSub = pel->FileBase("/patch/sub/err.vantrel");
  int iBasePkg = pel->FileBase("/package/Faulty.1.0.0.vanpack");
  EXPECT_GT(iBaseSub, 0);
  EXPECT_NE(iBaseSub, iBasePkg);
  EXPECT_EQ(pel->FileBase("/patch/sub/err.vantrel"), iBaseSub) << "one base per file";
  pel->Add(AK_HERE, ErrorList::Position(iBaseSub, 4), "in the sub-patch");
  pel->Add(AK_HERE, ErrorList::Position(iBasePkg, 2), "in the package");
  pel->Add(AK_HERE, 7, "in the patch");
  pel->Add(AK_HERE, ErrorList::Position(iBaseSub, -1), "nowhere");
  pel->Add(AK_HERE, 9, "in the sub-patch");
  ASSERT_EQ(pel->anode.N(), 4);
  auto find = [pel](const char* psz) {
    for (const ErrorListNode& node : pel->anode)
      if (strcmp(node.psz, psz) == 0) return &node;
    return static_cast<const ErrorListNode*>(nullptr);
  };
  ASSERT_TRUE(find("in the sub-patch"));
  EXPECT_STREQ(find("in the sub-patch")->pszLineFile, "/patch/sub/err.vantrel");
  EXPECT_EQ(find("in the sub-patch")->iLine, 4);
  EXPECT_EQ(find("in the sub-patch")->iCount, 2);
  EXPECT_STREQ(find("in the package")->pszLineFile, "/package/Faulty.1.0.0.vanpack");
  EXPECT_EQ(find("in the package")->iLine, 2);
  EXPECT_EQ(find("in the patch")->pszLineFile, nullptr);
  EXPECT_EQ(find("in the patch")->iLine, 7);
  EXPECT_EQ(find("nowhere")->pszLineFile, nullptr);
  EXPECT_EQ(find("nowhere")->iLine, -1);
  int iLine = 0;
  EXPECT_STREQ(pel->Locate(ErrorList::Position(iBasePkg, 1 << 30), &iLine), "/package/Faulty.1.0.0.vanpack");
  EXPECT_EQ(iLine, ErrorList::kLineSpan - 1) << "a line beyond the span stays in its file";
  pel->Clear();
}

// Messages may quote binary files; the list keeps them readable and a message's final line break.
TEST(ErrorListTest, BinaryBytesAreEscaped) {
  ErrorList* pel = ErrorList::Get();
  pel->Clear();
  pel->Add(AK_HERE, 1, "%s - no equals after variable", "\x7f" "ELF\x1b[2J");
  pel->Add(AK_HERE, 2, "ends in a line break\n");
  ASSERT_EQ(pel->anode.N(), 2);
  EXPECT_STREQ(pel->anode[0].psz, "\\x7fELF\\x1b[2J - no equals after variable");
  EXPECT_STREQ(pel->anode[1].psz, "ends in a line break\n");
  pel->Clear();
}

TEST(ErrorListTest, BuiltInSelfTestPasses) {
  EXPECT_EXIT(ErrorList::SelfTest(), testing::ExitedWithCode(0), "");
}

TEST(VanMath, SineLookupAtTheQuarters) {
  VanMathInitTables();
  EXPECT_EQ(VanSin(0), 0);
  EXPECT_EQ(VanSin(1u << 30), 1);
  EXPECT_NEAR(VanSin(1u << 31), 0, 1e-15);
  EXPECT_EQ(VanSin(3u << 30), -1);
  double dLast = VanSin(0xFFFFFFFFu);
  EXPECT_LT(dLast, 0);
  EXPECT_GT(dLast, -1e-6) << "the last step interpolates towards the guard entry";
  double dWorst = 0;
  for (uint32_t phase = 12345; phase < 0xFFF00000u; phase += 999983u)
    dWorst = std::max(dWorst, std::fabs(VanSin(phase) - std::sin(phase * (2 * M_PI / 4294967296.0))));
  EXPECT_LT(dWorst, 1e-7);
}

TEST(VanMath, CentsTableAndPowerOfTwo) {
  VanMathInitTables();
  EXPECT_EQ(VanCentsTable[4800], 1);
  EXPECT_DOUBLE_EQ(VanCentsTable[6000], 2);
  EXPECT_DOUBLE_EQ(VanCentsTable[3600], 0.5);
  EXPECT_DOUBLE_EQ(VanCentsTable[0], 1.0 / 16);
  for (double d = -20; d <= 20; d += 0.125) EXPECT_EQ(FormTwoPower(d), std::pow(2.0, d));
  EXPECT_NEAR(VanTWOPOWER(0.5), std::sqrt(2.0), 1e-15);
}

TEST(VanMath, InitialisingTwiceBenchmarksOnce) {
  static int nBenchmarks;
  nBenchmarks = 0;
  AKSSetCallback(AKSStatus, [](int, const char*, int, const char* psz, const char*, void*) {
    if (std::string(psz).find(" benchmarks ") == 0) ++nBenchmarks;
  }, nullptr);
  VanMathInit();
  double dSaved = VanSineTable[100];
  VanMathInit();
  AKSSetCallback(AKSStatus, nullptr, nullptr);
  EXPECT_EQ(nBenchmarks, 3);
  EXPECT_EQ(VanSineTable[100], dSaved);
}

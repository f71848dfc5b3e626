// Text routines, path expansion, number comparison and sorting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config_fixture.h"
#include "foundation/akstring.h"

TEST(Strings, ComparisonsTreatAbsentAsEmpty) {
  EXPECT_EQ(AKstrcmp(nullptr, ""), 0);
  EXPECT_LT(AKstrcmp("a", "b"), 0);
  EXPECT_EQ(AKstricmp("Hello", "hELLO"), 0);
  EXPECT_GT(AKstricmp("b", "A"), 0);
  EXPECT_EQ(AKstrnicmp("NoteOn", "noteoff", 5), 0);
  EXPECT_NE(AKstrnicmp("NoteOn", "noteoff", 6), 0);
}

TEST(Strings, CopyAlwaysTerminatesAndReportsCutting) {
  char sz[4];
  EXPECT_TRUE(AKstrcpy(sz, "abcd", sizeof sz));
  EXPECT_STREQ(sz, "abc");
  EXPECT_FALSE(AKstrcpy(sz, "abc", sizeof sz));
  EXPECT_STREQ(sz, "abc");
  MessageCatcher warnings;
  EXPECT_FALSE(AKstrcpy(nullptr, "abc", 4));
  EXPECT_EQ(warnings.asMessages, std::vector<std::string>{"pszDest is NULL"});
  char szSmall[6];
  AKsnprintf(szSmall, sizeof szSmall, "%d", 1234567);
  EXPECT_STREQ(szSmall, "12345");
}

TEST(StringsDeathTest, CopyIntoZeroBytesIsAFailedCheck) {
  char sz[1];
  EXPECT_EXIT(AKstrcpy(sz, "a", 0), testing::ExitedWithCode(1), "sDest != 0");
}

struct ExpandCase {
  const char* pszSource;
  const char* pszWant;
};

TEST(Strings, ExpandsHomeAndEnvironment) {
  setenv("HOME", "/h", 1);
  setenv("VANTREL_X", "val", 1);
  unsetenv("VANTREL_UNSET");
  const ExpandCase aCases[] = {
      {"~/x", "/h/x"},           {"a~/x", "a~/x"},           {"a ~/x", "a /h/x"},
      {"c:~/x", "c:/h/x"},       {"$VANTREL_X/y", "val/y"},  {"[$VANTREL_UNSET]", "[]"},
      {"$", ""},                 {"~", "~"},                 {"x$VANTREL_X$VANTREL_X", "xvalval"},
  };
  for (const ExpandCase& c : aCases) {
    char sz[200];
    EXPECT_FALSE(AKExpand(sz, c.pszSource, sizeof sz)) << c.pszSource;
    EXPECT_STREQ(sz, c.pszWant) << c.pszSource;
  }
  std::string sLong(150, 'f');
  char sz[200];
  EXPECT_FALSE(AKExpand(sz, sLong.c_str(), sizeof sz));
  EXPECT_EQ(std::string(sz), sLong);
  char szTiny[4];
  EXPECT_TRUE(AKExpand(szTiny, "$VANTREL_X$VANTREL_X", sizeof szTiny));
  EXPECT_STREQ(szTiny, "val");
}

TEST(Strings, ExpandReportsUnsupportedTildeNamesAndLongNames) {
  MessageCatcher status(AKSStatus);
  char sz[300];
  AKExpand(sz, "~bob/x", sizeof sz);
  EXPECT_STREQ(sz, "/x");
  ASSERT_EQ(status.asMessages.size(), 1u);
  EXPECT_EQ(status.asMessages[0], "Asked for ~bob on machine without <pwd.h>");

  MessageCatcher warnings;
  std::string sName = "$" + std::string(250, 'N') + "/tail";
  AKExpand(sz, sName.c_str(), sizeof sz);
  EXPECT_STREQ(sz, "/tail");
  ASSERT_EQ(warnings.asMessages.size(), 1u);
  EXPECT_EQ(warnings.asMessages[0], "name truncated to \"" + std::string(199, 'N') + "\" - max len of 200");
}

TEST(Strings, ExpandAllocAndSprintfExpandGrowToFit) {
  setenv("VANTREL_X", std::string(100, 'v').c_str(), 1);
  char* psz = AKExpandAlloc("a$VANTREL_X");
  EXPECT_EQ(std::string(psz), "a" + std::string(100, 'v'));
  free(psz);
  psz = AKsprintfExpand("%s-%d-$VANTREL_X", "format", 7);
  EXPECT_EQ(std::string(psz), "format-7-" + std::string(100, 'v'));
  free(psz);
}

// Text for a terminal: what a terminal would act on, or cannot show, is escaped; readable text,
// UTF-8 included, is kept; an escape is never cut in half.
TEST(Strings, EscapeBinaryKeepsTextAndEscapesTheRest) {
  struct Case {
    std::string sIn, sOut;
  } aCases[] = {
      {"plain text, tabs\tand all", "plain text, tabs\tand all"},
      {"\x1b[2J\x07", "\\x1b[2J\\x07"},
      {"line\nbreak\r", "line\\x0abreak\\x0d"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"\x7f" "ELF", "\\x7fELF"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9"},
      {"\xc2\x9b" "31m", "\\xc2\\x9b31m"},           // a C1 control in UTF-8
      {"\x9b\xff\xc3", "\\x9b\\xff\\xc3"},          // no UTF-8 at all, or cut short
      {"\xe0\x80\xaf \xed\xa0\x80", "\\xe0\\x80\\xaf \\xed\\xa0\\x80"},  // overlong, surrogate
  };
  for (const Case& c : aCases) {
    char sz[256];
    EXPECT_FALSE(AKEscapeBinary(sz, sizeof sz, c.sIn.data(), c.sIn.size()));
    EXPECT_EQ(std::string(sz), c.sOut) << c.sIn;
  }
  char szShort[8];
  EXPECT_TRUE(AKEscapeBinary(szShort, sizeof szShort, "ab\x01\x02", 4));
  EXPECT_STREQ(szShort, "ab\\x01") << "cut between escapes";
}

TEST(Strings, DoubleCompareUsesRelativeEpsilon) {
  EXPECT_EQ(AKDblCompare(1, 1 + 1e-12), 0);
  EXPECT_EQ(AKDblCompare(1, 1.001), -1);
  EXPECT_EQ(AKDblCompare(1.001, 1), 1);
  EXPECT_EQ(AKDblCompare(1e20, 1e20 * (1 + 1e-11)), 0);
  EXPECT_EQ(AKDblCompare(0, 0), 0);
}

TEST(Strings, SystemAnswersTheCommandStatus) {
  MessageCatcher warnings;
  EXPECT_EQ(AKsystem("true"), 0);
  EXPECT_TRUE(warnings.asMessages.empty());
  EXPECT_NE(AKsystem("exit 3"), 0);
  ASSERT_EQ(warnings.asMessages.size(), 1u);
  EXPECT_EQ(warnings.asMessages[0].rfind("AKsystem(): system( \"exit 3\" ) = ", 0), 0u);
}

namespace {
struct Item {
  int iKey;
  int iOrder;
};
int CompareItems(const void* pvA, const void* pvB, void*) {
  return static_cast<const Item*>(pvA)->iKey - static_cast<const Item*>(pvB)->iKey;
}
}  // namespace

TEST(Sort, StableSortKeepsEqualKeysInInputOrder) {
  std::vector<Item> aItems;
  for (int i = 0; i < 200; ++i) aItems.push_back({(i * 37) % 7, i});
  std::vector<void*> apv;
  for (Item& item : aItems) apv.push_back(&item);
  AKSortStable(apv.data(), static_cast<int>(apv.size()), CompareItems, nullptr);
  for (size_t i = 1; i < apv.size(); ++i) {
    auto* a = static_cast<Item*>(apv[i - 1]);
    auto* b = static_cast<Item*>(apv[i]);
    ASSERT_LE(a->iKey, b->iKey);
    if (a->iKey == b->iKey) {
      ASSERT_LT(a->iOrder, b->iOrder);
    }
  }
}

TEST(Sort, QuicksortsOrderRecordsAndPointers) {
  std::vector<Item> aItems;
  for (int i = 0; i < 500; ++i) aItems.push_back({(i * 7919) % 501, i});
  std::vector<Item> aCopies = aItems;
  std::vector<void*> apv;
  for (Item& item : aCopies) apv.push_back(&item);
  AKSortPtr(apv.data(), static_cast<int>(apv.size()), CompareItems, nullptr);
  AKSort(aItems.data(), static_cast<int>(aItems.size()), sizeof(Item), CompareItems, nullptr);
  for (size_t i = 1; i < aItems.size(); ++i) {
    ASSERT_LE(aItems[i - 1].iKey, aItems[i].iKey);
    ASSERT_LE(static_cast<Item*>(apv[i - 1])->iKey, static_cast<Item*>(apv[i])->iKey);
  }
}

// The text reader and writer: sections, variables, continuations, comments, warnings, line numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_fixture.h"

using Messages = std::vector<std::string>;

TEST(ConfigText, HeaderAThenAReturnsToTheSameSection) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("[A.B]\nx = 1\n[A]\ny = 2\n"));
  ASSERT_EQ(pconf->apconfSub.N(), 1);
  AKConfig_T* pconfA = pconf->apconfSub[0];
  EXPECT_STREQ(pconfA->pszName, "A");
  EXPECT_EQ(pconfA->iLine, 1) << "A keeps the line of its first header";
  EXPECT_STREQ(AKConfigGet(pconfA, "y"), "2");
  EXPECT_EQ(AKConfigGetLine(pconfA, "y"), 4);
  ASSERT_TRUE(AKConfigTestSub(pconfA, "B"));
  EXPECT_STREQ(AKConfigGet(AKConfigGetSub(pconfA, "B"), "x"), "1");
  EXPECT_TRUE(warnings.asMessages.empty());
}

TEST(ConfigText, DuplicateVariableWarnsAtTheSecondLineAndKeepsItsBlanks) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("[S]\nv = 1\nw = 0\nv = 2  \n"));
  AKConfig_T* pconfS = pconf->apconfSub[0];
  EXPECT_STREQ(AKConfigGet(pconfS, "v"), "2  ");
  EXPECT_EQ(AKConfigGetLine(pconfS, "v"), 4);
  EXPECT_EQ(warnings.asMessages, Messages{"line 4: S:v - variable duplicated; last version takes precedence"});
}

TEST(ConfigText, ContinuationsJoinWithoutSeparatorAndKeepTheNameLine) {
  ConfigPtr pconf(ReadFromString("a = 0\nX = 1 +\n  2\nY = 1 + \n\t2\n"));
  EXPECT_STREQ(AKConfigGet(pconf, "X"), "1 +2");
  EXPECT_STREQ(AKConfigGet(pconf, "Y"), "1 + 2");
  EXPECT_EQ(AKConfigGetLine(pconf, "X"), 2);
  EXPECT_EQ(AKConfigGetLine(pconf, "Y"), 4);
}

TEST(ConfigText, CommentsOnlyAtLineStart) {
  ConfigPtr pconf(ReadFromString("# top\n; also\na = 5 # note\n   # indented comment\n  ; another\nb = 6;x\n"));
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "5 # note");
  EXPECT_STREQ(AKConfigGet(pconf, "b"), "6;x");
  EXPECT_EQ(pconf->avar.N(), 2);
}

TEST(ConfigText, NameWithoutEqualsStopsReadingAndIsStoredEmpty) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("[S]\na = 1\nlonely\nb = 2\n"));
  AKConfig_T* pconfS = pconf->apconfSub[0];
  EXPECT_STREQ(AKConfigGet(pconfS, "a"), "1");
  EXPECT_STREQ(AKConfigGet(pconfS, "lonely"), "");
  EXPECT_EQ(AKConfigGetLine(pconfS, "lonely"), 3);
  EXPECT_FALSE(AKConfigTest(pconfS, "b"));
  EXPECT_EQ(warnings.asMessages, Messages{"line 3: S:lonely - no equals after variable"});
}

TEST(ConfigText, EmptyValueTakesTheNextNonBlankLine) {
  ConfigPtr pconf(ReadFromString("a =\n\nb = 2\n"));
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "b = 2");
  EXPECT_FALSE(AKConfigTest(pconf, "b"));
}

TEST(ConfigText, CrLfFilesAreNumberedLikeLfFiles) {
  const std::string sLf = "[S]\n\na = 1\n\n[T]\nb = 2\n  + 3\nc = 4\n";
  std::string sCrLf;
  for (char ch : sLf) sCrLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  ConfigPtr pconfLf(ReadFromString(sLf));
  ConfigPtr pconfCrLf(ReadFromString(sCrLf));
  EXPECT_EQ(WriteToString(pconfLf, AKConfigText), WriteToString(pconfCrLf, AKConfigText));
  for (AKConfig_T* pconf : {pconfLf.p, pconfCrLf.p}) {
    EXPECT_EQ(AKConfigGetLine(pconf->apconfSub[0], "a"), 3);
    EXPECT_EQ(pconf->apconfSub[1]->iLine, 5);
    EXPECT_EQ(AKConfigGetLine(pconf->apconfSub[1], "b"), 6);
    EXPECT_EQ(AKConfigGetLine(pconf->apconfSub[1], "c"), 8);
    EXPECT_STREQ(AKConfigGet(pconf->apconfSub[1], "b"), "2+ 3");
  }
}

TEST(ConfigText, VerticalTabsAreDroppedWithOneWarningEach) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("a = 1\v2\nb\v = 3\v\n"));
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "12");
  EXPECT_STREQ(AKConfigGet(pconf, "b"), "3");
  EXPECT_EQ(warnings.asMessages, (Messages{"line 1: skipping vertical tab", "line 2: skipping vertical tab",
                                          "line 2: skipping vertical tab"}));
}

TEST(ConfigText, FileEndingsAreHandledCleanly) {
  MessageCatcher warnings;
  ConfigPtr pconfNoEnd(ReadFromString("a = 1\nlast = 9"));
  EXPECT_STREQ(AKConfigGet(pconfNoEnd, "last"), "9");
  ConfigPtr pconfBlanks(ReadFromString("a = 1\n  +2\n   "));
  EXPECT_STREQ(AKConfigGet(pconfBlanks, "a"), "1+2");
  ConfigPtr pconfEqualsAtEnd(ReadFromString("a = \n  "));
  EXPECT_STREQ(AKConfigGet(pconfEqualsAtEnd, "a"), "");
  EXPECT_TRUE(warnings.asMessages.empty());
}

TEST(ConfigText, MalformedLinesStopReadingWithTheirMessages) {
  struct Case {
    const char* pszText;
    const char* pszMessage;
  } aCases[] = {
      {"a = 1\n[open\n", "line 2: open - didn't end correctly"},
      {"a = 1\n[open", "line 2: open - didn't end correctly"},
      {"a = 1\n[op en]\n", "line 2: op - didn't end correctly"},
      {"a = 1\n[]\n", "line 2: no section name"},
      {"\n  continued\n", "line 2: found continued value but no variable"},
  };
  for (const Case& c : aCases) {
    MessageCatcher warnings;
    ConfigPtr pconf(ReadFromString(c.pszText));
    EXPECT_EQ(warnings.asMessages, Messages{c.pszMessage}) << c.pszText;
  }
}

// The caller learns whether the whole file was read: a patch whose later lines were never read
// must not pass for the whole patch. Warnings after which reading goes on do not count.
TEST(ConfigText, TheReaderTellsTheLineAtWhichItStopped) {
  struct Case {
    const char* pszText;
    int iLineStopped;
  } aCases[] = {
      {"a = 1\n[op en]\nb = 2\n", 2},
      {"a = 1\n[open\nb = 2\n", 2},
      {"a = 1\n[]\n", 2},
      {" [A]\nb = 2\n", 1},
      {"a = 1\nname alone\nb = 2\n", 2},
      {"\x7f" "ELF\x01\x02\n", 1},
      {"a = 1\na = 2\n", 0},
      {"a = 1\v\nb = 2\n", 0},
      {"a = 1\n  +2\n# end\n", 0},
      {"a = ", 0},
      {"", 0},
  };
  for (const Case& c : aCases) {
    MessageCatcher warnings;
    std::string sText = c.pszText;
    FILE* pfile = sText.empty() ? fopen("/dev/null", "rb") : fmemopen(sText.data(), sText.size(), "rb");
    int iLineStopped = -1;
    ConfigPtr pconf(AKConfigReadStream("test", pfile, AKConfigText, &iLineStopped));
    fclose(pfile);
    EXPECT_EQ(iLineStopped, c.iLineStopped) << c.pszText;
  }
}

TEST(ConfigText, TextAfterAHeaderIsReadAsANewLine) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("[S]  ; comment\na = 1\n[T] stray\n"));
  EXPECT_STREQ(AKConfigGet(pconf->apconfSub[0], "a"), "1");
  EXPECT_EQ(warnings.asMessages, Messages{"line 3: found continued value but no variable"});
}

TEST(ConfigText, DeepSectionPathsAreRefusedBeyondTheLimit) {
  MessageCatcher warnings;
  std::string sPath = "a";
  for (int i = 0; i < 100000; ++i) sPath += ".a";
  ConfigPtr pconf(ReadFromString("[" + sPath + "]\nx = 1\n"));
  ASSERT_EQ(warnings.asMessages.size(), 1u);
  EXPECT_NE(warnings.asMessages[0].find("sections nested deeper than 256 levels"), std::string::npos);
  int nDepth = 0;
  for (AKConfig_T* p = pconf; p->apconfSub.N() > 0; p = p->apconfSub[0]) ++nDepth;
  EXPECT_EQ(nDepth, 256);
}

TEST(ConfigText, WriterAlignsNamesAndWritesDottedHeaders) {
  ConfigPtr pconf(ReadFromString("top = 1\n[A]\nx = 1\nlonger = 2\n[A.B]\ny = 3\n[C]\n"));
  EXPECT_EQ(WriteToString(pconf, AKConfigText),
            "top = 1\n\n"
            "[A]\n\nx      = 1\nlonger = 2\n\n"
            "[A.B]\n\ny = 3\n"
            "[C]\n\n");
}

TEST(ConfigText, ReadFromFileNamesTheRootByThePathAsGiven) {
  setenv("VANTREL_TMP", testing::TempDir().c_str(), 1);
  ConfigPtr pconfOut(ReadFromString("a = 1\n"));
  ASSERT_EQ(AKConfigWrite(pconfOut, "$VANTREL_TMP/conf_roundtrip.vantrel"), 0);
  ConfigPtr pconf(AKConfigRead("$VANTREL_TMP/conf_roundtrip.vantrel", AKConfigText));
  ASSERT_NE(pconf.p, nullptr);
  EXPECT_STREQ(pconf->pszName, "$VANTREL_TMP/conf_roundtrip.vantrel");
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "1");
  EXPECT_EQ(AKConfigRead("/nonexistent/dir/file.vantrel", AKConfigText), nullptr);
  EXPECT_EQ(AKConfigWrite(pconfOut, "/nonexistent/dir/file.vantrel"), 1);
}

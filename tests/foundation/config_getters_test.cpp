// Typed getters, setters, merging, paths, tracing and time values.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "config_fixture.h"

TEST(ConfigGetters, ConvertValuesAsDocumented) {
  ConfigPtr pconf(ReadFromString(
      "i = -42xyz\nj = abc\nd = 2.5e3volts\ne = .5\nh = 0x10\n"
      "b1 = Yes\nb2 = TRUE\nb3 = 1\nb4 = 2\nb5 = no\nb6 = 0\nb7 = off\n"));
  AKConfigSet(pconf, "empty", "");
  EXPECT_EQ(AKConfigGetInt(pconf, "i"), -42);
  EXPECT_EQ(AKConfigGetInt(pconf, "j"), 0);
  EXPECT_EQ(AKConfigGetInt(pconf, "missing"), 0);
  EXPECT_EQ(AKConfigGetIntDef(pconf, "missing", 7), 7);
  EXPECT_EQ(AKConfigGetIntDef(pconf, "j", 7), 0);
  EXPECT_DOUBLE_EQ(AKConfigGetDouble(pconf, "d"), 2500.0);
  EXPECT_DOUBLE_EQ(AKConfigGetDouble(pconf, "e"), 0.5);
  EXPECT_DOUBLE_EQ(AKConfigGetDouble(pconf, "h"), 0.0) << "hexadecimal is not decimal";
  EXPECT_DOUBLE_EQ(AKConfigGetDoubleDef(pconf, "missing", 1.5), 1.5);
  for (const char* psz : {"b1", "b2", "b3", "b4"}) EXPECT_TRUE(AKConfigGetBool(pconf, psz)) << psz;
  for (const char* psz : {"b5", "b6", "b7", "empty", "missing"}) EXPECT_FALSE(AKConfigGetBool(pconf, psz)) << psz;
  EXPECT_TRUE(AKConfigGetBoolDef(pconf, "missing", true));
  EXPECT_STREQ(AKConfigGetDef(pconf, "empty", "default"), "");
  EXPECT_STREQ(AKConfigGetDef(pconf, "missing", "default"), "default");
  EXPECT_EQ(AKConfigGet(pconf, "missing"), nullptr);
  EXPECT_EQ(AKConfigGetLine(pconf, "b1"), 6);
  EXPECT_EQ(AKConfigGetLine(pconf, "missing"), -1);
}

TEST(ConfigGetters, SettersFormatAndTrimOnlyNewValues) {
  ConfigPtr pconf(AKConfigNew("Config", nullptr));
  AKConfigSetInt(pconf, "i", -3);
  AKConfigSetDouble(pconf, "d", 0.25);
  AKConfigSetBool(pconf, "b", true);
  AKConfigSet(pconf, "s", "x  \t");
  EXPECT_STREQ(AKConfigGet(pconf, "s"), "x");
  AKConfigSet(pconf, "s", "y  ");
  EXPECT_STREQ(AKConfigGet(pconf, "s"), "y  ");
  AKConfigSet(pconf, "blank", " ");
  EXPECT_STREQ(AKConfigGet(pconf, "blank"), " ") << "the first character is never removed";
  EXPECT_STREQ(AKConfigGet(pconf, "i"), "-3");
  EXPECT_STREQ(AKConfigGet(pconf, "d"), "0.250000");
  EXPECT_STREQ(AKConfigGet(pconf, "b"), "true");
  struct tm tmWant = {};
  tmWant.tm_year = 120;
  tmWant.tm_mday = 1;
  tmWant.tm_hour = 7;
  tmWant.tm_min = 5;
  tmWant.tm_sec = 9;
  tmWant.tm_isdst = -1;
  AKConfigSetTime(pconf, "t", mktime(&tmWant));
  EXPECT_STREQ(AKConfigGet(pconf, "t"), "07:05:09");
  AKConfigSetLine(pconf, "i", "9", 12);
  EXPECT_EQ(AKConfigGetLine(pconf, "i"), 12);
}

TEST(ConfigGetters, SubsectionsAreCreatedByGetButNotByTest) {
  ConfigPtr pconf(AKConfigNew("Config", nullptr));
  EXPECT_FALSE(AKConfigTestSub(pconf, "x"));
  EXPECT_FALSE(AKConfigTestSubInt(pconf, 3));
  EXPECT_EQ(pconf->apconfSub.N(), 0);
  AKConfig_T* pconf3 = AKConfigGetSubInt(pconf, 3);
  EXPECT_STREQ(pconf3->pszName, "3");
  EXPECT_TRUE(AKConfigTestSubInt(pconf, 3));
  EXPECT_EQ(AKConfigGetSub(pconf, "3"), pconf3);
  AKConfigSet(pconf, "3", "variable and section may share a name");
  EXPECT_TRUE(AKConfigTest(pconf, "3"));
  char sz[64];
  EXPECT_EQ(AKConfigPath(AKConfigGetSub(pconf3, "deep"), sz, sizeof sz), 13);
  EXPECT_STREQ(sz, "Config.3.deep");
  char szSmall[5];
  AKConfigPath(AKConfigGetSub(pconf3, "deep"), szSmall, sizeof szSmall);
  EXPECT_STREQ(szSmall, "Conf");
}

TEST(ConfigGetters, MergeReplacesVariablesAndMergesSections) {
  ConfigPtr pconfDest(ReadFromString("a = 1\n[S]\nx = 1\n"));
  ConfigPtr pconfSource(ReadFromString("\na = 2\nb = 3\n[S]\ny = 2\n[T]\nz = 4\n"));
  AKConfigMerge(pconfDest, pconfSource);
  EXPECT_STREQ(AKConfigGet(pconfDest, "a"), "2");
  EXPECT_EQ(AKConfigGetLine(pconfDest, "a"), 2);
  EXPECT_STREQ(AKConfigGet(AKConfigGetSub(pconfDest, "S"), "x"), "1");
  EXPECT_STREQ(AKConfigGet(AKConfigGetSub(pconfDest, "S"), "y"), "2");
  EXPECT_EQ(AKConfigGetSub(pconfDest, "S")->iLine, 2);
  EXPECT_EQ(AKConfigGetSub(pconfDest, "T")->iLine, 6);
}

TEST(ConfigGetters, TracingLogsEachGetterWithThePath) {
  ConfigPtr pconf(ReadFromString("[S]\nv = 1\n"));
  AKConfigTraceOn();
  MessageCatcher status(AKSStatus);
  AKConfig_T* pconfS = AKConfigGetSub(pconf, "S");
  AKConfigGetIntDef(pconfS, "v", 5);
  AKConfigGetBoolDef(pconfS, "v", false);
  AKConfigGetDoubleDef(pconfS, "v", 0.5);
  AKConfigGetTimeDef(pconfS, "t", true, "12:00");
  AKConfigTestSubInt(pconfS, 2);
  EXPECT_EQ(status.asMessages,
            (std::vector<std::string>{"AKConfigGetSub( \"test\", \"S\" )", "AKConfigGetIntDef( \"test.S\", \"v\", 5 )",
                                      "AKConfigGetBoolDef( \"test.S\", \"v\", false )",
                                      "AKConfigGetDoubleDef( \"test.S\", \"v\", 0.500000 )",
                                      "AKConfigGetTimeDef( \"test.S\", \"t\", tomorrow OK, \"12:00\" )",
                                      "AKConfigTestSubInt( \"test.S\", 2 )"}));
}

TEST(ConfigTime, ScansHoursMinutesAndOptionalSeconds) {
  MessageCatcher warnings;
  ConfigPtr pconf(ReadFromString("t1 = 25:00\nt2 = 12\nt3 = 1:2:3x\nt4 = 12:00q\nt5 = 0:00\n"));
  time_t tNow = time(nullptr);
  int64_t t = AKConfigGetTime(pconf, "t1", true);
  ASSERT_GT(t, 0);
  time_t tt = static_cast<time_t>(t);
  struct tm tmGot;
  localtime_r(&tt, &tmGot);
  EXPECT_EQ(tmGot.tm_hour, 1) << "25:00 is 01:00 of a later day";
  EXPECT_GT(t, tNow);
  EXPECT_EQ(AKConfigGetTime(pconf, "t2", true), -1);
  EXPECT_EQ(AKConfigGetTime(pconf, "t3", true), -1);
  int64_t tNoon = AKConfigGetTime(pconf, "t4", true);
  tt = static_cast<time_t>(tNoon);
  localtime_r(&tt, &tmGot);
  EXPECT_EQ(tmGot.tm_hour, 12);
  EXPECT_EQ(tmGot.tm_min, 0);
  EXPECT_EQ(AKConfigGetTime(pconf, "missing", true), -1);
  int64_t tMidnight = AKConfigGetTime(pconf, "t5", true);
  EXPECT_GT(tMidnight, tNow) << "a time already past today moves to tomorrow";
  EXPECT_EQ(AKConfigGetTime(pconf, "t5", false), -1);
  EXPECT_EQ(warnings.asMessages, (std::vector<std::string>{"time not valid: \"12\"", "time not valid: \"1:2:3x\"",
                                                            "time in past: \"0:00\""}));
}

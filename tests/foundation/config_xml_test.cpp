// The XML form: entities, sections, empty elements, round trips and fatal faults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_fixture.h"

TEST(ConfigXml, ReadsVariablesSectionsAndEntities) {
  ConfigPtr pconf(ReadFromString("<a>x&lt;y</a>\n<empty></empty>\n<s>\n  <v>1</v>\n</s>\n<t>  padded</t>", AKConfigXml));
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "x<y");
  EXPECT_FALSE(AKConfigTest(pconf, "empty"));
  EXPECT_FALSE(AKConfigTestSub(pconf, "empty"));
  ASSERT_TRUE(AKConfigTestSub(pconf, "s"));
  EXPECT_STREQ(AKConfigGet(AKConfigGetSub(pconf, "s"), "v"), "1");
  EXPECT_EQ(AKConfigGetSub(pconf, "s")->iLine, -1);
  EXPECT_EQ(AKConfigGetLine(pconf, "a"), -1);
  EXPECT_STREQ(AKConfigGet(pconf, "t"), "  padded");
}

TEST(ConfigXml, UnknownAndOverlongEntitiesGiveQuestionMarks) {
  MessageCatcher traces(AKSTrace);
  ConfigPtr pconf(ReadFromString("<a>&bogus;x</a><b>&abcdefghij;</b><c>&amp;lt;</c>", AKConfigXml));
  EXPECT_STREQ(AKConfigGet(pconf, "a"), "?x");
  EXPECT_STREQ(AKConfigGet(pconf, "b"), "?j;") << "nine characters without a semicolon end the entity";
  EXPECT_STREQ(AKConfigGet(pconf, "c"), "&lt;") << "an entity's character is never markup";
  EXPECT_EQ(traces.asMessages,
            (std::vector<std::string>{"unknown XML escape code \"&bogus;\" ; returning '?'",
                                      "XML escape code \"&abcdefghi\" too long or unterminated; returning '?'"}));
}

TEST(ConfigXml, RoundTripKeepsQuotesAmpersandsAndAngleBrackets) {
  ConfigPtr pconf(AKConfigNew("root", nullptr));
  const char* pszTricky = "it's \"a\" <b> & c\xe9";
  AKConfigSet(pconf, "v", pszTricky);
  AKConfigSet(AKConfigGetSub(AKConfigGetSub(pconf, "outer"), "inner"), "w", "x&y");
  std::string sXml = WriteToString(pconf, AKConfigXml);
  EXPECT_EQ(sXml,
            "<v>it&apos;s &quot;a&quot; &lt;b&gt; &amp; c\xe9</v>\n"
            "<outer>\n    <inner>\n        <w>x&amp;y</w>\n    </inner>\n</outer>\n");
  ConfigPtr pconfBack(ReadFromString(sXml, AKConfigXml));
  EXPECT_STREQ(AKConfigGet(pconfBack, "v"), pszTricky);
  EXPECT_STREQ(AKConfigGet(AKConfigGetSub(AKConfigGetSub(pconfBack, "outer"), "inner"), "w"), "x&y");
  EXPECT_EQ(WriteToString(pconfBack, AKConfigXml), sXml);
}

TEST(ConfigXml, SelectorZeroDecidesByTheName) {
  ConfigPtr pconfXml(ReadFromString("<a>1</a>", AKConfigByName, "file.xml"));
  EXPECT_STREQ(AKConfigGet(pconfXml, "a"), "1");
  ConfigPtr pconfText(ReadFromString("a = 2\n", AKConfigByName, "file.XML"));
  EXPECT_STREQ(AKConfigGet(pconfText, "a"), "2");
  ConfigPtr pconfShort(ReadFromString("a = 3\n", AKConfigByName, "xml"));
  EXPECT_STREQ(AKConfigGet(pconfShort, "a"), "3");
}

struct XmlFault {
  const char* pszXml;
  const char* pszMessage;
};

class ConfigXmlFault : public testing::TestWithParam<XmlFault> {};

TEST_P(ConfigXmlFault, IsFatalWithItsMessage) {
  EXPECT_EXIT(ReadFromString(GetParam().pszXml, AKConfigXml), testing::ExitedWithCode(1), GetParam().pszMessage);
}

TEST_P(ConfigXmlFault, StopsReadingWhenFatalHasNoAction) {
  // With neither action nor callback for Fatal the process goes on; the reader must then stop
  // and hand back what it read, not loop or crash.
  unsigned bitsSaved = AKSGetActions(AKSFatal);
  AKSSetActions(AKSFatal, 0);
  ConfigPtr pconf(ReadFromString(std::string("<first>1</first>") + GetParam().pszXml, AKConfigXml));
  AKSSetActions(AKSFatal, bitsSaved);
  EXPECT_STREQ(AKConfigGet(pconf, "first"), "1");
}

std::string FaultName(const testing::TestParamInfo<XmlFault>& info) { return "Case" + std::to_string(info.index); }

INSTANTIATE_TEST_SUITE_P(
    Faults, ConfigXmlFault,
    testing::Values(XmlFault{"text", "expected left-carat for opening tag"},
                    XmlFault{"<s><v>1</v>", "expected closing tag"},
                    XmlFault{"<s><v>1</v>x", "expected left-carat for opening or closing tag"},
                    XmlFault{"</a>", "expected opening tag"},
                    XmlFault{"<>", "expected opening tag"},
                    XmlFault{"<s><>", "expected opening or closing tag"},
                    XmlFault{"<s><v>1</v></t>", "expected closing tag \"s\", found \"t\""},
                    XmlFault{"<a x>1</a>", "expected right-carat for opening tag"},
                    XmlFault{"<a>1</b>", "opening tag \"a\" doesn't match closing tag \"b\""},
                    XmlFault{"<a>1</a", "expected right-carat for closing tag"},
                    XmlFault{"<s><v>1</v></s", "expected right-carat for closing tag"},
                    XmlFault{"<a>1", "expected forward slash"}),
    FaultName);

TEST(ConfigXml, DeepNestingIsRefusedNotRecursedInto) {
  std::string sXml;
  for (int i = 0; i < 100000; ++i) sXml += "<s>";
  EXPECT_EXIT(ReadFromString(sXml, AKConfigXml), testing::ExitedWithCode(1), "sections nested deeper than 256 levels");
}

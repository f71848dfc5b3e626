// The parser on its own: syntax, precedence, units, ranges, strings and every error with its place.
#include <gtest/gtest.h>

#include <string>

#include "formula/formenum.h"
#include "table_fixture.h"

namespace {

struct ParseCase {
  const char* pszText;
  const char* pszPrinted;            // the tree printed back, for a formula that parses
  int etError = 0;                    // the error kind, for one that does not
  const char* pszStretch = nullptr;   // and the offending stretch
  const char* pszBefore = nullptr;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << "\"" << c.pszText << "\""; }

class Parse : public testing::TestWithParam<ParseCase> {};

}  // namespace

TEST_P(Parse, PrintsTheTreeOrNamesTheFaultAndItsPlace) {
  const ParseCase& c = GetParam();
  ParsedFormula f(c.pszText);
  if (c.pszPrinted) {
    ASSERT_FALSE(FormIsError(f.pform)) << FormTypeName(f.pform) << " at >>>" << f.split.sStretch << "<<<";
    EXPECT_EQ(f.Text(), c.pszPrinted);
    EXPECT_EQ(f.split.sBefore, c.pszText) << "without an error the whole text is before the stretch";
    return;
  }
  ASSERT_EQ(f.pform->et, c.etError) << f.Text();
  EXPECT_EQ(f.split.sStretch, c.pszStretch);
  if (c.pszBefore) {
    EXPECT_EQ(f.split.sBefore, c.pszBefore);
  }
  EXPECT_EQ(f.split.sBefore + f.split.sStretch + f.split.sAfter, c.pszText);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, Parse,
    testing::Values(
        ParseCase{"1 + 2 * 3", "1+2*3"},
        ParseCase{"(1 + 2) * 3", "(1+2)*3"},
        ParseCase{"2 ^ 3 ^ 2", "2^3^2"},
        ParseCase{"1 - 2 - 3", "1-2-3"},
        ParseCase{"1 < 2 = 0", "1<2=0"},
        ParseCase{"-2 + 3", "-2+3"},
        ParseCase{"- 2 + 3", "-2+3"},
        ParseCase{"2 * - 3 + 4", "2*-3+4"},
        ParseCase{"1 +", "1"},
        ParseCase{"MAX(1 +, 2)", "MAX(1,2)"},
        ParseCase{"max ( 1 , 2 )", "MAX(1,2)"},
        ParseCase{"NOW()", "NOW()"},
        ParseCase{"1.5e3 + .25", "1500+0.25"},
        ParseCase{"3.14159265", "3.14159"},
        ParseCase{"true + FALSE", "1+0"},
        ParseCase{"\"a\"\"b\"", "\"a\"\"b\""},
        ParseCase{"440 HZ", "HZ(440)"},
        ParseCase{"5 ms", "MS(5)"},
        ParseCase{"3 DB", "DB(3)"},
        ParseCase{"440 + 7 SEMIS", "440*SEMIS(7)"},
        ParseCase{"440 - 12 SEMIS", "440/SEMIS(12)"},
        ParseCase{"0.5[100, 200]", "LINSCALE(0.5,100,200)"},
        ParseCase{"0.5{100,400}", "EXPSCALE(0.5,100,400)"},
        ParseCase{"IF(1 <= 2, 3, 4)", "IF(1<=2,3,4)"},
        ParseCase{"1 <> 2", "1<>2"},
        ParseCase{"", nullptr, FormTypeErrNoFormula, ""},
        ParseCase{"   ", nullptr, FormTypeErrNoFormula, ""},
        ParseCase{"1 2", nullptr, FormTypeErrUnknownInfix, "", "1 "},
        ParseCase{"1)", nullptr, FormTypeErrStrayRightParen, "", "1"},
        ParseCase{"1,", nullptr, FormTypeErrStraySeparator, "", "1"},
        ParseCase{"1 and 2", nullptr, FormTypeErrUnknownInfix, "and", "1 "},
        ParseCase{"1 ** 2", nullptr, FormTypeErrUnknownInfix, "**", "1 "},
        ParseCase{"f(1)", nullptr, FormTypeErrUnknownFunction, "f"},
        ParseCase{"f (1)", nullptr, FormTypeErrUnknownFunction, "f"},
        ParseCase{"f(", nullptr, FormTypeErrUnknownFunction, "f"},
        ParseCase{"f", nullptr, FormTypeErrUnknownName, "f"},
        ParseCase{"Cs4", nullptr, FormTypeErrUnknownName, "Cs4"},
        ParseCase{"C#4", nullptr, FormTypeErrUnknownName, "C#4"},
        ParseCase{"NoteDownDb-1", nullptr, FormTypeErrUnknownName, "NoteDownDb-1"},
        ParseCase{"1 * 3 SEMIS", nullptr, FormTypeErrExponentialUnit, "3 SEMIS", "1 * "},
        ParseCase{"MAX", nullptr, FormTypeErrFunctionNeedsParen, "MAX"},
        ParseCase{"MAX(1; 2)", nullptr, FormTypeErrUnknownInfix, ";", "MAX(1"},
        ParseCase{"MAX(1]", nullptr, FormTypeErrBadArgumentEnd, "", "MAX(1"},
        ParseCase{"MAX(1", nullptr, FormTypeErrBadArgumentEnd, "", "MAX(1"},
        ParseCase{"NOT(1, 2)", nullptr, FormTypeErrArgumentCount, "NOT(1, 2)"},
        ParseCase{"IF(1, 2)", nullptr, FormTypeErrArgumentCount, "IF(1, 2)"},
        ParseCase{"1 + NOW(1) + 2", nullptr, FormTypeErrArgumentCount, "NOW(1)", "1 + "},
        ParseCase{"(1", nullptr, FormTypeErrUnmatchedLeftParen, "(1"},
        ParseCase{"()", nullptr, FormTypeErrNoFormula, "", "("},
        ParseCase{"\"abc", nullptr, FormTypeErrUnterminatedString, "\"abc"},
        ParseCase{"1 + * 2", nullptr, FormTypeErrBadTerm, "*", "1 + "},
        ParseCase{"#", nullptr, FormTypeErrBadTerm, "#"},
        ParseCase{"0.5[1]", nullptr, FormTypeErrArgumentCount, "0.5[1]"},
        ParseCase{"0.5[1,2,3]", nullptr, FormTypeErrArgumentCount, "0.5[1,2,"},
        ParseCase{"0.5[1,2)", nullptr, FormTypeErrBadArgumentEnd, ")"},
        ParseCase{"0.5[1,2", nullptr, FormTypeErrUnmatchedLeftParen, "0.5[1,2"},
        ParseCase{"SumVoices(1)", nullptr, FormTypeErrPatchOnlyFunction, "SumVoices"},
        ParseCase{"SUPER(1)", nullptr, FormTypeErrSuperAtTop, "SUPER"},
        // A string is a value to compare or choose, never a number to compute with.
        ParseCase{"\"a\" = \"b\"", "\"a\"=\"b\""},
        ParseCase{"IF(1, \"a\", \"b\")", "IF(1,\"a\",\"b\")"},
        ParseCase{"Select(0.5, \"a\", \"b\")", "Select(0.5,\"a\",\"b\")"},
        ParseCase{"LEN(\"abc\") + 1", "LEN(\"abc\")+1"},
        ParseCase{"\"440\" + 1", nullptr, FormTypeErrArgumentType, "\"440\"", ""},
        ParseCase{"1 + 2 * \"x\" - 3", nullptr, FormTypeErrArgumentType, "\"x\"", "1 + 2 * "},
        ParseCase{"-\"x\"", nullptr, FormTypeErrArgumentType, "\"x\"", "-"},
        ParseCase{"\"5\" HZ", nullptr, FormTypeErrArgumentType, "\"5\"", ""},
        ParseCase{"MAX(1, \"2\" )", nullptr, FormTypeErrArgumentType, "\"2\"", "MAX(1, "},
        ParseCase{"IF(1, \"a\", \"b\") * 2", nullptr, FormTypeErrArgumentType, "IF(1, \"a\", \"b\")", ""}));

TEST(ParseLimits, FiftyNineOperandsParseSixtyDoNot) {
  std::string s = "1";
  for (int i = 1; i < 59; ++i) s += " + 1";
  EXPECT_FALSE(FormIsError(ParsedFormula(s.c_str()).pform));
  s += " + 1";
  ParsedFormula f(s.c_str());
  EXPECT_EQ(f.pform->et, FormTypeErrFormulaTooLong);
  EXPECT_EQ(f.split.sStretch, "1");
}

TEST(ParseLimits, WordsAndStringsAndArgumentLists) {
  std::string sWord(512, 'w');
  EXPECT_EQ(ParsedFormula(sWord.c_str()).pform->et, FormTypeErrWordTooLong);
  std::string sString = "\"" + std::string(2000, 's') + "\"";
  ParsedFormula f(sString.c_str());
  ASSERT_EQ(f.pform->et, FormTypeString);
  EXPECT_EQ(std::string(FormStringText(f.pform->u.value)), std::string(1023, 's'));
  std::string sArgs = "MAX(1";
  for (int i = 1; i < 179; ++i) sArgs += ",1";
  EXPECT_FALSE(FormIsError(ParsedFormula((sArgs + ")").c_str()).pform));
  EXPECT_EQ(ParsedFormula((sArgs + ",1)").c_str()).pform->et, FormTypeErrArgumentCount);
}

TEST(ParseLimits, NestingIsParsedUpToTheLimit) {
  std::string s = std::string(199, '(') + "1" + std::string(199, ')');
  ParsedFormula f(s.c_str());
  ASSERT_FALSE(FormIsError(f.pform));
  EXPECT_EQ(f.Value(), 1);
  std::string sDeep = std::string(100000, '(') + "1";
  EXPECT_EQ(ParsedFormula(sDeep.c_str()).pform->et, FormTypeErrFormulaTooLong);
  std::string sMinus;
  for (int i = 0; i < 100000; ++i) sMinus += "- ";
  EXPECT_EQ(ParsedFormula((sMinus + "1").c_str()).pform->et, FormTypeErrFormulaTooLong);
}

TEST(ParseKeywords, RegisteredNamesAreKeywordConstantsIgnoringCase) {
  int i = FormEnumIntern("TestKeywordSawtooth");
  ParsedFormula f("testkeywordSAWTOOTH");
  ASSERT_EQ(f.pform->et, FormTypeKeyword);
  EXPECT_EQ(f.pform->u.value, i);
  EXPECT_EQ(f.Text(), "TestKeywordSawtooth");
}

TEST(FormNodes, KindNamesAndDeepCopies) {
  EXPECT_STREQ(FormTypeName(FormTypeErrNotUnique), "only unique field names may be used without a module name");
  EXPECT_STREQ(FormTypeName(FormTypeTime), "Time");
  for (int et : {0, 66, 93, 100}) EXPECT_STREQ(FormTypeName(et), "UNKNOWN") << et;
  ParsedFormula f("MAX(1, 2 + 3, 4)");
  Form* pformCopy = FormCopy(f.pform);
  EXPECT_EQ(pformCopy->u.fn.nArg, 3);
  EXPECT_EQ(pformCopy->u.fn.nRoom, 4) << "a copy has room for one more argument";
  EXPECT_NE(pformCopy->u.fn.apformArg[1], f.pform->u.fn.apformArg[1]);
  FormFree(pformCopy);
  EXPECT_EQ(f.Text(), "MAX(1,2+3,4)") << "freeing the copy leaves the original intact";
}

TEST(FormNodes, ResultKinds) {
  EXPECT_EQ(FormResultType(ParsedFormula("true").pform, nullptr), FormTypeNumeric);
  EXPECT_EQ(FormResultType(ParsedFormula("\"s\"").pform, nullptr), FormTypeString);
  EXPECT_EQ(FormResultType(ParsedFormula("IF(1, \"a\", \"b\")").pform, nullptr), FormTypeString);
  EXPECT_EQ(FormResultType(ParsedFormula("IF(1, \"a\", 2)").pform, nullptr), FormTypeNumeric);
  EXPECT_EQ(FormResultType(ParsedFormula("Select(0.5, \"a\", \"b\")").pform, nullptr), FormTypeString);
  EXPECT_EQ(FormResultType(ParsedFormula("1 + 2").pform, nullptr), FormTypeNumeric);
}

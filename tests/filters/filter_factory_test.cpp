// The filter factory: registered types, the keyword index, type changes and untyped filters.
#include <string>
#include <vector>

#include "filter_support.h"
#include "formula/errorlist.h"
#include "foundation/config_fixture.h"

namespace {

TEST(FilterFactory, RegistersEveryTypeInOrder) {
  FilterFactory* pfactory = FilterFactory::Get();
  const std::vector<TypeInfo>& aInfo = TypeTable();
  ASSERT_EQ(pfactory->NTypes(), int(aInfo.size()));
  for (int i = 0; i < pfactory->NTypes(); ++i) {
    const FilterType* ptype = pfactory->TypeAt(i);
    EXPECT_STREQ(ptype->pszName, aInfo[i].pszName);
    EXPECT_STREQ(ptype->pszDescription, aInfo[i].pszDescription);
    EXPECT_EQ(ptype->bHasGain, aInfo[i].bHasGain) << aInfo[i].pszName;
  }
}

TEST(FilterFactory, IndexGivesEachKeywordItsType) {
  for (const TypeInfo& info : TypeTable()) {
    int iType = TypeNumber(info.pszName);
    ASSERT_GE(iType, 0) << info.pszName << " is no keyword";
    Filter f;
    EXPECT_EQ(FilterFactory::Get()->ChangeType(iType, f), 0);
    ASSERT_NE(f.Type(), nullptr);
    EXPECT_STREQ(f.Type()->pszName, info.pszName);
    EXPECT_EQ(f.HasGain(), info.bHasGain) << info.pszName;
  }
}

TEST(FilterFactory, BuildIndexTwiceChangesNothing) {
  FilterFactory* pfactory = FilterFactory::Get();
  pfactory->BuildIndex();
  int nKeywords = FormEnumCount();
  std::vector<const FilterType*> aptype;
  for (int i = 0; i < nKeywords; ++i) aptype.push_back(pfactory->Find(i));
  pfactory->BuildIndex();
  EXPECT_EQ(FormEnumCount(), nKeywords);
  for (int i = 0; i < nKeywords; ++i) EXPECT_EQ(pfactory->Find(i), aptype[i]) << "keyword " << i;
}

// A number that is negative, beyond the keywords or a keyword of something else: reported with the
// keyword's name, and the filter goes on as it was, coefficients and history included.
TEST(FilterFactory, UnknownTypeIsReportedAndTheFilterKept) {
  FilterFactory::Get()->BuildIndex();
  int iOther = FormEnumIntern("NoFilterTypeThis");
  int iBeyond = FormEnumCount() + 7;
  struct Case {
    int iType;
    std::string sName;
  };
  for (const Case& c : {Case{-1, "-1"}, Case{iOther, "NoFilterTypeThis"}, Case{iBeyond, std::to_string(iBeyond)}}) {
    Filter f = MakeCooked("LPF2", 1000, 1, 1);
    f.Calc(1);
    Filter before = f;
    ErrorList::Get()->Clear();
    EXPECT_EQ(FilterFactory::Get()->ChangeType(c.iType, f), -1);
    ErrorList* pel = ErrorList::Get();
    ASSERT_EQ(pel->anode.N(), 1);
    EXPECT_EQ(std::string(pel->anode[0].psz),
              "Unknown filter type " + std::to_string(c.iType) + " (" + c.sName + ") requested; cannot change type");
    EXPECT_EQ(f.Type(), before.Type());
    EXPECT_EQ(Coefficients(f), Coefficients(before));
    EXPECT_EQ(f.y1, before.y1);
    EXPECT_EQ(f.x1, before.x1);
  }
  ErrorList::Get()->Clear();
}

// Each misuse is reported the first time, not at every sample, and Calc answers 0.5.
TEST(FilterFactory, UntypedFilterReportsAndAnswersHalf) {
  Filter f;
  f.SetSampleRate(kRate);
  EXPECT_EQ(f.Type(), nullptr);
  EXPECT_FALSE(f.HasGain());
  MessageCatcher catcher(AKSWarn);
  f.Cook(1000, 1, 1);
  EXPECT_EQ(f.Calc(0.25), 0.5);
  EXPECT_EQ(f.Calc(-3), 0.5);
  f.Cook(2000, 1, 1);
  EXPECT_EQ(catcher.asMessages, (std::vector<std::string>{"Unset filter being cooked",
                                                          "Unset filter being calced; returning output of .5"}));
}

// The coefficients survive a type change and the history does not; the new type's cooking applies
// at the next Cook.
TEST(FilterFactory, TypeChangeKeepsCoefficientsUntilCooked) {
  Filter f = MakeCooked("LPF2", 1000, 1, 2);
  std::vector<double> adLowPass = Coefficients(f);
  for (int i = 0; i < 10; ++i) f.Calc(1);
  ASSERT_EQ(FilterFactory::Get()->ChangeType(TypeNumber("HPF2"), f), 0);
  EXPECT_EQ(Coefficients(f), adLowPass);
  EXPECT_EQ(f.x1, 0);
  EXPECT_EQ(f.x2, 0);
  EXPECT_EQ(f.y1, 0);
  EXPECT_EQ(f.y2, 0);
  // Still the low-pass: DC passes.
  EXPECT_NEAR(std::abs(Response(f).At(0)), 1, 1e-9);
  f.Cook(1000, 1, 2);
  EXPECT_NEAR(std::abs(Response(f).At(0)), 0, 1e-9);
  EXPECT_NEAR(std::abs(Response(f).At(kRate / 2)), 1, 1e-9);
}

}  // namespace

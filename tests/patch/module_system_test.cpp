// Module types and the factory, numbered names, channel suffixes, and the keyword enumeration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../foundation/config_fixture.h"
#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "patch/moduletype.h"
#include "patch/structural.h"

namespace {
const char* FoundName(const char* pszType, const char* pszSection) {
  ModuleType* ptype = ModuleFactory::Get()->Find(pszType, pszSection);
  return ptype ? ptype->pszName : "(none)";
}
}  // namespace

TEST(ModuleFactoryTest, FindsByNameOrFirstRegisteredPrefix) {
  EXPECT_STREQ(FoundName("Note", "Anything"), "Note");
  EXPECT_STREQ(FoundName(nullptr, "Note"), "Note");
  EXPECT_STREQ(FoundName(nullptr, "Voice2"), "Voice");
  EXPECT_STREQ(FoundName(nullptr, "DummyChannelX"), "DummyChannel");
  EXPECT_STREQ(FoundName(nullptr, "PatchFx"), "Patch");
  MessageCatcher warnings;
  EXPECT_STREQ(FoundName("note", "x"), "(none)") << "exact names are case-sensitive";
  EXPECT_STREQ(FoundName(nullptr, "Zzz"), "(none)");
  EXPECT_EQ(warnings.asMessages, (std::vector<std::string>{"do not know module type \"note\"",
                                                            "no module type has an abbreviation matching \"Zzz\""}));
}

TEST(ModuleFactoryTest, TypesAreListedInLookupOrder) {
  int iLast = -1;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) {
    EXPECT_GE(ptype->iOrder, iLast) << ptype->pszName;
    iLast = ptype->iOrder;
  }
}

TEST(ModuleFactoryTest, KeywordsAreRegisteredWithTheFactory) {
  ModuleFactory::Get();
  struct {
    int i;
    const char* psz;
  } aCases[] = {{0, "Unset"}, {1, "FIFO"}, {11, "SawtoothNA"}, {17, "Linear"}, {22, "Lowpass"}, {27, "Flat"}};
  char sz[16];
  for (const auto& c : aCases) {
    EXPECT_STREQ(FormEnumName(c.i, sz, sizeof sz), c.psz);
    EXPECT_EQ(FormEnumFind(c.psz), c.i);
  }
}

TEST(ModuleFactoryDeathTest, RegisteringAKeywordTwiceEndsTheProgram) {
  ModuleFactory::Get();
  EXPECT_EXIT(FormEnumReg(40, "FIFO"), testing::ExitedWithCode(1), "multiple registrations of enum \"FIFO\"");
  EXPECT_EXIT(FormEnumReg(501, "Fresh"), testing::ExitedWithCode(1), "iIndex = 501; probable misuse of FormEnumReg");
}

TEST(ModuleTypeTest, NumberedNames) {
  int i = 0;
  EXPECT_TRUE(IsNumberedName("Freq01", "Freq", &i));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(IsNumberedName("Tap12", "Tap", &i));
  EXPECT_EQ(i, 12);
  for (const char* psz : {"Freq0", "Freq", "Freq1a", "Fre1", "freq1", "Freq-1"})
    EXPECT_FALSE(IsNumberedName(psz, "Freq")) << psz;
}

TEST(ModuleTypeTest, ChannelSuffixes) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Voice");
  Var var{};
  MessageCatcher warnings;
  struct {
    const char* pszVar;
    int iWant;
  } aCases[] = {{"Result", 1}, {"Result$2", 2}, {"Result$17", 17}, {"Results", 0}, {"Resul", 0}, {"Result$x", 1}};
  for (const auto& c : aCases) {
    var.pszName = c.pszVar;
    EXPECT_EQ(ptype->ChannelOf(&var, "Result"), c.iWant) << c.pszVar;
  }
  EXPECT_EQ(warnings.asMessages, std::vector<std::string>{"cannot find channel number in Result$x; returning 1"});
}

TEST(ModuleTypeTest, OnlyVoiceResultAndPreGainAndPatchTakeChannels) {
  ErrorList::Get()->Clear();
  Var var{};
  var.pszModule = "Voice";
  var.nChannels = 2;
  var.iLine = 12;
  ModuleFactory* pfactory = ModuleFactory::Get();
  for (const char* psz : {"Result", "Result$2", "PreGain$2"}) {
    var.pszName = psz;
    EXPECT_EQ(pfactory->Lookup("Voice")->RefuseChannels(&var), 0) << psz;
  }
  var.pszName = "Finished";
  EXPECT_EQ(pfactory->Lookup("Voice")->RefuseChannels(&var), -1);
  var.pszModule = "Patch";
  EXPECT_EQ(pfactory->Lookup("Patch")->RefuseChannels(&var), 0);
  var.pszModule = "Note";
  EXPECT_EQ(pfactory->Lookup("Note")->RefuseChannels(&var), -1);
  ErrorList* pel = ErrorList::Get();
  ASSERT_EQ(pel->anode.N(), 2);
  EXPECT_STREQ(pel->anode[0].psz, "Note:Finished module cannot accept 2 channel variable");
  EXPECT_STREQ(pel->anode[1].psz, "Voice:Finished module cannot accept 2 channel variable (except for PreGain or Result)");
  EXPECT_EQ(pel->anode[1].iLine, 12);
}

TEST(ModuleTypeTest, InputRowsAreMarkedAndCounted) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Patch");
  ASSERT_EQ(ptype->NumInputs(), 9);
  ASSERT_EQ(ptype->NumOutputs(), 3);
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(ptype->avarInputs[i].flags & VarFlagInput) << ptype->avarInputs[i].pszName;
  EXPECT_FALSE(ptype->avarOutputs[0].flags & VarFlagInput);
  EXPECT_EQ(ptype->HelperType(), nullptr);
  EXPECT_STREQ(ptype->ClassName(), "ModPatch");
}

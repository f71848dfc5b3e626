// The registrations of the delay, the adder and the operator network: tables, attributes,
// abbreviations, and the numbered names each type accepts beyond its table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "patch/moduletype.h"

namespace {

struct Row {
  const char* pszName;
  int type;
  const char* pszDefault;
};

struct TypeCase {
  const char* pszType;
  const char* pszClass;
  std::vector<Row> arowInputs;
  std::vector<const char*> apszOutputs;
};
std::ostream& operator<<(std::ostream& os, const TypeCase& tc) { return os << tc.pszType; }

class FxRegistration : public ::testing::TestWithParam<TypeCase> {};

TEST_P(FxRegistration, DeclaresItsTablesAndAttributes) {
  const TypeCase& tc = GetParam();
  ModuleType* ptype = ModuleFactory::Get()->Lookup(tc.pszType);
  ASSERT_NE(ptype, nullptr);
  EXPECT_STREQ(ptype->ClassName(), tc.pszClass);
  // Each of them: bypass silences, multi-mono (and the registration bit); the delay's outputs are
  // audio-rate and it takes a feedback step after every sample.
  uint32_t attrDelay = std::string(tc.pszType) == "Delay" ? static_cast<uint32_t>(AttrAudioRate | AttrFeedbackStep) : 0u;
  EXPECT_EQ(ptype->attrs, AttrRegistered | AttrBypassSilences | AttrMultiMono | attrDelay);
  EXPECT_EQ(ptype->pszHelper, nullptr);
  ASSERT_EQ(ptype->NumInputs(), static_cast<int>(tc.arowInputs.size()));
  for (size_t i = 0; i < tc.arowInputs.size(); ++i) {
    const Var& var = ptype->avarInputs[i];
    EXPECT_STREQ(var.pszName, tc.arowInputs[i].pszName);
    EXPECT_EQ(var.type, tc.arowInputs[i].type) << var.pszName;
    EXPECT_STREQ(var.pszDefault, tc.arowInputs[i].pszDefault) << var.pszName;
    EXPECT_TRUE(var.flags & VarFlagInput) << var.pszName;
  }
  ASSERT_EQ(ptype->NumOutputs(), static_cast<int>(tc.apszOutputs.size()));
  for (size_t i = 0; i < tc.apszOutputs.size(); ++i) EXPECT_STREQ(ptype->avarOutputs[i].pszName, tc.apszOutputs[i]);
  // A section named after the type with something appended finds it.
  EXPECT_EQ(ModuleFactory::Get()->Find(nullptr, (std::string(tc.pszType) + "2").c_str()), ptype);
}

constexpr int N = FormTypeNumeric, B = FormTypeBoolean, K = FormTypeKeyword;
INSTANTIATE_TEST_SUITE_P(
    Types, FxRegistration,
    ::testing::Values(TypeCase{"Adder", "ModAdder", {{"Slew", N, ".5 ms"}, {"Bypass", B, "false"}}, {"Output"}},
                      TypeCase{"Delay",
                               "ModDelay",
                               {{"Input", N, "0"},
                                {"Feedback", N, "0"},
                                {"Speed", N, "1.0"},
                                {"Interpolate", K, "Linear"},
                                {"Fade", K, "Flat"},
                                {"TimeMax", N, "0"},
                                {"TapFrom", N, "0"},
                                {"TapTo", N, "-1"},
                                {"TimeForm", N, "0"},
                                {"GainForm", N, "1"},
                                {"PanForm", N, "0.5"},
                                {"Bypass", B, "false"}},
                               {"Tap", "Output", "Output2", "Stereo"}},
                      TypeCase{"FMAlgo", "ModFMAlgo", {{"Bypass", B, "false"}}, {"Output"}}));

// The delay's stereo output is the bus of its two outputs, made by its formula.
TEST(FxRegistrationStereo, IsAFormulaDefinedTwoChannelOutput) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Delay");
  ASSERT_NE(ptype, nullptr);
  const Var& var = ptype->avarOutputs[3];
  EXPECT_TRUE(var.flags & VarFlagFormulaOutput);
  EXPECT_EQ(var.iOffset, -1);
  EXPECT_EQ(var.nChannels, 2);
  EXPECT_STREQ(var.pszDefault, "MakeBus( Output, Output2 )");
}

struct NameCase {
  const char* pszType;
  const char* pszName;
  bool bInput;   // accepted as a numbered input
  bool bOutput;  // made on demand as an output
  uint32_t flags;  // the on-demand output's flags
};
std::ostream& operator<<(std::ostream& os, const NameCase& nc) { return os << nc.pszType << ":" << nc.pszName; }

class FxNumberedNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FxNumberedNames, AreAcceptedAsTheTypeSays) {
  const NameCase& nc = GetParam();
  ModuleType* ptype = ModuleFactory::Get()->Lookup(nc.pszType);
  ASSERT_NE(ptype, nullptr);
  EXPECT_EQ(ptype->IsNumberedInput(nc.pszName), nc.bInput) << nc.pszName;
  uint32_t flags = 0xFFFF;
  VarOutputFn pfn = nullptr;
  EXPECT_EQ(ptype->IsNumberedOutput(nc.pszName, &flags, &pfn), nc.bOutput) << nc.pszName;
  if (nc.bOutput) {
    EXPECT_EQ(flags, nc.flags) << nc.pszName;
    EXPECT_NE(pfn, nullptr) << nc.pszName;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FxNumberedNames,
    ::testing::Values(
        NameCase{"Adder", "Freq1", true, false, 0}, NameCase{"Adder", "Gain12", true, false, 0},
        NameCase{"Adder", "Freq01", true, false, 0}, NameCase{"Adder", "Freq0", false, false, 0},
        NameCase{"Adder", "Freq", false, false, 0}, NameCase{"Adder", "Plus1", false, false, 0},
        NameCase{"Adder", "Output1", false, false, 0}, NameCase{"Delay", "Time1", true, false, 0},
        NameCase{"Delay", "Gain3", true, false, 0}, NameCase{"Delay", "Pan2", true, false, 0},
        NameCase{"Delay", "TimeMax", true, false, 0}, NameCase{"Delay", "Tap4", true, true, 0},
        NameCase{"Delay", "Tap0", false, true, 0}, NameCase{"Delay", "Time0", false, false, 0},
        NameCase{"Delay", "TapX", false, false, 0}, NameCase{"Delay", "Time1x", false, false, 0},
        NameCase{"FMAlgo", "Freq11", true, false, 0}, NameCase{"FMAlgo", "Plus1", true, false, 0},
        NameCase{"FMAlgo", "Gain2", true, false, 0}, NameCase{"FMAlgo", "PreGain1", true, true, VarFlagFeedback},
        NameCase{"FMAlgo", "Control12", true, true, VarFlagFeedback},
        NameCase{"FMAlgo", "Audio3", true, true, VarFlagFeedback},
        NameCase{"FMAlgo", "PreGainA", false, true, VarFlagFeedback},
        NameCase{"FMAlgo", "AudioX", false, true, VarFlagFeedback}, NameCase{"FMAlgo", "PreGain", false, false, 0},
        NameCase{"FMAlgo", "Control", false, false, 0}, NameCase{"FMAlgo", "Audio", false, false, 0},
        NameCase{"FMAlgo", "Freq0", false, false, 0}, NameCase{"FMAlgo", "Time1", false, false, 0}));

}  // namespace

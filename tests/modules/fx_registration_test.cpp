// The registrations of the delay, the adder and the operator network beyond their listings
// (tests/data/modules): the delay's two-channel output, and the numbered names each type accepts.
#include <gtest/gtest.h>

#include "patch/moduletype.h"

namespace {

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

// Registrations of the swarm and wavetable group: the types, their attributes and helpers, and
// every declared variable with its kind, default formula, class cap and output routine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "patch/moduletype.h"

namespace {

// One declared variable as a patch author reads it in the module reference.
struct ExpectedRow {
  const char* pszName;
  int type;
  const char* pszDefault;  // null: none
  int classMax;            // 0: no cap
  bool bRoutine;           // brought up to date by the module's computation
};

struct ExpectedType {
  const char* pszType;
  const char* pszClass;
  uint32_t attrs;
  const char* pszHelper;
  std::vector<ExpectedRow> aInputs, aOutputs;
};
void PrintTo(const ExpectedType& want, std::ostream* os) { *os << want.pszType; }

constexpr int N = FormTypeNumeric, B = FormTypeBoolean, K = FormTypeKeyword, S = FormTypeString;
constexpr int P = ClassPerPatch;

std::vector<ExpectedRow> SwoInputs(const char* pszFrequency) {
  return {{"Frequency", N, pszFrequency, 0, false}, {"Duty", N, ".5", 0, false},
          {"SyncIn", B, "-1", 0, false},            {"PhaseIn", N, "0", 0, false},
          {"Interpolate", B, "true", P, false},     {"Bypass", B, "false", 0, false}};
}
const std::vector<ExpectedRow> aHelperOutputs = {{"FreqFrom", N, nullptr, P, false},
                                             {"FreqTo", N, nullptr, P, false},
                                             {"FreqHarm", N, nullptr, P, false},
                                             {"Harmonic", N, nullptr, P, false}};

const ExpectedType aExpectedTypes[] = {
    {"Swarm",
     "ModSwarm",
     AttrRegistered | AttrBypassSilences,
     nullptr,
     {{"Waveform", K, "Sawtooth", P, false},
      {"Count", N, "7", P, false},
      {"Frequency", N, "Pitch", 0, false},
      {"Detune", N, "2 cents", 0, false},
      {"Bypass", B, "false", 0, false},
      {"GainShape", N, "0 dB", P, false},
      {"DetuneShape", N, "Wave * Wave * IF( Wave \\ 2, 1, -1 ) + Sqrt(2)/10", P, false},
      {"GainAdjust", N, "SelectN( Count, 0, .3, .5, .75, sqrt( Count+5 )/3)", P, false}},
     {{"Output", N, nullptr, 0, true},
      {"Control", N, nullptr, 0, true},
      {"SyncOut", N, nullptr, 0, true},
      {"Wave", N, nullptr, P, false},
      {"Side", N, nullptr, P, false},
      {"SideWave", N, nullptr, P, false},
      {"DetuneAmt", N, nullptr, P, false}}},
    {"SWO",
     "ModSWO",
     AttrRegistered | AttrBypassSilences | AttrAudioRate,
     "SWOPerPatch",
     SwoInputs("Pitch"),
     {{"Output", N, nullptr, 0, true},
      {"Control", N, nullptr, 0, true},
      {"Positive", N, nullptr, 0, true},
      {"SyncOut", B, nullptr, 0, true},
      {"PhaseOut", N, nullptr, 0, true}}},
    {"LFSWO",
     "ModSWO",
     AttrRegistered | AttrBypassSilences,
     "LFSWOPerPatch",
     SwoInputs("6.5"),
     {{"Output", N, nullptr, 0, true},
      {"Control", N, nullptr, 0, true},
      {"Positive", N, nullptr, 0, true},
      {"Audio", N, nullptr, 0, true},
      {"SyncOut", B, nullptr, 0, true},
      {"PhaseOut", N, nullptr, 0, true}}},
    {"SWOPerPatch",
     "ModSWOPerPatch",
     AttrRegistered,
     nullptr,
     {{"Waveform", K, "Unset", P, false},
      {"SampleFreqMin", N, "27.5-.5 semi", P, false},
      {"SampleFreqMax", N, "10000", P, false},
      {"SampleRange", N, "3 semis", P, false},
      {"HarmFreqMax", N, "20000", P, false},
      {"HarmonicForm", N, "0", P, false},
      {"PhaseForm", N, "0", P, false},
      {"OversampForm", N, "IF( FreqTo < 3000, 4, 8 )", P, false},
      {"DenomPower", N, "1", P, false},
      {"SampleFile", S, nullptr, P, false},
      {"SampleFormat", N, "8", P, false},
      {"FixedFilter", N, "0 dB", P, false}},
     aHelperOutputs},
    {"LFSWOPerPatch",
     "ModSWOPerPatch",
     AttrRegistered,
     nullptr,
     {{"Waveform", K, "Unset", P, false},
      {"FixedFilter", N, "0 dB", P, false},
      {"Samples", N, "5000", P, false},
      {"HarmTo", N, "1000", P, false},
      {"HarmonicForm", N, "0", P, false},
      {"PhaseForm", N, "0", P, false},
      {"DenomPower", N, "0", P, false},
      {"SampleFile", S, nullptr, P, false},
      {"SampleFormat", N, "8", P, false}},
     aHelperOutputs},
};

void ExpectRows(const char* pszType, const Var* avar, const std::vector<ExpectedRow>& aWant, bool bInputs) {
  size_t i = 0;
  for (; avar[i].pszName; ++i) {
    ASSERT_LT(i, aWant.size()) << pszType << " declares more than expected: " << avar[i].pszName;
    const Var& var = avar[i];
    const ExpectedRow& want = aWant[i];
    const std::string sWhere = std::string(pszType) + ":" + want.pszName;
    EXPECT_STREQ(var.pszName, want.pszName) << pszType << " row " << i;
    EXPECT_EQ(var.type, want.type) << sWhere;
    if (want.pszDefault) {
      EXPECT_STREQ(var.pszDefault, want.pszDefault) << sWhere;
    } else {
      EXPECT_EQ(var.pszDefault, nullptr) << sWhere;
    }
    EXPECT_EQ(var.classMax, want.classMax) << sWhere;
    EXPECT_EQ(var.pfnOutput != nullptr, want.bRoutine) << sWhere;
    EXPECT_EQ((var.flags & VarFlagInput) != 0, bInputs) << sWhere;
    EXPECT_GE(var.iOffset, 0) << sWhere << " has module storage";
  }
  EXPECT_EQ(i, aWant.size()) << pszType << " declares fewer than expected";
}

class WaveRegistrationTest : public ::testing::TestWithParam<ExpectedType> {};

TEST_P(WaveRegistrationTest, DeclaresItsVariables) {
  const ExpectedType& want = GetParam();
  ModuleType* ptype = ModuleFactory::Get()->Lookup(want.pszType);
  ASSERT_NE(ptype, nullptr);
  EXPECT_STREQ(ptype->ClassName(), want.pszClass);
  EXPECT_EQ(ptype->attrs, want.attrs);
  EXPECT_EQ(ptype->NumInputs(), static_cast<int>(want.aInputs.size()));
  EXPECT_EQ(ptype->NumOutputs(), static_cast<int>(want.aOutputs.size()));
  ExpectRows(want.pszType, ptype->avarInputs, want.aInputs, true);
  ExpectRows(want.pszType, ptype->avarOutputs, want.aOutputs, false);
  if (want.pszHelper) {
    ASSERT_NE(ptype->pszHelper, nullptr);
    EXPECT_STREQ(ptype->pszHelper, want.pszHelper);
    EXPECT_EQ(ptype->HelperType(), ModuleFactory::Get()->Lookup(want.pszHelper));
  } else {
    EXPECT_EQ(ptype->pszHelper, nullptr);
  }
  // Numbered names of the helpers are the patch loader's business, not the types'.
  EXPECT_FALSE(ptype->IsNumberedInput("Harm1"));
}

INSTANTIATE_TEST_SUITE_P(Types, WaveRegistrationTest, ::testing::ValuesIn(aExpectedTypes));

// Sections named without a ModuleType line find their kind by the registration order: "SWO"
// before "SWOPerPatch", and every kind of the group after "Sub" and before "Voice".
TEST(WaveRegistrationOrderTest, AbbreviationsFindTheFirstKind) {
  ModuleFactory* pfactory = ModuleFactory::Get();
  const struct {
    const char* pszSection;
    const char* pszType;
  } aCases[] = {{"Swarm", "Swarm"},  {"Swarm2", "Swarm"}, {"SWO", "SWO"},         {"SWO3", "SWO"},
                {"SWOPerPatchX", "SWO"}, {"LFSWO", "LFSWO"}, {"LFSWOBass", "LFSWO"}};
  for (const auto& c : aCases) {
    ModuleType* ptype = pfactory->Find(nullptr, c.pszSection);
    ASSERT_NE(ptype, nullptr) << c.pszSection;
    EXPECT_STREQ(ptype->pszName, c.pszType) << c.pszSection;
  }
  std::vector<std::string> asOrder;
  for (ModuleType* ptype : pfactory->aptype) asOrder.push_back(ptype->pszName);
  const std::vector<std::string> asGroup = {"Sub", "Swarm", "SWO", "LFSWO", "SWOPerPatch", "LFSWOPerPatch", "Voice"};
  size_t iAt = 0;
  for (const std::string& s : asOrder)
    if (iAt < asGroup.size() && s == asGroup[iAt]) ++iAt;
  EXPECT_EQ(iAt, asGroup.size()) << "registration order breaks the sequence at " << asGroup[std::min(iAt, asGroup.size() - 1)];
}

}  // namespace

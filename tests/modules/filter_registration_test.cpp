// What the five filter modules share: their registration, Bypass, a fresh start at every note,
// stability over a minute of noise at the extremes, and cutoffs swept at audio rate.
#include <cmath>
#include <string>
#include <vector>

#include "filter_module_support.h"
#include "patch/moduletype.h"

namespace filtertest {
namespace {

// ---- Registration -----------------------------------------------------------------------------------

struct Row {
  const char* pszName;
  int type;
  const char* pszDefault;
};

struct TypeCase {
  const char* pszType;
  const char* pszClass;
  int iOrder;
  std::vector<Row> aInput;
  std::vector<const char*> apszOutput;
};
void PrintTo(const TypeCase& c, std::ostream* pos) { *pos << c.pszType; }

constexpr int N = FormTypeNumeric, B = FormTypeBoolean, K = FormTypeKeyword;

const TypeCase kTypes[] = {
    {"MultiFilter", "ModMultiFilter", OrderMultiFilter,
     {{"Input", N, "0"}, {"GainMaster", N, "1"}, {"Bands", N, "0"}, {"Layout", K, "Serial"},
      {"TypeDefault", K, "ParametricConst"}, {"Bypass", B, "false"}},
     {"Output"}},
    {"Filter", "ModButterworth", OrderFilter,
     {{"Input", N, "0"}, {"Cutoff", N, "2000"}, {"Resonance", N, "1"}, {"Poles", N, "4"}, {"Mode", K, "Lowpass"},
      {"AmpHistHalf", N, "1"}, {"AmpLimBegin", N, "3"}, {"AmpLimRange", N, "2"}, {"Bypass", B, "false"}},
     {"Output"}},
    {"MoogDirty", "ModMoogDirty", OrderMoogDirty,
     {{"Input", N, "0"}, {"Cutoff", N, "2000"}, {"Resonance", N, "0"}, {"Drive", N, ".1"}, {"Bypass", B, "false"}},
     {"Stage1", "Stage2", "Stage3", "Stage4", "Output"}},
    {"MoogSS1996", "ModMoogSS1996", OrderMoogSS1996,
     {{"Input", N, "0"}, {"Cutoff", N, "2000"}, {"Resonance", N, "1"}, {"Poles", N, "4"}, {"Bypass", B, "false"}},
     {"Output"}},
    {"MoogV11", "ModMoogV11", OrderMoogV11,
     {{"Input", N, "0"}, {"Cutoff", N, "2000"}, {"Resonance", N, "1"}, {"Bypass", B, "false"}},
     {"Stage1", "Stage2", "Stage3", "Stage4", "Output"}},
};

class FilterRegistration : public FilterModuleTest, public testing::WithParamInterface<TypeCase> {};

// Every variable in its order with its kind and default, the outputs, and the attributes: a set
// Bypass passes the input, multi-channel input duplicates the module.
TEST_P(FilterRegistration, DeclaresItsVariablesAndAttributes) {
  const TypeCase& c = GetParam();
  ModuleType* ptype = ModuleFactory::Get()->Lookup(c.pszType);
  ASSERT_NE(ptype, nullptr);
  EXPECT_STREQ(ptype->ClassName(), c.pszClass);
  EXPECT_EQ(ptype->iOrder, c.iOrder);
  // Only the Butterworth's outputs are audio-rate by default.
  uint32_t attrAudio = std::string(c.pszType) == "Filter" ? static_cast<uint32_t>(AttrAudioRate) : 0u;
  EXPECT_EQ(ptype->attrs, AttrRegistered | AttrBypassPasses | AttrMultiMono | attrAudio);
  EXPECT_EQ(ptype->pszHelper, nullptr);
  ASSERT_EQ(ptype->NumInputs(), static_cast<int>(c.aInput.size()));
  for (size_t i = 0; i < c.aInput.size(); ++i) {
    const Var& var = ptype->avarInputs[i];
    EXPECT_STREQ(var.pszName, c.aInput[i].pszName);
    EXPECT_EQ(var.type, c.aInput[i].type) << var.pszName;
    EXPECT_STREQ(var.pszDefault, c.aInput[i].pszDefault) << var.pszName;
    EXPECT_TRUE(var.flags & VarFlagInput) << var.pszName;
  }
  ASSERT_EQ(ptype->NumOutputs(), static_cast<int>(c.apszOutput.size()));
  for (size_t i = 0; i < c.apszOutput.size(); ++i) {
    EXPECT_STREQ(ptype->avarOutputs[i].pszName, c.apszOutput[i]);
    EXPECT_NE(ptype->avarOutputs[i].pfnOutput, nullptr);
  }
  // A section named after the type with a number, without a ModuleType line, finds it.
  std::string sSection = std::string(c.pszType) + "2";
  EXPECT_EQ(ModuleFactory::Get()->Find(nullptr, sSection.c_str()), ptype);
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterRegistration, testing::ValuesIn(kTypes),
                         [](const testing::TestParamInfo<TypeCase>& info) { return info.param.pszType; });

// TypeN, FreqN, GainN and QN (N a non-zero number) are MultiFilter's own; no other filter takes
// numbered inputs.
TEST(FilterNumberedInputs, OnlyMultiFilterTakesBandVariables) {
  struct Case {
    const char* pszName;
    bool bAccepted;
  } aCase[] = {{"Type1", true}, {"Freq3", true},  {"Gain12", true}, {"Q64", true},    {"Freq01", true},
               {"Q100", true},  {"Freq0", false}, {"Type", false},  {"Gainx", false}, {"Qual1", false},
               {"Frequency1", false}, {"TypeDefault", false}, {"Cutoff1", false}};
  ModuleFactory* pfactory = ModuleFactory::Get();
  for (const Case& c : aCase) {
    EXPECT_EQ(pfactory->Lookup("MultiFilter")->IsNumberedInput(c.pszName), c.bAccepted) << c.pszName;
    for (const char* pszOther : {"Filter", "MoogDirty", "MoogSS1996", "MoogV11"})
      EXPECT_FALSE(pfactory->Lookup(pszOther)->IsNumberedInput(c.pszName)) << pszOther << " " << c.pszName;
  }
}

// ---- Per-module cases ---------------------------------------------------------------------------

struct ModuleCase {
  const char* pszName;
  const char* pszType;
  Settings aSet;
  double dBound;  // the largest output magnitude the case may reach
};
void PrintTo(const ModuleCase& c, std::ostream* pos) { *pos << c.pszName; }

std::vector<const char*> OutputsOf(const char* pszType) {
  for (const TypeCase& c : kTypes)
    if (std::string(c.pszType) == pszType) return c.apszOutput;
  return {};
}

// Some resonance everywhere, so that a module has a ringing state to carry or to clear.
const ModuleCase kModuleCases[] = {
    {"Filter", "Filter", {{"Cutoff", "800"}, {"Resonance", "4"}}, 5},
    {"MoogDirty", "MoogDirty", {{"Cutoff", "800"}, {"Resonance", "0.8"}}, 10},
    {"MoogSS1996", "MoogSS1996", {{"Cutoff", "800"}, {"Resonance", "0.8"}}, 1},
    {"MoogV11", "MoogV11", {{"Cutoff", "800"}, {"Resonance", "0.7"}}, 10},
    {"MultiFilter", "MultiFilter", {{"Type1", "LPF2"}, {"Freq1", "800"}, {"Q1", "8"}, {"Freq2", "2000"},
                                    {"Gain2", "3"}, {"Q2", "Note:Time + 2"}}, 20},
};

class FilterModule : public FilterModuleTest, public testing::WithParamInterface<ModuleCase> {
 protected:
  std::unique_ptr<ModuleHarness> Make(const Settings& aExtra) {
    Settings aSet = GetParam().aSet;
    aSet.insert(aSet.end(), aExtra.begin(), aExtra.end());
    return MakeModule(GetParam().pszType, aSet);
  }
};

// A set Bypass copies Input to every output; a varying one switches the filter out while playing.
TEST_P(FilterModule, BypassPassesTheInput) {
  const char* pszIn = "0.8 * SIN( Note:Time * 330 ) + 0.1 * SIN( Note:Time * 5000 )";
  auto ph = Make({{"Input", pszIn}, {"Bypass", "true"}});
  for (int i = 0; i < 2000; ++i) {
    if (i) ph->Step();
    for (const char* pszOut : OutputsOf(GetParam().pszType))
      ASSERT_EQ(ph->Out(pszOut), ph->Out("Input")) << pszOut << " at " << i;
  }
  auto phSwitched = Make({{"Input", pszIn}, {"Bypass", "Note:Time >= 0.05"}});
  bool bFiltered = false;
  for (int i = 0; i < 4410; ++i) {
    if (i) phSwitched->Step();
    double dOut = phSwitched->Out("Output"), dIn = phSwitched->Out("Input");
    if (i < 2200) {
      bFiltered |= dOut != dIn;
    } else if (i > 2210) {  // Note:Time passes 0.05 around sample 2205
      ASSERT_EQ(dOut, dIn) << i;
    }
  }
  EXPECT_TRUE(bFiltered);
}

// A new note starts from rest: after noise, the ringing is gone the moment the note restarts.
TEST_P(FilterModule, EveryNoteStartsFromRest) {
  auto ph = Make({{"Input", "Src:Signal"}});
  Noise noise;
  bool bNoise = true;
  auto In = [&](int) { return bNoise ? noise.Next() : 0.0; };
  RenderWith(*ph, "Output", 8820, In);
  bNoise = false;
  std::vector<double> adRinging = RenderWith(*ph, "Output", 20, In);
  EXPECT_GT(PeakOf(adRinging, 1), 0.0);  // the state carries on within a note
  ph->Retrigger();
  for (const char* pszOut : OutputsOf(GetParam().pszType))
    for (double d : RenderWith(*ph, pszOut, 100, In)) ASSERT_EQ(d, 0.0) << pszOut;
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterModule, testing::ValuesIn(kModuleCases),
                         [](const testing::TestParamInfo<ModuleCase>& info) { return info.param.pszName; });

// ---- A minute of noise at the extremes -------------------------------------------------------------

const ModuleCase kExtremeCases[] = {
    {"FilterSixPolesTop", "Filter", {{"Poles", "6"}, {"Resonance", "1000"}, {"Cutoff", "30000"}}, 5},
    {"FilterTwoPolesBottom", "Filter", {{"Poles", "2"}, {"Resonance", "1000"}, {"Cutoff", "20"}}, 5},
    {"FilterHighpassTop", "Filter", {{"Resonance", "1000"}, {"Cutoff", "21000"}, {"Mode", "Highpass"}}, 6},
    {"MoogDirtyTop", "MoogDirty", {{"Resonance", "10"}, {"Drive", "1"}, {"Cutoff", "21000"}}, 100},
    {"MoogDirtyFastest", "MoogDirty", {{"Resonance", "10"}, {"Cutoff", "11600"}}, 100},
    {"MoogSS1996Top", "MoogSS1996", {{"Resonance", "1"}, {"Cutoff", "21000"}}, 0.95 + 1e-12},
    {"MoogV11Top", "MoogV11", {{"Resonance", "10"}, {"Cutoff", "21000"}}, 256},
    {"MultiFilterSerialTop", "MultiFilter",
     {{"Type1", "SimpleResonator"}, {"Freq1", "21600"}, {"Q1", "1000"}, {"Type2", "ImprovedResonator"},
      {"Freq2", "21000"}, {"Q2", "1000"}, {"Freq3", "21600"}, {"Gain3", "4"}, {"Q3", "1000"}, {"Type4", "HiShelf2"},
      {"Freq4", "21600"}, {"Gain4", "4"}},
     1000},
    {"MultiFilterParallelTop", "MultiFilter",
     {{"Layout", "Parallel"}, {"Type1", "LPF2"}, {"Freq1", "21600"}, {"Q1", "1000"}, {"Type2", "BPF2"},
      {"Freq2", "21600"}, {"Q2", "1000"}, {"Type3", "LPFMassberg2"}, {"Freq3", "21600"}, {"Q3", "1000"},
      {"Type4", "APF2"}, {"Freq4", "21600"}},
     1000},
};

class FilterExtreme : public FilterModuleTest, public testing::WithParamInterface<ModuleCase> {};

// Nothing turns to NaN, nothing passes the case's bound, and nothing grows: the last ten seconds
// are no louder than twice the loudest of seconds 5 to 50 (stationary noise in, stationary out).
TEST_P(FilterExtreme, StaysBoundedForAMinuteOfNoise) {
  const ModuleCase& c = GetParam();
  Settings aSet = c.aSet;
  aSet.push_back({"Input", "Src:Signal"});
  auto ph = MakeModule(c.pszType, aSet);
  Noise noise;
  std::vector<double> ad = RenderWith(*ph, "Output", kMinute, [&noise](int) { return noise.Next(); });
  for (size_t i = 0; i < ad.size(); ++i) ASSERT_TRUE(std::isfinite(ad[i])) << i;
  double dPeak = PeakOf(ad);
  EXPECT_LE(dPeak, c.dBound);
  EXPECT_GT(dPeak, 0.0);
  EXPECT_LE(PeakOf(ad, 50 * 44100), 2 * PeakOf(ad, 5 * 44100, 50 * 44100));
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterExtreme, testing::ValuesIn(kExtremeCases),
                         [](const testing::TestParamInfo<ModuleCase>& info) { return info.param.pszName; });

// ---- Cutoff swept at audio rate ---------------------------------------------------------------------

// Cutoffs (or band frequencies) swept between 200 and 1800 Hz 300 times a second, on a 220 Hz tone
// of amplitude 0.5. The Butterworth's bound is its limiter's, 5 × the input's peak (plus the input
// for the high-pass).
const ModuleCase kSweepCases[] = {
    {"Filter", "Filter", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}}, 2.5},
    {"FilterResonant", "Filter", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Resonance", "4"}, {"Poles", "2"}}, 2.5},
    {"FilterHighpass", "Filter", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Mode", "Highpass"}}, 3},
    {"MoogDirty", "MoogDirty", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Resonance", "0.5"}}, 2},
    {"MoogSS1996", "MoogSS1996", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Resonance", "0.5"}}, 2},
    {"MoogV11", "MoogV11", {{"Cutoff", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Resonance", "0.5"}}, 2},
    {"MultiFilter", "MultiFilter",
     {{"Type1", "LPF2"}, {"Freq1", "1000 + 800 * SIN( Note:Time * 300 )"}, {"Q1", "2.83"},
      {"Freq2", "1000 - 800 * SIN( Note:Time * 300 )"}, {"Gain2", "4"}},
     3},
};

class FilterSweep : public FilterModuleTest, public testing::WithParamInterface<ModuleCase> {};

// No clicks: the output is the tone and products of the sweep, nothing above 3 kHz that counts, so
// it moves at most 2π × 3000/R of its own peak per sample. No instability either.
TEST_P(FilterSweep, FollowsAnAudioRateCutoffWithoutClicks) {
  const ModuleCase& c = GetParam();
  Settings aSet = c.aSet;
  aSet.push_back({"Input", "0.5 * SIN( Note:Time * 220 )"});
  auto ph = MakeModule(c.pszType, aSet);
  std::vector<double> ad = Render(*ph, "Output", 44100);
  for (double d : ad) ASSERT_TRUE(std::isfinite(d));
  double dPeak = PeakOf(ad);
  EXPECT_LE(dPeak, c.dBound);
  EXPECT_GT(dPeak, 0.05);
  double dStepMax = 2 * kPi * 3000 / kRate * dPeak;
  for (size_t i = 1; i < ad.size(); ++i) ASSERT_LE(std::fabs(ad[i] - ad[i - 1]), dStepMax) << i;
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterSweep, testing::ValuesIn(kSweepCases),
                         [](const testing::TestParamInfo<ModuleCase>& info) { return info.param.pszName; });

}  // namespace
}  // namespace filtertest

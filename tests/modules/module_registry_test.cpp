// What the registry knows of the module kinds beyond their listing (`vantrel modules TYPE`, whose
// text tests/e2e checks against tests/data/modules): which section names find which kind, the
// compiler's attributes the listing leaves out, and how the rows are bound to module storage.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "modules/envelope.h"
#include "patch/moduletype.h"

namespace {

// Sections named without a ModuleType line find their kind by the registration order: the name
// itself, or the first kind whose name starts the section's name.
TEST(ModuleRegistry, SectionNamesFindTheirKind) {
  const struct {
    const char *pszSection, *pszType;
  } aCases[] = {
      {"Oscillator", "Osc"},        {"LFOVibrato", "LFO"},      {"PinkNoise2", "PinkNoise"}, {"Noise1", "Noise"},
      {"Adder2", "Adder"},          {"Delay2", "Delay"},        {"FMAlgo2", "FMAlgo"},       {"Filter2", "Filter"},
      {"MultiFilter2", "MultiFilter"}, {"MoogDirty2", "MoogDirty"}, {"MoogSS19962", "MoogSS1996"},
      {"MoogV112", "MoogV11"},      {"SlewRateLinear2", "Slew"}, {"Swarm", "Swarm"},        {"Swarm2", "Swarm"},
      {"SWO", "SWO"},               {"SWO3", "SWO"},            {"SWOPerPatchX", "SWO"},     {"LFSWO", "LFSWO"},
      {"LFSWOBass", "LFSWO"},
  };
  for (const auto& c : aCases) {
    ModuleType* ptype = ModuleFactory::Get()->Find(nullptr, c.pszSection);
    ASSERT_NE(ptype, nullptr) << c.pszSection;
    EXPECT_STREQ(ptype->pszName, c.pszType) << c.pszSection;
  }
}

// "SWO" before "SWOPerPatch", and the wavetable group after "Sub" and before "Voice".
TEST(ModuleRegistry, WavetableKindsRegisterInTheirOrder) {
  std::vector<std::string> asOrder;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) asOrder.push_back(ptype->pszName);
  const std::vector<std::string> asGroup = {"Sub", "Swarm", "SWO", "LFSWO", "SWOPerPatch", "LFSWOPerPatch", "Voice"};
  size_t iAt = 0;
  for (const std::string& s : asOrder)
    if (iAt < asGroup.size() && s == asGroup[iAt]) ++iAt;
  EXPECT_EQ(iAt, asGroup.size()) << "registration order breaks the sequence at " << asGroup[std::min(iAt, asGroup.size() - 1)];
}

// The attributes only the compiler reads: whose outputs are audio-rate records (computed every
// sample unless the section sets Rate), and who takes a feedback step after every sample.
TEST(ModuleRegistry, AudioRateAndFeedbackStepKinds) {
  const std::map<std::string, uint32_t> mapExpected = {
      {"Osc", AttrAudioRate},   {"Noise", AttrAudioRate},  {"SWO", AttrAudioRate},
      {"Filter", AttrAudioRate}, {"Delay", AttrAudioRate | AttrFeedbackStep},
      {"Patch", AttrAudioRate},  // the patch's output is the sound
  };
  EnvRegisterStageTypes();
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) {
    auto it = mapExpected.find(ptype->pszName);
    EXPECT_EQ(ptype->attrs & (AttrAudioRate | AttrFeedbackStep), it == mapExpected.end() ? 0u : it->second)
        << ptype->pszName;
  }
}

// One section makes a wavetable oscillator and its helper: the helper takes the harmonics and
// samples (Harm3, SampleLoc2), the oscillator its own inputs, and each leaves the other's names alone.
TEST(ModuleRegistry, WavetableKindsAndHelpersSplitTheirNames) {
  for (const char* pszType : {"Swarm", "SWO", "LFSWO", "SWOPerPatch", "LFSWOPerPatch"}) {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(pszType);
    ASSERT_NE(ptype, nullptr) << pszType;
    bool bHelper = strstr(pszType, "PerPatch") != nullptr;
    EXPECT_EQ(ptype->IsNumberedInput("Harm1"), bHelper) << pszType;
    EXPECT_EQ(ptype->IsPartnerName("Harm1"), ptype->pszHelper != nullptr) << pszType;
    EXPECT_EQ(ptype->IsPartnerName("Frequency"), bHelper) << pszType;
  }
}

// Every row of every kind: inputs are flagged as inputs, every row but a formula-defined output
// has storage in the module, and every output is brought up to date by the module's computation
// except what MIDI sets and the plain fields a kind fills at set-up or once per patch.
TEST(ModuleRegistry, RowsAreBoundToTheModule) {
  const std::set<std::string> asPlainFields = {
      "Swarm:Wave",           "Swarm:Side",           "Swarm:SideWave",       "Swarm:DetuneAmt",
      "SWOPerPatch:FreqFrom", "SWOPerPatch:FreqTo",   "SWOPerPatch:FreqHarm", "SWOPerPatch:Harmonic",
      "LFSWOPerPatch:FreqFrom", "LFSWOPerPatch:FreqTo", "LFSWOPerPatch:FreqHarm", "LFSWOPerPatch:Harmonic",
      "Map:ValInput",         "Tuning:ValInput",      "SubTuning:ValInput",   "Channel:ChannelNum"};
  EnvRegisterStageTypes();
  for (ModuleType* ptype : ModuleFactory::Get()->aptype) {
    for (const Var* pvar = ptype->avarInputs; pvar && pvar->pszName; ++pvar) {
      const std::string sWhere = std::string(ptype->pszName) + ":" + pvar->pszName;
      EXPECT_TRUE(pvar->flags & VarFlagInput) << sWhere;
      EXPECT_GE(pvar->iOffset, 0) << sWhere;
    }
    for (const Var* pvar = ptype->avarOutputs; pvar && pvar->pszName; ++pvar) {
      const std::string sWhere = std::string(ptype->pszName) + ":" + pvar->pszName;
      EXPECT_FALSE(pvar->flags & VarFlagInput) << sWhere;
      if (pvar->flags & (VarFlagFormulaOutput | VarFlagMidi)) continue;
      EXPECT_GE(pvar->iOffset, 0) << sWhere;
      EXPECT_EQ(pvar->pfnOutput == nullptr, asPlainFields.count(sWhere) == 1) << sWhere;
    }
  }
}

}  // namespace

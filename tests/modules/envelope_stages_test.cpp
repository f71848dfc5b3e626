// The envelope stage types: their registration (names, rows, defaults, order) and that a type
// with a subset of the stages plays exactly those stages.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "env_support.h"

namespace {

const char* const apszStage[] = {"Wait", "Attack", "Impact", "Decay", "Break", "Slope", "Sustain", "Release"};
const char* const apszCommon[] = {"Bypass", "Speed", "Stop", "TrigRelease", "Epsilon"};
const char* const apszOutputs[] = {"Output", "Exp", "Amp", "Custom", "Segment", "SyncOut", "Finished"};

ModuleType* Type(const char* pszName) { return ModuleFactory::Get()->Lookup(pszName); }

std::vector<ModuleType*> StageTypes() {
  std::vector<ModuleType*> aptype;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype)
    if (ptype->iOrder == OrderEnvStages) aptype.push_back(ptype);
  return aptype;
}

TEST(EnvelopeStageTypesTest, NamesFollowTheStagesTheyHold) {
  EnvRegisterStageTypes();
  struct {
    const char* pszName;
    std::vector<const char*> asStages;
  } aCases[] = {{"GateEnv", {}},
                {"WaitEnv", {"Wait"}},
                {"AttackEnv", {"Attack"}},
                {"ImpactEnv", {"Impact"}},
                {"DecayEnv", {"Decay"}},
                {"BreakEnv", {"Break"}},
                {"SlopeEnv", {"Slope"}},
                {"SustainEnv", {"Sustain"}},
                {"ReleaseEnv", {"Release"}},
                {"AREnv", {"Attack", "Release"}},
                {"ADSREnv", {"Attack", "Decay", "Sustain", "Release"}},
                {"WAEnv", {"Wait", "Attack"}},
                {"DBPEnv", {"Decay", "Break", "Slope"}},
                {"WAIDBPSREnv", {"Wait", "Attack", "Impact", "Decay", "Break", "Slope", "Sustain", "Release"}}};
  for (const auto& c : aCases) {
    ModuleType* ptype = Type(c.pszName);
    ASSERT_NE(ptype, nullptr) << c.pszName;
    EXPECT_STREQ(ptype->ClassName(), "ModEnvelope");
    std::vector<std::string> asRows;
    for (const Var* pvar = ptype->avarInputs; pvar->pszName; ++pvar) asRows.push_back(pvar->pszName);
    std::vector<std::string> asWant(c.asStages.begin(), c.asStages.end());
    asWant.insert(asWant.end(), std::begin(apszCommon), std::end(apszCommon));
    EXPECT_EQ(asRows, asWant) << c.pszName;
  }
}

// Every stage type: stage rows in stage order with their defaults, the five rows of "Env", its
// outputs and attributes; 256 distinct names after every statically registered type.
TEST(EnvelopeStageTypesTest, AllTwoHundredFiftySixAreRegisteredLikeEnv) {
  EnvRegisterStageTypes();
  ModuleType* ptypeEnv = Type("Env");
  ASSERT_NE(ptypeEnv, nullptr);
  EXPECT_EQ(ptypeEnv->NumInputs(), 5);
  EXPECT_EQ(ptypeEnv->NumOutputs(), 7);
  std::vector<ModuleType*> aptype = StageTypes();
  ASSERT_EQ(aptype.size(), 256u);
  EXPECT_STREQ(aptype.front()->pszName, "GateEnv");
  EXPECT_STREQ(aptype.back()->pszName, "WAIDBPSREnv");
  EXPECT_EQ(ModuleFactory::Get()->aptype.Last(), aptype.back()) << "the stage types come last in look-up order";
  std::set<std::string> asNames;
  std::set<int> anMasks;
  for (ModuleType* ptype : aptype) {
    asNames.insert(ptype->pszName);
    EXPECT_EQ(ptype->attrs, ptypeEnv->attrs) << ptype->pszName;
    EXPECT_EQ(ptype->attrs, AttrRegistered | AttrMultiMono) << ptype->pszName;
    ASSERT_EQ(ptype->NumOutputs(), 7) << ptype->pszName;
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(ptype->avarOutputs[i].pszName, apszOutputs[i]);
    // The stage rows, in stage order: times default to 0, the sustain level to 1.
    int iLast = -1, nMask = 0;
    const Var* pvar = ptype->avarInputs;
    for (; pvar->pszName; ++pvar) {
      int iStage = -1;
      for (int b = 0; b < 8; ++b)
        if (strcmp(pvar->pszName, apszStage[b]) == 0) iStage = b;
      if (iStage < 0) break;
      EXPECT_GT(iStage, iLast) << ptype->pszName;
      iLast = iStage;
      nMask |= 1 << iStage;
      EXPECT_STREQ(pvar->pszDefault, iStage == 6 ? "1" : "0") << ptype->pszName << ":" << pvar->pszName;
      EXPECT_EQ(pvar->type, FormTypeNumeric);
      EXPECT_TRUE(pvar->flags & VarFlagInput);
    }
    for (int i = 0; i < 5; ++i, ++pvar) {
      ASSERT_NE(pvar->pszName, nullptr) << ptype->pszName;
      EXPECT_STREQ(pvar->pszName, apszCommon[i]) << ptype->pszName;
      EXPECT_STREQ(pvar->pszDefault, ptypeEnv->avarInputs[i].pszDefault) << ptype->pszName;
    }
    EXPECT_EQ(pvar->pszName, nullptr) << ptype->pszName;
    anMasks.insert(nMask);
  }
  EXPECT_EQ(asNames.size(), 256u);
  EXPECT_EQ(anMasks.size(), 256u) << "one type per subset of the stages";
}

TEST(EnvelopeStageTypesTest, RegisteringTwiceAddsNothing) {
  EnvRegisterStageTypes();
  const int n = ModuleFactory::Get()->aptype.N();
  EnvRegisterStageTypes();
  EXPECT_EQ(ModuleFactory::Get()->aptype.N(), n);
}

TEST(EnvelopeStageTypesTest, SectionNamesFindTheirTypes) {
  EnvRegisterStageTypes();
  // Without a ModuleType line the first registered prefix wins: "Env" for EnvGain.
  EXPECT_STREQ(ModuleFactory::Get()->Find(nullptr, "EnvGain")->pszName, "Env");
  EXPECT_STREQ(ModuleFactory::Get()->Find("ADSREnv", "Amp")->pszName, "ADSREnv");
}

// One piece of a drawn envelope: move to the level over the time (a time of 0 jumps).
struct Piece {
  double dTime, dLevel;
};

struct SubsetCase {
  const char* pszType;
  EnvSettings aSet;
  double dStart;              // the level at the note's start
  std::vector<Piece> apiece;  // then these, then a hold
  bool bReleases;             // a note-off moves to 0 over dRelease
  double dRelease;
};
void PrintTo(const SubsetCase& c, std::ostream* os) { *os << c.pszType; }

double DrawnAt(const SubsetCase& c, double t) {
  double dLevel = c.dStart, tPiece = 0;
  for (const Piece& piece : c.apiece) {
    if (t < tPiece + piece.dTime) return dLevel + (piece.dLevel - dLevel) * (t - tPiece) / piece.dTime;
    tPiece += piece.dTime;
    dLevel = piece.dLevel;
  }
  return dLevel;
}

class EnvelopeSubsetTest : public ::testing::TestWithParam<SubsetCase> {};

// A type with a subset of the stages plays those stages and nothing else.
TEST_P(EnvelopeSubsetTest, PlaysItsStages) {
  const SubsetCase& c = GetParam();
  auto ph = StartEnvelope(c.pszType, c.aSet);
  const int iOff = 4000;  // after every piece
  const double tOff = iOff / kEnvRate;
  const double dHeld = DrawnAt(c, tOff);
  const int iEnd = iOff + static_cast<int>(std::ceil(c.dRelease * kEnvRate)) + 20;
  for (int j = 0; j <= iEnd; ++j) {
    if (j) ph->Step();
    if (j == iOff) ph->Value("Note", "NoteOff") = 1;
    const double t = j / kEnvRate;
    double dWant = DrawnAt(c, t);
    if (c.bReleases && j >= iOff) dWant = t - tOff >= c.dRelease ? 0 : dHeld * (1 - (t - tOff) / c.dRelease);
    ASSERT_NEAR(ph->Out("Output"), dWant, 1e-5) << c.pszType << " sample " << j;
  }
  EXPECT_EQ(ph->Out("Finished"), c.bReleases ? 1 : 0) << c.pszType;
}

// Stage times of the cases below, in seconds (none a whole number of samples).
const double kA = 0.0101, kD = 0.0153, kR = 0.0207, kW = 0.0077, kI = 0.0055, kP = 0.0123;

INSTANTIATE_TEST_SUITE_P(
    Envelope, EnvelopeSubsetTest,
    ::testing::Values(
        SubsetCase{"AREnv", {{"Attack", "0.0101"}, {"Release", "0.0207"}}, 0, {{kA, 1}}, true, kR},
        SubsetCase{"ASREnv",
                   {{"Attack", "0.0101"}, {"Sustain", "0.3"}, {"Release", "0.0207"}},
                   0,
                   {{kA, 1}, {0, 0.3}},
                   true,
                   kR},
        SubsetCase{"ADEnv", {{"Attack", "0.0101"}, {"Decay", "0.0153"}}, 0, {{kA, 1}, {kD, 0}}, false, 0},
        SubsetCase{"DecayEnv", {{"Decay", "0.0153"}}, 1, {{kD, 0}}, false, 0},
        SubsetCase{"DREnv", {{"Decay", "0.0153"}, {"Release", "0.0207"}}, 1, {{kD, 0}}, true, kR},
        SubsetCase{"WaitEnv", {{"Wait", "0.0077"}}, 0, {{kW, 0}, {0, 1}}, false, 0},
        SubsetCase{
            "WADSREnv",
            {{"Wait", "0.0077"}, {"Attack", "0.0101"}, {"Decay", "0.0153"}, {"Sustain", "0.4"}, {"Release", "0.0207"}},
            0,
            {{kW, 0}, {kA, 1}, {kD, 0.4}},
            true,
            kR},
        SubsetCase{"AIDSREnv",
                   {{"Attack", "0.0101"},
                    {"Impact", "0.0055"},
                    {"Decay", "0.0153"},
                    {"Sustain", "0.4"},
                    {"Release", "0.0207"}},
                   0,
                   {{kA, 1}, {kI, 1}, {kD, 0.4}},
                   true,
                   kR},
        SubsetCase{"ADBPSREnv",
                   {{"Attack", "0.0101"},
                    {"Decay", "0.0153"},
                    {"Break", "0.7"},
                    {"Slope", "0.0123"},
                    {"Sustain", "0.2"},
                    {"Release", "0.0207"}},
                   0,
                   {{kA, 1}, {kD, 0.7}, {kP, 0.2}},
                   true,
                   kR},
        SubsetCase{"ImpactEnv", {{"Impact", "0.0055"}}, 1, {{kI, 1}}, false, 0},
        SubsetCase{"BSEnv", {{"Break", "0.8"}, {"Sustain", "0.3"}}, 0.8, {{0, 0.3}}, false, 0},
        SubsetCase{"SustainEnv", {{"Sustain", "0.35"}}, 0, {{0, 0.35}}, false, 0},
        SubsetCase{"ReleaseEnv", {{"Release", "0.0207"}}, 1, {}, true, kR},
        // The defaults: every time 0, the sustain level 1.
        SubsetCase{"ADSREnv", {}, 0, {{0, 1}}, true, 0}),
    [](const auto& info) { return std::string(info.param.pszType) + (info.param.aSet.empty() ? "Defaults" : ""); });

}  // namespace

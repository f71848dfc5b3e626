// Maps and tunings: the table a formula makes over its grid, look-up by entry index, the note
// outputs of the tunings, the sub-patch tuning's defaults, and the author's messages.
#include "modules/map.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "env_support.h"

namespace {

double Semitones(double dFreqA, double dNote) { return dFreqA * std::pow(2.0, (dNote - 69) / 12); }

// A "Map" with the given settings; Input set to a constant.
std::unique_ptr<ModuleHarness> StartMap(const EnvSettings& aSet, double dInput) {
  auto ph = std::make_unique<ModuleHarness>("Map", kEnvRate);
  const std::string sInput = std::to_string(dInput);
  ph->Set("Input", sInput.c_str());
  for (const auto& set : aSet) ph->Set(set.first, set.second);
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

TEST(MapTypesTest, TablesOfTheThreeKinds) {
  struct {
    const char* pszType;
    std::vector<std::pair<const char*, const char*>> aRows;
    int nOutputs;
    uint32_t attrs;
  } aCases[] = {
      {"Map",
       {{"Input", "0"},
        {"Bypass", "false"},
        {"Interpolate", "Linear"},
        {"ValFrom", "0"},
        {"ValTo", "1"},
        {"ValFormula", "ValInput"},
        {"ValStep", ".01"}},
       2,
       0x1B},
      {"Tuning",
       {{"Bypass", "false"},
        {"Input", "Note:NoteNumber"},
        {"Interpolate", "None"},
        {"ValFrom", "0"},
        {"ValTo", "143"},
        {"ValStep", "1"},
        {"ValFormula", "FreqA + ( ValInput - 69 ) semis"}},
       206,
       0x1B},
      {"SubTuning",
       {{"Bypass", "Super( Tuning:Bypass )"},
        {"Input", "Note:NoteNumber"},
        {"Interpolate", "Super( Tuning:Interpolate )"},
        {"ValFrom", "Super( Tuning:ValFrom )"},
        {"ValTo", "Super( Tuning:ValTo )"},
        {"ValStep", "Super( Tuning:ValStep )"},
        {"ValFormula", "Super( Tuning:ValFormula )"}},
       206,
       0x3B},
  };
  for (const auto& c : aCases) {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(c.pszType);
    ASSERT_NE(ptype, nullptr) << c.pszType;
    EXPECT_STREQ(ptype->ClassName(), "ModMap");
    EXPECT_EQ(ptype->attrs, c.attrs) << c.pszType;
    ASSERT_EQ(ptype->NumInputs(), 7);
    for (int i = 0; i < 7; ++i) {
      const Var& var = ptype->avarInputs[i];
      EXPECT_STREQ(var.pszName, c.aRows[i].first) << c.pszType;
      EXPECT_STREQ(var.pszDefault, c.aRows[i].second) << c.pszType << ":" << var.pszName;
      // The grid is set up once per patch; the map's Input and Bypass as well, a tuning's follow the note.
      const bool bCapped = strncmp(var.pszName, "Val", 3) == 0 || strcmp(var.pszName, "Interpolate") == 0 ||
                           strcmp(c.pszType, "Map") == 0;
      EXPECT_EQ(var.classMax, bCapped ? ClassPerPatch : 0) << c.pszType << ":" << var.pszName;
    }
    EXPECT_EQ(ptype->NumOutputs(), c.nOutputs) << c.pszType;
    EXPECT_STREQ(ptype->avarOutputs[0].pszName, "ValInput");
    EXPECT_EQ(ptype->avarOutputs[0].pfnOutput, nullptr) << "ValInput is a plain field";
    EXPECT_EQ(ptype->avarOutputs[0].classMax, ClassPerPatch);
    EXPECT_STREQ(ptype->avarOutputs[1].pszName, "Output");
  }
}

// "Map" with its defaults tabulates ValInput from 0 in steps of .01 while the sum stays within 1:
// 100 entries, 0 to 0.99, and the input picks an entry by its index.
TEST(MapTest, DefaultGridIsAHundredEntries) {
  struct {
    double dInput, dWant;
  } aCases[] = {{0, 0}, {1, 0.01}, {42.7, 0.42}, {99, 0.99}, {100, 0.99}, {1000, 0.99}, {-3, 0}};
  for (const auto& c : aCases) {
    auto ph = StartMap({}, c.dInput);
    EXPECT_NEAR(ph->Out("Output"), c.dWant, 1e-12) << c.dInput;
  }
}

// A formula over another grid; the look-up never interpolates between entries, whatever
// Interpolate says: a fractional index answers the entry below it.
TEST(MapTest, FormulaOverAGridLookedUpByIndex) {
  struct {
    const char* pszInterpolate;
    double dInput, dWant;
  } aCases[] = {{"Linear", 0, 1},   {"Linear", 3, 6.25}, {"Linear", 8, 25},   {"Linear", 9, 25},
                {"Linear", 2.6, 4}, {"None", 2.6, 4},    {"Nearest", 2.6, 4}, {"Nearest", 7.99, 20.25}};
  for (const auto& c : aCases) {
    auto ph = StartMap({{"ValFrom", "1"},
                        {"ValTo", "5"},
                        {"ValStep", "0.5"},
                        {"ValFormula", "ValInput * ValInput"},
                        {"Interpolate", c.pszInterpolate}},
                       c.dInput);
    EXPECT_DOUBLE_EQ(ph->Out("Output"), c.dWant) << c.pszInterpolate << " " << c.dInput;
  }
}

// Grids that would not end are cut after 5002 entries, with a message; an empty grid answers 0.
TEST(MapTest, OverlongAndEmptyGrids) {
  struct {
    const char* pszFrom;
    const char* pszTo;
    const char* pszStep;
    double dInput, dWant;
    bool bMessage;
  } aCases[] = {{"0", "1000000", "1", 1e9, 5001, true},
                {"0", "0", "-1", 1e9, -5001, true},
                {"0", "5000", "1", 1e9, 5000, false},
                {"2", "1", "1", 0, 0, false}};
  for (const auto& c : aCases) {
    ErrorList::Get()->Clear();
    auto ph = StartMap({{"ValFrom", c.pszFrom}, {"ValTo", c.pszTo}, {"ValStep", c.pszStep}}, c.dInput);
    EXPECT_EQ(ph->Out("Output"), c.dWant) << c.pszTo << " " << c.pszStep;
    EXPECT_EQ(ErrorListHas("Map: loop ValFrom ... ValTo is taking > 5000 iterations"), c.bMessage) << c.pszTo;
  }
}

TEST(MapTest, BypassPassesTheInput) {
  auto ph = StartMap({{"Bypass", "true"}}, 3.3);
  EXPECT_DOUBLE_EQ(ph->Out("Output"), 3.3);
}

TEST(MapTest, WithoutAFormulaRecordThereIsNoMap) {
  ErrorList::Get()->Clear();
  ModuleHarness h("Map", kEnvRate);
  h.Omit("ValFormula");
  EXPECT_EQ(h.Start(), 1);
  EXPECT_TRUE(ErrorListHas("Map<1>: unreached, so not calculating map"));
}

// A tuning with its defaults: note 69 is FreqA, an octave up twice that, and the note number is
// clamped to the table's 144 notes.
TEST(TuningTest, NoteNumbersBecomeFrequencies) {
  struct {
    double dFreqA, dNote, dWant;
  } aCases[] = {{440, 69, 440},
                {440, 81, 880},
                {440, 57, 220},
                {442, 69, 442},
                {442, 60, Semitones(442, 60)},
                {440, 143, Semitones(440, 143)},
                {440, 200, Semitones(440, 143)},
                {440, -3, Semitones(440, 0)}};
  for (const auto& c : aCases) {
    ModuleHarness h("Tuning", kEnvRate);
    h.AddContext("Note", "NoteNumber");
    h.AddContext("Global", "FreqA", std::to_string(c.dFreqA).c_str());
    ASSERT_EQ(h.Start(), 0);
    h.Value("Note", "NoteNumber") = c.dNote;
    EXPECT_NEAR(h.Out("Output"), c.dWant, 1e-9 * c.dWant) << c.dFreqA << " note " << c.dNote;
    // Each note gets its own look-up.
    h.Retrigger();
    h.Value("Note", "NoteNumber") = 69;
    EXPECT_NEAR(h.Out("Output"), c.dFreqA, 1e-9) << "the next note";
  }
}

// The note number a note name stands for: pitch class, sharp or flat, octave (C4 is 60).
int NoteOfName(const char* pszName) {
  static const int aiClass[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  int iNote = aiClass[pszName[0] - 'A'];
  const char* p = pszName + 1;
  if (*p == '#')
    ++iNote, ++p;
  else if (*p == 'b')
    --iNote, ++p;
  return iNote + 12 * (atoi(p) + 1);
}

// Every named note output, C-1 to B10 with the flat aliases, reads its note's frequency.
TEST(TuningTest, NoteOutputsNameEveryNote) {
  ModuleHarness h("Tuning", kEnvRate);
  h.AddContext("Note", "NoteNumber");
  h.AddContext("Global", "FreqA", "440");
  ASSERT_EQ(h.Start(), 0);
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Tuning");
  int nNotes = 0;
  for (const Var* pvar = ptype->avarOutputs + 2; pvar->pszName; ++pvar, ++nNotes) {
    const int iNote = NoteOfName(pvar->pszName);
    ASSERT_GE(iNote, 0) << pvar->pszName;
    ASSERT_LT(iNote, 144) << pvar->pszName;
    EXPECT_EQ(pvar->classMax, ClassPerPatch) << pvar->pszName;
    EXPECT_NEAR(h.Out(pvar->pszName), Semitones(440, iNote), 1e-9 * Semitones(440, iNote)) << pvar->pszName;
  }
  EXPECT_EQ(nNotes, 204);
  EXPECT_DOUBLE_EQ(h.Out("A4"), 440);
  EXPECT_DOUBLE_EQ(h.Out("C-1"), Semitones(440, 0));
  EXPECT_DOUBLE_EQ(h.Out("B10"), Semitones(440, 143));
  // Sharps and their flat aliases share one slot.
  for (auto [pszSharp, pszFlat] : {std::pair{"C#4", "Db4"}, {"A#-1", "Bb-1"}, {"F#10", "Gb10"}}) {
    const Var* pvarSharp = h.Find("Tuning", pszSharp);
    const Var* pvarFlat = h.Find("Tuning", pszFlat);
    ASSERT_NE(pvarSharp, nullptr);
    ASSERT_NE(pvarFlat, nullptr);
    EXPECT_EQ(pvarSharp->pvalue, pvarFlat->pvalue) << pszSharp;
  }
}

// A sub-patch's tuning takes its grid and bypass from the enclosing patch's Tuning through
// Super(); its formula text is the parent's, copied in by the loader (set here as it would be).
TEST(TuningTest, SubTuningFollowsTheParent) {
  struct {
    const char* pszFrom;
    const char* pszTo;
    const char* pszStep;
    const char* pszBypass;
    const char* pszFormula;
    double dInput, dWant;
  } aCases[] = {
      {"0", "143", "1", "false", "FreqA + ( ValInput - 69 ) semis", 69, 440},
      {"0", "143", "1", "false", "FreqA + ( ValInput - 69 ) semis", 81, 880},
      {"12", "24", "2", "false", "ValInput * 10", 3, 180},
      {"0", "143", "1", "true", "FreqA + ( ValInput - 69 ) semis", 81, 81},
  };
  for (const auto& c : aCases) {
    ModuleHarness h("SubTuning", kEnvRate, false, "Tuning");
    h.PlaceInSubPatch();
    h.AddContext("Note", "NoteNumber");
    h.AddContextAt(0, "Global", "FreqA", "440");
    h.AddContextAt(1, "Tuning", "Bypass", c.pszBypass);
    h.AddContextAt(1, "Tuning", "Interpolate", "None");
    h.AddContextAt(1, "Tuning", "ValFrom", c.pszFrom);
    h.AddContextAt(1, "Tuning", "ValTo", c.pszTo);
    h.AddContextAt(1, "Tuning", "ValStep", c.pszStep);
    h.Set("ValFormula", c.pszFormula);
    ASSERT_EQ(h.Start(), 0);
    h.Value("Note", "NoteNumber") = c.dInput;
    EXPECT_NEAR(h.Out("Output"), c.dWant, 1e-9) << c.pszFormula << " " << c.dInput;
    if (strcmp(c.pszStep, "1") == 0 && strcmp(c.pszBypass, "false") == 0) {
      EXPECT_NEAR(h.Out("A4"), 440, 1e-9);
    }
  }
}

}  // namespace

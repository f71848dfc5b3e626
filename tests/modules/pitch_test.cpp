// Tests of the "Pitch" kind: the default chain from key to frequency through its default formulas,
// each factor of the chain, and the warnings about factors set to a constant 0.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "module_harness.h"
#include "osc_signal.h"

namespace {

using Key = std::pair<std::string, std::string>;  // module, variable

// The records the default formulas read, standing in for Tuning, Portamento, Channel, Note, Patch,
// Global and LFOVibrato at rest: note 69, A at 440 Hz, no bend, no modulation wheel, one voice per note.
std::map<Key, std::string> RestingContext() {
  return {
      {{"Global", "FreqA"}, "440"},
      {{"Note", "NoteNumber"}, "69"},
      {{"Note", "VoicePerNote"}, "0"},
      {{"Tuning", "ValInput"}, "Note:NoteNumber"},
      {{"Tuning", "Output"}, "FreqA + ( ValInput - 69 ) semis"},
      {{"Portamento", "Input"}, "Tuning:Output"},
      {{"Portamento", "Output"}, "Input"},
      {{"Channel", "PitchBend"}, "0"},
      {{"Channel", "ModWheel"}, "0"},
      {{"Patch", "VoicesPerNote"}, "1"},
      {{"LFOVibrato", "Output"}, "0"},
  };
}

double Semis(double d) { return std::pow(2.0, d / 12); }
double Cents(double d) { return std::pow(2.0, d / 1200); }

struct ChainCase {
  const char* pszWhat;
  std::vector<std::pair<const char*, const char*>> aPitch;  // Pitch variables set by the patch
  std::vector<std::pair<Key, const char*>> aContext;        // context changed from rest
  double dHz;
};
void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.pszWhat; }
class PitchChainTest : public ::testing::TestWithParam<ChainCase> {};

}  // namespace

TEST_P(PitchChainTest, OutputIsTheFrequencyTheNoteShouldSound) {
  const ChainCase& c = GetParam();
  std::map<Key, std::string> mapContext = RestingContext();
  for (const auto& [key, pszFormula] : c.aContext) mapContext[key] = pszFormula;
  ErrorList::Get()->Clear();
  ModuleHarness h("Pitch");
  for (const auto& [key, sFormula] : mapContext) h.AddContext(key.first.c_str(), key.second.c_str(), sFormula.c_str());
  for (const auto& [pszVar, pszFormula] : c.aPitch) h.Set(pszVar, pszFormula);
  EXPECT_EQ(h.Start(), 0);
  EXPECT_NEAR(h.Out("Output"), c.dHz, c.dHz * 1e-12) << c.pszWhat;
  h.Step();
  EXPECT_NEAR(h.Out("Output"), c.dHz, c.dHz * 1e-12) << c.pszWhat << ", a sample later";
  EXPECT_TRUE(ErrorTexts().empty()) << c.pszWhat;
}

INSTANTIATE_TEST_SUITE_P(
    DefaultFormulas, PitchChainTest,
    ::testing::Values(ChainCase{"note 69 at A 440", {}, {}, 440},
                      ChainCase{"note 81", {}, {{{"Note", "NoteNumber"}, "81"}}, 880},
                      ChainCase{"note 57", {}, {{{"Note", "NoteNumber"}, "57"}}, 220},
                      ChainCase{"middle C", {}, {{{"Note", "NoteNumber"}, "60"}}, 440 * Semis(-9)},
                      ChainCase{"A at 432 Hz", {}, {{{"Global", "FreqA"}, "432"}}, 432},
                      ChainCase{"defaults pass the input", {{"Input", "261.6"}}, {}, 261.6},
                      ChainCase{"octave up", {{"Octave", "1 octave"}}, {}, 880},
                      ChainCase{"octave down", {{"Octave", "-1 octave"}}, {}, 220},
                      ChainCase{"no octave", {{"Octave", "0 octaves"}}, {}, 440},
                      ChainCase{"transpose a fifth", {{"Transpose", "7 semis"}}, {}, 440 * Semis(7)},
                      ChainCase{"detune", {{"Detune", "-10 cents"}}, {}, 440 * Cents(-10)},
                      ChainCase{"pitch envelope", {{"PitchEnv", "3 semis"}}, {}, 440 * Semis(3)},
                      ChainCase{"bend up fully", {}, {{{"Channel", "PitchBend"}, "1"}}, 440 * Semis(2)},
                      ChainCase{"bend down halfway", {}, {{{"Channel", "PitchBend"}, "-0.5"}}, 440 * Semis(-1)},
                      ChainCase{
                          "bend range an octave", {{"BendRange", "12 semis"}}, {{{"Channel", "PitchBend"}, "1"}}, 880},
                      ChainCase{"manual vibrato at its peak",
                                {{"VibManual", "50 cents"}},
                                {{{"LFOVibrato", "Output"}, "1"}},
                                440 * Cents(50)},
                      ChainCase{"manual vibrato at its trough",
                                {{"VibManual", "50 cents"}},
                                {{{"LFOVibrato", "Output"}, "-1"}},
                                440 * Cents(-50)},
                      ChainCase{"mod wheel half up",
                                {},
                                {{{"Channel", "ModWheel"}, "0.5"}, {{"LFOVibrato", "Output"}, "1"}},
                                440 * Cents(20)},
                      ChainCase{"largest depth wins",
                                {{"VibManual", "10 cents"}},
                                {{{"Channel", "ModWheel"}, "1"}, {{"LFOVibrato", "Output"}, "1"}},
                                440 * Cents(40)},
                      ChainCase{"vibrato envelope, half swing",
                                {{"VibEnv", "30 cents"}},
                                {{{"LFOVibrato", "Output"}, "0.5"}},
                                440 * Cents(15)},
                      ChainCase{"vibrato source of the patch's own",
                                {{"VibManual", "100 cents"}, {"VibSource", "0.25"}},
                                {},
                                440 * Cents(25)},
                      ChainCase{"unison, first voice", {}, {{{"Patch", "VoicesPerNote"}, "2"}}, 440},
                      ChainCase{"unison, second voice",
                                {},
                                {{{"Patch", "VoicesPerNote"}, "2"}, {{"Note", "VoicePerNote"}, "1"}},
                                440 * Cents(40.0 * -23 / 37)},
                      ChainCase{"unison, fifth voice",
                                {},
                                {{{"Patch", "VoicesPerNote"}, "8"}, {{"Note", "VoicePerNote"}, "4"}},
                                440 * Cents(40.0 * 31 / 37)},
                      ChainCase{"unison, eighth voice",
                                {},
                                {{{"Patch", "VoicesPerNote"}, "8"}, {{"Note", "VoicePerNote"}, "7"}},
                                440 * Cents(-40)},
                      ChainCase{"unison beyond eight voices",
                                {},
                                {{{"Patch", "VoicesPerNote"}, "12"}, {{"Note", "VoicePerNote"}, "10"}},
                                440 * Cents(-40)},
                      ChainCase{"unison spread",
                                {{"UnisonSpread", "100 cents"}},
                                {{{"Patch", "VoicesPerNote"}, "3"}, {{"Note", "VoicePerNote"}, "2"}},
                                440 * Cents(100.0 * 11 / 37)},
                      ChainCase{"everything at once",
                                {{"Octave", "1 octave"}, {"Transpose", "5 semis"}, {"Detune", "7 cents"}},
                                {{{"Channel", "PitchBend"}, "0.5"}, {{"Note", "NoteNumber"}, "57"}},
                                220 * 2 * Semis(5) * Cents(7) * Semis(1)}));

// ---------------------------------------------------------------------------------------------
// Warnings about factors of constant 0.

struct WarningCase {
  const char* pszVar;
  const char* pszFormula;
  const char* pszMessage;  // or none
};
void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.pszVar << " = " << c.pszFormula; }
class PitchWarningTest : public ::testing::TestWithParam<WarningCase> {};

TEST_P(PitchWarningTest, ConstantZeroFactorsAreReported) {
  const WarningCase& c = GetParam();
  ErrorList::Get()->Clear();
  ModuleHarness h("Pitch", 44100, false, "Pitch2");
  h.AddContext("Channel", "ModWheel", "0");
  h.Set(c.pszVar, c.pszFormula);
  EXPECT_EQ(h.Start(), 0) << "a warning never fails the set-up";
  std::vector<std::string> asExpected;
  if (c.pszMessage) asExpected.push_back(std::string(c.pszMessage) + " x1");
  EXPECT_EQ(ErrorTexts(), asExpected) << c.pszVar << " = " << c.pszFormula;
  ErrorList::Get()->Clear();
}

INSTANTIATE_TEST_SUITE_P(
    Factors, PitchWarningTest,
    ::testing::Values(
        WarningCase{"Octave", "0", "Pitch2:Octave has a constant value of 0; normally you want \"0 octaves\" instead"},
        WarningCase{"Transpose", "0",
                    "Pitch2:Transpose has a constant value of 0; normally you want \"0 semis\" instead"},
        WarningCase{"Detune", "0", "Pitch2:Detune has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"PitchEnv", "0",
                    "Pitch2:PitchEnv has a constant value of 0; normally you want \"0 semis\" instead"},
        WarningCase{"VibManual", "0",
                    "Pitch2:VibManual has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"VibControl", "0",
                    "Pitch2:VibControl has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"VibEnv", "0", "Pitch2:VibEnv has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"BendRange", "0",
                    "Pitch2:BendRange has a constant value of 0; normally you want \"0 semis\" instead"},
        WarningCase{"UnisonDetune", "0",
                    "Pitch2:UnisonDetune has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"UnisonSpread", "0",
                    "Pitch2:UnisonSpread has a constant value of 0; normally you want \"0 cents\" instead"},
        WarningCase{"Octave", "0.0",
                    "Pitch2:Octave has a constant value of 0; normally you want \"0 octaves\" instead"},
        WarningCase{"Octave", "0 octaves", nullptr},  // the ratio 1
        WarningCase{"Transpose", "1", nullptr},       // a ratio of 1 is no mistake
        WarningCase{"Detune", "0.5", nullptr},
        WarningCase{"Octave", "Channel:ModWheel", nullptr},  // varying: never warned, even at 0
        WarningCase{"VibSource", "0", nullptr},              // an exponent: 0 is simply no vibrato
        WarningCase{"Input", "0", nullptr},                  // the input, not a factor
        WarningCase{"Output", "0", nullptr}));

// vantrel modules: the module reference a patch author reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_vantrel.h"

TEST(ModulesE2E, ListsEveryStructuralType) {
  VantrelRun r = RunVantrel("modules");
  ASSERT_EQ(r.iExit, 0);
  for (const char* psz : {"Channel ", "Note ", "Voice ", "Patch ", "Global ", "Interface ", "Pkg ", "Sub ",
                          "DummyPatch ", "DummyVoice ", "DummyNote ", "DummyChannel ", "DummyPitch "})
    EXPECT_TRUE(std::regex_search(r.sOut, std::regex(std::string("\n") + psz))) << psz;
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\nChannel +ModChannel +0 +216 )")));
}

TEST(ModulesE2E, ShowsOneTypesVariables) {
  VantrelRun r = RunVantrel("modules Voice");
  ASSERT_EQ(r.iExit, 0);
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Result +number +per-sample +channels +PreGain \* EnvGain:Amp\n)")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Finished +boolean +none +- +EnvGain:Finished\n)")));
  r = RunVantrel("modules Note");
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Velocity +number +constant +midi +\n)")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Time +number +per-sample +- +\n)")));
  r = RunVantrel("modules Channel");
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  NoteDownC4 +number +constant +midi never-folded +\n)")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(0 inputs, 216 outputs)")));
}

TEST(ModulesE2E, UnknownTypeIsAUsageError) {
  VantrelRun r = RunVantrel("modules Nope");
  EXPECT_EQ(r.iExit, 2);
  EXPECT_EQ(r.sErr, "vantrel: no module type named \"Nope\" (vantrel modules lists them)\n");
}

// The envelope's stage types are made at start-up; a patch may name every one of them, so the
// listing has all 256 and each can be shown.
TEST(ModulesE2E, ListsAndShowsTheEnvelopeStageTypes) {
  VantrelRun r = RunVantrel("modules");
  ASSERT_EQ(r.iExit, 0);
  std::regex envelopeRow(R"(\n\w*Env +ModEnvelope +\d+ +7 +multi-mono)");
  auto nRows = std::distance(std::sregex_iterator(r.sOut.begin(), r.sOut.end(), envelopeRow), std::sregex_iterator());
  EXPECT_EQ(nRows, 1 + 256) << "Env and the stage types";
  for (const char* psz : {"GateEnv +ModEnvelope +5 ", "WaitEnv +ModEnvelope +6 ", "ReleaseEnv +ModEnvelope +6 ",
                          "AREnv +ModEnvelope +7 ", "ADSREnv +ModEnvelope +9 ", "WAIDBPSREnv +ModEnvelope +13 "})
    EXPECT_TRUE(std::regex_search(r.sOut, std::regex(std::string("\n") + psz))) << psz;
  r = RunVantrel("modules ADSREnv");
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(^ADSREnv \(class ModEnvelope\): 9 inputs, 7 outputs\n)")));
  EXPECT_TRUE(std::regex_search(
      r.sOut, std::regex(R"(\n  Attack +number[^\n]+ 0\n {6}\S[^\n]*\n  Decay +number[^\n]+ 0\n {6}\S[^\n]*\n)"
                         R"(  Sustain +number[^\n]+ 1\n {6}\S[^\n]*\n  Release +number[^\n]+ 0\n {6}\S[^\n]*\n  Bypass )")))
      << r.sOut;
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Finished +boolean )")));
}

// Under each variable its meaning, so that the listing is a reference without the manual.
TEST(ModulesE2E, PrintsEachVariablesDescription) {
  VantrelRun r = RunVantrel("modules Osc");
  ASSERT_EQ(r.iExit, 0);
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Frequency +number +none +- +Pitch\n {6}Hz: [^\n]+\n)")))
      << r.sOut;
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n  Waveform [^\n]+\n {6}keyword: Sawtooth, Square, Triangle)")));
  // Every row of every listing is followed by its description.
  for (const char* pszType : {"Osc", "Delay", "Patch", "Channel", "Tuning", "WAIDBPSREnv", "DummyPitch"}) {
    r = RunVantrel(std::string("modules ") + pszType);
    ASSERT_EQ(r.iExit, 0) << pszType;
    std::regex rowThenHelp(R"(\n  (\S+) +(number|text|boolean|keyword) [^\n]*\n( {6}\S)?)");
    int nRows = 0;
    for (auto it = std::sregex_iterator(r.sOut.begin(), r.sOut.end(), rowThenHelp); it != std::sregex_iterator(); ++it) {
      ++nRows;
      EXPECT_TRUE((*it)[3].matched) << pszType << ":" << (*it)[1] << " has no description";
    }
    EXPECT_GT(nRows, 2) << pszType;
  }
}

TEST(ModulesE2E, MarkdownGivesTheReferenceTables) {
  VantrelRun r = RunVantrel("modules --markdown Osc");
  ASSERT_EQ(r.iExit, 0);
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(^Class `ModOscillator`; attributes: bypass silences, multi-mono\.\n)")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n\| `Frequency` \| number \| `Pitch` \| Hz: [^|\n]+ \|\n)")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n\*\*Outputs\*\*\n\n\| Name \| Kind \| Description \|\n)")));
  // A cap below per-sample is worth knowing: it shows in the description.
  r = RunVantrel("modules --markdown Swarm");
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\| `Count` \| number \| `7` \| [^|\n]+ \*\(at most per-patch\)\* \|)")))
      << r.sOut;
  // The index links one page per type, and one page for all the envelope stage types.
  r = RunVantrel("modules --markdown");
  ASSERT_EQ(r.iExit, 0);
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\n\| \[Osc\]\(modules/Osc\.md\) \| 7 \| 7 \| )")));
  EXPECT_TRUE(std::regex_search(r.sOut, std::regex(R"(\(modules/EnvStages\.md\) \| 256 stage types \|)")));
  EXPECT_FALSE(std::regex_search(r.sOut, std::regex(R"(\[ADSREnv\])")));
}

// ---- Declarations ---------------------------------------------------------------------------

// A type's declaration as `vantrel modules TYPE` shows it (class, attributes, helper, every input
// and output in order with its kind, cap, flags and default formula, the numbered names), without
// the description lines under each variable, which say what it means rather than what it is.
std::string Declaration(const std::string& sListing) {
  std::istringstream in(sListing);
  std::string sLine, s;
  while (std::getline(in, sLine)) {
    if (sLine.rfind("      ", 0) == 0) continue;
    sLine.erase(sLine.find_last_not_of(' ') + 1);
    s += sLine + "\n";
  }
  return s;
}

// The types with an expected declaration in tests/data/modules/TYPE.txt.
std::vector<std::string> DeclaredTypes() {
  std::vector<std::string> as;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(DataPath("modules"), ec))
    if (entry.path().extension() == ".txt") as.push_back(entry.path().stem().string());
  std::sort(as.begin(), as.end());
  if (as.empty()) as.push_back("(none)");
  return as;
}

class ModuleDeclaration : public testing::TestWithParam<std::string> {};

// The declaration tables are what a patch is compiled against: a row missing, renamed, moved, of
// another kind or cap, or with another default changes what patches mean. The expected texts are
// written from the modules' documented tables; a deliberate change of a table changes its file.
TEST_P(ModuleDeclaration, IsAsDocumented) {
  const std::string sType = GetParam();
  const std::string sExpected = ReadText(DataPath("modules/" + sType + ".txt"));
  ASSERT_FALSE(sExpected.empty()) << "tests/data/modules holds no declarations";
  VantrelRun r = RunVantrel("modules " + sType);
  ASSERT_EQ(r.iExit, 0) << r.sErr;
  const std::string sActual = Declaration(r.sOut);
  if (sActual == sExpected) return;
  // Name the first line that differs, which is the row at fault.
  std::istringstream inWant(sExpected), inGot(sActual);
  std::string sWant, sGot;
  for (int iLine = 1;; ++iLine) {
    bool bWant = static_cast<bool>(std::getline(inWant, sWant)), bGot = static_cast<bool>(std::getline(inGot, sGot));
    if (bWant && bGot && sWant == sGot) continue;
    ADD_FAILURE() << sType << ".txt line " << iLine << ": expected\n  " << (bWant ? sWant : "(end)") << "\nbut vantrel modules "
                  << sType << " declares\n  " << (bGot ? sGot : "(end)");
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, ModuleDeclaration, testing::ValuesIn(DeclaredTypes()), FileTestName);

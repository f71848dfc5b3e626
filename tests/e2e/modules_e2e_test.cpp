// vantrel modules: the module reference a patch author reads.
#include <gtest/gtest.h>

#include <regex>

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

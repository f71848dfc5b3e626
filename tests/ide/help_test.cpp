// The help window's topics: each names the manual's page that the window opens.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/appcore.h"
#include "ide/helptopics.h"
#include "patch/moduletype.h"

namespace {

namespace fs = std::filesystem;

// The pages as they are in docs/, the folder the program builds into itself.
bool InDocs(const std::string& sPage) { return fs::is_regular_file(fs::path(VANTREL_DOCS) / sPage); }

class HelpTopics : public testing::Test {
 protected:
  void SetUp() override { InitSharedTables(); }
};

}  // namespace

TEST_F(HelpTopics, ATopicMapsToItsPage) {
  const struct {
    const char* pszTopic;
    const char* pszPage;
  } aCase[] = {
      {"Osc", "modules/Osc.md"},            // the editor's F1 on a section of type Osc
      {"  LFO ", "modules/LFO.md"},         // blanks around a word
      {"osc", "modules/Osc.md"},            // case as typed
      {"EnvGain", "modules/Env.md"},        // a section name chooses its type as a patch does
      {"Osc1", "modules/Osc.md"},
      {"ADSREnv", "modules/EnvStages.md"},  // the stage types share a page
      {"WAIDBPSREnv", "modules/EnvStages.md"},
      {"Env", "modules/Env.md"},
      {"DummyPitch", "modules/DummyPitch.md"},
      {"LinFade", "functions.md"},          // functions, operators and units
      {"semis", "functions.md"},
      {"<>", "functions.md"},
      {"language", "language.md"},
      {"Modules", "modules.md"},
      {"", "README.md"},
      {"NoSuchThing", ""},                  // the window then shows the contents
  };
  for (const auto& c : aCase) {
    EXPECT_EQ(HelpPageForTopic(c.pszTopic, InDocs), c.pszPage) << '"' << c.pszTopic << '"';
    if (*c.pszPage) {
      EXPECT_TRUE(InDocs(c.pszPage)) << c.pszPage;
    }
  }
}

// Every module type a patch may name has a page the window can open.
TEST_F(HelpTopics, EveryModuleTypeHasAPage) {
  int nTypes = 0;
  for (const ModuleType* ptype : ModuleFactory::Get()->aptype) {
    ++nTypes;
    std::string sPage = HelpPageForTopic(ptype->pszName, InDocs);
    EXPECT_FALSE(sPage.empty()) << ptype->pszName;
  }
  EXPECT_GT(nTypes, 290);
}

// A page that is not there is no answer: the window falls back to the contents.
TEST_F(HelpTopics, AMissingPageIsNoAnswer) {
  EXPECT_EQ(HelpPageForTopic("Osc", [](const std::string&) { return false; }), "");
  EXPECT_EQ(HelpPageForTopic("", [](const std::string&) { return false; }), "");
}

// The anchors the manual's links use ("language.md#units") are the ones its headings get.
TEST(HelpAnchors, AHeadingGetsTheAnchorItsLinksUse) {
  EXPECT_EQ(HelpAnchor("Units"), "units");
  EXPECT_EQ(HelpAnchor("References: Module:Variable"), "references-modulevariable");
  EXPECT_EQ(HelpAnchor("Evaluation classes, and why they matter for speed"),
            "evaluation-classes-and-why-they-matter-for-speed");
  EXPECT_EQ(HelpAnchor("Packages and versions"), "packages-and-versions");
}

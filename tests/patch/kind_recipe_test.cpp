// The recipe for a new module kind, followed once: "Fold" (fold.h, fold.cpp) is registered in this
// program only, with its place in ModuleOrder, and the patch compiler plays it like any other kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/appcore.h"
#include "patch/patch.h"

namespace {

struct FoldCase {
  const char* pszSection;  // the section "Folder", which plays a Fold
  double dExpected;        // every frame of a held note
};

// A voice that plays the folder and never ends, so every frame is the folder's output.
const char* kVoice = "[Voice]\nResult = Folder\nFinished = 0\n";

}  // namespace

TEST(KindRecipe, TheNewKindIsListedWithItsClass) {
  ModuleType* ptype = ModuleFactory::Get()->Lookup("Fold");
  ASSERT_NE(ptype, nullptr);
  EXPECT_STREQ(ptype->ClassName(), "ModFold");
  EXPECT_EQ(ModuleFactory::Get()->Find(nullptr, "Fold2"), ptype);  // a section named without ModuleType
}

TEST(KindRecipe, APatchPlaysTheNewKind) {
  AppCore core(std::string(VANTREL_TEST_DATA) + "/install");
  const FoldCase acase[] = {
      {"[Folder]\nModuleType = Fold\nInput = 0.25\n", 0.25},            // inside -1..1: unchanged
      {"[Folder]\nModuleType = Fold\nInput = 1.5\n", 0.5},              // reflected at 1
      {"[Folder]\nModuleType = Fold\nInput = -1.25\n", -0.75},          // reflected at -1
      {"[Folder]\nModuleType = Fold\nInput = 0.75\nDrive = 4\n", -1},   // driven to 3: folded twice
      {"[Folder]\nModuleType = Fold\nInput = 1.5\nBypass = true\n", 1.5},  // bypassed: Input passes
      {"[Folder]\nInput = 1.5\n", 0.5},                                 // found by its name
  };
  int nFile = 0;
  for (const FoldCase& c : acase) {
    std::string sPath = testing::TempDir() + "/kind_recipe_" + std::to_string(nFile++) + ".vantrel";
    std::ofstream(sPath) << kVoice << c.pszSection;
    std::unique_ptr<Patch> ppatch(core.CompilePatchFile(sPath.c_str(), 0));
    std::filesystem::remove(sPath);
    ASSERT_TRUE(ppatch && ppatch->bCompiled) << c.pszSection;
    ppatch->NoteOn(60, 0.5);
    for (int i = 0; i < 16; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
      ASSERT_DOUBLE_EQ(adFrame[0], c.dExpected) << c.pszSection << "frame " << i;
    }
  }
}

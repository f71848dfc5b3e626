// The application core: LoadPatch's slot and editor, and what patches see of the engine settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "patch/patch.h"

namespace {

std::string Install() { return std::string(VANTREL_TEST_DATA) + "/install"; }

std::string WritePatch(const std::string& sName, const std::string& sText) {
  std::string sPath = testing::TempDir() + "/appcore_" + sName;
  std::ofstream(sPath) << sText;
  return sPath;
}

// An editor that records what LoadPatch shows it.
class RecordingEditor : public EditorHooks {
 public:
  bool Exists() override { return true; }
  void Create() override {}
  bool SaveQuery() override { return true; }
  void ClearErrorMarks() override {}
  void Show(int, const char* pszPath, const char*) override { asShown.push_back(pszPath); }
  void SetCompileErrors(int) override { ++nCompileErrors; }
  std::vector<std::string> asShown;
  int nCompileErrors = 0;
};

// Zero crossings upward per second of one channel rendered from a patch with one note held.
double RenderedFrequency(Patch* ppatch, double dRate) {
  ppatch->NoteOn(69, 1);
  std::vector<double> ad;
  for (int i = 0; i < static_cast<int>(dRate); ++i) {
    double adFrame[2] = {0, 0};
    ppatch->RenderFrame(adFrame, 2);
    ad.push_back(adFrame[0]);
  }
  double tFirst = -1, tLast = -1;
  int n = 0;
  for (size_t i = ad.size() / 10; i < ad.size(); ++i)
    if (ad[i - 1] < 0 && ad[i] >= 0) {
      double t = (static_cast<double>(i) - 1 + -ad[i - 1] / (ad[i] - ad[i - 1])) / dRate;
      if (tFirst < 0) tFirst = t;
      tLast = t;
      ++n;
    }
  return n > 1 ? (n - 1) / (tLast - tFirst) : 0;
}

}  // namespace

// A path handed over in double quotes is read, kept in the slot and shown to the editor without
// them, for a patch that compiles and for one that does not.
TEST(AppCoreLoadPatch, AQuotedPathLosesItsQuotes) {
  AppCore core(Install());
  RecordingEditor editor;
  core.peditor = &editor;
  std::string sGood = WritePatch("good.vantrel", "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = Osc1\n");
  ASSERT_EQ(core.LoadPatch(("\"" + sGood + "\"").c_str(), 0, true, 0, nullptr), 0);
  ASSERT_GE(core.Slots().N(), 1);
  EXPECT_STREQ(core.Slots()[0].szPath, sGood.c_str());
  std::string sBad = WritePatch("bad.vantrel", "[Osc1]\nFrequency = Nowhere\n");
  EXPECT_EQ(core.LoadPatch(("\"" + sBad + "\"").c_str(), 0, true, 0, nullptr), -1);
  EXPECT_STREQ(core.Slots()[0].szPath, sGood.c_str()) << "the slot keeps the patch that compiled";
  EXPECT_EQ(editor.asShown, (std::vector<std::string>{sGood, sBad}));
  EXPECT_EQ(editor.nCompileErrors, 1);
  std::filesystem::remove(sGood);
  std::filesystem::remove(sBad);
}

// A settings file whose FreqEval the engine refuses: patches read Global:FreqEval as the rate the
// engine runs at, so an oscillator at FreqEval / 100 sounds at 441 Hz, not at a tenth of a hertz.
TEST(AppCoreSettings, PatchesSeeTheRateTheEngineUses) {
  for (const char* pszSetting : {"FreqEval = 10", "FreqEval = 44100 * 2"}) {
    AppCore core(Install(), {pszSetting});
    ASSERT_EQ(core.Engine()->dFreqEval, 44100) << pszSetting;
    std::string sPath =
        WritePatch("rate.vantrel", "[Osc1]\nFrequency = Global:FreqEval / 100\nWaveform = Sine\n[Voice]\nPreGain = Osc1\n");
    std::unique_ptr<Patch> ppatch(core.CompilePatchFile(sPath.c_str(), 0));
    std::filesystem::remove(sPath);
    ASSERT_TRUE(ppatch && ppatch->bCompiled) << pszSetting;
    EXPECT_NEAR(RenderedFrequency(ppatch.get(), 44100), 441, 0.5) << pszSetting;
  }
}

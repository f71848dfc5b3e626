// Every shipped patch: compiles without a message, sounds on a chord, stays finite, says what it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/regress.h"
#include "e2e/run_vantrel.h"
#include "formula/errorlist.h"
#include "patch/patch.h"

namespace fs = std::filesystem;

namespace {

const std::string kInstall = VANTREL_INSTALLATION;

std::vector<std::string> ShippedPatches() {
  std::vector<std::string> as;
  for (const std::string& sPath : CollectPatchFiles(kInstall + "/patch")) as.push_back(sPath.substr(kInstall.size() + 7));
  return as;
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  for (char& c : s)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}

std::string Diagnostics() {
  std::string s;
  for (const ErrorListNode& node : ErrorList::Get()->anode) s += std::to_string(node.iLine) + ": " + node.psz + "\n";
  return s;
}

class ShippedPatch : public testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { pcore = new AppCore(kInstall); }
  static void TearDownTestSuite() {
    delete pcore;
    pcore = nullptr;
  }
  static AppCore* pcore;
};
AppCore* ShippedPatch::pcore = nullptr;

TEST_P(ShippedPatch, CompilesCleanlySoundsOnAChordAndStaysFinite) {
  std::string sPath = kInstall + "/patch/" + GetParam();
  std::unique_ptr<Patch> ppatch(pcore->CompilePatchFile(sPath.c_str(), 0));
  ASSERT_TRUE(ppatch);
  ASSERT_TRUE(ppatch->bCompiled) << Diagnostics();
  EXPECT_TRUE(ErrorList::Get()->anode.N() == 0) << "a shipped patch compiles without messages:\n" << Diagnostics();
  for (int iKey : {60, 64, 67, 72}) ppatch->NoteOn(iKey, 0.8);
  // Half a second held, a quarter released; long pads are well under way by then.
  const int nFrames = 44100 / 2, nRelease = 44100 / 4;
  double dSumSquares = 0, dPeak = 0;
  int nNonFinite = 0;
  for (int i = 0; i < nFrames + nRelease; ++i) {
    if (i == nFrames)
      for (int iKey : {60, 64, 67, 72}) ppatch->NoteOff(iKey, 0.5);
    double adFrame[2] = {0, 0};
    ppatch->RenderFrame(adFrame, 2);
    for (double d : adFrame) {
      if (!std::isfinite(d)) {
        ++nNonFinite;
        continue;
      }
      if (i < nFrames) dSumSquares += d * d;
      dPeak = std::max(dPeak, std::fabs(d));
    }
  }
  EXPECT_EQ(nNonFinite, 0);
  double dRms = std::sqrt(dSumSquares / (2.0 * nFrames));
  // Not silent: louder than -40 dB; and not so loud that the engine must keep turning it down.
  EXPECT_GT(dRms, 0.01) << "peak " << dPeak;
  EXPECT_LT(dPeak, 1.5) << "rms " << dRms;
}

// The patches of the collections (the start-up patch keeps the header it has always had).
std::vector<std::string> CollectionPatches() {
  std::vector<std::string> as = ShippedPatches();
  as.erase(std::remove(as.begin(), as.end(), "Default.vantrel"), as.end());
  return as;
}

using CollectionPatch = testing::TestWithParam<std::string>;

TEST_P(CollectionPatch, OpensWithACommentSayingWhatItIsAndWhatToPlay) {
  std::ifstream in(kInstall + "/patch/" + GetParam());
  std::string sLine, sHeader;
  while (std::getline(in, sLine) && !sLine.empty() && (sLine[0] == '#' || sLine[0] == ';')) sHeader += sLine + "\n";
  EXPECT_GE(std::count(sHeader.begin(), sHeader.end(), '\n'), 2) << "a header of a few comment lines";
  EXPECT_NE(sHeader.find("Play:"), std::string::npos) << "the header says which notes to play:\n" << sHeader;
}

INSTANTIATE_TEST_SUITE_P(Library, ShippedPatch, testing::ValuesIn(ShippedPatches()), TestName);
INSTANTIATE_TEST_SUITE_P(Library, CollectionPatch, testing::ValuesIn(CollectionPatches()), TestName);

TEST(PatchLibrary, TheCollectionsHaveTheirPatches) {
  auto Count = [](const char* pszFolder) {
    int n = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kInstall + "/patch/" + pszFolder))
      if (entry.path().extension() == ".vantrel") ++n;
    return n;
  };
  EXPECT_GE(Count("tutorial"), 12);
  EXPECT_GE(Count("demo"), 12);
  EXPECT_GE(Count("1980sDigiWave"), 8);
  EXPECT_EQ(Count("user"), 0);
  EXPECT_TRUE(fs::exists(kInstall + "/patch/user/README.txt"));
  EXPECT_TRUE(fs::exists(kInstall + "/patch/Default.vantrel"));
}

// Only one Chorus version is played by the library; the others must compile too.
TEST(PatchLibrary, EveryChorusPackageVersionCompiles) {
  AppCore core(kInstall);
  for (const char* pszVersion : {"1.0", "1.1", "2"}) {
    std::string sPath = testing::TempDir() + "/chorus_" + pszVersion + ".vantrel";
    std::ofstream(sPath) << "[Pulse]\nModuleType = Osc\n[Chorus1]\nVersion = " << pszVersion
                         << "\nInput = Pulse\n[Voice]\nPreGain = Chorus1:Output\n";
    std::unique_ptr<Patch> ppatch(core.CompilePatchFile(sPath.c_str(), 0));
    ASSERT_TRUE(ppatch);
    EXPECT_TRUE(ppatch->bCompiled && ErrorList::Get()->anode.N() == 0) << pszVersion << "\n" << Diagnostics();
  }
}

// The check CI relies on: the staged command plays every shipped patch and its sound matches the
// committed exemplar. It runs on a fresh copy of the installation tree (what the build stages, without
// what earlier runs left there), so a patch without a committed exemplar fails here instead of
// quietly getting one.
TEST(PatchLibrary, TheShippedPatchesSoundAsTheirExemplars) {
  fs::path dir = fs::path(testing::TempDir()) / ("regress_shipped_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* pszFolder : {"config", "patch", "package", "regressions"})
    fs::copy(fs::path(kInstall) / pszFolder, dir / pszFolder, fs::copy_options::recursive);
  VantrelRun r = RunVantrel("regress --frames " + std::to_string(VANTREL_REGRESS_FRAMES) + " --install " + dir.string());
  EXPECT_EQ(r.iExit, 0) << r.sOut << r.sErr;
  EXPECT_EQ(r.sOut.find("no exemplar"), std::string::npos) << r.sOut;
  EXPECT_EQ(r.sOut.find("differs"), std::string::npos) << r.sOut;
  EXPECT_NE(r.sOut.find(" 0 differ, 0 without exemplar, 0 compilation error(s), 0 file error(s)"), std::string::npos)
      << r.sOut;
  fs::remove_all(dir);
}

}  // namespace

// The regression runner against a temporary installation: exemplars, differences, CSV and results files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "app/regress.h"
#include "e2e/run_vantrel.h"
#include "patch/voice.h"

namespace fs = std::filesystem;

namespace {

const char* const kSine =
    "[Osc1]\nFrequency = Pitch\nWaveform = Sine\n[Voice]\nPreGain = Osc1\n";
const char* const kSaw = "[Osc1]\nFrequency = Pitch\n[Voice]\nPreGain = 0.5 * Osc1\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> as;
  std::stringstream ss(s);
  for (std::string sLine; std::getline(ss, sLine);) as.push_back(sLine);
  return as;
}

int CountChar(const std::string& s, char c) { return static_cast<int>(std::count(s.begin(), s.end(), c)); }

std::vector<double> ReadDoubles(const fs::path& path) {
  std::string s = ReadFile(path);
  std::vector<double> ad(s.size() / sizeof(double));
  memcpy(ad.data(), s.data(), ad.size() * sizeof(double));
  return ad;
}

class Regress : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) / ("regress_" + std::to_string(getpid()) + "_" + std::to_string(nRun_++));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "config");
    fs::create_directories(dir_ / "patch");
    std::ofstream(dir_ / "config" / "Interpreter.vantrel") << "[Interpreter]\nFreqEval = 44100\nChannles = 2\n";
    pcore_ = std::make_unique<AppCore>(dir_.string());
  }
  void TearDown() override {
    pcore_.reset();
    fs::remove_all(dir_);
  }
  void WritePatch(const std::string& sName, const std::string& sText) {
    fs::path path = dir_ / "patch" / sName;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << sText;
  }
  void WriteRegressFile(const std::string& sName, const std::string& sText) {
    fs::create_directories(Reg());
    std::ofstream(Reg() / sName) << sText;
  }
  fs::path Reg() const { return dir_ / "regressions"; }
  // Runs the suite with a fixed frame count and keeps every results line the callback saw.
  int Run(int nFrames, bool bUpdate = false) {
    opt_.nFrames = nFrames;
    opt_.bUpdate = bUpdate;
    opt_.pfnLine = [](const RegressResult& r, void* pv) { static_cast<std::vector<RegressResult>*>(pv)->push_back(r); };
    opt_.pvArg = &aresult_;
    aresult_.clear();
    return RunRegressions(*pcore_, opt_, &sum_);
  }
  const RegressResult& Result(const std::string& sName) {
    for (const RegressResult& r : aresult_)
      if (r.sName == sName) return r;
    ADD_FAILURE() << "no result for " << sName;
    static RegressResult none;
    return none;
  }

  fs::path dir_;
  std::unique_ptr<AppCore> pcore_;
  RegressOptions opt_;
  RegressSummary sum_;
  std::vector<RegressResult> aresult_;
  static int nRun_;
};
int Regress::nRun_ = 0;

TEST_F(Regress, FirstRunWritesTheExemplarAndATwoColumnCsv) {
  WritePatch("demo/Sine.vantrel", kSine);
  ASSERT_EQ(Run(500), 0);
  const RegressResult& r = Result("demo/Sine.vantrel");
  EXPECT_EQ(r.sResult, "no exemplar");
  EXPECT_TRUE(r.bExemplarWritten);
  std::vector<double> ad = ReadDoubles(Reg() / "demo" / "Sine.exemplar");
  ASSERT_EQ(ad.size(), 500u);
  // The capture holds the output of the frame before: silence first, then a rising sine.
  EXPECT_EQ(ad[0], 0);
  EXPECT_GT(ad[10], 0);
  std::vector<std::string> asCsv = Lines(ReadFile(Reg() / "demo" / "Sine.csv"));
  ASSERT_EQ(asCsv.size(), 500u);
  EXPECT_EQ(asCsv[0], "0,0");
  for (const std::string& s : asCsv) ASSERT_EQ(CountChar(s, ','), 1) << s;
  EXPECT_FALSE(fs::exists(Reg() / "demo" / "Sine.differ"));
  EXPECT_EQ(sum_.nNoExemplar, 1);
}

TEST_F(Regress, AChangedSoundDiffersAndUpdateReplacesTheExemplar) {
  WritePatch("Tone.vantrel", kSine);
  ASSERT_EQ(Run(400), 0);
  std::vector<double> adBefore = ReadDoubles(Reg() / "Tone.exemplar");
  ASSERT_EQ(Run(400), 0);
  EXPECT_EQ(Result("Tone.vantrel").sResult, "OK");
  EXPECT_EQ(Result("Tone.vantrel").dDiff, 0);

  WritePatch("Tone.vantrel", kSaw);
  ASSERT_EQ(Run(400), 0);
  const RegressResult& r = Result("Tone.vantrel");
  EXPECT_EQ(r.sResult, "differs");
  EXPECT_EQ(r.nCompared, 400);
  EXPECT_GT(r.dDiff, 1e-10);
  EXPECT_FALSE(r.bExemplarWritten);
  EXPECT_EQ(ReadDoubles(Reg() / "Tone.exemplar"), adBefore) << "a difference must not touch the exemplar";
  std::vector<double> adDiffer = ReadDoubles(Reg() / "Tone.differ");
  ASSERT_EQ(adDiffer.size(), 400u);
  EXPECT_NE(adDiffer, adBefore);
  // Four columns: index, exemplar minus capture, exemplar, capture.
  std::vector<std::string> asCsv = Lines(ReadFile(Reg() / "Tone.csv"));
  ASSERT_EQ(asCsv.size(), 400u);
  for (const std::string& s : asCsv) ASSERT_EQ(CountChar(s, ','), 3) << s;
  int i = 0;
  double dDiff = 0, dExemplar = 0, dCapture = 0;
  ASSERT_EQ(sscanf(asCsv[100].c_str(), "%d,%lg,%lg,%lg", &i, &dDiff, &dExemplar, &dCapture), 4);
  EXPECT_EQ(i, 100);
  EXPECT_NEAR(dExemplar, adBefore[100], 1e-5 * std::max(1.0, std::fabs(adBefore[100])));
  EXPECT_NEAR(dCapture, adDiffer[100], 1e-5 * std::max(1.0, std::fabs(adDiffer[100])));
  EXPECT_NEAR(dDiff, dExemplar - dCapture, 1e-5);

  // --update: the new sound becomes the exemplar, the stale difference file goes.
  ASSERT_EQ(Run(400, true), 0);
  EXPECT_EQ(sum_.nExemplarsReplaced, 1);
  EXPECT_EQ(Result("Tone.vantrel").sResult, "differs");
  EXPECT_TRUE(Result("Tone.vantrel").bExemplarWritten);
  EXPECT_EQ(ReadDoubles(Reg() / "Tone.exemplar"), adDiffer);
  EXPECT_FALSE(fs::exists(Reg() / "Tone.differ"));
  ASSERT_EQ(Run(400), 0);
  EXPECT_EQ(Result("Tone.vantrel").sResult, "OK");
}

TEST_F(Regress, ALongerCaptureWithTheSameStartIsOKAndExtendsTheExemplar) {
  WritePatch("Tone.vantrel", kSine);
  ASSERT_EQ(Run(300), 0);
  std::vector<double> adShort = ReadDoubles(Reg() / "Tone.exemplar");
  ASSERT_EQ(Run(700), 0);
  const RegressResult& r = Result("Tone.vantrel");
  EXPECT_EQ(r.sResult, "OK");
  EXPECT_EQ(r.nCompared, 300);
  EXPECT_TRUE(r.bExemplarWritten);
  std::vector<double> adLong = ReadDoubles(Reg() / "Tone.exemplar");
  ASSERT_EQ(adLong.size(), 700u);
  EXPECT_TRUE(std::equal(adShort.begin(), adShort.end(), adLong.begin()));
  // A shorter capture compares what it has and leaves the exemplar alone; a leftover
  // difference file goes once the patch is OK again.
  std::ofstream(Reg() / "Tone.differ") << "old";
  ASSERT_EQ(Run(200), 0);
  EXPECT_EQ(Result("Tone.vantrel").sResult, "OK");
  EXPECT_FALSE(Result("Tone.vantrel").bExemplarWritten);
  EXPECT_EQ(ReadDoubles(Reg() / "Tone.exemplar").size(), 700u);
  EXPECT_FALSE(fs::exists(Reg() / "Tone.differ"));
}

TEST_F(Regress, OnlyPatchesWithABenchmarkLineGetAPercentageAndCountTowardsTheAverage) {
  WritePatch("a.vantrel", kSine);
  WritePatch("b.vantrel", kSine);
  WritePatch("c.vantrel", kSine);
  // c's reference of 0 gives a percentage line but no share of the average.
  WriteRegressFile("benchmark.txt", "a.vantrel 1000\nc.vantrel 0\n");
  ASSERT_EQ(Run(200), 0);
  const RegressResult& a = Result("a.vantrel");
  EXPECT_NEAR(a.dPercent, a.dRate / 1000 * 100, 1e-9);
  EXPECT_EQ(Result("b.vantrel").dPercent, -1);
  EXPECT_EQ(sum_.nBenchmarked, 1);
  EXPECT_NEAR(sum_.dAverage, a.dPercent, 1e-9);
  std::vector<std::string> asLines = Lines(ReadFile(Reg() / "results.txt"));
  ASSERT_EQ(asLines.size(), 3u);
  // Descending byte order, each line in its format.
  EXPECT_EQ(asLines[0].substr(0, 9), "c.vantrel");
  EXPECT_EQ(asLines[2].substr(0, 9), "a.vantrel");
  char szExpectA[256], szExpectB[256];
  snprintf(szExpectA, sizeof szExpectA, "%-90.90s %10.0f %7.2f%% %10d %25g %s", "a.vantrel", a.dRate, a.dPercent, 0, 0.0,
           "no exemplar");
  snprintf(szExpectB, sizeof szExpectB, "%-90.90s %10.0f  ---.--%% %10d %15g %s", "b.vantrel",
           Result("b.vantrel").dRate, 0, 0.0, "no exemplar");
  EXPECT_EQ(asLines[2], szExpectA);
  EXPECT_EQ(asLines[1], szExpectB);
  EXPECT_NE(asLines[0].find("inf%"), std::string::npos) << asLines[0];
}

TEST_F(Regress, APatchThatDoesNotCompileIsReportedAndTheRunGoesOn) {
  WritePatch("z_broken.vantrel", "[Osc1]\nModuleType = NoSuchType\n[Voice]\nPreGain = Osc1\n");
  WritePatch("a_good.vantrel", kSine);
  ASSERT_EQ(Run(200), 0);
  ASSERT_EQ(aresult_.size(), 2u);
  EXPECT_EQ(aresult_[0].sName, "z_broken.vantrel");
  EXPECT_EQ(aresult_[0].sResult, "compilation error");
  EXPECT_EQ(aresult_[1].sResult, "no exemplar");
  EXPECT_FALSE(fs::exists(Reg() / "z_broken.exemplar"));
  EXPECT_FALSE(fs::exists(Reg() / "z_broken.csv"));
  EXPECT_EQ(sum_.nCompileErrors, 1);
  EXPECT_NE(ReadFile(Reg() / "results.txt").find("compilation error"), std::string::npos);
}

TEST_F(Regress, AMalformedBenchmarkLineEndsTheRunWithItsMessage) {
  WritePatch("a.vantrel", kSine);
  WriteRegressFile("benchmark.txt", "a.vantrel 1000\nlonely\n");
  EXPECT_EQ(Run(200), -1);
  EXPECT_EQ(sum_.sError, "benchmark file \"" + (Reg() / "benchmark.txt").string() +
                             "\" line 2: do not find two fields in: \"lonely\"");
  EXPECT_TRUE(aresult_.empty());
  EXPECT_FALSE(fs::exists(Reg() / "results.txt"));
}

TEST_F(Regress, UpdateAddsMissingBenchmarkLinesAndKeepsTheOthers) {
  WritePatch("a.vantrel", kSine);
  WritePatch("b.vantrel", kSine);
  WriteRegressFile("benchmark.txt", "a.vantrel 1234");  // no final line break
  ASSERT_EQ(Run(200, true), 0);
  EXPECT_EQ(sum_.nBenchmarksAdded, 1);
  std::vector<std::string> as = Lines(ReadFile(Reg() / "benchmark.txt"));
  ASSERT_EQ(as.size(), 2u);
  EXPECT_EQ(as[0], "a.vantrel 1234");
  EXPECT_EQ(as[1].rfind("b.vantrel ", 0), 0u) << as[1];
  ASSERT_EQ(Run(200), 0);
  EXPECT_EQ(sum_.nBenchmarked, 2);
}

TEST_F(Regress, TheWalkSkipsEditHistoryAndTakesEveryNameWithThePatchExtension) {
  WritePatch("Default.vantrel", kSine);
  WritePatch("demo/Pad.vantrel", kSine);
  WritePatch("demo/Pad.vantrel.bak", kSine);
  WritePatch("demo/notes.txt", "not a patch");
  WritePatch("demo/deeper/Z.vantrel", kSine);
  WritePatch("edit_history/Pad-20260101-120000.vantrel", kSine);
  std::string sPatch = (dir_ / "patch").string();
  std::vector<std::string> as = CollectPatchFiles(sPatch);
  std::vector<std::string> asWant = {sPatch + "/demo/deeper/Z.vantrel", sPatch + "/demo/Pad.vantrel.bak",
                                     sPatch + "/demo/Pad.vantrel", sPatch + "/Default.vantrel"};
  EXPECT_EQ(as, asWant);
  ASSERT_EQ(Run(100), 0);
  // The backup's exemplar has a name of its own.
  EXPECT_TRUE(fs::exists(Reg() / "demo" / "Pad.vantrel.exemplar"));
  EXPECT_TRUE(fs::exists(Reg() / "demo" / "deeper" / "Z.exemplar"));
}

TEST_F(Regress, TheOscilloscopeCallbackIsRestoredAfterTheRun) {
  WritePatch("a.vantrel", kSine);
  static int nCalls = 0;
  VoiceScopeCallback pfnMine = [](Voice*, void*) { ++nCalls; };
  int iArg = 0;
  // Wanted: were it still installed, every rendered sample of the run would call it.
  VoiceSetScopeCallback(pfnMine, &iArg, true);
  ASSERT_EQ(Run(100), 0);
  EXPECT_EQ(nCalls, 0) << "the run's capture replaces the oscilloscope";
  EXPECT_EQ(ReadDoubles(Reg() / "a.exemplar").size(), 100u);
  VoiceScopeCallback pfn = nullptr;
  void* pv = nullptr;
  bool bWanted = false;
  VoiceGetScopeCallback(&pfn, &pv, &bWanted);
  EXPECT_EQ(pfn, pfnMine);
  EXPECT_EQ(pv, &iArg);
  EXPECT_TRUE(bWanted);
  VoiceSetScopeCallback(nullptr, nullptr, false);
}

TEST_F(Regress, TheCommandFailsOnADifferenceOrACompilationErrorAndUpdateSaysWhatChanged) {
  WritePatch("Tone.vantrel", kSine);
  std::string sArgs = "regress --frames 300 --install " + dir_.string();
  VantrelRun r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 0) << r.sOut << r.sErr;
  EXPECT_NE(r.sOut.find("Tone.vantrel"), std::string::npos);
  EXPECT_NE(r.sOut.find("no exemplar"), std::string::npos);
  EXPECT_NE(r.sOut.find("1 patch(es): 0 OK, 0 differ, 1 without exemplar"), std::string::npos) << r.sOut;

  WritePatch("Tone.vantrel", kSaw);
  r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 1) << r.sOut << r.sErr;
  EXPECT_NE(r.sOut.find("differs"), std::string::npos) << r.sOut;
  r = RunVantrel(sArgs + " --update");
  EXPECT_EQ(r.iExit, 0) << r.sOut << r.sErr;
  EXPECT_NE(r.sOut.find("updated: 1 exemplar(s) changed, 0 new; 1 benchmark line(s) added"), std::string::npos)
      << r.sOut;
  r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 0) << r.sOut << r.sErr;

  WritePatch("Broken.vantrel", "[Osc1]\nModuleType = NoSuchType\n");
  r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 1) << r.sOut << r.sErr;
  EXPECT_NE(r.sOut.find("compilation error"), std::string::npos) << r.sOut;
  // The compiler's diagnostics follow the patch's line, with the patch's path and line.
  EXPECT_NE(r.sErr.find("/patch/Broken.vantrel:1: Osc1:ModuleType = NoSuchType - unknown type"), std::string::npos)
      << r.sErr;

  WriteRegressFile("benchmark.txt", "one\n");
  r = RunVantrel(sArgs);
  EXPECT_EQ(r.iExit, 2) << r.sOut << r.sErr;
  EXPECT_NE(r.sErr.find("line 1: do not find two fields in: \"one\""), std::string::npos) << r.sErr;
  EXPECT_EQ(RunVantrel(sArgs + " --frames 0").iExit, 2);
}

}  // namespace

// The oscilloscope without a window: harmonic analysis, axes, Y range, info line, the graph's
// state, the window's settings and menu commands, Save CSV, and the capture from a real patch.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "formula/errorlist.h"
#include "ide/ksgraphcore.h"
#include "ide/scopecapture.h"
#include "ide/scopemodel.h"
#include "patch/patch.h"
#include "patch/voice.h"

namespace fs = std::filesystem;

namespace {

std::vector<double> Sine(int n, double dAmplitude, int iHarmonic = 1) {
  std::vector<double> ad(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) ad[static_cast<size_t>(k)] = dAmplitude * std::sin(2 * M_PI * iHarmonic * k / n);
  return ad;
}

struct Analysis {
  int nHarmonics;
  double dF0, dLargest;
  std::vector<double> adSpectrum = std::vector<double>(KSGraphMaxHarmonics);
};

Analysis Analyse(const std::vector<double>& ady, int iScale, double dRate = 44100, double dFullBass = 55) {
  Analysis a{};
  a.nHarmonics = KSGraphAnalyse(ady.data(), static_cast<int>(ady.size()), dRate, dFullBass, iScale, a.adSpectrum.data(),
                                &a.dF0, &a.dLargest);
  return a;
}

TEST(KSGraphAnalysis, HundredPointsAt44100HaveFortySixHarmonicsOfWhichFortyFiveAreComputed) {
  // An impulse has every harmonic at amplitude 2 / n.
  std::vector<double> ad(100, 0.0);
  ad[0] = 1;
  Analysis a = Analyse(ad, KSGraphAmplitude);
  EXPECT_DOUBLE_EQ(a.dF0, 441);
  EXPECT_EQ(a.nHarmonics, 46);
  EXPECT_EQ(a.adSpectrum[0], 0) << "harmonic 0 is never computed";
  for (int j = 1; j <= 45; ++j) EXPECT_NEAR(a.adSpectrum[j], 0.02, 1e-12) << "harmonic " << j;
  EXPECT_EQ(a.adSpectrum[46], 0) << "only harmonics below H";
  EXPECT_EQ(KSGraphInfoLine(100, 0, 44100), "100 samples, 441.00 Hz (A4 +3.9 cents)");
  // H is limited by half the points and by 1500 as well.
  EXPECT_EQ(Analyse(std::vector<double>(10, 0.0), 0).nHarmonics, 5);
  EXPECT_EQ(Analyse(std::vector<double>(11000, 0.0), 0).nHarmonics, 1500);
}

TEST(KSGraphAnalysis, ASineOfAmplitudeOneOverOnePeriodIsOneAtHarmonicOne) {
  Analysis a = Analyse(Sine(100, 1), KSGraphAmplitude);
  EXPECT_NEAR(a.adSpectrum[1], 1.0, 1e-12);
  for (int j = 2; j < a.nHarmonics; ++j) EXPECT_NEAR(a.adSpectrum[j], 0, 1e-12) << "harmonic " << j;
  EXPECT_NEAR(a.dLargest, 1.0, 1e-12);
  // Power: the harmonic's number times its amplitude, times f0 / FreqFullBass from that on.
  Analysis p = Analyse(Sine(100, 1, 3), KSGraphPower);
  EXPECT_NEAR(p.adSpectrum[3], 3 * 441.0 / 55, 1e-9);
  Analysis low = Analyse(Sine(1000, 1, 2), KSGraphPower);  // f0 44.1 Hz, below FreqFullBass
  EXPECT_NEAR(low.adSpectrum[2], 2.0, 1e-9);
  // dB of the power, silence at the floor.
  Analysis db = Analyse(Sine(1000, 0.5), KSGraphDBPower);
  EXPECT_NEAR(db.adSpectrum[1], 20 * std::log10(0.5), 1e-9);
  EXPECT_EQ(db.adSpectrum[2], KSGraphDBFloor);
  EXPECT_EQ(db.dLargest, 0) << "the largest value starts at 0";
  Analysis silent = Analyse(std::vector<double>(64, 0.0), KSGraphDBPower);
  EXPECT_EQ(silent.adSpectrum[1], KSGraphDBFloor);
}

TEST(KSGraphAnalysis, MoreThanElevenThousandPointsAreNotAnalysed) {
  Analysis a = Analyse(Sine(11001, 1), KSGraphAmplitude);
  EXPECT_EQ(a.nHarmonics, 0);
  EXPECT_EQ(a.adSpectrum[1], 0);
  KSGraphModel graph;
  std::vector<double> ady = Sine(12000, 1), adx(12000, 0.0);
  graph.SetSeries("big", 0, 12000, adx.data(), ady.data(), 44100, 0);
  ASSERT_NE(graph.Unusable(), nullptr);
  EXPECT_STREQ(graph.Unusable(), "too much data to do harmonic analysis");
  graph.SetDisplay(false, false);
  graph.UpdateYRange();
  EXPECT_EQ(graph.Unusable(), nullptr) << "a waveform of any length is drawn";
}

TEST(KSGraphAxes, DBTickStepIsTheFirstThatKeepsTicksFivePixelsApart) {
  struct Case {
    double dLargest;
    int iRange, iHeight;
    double dStep, dTop;
    int nDecimals;
  };
  const Case kacase[] = {
      {-3, 48, 400, 1, 0, 0},        // 0.5 dB would be 4.2 pixels
      {-3, 48, 1000, 0.25, 0, 2},    // 0.25 dB is 5.2 pixels
      {-3, 24, 1000, 0.125, 0, 3},   // 0.125 dB is 5.2 pixels
      {-3, 6, 400, 0.1, 0, 1},       // the finest step fits
      {-3, 96, 100, 6, 0, 0},        // 3 dB would be 3.1 pixels
      {7.5, 48, 200, 3, 9, 0},       // the top rises to the next multiple of the step
      {-3, 96, 10, 24, 0, 0},        // nothing fits: the coarsest step
  };
  for (const Case& c : kacase) {
    KSYAxis axis = KSGraphDBAxis(c.dLargest, c.iRange, c.iHeight);
    EXPECT_EQ(axis.dStep, c.dStep) << c.iRange << " dB over " << c.iHeight << " pixels";
    EXPECT_EQ(axis.dHigh, c.dTop);
    EXPECT_EQ(axis.dLow, -c.iRange);
    EXPECT_EQ(axis.nDecimals, c.nDecimals);
  }
  EXPECT_EQ(KSGraphDBAxis(-3, 0, 400).dLow, -48) << "no range at all: the default";
  std::vector<KSAxisTick> atick = KSGraphYTicks(KSGraphDBAxis(-3, 24, 1000), 1000);
  ASSERT_EQ(atick.size(), 24 / 0.125 + 1);
  EXPECT_EQ(atick.front().sLabel, "-24.000");
  EXPECT_EQ(atick.front().iPos, 1000);
  EXPECT_EQ(atick.back().sLabel, "0.000");
  EXPECT_EQ(atick.back().iPos, 0);
}

TEST(KSGraphAxes, LinearStepsAreTwoFiveOrTenTimesAPowerOfTen) {
  struct Case {
    double dLargest, dStep, dTop;
    int nDecimals;
  };
  const Case kacase[] = {{1.0, 0.2, 1.0, 1}, {0.83, 0.1, 0.9, 1}, {8.018, 1, 9, 0},
                         {3.2, 0.5, 3.5, 1}, {0.0123, 0.002, 0.014, 3}, {0, 0.2, 1, 1}};
  for (const Case& c : kacase) {
    KSYAxis axis = KSGraphLinearAxis(c.dLargest);
    EXPECT_NEAR(axis.dStep, c.dStep, 1e-12) << c.dLargest;
    EXPECT_NEAR(axis.dHigh, c.dTop, 1e-12) << c.dLargest;
    EXPECT_EQ(axis.dLow, 0);
    EXPECT_EQ(axis.nDecimals, c.nDecimals) << c.dLargest;
  }
}

TEST(KSGraphAxes, HarmonicAndFrequencyAxesAndTheirLabels) {
  std::vector<KSAxisTick> atick = KSGraphHarmonicTicks(40, 10000, 46, 441);
  ASSERT_EQ(atick.size(), 12u);  // 1, 5, ... 45
  EXPECT_EQ(atick[0].iPos, 40 + 10 - 7);
  EXPECT_EQ(atick[0].sLabel, "1");
  EXPECT_EQ(atick[0].sLabel2, "441");
  EXPECT_EQ(atick[1].sLabel, "5");
  EXPECT_EQ(atick[1].sLabel2, "") << "every eighth harmonic from 1 has its frequency";
  EXPECT_EQ(atick[2].sLabel2, "3969");
  EXPECT_EQ(atick[6].sLabel, "25");
  EXPECT_EQ(atick[6].sLabel2, "11k");
  EXPECT_EQ(KSGraphHarmonicTicks(40, 100, 46, 441).size(), 2u) << "only what fits in the plot";
  EXPECT_EQ(KSGraphHarmonicTicks(40, 1000, 46, 44.1)[0].sLabel2, "44.1");

  atick = KSGraphFreqTicks(100, 1100);
  ASSERT_EQ(atick.size(), 1 + 10 + 1u);
  EXPECT_EQ(atick.front().iPos, 100);
  EXPECT_EQ(atick.front().sLabel, "20");
  EXPECT_EQ(atick[1].sLabel, "27.5");
  EXPECT_EQ(atick[1].sLabel2, "A0");
  EXPECT_EQ(atick[5].sLabel, "440");
  EXPECT_EQ(atick[5].sLabel2, "A4");
  EXPECT_EQ(atick[9].sLabel, "7040");
  EXPECT_EQ(atick[10].sLabel, "14k");
  EXPECT_EQ(atick[10].sLabel2, "A9");
  EXPECT_EQ(atick.back().sLabel, "20k");
  EXPECT_EQ(atick.back().sLabel2, "");
  EXPECT_EQ(atick.back().iPos, 1100);
  // ln(440 / 20) / ln(1000) of the width.
  EXPECT_EQ(atick[5].iPos, 100 + static_cast<int>(std::log(22.0) * 1000 / std::log(1000.0)));
}

TEST(KSGraphYRange, WidensOnlyUntilReset) {
  KSYRange range;
  range.Widen(-1, 1);
  EXPECT_DOUBLE_EQ(range.dLow, -1.1);
  EXPECT_DOUBLE_EQ(range.dHigh, 1.1);
  range.Widen(-0.2, 0.3);
  EXPECT_DOUBLE_EQ(range.dLow, -1.1) << "a quieter capture keeps the range";
  EXPECT_DOUBLE_EQ(range.dHigh, 1.1);
  range.Widen(0, 2);
  EXPECT_DOUBLE_EQ(range.dHigh, 2.1);
  EXPECT_DOUBLE_EQ(range.dLow, -1.1);
  range.Reset();
  range.Widen(0.123, 0.987);  // 5% of 0.864 each side, then to hundredths outward
  EXPECT_NEAR(range.dLow, 0.07, 1e-12);
  EXPECT_NEAR(range.dHigh, 1.04, 1e-12);
  EXPECT_FALSE(range.TooGreat());
  range.Widen(0, 300000);
  EXPECT_TRUE(range.TooGreat());
  EXPECT_DOUBLE_EQ(range.dHigh, 315000) << "values beyond 100000 are not rounded";
  range.Reset();
  range.Widen(0.5, 0.5);
  EXPECT_LT(range.dLow, 0.5);
  EXPECT_GT(range.dHigh, 0.5);
}

TEST(KSGraphInfo, InfoLineFormsAndNoteNames) {
  EXPECT_EQ(KSGraphNoteName(0), "C-1");
  EXPECT_EQ(KSGraphNoteName(61), "C#4");
  EXPECT_EQ(KSGraphNoteName(131), "B9");
  EXPECT_EQ(KSGraphInfoLine(100, 440, 44100), "100 samples, 440.00 Hz (A4 +0.0 cents)") << "the hint wins";
  EXPECT_EQ(KSGraphInfoLine(100, 0, 44000), "100 samples, 440.00 Hz (A4 +0.0 cents)");
  EXPECT_EQ(KSGraphInfoLine(50, 0, 44100), "50 samples, 882.00 Hz (A5 +3.9 cents)");
  EXPECT_EQ(KSGraphInfoLine(10, 466.16, 44100), "10 samples, 466.16 Hz (A#4 -0.0 cents)");
  EXPECT_EQ(KSGraphInfoLine(44100, 0, 44100), "44100 samples, 1.000 sec") << "below 5 Hz: the period";
  EXPECT_EQ(KSGraphInfoLine(2, 30000, 44100), "2 samples, 30000.00 Hz note 142.10");
  EXPECT_EQ(KSGraphInfoLine(0, 0, 0), "0 samples") << "no frequency at all";
}

TEST(KSGraphModelTest, SeriesDisplayModesAndUnusableData) {
  KSGraphModel graph;
  EXPECT_STREQ(graph.Unusable(), "no data to graph");
  EXPECT_TRUE(graph.Spectrum());
  EXPECT_FALSE(graph.FreqView());
  std::vector<double> ady = Sine(100, 0.5), adx(100, 0.0);
  graph.SetDisplay(false, false);
  graph.SetSeries("Osc1:Output", 1, 100, adx.data(), ady.data(), 44100, 0);
  ASSERT_EQ(graph.Series().size(), 2u) << "the list grows to the index";
  EXPECT_EQ(graph.Series()[1].color, (KSColor{255, 255, 0}));
  EXPECT_STREQ(graph.Unusable(), "no data to graph") << "series 0 is empty";
  graph.SetSeries("first", 0, 100, adx.data(), ady.data(), 44100, 0);
  EXPECT_EQ(graph.Series()[0].color, (KSColor{0, 255, 0}));
  EXPECT_EQ(graph.Series()[1].nHarmonics, 0) << "a waveform is not analysed";
  graph.UpdateYRange();
  EXPECT_EQ(graph.Unusable(), nullptr);
  EXPECT_DOUBLE_EQ(graph.YRange().dHigh, 0.6);
  graph.SetDisplay(true, false);
  EXPECT_EQ(graph.Series()[1].nHarmonics, 46) << "switching to a spectrum analyses";
  EXPECT_NEAR(graph.Series()[1].adSpectrum[1], 20 * std::log10(0.5 * 441 / 55), 1e-9);
  EXPECT_DOUBLE_EQ(graph.Fundamental(), 441);
  graph.SetVertScale(KSGraphAmplitude);
  EXPECT_NEAR(graph.Series()[1].adSpectrum[1], 0.5, 1e-12) << "a new scale analyses again";
  EXPECT_FALSE(graph.YRange().bSet) << "and resets the Y range";
  EXPECT_NE(graph.Summary().find("h1=0.5000"), std::string::npos) << graph.Summary();
  graph.SetDisplay(false, false);
  std::vector<double> adHuge(100, 2e5);
  graph.SetSeries("huge", 2, 100, adx.data(), adHuge.data(), 44100, 0);
  graph.UpdateYRange();
  EXPECT_STREQ(graph.Unusable(), "Y data magnitude too great");
  graph.ClearSeries();
  EXPECT_STREQ(graph.Unusable(), "no data to graph");
}

TEST(ScopeSettingsTest, DefaultsRoundTripAndMenuCommands) {
  KSWinMemento mem;
  ScopeSettings settings = ScopeReadSettings(mem);
  EXPECT_TRUE(settings.bTwoGraphs);
  EXPECT_TRUE(settings.bResetEvery);
  for (const ScopeGraphSettings& graph : settings.agraph) {
    EXPECT_TRUE(graph.bSpectrum);
    EXPECT_TRUE(graph.bFreqView);
    EXPECT_EQ(graph.iVertScale, 2);
    EXPECT_EQ(graph.iDBScale, 48);
  }
  settings.bTwoGraphs = false;
  settings.agraph[1].bSpectrum = false;
  settings.agraph[1].iDBScale = 72;
  settings.agraph[0].iVertScale = 0;
  ScopeWriteSettings(settings, mem);
  EXPECT_STREQ(mem.GetString("Spectrum2"), "0");
  EXPECT_STREQ(mem.GetString("DBScale2"), "72");
  EXPECT_STREQ(mem.GetString("VertScale"), "0");
  ScopeSettings back = ScopeReadSettings(mem);
  EXPECT_FALSE(back.bTwoGraphs);
  EXPECT_FALSE(back.agraph[1].bSpectrum);
  EXPECT_TRUE(back.agraph[0].bSpectrum);
  EXPECT_EQ(back.agraph[1].iDBScale, 72);
  EXPECT_EQ(back.agraph[0].iVertScale, 0);

  // Each command sets its setting, and the groups carry exactly one check mark.
  ScopeGraphSettings graph;
  auto Checked = [&] {
    std::string s;
    for (int i = 0; i < ScopeGraphCommandCount; ++i) s += ScopeGraphCommandChecked(graph, i) ? '1' : '0';
    return s;
  };
  EXPECT_EQ(Checked(), "0100010100");
  ScopeApplyGraphCommand(graph, ScopeWaveform);
  EXPECT_EQ(Checked(), "1000010100");
  EXPECT_TRUE(graph.bFreqView) << "the X axis is kept for the next spectrum";
  ScopeApplyGraphCommand(graph, ScopeHarmonicAxis);
  EXPECT_EQ(Checked(), "0010010100");
  ScopeApplyGraphCommand(graph, ScopePower);
  ScopeApplyGraphCommand(graph, ScopeDB96);
  EXPECT_EQ(Checked(), "0010100001");
  ScopeApplyGraphCommand(graph, ScopeFreqAxis);
  ScopeApplyGraphCommand(graph, ScopeAmplitude);
  ScopeApplyGraphCommand(graph, ScopeDB24);
  EXPECT_EQ(Checked(), "0101001000");
  EXPECT_STREQ(ScopeGraphCommandText(ScopeDB24), "-&24 dB Power Y Scale");
  EXPECT_STREQ(ScopeGraphCommandText(ScopeHarmonicAxis), "&Harmonic X Axis");
}

TEST(ScopeSettingsTest, GraphRectangles) {
  KSRect r1, r2;
  ScopeGraphRects(800, 300, true, &r1, &r2);
  EXPECT_EQ(r1, (KSRect{0, 0, 399, 300}));
  EXPECT_EQ(r2, (KSRect{401, 0, 399, 300}));
  ScopeGraphRects(801, 300, true, &r1, &r2);
  EXPECT_EQ(r2, (KSRect{401, 0, 400, 300}));
  ScopeGraphRects(800, 300, false, &r1, &r2);
  EXPECT_EQ(r1, (KSRect{0, 0, 800, 300}));
  EXPECT_EQ(r2.iWidth, 0);
}

TEST(ScopeCsv, RowsAreTheSeriesOfGraphOne) {
  struct tm tmLocal = {};
  tmLocal.tm_year = 126;
  tmLocal.tm_mon = 11;
  tmLocal.tm_mday = 10;
  tmLocal.tm_hour = 9;
  tmLocal.tm_min = 5;
  tmLocal.tm_sec = 7;
  EXPECT_EQ(ScopeCsvPath("/inst/log", tmLocal), "/inst/log/oscilloscope_20261210_090507.csv");

  fs::path dir = fs::path(testing::TempDir()) / "scope_csv";
  fs::create_directories(dir);
  std::string sPath = (dir / "out.csv").string();
  KSGraphModel graph;
  ScopeBox box = ScopeSaveCsv(true, sPath, graph);
  EXPECT_EQ(box.sTitle, "Saved CSV");
  EXPECT_EQ(box.sText, "Created file \"" + sPath + "\"");
  std::ifstream in(sPath);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "") << "before any capture the file holds no rows";

  double adx[3] = {0, 1, 2}, ady1[3] = {0.5, -0.25, 1}, ady2[3] = {1, 2, 3};
  graph.SetSeries("a", 0, 3, adx, ady1, 44100, 0);
  graph.SetSeries("b", 1, 3, adx, ady2, 44100, 0);
  box = ScopeSaveCsv(true, sPath, graph);
  EXPECT_EQ(box.sTitle, "Saved CSV");
  std::ifstream in2(sPath);
  std::stringstream ss2;
  ss2 << in2.rdbuf();
  EXPECT_EQ(ss2.str(), "0,0.500000,1.000000\n1,-0.250000,2.000000\n2,1.000000,3.000000\n");

  box = ScopeSaveCsv(false, sPath, graph);
  EXPECT_EQ(box.sTitle, "Thread Collision");
  EXPECT_EQ(box.sText, "Try again, sorry...");
  std::string sMissing = (dir / "no/such/dir/x.csv").string();
  box = ScopeSaveCsv(true, sMissing, graph);
  EXPECT_EQ(box.sTitle, "Error Saving");
  EXPECT_EQ(box.sText, "Cannot open file \"" + sMissing + "\": No such file or directory");
  if (fs::exists("/dev/full")) {
    box = ScopeSaveCsv(true, "/dev/full", graph);
    EXPECT_EQ(box.sTitle, "Error Saving") << "a write that fails is not reported as saved";
    EXPECT_EQ(box.sText.rfind("Cannot close file \"/dev/full\": ", 0), 0u) << box.sText;
  }
}

// The capture from a compiled patch whose probe frames one period of a sine by its sync pulses.
class ScopeCaptureTest : public testing::Test {
 protected:
  void SetUp() override {
    InitSharedTables();
    ErrorList::Get()->Clear();
    pcore = std::make_unique<AppCore>(std::string(VANTREL_TEST_DATA) + "/install");
  }
  Patch* Compile(const std::string& sText) {
    std::string sPath = testing::TempDir() + "/scope_capture.vantrel";
    std::ofstream(sPath) << sText;
    Patch* ppatch = pcore->CompilePatchFile(sPath.c_str(), 0);
    EXPECT_TRUE(ppatch && ppatch->bCompiled);
    return ppatch;
  }
  // Renders until the capture is handed over; the frames it took.
  int RenderUntilPosted(Patch* ppatch, int nMax) {
    for (int i = 0; i < nMax; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
      if (nPosts > 0) return i + 1;
    }
    return -1;
  }
  static void Post(void* pv) { ++static_cast<ScopeCaptureTest*>(pv)->nPosts; }

  std::unique_ptr<AppCore> pcore;
  std::mutex mutexEngine;
  int nPosts = 0;
};

const char* const kpszSinePatch =
    "[Osc1]\nWaveform = Sine\nFrequency = Pitch\n\n[Voice]\nPreGain = 0.5 * Osc1:Output\n\n"
    "[Scope]\nSyncIn = Osc1:SyncOut\nProbe1 = Osc1:Output\nProbe2 = Osc1:Output * 2\nCaption1 = Osc1:Frequency\n"
    "wave = Osc1:Waveform\n";

TEST_F(ScopeCaptureTest, OnePeriodFramedBySyncIsHandedOverOnce) {
  std::unique_ptr<Patch> ppatch(Compile(kpszSinePatch));
  ASSERT_TRUE(ppatch);
  ASSERT_TRUE(ppatch->bScope);
  auto pcapture = std::make_unique<ScopeCapture>();
  pcapture->SetPost(&Post, this);
  pcapture->Register(&mutexEngine);
  ppatch->NoteOn(69, 1);
  ASSERT_GT(RenderUntilPosted(ppatch.get(), 10000), 0);
  EXPECT_FALSE(pcapture->Ready());
  // 44100 / 440 = 100.2 samples a period.
  int n = pcapture->Points();
  EXPECT_TRUE(n == 100 || n == 101) << n;
  ASSERT_EQ(pcapture->Inputs(), 2);
  EXPECT_STREQ(pcapture->Name(0), "Osc1:Output");
  EXPECT_STREQ(pcapture->Name(1), "Osc1:Output * 2");
  const double* ad1 = pcapture->Values(0);
  const double* ad2 = pcapture->Values(1);
  const double* adt = pcapture->TimePoints();
  double dCos = std::cos(2 * M_PI * 440 / 44100);
  for (int k = 1; k + 1 < n; ++k) {
    EXPECT_EQ(adt[k], adt[k - 1] + 1) << "one point per sample of the voice's clock";
    EXPECT_NEAR(ad1[k + 1] + ad1[k - 1], 2 * dCos * ad1[k], 1e-6) << "a 440 Hz sine at point " << k;
    EXPECT_DOUBLE_EQ(ad2[k], 2 * ad1[k]);
  }
  // The period starts at the wrap: the first point is the sine's start.
  EXPECT_NEAR(ad1[0], 0, 0.07);
  EXPECT_GT(ad1[5], 0);
  // In the order of the probe's table, a caption labelled with its formula, one with its name.
  EXPECT_EQ(pcapture->CaptionText(), "wave=Sine    Osc1:Frequency=440.000000    ");

  // Nothing changes while the window has not taken it; Release starts the next capture.
  double dFirst = ad1[10];
  nPosts = 0;
  EXPECT_EQ(RenderUntilPosted(ppatch.get(), 300), -1);
  EXPECT_EQ(pcapture->Points(), n);
  EXPECT_EQ(ad1[10], dFirst);
  pcapture->Release();
  EXPECT_TRUE(pcapture->Ready());
  EXPECT_GT(RenderUntilPosted(ppatch.get(), 300), 0);
  EXPECT_TRUE(pcapture->Points() == 100 || pcapture->Points() == 101);

  // Withdrawn, the target receives nothing more.
  pcapture->Release();
  pcapture->Withdraw(&mutexEngine);
  nPosts = 0;
  EXPECT_EQ(RenderUntilPosted(ppatch.get(), 1000), -1);
  VoiceScopeCallback pfn = nullptr;
  void* pv = nullptr;
  bool bWanted = true;
  VoiceGetScopeCallback(&pfn, &pv, &bWanted);
  EXPECT_EQ(pfn, nullptr);
}

TEST_F(ScopeCaptureTest, ANewNoteDiscardsAPartialCapture) {
  std::unique_ptr<Patch> ppatch(Compile(kpszSinePatch));
  ASSERT_TRUE(ppatch);
  auto pcapture = std::make_unique<ScopeCapture>();
  pcapture->SetPost(&Post, this);
  pcapture->Register(&mutexEngine);
  ppatch->NoteOn(57, 1);  // 220 Hz: 200 samples a period
  for (int i = 0; i < 300; ++i) {
    double adFrame[2] = {0, 0};
    ppatch->RenderFrame(adFrame, 2);
  }
  EXPECT_EQ(nPosts, 0);
  EXPECT_GT(pcapture->Points(), 10) << "a capture under way";
  ppatch->AllSoundOff();
  ppatch->NoteOn(81, 1);  // 880 Hz: 50 samples a period
  ASSERT_GT(RenderUntilPosted(ppatch.get(), 1000), 0);
  int n = pcapture->Points();
  EXPECT_TRUE(n == 50 || n == 51) << "only the new note's period: " << n;
  pcapture->Withdraw(&mutexEngine);
}

TEST_F(ScopeCaptureTest, APatchWithoutAnActiveProbeIsNotCaptured) {
  std::unique_ptr<Patch> ppatch(Compile("[Osc1]\nFrequency = Pitch\n\n[Scope]\nProbe1 = Osc1:Output\nBypass = 1\n"));
  ASSERT_TRUE(ppatch);
  EXPECT_FALSE(ppatch->bScope);
  auto pcapture = std::make_unique<ScopeCapture>();
  pcapture->SetPost(&Post, this);
  pcapture->Register(&mutexEngine);
  ppatch->NoteOn(69, 1);
  EXPECT_EQ(RenderUntilPosted(ppatch.get(), 1000), -1);
  pcapture->Withdraw(&mutexEngine);
}

}  // namespace

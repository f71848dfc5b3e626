// Tests of the "Swarm": band-limited edges at their sub-sample positions, the detuned spectral
// lines and their gains, the level as the count grows, detune and frequency changes, the set-up
// messages, bypass and note starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "module_harness.h"
#include "wave_signal.h"

namespace {

constexpr double kRate = 44100;

class SwarmTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrorList::Get()->Clear(); }
};

// ---------------------------------------------------------------------------------------------
// One oscillator: its wave as drawn, each jump split between two samples by where it fell.

// The waves at phase x in cycles, amplitude 1, as a synthesist draws them: a sawtooth falling
// from 1 to -1, a square high in the first half, a triangle falling in the first half.
double NaiveWave(const std::string& sWave, double x) {
  const double p = x - std::floor(x);
  if (sWave == "Square") return p < 0.5 ? 1 : -1;
  if (sWave == "Triangle") return p < 0.5 ? 1 - 4 * p : 4 * p - 3;
  return 1 - 2 * p;
}

// Where the wave jumps or turns in (x0, x1], and the jump there (0 for a turn).
struct Edge {
  double x, dJump;
};
std::vector<Edge> EdgesIn(const std::string& sWave, double x0, double x1) {
  std::vector<Edge> a;
  for (double k = std::floor(x0 * 2); k <= x1 * 2 + 1; ++k) {
    const double x = k / 2;
    if (x <= x0 || x > x1) continue;
    const bool bWrap = std::fmod(k, 2) == 0;
    if (sWave == "Sawtooth" && bWrap) a.push_back({x, 2.0});
    if (sWave == "Square") a.push_back({x, bWrap ? 2.0 : -2.0});
    if (sWave == "Triangle") a.push_back({x, 0.0});
  }
  return a;
}

class SwarmSingleTest : public SwarmTest, public ::testing::WithParamInterface<const char*> {};

// With Count 1 the swarm is one oscillator at Frequency with gain 1, starting at a phase drawn
// from the patch's generator. Sample k is the wave at (k + 1) samples, except that a jump inside
// the sample counts only by the part of the sample after it; the rest arrives on the next.
TEST_P(SwarmSingleTest, JumpsLandAtTheirSubSamplePositions) {
  const std::string sWave = GetParam();
  for (double dFreq : {441.0, 1234.5}) {
    ModuleHarness h("Swarm");
    h.Set("Waveform", sWave.c_str());
    h.Set("Count", "1");
    h.Set("Frequency", Num(dFreq).c_str());
    uint32_t x = h.uRandom;
    const double r = PatchDraw(&x);  // the oscillator's phase at the note start
    ASSERT_EQ(h.Start(), 0);
    EXPECT_EQ(h.uRandom, x) << "one draw per oscillator";
    const double dt = dFreq / kRate;
    int nEdges = 0, nSync = 0;
    for (int k = 0; k < 3000; ++k, h.Step()) {
      const double x1 = r + (k + 1) * dt, x0 = x1 - dt;
      double dExpected = NaiveWave(sWave, x1);
      bool bOwnEdge = false;
      for (const Edge& e : EdgesIn(sWave, x0, x1)) {
        const double f = (x1 - e.x) / dt;  // the part of the sample after the edge
        dExpected -= (1 - f) * e.dJump;
        bOwnEdge = true;
      }
      nEdges += bOwnEdge;
      ASSERT_NEAR(h.Out("Control"), dExpected, 1e-9) << sWave << " " << dFreq << " Hz, sample " << k;
      const double dSync = h.Out("SyncOut");
      ASSERT_EQ(dSync, bOwnEdge ? 1 : 0) << sWave << " sample " << k;
      nSync += dSync == 1;
    }
    // Once per period for the sawtooth, twice for the square and the triangle.
    const double dPerPeriod = sWave == "Sawtooth" ? 1 : 2;
    EXPECT_NEAR(nSync, 3000 * dt * dPerPeriod, 1.5);
  }
}

INSTANTIATE_TEST_SUITE_P(Waveforms, SwarmSingleTest, ::testing::Values("Sawtooth", "Square", "Triangle"));

// ---------------------------------------------------------------------------------------------
// Several oscillators: each one's line in the spectrum at its detuned frequency, with its gain.

// The raw detune and gain shapes of oscillator i of n, as the patch's formulas compute them.
struct ShapeCase {
  const char* pszWhat;
  const char* pszDetuneShape;  // null: the default
  const char* pszGainShape;    // null: the default
  std::function<double(int)> fnDetune;
  std::function<double(int, double)> fnGain;  // of i and the normalised detune shape
};
void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.pszWhat; }

double DefaultDetuneShape(int i) { return i * i * (i % 2 == 1 ? 1 : -1) + std::sqrt(2.0) / 10; }

// Normalised shapes d (widest at 1 in size, oscillator 0 at 0) and gains g (summing to 1).
void Shapes(const ShapeCase& c, int n, std::vector<double>* pad, std::vector<double>* pag) {
  std::vector<double>& ad = *pad;
  std::vector<double>& ag = *pag;
  ad.assign(static_cast<size_t>(n), 0);
  double dMax = 0;
  for (int i = 1; i < n; ++i) {
    ad[static_cast<size_t>(i)] = c.fnDetune(i);
    dMax = std::max(dMax, std::fabs(ad[static_cast<size_t>(i)]));
  }
  if (dMax > 0)
    for (double& d : ad) d /= dMax;
  ag.assign(static_cast<size_t>(n), 0);
  double dSum = 0;
  for (int i = 0; i < n; ++i) dSum += ag[static_cast<size_t>(i)] = c.fnGain(i, ad[static_cast<size_t>(i)]);
  for (double& g : ag) g /= dSum;
}

class SwarmShapeTest : public SwarmTest, public ::testing::WithParamInterface<ShapeCase> {};

// Seven squares detuned widely (Detune 1.5, a fifth): oscillator i runs at Frequency / m with
// m = Detune^d and holds +-g m, so its fundamental is a line of 4/pi g m at Frequency / m.
TEST_P(SwarmShapeTest, EachOscillatorIsALineAtItsDetunedFrequency) {
  const ShapeCase& c = GetParam();
  constexpr int n = 7;
  constexpr double kFreq = 500, kDetune = 1.5;
  ModuleHarness h("Swarm");
  h.FoldConstantReferences();  // GainAdjust's default reads Count: the optimizer folds it
  h.Set("Waveform", "Square");
  h.Set("Count", "7");
  h.Set("Frequency", Num(kFreq).c_str());
  h.Set("Detune", Num(kDetune).c_str());
  if (c.pszDetuneShape) h.Set("DetuneShape", c.pszDetuneShape);
  if (c.pszGainShape) h.Set("GainShape", c.pszGainShape);
  ASSERT_EQ(h.Start(), 0);
  const std::vector<double> ad = h.Render("Control", 2 * static_cast<int>(kRate));
  std::vector<double> adShape, adGain;
  Shapes(c, n, &adShape, &adGain);
  for (int i = 0; i < n; ++i) {
    const double m = std::pow(kDetune, adShape[static_cast<size_t>(i)]);
    const double dExpected = 4 / kPi * adGain[static_cast<size_t>(i)] * m;
    EXPECT_NEAR(HannAmplitude(ad, kFreq / m, kRate), dExpected, 0.01 * dExpected)
        << c.pszWhat << ": oscillator " << i << " at " << kFreq / m << " Hz";
  }
  // Between the lines there is nothing: halfway between the two lowest of them.
  std::vector<double> adFreq;
  for (double d : adShape) adFreq.push_back(kFreq / std::pow(kDetune, d));
  std::sort(adFreq.begin(), adFreq.end());
  EXPECT_LT(HannAmplitude(ad, (adFreq[0] + adFreq[1]) / 2, kRate), 0.002);
  EXPECT_EQ(ErrorEntries(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SwarmShapeTest,
    ::testing::Values(
        ShapeCase{"default shapes", nullptr, nullptr, DefaultDetuneShape, [](int, double) { return 1.0; }},
        ShapeCase{"alternate sides by Side and SideWave, gains by DetuneAmt",
                  "IF( Side, SideWave, -SideWave )", "1 - 0.5 * ABS( DetuneAmt )",
                  [](int i) { return i % 2 == 0 ? (i + 1) / 2 : -((i + 1) / 2); },
                  [](int, double d) { return 1 - 0.5 * std::fabs(d); }},
        ShapeCase{"linear detune, gains by number", "Wave", "1 + Wave", [](int i) { return double(i); },
                  [](int i, double) { return 1.0 + i; }}));

// ---------------------------------------------------------------------------------------------
// The level as the count grows.

struct CountCase {
  int nCount;
  double dGainAdjust;  // the default formula's value
};
void PrintTo(const CountCase& c, std::ostream* os) { *os << c.nCount << " oscillators"; }
class SwarmCountTest : public SwarmTest, public ::testing::WithParamInterface<CountCase> {};

// Sawtooths of random phases at distinct frequencies add in power: the running sum varies by the
// mean square sum (g m)^2 / 3, which falls as the count grows (each gain is 1/Count), while Output
// is it times GainAdjust, by default growing with the count to hold the output level up. Each
// jump counts in its sample only by the part after it, half on average, which lowers the mean by
// 2 g m per period of m / dt samples: -dt in all.
TEST_P(SwarmCountTest, PowerAddsAndGainAdjustHoldsTheLevel) {
  const CountCase& c = GetParam();
  constexpr double kFreq = 300, kDetune = 1.37;  // no two harmonics of the lines coincide
  ShapeCase shapes{"default", nullptr, nullptr, DefaultDetuneShape, [](int, double) { return 1.0; }};
  std::vector<double> adShape, adGain;
  Shapes(shapes, c.nCount, &adShape, &adGain);
  double dExpected = 0;
  for (size_t i = 0; i < adShape.size(); ++i) dExpected += std::pow(adGain[i] * std::pow(kDetune, adShape[i]), 2) / 3;

  ModuleHarness h("Swarm");
  h.FoldConstantReferences();  // GainAdjust's default reads Count: the optimizer folds it
  h.Set("Count", std::to_string(c.nCount).c_str());
  h.Set("Frequency", Num(kFreq).c_str());
  h.Set("Detune", Num(kDetune).c_str());
  ASSERT_EQ(h.Start(), 0);
  // Mean and variance over four notes, each with fresh phases.
  double dMean = 0, dVariance = 0;
  constexpr int kNotes = 4;
  for (int iNote = 0; iNote < kNotes; ++iNote) {
    if (iNote) h.Retrigger();
    const std::vector<double> ad = h.Render("Control", static_cast<int>(kRate));
    const double d = Mean(ad);
    dMean += d / kNotes;
    dVariance += (MeanSquare(ad) - d * d) / kNotes;
  }
  const double dt = kFreq / kRate;
  EXPECT_NEAR(dMean, -dt, 0.05 * dt) << c.nCount << " oscillators";
  EXPECT_NEAR(dVariance, dExpected, 0.1 * dExpected) << c.nCount << " oscillators";

  // Output is Control times GainAdjust, times the bass factor above FreqFullBass (55 Hz).
  const double dBass = 55 / kFreq;
  h.Step();
  EXPECT_NEAR(h.Out("Output"), h.Out("Control") * c.dGainAdjust * dBass, 1e-12);
  EXPECT_EQ(ErrorEntries(), 0);
}

INSTANTIATE_TEST_SUITE_P(Counts, SwarmCountTest,
                         ::testing::Values(CountCase{1, 0.3}, CountCase{2, 0.5}, CountCase{3, 0.75},
                                           CountCase{4, 1}, CountCase{7, std::sqrt(12.0) / 3},
                                           CountCase{100, std::sqrt(105.0) / 3},
                                           CountCase{1000, std::sqrt(1005.0) / 3}));

// ---------------------------------------------------------------------------------------------
// Detune.

struct DetuneCase {
  const char* pszDetune;
  bool bPeriodic;  // all oscillators at Frequency: the sum repeats every period
};
void PrintTo(const DetuneCase& c, std::ostream* os) { *os << "Detune " << c.pszDetune; }
class SwarmDetuneTest : public SwarmTest, public ::testing::WithParamInterface<DetuneCase> {};

// At 441 Hz a period is 100 samples. Detune 1 and below 1 (raised to 1) leave every oscillator
// at Frequency; 2 cents spreads them, and the sum no longer repeats.
TEST_P(SwarmDetuneTest, BelowOneIsRaisedToOne) {
  const DetuneCase& c = GetParam();
  ModuleHarness h("Swarm");
  h.Set("Frequency", "441");
  h.Set("Detune", c.pszDetune);
  ASSERT_EQ(h.Start(), 0);
  const std::vector<double> ad = h.Render("Control", 3000);
  double dMaxChange = 0;
  for (size_t k = 100; k < ad.size(); ++k) dMaxChange = std::max(dMaxChange, std::fabs(ad[k] - ad[k - 100]));
  if (c.bPeriodic)
    EXPECT_LT(dMaxChange, 1e-9) << "Detune " << c.pszDetune;
  else
    EXPECT_GT(dMaxChange, 1e-4) << "Detune " << c.pszDetune;
}

INSTANTIATE_TEST_SUITE_P(Detunes, SwarmDetuneTest,
                         ::testing::Values(DetuneCase{"1", true}, DetuneCase{"0.5", true}, DetuneCase{"-3", true},
                                           DetuneCase{"2 cents", false}));

// A varying Detune reaches each oscillator at its next event. Oscillator 1 of two (detune shape
// 1, the only one with gain) runs at Frequency / Detune: its wraps come every Detune periods.
TEST_F(SwarmTest, ANewDetuneTakesEffectAtTheNextEvent) {
  ModuleHarness h("Swarm");
  h.AddContext("Ctx", "Detune");
  h.Set("Count", "2");
  h.Set("Frequency", "441");
  h.Set("Detune", "Ctx:Detune");
  h.Set("GainShape", "IF( Wave = 0, 0, 1 )");
  ASSERT_EQ(h.Start(), 0);  // Detune 0 at the note start: raised to 1
  h.Value("Ctx", "Detune") = 1;
  std::vector<int> aiWrap;  // samples where the sawtooth starts a jump up (spread over two samples)
  double dPrev = h.Out("Control");
  bool bRising = false;
  for (int k = 1; k < 2000; ++k) {
    h.Step();
    if (k == 500) h.Value("Ctx", "Detune") = 2;
    const double d = h.Out("Control");
    if (d > dPrev + 0.5 && !bRising) aiWrap.push_back(k);
    bRising = d > dPrev + 0.5;
    dPrev = d;
  }
  ASSERT_GE(aiWrap.size(), 8u);
  int nBefore = 0, nAfter = 0;
  for (size_t i = 1; i < aiWrap.size(); ++i) {
    const int nGap = aiWrap[i] - aiWrap[i - 1];
    if (aiWrap[i - 1] >= 500) {
      EXPECT_NEAR(nGap, 200, 1) << "wraps at " << aiWrap[i - 1] << " and " << aiWrap[i];
      ++nAfter;
    } else if (aiWrap[i] < 500) {
      EXPECT_NEAR(nGap, 100, 1) << "wraps at " << aiWrap[i - 1] << " and " << aiWrap[i];
      ++nBefore;
    }
  }
  EXPECT_GE(nBefore, 3);
  EXPECT_GE(nAfter, 3);
}

// A change of Frequency changes the slope from the next sample on: away from the wraps, one
// sawtooth of gain 1 falls 2 F / FreqEval per sample.
TEST_F(SwarmTest, FrequencyChangesTheSlopeAtOnce) {
  ModuleHarness h("Swarm");
  h.AddContext("Ctx", "F");
  h.Set("Count", "1");
  h.Set("Frequency", "Ctx:F");
  ASSERT_EQ(h.Start(), 0);
  h.Value("Ctx", "F") = 441;
  double dPrev = h.Out("Control");
  bool bPrevEdge = true;
  int nChecked = 0;
  for (int k = 1; k < 1200; ++k) {
    h.Step();
    const double dFreq = k < 600 ? 441 : 882;
    h.Value("Ctx", "F") = dFreq;
    const double d = h.Out("Control");
    const bool bEdge = h.Out("SyncOut") == 1;
    if (!bEdge && !bPrevEdge) {
      ASSERT_NEAR(d - dPrev, -2 * dFreq / kRate, 1e-12) << "sample " << k;
      ++nChecked;
    }
    dPrev = d;
    bPrevEdge = bEdge;
  }
  EXPECT_GT(nChecked, 1000);
}

// ---------------------------------------------------------------------------------------------
// Set-up messages: each at the line of its variable, and the swarm goes on with the fallback.

constexpr const char* kCountMessage = "must be a constant int from 1 to 10000; assuming 7";
constexpr const char* kWaveMessage = "Waveform must be Sawtooth or Square; assuming Sawtooth";
constexpr const char* kGainMessage = "GainAdjust evaluate at patch load to a constant >0 and <1000; assuming 1";

struct SetupCase {
  std::vector<std::pair<const char*, const char*>> aSet;  // each set at line 10 + its position
  const char* pszVar;                                     // the variable the message concerns
  const char* pszMessage;                                 // null: none
  int nOscillators;                                       // the count in use
  bool bGainAdjustToo = false;  // GainAdjust's default reads the bad Count: reported as well
};
void PrintTo(const SetupCase& c, std::ostream* os) {
  for (const auto& [pszVar, pszFormula] : c.aSet) *os << pszVar << " = " << pszFormula << "; ";
}
class SwarmSetupTest : public SwarmTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(SwarmSetupTest, ReportsAtTheVariablesLineAndFallsBack) {
  const SetupCase& c = GetParam();
  ModuleHarness h("Swarm");
  h.FoldConstantReferences();
  h.Set("Frequency", "50");  // below FreqFullBass: Output is Control times GainAdjust
  int iLine = -1;
  for (size_t i = 0; i < c.aSet.size(); ++i) {
    h.Set(c.aSet[i].first, c.aSet[i].second, 10 + static_cast<int>(i));
    if (std::string(c.aSet[i].first) == c.pszVar) iLine = 10 + static_cast<int>(i);
  }
  const uint32_t uSeed = h.uRandom;
  ASSERT_EQ(h.Start(), 0);
  // A voice evaluates the constant inputs again after the modules' set-up: a fallback must hold.
  for (const Var* pvarRow = h.pmodule()->ptype->avarInputs; pvarRow->pszName; ++pvarRow) {
    Var* pvar = h.Find("Swarm", pvarRow->pszName);
    if (pvar && pvar->pform && pvar->pform->et < FormTypeRef) FormVarRefresh(pvar);
  }
  if (c.pszMessage) {
    EXPECT_EQ(ErrorLine(c.pszMessage), iLine) << c.pszMessage;
    EXPECT_EQ(ErrorEntries(), c.bGainAdjustToo ? 2 : 1);
    if (c.bGainAdjustToo) {
      EXPECT_EQ(ErrorLine(kGainMessage), -1) << "GainAdjust has no line of its own";
    }
  } else {
    EXPECT_EQ(ErrorEntries(), 0);
  }
  EXPECT_EQ(h.uRandom, AfterDraws(uSeed, c.nOscillators)) << "one draw per oscillator in use";
  for (int k = 0; k < 200; ++k, h.Step()) {
    const double dControl = h.Out("Control");
    ASSERT_TRUE(std::isfinite(dControl));
    if (std::string(c.pszVar) == "GainAdjust") {
      const double dGain = c.pszMessage ? 1 : std::stod(c.aSet[0].second);
      ASSERT_NEAR(h.Out("Output"), dGain * dControl, 1e-12);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SwarmSetupTest,
    ::testing::Values(SetupCase{{{"Count", "0"}}, "Count", kCountMessage, 7, true},
                      SetupCase{{{"Count", "2.5"}}, "Count", kCountMessage, 7},
                      SetupCase{{{"Count", "20000"}}, "Count", kCountMessage, 7},
                      SetupCase{{{"Waveform", "Square"}, {"Count", "Note:Time + 3"}}, "Count", kCountMessage, 7, true},
                      SetupCase{{{"Count", "10000"}}, "Count", nullptr, 10000},
                      SetupCase{{{"Count", "3"}, {"Waveform", "Sine"}}, "Waveform", kWaveMessage, 3},
                      SetupCase{{{"Waveform", "Triangle"}}, "Waveform", nullptr, 7},
                      SetupCase{{{"GainAdjust", "0"}}, "GainAdjust", kGainMessage, 7},
                      SetupCase{{{"GainAdjust", "1000"}}, "GainAdjust", kGainMessage, 7},
                      SetupCase{{{"GainAdjust", "Note:Time"}}, "GainAdjust", kGainMessage, 7},
                      SetupCase{{{"GainAdjust", "999"}}, "GainAdjust", nullptr, 7},
                      SetupCase{{{"GainShape", "Wave - 3"}}, "GainShape", "Swarm:GainShape sums to 0; using equal gains",
                                7}));

// A "Sine" falls back to the sawtooth: one oscillator then draws the sawtooth.
TEST_F(SwarmTest, AnUnknownWaveformPlaysTheSawtooth) {
  std::vector<double> aad[2];
  for (int i = 0; i < 2; ++i) {
    ModuleHarness h("Swarm");
    h.Set("Count", "1");
    h.Set("Frequency", "441");
    h.Set("Waveform", i ? "Sine" : "Sawtooth");
    ASSERT_EQ(h.Start(), 0);
    aad[i] = h.Render("Control", 500);
  }
  EXPECT_EQ(aad[0], aad[1]);
  EXPECT_EQ(ErrorLine(kWaveMessage), -1);
}

// ---------------------------------------------------------------------------------------------
// Bypass, frequency 0, note starts.

// While bypassed the output is 0 and nothing moves: afterwards the swarm goes on where it stood.
TEST_F(SwarmTest, BypassStopsTheSwarmWhereItStands) {
  ModuleHarness hFree("Swarm"), h("Swarm");
  h.AddContext("Ctx", "Off");
  for (ModuleHarness* ph : {&hFree, &h}) {
    ph->Set("Frequency", "441");
    ph->Set("Detune", "1.01");
  }
  h.Set("Bypass", "Ctx:Off");
  ASSERT_EQ(hFree.Start(), 0);
  ASSERT_EQ(h.Start(), 0);
  const std::vector<double> adFree = hFree.Render("Output", 800);
  for (int k = 0; k < 950; ++k, h.Step()) {
    const bool bOff = k >= 100 && k < 250;
    h.Value("Ctx", "Off") = bOff;
    const double dExpected = bOff ? 0 : adFree[static_cast<size_t>(k < 100 ? k : k - 150)];
    ASSERT_DOUBLE_EQ(h.Out("Output"), dExpected) << "sample " << k;
  }
}

TEST_F(SwarmTest, FrequencyZeroHoldsTheSum) {
  ModuleHarness h("Swarm");
  h.Set("Frequency", "0");
  ASSERT_EQ(h.Start(), 0);
  const double d0 = h.Out("Control");
  for (int k = 0; k < 500; ++k, h.Step()) {
    ASSERT_EQ(h.Out("Control"), d0) << "sample " << k;
    ASSERT_EQ(h.Out("SyncOut"), 0);
  }
}

// A negative frequency runs the swarm at its magnitude (running backwards it would never meet an
// event while the slope drove the sum away), at the same level; one that is not finite stops the
// sum like 0 (and its bass factor, 55 Hz / infinity, silences the output).
TEST_F(SwarmTest, NegativeAndEndlessFrequencies) {
  const struct {
    const char* pszFrequency;
    const char* pszLike;
    const char* pszOutput;
  } aCases[] = {{"-441", "441", "Output"}, {"-30", "30", "Output"}, {"1 / 0", "0", "Control"}};
  for (const auto& c : aCases) {
    std::vector<double> aad[2];
    for (int i = 0; i < 2; ++i) {
      ModuleHarness h("Swarm");
      h.Set("Frequency", i ? c.pszFrequency : c.pszLike);
      ASSERT_EQ(h.Start(), 0);
      aad[i] = h.Render(c.pszOutput, 3000);
    }
    EXPECT_EQ(aad[1], aad[0]) << c.pszFrequency << " plays like " << c.pszLike;
  }
}

// Every note start draws fresh phases from the patch's generator, one per oscillator.
TEST_F(SwarmTest, EachNoteStartsAtNewPhases) {
  ModuleHarness h("Swarm");
  h.Set("Frequency", "441");
  h.Set("Count", "12");
  ASSERT_EQ(h.Start(), 0);
  const uint32_t uAfterFirst = h.uRandom;
  const std::vector<double> adFirst = h.Render("Control", 300);
  h.Retrigger();
  EXPECT_EQ(h.uRandom, AfterDraws(uAfterFirst, 12));
  const std::vector<double> adSecond = h.Render("Control", 300);
  double dDiff = 0;
  for (size_t k = 0; k < adFirst.size(); ++k) dDiff = std::max(dDiff, std::fabs(adFirst[k] - adSecond[k]));
  EXPECT_GT(dDiff, 0.05);
}

}  // namespace

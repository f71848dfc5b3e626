// Slews and portamento measured from step responses: rates and times, linear and exponential,
// note continuation, bypass, the sub-patch defaults, and the author's messages.
#include "modules/slew.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "env_support.h"

namespace {

// A slew whose input is the context record In:Value, which the test sets.
std::unique_ptr<ModuleHarness> StartSlew(const char* pszType, const EnvSettings& aSet, double dIn,
                                         double dRate = kEnvRate) {
  auto ph = std::make_unique<ModuleHarness>(pszType, dRate);
  ph->AddContext("In", "Value");
  ph->AddContext("In", "Bypass");
  ph->Set("Input", "In:Value");
  for (const auto& set : aSet) ph->Set(set.first, set.second);
  EXPECT_EQ(ph->Start(), 0);
  ph->Value("In", "Value") = dIn;
  return ph;
}

TEST(SlewTypesTest, TablesOfTheSevenKinds) {
  struct {
    const char* pszType;
    std::vector<std::pair<const char*, const char*>> aRows;  // name and default, in declaration order
    uint32_t attrs;
  } aCases[] = {
      {"Slew",
       {{"Input", nullptr},
        {"Rate", nullptr},
        {"CurveType", "Linear"},
        {"Continue", "False"},
        {"Time", nullptr},
        {"Bypass", "False"}},
       0x13},
      {"SlewRateLinear",
       {{"Input", nullptr},
        {"Rate", nullptr},
        {"CurveType", "Linear"},
        {"Continue", "False"},
        {"Time", nullptr},
        {"Bypass", "False"}},
       0x13},
      {"SlewRateExponential",
       {{"Input", nullptr},
        {"Rate", nullptr},
        {"CurveType", "Exponential"},
        {"Continue", "False"},
        {"Time", nullptr},
        {"Bypass", "False"}},
       0x13},
      {"SlewTimeLinear",
       {{"Input", nullptr},
        {"Time", nullptr},
        {"CurveType", "Linear"},
        {"Continue", "False"},
        {"Rate", nullptr},
        {"Bypass", "False"}},
       0x13},
      {"SlewTimeExponential",
       {{"Input", nullptr},
        {"Time", nullptr},
        {"CurveType", "Exponential"},
        {"Continue", "False"},
        {"Rate", nullptr},
        {"Bypass", "False"}},
       0x13},
      {"Portamento",
       {{"Bypass", "False"},
        {"Input", "Tuning:Output"},
        {"Continue", "True"},
        {"Rate", nullptr},
        {"Time", nullptr},
        {"CurveType", "Exponential"}},
       0x33},
      {"SubPortamento",
       {{"Bypass", "Super( Portamento:Bypass )"},
        {"Input", "Tuning:Output"},
        {"Continue", "Super( Portamento:Continue )"},
        {"Rate", "Super( Portamento:Rate )"},
        {"Time", "Super( Portamento:Time )"},
        {"CurveType", "Super( Portamento:CurveType )"}},
       0x33},
  };
  for (const auto& c : aCases) {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(c.pszType);
    ASSERT_NE(ptype, nullptr) << c.pszType;
    EXPECT_STREQ(ptype->ClassName(), "ModSlew");
    EXPECT_EQ(ptype->attrs, c.attrs) << c.pszType;
    ASSERT_EQ(ptype->NumInputs(), 6);
    for (int i = 0; i < 6; ++i) {
      const Var& var = ptype->avarInputs[i];
      EXPECT_STREQ(var.pszName, c.aRows[i].first) << c.pszType << " row " << i;
      if (c.aRows[i].second) {
        EXPECT_STREQ(var.pszDefault, c.aRows[i].second) << c.pszType << ":" << var.pszName;
      } else {
        EXPECT_EQ(var.pszDefault, nullptr) << c.pszType << ":" << var.pszName;
      }
      const bool bCurve = strcmp(var.pszName, "CurveType") == 0;
      EXPECT_EQ(var.classMax, bCurve ? ClassPerPatch : 0) << c.pszType << ":" << var.pszName;
    }
    ASSERT_EQ(ptype->NumOutputs(), 2);
    EXPECT_STREQ(ptype->avarOutputs[0].pszName, "Output");
    EXPECT_STREQ(ptype->avarOutputs[1].pszName, "Slewing");
  }
  // A section named SlewRateLinear2 finds "Slew", the first registered prefix.
  EXPECT_STREQ(ModuleFactory::Get()->Find(nullptr, "SlewRateLinear2")->pszName, "Slew");
}

struct StepCase {
  const char* pszType;
  const char* pszMode;  // "Rate" or "Time"
  const char* pszValue;
  double dFrom, dTo;
  // Output after j steps of the slew (j >= 1), before it lands.
  double (*pfnWant)(double dFrom, double dTo, double dValue, double j);
  double dSteps;  // how many steps the whole move takes: the output lands on the step after
};
void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.pszType << " " << c.pszMode << " " << c.pszValue << " from " << c.dFrom << " to " << c.dTo;
}

double LinearRate(double dFrom, double dTo, double dRate, double j) {
  return dFrom + (dTo > dFrom ? 1 : -1) * dRate * j / kEnvRate;
}
double ExponentialRate(double dFrom, double dTo, double dRate, double j) {
  return dFrom * std::pow(dTo > dFrom ? dRate : 1 / dRate, j / kEnvRate);
}
double LinearTime(double dFrom, double dTo, double dTime, double j) {
  return dFrom + (dTo - dFrom) * j / (dTime * kEnvRate);
}
double ExponentialTime(double dFrom, double dTo, double dTime, double j) {
  return dFrom * std::pow(dTo / dFrom, j / (dTime * kEnvRate));
}

class SlewStepTest : public ::testing::TestWithParam<StepCase> {};

// The input steps from dFrom to dTo after the first sample; the output moves at the rate, or
// over the time, along the straight or the constant-ratio path and lands exactly on the input.
TEST_P(SlewStepTest, StepResponse) {
  const StepCase& c = GetParam();
  auto ph = StartSlew(c.pszType, {{c.pszMode, c.pszValue}}, c.dFrom);
  EXPECT_EQ(ph->Out("Output"), c.dFrom) << "the first computation starts at the input";
  EXPECT_EQ(ph->Out("Slewing"), 0);
  ph->Value("In", "Value") = c.dTo;
  const double dValue = std::stod(c.pszValue);
  const int iLand = static_cast<int>(std::ceil(c.dSteps));
  for (int j = 1; j <= iLand + 2; ++j) {
    ph->Step();
    const double dOut = ph->Out("Output");
    if (j < iLand) {
      const double dWant = c.pfnWant(c.dFrom, c.dTo, dValue, j);
      ASSERT_NEAR(dOut, dWant, 1e-9 * std::max(1.0, std::fabs(dWant))) << c.pszType << " step " << j;
      ASSERT_EQ(ph->Out("Slewing"), 1) << j;
    } else {
      ASSERT_EQ(dOut, c.dTo) << c.pszType << " step " << j;
    }
  }
  EXPECT_EQ(ph->Out("Slewing"), 0) << "the computation after landing finds the output at the input";
}

INSTANTIATE_TEST_SUITE_P(
    Slew, SlewStepTest,
    ::testing::Values(
        // 13 units per second: 1 unit in 3392.3 samples.
        StepCase{"SlewRateLinear", "Rate", "13", 0, 1, LinearRate, kEnvRate / 13},
        StepCase{"Slew", "Rate", "13", 1, 0, LinearRate, kEnvRate / 13},
        // Factor 2 per second: 1 to 3 in log2(3) s, and back.
        StepCase{"SlewRateExponential", "Rate", "2", 1, 3, ExponentialRate, kEnvRate* std::log2(3.0)},
        StepCase{"SlewRateExponential", "Rate", "2", 3, 1, ExponentialRate, kEnvRate* std::log2(3.0)},
        // 0.0501 s = 2209.41 samples.
        StepCase{"SlewTimeLinear", "Time", "0.0501", 0, 1, LinearTime, 0.0501 * kEnvRate},
        StepCase{"SlewTimeLinear", "Time", "0.0501", 5, -3, LinearTime, 0.0501 * kEnvRate},
        StepCase{"SlewTimeExponential", "Time", "0.0501", 100, 400, ExponentialTime, 0.0501 * kEnvRate},
        StepCase{"SlewTimeExponential", "Time", "0.0501", 400, 100, ExponentialTime, 0.0501 * kEnvRate}),
    [](const auto& info) { return std::string(info.param.pszType) + "_" + std::to_string(info.index); });

// 10 units per second from 0 to 1: 10/FreqEval a sample, about 0.1 s, never past 1 and landing
// exactly on it (4410 steps of 10/44100 make 1 but for rounding, which decides the last step).
TEST(SlewTest, LinearRateLandsExactlyOnTheInput) {
  auto ph = StartSlew("SlewRateLinear", {{"Rate", "10"}}, 0);
  ph->Out("Output");
  ph->Value("In", "Value") = 1;
  int nSteps = 0;
  double dOut = 0;
  while (dOut != 1 && nSteps < 5000) {
    ph->Step();
    ++nSteps;
    dOut = ph->Out("Output");
    ASSERT_LE(dOut, 1);
    ASSERT_NEAR(dOut, std::min(1.0, nSteps * 10 / kEnvRate), 1e-12) << nSteps;
  }
  EXPECT_GE(nSteps, 4410);
  EXPECT_LE(nSteps, 4411);
}

// Rate 1 is a factor of 1 per second: the output never moves. An output of 0 never leaves 0.
TEST(SlewTest, ExponentialRateThatCannotMove) {
  struct {
    const char* pszRate;
    double dFrom, dTo;
  } aCases[] = {{"1", 1, 3}, {"2", 0, 5}};
  for (const auto& c : aCases) {
    auto ph = StartSlew("SlewRateExponential", {{"Rate", c.pszRate}}, c.dFrom);
    ph->Out("Output");
    ph->Value("In", "Value") = c.dTo;
    for (int j = 1; j < 1000; ++j) ph->Step();
    EXPECT_EQ(ph->Out("Output"), c.dFrom) << c.pszRate;
  }
}

// An input that moves during a Time slew does not restart the time: the output reaches the new
// input when the time that began with the slew runs out.
TEST(SlewTest, TimeCountsFromTheStartOfTheSlew) {
  auto ph = StartSlew("SlewTimeLinear", {{"Time", "0.0501"}}, 0);
  ph->Out("Output");
  ph->Value("In", "Value") = 1;
  const double nSteps = 0.0501 * kEnvRate;  // 2209.41
  double dAtChange = 0;
  for (int j = 1; j <= 2211; ++j) {
    ph->Step();
    if (j == 1000) {
      ph->Value("In", "Value") = 3;
      dAtChange = 999 / nSteps;  // where the first slew had got to
    }
    const double dOut = ph->Out("Output");
    if (j >= 1000 && j < 2210) {
      ASSERT_NEAR(dOut, dAtChange + (3 - dAtChange) * (j - 999) / (nSteps - 999), 1e-9) << j;
    } else if (j >= 2210) {
      ASSERT_EQ(dOut, 3) << j;
    }
  }
}

// Time 0 jumps at once; with both Rate and Time set, Rate decides.
TEST(SlewTest, TimeZeroAndRatePrecedence) {
  {
    auto ph = StartSlew("SlewTimeLinear", {{"Time", "0"}}, 0);
    ph->Out("Output");
    ph->Value("In", "Value") = 5;
    ph->Step();
    EXPECT_EQ(ph->Out("Output"), 5);
  }
  {
    auto ph = StartSlew("Slew", {{"Rate", "13"}, {"Time", "1"}}, 0);
    ph->Out("Output");
    ph->Value("In", "Value") = 1;
    for (int j = 1; j <= 100; ++j) ph->Step();
    EXPECT_NEAR(ph->Out("Output"), 100 * 13 / kEnvRate, 1e-12);
  }
}

TEST(SlewTest, BypassPassesTheInput) {
  auto ph = StartSlew("SlewRateLinear", {{"Rate", "1"}, {"Bypass", "In:Bypass"}}, 0);
  ph->Out("Output");
  ph->Value("In", "Bypass") = 1;
  ph->Value("In", "Value") = 7;
  ph->Step();
  EXPECT_EQ(ph->Out("Output"), 7);
  EXPECT_EQ(ph->Out("Slewing"), 0);
  ph->Value("In", "Bypass") = 0;
  ph->Value("In", "Value") = 8;
  ph->Step();
  EXPECT_NEAR(ph->Out("Output"), 7 + 1 / kEnvRate, 1e-12) << "slewing again from where the bypass left it";
}

// Without Continue every note starts at its input; with it, a note glides from where the
// previous note left the output.
TEST(SlewTest, ContinueDecidesWhetherANoteGlides) {
  for (const char* pszContinue : {"False", "True"}) {
    auto ph = StartSlew("SlewRateLinear", {{"Rate", "13"}, {"Continue", pszContinue}}, 2);
    EXPECT_EQ(ph->Out("Output"), 2);
    ph->Value("In", "Value") = 1;
    ph->Retrigger();
    const bool bGlides = strcmp(pszContinue, "True") == 0;
    EXPECT_NEAR(ph->Out("Output"), bGlides ? 2 - 13 / kEnvRate : 1, 1e-12) << pszContinue;
  }
}

// The voice's portamento: the first note of a fresh voice starts at its pitch; the next note in
// the same voice glides there from the previous pitch, by default along the constant-ratio path.
TEST(PortamentoTest, NextNoteGlidesFromThePreviousPitch) {
  auto ph = StartSlew("Portamento", {{"Time", "0.1003"}}, 220);
  EXPECT_EQ(ph->Out("Output"), 220);
  for (int j = 1; j < 100; ++j) ph->Step();
  EXPECT_EQ(ph->Out("Output"), 220);
  ph->Value("In", "Value") = 440;
  ph->Retrigger();
  const double nSteps = 0.1003 * kEnvRate;  // 4423.23: the glide lands on its 4424th step
  for (int j = 0; j < 4430; ++j) {
    if (j) ph->Step();
    const double dOut = ph->Out("Output");
    if (j + 1 < 4424) {
      ASSERT_NEAR(dOut, 220 * std::pow(2, (j + 1) / nSteps), 1e-9) << j;
    } else {
      ASSERT_EQ(dOut, 440) << j;
    }
  }
}

// In Rate mode an exponential portamento moves by a factor per second: an octave a second at 2,
// so a fifth (1.5) takes log2(1.5) s.
TEST(PortamentoTest, RateIsAFactorPerSecond) {
  auto ph = StartSlew("Portamento", {{"Rate", "2"}}, 220);
  ph->Out("Output");
  ph->Value("In", "Value") = 330;
  ph->Retrigger();
  const int iLand = static_cast<int>(std::ceil(kEnvRate * std::log2(1.5)));  // steps
  for (int j = 0; j < iLand + 2; ++j) {
    if (j) ph->Step();
    const double dOut = ph->Out("Output");
    if (j + 1 < iLand) {
      ASSERT_NEAR(dOut, 220 * std::pow(2, (j + 1) / kEnvRate), 1e-9) << j;
    } else {
      ASSERT_EQ(dOut, 330) << j;
    }
  }
}

// A sub-patch's portamento follows the enclosing patch's Portamento settings through Super(),
// unless it sets its own.
TEST(PortamentoTest, SubPortamentoFollowsTheParent) {
  struct {
    const char* pszOwnTime;  // the sub-patch's own Time, or none
    double dTime;
  } aCases[] = {{nullptr, 0.0501}, {"0.0202", 0.0202}};
  for (const auto& c : aCases) {
    ModuleHarness h("SubPortamento", kEnvRate, false, "Portamento");
    h.PlaceInSubPatch();
    h.AddContext("In", "Value");
    h.AddContextAt(1, "Portamento", "Rate");  // unset in the parent: set to the largest double below
    h.AddContextAt(1, "Portamento", "Time", "0.0501");
    h.AddContextAt(1, "Portamento", "CurveType", "Linear");
    h.AddContextAt(1, "Portamento", "Continue", "True");
    h.AddContextAt(1, "Portamento", "Bypass", "False");
    h.Set("Input", "In:Value");
    if (c.pszOwnTime) h.Set("Time", c.pszOwnTime);
    ASSERT_EQ(h.Start(), 0);
    // The enclosing patch's own records come after the module's in the table.
    Var* pvarParentRate = nullptr;
    for (Var* pvar = *h.pmodule()->ppavarTable; pvar->pszName; ++pvar)
      if (pvar->iLevel == 1 && strcmp(pvar->pszName, "Rate") == 0) pvarParentRate = pvar;
    ASSERT_NE(pvarParentRate, nullptr);
    *pvarParentRate->pvalue = DBL_MAX;
    h.Value("In", "Value") = 100;
    EXPECT_EQ(h.Out("Output"), 100);
    h.Value("In", "Value") = 200;
    h.Retrigger();
    const double nSteps = c.dTime * kEnvRate;
    for (int j = 0; j < 300; ++j) {
      if (j) h.Step();
      ASSERT_NEAR(h.Out("Output"), 100 + 100 * (j + 1) / nSteps, 1e-9) << c.dTime << " " << j;
    }
  }
}

struct MessageCase {
  const char* pszType;
  EnvSettings aSet;
  double dFrom, dTo;
  const char* pszMessage;
};

// The run-time mistakes: the message at each computation that meets them, and an output of 0.
TEST(SlewTest, MessagesForTheAuthor) {
  const MessageCase aCases[] = {
      {"Slew", {}, 1, 2, "Slew <1>: Rate or Time must be set"},
      {"Slew", {{"Rate", "-1"}}, 1, 2, "Slew:Rate must be >= 0.0"},
      {"SlewRateExponential",
       {{"Rate", "0.5"}},
       1,
       2,
       "SlewRateExponential:Rate must be >= 1.0 when Curve = Exponential"},
      {"SlewRateExponential",
       {{"Rate", "2"}},
       -1,
       2,
       "[SlewRateExponential] Curve is Exponential but Input and Output on opposite sides of 0"},
      {"SlewTimeLinear", {{"Time", "-1"}}, 1, 2, "SlewTimeLinear:Time must be positive"},
  };
  for (const MessageCase& c : aCases) {
    ErrorList::Get()->Clear();
    auto ph = StartSlew(c.pszType, c.aSet, c.dFrom);
    EXPECT_EQ(ph->Out("Output"), c.dFrom);
    EXPECT_EQ(ErrorEntries(), 0);
    ph->Value("In", "Value") = c.dTo;
    ph->Step();
    EXPECT_EQ(ph->Out("Output"), 0) << c.pszMessage;
    EXPECT_TRUE(ErrorListHas(c.pszMessage)) << c.pszMessage;
  }
}

}  // namespace

// The sine-operator banks: additive partials at their gains and slew, phase-modulation sidebands at
// the Bessel levels, operator networks against their closed form, and the banks' messages.
#include <cmath>

#include "fx_support.h"

namespace {

// Above FreqFullBass an operator is scaled down by FreqFullBass / frequency.
double Bass(double dFreq) {
  double dFull = TheEngine()->dFreqFullBass;
  return dFreq > dFull ? dFull / dFreq : 1.0;
}

std::vector<double> Slice(const std::vector<double>& ad, size_t iFrom, size_t n) {
  return std::vector<double>(ad.begin() + static_cast<long>(iFrom), ad.begin() + static_cast<long>(iFrom + n));
}

// ---- Adder ------------------------------------------------------------------------------------

struct Partial {
  double dFreq, dGain;
};

struct PartialsCase {
  std::vector<Partial> apartial;
  bool bVarying;  // frequencies and gains through formulas that vary
};
std::ostream& operator<<(std::ostream& os, const PartialsCase& pc) {
  return os << pc.apartial.size() << " partials" << (pc.bVarying ? ", varying" : "");
}

class AdderPartials : public FxParamTest<PartialsCase> {};

// Every partial sounds at its frequency with its gain (times the bass factor); nothing between.
TEST_P(AdderPartials, SoundAtTheirGains) {
  const PartialsCase& pc = GetParam();
  ModuleHarness h("Adder", kFxRate);
  h.Set("Slew", "0.0005");
  for (size_t i = 0; i < pc.apartial.size(); ++i) {
    std::string sFreq = Format("Freq%zu", i + 1), sGain = Format("Gain%zu", i + 1);
    if (pc.bVarying) {
      h.AddContext("Src", sFreq.c_str());
      h.AddContext("Src", sGain.c_str());
      h.Set(sFreq.c_str(), ("Src:" + sFreq).c_str());
      h.Set(sGain.c_str(), ("Src:" + sGain).c_str());
    } else {
      h.Set(sFreq.c_str(), Format("%.17g", pc.apartial[i].dFreq).c_str());
      h.Set(sGain.c_str(), Format("%.17g", pc.apartial[i].dGain).c_str());
    }
  }
  ASSERT_EQ(h.Start(), 0);
  if (pc.bVarying)
    for (size_t i = 0; i < pc.apartial.size(); ++i) {
      h.Value("Src", Format("Freq%zu", i + 1).c_str()) = pc.apartial[i].dFreq;
      h.Value("Src", Format("Gain%zu", i + 1).c_str()) = pc.apartial[i].dGain;
    }
  // One second after the gains have slewed in: every whole-hertz partial fits it exactly.
  std::vector<double> ad = Slice(h.Render("Output", 100 + 44100), 100, 44100);
  for (const Partial& partial : pc.apartial)
    EXPECT_NEAR(BinAmplitude(ad, partial.dFreq, kFxRate), std::fabs(partial.dGain) * Bass(partial.dFreq), 1e-6)
        << partial.dFreq << " Hz";
  for (double dBetween : {15.0, 165.0, 1234.0}) EXPECT_NEAR(BinAmplitude(ad, dBetween, kFxRate), 0, 1e-6) << dBetween << " Hz";
}

const std::vector<Partial> kEightPartials = {{40, 1},     {110, 0.5},  {220, 0.25}, {330, 0.8},
                                             {440, -0.3}, {550, 0.05}, {660, 0.6},  {770, 0.125}};
INSTANTIATE_TEST_SUITE_P(Banks, AdderPartials,
                         ::testing::Values(PartialsCase{kEightPartials, false}, PartialsCase{kEightPartials, true},
                                           PartialsCase{{{440, 1}}, false}, PartialsCase{{{25, 0.7}, {5000, 2}}, true}));

struct SlewCase {
  const char* pszSlew;
  double dSeconds;  // the slew time the formula means (0: none)
};
std::ostream& operator<<(std::ostream& os, const SlewCase& sc) { return os << "Slew " << sc.pszSlew; }

class AdderSlew : public FxParamTest<SlewCase> {};

// A gain climbs from 0 at 1 / (Slew x rate) a sample after every Reset. At a quarter of the sample
// rate the odd samples of the sine are +-1, so they show the gain itself.
TEST_P(AdderSlew, GainsClimbAtTheSlewRateAfterReset) {
  const SlewCase& sc = GetParam();
  ModuleHarness h("Adder", kFxRate);
  h.Set("Slew", sc.pszSlew);
  h.Set("Freq1", Format("%.17g", kFxRate / 4).c_str());
  h.Set("Gain1", "1");
  ASSERT_EQ(h.Start(), 0);
  for (int iNote = 0; iNote < 2; ++iNote) {
    if (iNote) h.Retrigger();
    std::vector<double> ad = h.Render("Output", 200);
    for (int k = 1; k < 200; k += 2) {
      double dGain = sc.dSeconds > 0 ? std::min(1.0, (k + 1) / (sc.dSeconds * kFxRate)) : 1.0;
      double dSine = (k % 4 == 1) ? 1 : -1;
      EXPECT_NEAR(ad[static_cast<size_t>(k)], dGain * dSine * Bass(kFxRate / 4), 1e-9) << "note " << iNote << " k " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Times, AdderSlew,
                         ::testing::Values(SlewCase{"0.0005", 0.0005}, SlewCase{"0.002", 0.002},
                                           SlewCase{"0.0001", 0.0001}, SlewCase{"0", 0}, SlewCase{"-1", 0}));

// A new target is reached along the same slope, downward as upward.
TEST_F(AdderSlew, AChangedGainSlewsToItsNewTarget) {
  ModuleHarness h("Adder", kFxRate);
  h.AddContext("Src", "Gain");
  h.Set("Slew", "0.001");
  h.Set("Freq1", Format("%.17g", kFxRate / 4).c_str());
  h.Set("Gain1", "Src:Gain");
  ASSERT_EQ(h.Start(), 0);
  h.Value("Src", "Gain") = 1;
  h.Render("Output", 101);
  h.Value("Src", "Gain") = 0.25;
  double dStep = 1 / (0.001 * kFxRate);
  for (int k = 101; k < 301; ++k) {
    h.Step();
    double dOut = h.Out("Output");
    if (k % 2 == 0) continue;
    double dGain = std::max(0.25, 1 - (k - 100) * dStep);
    EXPECT_NEAR(dOut, dGain * ((k % 4 == 1) ? 1 : -1) * Bass(kFxRate / 4), 1e-9) << k;
  }
}

TEST_F(AdderSlew, AVaryingSlewIsRefused) {
  ModuleHarness h("Adder", kFxRate);
  h.AddContext("Src", "Slew");
  h.Set("Slew", "Src:Slew", 4);
  h.Set("Freq1", "440");
  EXPECT_EQ(h.Start(), 1);
  const ErrorListNode* pnode = FindError("Adder:Slew must be a constant, in units per sample");
  ASSERT_NE(pnode, nullptr);
  EXPECT_EQ(pnode->iLine, 4);
}

// ---- Bank without operators -------------------------------------------------------------------

struct EmptyCase {
  const char* pszType;
};
std::ostream& operator<<(std::ostream& os, const EmptyCase& ec) { return os << ec.pszType; }

class FxEmptyBank : public FxParamTest<EmptyCase> {};

// A bank without operators reports it and plays one operator "1": a 1 Hz sine at gain 1.
TEST_P(FxEmptyBank, PlaysOneOperatorAtOneHertz) {
  ModuleHarness h(GetParam().pszType, kFxRate);
  h.Set("Slew", "0");  // the operator network has no Slew; there it is a user variable
  ASSERT_EQ(h.Start(), 0);
  ASSERT_NE(FindError(Format("%s has no operators; adding one called \"1\" ", GetParam().pszType)), nullptr);
  std::vector<double> ad = h.Render("Output", 44101);
  for (int k : {0, 5000, 11025, 22050, 33075, 40000})
    EXPECT_NEAR(ad[static_cast<size_t>(k)], std::sin(2 * kFxPi * TablePhase(1, k)), 1e-6) << k;
}

INSTANTIATE_TEST_SUITE_P(Types, FxEmptyBank, ::testing::Values(EmptyCase{"Adder"}, EmptyCase{"FMAlgo"}));

// ---- Operator network -------------------------------------------------------------------------

struct FMSidebandCase {
  double dCarrier, dModulator, dIndexGain, dCarrierGain;
};
std::ostream& operator<<(std::ostream& os, const FMSidebandCase& sc) {
  return os << sc.dCarrier << " Hz by " << sc.dModulator << " Hz at " << sc.dIndexGain;
}

class FMAlgoSidebands : public FxParamTest<FMSidebandCase> {};

// Operator 11 modulates operator 1's phase by Gain11 cycles at its peak: an index of
// 2 pi Gain11 radians, so sideband n at carrier + n x modulator has the level |J_n(index)|.
TEST_P(FMAlgoSidebands, FollowTheBesselFunctions) {
  const FMSidebandCase& sc = GetParam();
  ModuleHarness h("FMAlgo", kFxRate);
  h.Set("Freq1", Format("%.17g", sc.dCarrier).c_str());
  h.Set("Gain1", Format("%.17g", sc.dCarrierGain).c_str());
  h.Set("Freq11", Format("%.17g", sc.dModulator).c_str());
  h.Set("Gain11", Format("%.17g", sc.dIndexGain).c_str());
  ASSERT_EQ(h.Start(), 0);
  std::vector<double> ad = h.Render("Output", 44100);
  double dIndex = 2 * kFxPi * sc.dIndexGain;
  for (int n = -5; n <= 5; ++n) {
    double dFreq = sc.dCarrier + n * sc.dModulator;
    double dWant = std::fabs(std::cyl_bessel_j(std::abs(n), dIndex)) * sc.dCarrierGain * Bass(sc.dCarrier);
    EXPECT_NEAR(BinAmplitude(ad, dFreq, kFxRate), dWant, 2e-6) << "sideband " << n << " at " << dFreq << " Hz";
  }
  EXPECT_NEAR(BinAmplitude(ad, sc.dCarrier + sc.dModulator / 2, kFxRate), 0, 2e-6) << "between sidebands";
}

INSTANTIATE_TEST_SUITE_P(TwoOperators, FMAlgoSidebands,
                         ::testing::Values(FMSidebandCase{1000, 100, 0.25, 1}, FMSidebandCase{2000, 300, 0.5, 0.8},
                                           FMSidebandCase{3000, 700, 0.1, 1}, FMSidebandCase{5000, 440, 0.38, 0.5}));

struct OpSpec {
  const char* pszName;
  double dFreq, dGain, dPlus;
};

struct NetworkCase {
  const char* pszWhat;
  std::vector<OpSpec> aop;
  bool bVarying;  // frequencies, gains and offsets through formulas that vary
};
std::ostream& operator<<(std::ostream& os, const NetworkCase& nc) { return os << nc.pszWhat; }

class FMAlgoNetworks : public FxParamTest<NetworkCase> {};

// The phase in cycles an operator reads at sample k: its own turn, its offset, and what every
// modulator one digit longer than its name adds: its gain x sine.
double ClosedFormPhase(const std::vector<OpSpec>& aop, const std::string& sName, int k);
double ClosedFormControl(const std::vector<OpSpec>& aop, const OpSpec& op, int k) {
  return op.dGain * std::sin(2 * kFxPi * ClosedFormPhase(aop, op.pszName, k));
}
double ClosedFormPhase(const std::vector<OpSpec>& aop, const std::string& sName, int k) {
  double dPhase = 0;
  for (const OpSpec& op : aop) {
    if (op.pszName == sName) dPhase += TablePhase(op.dFreq, k) + op.dPlus;
    std::string s = op.pszName;
    if (s.size() == sName.size() + 1 && s.compare(0, sName.size(), sName) == 0) dPhase += ClosedFormControl(aop, op, k);
  }
  return dPhase;
}

// Output is the sum of the carriers (one-digit names), each bass factor x gain x sine of its
// modulated phase; AudioX, ControlX and PreGainX show the parts.
TEST_P(FMAlgoNetworks, MatchTheirClosedForm) {
  const NetworkCase& nc = GetParam();
  ModuleHarness h("FMAlgo", kFxRate);
  for (const OpSpec& op : nc.aop) {
    for (const char* pszPrefix : {"Freq", "Gain", "Plus"}) {
      std::string sVar = std::string(pszPrefix) + op.pszName;
      double dValue = pszPrefix[0] == 'F' ? op.dFreq : pszPrefix[0] == 'G' ? op.dGain : op.dPlus;
      if (nc.bVarying) {
        h.AddContext("Src", sVar.c_str(), Format("%.17g", dValue).c_str());
        h.Set(sVar.c_str(), ("Src:" + sVar).c_str());
      } else if (dValue != (pszPrefix[0] == 'P' ? 0 : 1)) {
        h.Set(sVar.c_str(), Format("%.17g", dValue).c_str());
      }
    }
    for (const char* pszPrefix : {"PreGain", "Control", "Audio"}) h.AddOutput((std::string(pszPrefix) + op.pszName).c_str());
  }
  ASSERT_EQ(h.Start(), 0);
  for (int k = 0; k < 1000; ++k) {
    if (k) h.Step();
    double dOutput = h.Out("Output"), dSum = 0;
    for (const OpSpec& op : nc.aop) {
      std::string sName = op.pszName;
      double dPreGain = h.Out(("PreGain" + sName).c_str());
      double dWantSine = std::sin(2 * kFxPi * ClosedFormPhase(nc.aop, sName, k));
      ASSERT_NEAR(dPreGain, dWantSine, 1e-5) << nc.pszWhat << " PreGain" << sName << " at " << k;
      EXPECT_NEAR(h.Out(("Control" + sName).c_str()), op.dGain * dPreGain, 1e-12);
      if (sName.size() == 1) {
        double dAudio = h.Out(("Audio" + sName).c_str());
        EXPECT_NEAR(dAudio, Bass(op.dFreq) * op.dGain * dPreGain, 1e-12);
        dSum += dAudio;
      }
    }
    ASSERT_NEAR(dOutput, dSum, 1e-12) << nc.pszWhat << " at " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FMAlgoNetworks,
    ::testing::Values(
        NetworkCase{"pair", {{"1", 440, 1, 0}, {"11", 220, 0.3, 0}}, false},
        NetworkCase{"chain", {{"1", 300, 0.8, 0}, {"11", 150, 0.5, 0}, {"111", 75, 0.2, 0}}, false},
        NetworkCase{"two modulators", {{"1", 500, 1, 0}, {"11", 100, 0.2, 0}, {"12", 250, 0.1, 0}}, false},
        NetworkCase{"two carriers", {{"1", 440, 1, 0}, {"2", 660, 0.5, 0}, {"21", 330, 0.3, 0}}, false},
        // A phase offset adds to what the modulators add.
        NetworkCase{"offsets", {{"1", 440, 1, 0.25}, {"11", 110, 0.2, 0.1}}, false},
        NetworkCase{"deep", {{"2", 40, 1, 0}, {"21", 80, 1.5, 0}, {"211", 3, 0.7, 0}, {"2111", 1000, 0.05, 0}}, false},
        NetworkCase{"varying pair", {{"1", 523.25, 0.9, 0.125}, {"11", 261.625, 0.4, 0}}, true},
        NetworkCase{"varying two carriers", {{"1", 100, 1, 0}, {"2", 150, 0.5, 0.5}, {"21", 75, 0.3, 0}}, true}));

// A modulator needs the operator its name points at.
struct OrphanCase {
  std::vector<const char*> apszOperators;
  const char* pszMessage;
};
std::ostream& operator<<(std::ostream& os, const OrphanCase& oc) { return os << oc.pszMessage; }

class FMAlgoOrphans : public FxParamTest<OrphanCase> {};

TEST_P(FMAlgoOrphans, FailWithTheirTarget) {
  ModuleHarness h("FMAlgo", kFxRate);
  for (const char* pszOp : GetParam().apszOperators) h.Set((std::string("Freq") + pszOp).c_str(), "100", 9);
  EXPECT_EQ(h.Start(), 1);
  const ErrorListNode* pnode = FindError(GetParam().pszMessage);
  ASSERT_NE(pnode, nullptr) << GetParam().pszMessage;
  EXPECT_EQ(pnode->iLine, 9);
}

INSTANTIATE_TEST_SUITE_P(Names, FMAlgoOrphans,
                         ::testing::Values(OrphanCase{{"21"}, "FMAlgo:21 doesn't have an operator 2 to modulate"},
                                           OrphanCase{{"1", "21"}, "FMAlgo:21 doesn't have an operator 2 to modulate"},
                                           OrphanCase{{"1", "111"}, "FMAlgo:111 doesn't have an operator 11 to modulate"}));

}  // namespace

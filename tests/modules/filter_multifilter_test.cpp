// The "MultiFilter" module: bands in series and in parallel, shelf and peak gains, the default
// bandwidth, dropped bands, type changes while playing, and the messages to the patch author.
#include <cmath>
#include <string>
#include <vector>

#include "filter_module_support.h"
#include "formula/formenum.h"

namespace filtertest {
namespace {

constexpr double kButterworthQ = 2.8284271247461903;  // LPF2/HPF2 take 4× the prototype's q: 2√2
constexpr const char* kButterworthQText = "2.8284271247461903";

std::vector<double> Impulse(Settings aSet, int n = 1 << 15) {
  aSet.push_back({"Input", kImpulse});
  auto ph = MakeModule("MultiFilter", aSet);
  return Render(*ph, "Output", n);
}

double DbOf(double dDb) { return std::pow(10.0, dDb / 20); }

// ---- Responses ----------------------------------------------------------------------------------

struct ResponseCase {
  const char* pszName;
  Settings aSet;
  Complex (*pfnExpected)(double dFreq);
};
void PrintTo(const ResponseCase& c, std::ostream* pos) { *pos << c.pszName; }

class MultiFilterResponse : public FilterModuleTest, public testing::WithParamInterface<ResponseCase> {};

// Measured from the impulse response at frequencies across the band, phase included, against the
// analog prototypes of the kernels combined as the layout says.
TEST_P(MultiFilterResponse, MatchesTheBandsCombinedByTheLayout) {
  const ResponseCase& c = GetParam();
  std::vector<double> ah = Impulse(c.aSet);
  for (double f : {20.0, 100.0, 250.0, 1000.0, 2000.0, 4000.0, 8000.0, 15000.0}) {
    Complex hExpected = c.pfnExpected(f), hMeasured = Dtft(ah, f);
    EXPECT_LT(std::abs(hMeasured - hExpected), 1e-5 * std::max(1.0, std::abs(hExpected)))
        << "at " << f << " Hz: " << AmplitudeDb(std::abs(hMeasured)) << " dB, expected " << AmplitudeDb(std::abs(hExpected));
  }
}

const ResponseCase kResponseCases[] = {
    // A low-pass at 1 kHz and a high-pass at 4 kHz: in series they multiply, in parallel they average.
    {"Serial",
     {{"GainMaster", "0.5"}, {"Type1", "LPF2"}, {"Freq1", "1000"}, {"Q1", kButterworthQText},
      {"Type2", "HPF2"}, {"Freq2", "4000"}, {"Q2", kButterworthQText}},
     [](double f) {
       return 0.5 * LowPass2(WarpedS(f, 1000), kButterworthQ) * HighPass2(WarpedS(f, 4000), kButterworthQ);
     }},
    {"Parallel",
     {{"Layout", "Parallel"}, {"GainMaster", "0.5"}, {"Type1", "LPF2"}, {"Freq1", "1000"},
      {"Q1", kButterworthQText}, {"Type2", "HPF2"}, {"Freq2", "4000"}, {"Q2", kButterworthQText}},
     [](double f) {
       return 0.5 / 2 * (LowPass2(WarpedS(f, 1000), kButterworthQ) + HighPass2(WarpedS(f, 4000), kButterworthQ));
     }},
    // Gains in the patch's decibel units: the shelves reach them at their far ends, the peak at its
    // frequency.
    {"LowShelfUp", {{"Type1", "LoShelf2"}, {"Freq1", "200"}, {"Gain1", "12 dB"}},
     [](double f) { return LowShelf2(WarpedS(f, 200), DbOf(12)); }},
    {"HighShelfDown", {{"Type1", "HiShelf2"}, {"Freq1", "5000"}, {"Gain1", "-6 dB"}},
     [](double f) { return HighShelf2(WarpedS(f, 5000), DbOf(-6)); }},
    {"PeakUp", {{"Type1", "ParametricConst"}, {"Freq1", "1000"}, {"Gain1", "12 dB"}, {"Q1", "2"}},
     [](double f) { return Peak(WarpedS(f, 1000), DbOf(12), 2); }},
    {"DipAndShelf",
     {{"Freq1", "3000"}, {"Gain1", "-12 dB"}, {"Q1", "0.7"}, {"Type2", "LoShelf2"}, {"Freq2", "100"},
      {"Gain2", "6 dB"}},
     [](double f) { return Peak(WarpedS(f, 3000), DbOf(-12), 0.7) * LowShelf2(WarpedS(f, 100), DbOf(6)); }},
    // Without QN a band is 10/Bands octaves wide (Bands at most 64); without Bands its q is 1.
    {"TenBands", {{"Bands", "10"}, {"Freq1", "1000"}, {"Gain1", "4"}},
     [](double f) { return Peak(WarpedS(f, 1000), 4, QOfOctaves(1)); }},
    {"HundredBandsAreSixtyFour", {{"Bands", "100"}, {"Freq1", "1000"}, {"Gain1", "4"}},
     [](double f) { return Peak(WarpedS(f, 1000), 4, QOfOctaves(10.0 / 64)); }},
    {"FractionalBands", {{"Bands", "2.5"}, {"Freq1", "1000"}, {"Gain1", "4"}},
     [](double f) { return Peak(WarpedS(f, 1000), 4, QOfOctaves(4)); }},
    {"NoBandsSetting", {{"Freq1", "1000"}, {"Gain1", "4"}}, [](double f) { return Peak(WarpedS(f, 1000), 4, 1); }},
    {"TypeDefault", {{"TypeDefault", "LPF2"}, {"Freq1", "1000"}}, [](double f) { return LowPass2(WarpedS(f, 1000), 1); }},
    // A band of gain 1 whose type uses the gain does nothing and is dropped, also from the parallel
    // average; one whose gain varies stays, whatever its value.
    {"ParallelDropsIdleBand",
     {{"Layout", "Parallel"}, {"Type1", "LPF2"}, {"Freq1", "1000"}, {"Q1", kButterworthQText}, {"Freq3", "5000"}},
     [](double f) { return LowPass2(WarpedS(f, 1000), kButterworthQ); }},
    {"ParallelKeepsVaryingBand",
     {{"Layout", "Parallel"}, {"Type1", "LPF2"}, {"Freq1", "1000"}, {"Q1", kButterworthQText}, {"Freq3", "5000"},
      {"Gain3", "1 + 0 * Note:Time"}},
     [](double f) { return (LowPass2(WarpedS(f, 1000), kButterworthQ) + 1.0) / 2.0; }},
    // With no band at all both layouts pass GainMaster × Input.
    {"SerialWithoutBands", {{"GainMaster", "0.7"}}, [](double) { return Complex(0.7); }},
    {"ParallelWithoutBands", {{"Layout", "Parallel"}, {"GainMaster", "0.7"}}, [](double) { return Complex(0.7); }},
};

INSTANTIATE_TEST_SUITE_P(MultiFilter, MultiFilterResponse, testing::ValuesIn(kResponseCases),
                         [](const testing::TestParamInfo<ResponseCase>& info) { return info.param.pszName; });

// The peak's own definition, stated on its own: the gain at its frequency is GainN.
TEST_F(FilterModuleTest, MultiFilterPeakReachesItsGainAtItsFrequency) {
  for (const char* pszGain : {"12 dB", "-9 dB", "3 dB"}) {
    std::vector<double> ah = Impulse({{"Freq1", "2500"}, {"Gain1", pszGain}, {"Q1", "1.5"}});
    double dDb = std::stod(pszGain);
    EXPECT_NEAR(AmplitudeDb(std::abs(Dtft(ah, 2500))), dDb, 0.001) << pszGain;
  }
}

// A band that does nothing is gone: the output is GainMaster × Input to the last bit.
TEST_F(FilterModuleTest, MultiFilterIdleBandPassesTheInputExactly) {
  auto ph = MakeModule("MultiFilter", {{"Input", "SIN( Note:Time * 440 )"}, {"Freq3", "1000"}, {"GainMaster", "0.5"}});
  for (int i = 0; i < 2000; ++i) {
    if (i) ph->Step();
    ASSERT_EQ(ph->Out("Output"), 0.5 * ph->Out("Input")) << i;
  }
}

// GainMaster may vary at audio rate.
TEST_F(FilterModuleTest, MultiFilterGainMasterFollowsItsFormula) {
  auto ph = MakeModule("MultiFilter", {{"Input", "SIN( Note:Time * 440 )"}, {"GainMaster", "0.5 + 0.5 * SIN( Note:Time * 3 )"}});
  for (int i = 0; i < 2000; ++i) {
    if (i) ph->Step();
    double t = ph->dTime;
    ASSERT_NEAR(ph->Out("Output"), (0.5 + 0.5 * std::sin(2 * kPi * 3 * t)) * std::sin(2 * kPi * 440 * t), 1e-12) << i;
  }
}

// A varying TypeN switches the band's kernel while playing: a 200 Hz tone through a 2 kHz band
// passes while it is a low-pass and is cut by the high-pass's 40 dB after the switch.
TEST_F(FilterModuleTest, MultiFilterBandFollowsAVaryingType) {
  auto ph = MakeModule("MultiFilter", {{"Input", "SIN( Note:Time * 200 )"},
                                       {"Type1", "IF( Note:Time < 0.25, LPF2, HPF2 )"},
                                       {"Freq1", "2000"},
                                       {"Q1", kButterworthQText}});
  std::vector<double> ad = Render(*ph, "Output", 22050);
  std::vector<double> adBefore(ad.begin() + 2205, ad.begin() + 11025), adAfter(ad.begin() + 13230, ad.end());
  EXPECT_NEAR(AmplitudeDb(HannAmplitude(adBefore, 200, kRate)), AmplitudeDb(std::abs(LowPass2(WarpedS(200, 2000), kButterworthQ))), 0.05);
  EXPECT_NEAR(AmplitudeDb(HannAmplitude(adAfter, 200, kRate)), AmplitudeDb(std::abs(HighPass2(WarpedS(200, 2000), kButterworthQ))), 0.05);
}

// ---- Messages -------------------------------------------------------------------------------------

struct MessageCase {
  const char* pszName;
  Settings aSet;
  std::string sMessage;
  Complex (*pfnExpected)(double dFreq);  // how it sounds after the message
};
void PrintTo(const MessageCase& c, std::ostream* pos) { *pos << c.pszName; }

class MultiFilterMessage : public FilterModuleTest, public testing::WithParamInterface<MessageCase> {};

TEST_P(MultiFilterMessage, ReportsAndPlaysOnAsStated) {
  const MessageCase& c = GetParam();
  std::vector<double> ah = Impulse(c.aSet);
  EXPECT_EQ(ErrorCount(c.sMessage), 1) << c.sMessage;
  for (double f : {300.0, 1000.0, 3000.0})
    EXPECT_LT(std::abs(Dtft(ah, f) - c.pfnExpected(f)), 1e-5 * std::max(1.0, std::abs(c.pfnExpected(f))))
        << "at " << f << " Hz";
}

std::string UnknownTypeMessage() {
  return "Unknown filter type " + std::to_string(FormEnumLookup("Lowpass")) + " (Lowpass) requested; cannot change type";
}

// Two identical low-passes: in series (the fallback) −6 dB at their corner, in parallel −3 dB.
const MessageCase kMessageCases[] = {
    {"VaryingLayout",
     {{"Layout", "IF( Note:Time > 1, Parallel, Serial )"}, {"Type1", "LPF2"}, {"Freq1", "1000"},
      {"Q1", kButterworthQText}, {"Type2", "LPF2"}, {"Freq2", "1000"}, {"Q2", kButterworthQText}},
     "MultiFilter:Layout must be a constant; using Serial",
     [](double f) { return std::pow(LowPass2(WarpedS(f, 1000), kButterworthQ), 2); }},
    {"VaryingBands", {{"Bands", "10 + Note:Time"}, {"Freq1", "1000"}, {"Gain1", "4"}},
     "MultiFilter:Bands must be a numeric constant; ignoring",
     [](double f) { return Peak(WarpedS(f, 1000), 4, 1); }},
    {"VaryingTypeDefault",
     {{"TypeDefault", "IF( Note:Time > 1, LPF2, HPF2 )"}, {"Freq1", "1000"}, {"Gain1", "4"}, {"Q1", "2"}},
     "MultiFilter:TypeDefault must be a constant; using ParametricConst",
     [](double f) { return Peak(WarpedS(f, 1000), 4, 2); }},
    // Gain 0 is reported; the peak becomes a notch.
    {"ZeroGain", {{"Freq1", "1000"}, {"Gain1", "0"}, {"Q1", "2"}},
     "MultiFilter:Gain1 must not be 0, should be 0dB for no action",
     [](double f) { return Peak(WarpedS(f, 1000), 0, 2); }},
};

INSTANTIATE_TEST_SUITE_P(MultiFilter, MultiFilterMessage, testing::ValuesIn(kMessageCases),
                         [](const testing::TestParamInfo<MessageCase>& info) { return info.param.pszName; });

// A type that names no filter is reported by the filter factory; the band keeps no type and the
// module plays on.
TEST_F(FilterModuleTest, MultiFilterReportsAnUnknownBandType) {
  std::vector<double> ah = Impulse({{"Type1", "Lowpass"}, {"Freq1", "1000"}}, 4410);
  EXPECT_EQ(ErrorCount(UnknownTypeMessage()), 1);
  for (double d : ah) ASSERT_TRUE(std::isfinite(d));
}

}  // namespace
}  // namespace filtertest

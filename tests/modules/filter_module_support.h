// Helpers for the filter module tests: set-up as at start-up, harnesses with settings, impulse and
// tone responses, noise, and the analog prototypes the designs are checked against.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "error_support.h"
#include "formula/formeval.h"
#include "formula/vanmath.h"
#include "foundation/akstatus.h"
#include "module_harness.h"
#include "modules/filters/filterfactory.h"
#include "test_signal.h"

namespace filtertest {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr double kRate = 44100;  // the harness's engine rate
constexpr int kMinute = 60 * 44100;

// An input that is 1 at the first sample and 0 after.
constexpr const char* kImpulse = "IF( Note:Sample = 0, 1, 0 )";

// What the application does at start-up before any patch: the math tables, the filter types as
// keywords (so that "LPF2" parses); and a clean error list for each test.
inline void PrepareFilterModules() {
  VanMathInitTables();
  FilterFactory::Get()->BuildIndex();
  ErrorList::Get()->Clear();
}

class FilterModuleTest : public testing::Test {
 protected:
  void SetUp() override { PrepareFilterModules(); }
};

// Variable formulas by variable name.
using Settings = std::vector<std::pair<std::string, std::string>>;

// A started harness of the module type with these formulas; the context record Src:Signal is there
// for the test to write sample by sample.
inline std::unique_ptr<ModuleHarness> MakeModule(const char* pszType, const Settings& aSet) {
  auto ph = std::make_unique<ModuleHarness>(pszType);
  ph->AddContext("Src", "Signal");
  for (const auto& [sVar, sFormula] : aSet) ph->Set(sVar.c_str(), sFormula.c_str());
  EXPECT_EQ(ph->Start(), 0);
  return ph;
}

// Renders n samples of an output, stepping before every sample after the first; pfnIn, when given,
// writes Src:Signal for each sample (argument: the sample number).
template <class Fn>
std::vector<double> RenderWith(ModuleHarness& h, const char* pszOut, int n, Fn fnIn) {
  Var* pvarOut = h.Find(h.pmodule()->pszName, pszOut);
  EXPECT_NE(pvarOut, nullptr) << pszOut;
  double& dSignal = h.Value("Src", "Signal");
  std::vector<double> ad;
  ad.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (i) h.Step();
    dSignal = fnIn(i);
    FormVarEval(pvarOut);
    ad.push_back(*pvarOut->pvalue);
  }
  return ad;
}
inline std::vector<double> Render(ModuleHarness& h, const char* pszOut, int n) {
  return RenderWith(h, pszOut, n, [](int) { return 0.0; });
}

// The discrete-time Fourier transform of a signal at a frequency (Hz).
inline Complex Dtft(const std::vector<double>& ah, double dFreq, size_t iFrom = 0) {
  Complex step = std::polar(1.0, -2 * kPi * dFreq / kRate), z = 1, sum = 0;
  for (size_t i = iFrom; i < ah.size(); ++i) {
    sum += ah[i] * z;
    z *= step;
  }
  return sum;
}

// The largest magnitude in [iFrom, iTo).
inline double PeakOf(const std::vector<double>& a, size_t iFrom = 0, size_t iTo = SIZE_MAX) {
  double dPeak = 0;
  for (size_t i = iFrom; i < std::min(iTo, a.size()); ++i) dPeak = std::max(dPeak, std::fabs(a[i]));
  return dPeak;
}

// Uniform noise in [-1, 1) from the patches' 32-bit generator step, so runs repeat exactly.
class Noise {
 public:
  double Next() {
    uState_ = uState_ * 214013u + 2531011u;
    return (uState_ >> 8) / double(1u << 23) - 1.0;
  }

 private:
  uint32_t uState_ = 12345;
};

// ---- Analog prototypes -------------------------------------------------------------------------
// A bilinear design with pre-warping at fc answers at f exactly what its analog prototype answers
// at s = j·tan(π·f/R) / tan(π·fc/R).
inline Complex WarpedS(double dFreq, double dCorner) {
  return Complex(0, std::tan(kPi * dFreq / kRate) / std::tan(kPi * dCorner / kRate));
}

// The Butterworth low-pass of an even number of poles: its poles are spaced evenly on the unit
// half circle, so the k-th section has damping 2·sin((2k − 1)π/2N). The resonance is shared among
// the sections (each gets q = Resonance^(2/N); one section takes Resonance itself).
inline Complex ButterworthLowpass(Complex s, int nPoles, double dResonance) {
  int nSections = nPoles / 2;
  double q = nSections == 1 ? dResonance : std::pow(dResonance, 2.0 / nPoles);
  Complex h = 1;
  for (int k = 1; k <= nSections; ++k) {
    double dDamping = 2 * std::sin((2 * k - 1) * kPi / (2 * nPoles));
    h /= s * s + dDamping / q * s + 1.0;
  }
  return h;
}

// The kernel types' prototypes as the multi-band filter uses them (q as the kernels take it).
inline Complex LowPass2(Complex s, double q) { return 1.0 / (s * s + s / (q / 4) + 1.0); }
inline Complex HighPass2(Complex s, double q) { return s * s / (s * s + s / (q / 4) + 1.0); }
inline Complex Peak(Complex s, double dGain, double q) {
  return (s * s + dGain / q * s + 1.0) / (s * s + s / q + 1.0);
}
inline Complex LowShelf2(Complex s, double dGain) {
  return (s * s + std::sqrt(2 * dGain) * s + dGain) / (s * s + std::sqrt(2.0) * s + 1.0);
}
inline Complex HighShelf2(Complex s, double dGain) {
  return (dGain * s * s + std::sqrt(2 * dGain) * s + 1.0) / (s * s + std::sqrt(2.0) * s + 1.0);
}

// The q of a band whose edges lie dOctaves apart (u = 2^octaves): √u / (u − 1).
inline double QOfOctaves(double dOctaves) {
  double u = std::pow(2.0, dOctaves);
  return std::sqrt(u) / (u - 1);
}

// Catches the status-log messages of one severity while it lives.
class LogCatcher {
 public:
  explicit LogCatcher(int iSeverity);
  ~LogCatcher();
  std::vector<std::string> asMessage;

 private:
  int iSeverity_;
};

inline LogCatcher::LogCatcher(int iSeverity) : iSeverity_(iSeverity) {
  AKSSetCallback(
      iSeverity,
      [](int, const char*, int, const char* pszMessage, const char*, void* pv) {
        static_cast<LogCatcher*>(pv)->asMessage.push_back(pszMessage);
      },
      this);
}
inline LogCatcher::~LogCatcher() { AKSSetCallback(iSeverity_, nullptr, nullptr); }

}  // namespace filtertest

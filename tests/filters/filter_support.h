// Helpers for the filter tests: the type table, typed filters by keyword, measured responses, noise.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "formula/formenum.h"
#include "modules/filters/filter.h"
#include "modules/filters/filterfactory.h"

using Complex = std::complex<double>;

constexpr double kPi = std::numbers::pi;
constexpr double kRate = 44100;  // the usual engine rate; tests at other rates pass theirs

// Every filter type as patches know it, in registration order.
struct TypeInfo {
  const char* pszName;
  const char* pszDescription;
  bool bHasGain;  // uses the gain argument
  double dMinQ;   // the smallest q it cooks with, 0 when it does not use q
};
inline const std::vector<TypeInfo>& TypeTable() {
  static const std::vector<TypeInfo> aInfo = {
      {"LPF1FB", "Lo-Pass Filter (first-order Feedback-Only)", false, 0},
      {"LPF1", "Lo-Pass Filter (first-order)", false, 0},
      {"LPFMassberg1", "Lo-Pass Filter (first-order Massberg)", false, 0},
      {"LPF2", "Lo-Pass Filter (second-order)", false, 0.001},
      {"LPFMassberg2", "Lo-Pass Filter (second-order Massberg)", false, 0.5},
      {"LPFLinkwitz2", "Lo-Pass Filter (second-order Linkwitz)", false, 0},
      {"HPF1FB", "Hi-Pass Filter (first-order feedback-only)", false, 0},
      {"HPF1", "Hi-Pass Filter (first-order)", false, 0},
      {"HPF2", "Hi-Pass Filter (second-order)", false, 0.001},
      {"HPFLinkwitz2", "Hi-Pass Filter (second-order Linkwitz)", false, 0},
      {"BPF2", "Band-Pass Filter (second-order)", false, 0.001},
      {"BCF2", "Band-Stop Filter (second-order)", false, 0.001},
      {"APF1", "All-Pass Filter (first-order)", false, 0},
      {"APF2", "All-Pass Filter (second-order)", false, 0},
      {"LoShelf1", "Lo-Shelf (first-order)", true, 0},
      {"HiShelf1", "Hi-Shelf (first-order)", true, 0},
      {"LoShelf2", "Lo-Shelf (second-order)", true, 0},
      {"HiShelf2", "Hi-Shelf (second-order)", true, 0},
      {"ParametricConst", "Parametric (constant-Q)", true, 0.001},
      {"ParametricNonConst", "Parametric (non-constant-Q)", true, 0.001},
      {"SimpleResonator", "Resonator (simple)", false, 0.001},
      {"ImprovedResonator", "Resonator (improved)", false, 0.001},
  };
  return aInfo;
}

inline std::vector<std::string> TypeNames(bool bGainOnly = false) {
  std::vector<std::string> as;
  for (const TypeInfo& info : TypeTable())
    if (info.bHasGain || !bGainOnly) as.push_back(info.pszName);
  return as;
}

// The keyword number of a type name, with the index built as start-up builds it.
inline int TypeNumber(const std::string& sType) {
  FilterFactory::Get()->BuildIndex();
  return FormEnumLookup(sType.c_str());
}

// A filter of the named type at this rate, typed through the factory as the modules type theirs.
inline Filter MakeFilter(const std::string& sType, double dRate = kRate) {
  Filter f;
  f.SetSampleRate(dRate);
  EXPECT_EQ(FilterFactory::Get()->ChangeType(TypeNumber(sType), f), 0) << sType;
  return f;
}

inline Filter MakeCooked(const std::string& sType, double dFreq, double dGain, double dQ, double dRate = kRate) {
  Filter f = MakeFilter(sType, dRate);
  f.Cook(dFreq, dGain, dQ);
  return f;
}

// The impulse response of a copy of the filter, long enough for every case here to decay far below
// the tolerances, and its discrete-time Fourier transform at any frequency.
struct Response {
  std::vector<double> ah;
  double dRate;
  Response(Filter f, int n = 1 << 16) : dRate(f.dRate) {
    for (int i = 0; i < n; ++i) ah.push_back(f.Calc(i == 0 ? 1.0 : 0.0));
  }
  Complex At(double dFreq) const {
    Complex step = std::polar(1.0, -2 * kPi * dFreq / dRate), z = 1, sum = 0;
    for (double h : ah) {
      sum += h * z;
      z *= step;
    }
    return sum;
  }
};

// Uniform noise in [-1, 1) from the patches' 32-bit generator, so runs repeat exactly.
class Noise {
 public:
  double Next() {
    uState_ = uState_ * 214013u + 2531011u;
    return (uState_ >> 8) / double(1u << 23) - 1.0;
  }

 private:
  uint32_t uState_ = 12345;
};

// The seven coefficients, for comparing two cookings.
inline std::vector<double> Coefficients(const Filter& f) { return {f.a0, f.a1, f.a2, f.b1, f.b2, f.c0, f.d0}; }

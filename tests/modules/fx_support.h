// Helpers of the effects group's tests: sine-table set-up, error-list look-ups, formula texts.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdarg>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "error_support.h"
#include "formula/vanmath.h"
#include "module_harness.h"
#include "test_signal.h"

constexpr double kFxPi = std::numbers::pi;
constexpr double kFxRate = 44100;  // the sample rate every test here runs at

// Tests that start with an empty error list and the sine table built.
class FxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { VanMathInitTables(); }
  void SetUp() override { ErrorList::Get()->Clear(); }
};

template <class Param>
class FxParamTest : public FxTest, public ::testing::WithParamInterface<Param> {};

inline std::string Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* pszFormat, ...) {
  char sz[512];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(sz, sizeof sz, pszFormat, args);
  va_end(args);
  return sz;
}

// A time in seconds written so the formula parser reads back the same double.
inline std::string Seconds(double dSeconds) { return Format("%.20f", dSeconds); }

// The phase in cycles of a table sine at sample k: k steps of the frequency rounded to the
// accumulator's 2^-32 cycle a sample.
inline double TablePhase(double dFreq, int k) { return k * (std::round(dFreq / kFxRate * 0x1p32) / 0x1p32); }

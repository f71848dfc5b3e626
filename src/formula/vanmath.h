// Fast math tables: the sine table with slopes that oscillators index by a 32-bit phase.
#pragma once

#include <cstdint>

// A full cycle of the 32-bit phase is 2^32: the top 13 bits index the table, the low 19 bits
// interpolate along the slope.
constexpr int VanSineSize = 8192;
constexpr int VanSineFractionBits = 19;
constexpr uint32_t VanSineFractionMask = (1u << VanSineFractionBits) - 1;
constexpr int VanCentsSize = 9602;    // -4800 ... +4801 cents
constexpr int VanCentsOffset = 4800;  // entry of 0 cents

extern double VanSineTable[VanSineSize + 1];  // the last entry is a guard equal to the start
extern double VanSlopeTable[VanSineSize];
extern double VanCentsTable[VanCentsSize];

// Fills the tables, checks the power routine and logs the rough benchmark, once.
void VanMathInit();
// The tables and the check without the benchmark (about 0.3 s), for short-lived programs.
void VanMathInitTables();

// Sine of a 32-bit phase: one shift, one mask, one multiply and one add.
inline double VanSin(uint32_t phase) {
  uint32_t i = phase >> VanSineFractionBits;
  return VanSlopeTable[i] * static_cast<double>(phase & VanSineFractionMask) + VanSineTable[i];
}

// 2 raised to x, exactly as the power function computes it.
double FormTwoPower(double x);
// A quicker power of two for per-sample code.
double VanTWOPOWER(double x);

// Measurements for the swarm and wavetable tests: the patch's generator (formula numbers, the
// error list and spectra: osc_signal.h).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "error_support.h"
#include "osc_signal.h"

// One draw in 0..1 of a patch's random generator, x = x * 214013 + 2531011, 15 bits of it.
inline double PatchDraw(uint32_t* px) {
  *px = *px * 214013u + 2531011u;
  return static_cast<double>((*px >> 16) & 0x7FFF) / 32767.0;
}

// The generator's state after n draws from x.
inline uint32_t AfterDraws(uint32_t x, int n) {
  for (int i = 0; i < n; ++i) PatchDraw(&x);
  return x;
}

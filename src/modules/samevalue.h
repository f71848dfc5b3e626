// SameValue: whether a module's input is the one of its last computation, bit for bit.
#pragma once

#include <bit>
#include <cstdint>

// Remembers an input bit for bit, so that what is computed from it is redone only when it
// changes: 0 and -0 count as different, and so do NaNs of different bits, so a cached result is
// always exactly the one the computation would give.
struct SameValue {
  uint64_t uBits = 0;
  bool bSeen = false;
  // True when d is the value of the last call; remembers d either way.
  bool Same(double d) {
    const uint64_t u = std::bit_cast<uint64_t>(d);
    const bool bSame = bSeen && u == uBits;
    uBits = u;
    bSeen = true;
    return bSame;
  }
};

// Counts heap allocations made by the program, for tests of code that must not allocate.
#pragma once

#include <atomic>

// Every malloc, calloc, realloc and operator new of the test program (the libraries included,
// through the linker's --wrap) adds one.
extern std::atomic<long> g_nAllocations;

// Allocations made while it lives.
class AllocationCounter {
 public:
  AllocationCounter() : nStart_(g_nAllocations.load()) {}
  long Count() const { return g_nAllocations.load() - nStart_; }

 private:
  long nStart_;
};

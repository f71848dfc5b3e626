// Shared set-up of the fuzz targets: a quiet status log in which failed checks still abort.
#pragma once

#include <cstdio>

#include "foundation/akstatus.h"

inline void FuzzInitStatusLog() {
  static bool bDone = false;
  if (bDone) return;
  bDone = true;
  // Warnings and fatal reader faults are expected input reactions: no action, so the readers
  // return. A failed internal check (Error) is a finding: it aborts.
  AKSInitializeSpec("", "E=VA");
}

inline FILE* FuzzOpen(const unsigned char* pData, size_t nSize) {
  static const char chEmpty = 0;
  return fmemopen(const_cast<void*>(static_cast<const void*>(nSize ? reinterpret_cast<const char*>(pData) : &chEmpty)),
                  nSize ? nSize : 1, "rb");
}

// The patch table and what turns its patches into output buffers: mixing frame by frame, the
// peak scan with automatic gain reduction, and the conversion to 16-bit samples.
#pragma once

#include <cstdint>
#include <mutex>

#include "foundation/akarray.h"

class Patch;

// One MIDI channel's installed patch.
struct PatchSlot {
  char szPath[512];  // the patch file (at most 511 characters)
  char* pszText;     // the whole file (owned)
  Patch* ppatch;     // the compiled patch (owned); null while the slot has none
};

// The table of installed patches, indexed by MIDI channel from 0, and the engine lock that
// serialises rendering against changes to it.
struct PatchTable {
  PatchTable() : aslot(AK_HERE) {}
  AKArray<PatchSlot> aslot;
  std::mutex mutexEngine;
};

// Adds nFrames frames of every installed patch into adMix (interleaved, nChannels per frame),
// every patch advancing one frame at a time in table order. The caller holds the engine lock.
void MixFrames(AKArray<PatchSlot>& aslot, double* adMix, int nFrames, int nChannels);

// The output stage: loud output is scaled down, never clipped, and stays scaled down until reset.
struct OutputStage {
  double dFullScale = 32767;  // 2^(bits - 1) - 1
  double dPeak = 1.0;         // largest absolute value met since the last reset, never below 1
  double dLevel = 0.0;        // largest absolute value of the last buffer, for the level meter
  int nAutoReductions = 0;    // how often the peak was raised
  long nNonFinite = 0;        // samples that were not numbers and were silenced

  void ResetAutoReduce() {
    dPeak = 1.0;
    nAutoReductions = 0;
  }
  // Scans the buffer for its peak (a value that is not finite is silenced and counted, so it
  // never reaches the conversion), then converts every value to 16 bits, truncating toward zero.
  void Convert(double* adMix, int nValues, int16_t* asOut);
};

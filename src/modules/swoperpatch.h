// The per-patch helpers "SWOPerPatch" and "LFSWOPerPatch" of the wavetable oscillators: one
// single-cycle table per frequency band, summed from harmonics or read from a sample file.
#pragma once

#include <utility>
#include <vector>

#include "patch/moduletype.h"

// The value block of a helper; "SWOPerPatch" and "LFSWOPerPatch" declare different subsets.
struct SWOPerPatchVars {
  double dWaveform;      // keyword: Unset (resolved at set-up), Sawtooth, Square, Triangle, Sine, Formula
  double dSampleFreqMin;  // Hz: the lowest band's low frequency
  double dSampleFreqMax;  // Hz: bands start below this
  double dSampleRange;    // frequency ratio from one band to the next, above 1
  double dHarmFreqMax;    // Hz: the highest harmonic a band holds, at its low frequency
  double dSamples;        // "LFSWOPerPatch": points of its one table
  double dHarmTo;         // "LFSWOPerPatch": its highest harmonic
  double dHarmonicForm;   // amplitude of harmonic Harmonic for the "Formula" waveform
  double dPhaseForm;      // cycles added to each harmonic's sine
  double dOversampForm;   // table points per sample period at the band's low frequency
  double dDenomPower;     // each harmonic i is divided by i^DenomPower
  double dFixedFilter;    // gain of every harmonic
  double dSampleFile;     // text: a file of raw unsigned 8-bit samples, below the installation
  double dSampleFormat;   // accepted; samples are always read as 8-bit
  // Set while the tables are built, for the formulas above.
  double dFreqFrom;  // the band's low frequency
  double dFreqTo;    // SampleRange times FreqFrom
  double dFreqHarm;  // Harmonic times FreqFrom
  double dHarmonic;  // the harmonic being added
};

// One frequency band: the frequencies above its low frequency, up to the next band's, play its
// table. The table holds one cycle of n points with 4 guard values at each end that repeat the
// other end's points, so that a read one point past either end wraps around the cycle.
struct SWOBand {
  static constexpr int kGuard = 4;
  double dFreqLow = 0;  // Hz
  int n = 0;            // points of one cycle; 0 plays silence
  int iOffset = 0;      // sample files: byte offset of the first point
  int iLine = -1;       // sample files: the patch line of the sample's variables
  std::vector<double> adTable;  // n + 2 * kGuard values
  const double* Points() const { return adTable.data() + kGuard; }
  double* Points() { return adTable.data() + kGuard; }
};

class ModSWOPerPatch : public Module {
 public:
  static constexpr const char* pszClassName = "ModSWOPerPatch";
  // Set-up limits, so that a patch cannot make the compiler build tables for minutes or ask for
  // gigabytes: the default "SWOPerPatch" makes 35 bands of at most 6603 points from 17 million
  // harmonic points (about 80000 points in all); "LFSWOPerPatch" one table of 5000 points from 5
  // million.
  static constexpr int kMaxBands = 1000;
  static constexpr int kMaxPoints = 1 << 22;       // 32 MiB of doubles per table
  static constexpr int kMaxTotalPoints = 1 << 23;  // 64 MiB for all the bands of one helper
  static constexpr double kMaxHarmonicPoints = 1e9;  // harmonics times points, over all bands
  static constexpr int kMaxSampleNumber = 1000;

  ModSWOPerPatch(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                 Module* pmodHelper);
  // Builds the bands; 1 when a sample file cannot be used or the tables cannot be built.
  int Init() override;
  // The two ways of filling the band list; 0 on success, else 1 with the message given.
  virtual int BuildFromHarmonics();
  virtual int ReadSampleFile(const char* pszFile);

  // The bands in frequency order, after Init: the first starts at minus the largest double and
  // the last is a silent sentinel at the largest, so every frequency falls into one; none when
  // the helper's variables were removed.
  const std::vector<SWOBand>& Bands() const { return aband_; }
  // The waveform the tables were built for (Unset resolved).
  int Waveform() const { return iWave_; }

  SWOPerPatchVars v = {};

 private:
  bool bLow_;  // "LFSWOPerPatch": one table of Samples points, normalised to -1..1
  int iWave_ = KwUnset;  // keyword number of the waveform, Unset resolved; -1 for no keyword
  double dFreqEval_ = 44100;
  std::vector<SWOBand> aband_;
  // While the tables are built: the varying formulas, and the numbered harmonics in ascending
  // order of their numbers.
  Var* pvarHarmonicForm_ = nullptr;
  Var* pvarDenomPower_ = nullptr;
  Var* pvarFixedFilter_ = nullptr;
  Var* pvarPhaseForm_ = nullptr;
  std::vector<std::pair<int, Var*>> aharm_;

  // The patch line of one of this module's variables, -1 without one.
  int LineOf(const char* pszVar);
  // Adds the harmonics up to dHarmMax Hz (at the band's low frequency) to the band's table; 1
  // (with the message) when an amplitude or a phase is not finite.
  int AddHarmonics(SWOBand& band, double dHarmMax);
  // The silent band: one point of 0.
  static SWOBand SilentBand(double dFreqLow);
  // Appends the sentinel, fills the guard values, opens the first band downwards.
  void FinishBands();
};

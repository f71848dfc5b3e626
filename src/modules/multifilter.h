// The "MultiFilter" module: any number of bands of the filter kernels, in series or in parallel,
// each with its own numbered TypeN, FreqN, GainN and QN.
#pragma once

#include "foundation/akarray.h"
#include "modules/filtermodule.h"
#include "modules/filters/filter.h"
#include "patch/moduletype.h"

// The module's variables, in declaration order, then its output.
struct MultiFilterVars {
  double dInput, dGainMaster, dBands, dLayout, dTypeDefault, dBypass;
  double dOutput;
};

class ModMultiFilter : public ModFilterBase {
 public:
  static constexpr const char* pszClassName = "ModMultiFilter";
  // Bands sets the bandwidth of bands without QN, 10/Bands octaves; it is taken as at most 64, a
  // sixth of an octave.
  static constexpr double BandsMax = 64;

  ModMultiFilter(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
                 Module* pmodHelper);
  int Init() override;
  void NoteStart() override;
  void Calc() override;

  // TypeN, FreqN, GainN and QN for N ≥ 1 are this type's own inputs.
  static bool IsNumberedInput(const char* pszVar);
  // The default q: that of a band 10/nBands octaves wide, or 1 when nBands is below 1.
  static double DefaultQ(double nBands);

  MultiFilterVars v = {};

  // One band: its filter and the values it is cooked from.
  struct Band {
    Filter filter;
    double dFreq, dGain, dQ, dType;  // the type is a keyword number
    // The values of the last cooking (the type: of the last type change while building).
    double dFreqCooked, dGainCooked, dQCooked, dTypeCooked;
    int iBand;  // N
    Var *pvarType, *pvarFreq, *pvarGain, *pvarQ;
  };

 private:
  // The work of every computation, in order: a varying variable to re-evaluate into its band
  // (pdField), and for a TypeN the band whose type follows it; or (no variable) a band to re-cook
  // when any of its values changed.
  struct Work {
    Var* pvar;
    double* pdField;
    Band* pband;
  };

  // Finds the bands the patch names and builds each (Init).
  void BuildBands();

  bool bParallel_ = false;
  Var* pvarGainMaster_ = nullptr;
  AKArray<Band> aband_;  // fixed once Init has built it: the work list points into it
  AKArray<Work> awork_;
};

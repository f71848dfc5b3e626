// The map module kinds "Map", "Tuning" and "SubTuning": a formula tabulated over a grid once at
// set-up, answered by table look-up (a tuning maps note numbers to frequencies).
#pragma once

#include "foundation/akarray.h"
#include "patch/moduletype.h"

// Note outputs of the tunings (C-1 ... B10) read these slots, one per note number.
constexpr int MapNoteSlots = 256;
// Note numbers that have a named output: 0 (C-1) to 143 (B10).
constexpr int MapNamedNotes = 144;

struct MapVars {
  double dInput;  // an entry index (the note number, for a tuning)
  double dBypass;
  double dInterpolate;  // keyword; declared, not used by the look-up
  double dValFrom;      // the grid: ValFrom, ValFrom + ValStep, ... up to ValTo
  double dValTo;
  double dValFormula;  // evaluated at each grid point, with ValInput set to it
  double dValStep;
  double dValInput;  // the grid point ValFormula is evaluated at
  double dOutput;
  double adNote[MapNoteSlots];
};

class ModMap : public Module {
 public:
  static constexpr const char* pszClassName = "ModMap";
  ModMap(ModuleType* ptype, const char* pszName, Patch* ppatch, Voice* pvoice, bool bPerPatch, int iLevel,
         Module* pmodHelper);
  // Builds the table; 1 only when the module has no ValFormula record.
  int Init() override;
  void NoteStart() override;
  void Calc() override;

  MapVars v = {};

  struct Entry {
    double dX;  // grid value
    double dY;  // ValFormula there
  };
  const AKArray<Entry>& Table() const { return aentry_; }

 private:
  AKArray<Entry> aentry_;
  Var* pvarInput_ = nullptr;
  Var* pvarBypass_ = nullptr;
  double dLastTime_ = -1;  // clock of the last look-up; -1 forces the next one
};

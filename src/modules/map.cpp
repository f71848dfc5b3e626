// The map kinds: declaration tables (the tunings with their note outputs), table building and
// look-up.
#include "modules/map.h"
#include "modules/modulehelp.h"

#include <cmath>
#include <cstdio>

#include "formula/errorlist.h"

namespace {

#define MAP_AT(field) VAR_OFFSET(MapVars, field)

// A grid that would take longer than this is cut (a ValStep of 0 or below never ends).
constexpr int kMaxIterations = 5000;

constexpr uint32_t kMapAttrs = AttrRegistered | AttrBypassPasses | AttrOutputFollows | AttrMultiMono;

Var avarMapInputs[] = {VarIn("Input", FormTypeNumeric, MAP_AT(dInput), ClassPerPatch, 0, "0"),
                       VarIn("Bypass", FormTypeBoolean, MAP_AT(dBypass), ClassPerPatch, 0, "false"),
                       VarIn("Interpolate", FormTypeKeyword, MAP_AT(dInterpolate), ClassPerPatch, 0, "Linear"),
                       VarIn("ValFrom", FormTypeNumeric, MAP_AT(dValFrom), ClassPerPatch, 0, "0"),
                       VarIn("ValTo", FormTypeNumeric, MAP_AT(dValTo), ClassPerPatch, 0, "1"),
                       VarIn("ValFormula", FormTypeNumeric, MAP_AT(dValFormula), ClassPerPatch, 0, "ValInput"),
                       VarIn("ValStep", FormTypeNumeric, MAP_AT(dValStep), ClassPerPatch, 0, ".01"),
                       VarEnd};

struct TuningDefaults {
  const char* pszBypass;
  const char* pszInterpolate;
  const char* pszValFrom;
  const char* pszValTo;
  const char* pszValStep;
  const char* pszValFormula;
};

Var* TuningInputs(Var* avar, const TuningDefaults& d) {
  const Var avarRows[] = {
      VarIn("Bypass", FormTypeBoolean, MAP_AT(dBypass), 0, 0, d.pszBypass),
      VarIn("Input", FormTypeNumeric, MAP_AT(dInput), 0, 0, "Note:NoteNumber"),
      VarIn("Interpolate", FormTypeKeyword, MAP_AT(dInterpolate), ClassPerPatch, 0, d.pszInterpolate),
      VarIn("ValFrom", FormTypeNumeric, MAP_AT(dValFrom), ClassPerPatch, 0, d.pszValFrom),
      VarIn("ValTo", FormTypeNumeric, MAP_AT(dValTo), ClassPerPatch, 0, d.pszValTo),
      VarIn("ValStep", FormTypeNumeric, MAP_AT(dValStep), ClassPerPatch, 0, d.pszValStep),
      VarIn("ValFormula", FormTypeNumeric, MAP_AT(dValFormula), ClassPerPatch, 0, d.pszValFormula),
      VarEnd};
  int n = 0;
  for (const Var& var : avarRows) avar[n++] = var;
  return avar;
}

Var avarTuningInputs[8];
Var avarSubTuningInputs[8];

// Pitch-class names by note number mod 12; the five sharps also have a flat alias.
const char* const apszPitchClass[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
const char* const apszFlatAlias[12] = {nullptr, "Db",    nullptr, "Eb",    nullptr, nullptr,
                                       "Gb",    nullptr, "Ab",    nullptr, "Bb",    nullptr};
constexpr int kNoteOutputs = MapNamedNotes + 5 * (MapNamedNotes / 12);  // 204
constexpr int kNoteNameSize = 8;                                        // the longest, "C#10", needs 5
constexpr int kNoteHelpSize = 48;  // "Hz: the frequency of note 143 in this tuning" needs 45

Var avarMapOutputs[] = {VarOut("ValInput", FormTypeNumeric, MAP_AT(dValInput), ClassPerPatch, 0, nullptr),
                        VarOut("Output", FormTypeNumeric, MAP_AT(dOutput), 0, 0), VarEnd};

// ValInput, Output, then the note outputs C-1, C#-1, Db-1, D-1, ... B10, each made in a patch's
// table only where a formula names it.
Var* TuningOutputs() {
  static char aszName[kNoteOutputs][kNoteNameSize];
  static char aszHelp[kNoteOutputs][kNoteHelpSize];
  static Var avar[2 + kNoteOutputs + 1];
  avar[0] = avarMapOutputs[0];
  avar[1] = avarMapOutputs[1];
  int n = 2;
  for (int iNote = 0; iNote < MapNamedNotes; ++iNote) {
    const int iOffset = MAP_AT(adNote) + iNote * static_cast<int>(sizeof(double));
    for (const char* pszClass : {apszPitchClass[iNote % 12], apszFlatAlias[iNote % 12]}) {
      if (!pszClass) continue;
      char* pszName = aszName[n - 2];
      snprintf(pszName, kNoteNameSize, "%s%d", pszClass, iNote / 12 - 1);
      char* pszHelp = aszHelp[n - 2];
      snprintf(pszHelp, kNoteHelpSize, "Hz: the frequency of note %d in this tuning", iNote);
      avar[n] = VarOut(pszName, FormTypeNumeric, iOffset, ClassPerPatch, VarFlagOnReference);
      avar[n++].pszHelp = pszHelp;
    }
  }
  avar[n] = VarEnd;
  return avar;
}
Var* const avarTuningOutputs = TuningOutputs();

const VarHelp ahelpMap[] = {
    {"Input", "the table index: the entry number, not a grid value (for tunings the note number)"},
    {"Bypass", ModHelp::kBypassPasses},
    {"Interpolate", "keyword, per patch: None or Linear; accepted, the look-up takes the nearest lower entry"},
    {"ValFrom", "per patch: the first grid value the table is computed at"},
    {"ValTo", "per patch: the last grid value (at most 5002 entries are computed)"},
    {"ValFormula", "per patch: the formula tabulated once at set-up; it reads the grid value as ValInput"},
    {"ValStep", "per patch: the distance between grid values, greater than 0"},
    {"ValInput", "the grid value ValFormula is being computed for (only meaningful while the table is built)"},
    {"Output", "the table entry selected by Input"},
    {}};
ModuleTypeTmpl<ModMap> typeMap("Map", avarMapInputs, avarMapOutputs, kMapAttrs, nullptr, OrderMap, ahelpMap);
// What Tuning and SubTuning mean alike.
const VarHelp ahelpTuningShared[] = {
    {"Input", "the note number to look up, 0..143 (default the note's MIDI number)"},
    {"ValInput", "the note number ValFormula is being computed for"},
    {"Output", "Hz: the frequency of the note Input"},
    {}};
const VarHelp ahelpTuning[] = {
    {"Bypass", "true passes Input (the note number) through unchanged"},
    {"Interpolate", "keyword, per patch: accepted, not used by the look-up"},
    {"ValFrom", "per patch: the first note number of the table, 0 for a full tuning"},
    {"ValTo", "per patch: the last note number, 143 for a full tuning"},
    {"ValFormula", "per patch: the frequency in Hz of note ValInput; by default equal temperament from FreqA"},
    {"ValStep", "per patch: 1 for a tuning (one entry per note)"},
    {}};
ModuleTypeTmpl<ModMap> typeTuning("Tuning",
                                  TuningInputs(avarTuningInputs,
                                               {"false", "None", "0", "143", "1", "FreqA + ( ValInput - 69 ) semis"}),
                                  avarTuningOutputs, kMapAttrs, nullptr, OrderTuning, ahelpTuning, ahelpTuningShared);
const VarHelp ahelpSubTuning[] = {
    {"Bypass", "true passes Input (the note number) through unchanged; by default the enclosing patch's Tuning"},
    {"Interpolate", "keyword, per patch: accepted, not used by the look-up; by default the enclosing patch's Tuning"},
    {"ValFrom",
     "per patch: the first note number of the table, 0 for a full tuning; by default the enclosing patch's Tuning"},
    {"ValTo", "per patch: the last note number, 143 for a full tuning; by default the enclosing patch's Tuning"},
    {"ValFormula", "per patch: the frequency in Hz of note ValInput; by default the enclosing patch's formula"},
    {"ValStep", "per patch: 1 for a tuning (one entry per note); by default the enclosing patch's Tuning"},
    {}};
ModuleTypeTmpl<ModMap> typeSubTuning("SubTuning",
                                     TuningInputs(avarSubTuningInputs,
                                                  {"Super( Tuning:Bypass )", "Super( Tuning:Interpolate )",
                                                   "Super( Tuning:ValFrom )", "Super( Tuning:ValTo )",
                                                   "Super( Tuning:ValStep )", "Super( Tuning:ValFormula )"}),
                                     avarTuningOutputs, kMapAttrs | AttrQuietUnused, nullptr, OrderSubTuning,
                                     ahelpSubTuning, ahelpTuningShared);

}  // namespace

ModMap::ModMap(ModuleType* ptype_, const char* pszName_, Patch* ppatch_, Voice* pvoice_, bool bPerPatch_, int iLevel_,
               Module*)
    : Module(ptype_, pszName_, ppatch_, pvoice_, bPerPatch_, iLevel_) {
  pvVars = &v;
}

int ModMap::Init() {
  pvarBypass_ = GetVar("Bypass");
  pvarInput_ = GetVar("Input");
  Var* pvarFormula = FindVar("ValFormula");
  if (!pvarFormula) {
    ERRADD(-1, "%s<%d>: unreached, so not calculating map", pszName, iLevel);
    return 1;
  }
  // The grid is read once, even from formulas that vary.
  for (const char* pszGrid : {"ValFrom", "ValTo", "ValStep"}) FormVarRefresh(FindVar(pszGrid));

  const double dFrom = v.dValFrom, dTo = v.dValTo, dStep = v.dValStep;
  // Only the standard note grid fills the note outputs.
  const bool bNoteGrid = dFrom == 0 && dTo == MapNamedNotes - 1 && dStep == 1;
  aentry_.Empty();
  int i = 0;
  for (double x = dFrom; x <= dTo; x += dStep) {  // accumulated: rounding decides the last point
    v.dValInput = x;
    FormVarRefresh(pvarFormula);
    const double y = *pvarFormula->pvalue;
    aentry_.Add({x, y});
    if (bNoteGrid) v.adNote[static_cast<int>(x)] = y;
    if (i > kMaxIterations) {
      ERRADD(pvarFormula->iLine, "%s: loop ValFrom ... ValTo is taking > %d iterations", pszName, kMaxIterations);
      break;
    }
    ++i;
  }
  return 0;
}

void ModMap::NoteStart() { dLastTime_ = -1; }

void ModMap::Calc() {
  const double dClock = *pclock;
  if (dClock == dLastTime_) return;
  v.dBypass = Pull(pvarBypass_, v.dBypass);
  v.dInput = Pull(pvarInput_, v.dInput);
  if (v.dBypass != 0) {
    v.dOutput = v.dInput;
    return;
  }
  dLastTime_ = dClock;
  const int nEntries = aentry_.N();
  // An empty grid (ValFrom above ValTo) has nothing to answer with: 0.
  if (nEntries == 0) {
    v.dOutput = 0;
    return;
  }
  // The input is an entry index: below 0 (or NaN) the first entry, past the end the last.
  const double dIndex = v.dInput;
  int i;
  if (!(dIndex >= 0))
    i = 0;
  else if (dIndex >= nEntries)
    i = nEntries - 1;
  else
    i = static_cast<int>(dIndex);
  v.dOutput = aentry_.begin()[i].dY;
}

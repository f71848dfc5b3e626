// The variable record: a row of a module type's declarations and an entry of a patch's tables.
#pragma once

#include <cstddef>
#include <cstdint>

struct Form;
struct FormNode;
class Module;
class ModuleType;

// Brings a module's outputs up to date for the current instant (normally its Calc).
using VarOutputFn = void (*)(Module* pmodule, struct Var* avarTable);
// Brings a record that is not current up to date, as a formula reading it from avarTable does.
using VarBringFn = void (*)(struct Var* pvar, struct Var* avarTable);
// The general routine (formeval.cpp): the formula, compiled or as a tree, or the output routine.
void FormRefBring(struct Var* pvar, struct Var* avarTable);

// Evaluation classes, shown as one letter of "ucPVNS".
enum EvalClass { ClassUnused = 0, ClassConstant, ClassPerPatch, ClassPerVoice, ClassPerNote, ClassPerSample };
constexpr const char* EvalClassLetters = "ucPVNS";

// Evaluation states.
enum { EvalStale = 1, EvalBusy = 2, EvalCurrent = 3 };

// Flags of a variable.
enum : uint32_t {
  VarFlagMidi = 0x01,           // set by MIDI events
  VarFlagUser = 0x02,           // made from a patch line that matches no declaration
  VarFlagChannels = 0x04,       // one extra record per channel, Name$2, Name$3, ...
  VarFlagAtLeastPatch = 0x08,   // never classed below per-patch
  VarFlagFormulaOutput = 0x10,  // output computed by its default formula
  VarFlagInput = 0x20,          // declared input
  VarFlagFeedback = 0x40,       // a loop through it is cut as per-sample
  VarFlagNeverFold = 0x80,      // MIDI changes it: the optimizer keeps references to it
  VarFlagOnReference = 0x100,   // an output row that gets its record only where named (a controller, a note)
};

// Every value a formula computes is one double; module storage is a double member as well, so
// pvalue always addresses a double (texts hold quark handles, keywords their numbers).
struct alignas(64) Var {
  // What evaluation reads for every sample comes first, in the record's first cache line (the
  // tables keep their records on cache-line boundaries): a record read, brought or marked stale
  // touches one line.
  double* pvalue;
  int evalState;
  // FormRefBring, or a routine made for this record's compiled formula or for a module output,
  // which spares the reading formula the general routine's tests and one call.
  VarBringFn pfnBring = FormRefBring;
  const FormNode* pcode;  // the formula compiled (formcode.h); absent: the tree is walked
  Module* pmodule;
  Var* avarTable;  // the table this record lives in
  // The next per-sample output record computed by the same module's Calc in this table (a ring),
  // or absent: one computation brings them all up to date (ModuleBindOutputs).
  Var* pvarSibling;
  // The value of a record that keeps its own (pvalue addresses it): a formula's result.
  double value;

  VarOutputFn pfnOutput;
  Form* pform;
  // A voice's copy of a per-sample output of a per-patch module: the per-patch table's record of
  // it, whose state tells whether the module has computed this sample (FormBringShadow).
  Var* pvarPatch;

  // Declaration fields.
  const char* pszName;
  int type;             // value kind: 1 number, 2 text, 4 boolean, 16 keyword
  int iOffset;          // byte position of the double inside the module; -1: kept in value
  const char* pszDefault;
  int classMax;         // highest class allowed; 0 means no limit
  uint32_t flags;
  const char* pszHelp;  // one line for the patch author: meaning, unit, sensible range

  // Instance fields.
  const char* pszModule;
  const char* pszModuleType;
  int iModule;          // per-voice module index, or -1
  int iModulePP;        // per-patch module index, or -1
  const char* pszUser;  // the formula the patch wrote, or absent; " augment" is a marker
  int evalClass;
  int aclassCache[6];
  unsigned uClassEpoch;  // the class computation's caches and visit mark belong to this round
  ModuleType* ptype;
  int iLine;
  int nLoops;  // loops through this record reported while rendering
  int iShadow;
  int iLevel;
  int iLevelOwn;
  int iLevelParent;
  int iOrig;
  bool bVisited;
  bool bAudioRate;
  bool bScanning;
  bool bReferenced;
  int nChannels;
  int iHistory;
  Var* pvarHistoryPrev;
  // To 256 bytes: a record's place in its table is then its index shifted, not multiplied.
  char acPad_[8];
};
static_assert(sizeof(void*) != 8 || sizeof(Var) == 256, "the render path indexes tables by shifting");
static_assert(sizeof(void*) != 8 || offsetof(Var, value) + sizeof(double) <= 64, "a formula's result is read in the first line");

// The marker a package caller's variable holds until the package's interface formula fills it.
constexpr const char* VarAugmentMarker = " augment";

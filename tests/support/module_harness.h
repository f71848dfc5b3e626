// A stand-in patch for module tests: one module of a given type in a variable table of its own,
// with context records (such as Note:Time) that its formulas can read, stepped sample by sample.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "enginecore/settings.h"
#include "patch/module.h"
#include "patch/moduletype.h"

class ModuleHarness {
 public:
  // The module is per-voice unless bPerPatch; an engine with this sample rate is made if none exists.
  explicit ModuleHarness(const char* pszType, double dFreqEval = 44100, bool bPerPatch = false,
                         const char* pszName = nullptr);
  ~ModuleHarness();

  // Sets the formula of one of the module's variables (an input, a numbered input, a user variable);
  // iLine is the patch line the record reports its errors at. For a type with a per-patch helper
  // ("SWO" has "SWOPerPatch"), the names the helper declares and the module does not go to the
  // helper, as the patch loader sends them.
  void Set(const char* pszVar, const char* pszFormula, int iLine = -1);
  // Sets a formula of the per-patch helper, for names it accepts beyond its table (Harm3).
  void SetHelper(const char* pszVar, const char* pszFormula, int iLine = -1);
  // Adds an output the module type makes on demand (IsNumberedOutput), as a formula naming it would.
  void AddOutput(const char* pszVar);
  // Leaves a declared row out of the table (the module's or its helper's), as the compiler drops
  // a variable nothing uses.
  void Omit(const char* pszVar);
  // Adds a context record Module:Name, with a formula or (without one) a value the test sets.
  void AddContext(const char* pszModule, const char* pszName, const char* pszFormula = nullptr);
  // Folds every formula that reads nothing variable (such as "-46dB") to a constant, as the
  // compiler's optimizer does before Init, for modules that require constant inputs.
  void FoldConstants() { bFold_ = true; }
  // FoldConstants, and also formulas whose references all lead to constant formulas (GainAdjust
  // computed from a constant Count), as the optimizer folds them.
  void FoldConstantReferences() { bFold_ = bFoldRefs_ = true; }
  // Puts the module into a sub-patch (level 2 under the patch, level 1), as Super() needs.
  void PlaceInSubPatch() { iLevel_ = 2; }
  // A context record of another level: 1 the enclosing patch (seen through Super() from a
  // sub-patch), 0 Global (seen from every level).
  void AddContextAt(int iLevel, const char* pszModule, const char* pszName, const char* pszFormula = nullptr);
  // A record's value storage, for the test to write (context records) or read.
  double& Value(const char* pszModule, const char* pszName);

  // Builds the table, parses every formula (failing the test on a parse error), binds storage,
  // and calls Init, Reset and NoteStart. Answers Init's result. A type with a per-patch helper
  // gets it first, in a per-patch table of its own, initialised as the compiler does; a helper
  // whose Init fails makes Start answer its result (the module is still made, with the helper).
  int Start();
  // Advances the clock by one sample: Note:Time and Note:Sample move on, every record with a
  // formula or an output routine becomes stale.
  void Step();
  // Evaluates one of the module's variables (an output, usually) for the current sample.
  double Out(const char* pszVar);
  // Renders n samples of one output, stepping before each sample after the first.
  std::vector<double> Render(const char* pszVar, int n);
  // Note on again: Reset and NoteStart with the clock back at 0.
  void Retrigger();

  Module* pmodule() { return pmodule_.get(); }
  Module* phelper() { return phelper_.get(); }
  // A record of the module's table, or else of the helper's.
  Var* Find(const char* pszModule, const char* pszName);
  double dTime = 0;   // seconds since the note started: the module's clock
  double dSample = 0;
  uint32_t uRandom = 1;  // the stand-in patch's random generator, seeded like RandomSeed 1

 private:
  struct Pending {
    std::string sModule, sName, sFormula;
    bool bHasFormula;
    int iLine = -1;
    int iLevel = -1;  // context records: -1 for the module's own level
  };
  Var* AppendRecord(const Var& varRow, const char* pszModule, bool bModuleRecord, int iLevel = -1);
  Var* AppendTo(std::vector<Var>& avar, const Var& varRow, const char* pszModule, ModuleType* ptype, bool bPerPatch,
                int iLevel);
  const char* Keep(const std::string& s);
  // Appends the module's rows (less the omitted ones) and the set variables beyond them.
  void AppendModuleRecords(std::vector<Var>& avar, ModuleType* ptype, bool bPerPatch, const std::vector<Pending>& aSet);
  // Gives the set formulas, binds storage to the module, parses every formula against the table.
  void BindAndParse(std::vector<Var>& avar, Var** ppavar, Module* pmod, const std::vector<Pending>& aSet);
  int StartHelper();

  ModuleType* ptype_;
  ModuleType* ptypeHelper_ = nullptr;  // the per-patch helper type, if the type has one
  std::string sName_;
  bool bPerPatch_;
  std::unique_ptr<Module> phelper_;  // made before the module and destroyed after it
  std::unique_ptr<Module> pmodule_;
  std::vector<Var> avarHelper_;      // the helper's per-patch table
  Var* pavarHelper_ = nullptr;
  std::vector<Pending> aSetHelper_;
  double dPatchTime_ = 0;            // the helper's clock
  std::vector<Var> avar_;
  Var* pavar_ = nullptr;
  std::vector<Pending> aSet_, aContext_;
  std::vector<std::string> asOutput_, asOmit_;
  std::deque<std::string> asText_;
  bool bStarted_ = false;
  bool bFold_ = false;
  bool bFoldRefs_ = false;
  int iLevel_ = 1;           // the module's level
  int iGenerator_ = -1;      // uRandom registered for RANDOM() in the formulas
};

// A stand-in patch for module tests: one module of a given type in a variable table of its own,
// with context records (such as Note:Time) that its formulas can read, stepped sample by sample.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "module.h"
#include "moduletype.h"
#include "settings.h"

class ModuleHarness {
 public:
  // The module is per-voice unless bPerPatch; an engine with this sample rate is made if none exists.
  explicit ModuleHarness(const char* pszType, double dFreqEval = 44100, bool bPerPatch = false,
                         const char* pszName = nullptr);
  ~ModuleHarness();

  // Sets the formula of one of the module's variables (an input, a numbered input, a user variable);
  // iLine is the patch line the record reports its errors at.
  void Set(const char* pszVar, const char* pszFormula, int iLine = -1);
  // Adds an output the module type makes on demand (IsNumberedOutput), as a formula naming it would.
  void AddOutput(const char* pszVar);
  // Leaves a declared row out of the table, as the compiler drops a variable nothing uses.
  void Omit(const char* pszVar);
  // Adds a context record Module:Name, with a formula or (without one) a value the test sets.
  void AddContext(const char* pszModule, const char* pszName, const char* pszFormula = nullptr);
  // Folds every formula that reads nothing variable (such as "-46dB") to a constant, as the
  // compiler's optimizer does before Init, for modules that require constant inputs.
  void FoldConstants() { bFold_ = true; }
  // Puts the module into a sub-patch (level 2 under the patch, level 1), as Super() needs.
  void PlaceInSubPatch() { iLevel_ = 2; }
  // A context record of another level: 1 the enclosing patch (seen through Super() from a
  // sub-patch), 0 Global (seen from every level).
  void AddContextAt(int iLevel, const char* pszModule, const char* pszName, const char* pszFormula = nullptr);
  // A record's value storage, for the test to write (context records) or read.
  double& Value(const char* pszModule, const char* pszName);

  // Builds the table, parses every formula (failing the test on a parse error), binds storage,
  // and calls Init, Reset and NoteStart. Answers Init's result.
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
  const char* Keep(const std::string& s);

  ModuleType* ptype_;
  std::string sName_;
  bool bPerPatch_;
  std::unique_ptr<Module> pmodule_;
  std::vector<Var> avar_;
  Var* pavar_ = nullptr;
  std::vector<Pending> aSet_, aContext_;
  std::vector<std::string> asOutput_, asOmit_;
  std::deque<std::string> asText_;
  bool bStarted_ = false;
  bool bFold_ = false;
  int iLevel_ = 1;           // the module's level
  int iGenerator_ = -1;      // uRandom registered for RANDOM() in the formulas
};

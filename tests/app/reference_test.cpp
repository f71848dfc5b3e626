// The manual's one source: every module type's variables and every formula row carry their description.
#include <gtest/gtest.h>

#include <string>

#include "app/appcore.h"
#include "formula/formfn.h"
#include "patch/moduletype.h"

namespace {

bool Empty(const char* psz) { return !psz || !*psz; }

// The rows whose examples only a patch can run: channel buses, the voices' sum, the parent level.
bool RunsOnlyInAPatch(const FormFnInfo& row) {
  return FormFnIsBus(&row) || &row == &FormFnRowSumVoices || &row == &FormFnRowSuper;
}

std::string RowName(const FormFnInfo& row) { return row.pszName ? row.pszName : row.pszOp; }

}  // namespace

TEST(Reference, EveryVariableOfEveryModuleTypeHasItsDescription) {
  InitSharedTables();  // the envelope stage types are made here, after the static registrations
  std::string sMissing;
  int nRows = 0;
  for (ModuleType* ptype : ModuleFactory::Get()->aptype)
    for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
      for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar, ++nRows)
        if (Empty(pvar->pszHelp)) sMissing += std::string(" ") + ptype->pszName + ":" + pvar->pszName;
  EXPECT_EQ(sMissing, "") << "variables without a description";
  // Every kind of table took part: plain, generated (Channel, Tuning), stage and dummy types.
  EXPECT_GT(nRows, 3000);
  for (const char* pszType : {"Channel", "Tuning", "ADSREnv", "DummyChannel", "SubPortamento", "SWOPerPatch"})
    EXPECT_TRUE(ModuleFactory::Get()->Lookup(pszType)) << pszType;
}

// A help line answers what a shared row means in this type, not in another: the LFO's Output is
// its raw wave, the oscillator's the audio.
TEST(Reference, SharedNamesAreDescribedForTheirOwnType) {
  InitSharedTables();
  auto Help = [](const char* pszType, const char* pszVar) -> std::string {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(pszType);
    for (const Var* avar : {ptype->avarInputs, ptype->avarOutputs})
      for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar)
        if (std::string(pvar->pszName) == pszVar) return pvar->pszHelp ? pvar->pszHelp : "";
    return "(no such row)";
  };
  EXPECT_NE(Help("Osc", "Output"), Help("LFO", "Output"));
  EXPECT_EQ(Help("LFO", "Output"), Help("LFO", "Control"));
  EXPECT_NE(Help("Noise", "Color"), Help("PinkNoise", "Color"));
  EXPECT_NE(Help("Channel", "NoteDownC4"), Help("Channel", "NoteDownC#4"));
  EXPECT_NE(Help("Tuning", "C4"), Help("Tuning", "D4"));
  EXPECT_EQ(Help("Tuning", "C#4"), Help("Tuning", "Db4")) << "an alias names the same note";
}

TEST(Reference, EveryOperatorFunctionAndUnitHasItsDescriptionAndExample) {
  std::string sMissing;
  int nRows = 0;
  auto Check = [&](const FormFnInfo& row) {
    ++nRows;
    if (Empty(row.pszArgs) || Empty(row.pszHelp) || Empty(row.pszExample)) sMissing += " " + RowName(row);
    // An example either evaluates on its own (its result is what the calculator prints) or runs in a patch.
    if (Empty(row.pszResult) != RunsOnlyInAPatch(row)) sMissing += " " + RowName(row) + "(result)";
  };
  Check(FormFnUnaryMinus);
  for (const FormFnInfo* p = FormFnTable; p->pfnEval; ++p) Check(*p);
  for (const FormFnInfo* p = FormFnUnits; p->pfnEval; ++p) Check(*p);
  EXPECT_EQ(sMissing, "") << "rows without a description, arguments, example or result";
  EXPECT_GT(nRows, 80);
}

// The numbered variables a help list describes are names the type really accepts: Freq<N> stands
// for Freq1, Freq23 ... (the wavetable oscillators leave their harmonics to their helpers).
TEST(Reference, NumberedVariablesInTheHelpAreAccepted) {
  InitSharedTables();
  int nChecked = 0;
  for (const char* pszType : {"Adder", "FMAlgo", "MultiFilter", "Delay", "Scope", "Env", "ADSREnv"}) {
    ModuleType* ptype = ModuleFactory::Get()->Lookup(pszType);
    ASSERT_TRUE(ptype && ptype->ahelp) << pszType;
    int nNumbered = 0;
    for (const VarHelp* phelp = ptype->ahelp; phelp->pszName; ++phelp) {
      std::string sPattern = phelp->pszName;
      size_t i = sPattern.find("<N>");
      if (i == std::string::npos) continue;
      ++nNumbered;
      for (const char* pszNumber : {"1", "23"}) {
        std::string sName = sPattern.substr(0, i) + pszNumber + sPattern.substr(i + 3);
        uint32_t flags = 0;
        VarOutputFn pfnOutput = nullptr;
        EXPECT_TRUE(ptype->IsNumberedInput(sName.c_str()) || ptype->IsNumberedOutput(sName.c_str(), &flags, &pfnOutput))
            << pszType << ": " << sName;
        ++nChecked;
      }
    }
    EXPECT_GT(nNumbered, 0) << pszType;
  }
  EXPECT_GT(nChecked, 30);
}

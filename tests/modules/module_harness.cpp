// The stand-in patch of the module tests.
#include "module_harness.h"

#include <gtest/gtest.h>

#include <cstring>

#include "akconfig.h"
#include "formparse.h"

ModuleHarness::ModuleHarness(const char* pszType, double dFreqEval, bool bPerPatch, const char* pszName)
    : sName_(pszName ? pszName : pszType), bPerPatch_(bPerPatch) {
  ptype_ = ModuleFactory::Get()->Lookup(pszType);
  EXPECT_NE(ptype_, nullptr) << "no module type " << pszType;
  if (!TheEngine() || TheEngine()->dFreqEval != dFreqEval) {
    AKConfig_T* pconf = AKConfigNew("Interpreter", nullptr);
    AKConfigSetDouble(pconf, "FreqEval", dFreqEval);
    pengine_ = std::make_unique<InterpreterSettings>(pconf);
    AKConfigFree(pconf);
  }
  avar_.reserve(2000);  // records must not move once formulas and modules point at them
}

ModuleHarness::~ModuleHarness() {
  pmodule_.reset();
  for (Var& var : avar_) FormFree(var.pform);
}

const char* ModuleHarness::Keep(const std::string& s) {
  asText_.push_back(s);
  return asText_.back().c_str();
}

void ModuleHarness::Set(const char* pszVar, const char* pszFormula) {
  aSet_.push_back({sName_, pszVar, pszFormula, true});
}

void ModuleHarness::AddContext(const char* pszModule, const char* pszName, const char* pszFormula) {
  aContext_.push_back({pszModule, pszName, pszFormula ? pszFormula : "", pszFormula != nullptr});
}

Var* ModuleHarness::Find(const char* pszModule, const char* pszName) {
  for (Var& var : avar_)
    if (var.pszName && strcmp(var.pszModule, pszModule) == 0 && strcmp(var.pszName, pszName) == 0) return &var;
  return nullptr;
}

double& ModuleHarness::Value(const char* pszModule, const char* pszName) {
  Var* pvar = Find(pszModule, pszName);
  static double dNowhere;
  EXPECT_NE(pvar, nullptr) << pszModule << ":" << pszName;
  return pvar ? *pvar->pvalue : dNowhere;
}

Var* ModuleHarness::AppendRecord(const Var& varRow, const char* pszModule, bool bModuleRecord) {
  Var var = varRow;
  var.pszModule = Keep(pszModule);
  var.pszModuleType = bModuleRecord ? ptype_->pszName : "";
  var.ptype = bModuleRecord ? ptype_ : nullptr;
  var.iModule = bModuleRecord && !bPerPatch_ ? 0 : -1;
  var.iModulePP = bModuleRecord && bPerPatch_ ? 0 : -1;
  var.iLevel = var.iLevelOwn = 1;
  var.iLevelParent = -1;
  var.iShadow = -1;
  var.iLine = -1;
  var.evalState = EvalStale;
  avar_.push_back(var);
  return &avar_.back();
}

int ModuleHarness::Start() {
  pmodule_.reset(ptype_->Create(sName_.c_str(), nullptr, nullptr, bPerPatch_, 1, nullptr));
  pmodule_->pclock = &dTime;
  pmodule_->puRandom = &uRandom;
  pmodule_->ppavarTable = &pavar_;
  // The module's own records: inputs, outputs, then the variables the test set beyond them.
  for (const Var* pvar = ptype_->avarInputs; pvar->pszName; ++pvar) AppendRecord(*pvar, sName_.c_str(), true);
  for (const Var* pvar = ptype_->avarOutputs; pvar->pszName; ++pvar) AppendRecord(*pvar, sName_.c_str(), true);
  for (const Pending& set : aSet_) {
    if (Find(sName_.c_str(), set.sName.c_str())) continue;
    Var varRow{};
    varRow.pszName = Keep(set.sName);
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    AppendRecord(varRow, sName_.c_str(), true);
  }
  // Context records, and the note clock that per-voice modules usually read.
  for (const char* pszNote : {"Time", "Sample"}) {
    bool bGiven = false;
    for (const Pending& ctx : aContext_) bGiven |= ctx.sModule == "Note" && ctx.sName == pszNote;
    if (!bGiven) aContext_.push_back({"Note", pszNote, "", false});
  }
  for (const Pending& ctx : aContext_) {
    Var varRow{};
    varRow.pszName = Keep(ctx.sName);
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    varRow.pszUser = ctx.bHasFormula ? Keep(ctx.sFormula) : nullptr;
    AppendRecord(varRow, Keep(ctx.sModule), false);
  }
  avar_.push_back(Var{});
  pavar_ = avar_.data();
  for (const Pending& set : aSet_) Find(sName_.c_str(), set.sName.c_str())->pszUser = Keep(set.sFormula);
  // Bind storage, then parse every formula against the table.
  for (Var& var : avar_) {
    if (!var.pszName) continue;
    var.avarTable = pavar_;
    bool bModule = var.ptype != nullptr;
    var.pmodule = bModule ? pmodule_.get() : nullptr;
    var.pvalue = bModule && var.iOffset >= 0 ? pmodule_->VarStorage(var.iOffset) : &var.value;
  }
  Find("Note", "Time")->pvalue = &dTime;
  Find("Note", "Sample")->pvalue = &dSample;
  for (Var& var : avar_) {
    if (!var.pszName || var.pfnOutput) continue;
    const char* pszText = var.pszUser ? var.pszUser : var.pszDefault;
    if (!pszText) continue;
    FormParseContext ctx;
    ctx.ppavarTable = &pavar_;
    ctx.pszText = pszText;
    ctx.pszModule = var.pszModule;
    FormParseSplit split;
    var.pform = FormParse(ctx, &split);
    if (FormIsError(var.pform)) {
      // Defaults may name modules this stand-in lacks; only the test's own formulas must parse.
      if (var.pszUser)
        ADD_FAILURE() << var.pszModule << ":" << var.pszName << " - " << FormTypeName(var.pform) << " ("
                      << split.sBefore << " >>> " << split.sStretch << " <<< " << split.sAfter << ")";
      FormFree(var.pform);
      var.pform = nullptr;
    }
  }
  bStarted_ = true;
  int iResult = pmodule_->Init();
  pmodule_->Reset();
  pmodule_->NoteStart();
  return iResult;
}

void ModuleHarness::Step() {
  dTime += 1.0 / TheEngine()->dFreqEval;
  dSample += 1;
  for (Var& var : avar_)
    if (var.pszName && (var.pform || var.pfnOutput)) var.evalState = EvalStale;
}

double ModuleHarness::Out(const char* pszVar) {
  Var* pvar = Find(sName_.c_str(), pszVar);
  EXPECT_NE(pvar, nullptr) << sName_ << ":" << pszVar;
  if (!pvar) return 0;
  FormVarEval(pvar);
  return *pvar->pvalue;
}

std::vector<double> ModuleHarness::Render(const char* pszVar, int n) {
  std::vector<double> ad;
  ad.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (i) Step();
    ad.push_back(Out(pszVar));
  }
  return ad;
}

void ModuleHarness::Retrigger() {
  dTime = 0;
  dSample = 0;
  for (Var& var : avar_)
    if (var.pszName && (var.pform || var.pfnOutput)) var.evalState = EvalStale;
  pmodule_->Reset();
  pmodule_->NoteStart();
}

// The stand-in patch of the module tests.
#include "module_harness.h"

#include <gtest/gtest.h>

#include <cstring>

#include "akconfig.h"
#include "formfn.h"
#include "formparse.h"

// Whether a formula reads nothing that can change (no reference, no RANDOM()), so that the
// compiler's optimizer would fold it to its value.
static bool ReadsNothing(const Form* pform) {
  if (pform->et == FormTypeRef) return false;
  if (pform->et != FormTypeFn) return true;
  if (FormFnIs(pform->u.fn.pinfo, "RANDOM")) return false;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (!ReadsNothing(pform->u.fn.apformArg[i])) return false;
  return true;
}

ModuleHarness::ModuleHarness(const char* pszType, double dFreqEval, bool bPerPatch, const char* pszName)
    : sName_(pszName ? pszName : pszType), bPerPatch_(bPerPatch) {
  ptype_ = ModuleFactory::Get()->Lookup(pszType);
  EXPECT_NE(ptype_, nullptr) << "no module type " << pszType;
  if (!TheEngine() || TheEngine()->dFreqEval != dFreqEval) {
    AKConfig_T* pconf = AKConfigNew("Interpreter", nullptr);
    AKConfigSetDouble(pconf, "FreqEval", dFreqEval);
    // Engines live as long as the test program: a module of another harness may still read the
    // current one (the engine is one per program, and the last made is the current one).
    static std::vector<std::unique_ptr<InterpreterSettings>> apengine;
    apengine.push_back(std::make_unique<InterpreterSettings>(pconf));
    AKConfigFree(pconf);
  }
  avar_.reserve(2000);  // records must not move once formulas and modules point at them
}

ModuleHarness::~ModuleHarness() {
  pmodule_.reset();
  for (Var& var : avar_) FormFree(var.pform);
  FormRandomUnregister(iGenerator_);
}

const char* ModuleHarness::Keep(const std::string& s) {
  asText_.push_back(s);
  return asText_.back().c_str();
}

void ModuleHarness::Set(const char* pszVar, const char* pszFormula, int iLine) {
  aSet_.push_back({sName_, pszVar, pszFormula, true, iLine});
}

void ModuleHarness::AddOutput(const char* pszVar) { asOutput_.push_back(pszVar); }

void ModuleHarness::Omit(const char* pszVar) { asOmit_.push_back(pszVar); }

void ModuleHarness::AddContext(const char* pszModule, const char* pszName, const char* pszFormula) {
  aContext_.push_back({pszModule, pszName, pszFormula ? pszFormula : "", pszFormula != nullptr});
}

void ModuleHarness::AddContextAt(int iLevel, const char* pszModule, const char* pszName, const char* pszFormula) {
  aContext_.push_back({pszModule, pszName, pszFormula ? pszFormula : "", pszFormula != nullptr, -1, iLevel});
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

Var* ModuleHarness::AppendRecord(const Var& varRow, const char* pszModule, bool bModuleRecord, int iLevel) {
  Var var = varRow;
  var.pszModule = Keep(pszModule);
  var.pszModuleType = bModuleRecord ? ptype_->pszName : "";
  var.ptype = bModuleRecord ? ptype_ : nullptr;
  var.iModule = bModuleRecord && !bPerPatch_ ? 0 : -1;
  var.iModulePP = bModuleRecord && bPerPatch_ ? 0 : -1;
  var.iLevel = var.iLevelOwn = iLevel < 0 ? iLevel_ : iLevel;
  var.iLevelParent = var.iLevel >= 2 ? var.iLevel - 1 : -1;  // the patch and Global have no parent
  var.iShadow = -1;
  var.iLine = -1;
  var.evalState = EvalStale;
  avar_.push_back(var);
  return &avar_.back();
}

int ModuleHarness::Start() {
  pmodule_.reset(ptype_->Create(sName_.c_str(), nullptr, nullptr, bPerPatch_, iLevel_, nullptr));
  pmodule_->pclock = &dTime;
  pmodule_->puRandom = &uRandom;
  pmodule_->ppavarTable = &pavar_;
  // The module's own records: inputs, outputs (less the omitted ones), outputs made on demand,
  // then the variables the test set beyond them.
  auto bOmitted = [this](const char* pszVar) {
    for (const std::string& s : asOmit_)
      if (s == pszVar) return true;
    return false;
  };
  for (const Var* avarRows : {ptype_->avarInputs, ptype_->avarOutputs})
    for (const Var* pvar = avarRows; pvar->pszName; ++pvar)
      if (!bOmitted(pvar->pszName)) AppendRecord(*pvar, sName_.c_str(), true);
  for (const std::string& sOutput : asOutput_) {
    Var varRow{};
    varRow.pszName = Keep(sOutput);
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    EXPECT_TRUE(ptype_->IsNumberedOutput(varRow.pszName, &varRow.flags, &varRow.pfnOutput))
        << ptype_->pszName << " makes no output " << sOutput;
    AppendRecord(varRow, sName_.c_str(), true);
  }
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
    AppendRecord(varRow, Keep(ctx.sModule), false, ctx.iLevel);
  }
  avar_.push_back(Var{});
  pavar_ = avar_.data();
  for (const Pending& set : aSet_) {
    Var* pvar = Find(sName_.c_str(), set.sName.c_str());
    pvar->pszUser = Keep(set.sFormula);
    pvar->iLine = set.iLine;
  }
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
  iGenerator_ = FormRandomRegister(&uRandom);
  for (Var& var : avar_) {
    if (!var.pszName || var.pfnOutput) continue;
    const char* pszText = var.pszUser ? var.pszUser : var.pszDefault;
    if (!pszText) continue;
    FormParseContext ctx;
    ctx.ppavarTable = &pavar_;
    ctx.pszText = pszText;
    ctx.pszModule = var.pszModule;
    ctx.iLevel = var.iLevel;
    ctx.iLevelParent = var.iLevelParent;
    FormParseSplit split;
    var.pform = FormParse(ctx, &split);
    FormBindRandom(var.pform, iGenerator_);
    if (FormIsError(var.pform)) {
      // Defaults may name modules this stand-in lacks; only the test's own formulas must parse.
      if (var.pszUser)
        ADD_FAILURE() << var.pszModule << ":" << var.pszName << " - " << FormTypeName(var.pform) << " ("
                      << split.sBefore << " >>> " << split.sStretch << " <<< " << split.sAfter << ")";
      FormFree(var.pform);
      var.pform = nullptr;
    } else if (bFold_ && var.pform->et == FormTypeFn && ReadsNothing(var.pform)) {
      double d = 0;
      FormEval(var.pform, pavar_, &d);
      FormFree(var.pform);
      var.pform = FormNewConstant(FormTypeNumeric, d);
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

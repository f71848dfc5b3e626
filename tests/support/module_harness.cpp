// The stand-in patch of the module tests.
#include "module_harness.h"

#include <cstring>

#include "formula/formfn.h"
#include "formula/formparse.h"
#include "foundation/akconfig.h"
#include "foundation/akquark.h"
#include "support_check.h"

// Whether a formula reads nothing that can change (no reference, no RANDOM()), so that the
// compiler's optimizer would fold it to its value. With bRefs, a reference to a record whose
// formula is a constant reads nothing that can change either.
static bool ReadsNothing(const Form* pform, const Var* avarTable = nullptr, bool bRefs = false) {
  if (pform->et == FormTypeRef) {
    if (!bRefs || pform->u.iVar < 0) return false;
    const Var& var = avarTable[pform->u.iVar];
    return var.pform && var.pform->et < FormTypeRef && !var.pfnOutput;
  }
  if (pform->et != FormTypeFn) return true;
  if (pform->u.fn.pinfo == &FormFnRowRandom) return false;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (!ReadsNothing(pform->u.fn.apformArg[i], avarTable, bRefs)) return false;
  return true;
}

// Whether a declaration table has a row of the name.
static bool HasRow(const Var* avar, const char* pszVar) {
  for (const Var* pvar = avar; pvar && pvar->pszName; ++pvar)
    if (strcmp(pvar->pszName, pszVar) == 0) return true;
  return false;
}

ModuleHarness::ModuleHarness(const char* pszType, double dFreqEval, bool bPerPatch, const char* pszName)
    : sName_(pszName ? pszName : pszType), bPerPatch_(bPerPatch) {
  ptype_ = ModuleFactory::Get()->Lookup(pszType);
  if (!ptype_) SupportFail(std::string("no module type ") + pszType);
  if (ptype_ && !bPerPatch && ptype_->pszHelper) ptypeHelper_ = ptype_->HelperType();
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
  avarHelper_.reserve(2000);
}

ModuleHarness::~ModuleHarness() {
  pmodule_.reset();
  phelper_.reset();
  for (std::vector<Var>* pavar : {&avar_, &avarHelper_})
    for (Var& var : *pavar) FormFree(var.pform);
  FormRandomUnregister(iGenerator_);
}

const char* ModuleHarness::Keep(const std::string& s) {
  asText_.push_back(s);
  return asText_.back().c_str();
}

void ModuleHarness::Set(const char* pszVar, const char* pszFormula, int iLine) {
  if (ptypeHelper_ && !HasRow(ptype_->avarInputs, pszVar) && !HasRow(ptype_->avarOutputs, pszVar) &&
      (HasRow(ptypeHelper_->avarInputs, pszVar) || HasRow(ptypeHelper_->avarOutputs, pszVar))) {
    SetHelper(pszVar, pszFormula, iLine);
    return;
  }
  aSet_.push_back({sName_, pszVar, pszFormula, true, iLine});
}

void ModuleHarness::SetHelper(const char* pszVar, const char* pszFormula, int iLine) {
  if (!ptypeHelper_) SupportFail(std::string(ptype_->pszName) + " has no per-patch helper");
  aSetHelper_.push_back({sName_, pszVar, pszFormula, true, iLine});
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
  for (std::vector<Var>* pavar : {&avar_, &avarHelper_})
    for (Var& var : *pavar)
      if (var.pszName && strcmp(var.pszModule, pszModule) == 0 && strcmp(var.pszName, pszName) == 0) return &var;
  return nullptr;
}

double& ModuleHarness::Value(const char* pszModule, const char* pszName) {
  Var* pvar = Find(pszModule, pszName);
  static double dNowhere;
  if (!pvar) SupportFail(std::string(pszModule) + ":" + pszName);
  return pvar ? *pvar->pvalue : dNowhere;
}

Var* ModuleHarness::AppendRecord(const Var& varRow, const char* pszModule, bool bModuleRecord, int iLevel) {
  return AppendTo(avar_, varRow, pszModule, bModuleRecord ? ptype_ : nullptr, bPerPatch_, iLevel);
}

Var* ModuleHarness::AppendTo(std::vector<Var>& avar, const Var& varRow, const char* pszModule, ModuleType* ptype,
                             bool bPerPatch, int iLevel) {
  Var var = varRow;
  // Tables hold their names interned, as the patch compiler's do.
  var.pszName = AKQuark(var.pszName);
  var.pszModule = AKQuark(pszModule);
  var.pszModuleType = ptype ? ptype->pszName : "";
  var.ptype = ptype;
  var.iModule = ptype && !bPerPatch ? 0 : -1;
  var.iModulePP = ptype && bPerPatch ? 0 : -1;
  var.iLevel = var.iLevelOwn = iLevel < 0 ? iLevel_ : iLevel;
  var.iLevelParent = var.iLevel >= 2 ? var.iLevel - 1 : -1;  // the patch and Global have no parent
  var.iShadow = -1;
  var.iLine = -1;
  var.evalState = EvalStale;
  avar.push_back(var);
  return &avar.back();
}

void ModuleHarness::AppendModuleRecords(std::vector<Var>& avar, ModuleType* ptype, bool bPerPatch,
                                        const std::vector<Pending>& aSet) {
  auto bOmitted = [this](const char* pszVar) {
    for (const std::string& s : asOmit_)
      if (s == pszVar) return true;
    return false;
  };
  for (const Var* avarRows : {ptype->avarInputs, ptype->avarOutputs})
    for (const Var* pvar = avarRows; pvar->pszName; ++pvar)
      if (!bOmitted(pvar->pszName)) AppendTo(avar, *pvar, sName_.c_str(), ptype, bPerPatch, -1);
  // Outputs made on demand (the module's), then the variables the test set beyond the rows.
  for (const std::string& sOutput : asOutput_) {
    if (ptype != ptype_) break;
    Var varRow{};
    varRow.pszName = AKQuark(sOutput.c_str());
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    if (!ptype->IsNumberedOutput(varRow.pszName, &varRow.flags, &varRow.pfnOutput))
      SupportFail(std::string(ptype->pszName) + " makes no output " + sOutput);
    AppendTo(avar, varRow, sName_.c_str(), ptype, bPerPatch, -1);
  }
  for (const Pending& set : aSet) {
    bool bFound = false;
    for (const Var& var : avar) bFound |= var.pszName && var.ptype && set.sName == var.pszName;
    if (bFound) continue;
    Var varRow{};
    varRow.pszName = AKQuark(set.sName.c_str());
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    AppendTo(avar, varRow, sName_.c_str(), ptype, bPerPatch, -1);
  }
}

void ModuleHarness::BindAndParse(std::vector<Var>& avar, Var** ppavar, Module* pmod, const std::vector<Pending>& aSet) {
  for (const Pending& set : aSet)
    for (Var& var : avar)
      if (var.pszName && var.ptype && set.sName == var.pszName) {
        var.pszUser = Keep(set.sFormula);
        var.iLine = set.iLine;
      }
  // Bind storage, then parse every formula against the table.
  for (Var& var : avar) {
    if (!var.pszName) continue;
    var.avarTable = *ppavar;
    bool bModule = var.ptype != nullptr;
    var.pmodule = bModule ? pmod : nullptr;
    var.pvalue = bModule && var.iOffset >= 0 ? pmod->VarStorage(var.iOffset) : &var.value;
  }
  if (&avar == &avar_) {
    Find("Note", "Time")->pvalue = &dTime;
    Find("Note", "Sample")->pvalue = &dSample;
  }
  for (Var& var : avar) {
    if (!var.pszName || var.pfnOutput) continue;
    const char* pszText = var.pszUser ? var.pszUser : var.pszDefault;
    if (!pszText) continue;
    FormParseContext ctx;
    ctx.ppavarTable = ppavar;
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
        SupportFail(std::string(var.pszModule) + ":" + var.pszName + " - " + FormTypeName(var.pform) + " (" +
                    split.sBefore + " >>> " + split.sStretch + " <<< " + split.sAfter + ")");
      FormFree(var.pform);
      var.pform = nullptr;
    }
  }
  // Folding through references repeats until nothing changes: a folded record can make its
  // readers foldable.
  for (bool bPass = bFold_; bPass;) {
    bPass = false;
    for (Var& var : avar) {
      if (!var.pszName || !var.pform) continue;
      if (var.pform->et != FormTypeFn && !(bFoldRefs_ && var.pform->et == FormTypeRef)) continue;
      if (!ReadsNothing(var.pform, *ppavar, bFoldRefs_)) continue;
      double d = 0;
      FormEval(var.pform, *ppavar, &d);
      FormFree(var.pform);
      var.pform = FormNewConstant(FormTypeNumeric, d);
      bPass = bFoldRefs_;
    }
  }
}

int ModuleHarness::StartHelper() {
  phelper_.reset(ptypeHelper_->Create(sName_.c_str(), nullptr, nullptr, true, iLevel_, nullptr));
  phelper_->pclock = &dPatchTime_;
  phelper_->puRandom = &uRandom;
  phelper_->ppavarTable = &pavarHelper_;
  AppendModuleRecords(avarHelper_, ptypeHelper_, true, aSetHelper_);
  avarHelper_.push_back(Var{});
  pavarHelper_ = avarHelper_.data();
  BindAndParse(avarHelper_, &pavarHelper_, phelper_.get(), aSetHelper_);
  // As the compiler initialises its per-patch modules.
  int iResult = phelper_->Init();
  phelper_->Reset();
  phelper_->NoteStart();
  return iResult;
}

int ModuleHarness::Start() {
  iGenerator_ = FormRandomRegister(&uRandom);
  const int iHelperResult = ptypeHelper_ ? StartHelper() : 0;
  pmodule_.reset(ptype_->Create(sName_.c_str(), nullptr, nullptr, bPerPatch_, iLevel_, phelper_.get()));
  pmodule_->pclock = &dTime;
  pmodule_->puRandom = &uRandom;
  pmodule_->ppavarTable = &pavar_;
  // The module's own records: inputs, outputs (less the omitted ones), outputs made on demand,
  // then the variables the test set beyond them.
  AppendModuleRecords(avar_, ptype_, bPerPatch_, aSet_);
  // Context records, and the note clock that per-voice modules usually read.
  for (const char* pszNote : {"Time", "Sample"}) {
    bool bGiven = false;
    for (const Pending& ctx : aContext_) bGiven |= ctx.sModule == "Note" && ctx.sName == pszNote;
    if (!bGiven) aContext_.push_back({"Note", pszNote, "", false});
  }
  for (const Pending& ctx : aContext_) {
    Var varRow{};
    varRow.pszName = AKQuark(ctx.sName.c_str());
    varRow.type = FormTypeNumeric;
    varRow.iOffset = -1;
    varRow.pszUser = ctx.bHasFormula ? Keep(ctx.sFormula) : nullptr;
    AppendRecord(varRow, Keep(ctx.sModule), false, ctx.iLevel);
  }
  avar_.push_back(Var{});
  pavar_ = avar_.data();
  BindAndParse(avar_, &pavar_, pmodule_.get(), aSet_);
  bStarted_ = true;
  int iResult = pmodule_->Init();
  pmodule_->Reset();
  pmodule_->NoteStart();
  return iHelperResult != 0 ? iHelperResult : iResult;
}

void ModuleHarness::Step() {
  dTime += 1.0 / TheEngine()->dFreqEval;
  dSample += 1;
  for (Var& var : avar_)
    if (var.pszName && (var.pform || var.pfnOutput)) var.evalState = EvalStale;
}

double ModuleHarness::Out(const char* pszVar) {
  Var* pvar = Find(sName_.c_str(), pszVar);
  if (!pvar) SupportFail(sName_ + ":" + pszVar);
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

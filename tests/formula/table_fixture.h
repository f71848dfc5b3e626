// A miniature variable table for the formula tests: records by module and name, formulas parsed
// against the table the way the patch compiler does it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "formula/formparse.h"

class TestTable {
 public:
  TestTable() {
    avar_.reserve(1000);  // records must not move once formulas point at them
    pavar_ = avar_.data();
  }
  ~TestTable() {
    for (Var& var : avar_) FormFree(var.pform);
  }

  // Adds a record; its formula (if any) is parsed by Compile().
  Var& Add(const char* pszModule, const char* pszName, const char* pszFormula = nullptr, int iLevel = 1) {
    asText_.emplace_back(pszModule);
    const char* pszM = asText_.back().c_str();
    asText_.emplace_back(pszName);
    const char* pszN = asText_.back().c_str();
    const char* pszF = nullptr;
    if (pszFormula) {
      asText_.emplace_back(pszFormula);
      pszF = asText_.back().c_str();
    }
    avar_.pop_back();  // the end record
    Var var = {};
    var.pszName = pszN;
    var.pszModule = pszM;
    var.pszUser = pszF;
    var.type = FormTypeNumeric;
    var.iLevel = var.iLevelOwn = iLevel;
    var.iLevelParent = -1;
    var.iModule = -1;
    var.iModulePP = -1;
    var.evalState = EvalStale;
    avar_.push_back(var);
    avar_.push_back(Var{});
    Repoint();
    return avar_[avar_.size() - 2];
  }

  // Parses every record's formula; answers the first error node's kind, or 0.
  int Compile(Var* avarVoice = nullptr) {
    int etFirst = 0;
    for (size_t i = 0; i + 1 < avar_.size(); ++i) {
      Var& var = avar_[i];
      if (!var.pszUser) continue;
      FormParseContext ctx;
      ctx.ppavarTable = &pavar_;
      ctx.ppavarVoice = avarVoice ? &pavarVoice_ : nullptr;
      pavarVoice_ = avarVoice;
      ctx.pszText = var.pszUser;
      ctx.pszModule = var.pszModule;
      ctx.iLevel = var.iLevelOwn;
      ctx.iLevelParent = var.iLevelParent;
      var.pform = FormParse(ctx);
      if (FormIsError(var.pform) && !etFirst) etFirst = var.pform->et;
    }
    return etFirst;
  }

  Var* Table() { return pavar_; }
  Var& operator[](size_t i) { return avar_[i]; }
  Var* Find(const char* pszModule, const char* pszName) {
    for (size_t i = 0; i + 1 < avar_.size(); ++i)
      if (avar_[i].pszModule == std::string(pszModule) && avar_[i].pszName == std::string(pszName)) return &avar_[i];
    return nullptr;
  }
  void MarkStale() {
    for (Var& var : avar_) var.evalState = EvalStale;
  }
  double Eval(const char* pszModule, const char* pszName) {
    Var* pvar = Find(pszModule, pszName);
    FormVarRefresh(pvar);
    return *pvar->pvalue;
  }

 private:
  void Repoint() {
    pavar_ = avar_.data();
    for (Var& var : avar_) {
      var.avarTable = pavar_;
      var.pvalue = &var.value;
    }
  }
  std::vector<Var> avar_ = std::vector<Var>(1);
  std::deque<std::string> asText_;
  Var* pavar_ = nullptr;
  Var* pavarVoice_ = nullptr;
};

// Parses one formula against an empty table.
struct ParsedFormula {
  Form* pform;
  FormParseSplit split;
  Var varEnd = {};
  Var* pavar = &varEnd;
  explicit ParsedFormula(const char* pszText) {
    FormParseContext ctx;
    ctx.ppavarTable = &pavar;
    ctx.pszText = pszText;
    pform = FormParse(ctx, &split);
  }
  ~ParsedFormula() { FormFree(pform); }
  std::string Text() const { return FormToText(pform, pavar); }
  double Value() {
    double d = 0;
    FormEval(pform, pavar, &d);
    return d;
  }
};

// Evaluations per second of typical per-sample formulas.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "formula/formeval.h"
#include "formula/formparse.h"

namespace {

// A small table whose records are all marked stale before each evaluation, as a sample does.
class BenchTable {
 public:
  void Add(const char* pszModule, const char* pszName, const char* pszFormula) {
    Var var = {};
    var.pszModule = Keep(pszModule);
    var.pszName = Keep(pszName);
    var.pszUser = Keep(pszFormula);
    var.iLevel = var.iLevelOwn = 1;
    var.iLevelParent = -1;
    avar_.push_back(var);
  }
  void Compile() {
    avar_.push_back(Var{});
    pavar_ = avar_.data();
    for (Var& var : avar_) {
      var.avarTable = pavar_;
      var.pvalue = &var.value;
      var.evalState = EvalStale;
    }
    for (Var& var : avar_) {
      if (!var.pszUser) continue;
      FormParseContext ctx;
      ctx.ppavarTable = &pavar_;
      ctx.pszText = var.pszUser;
      ctx.pszModule = var.pszModule;
      var.pform = FormParse(ctx);
      if (FormIsError(var.pform)) {
        fprintf(stderr, "cannot parse %s: %s\n", var.pszUser, FormTypeName(var.pform));
        abort();
      }
    }
  }
  ~BenchTable() {
    for (Var& var : avar_) FormFree(var.pform);
  }
  double Run(const char* pszName) {
    for (Var& var : avar_) var.evalState = var.pform ? EvalStale : EvalCurrent;
    for (Var& var : avar_)
      if (var.pszName && std::string(var.pszName) == pszName) {
        FormVarEval(&var);
        return *var.pvalue;
      }
    return 0;
  }
  Var* Find(const char* pszName) {
    for (Var& var : avar_)
      if (var.pszName && std::string(var.pszName) == pszName) return &var;
    return nullptr;
  }

 private:
  const char* Keep(const char* psz) {
    if (!psz) return nullptr;
    asText_.emplace_back(psz);
    return asText_.back().c_str();
  }
  std::vector<Var> avar_;
  std::deque<std::string> asText_;
  Var* pavar_ = nullptr;
};

void Evaluate(benchmark::State& state, const char* pszFormula) {
  BenchTable table;
  table.Add("Note", "Time", "0.25");
  table.Add("Note", "Key", "60");
  table.Add("Note", "Velocity", "0.8");
  table.Add("Tuning", "A4", "440");
  table.Add("Chain", "e", "Note:Time * 2");
  table.Add("Chain", "d", "e + 1");
  table.Add("Chain", "c", "d * 0.5");
  table.Add("Chain", "b", "c - 0.25");
  table.Add("Chain", "a", "b + e");
  table.Add("Bench", "Result", pszFormula);
  table.Compile();
  Var* pvarResult = table.Find("Result");
  std::vector<Var*> apvarFormulas;
  for (const char* psz : {"Time", "Key", "Velocity", "A4", "e", "d", "c", "b", "a", "Result"})
    apvarFormulas.push_back(table.Find(psz));
  for (auto _ : state) {
    for (Var* pvar : apvarFormulas) pvar->evalState = EvalStale;
    FormVarEval(pvarResult);
    benchmark::DoNotOptimize(*pvarResult->pvalue);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(Evaluate, UnitExpression, "Note:Velocity - 6 DB + 100 MS");
BENCHMARK_CAPTURE(Evaluate, ReferenceChainDepth5, "Chain:a");
BENCHMARK_CAPTURE(Evaluate, IfWithComparisons, "IF(Note:Time < 0.1, 1, Note:Time >= 0.5, 0, 1 - Note:Time)");
BENCHMARK_CAPTURE(Evaluate, NotePitch, "A4 * 2 ^ ((Note:Key - 69) / 12)");

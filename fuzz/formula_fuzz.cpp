// Fuzzes the formula parser, printer and evaluator: parse, print, re-parse the print, evaluate.
#include <cstring>
#include <string>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "fuzz_common.h"

namespace {

// A few records so that names, modules, note names and levels are exercised too.
struct Table {
  Var avar[6] = {};
  Var* pavar = avar;
  Table() {
    const char* aNames[][2] = {{"Osc1", "Freq"}, {"Osc1", "Output"}, {"Env", "C#4"}, {"Global", "FreqA"}, {"Osc2", "Freq"}};
    for (int i = 0; i < 5; ++i) {
      avar[i].pszModule = aNames[i][0];
      avar[i].pszName = aNames[i][1];
      avar[i].iLevel = i == 3 ? 0 : 1;
      avar[i].avarTable = avar;
      avar[i].pvalue = &avar[i].value;
      avar[i].value = 100 + i;
      avar[i].evalState = EvalStale;
    }
  }
};

Form* Parse(Table& table, const char* pszText) {
  FormParseContext ctx;
  ctx.ppavarTable = &table.pavar;
  ctx.pszText = pszText;
  ctx.pszModule = "Osc2";
  ctx.iLevelParent = 2;
  return FormParse(ctx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* pData, size_t nSize) {
  FuzzInitStatusLog();
  static Table table;
  static uint32_t uState = 1;
  static int iGenerator = FormRandomRegister(&uState);
  std::string sText(reinterpret_cast<const char*>(pData), nSize);
  sText = sText.c_str();  // formulas end at their first NUL, as patch values do
  Form* pform = Parse(table, sText.c_str());
  std::string sPrinted = FormToText(pform, table.avar);
  // Bus rows are the patch compiler's to rewrite; outside a patch they are refused, not evaluated.
  if (!FormIsError(pform) && !FormCallsBus(pform)) {
    FormBindRandom(pform, iGenerator);
    double d = 0;
    FormEval(pform, table.avar, &d);
    for (Var& var : table.avar) var.evalState = EvalStale;
  }
  FormFree(pform);
  // The printed form is for people, not always parseable again; it must still parse safely.
  FormFree(Parse(table, sPrinted.c_str()));
  ErrorList::Get()->Clear();
  return 0;
}

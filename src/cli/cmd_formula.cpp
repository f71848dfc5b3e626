// vantrel formula: the patch author's calculator: parse, print back, and evaluate formulas.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_common.h"
#include "commands.h"
#include "errorlist.h"
#include "formenum.h"
#include "formeval.h"
#include "formfn.h"
#include "formparse.h"

namespace {

struct FormulaOptions {
  std::vector<std::string> asTexts;
  bool bEval = false;
};

// A value as the author would write it: strings quoted, keywords by name.
std::string ValueText(double d, int et) {
  char sz[64];
  switch (et) {
    case FormTypeString: {
      std::string s = "\"";
      for (const char* p = FormStringText(d); p && *p; ++p) s += *p == '"' ? std::string("\"\"") : std::string(1, *p);
      return s + "\"";
    }
    case FormTypeKeyword:
      return FormEnumName(static_cast<int>(d), sz, sizeof sz);
    case FormTypeBoolean:
      return d != 0 ? "true" : "false";
    default:
      snprintf(sz, sizeof sz, "%.15g", d);
      return sz;
  }
}

int RunFormula(const FormulaOptions& opt) {
  // The calculator's formulas see no variables; RANDOM() draws from a generator seeded like a
  // patch's default.
  Var varEnd = {};
  Var* avar = &varEnd;
  uint32_t uRandom = 1;
  int iGenerator = FormRandomRegister(&uRandom);
  int iExit = ExitOk;
  for (const std::string& sText : opt.asTexts) {
    FormParseContext ctx;
    ctx.ppavarTable = &avar;
    ctx.pszText = sText.c_str();
    FormParseSplit split;
    Form* pform = FormParse(ctx, &split);
    if (FormIsError(pform)) {
      fflush(stdout);
      fprintf(stderr, "%s: %s\n    %s >>> %s <<< %s\n", sText.c_str(), FormTypeName(pform), split.sBefore.c_str(),
              split.sStretch.c_str(), split.sAfter.c_str());
      iExit = ExitRefused;
    } else if (opt.bEval) {
      FormBindRandom(pform, iGenerator);
      double d = 0;
      FormEval(pform, avar, &d);
      printf("%s\n", ValueText(d, FormResultType(pform, avar)).c_str());
    } else {
      printf("%s\n", FormToText(pform, avar).c_str());
    }
    FormFree(pform);
  }
  FormRandomUnregister(iGenerator);
  // Evaluation reports (such as a loop) reach the author too.
  ErrorList* pel = ErrorList::Get();
  pel->Lock();
  for (const ErrorListNode& node : pel->anode) PrintDiagnostic("formula", node.iLine, node.psz, node.iCount);
  pel->Unlock();
  return iExit;
}

}  // namespace

Command AddFormulaCommand(CLI::App& app) {
  auto opt = std::make_shared<FormulaOptions>();
  CLI::App* papp = app.add_subcommand("formula", "Parse formulas and print them back, or evaluate them with --eval");
  papp->add_option("TEXT", opt->asTexts, "Formulas (quote each one for the shell)")->required();
  papp->add_flag("--eval", opt->bEval, "Print each formula's value instead of its tree");
  papp->footer(
      "Formulas see no patch variables here. A refused formula prints its error and place as\n"
      "BEFORE >>> HERE <<< AFTER on standard error, and the exit status is 1.\n"
      "Example: vantrel formula --eval '440 + 7 SEMIS' 'Select(0.5, 1, 2)' '-6 DB'");
  return {papp, [opt] { return RunFormula(*opt); }};
}

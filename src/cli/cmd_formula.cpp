// vantrel formula: the patch author's calculator: parse, print back, and evaluate formulas.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formparse.h"
#include "foundation/akconfig.h"

namespace {

struct FormulaOptions {
  std::vector<std::string> asTexts;
  bool bEval = false;
  bool bMarkdown = false;
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
      // 0/0 has its sign bit set on common processors; "-nan" would suggest a sign it has not.
      if (std::isnan(d)) return "nan";
      snprintf(sz, sizeof sz, "%.15g", d);
      return sz;
  }
}

// What the calculator's formulas see: the engine's Global values (from the installation's
// settings when they can be read) and the note names of the default tuning, so that A4 is FreqA
// and C#4 * 2 means something.
struct CalculatorTable {
  std::vector<Var> avar;
  std::vector<std::string> asNames;
  Var* pavar = nullptr;
  CalculatorTable() {
    std::string sSettings = SettingsPath();
    AKConfig_T* pconf = access(sSettings.c_str(), R_OK) == 0 ? AKConfigRead(sSettings.c_str(), AKConfigText) : nullptr;
    AKConfig_T* pconfEngine = pconf ? AKConfigGetSub(pconf, "Interpreter") : nullptr;
    double dFreqA = AKConfigGetDoubleDef(pconfEngine, "FreqA", 440);
    const std::pair<const char*, double> aGlobal[] = {{"FreqEval", AKConfigGetDoubleDef(pconfEngine, "FreqEval", 44100)},
                                                      {"FreqA", dFreqA},
                                                      {"FreqFullBass", AKConfigGetDoubleDef(pconfEngine, "FreqFullBass", 55)}};
    AKConfigFree(pconf);
    asNames.reserve(300);
    for (const auto& [pszName, d] : aGlobal) Add("Global", pszName, d, 0);
    static const char* const apszClass[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    static const char* const apszFlat[] = {nullptr, "Db", nullptr, "Eb", nullptr, nullptr, "Gb", nullptr, "Ab", nullptr, "Bb", nullptr};
    for (int n = 0; n < 144; ++n) {
      double dFreq = dFreqA * std::pow(2.0, (n - 69) / 12.0);
      std::string sOctave = std::to_string(n / 12 - 1);
      Add("Tuning", apszClass[n % 12] + sOctave, dFreq, 1);
      if (apszFlat[n % 12]) Add("Tuning", apszFlat[n % 12] + sOctave, dFreq, 1);
    }
    avar.push_back(Var{});
    pavar = avar.data();
    for (Var& var : avar) {
      var.avarTable = pavar;
      var.pvalue = &var.value;
    }
  }
  void Add(const char* pszModule, const std::string& sName, double d, int iLevel) {
    asNames.push_back(sName);
    Var var{};
    var.pszModule = pszModule;
    var.pszName = asNames.back().c_str();
    var.type = FormTypeNumeric;
    var.value = d;
    var.evalState = EvalCurrent;
    var.iLevel = var.iLevelOwn = iLevel;
    avar.push_back(var);
  }
};

// A value's history (Name@N, its value N samples ago) exists only while a patch plays; the parser
// asks for the records it needs, and the calculator notes the question to explain the refusal.
void NoteHistoryAsked(void* pvUser, const char*, const char*, int iHistory) {
  if (iHistory > 0) *static_cast<bool*>(pvUser) = true;
}

int RunFormula(const FormulaOptions& opt) {
  // RANDOM() draws from a generator seeded like a patch's default.
  CalculatorTable table;
  Var*& avar = table.pavar;
  uint32_t uRandom = 1;
  int iGenerator = FormRandomRegister(&uRandom);
  int iExit = ExitOk;
  for (const std::string& sText : opt.asTexts) {
    FormParseContext ctx;
    ctx.ppavarTable = &avar;
    ctx.pszText = sText.c_str();
    ctx.pszModule = "Calculator";
    bool bHistoryAsked = false;
    ctx.pvUser = &bHistoryAsked;
    ctx.pfnResolve = NoteHistoryAsked;
    FormParseSplit split;
    Form* pform = FormParse(ctx, &split);
    if (FormIsError(pform)) {
      fflush(stdout);
      // The record a history reference needs is missing: the name alone is found, the name with
      // its "@N" is not.
      bool bHistory = bHistoryAsked && (pform->et == FormTypeErrInternal ||
                                        (pform->et == FormTypeErrUnknownName && split.sStretch.find('@') != std::string::npos));
      const char* pszMessage =
          bHistory ? "a value's history (Name@N: its value N samples ago) exists only in a patch" : FormTypeName(pform->et);
      fprintf(stderr, "%s: %s\n    %s >>> %s <<< %s\n", sText.c_str(), pszMessage, split.sBefore.c_str(),
              split.sStretch.c_str(), split.sAfter.c_str());
      iExit = ExitRefused;
    } else if (opt.bEval && FormCallsBus(pform)) {
      fflush(stdout);
      fprintf(stderr, "%s: MakeBus, SumBus, BreakOut and Pan combine channels: they work only in a patch\n",
              sText.c_str());
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
  for (const ErrorListNode& node : pel->anode) PrintDiagnostic("formula", node);
  pel->Unlock();
  return iExit;
}

// A table cell: a vertical bar would end the cell.
std::string Cell(const char* psz) {
  std::string s;
  for (; psz && *psz; ++psz) s += *psz == '|' ? std::string("\\|") : std::string(1, *psz);
  return s;
}

void PrintMarkdownRow(const FormFnInfo& row) {
  const char* pszName = row.pszName ? row.pszName : row.pszOp;
  std::string sResult = row.pszResult ? "`" + Cell(row.pszResult) + "`" : "in a patch";
  printf("| `%s` | `%s` | %s | `%s` | %s |\n", Cell(pszName).c_str(), Cell(row.pszArgs).c_str(),
         Cell(row.pszHelp).c_str(), Cell(row.pszExample).c_str(), sResult.c_str());
}

// The function reference of the manual: operators (by binding, tightest first), functions, units.
int PrintFunctionReference() {
  const char* pszHeader = "| Name | Arguments | Description | Example | Result |\n|---|---|---|---|---|\n";
  printf("**Operators**\n\n%s", pszHeader);
  PrintMarkdownRow(FormFnUnaryMinus);
  for (int iPrecedence : {90, 80, 70, 60})
    for (const FormFnInfo* p = FormFnTable; p->pfnEval; ++p)
      if (p->pszOp && p->iPrecedence == iPrecedence) PrintMarkdownRow(*p);
  printf("\n**Functions**\n\n%s", pszHeader);
  for (const FormFnInfo* p = FormFnTable; p->pfnEval; ++p)
    if (!p->pszOp) PrintMarkdownRow(*p);
  printf("\n**Units**\n\n%s", pszHeader);
  for (const FormFnInfo* p = FormFnUnits; p->pfnEval; ++p) PrintMarkdownRow(*p);
  return ExitOk;
}

}  // namespace

Command AddFormulaCommand(CLI::App& app) {
  auto opt = std::make_shared<FormulaOptions>();
  CLI::App* papp = app.add_subcommand("formula", "Parse formulas and print them back, or evaluate them with --eval");
  papp->add_option("TEXT", opt->asTexts, "Formulas (quote each one for the shell); needed unless --markdown");
  papp->add_flag("--eval", opt->bEval, "Print each formula's value instead of its tree");
  papp->add_flag("--markdown", opt->bMarkdown,
                 "Print the function reference of the manual (docs/): every operator, function and unit");
  papp->footer(
      "Formulas see Global:FreqEval, FreqA and FreqFullBass from the installation's settings and the note\n"
      "names of the default tuning (A4 is FreqA, C#4 and Db4 name the same note). A refused formula prints\n"
      "its error and place as"
      " BEFORE >>> HERE <<< AFTER on standard error, and the exit status is 1.\n"
      "Example: vantrel formula --eval '440 + 7 SEMIS' 'Select(0.5, 1, 2)' '-6 DB'");
  return {papp, [opt]() -> int {
            if (opt->bMarkdown) return PrintFunctionReference();
            if (opt->asTexts.empty()) {
              fprintf(stderr, "vantrel formula: TEXT is required (or --markdown); see vantrel formula --help\n");
              return ExitUsage;
            }
            return RunFormula(*opt);
          }};
}

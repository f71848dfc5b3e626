// vantrel modules: the registered module kinds, or one kind's variables: the patch author's reference.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/appcore.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "patch/moduletype.h"

namespace {

std::string AttributeText(uint32_t attrs) {
  static const struct {
    uint32_t bit;
    const char* psz;
  } aNames[] = {{AttrBypassPasses, "bypass passes input"}, {AttrBypassSilences, "bypass silences"},
                {AttrOutputFollows, "output follows input"}, {AttrMultiMono, "multi-mono"},
                {AttrQuietUnused, "quiet when unused"}};
  std::string s;
  for (const auto& name : aNames)
    if (attrs & name.bit) s += (s.empty() ? "" : ", ") + std::string(name.psz);
  return s.empty() ? "-" : s;
}

std::string FlagText(uint32_t flags) {
  static const struct {
    uint32_t bit;
    const char* psz;
  } aNames[] = {{VarFlagMidi, "midi"},        {VarFlagUser, "user"},         {VarFlagChannels, "channels"},
                {VarFlagAtLeastPatch, "at-least-patch"}, {VarFlagFormulaOutput, "formula"},
                {VarFlagFeedback, "feedback"}, {VarFlagNeverFold, "never-folded"}};
  std::string s;
  for (const auto& name : aNames)
    if (flags & name.bit) s += (s.empty() ? "" : " ") + std::string(name.psz);
  return s.empty() ? "-" : s;
}

const char* KindText(int type) {
  switch (type) {
    case 2: return "text";
    case 4: return "boolean";
    case 16: return "keyword";
    default: return "number";
  }
}

const char* CapText(int classMax) {
  static const char* const apsz[] = {"none", "constant", "per-patch", "per-voice", "per-note", "per-sample"};
  return classMax >= 0 && classMax <= 5 ? apsz[classMax] : "?";
}

void PrintVars(const char* pszTitle, const Var* avar) {
  printf("\n%s\n", pszTitle);
  if (!avar || !avar->pszName) {
    printf("  (none)\n");
    return;
  }
  size_t nWidth = 4;
  for (const Var* pvar = avar; pvar->pszName; ++pvar) nWidth = std::max(nWidth, strlen(pvar->pszName));
  printf("  %-*s  %-7s  %-10s  %-22s  %s\n", static_cast<int>(nWidth), "Name", "Kind", "Cap", "Flags", "Default");
  for (const Var* pvar = avar; pvar->pszName; ++pvar) {
    printf("  %-*s  %-7s  %-10s  %-22s  %s\n", static_cast<int>(nWidth), pvar->pszName, KindText(pvar->type),
           CapText(pvar->classMax), FlagText(pvar->flags & ~VarFlagInput).c_str(),
           pvar->pszDefault ? pvar->pszDefault : "");
    // The meaning on a line of its own, under the name, so that the columns stay readable.
    if (pvar->pszHelp) printf("      %s\n", pvar->pszHelp);
  }
}

bool IsNumbered(const VarHelp& help) { return strstr(help.pszName, "<N>") != nullptr; }

// The entries of a type's help lists that describe numbered variables, the shared ones first.
std::vector<VarHelp> NumberedHelp(const ModuleType* ptype) {
  std::vector<VarHelp> ahelp;
  for (const VarHelp* ahelpList : {ptype->ahelpShared, ptype->ahelp})
    for (const VarHelp* phelp = ahelpList; phelp && phelp->pszName; ++phelp)
      if (IsNumbered(*phelp)) ahelp.push_back(*phelp);
  return ahelp;
}

// The numbered variables a type accepts beyond its table, as its help lists describe them.
void PrintNumbered(const ModuleType* ptype) {
  std::vector<VarHelp> ahelp = NumberedHelp(ptype);
  if (!ahelp.empty()) printf("\nNumbered variables (N: a number, as in Freq1, Freq2)\n");
  for (const VarHelp& help : ahelp) printf("  %s\n      %s\n", help.pszName, help.pszHelp);
}

// A table cell: a vertical bar would end the cell.
std::string Cell(const char* psz) {
  std::string s;
  for (; psz && *psz; ++psz) s += *psz == '|' ? std::string("\\|") : std::string(1, *psz);
  return s;
}

// A formula in a cell, as code; backquotes inside are doubled by widening the fence.
std::string CodeCell(const char* psz) {
  if (!psz || !*psz) return "";
  return strchr(psz, '`') ? "`` " + Cell(psz) + " ``" : "`" + Cell(psz) + "`";
}

// The evaluation cap and flags that matter to an author, as a short note after the help line.
std::string MarkdownNote(const Var& var) {
  std::string s;
  if (var.classMax > 0 && var.classMax < ClassPerSample) s += std::string("at most ") + CapText(var.classMax);
  if (var.flags & VarFlagChannels) s += s.empty() ? "may carry channels" : "; may carry channels";
  if (var.flags & VarFlagMidi) s += s.empty() ? "set by MIDI" : "; set by MIDI";
  return s.empty() ? "" : " *(" + s + ")*";
}

void PrintMarkdownVars(const char* pszTitle, const Var* avar, bool bDefaults) {
  printf("\n**%s**\n\n", pszTitle);
  if (!avar || !avar->pszName) {
    printf("None.\n");
    return;
  }
  printf(bDefaults ? "| Name | Kind | Default | Description |\n|---|---|---|---|\n"
                   : "| Name | Kind | Description |\n|---|---|---|\n");
  for (const Var* pvar = avar; pvar->pszName; ++pvar) {
    std::string sHelp = Cell(pvar->pszHelp) + MarkdownNote(*pvar);
    if (bDefaults)
      printf("| `%s` | %s | %s | %s |\n", pvar->pszName, KindText(pvar->type), CodeCell(pvar->pszDefault).c_str(),
             sHelp.c_str());
    else
      printf("| `%s` | %s | %s |\n", pvar->pszName, KindText(pvar->type), sHelp.c_str());
  }
}

void PrintMarkdownNumbered(const ModuleType* ptype) {
  std::vector<VarHelp> ahelp = NumberedHelp(ptype);
  if (!ahelp.empty())
    printf("\n**Numbered variables** (N: a number, as in Freq1, Freq2)\n\n| Name | Description |\n|---|---|\n");
  for (const VarHelp& help : ahelp) printf("| `%s` | %s |\n", help.pszName, Cell(help.pszHelp).c_str());
}

bool IsStageType(const ModuleType* ptype) { return ptype->iOrder == OrderEnvStages; }

// The index of the module reference: one row per type, linking its page; the envelope stage
// types share one page.
void PrintMarkdownIndex(ModuleFactory* pfactory) {
  printf("| Type | Inputs | Outputs | Attributes |\n|---|---|---|---|\n");
  int nStages = 0;
  for (ModuleType* ptype : pfactory->aptype) {
    if (IsStageType(ptype)) {
      ++nStages;
      continue;
    }
    printf("| [%s](modules/%s.md) | %d | %d | %s |\n", ptype->pszName, ptype->pszName, ptype->NumInputs(),
           ptype->NumOutputs(), AttributeText(ptype->attrs).c_str());
  }
  if (nStages)
    printf("| [GateEnv, AREnv, ADSREnv ...](modules/EnvStages.md) | %d stage types | 7 | %s |\n", nStages,
           AttributeText(pfactory->Lookup("ADSREnv") ? pfactory->Lookup("ADSREnv")->attrs : 0).c_str());
}

void PrintMarkdownType(ModuleType* ptype) {
  printf("Class `%s`; attributes: %s", ptype->ClassName(), AttributeText(ptype->attrs).c_str());
  if (ptype->pszHelper) printf("; per-patch helper: [%s](%s.md)", ptype->pszHelper, ptype->pszHelper);
  printf(".\n");
  PrintMarkdownVars("Inputs", ptype->avarInputs, true);
  PrintMarkdownVars("Outputs", ptype->avarOutputs, false);
  PrintMarkdownNumbered(ptype);
}

int RunModules(const std::string& sType, bool bMarkdown) {
  // The types made at start-up (the envelope's stage types) are types a patch may name too.
  InitSharedTables();
  ModuleFactory* pfactory = ModuleFactory::Get();
  if (sType.empty()) {
    if (bMarkdown) {
      PrintMarkdownIndex(pfactory);
      return ExitOk;
    }
    printf("%-20s  %-16s  %6s  %7s  %s\n", "Type", "Class", "Inputs", "Outputs", "Attributes");
    for (ModuleType* ptype : pfactory->aptype)
      printf("%-20s  %-16s  %6d  %7d  %s%s\n", ptype->pszName, ptype->ClassName(), ptype->NumInputs(),
             ptype->NumOutputs(), AttributeText(ptype->attrs).c_str(),
             ptype->pszHelper ? (std::string("; helper ") + ptype->pszHelper).c_str() : "");
    return ExitOk;
  }
  ModuleType* ptype = pfactory->Lookup(sType.c_str());
  if (!ptype) {
    fprintf(stderr, "vantrel: no module type named \"%s\" (vantrel modules lists them)\n", sType.c_str());
    return ExitUsage;
  }
  if (bMarkdown) {
    PrintMarkdownType(ptype);
    return ExitOk;
  }
  printf("%s (class %s): %d inputs, %d outputs\nAttributes: %s\n", ptype->pszName, ptype->ClassName(),
         ptype->NumInputs(), ptype->NumOutputs(), AttributeText(ptype->attrs).c_str());
  if (ptype->pszHelper) printf("Per-patch helper: %s\n", ptype->pszHelper);
  PrintVars("Inputs", ptype->avarInputs);
  PrintVars("Outputs", ptype->avarOutputs);
  PrintNumbered(ptype);
  return ExitOk;
}

}  // namespace

Command AddModulesCommand(CLI::App& app) {
  auto psType = std::make_shared<std::string>();
  auto pbMarkdown = std::make_shared<bool>(false);
  CLI::App* papp = app.add_subcommand("modules", "List the module types, or one type's inputs and outputs");
  papp->add_option("TYPE", *psType, "A module type name, e.g. Osc (case-sensitive)");
  papp->add_flag("--markdown", *pbMarkdown,
                 "Print the reference tables of the manual (docs/): the index of types, or one type's tables");
  papp->footer(
      "Kinds: number, text, boolean, keyword. Cap: the most frequent evaluation a variable may take.\n"
      "Under each variable: what it means, its unit and the range that makes sense.\n"
      "Flags: midi (set by MIDI), channels (one record per channel), formula (output defined by its\n"
      "formula), feedback (loops through it are cut per sample), never-folded (MIDI changes it).\n"
      "The envelope stage types come last: one per set of stages, such as ADSREnv, AREnv, WaitEnv or GateEnv.");
  return {papp, [psType, pbMarkdown] { return RunModules(*psType, *pbMarkdown); }};
}

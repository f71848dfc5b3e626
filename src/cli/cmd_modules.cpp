// vantrel modules: the registered module kinds, or one kind's variables: the patch author's reference.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "appcore.h"
#include "cli_common.h"
#include "commands.h"
#include "moduletype.h"

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
  for (const Var* pvar = avar; pvar->pszName; ++pvar)
    printf("  %-*s  %-7s  %-10s  %-22s  %s\n", static_cast<int>(nWidth), pvar->pszName, KindText(pvar->type),
           CapText(pvar->classMax), FlagText(pvar->flags & ~VarFlagInput).c_str(),
           pvar->pszDefault ? pvar->pszDefault : "");
}

int RunModules(const std::string& sType) {
  // The types made at start-up (the envelope's stage types) are types a patch may name too.
  InitSharedTables();
  ModuleFactory* pfactory = ModuleFactory::Get();
  if (sType.empty()) {
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
  printf("%s (class %s): %d inputs, %d outputs\nAttributes: %s\n", ptype->pszName, ptype->ClassName(),
         ptype->NumInputs(), ptype->NumOutputs(), AttributeText(ptype->attrs).c_str());
  if (ptype->pszHelper) printf("Per-patch helper: %s\n", ptype->pszHelper);
  PrintVars("Inputs", ptype->avarInputs);
  PrintVars("Outputs", ptype->avarOutputs);
  return ExitOk;
}

}  // namespace

Command AddModulesCommand(CLI::App& app) {
  auto psType = std::make_shared<std::string>();
  CLI::App* papp = app.add_subcommand("modules", "List the module types, or one type's inputs and outputs");
  papp->add_option("TYPE", *psType, "A module type name, e.g. Osc (case-sensitive)");
  papp->footer(
      "Kinds: number, text, boolean, keyword. Cap: the most frequent evaluation a variable may take.\n"
      "Flags: midi (set by MIDI), channels (one record per channel), formula (output defined by its\n"
      "formula), feedback (loops through it are cut per sample), never-folded (MIDI changes it).");
  return {papp, [psType] { return RunModules(*psType); }};
}

// The formula parser: text to a Form tree whose references point into one variable table.
#pragma once

#include <string>

#include "formula/form.h"
#include "formula/formnames.h"
#include "formula/var.h"

// Called before the parser looks a reference up, so that the caller can append the records the
// reference needs (numbered outputs, history copies); the parser then searches the table itself.
using FormResolveFn = void (*)(void* pvUser, const char* pszModule, const char* pszName, int iHistory);
// Creates a module written inline in a formula from its argument texts and writes its name into
// szName; sets *piRejected to the index of an argument it refuses.
using FormAnonymousFn = void (*)(void* pvUser, const char* pszType, const char* const* apszArgs, int nArgs,
                                 int* piRejected, char* szName, int nSize);
// Whether a word names a registered module type.
using FormIsModuleTypeFn = bool (*)(const char* pszWord);

struct FormParseContext {
  // Where the tables are: the caller may grow (and move) them inside its callbacks, so the parser
  // reads these pointers again after every callback. A table ends with a record without a name.
  Var** ppavarTable = nullptr;
  Var** ppavarVoice = nullptr;  // per-voice table while a per-patch formula is parsed, else absent
  // Indexes of those tables by name, when the caller keeps them; without, the parser walks the table.
  FormNameIndex* pindexTable = nullptr;
  FormNameIndex* pindexVoice = nullptr;
  const char* pszText = nullptr;
  const char* pszModule = nullptr;  // the module whose variable is parsed
  int iLevel = 1;                   // records of this level and of level 0 are visible
  int iLevelParent = -1;            // used inside Super(); -1 at the top of a patch
  void* pvUser = nullptr;
  FormResolveFn pfnResolve = nullptr;
  FormAnonymousFn pfnAnonymous = nullptr;
  FormIsModuleTypeFn pfnIsModuleType = nullptr;
  // The variable holds a number (or a boolean or keyword): a formula whose value is a string is
  // refused with the argument-type error.
  bool bNumberWanted = false;
};

// The text split around an error: before it, the offending stretch, after it. Without an error
// the whole text is "before".
struct FormParseSplit {
  std::string sBefore, sStretch, sAfter;
};

Form* FormParse(const FormParseContext& ctx, FormParseSplit* psplit = nullptr);

// The tree as text, for logs, dumps and summaries; references are written <level>Module:Name.
std::string FormToText(const Form* pform, const Var* avarTable, const Var* avarVoice = nullptr);

// String constants hold the quark handle of their text in the double.
double FormStringValue(const char* pszQuark);
const char* FormStringText(double value);

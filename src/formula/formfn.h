// The built-in function table: every operator, function and unit of the formula language.
//
// One constant table feeds the parser (names, symbols, precedences, argument checks), the printer
// (name or symbol), the evaluator and the optimizer: each row names its evaluation routine, its
// simplification hook and its reference text. To add a function: write its evaluation routine
// (and a kind routine if its result is not numeric) in the matching formfn_*.cpp file, its hook
// in formopt_hooks.cpp if the generic identities do not serve, declare them in formfn_rows.h and
// add one row to FormFnTable. Code that must recognise a row compares it with a named row below
// (pinfo == &FormFnRowRandom), never by its name: add the row to FORM_FN_NAMED_ROWS for that.
#pragma once

#include <cstdint>

#include "formula/form.h"
#include "formula/var.h"

// The searched table, ended by an all-empty row.
extern const FormFnInfo FormFnTable[];
// Units, searched only after a term; ended by an all-empty row.
extern const FormFnInfo FormFnUnits[];
// Rows the parser and the optimizer use directly, outside the searched table.
extern const FormFnInfo FormFnUnaryMinus;
extern const FormFnInfo FormFnReciprocal;

// Rows of FormFnTable that other code recognises or writes into a call: FormFnRowRandom and so
// on. The table's definition finds each by its name (or symbol) while compiling.
#define FORM_FN_NAMED_ROWS(NAMED, SYMBOL)                                                          \
  SYMBOL(Power, "^") SYMBOL(Multiply, "*") SYMBOL(Divide, "/") SYMBOL(Add, "+") SYMBOL(Subtract, "-") \
  NAMED(TwoPower, "TwoPower") NAMED(Random, "RANDOM") NAMED(Super, "SUPER")                          \
  NAMED(OncePerPatch, "ONCEPERPATCH") NAMED(OncePerVoice, "ONCEPERVOICE")                            \
  NAMED(OncePerNote, "ONCEPERNOTE") NAMED(SumVoices, "SumVoices") NAMED(MakeBus, "MakeBus")          \
  NAMED(SumBus, "SumBus") NAMED(SumBusN, "SumBusN") NAMED(BreakOut, "BreakOut")                      \
  NAMED(BreakOutN, "BreakOutN") NAMED(Pan, "Pan") NAMED(PanL, "PanL") NAMED(PanR, "PanR")            \
  NAMED(LinScale, "LINSCALE") NAMED(ExpScale, "EXPSCALE") NAMED(Select, "Select")                    \
  NAMED(SelectN, "SelectN") NAMED(SelectLoop, "SelectLoop") NAMED(SelectLoopN, "SelectLoopN")        \
  NAMED(LinFade, "LinFade") NAMED(LinFadeN, "LinFadeN") NAMED(LinFadeLoop, "LinFadeLoop")            \
  NAMED(LinFadeLoopN, "LinFadeLoopN") NAMED(Min, "MIN") NAMED(Max, "MAX")
#define FORM_FN_DECLARE_ROW(row, psz) extern const FormFnInfo& FormFnRow##row;
FORM_FN_NAMED_ROWS(FORM_FN_DECLARE_ROW, FORM_FN_DECLARE_ROW)
#undef FORM_FN_DECLARE_ROW

// Attributes of a row (FormFnInfo::uFlags).
enum : unsigned {
  FormFnAnyKind = 0x01,      // computes with texts, keywords and booleans as well as numbers
  FormFnExponential = 0x02,  // an exponential unit: may follow only "+" or "-"
};

// Rows by name (case-insensitive) or infix symbol in the searched table; absent when unknown.
const FormFnInfo* FormFnFind(const char* pszName, int nLength = -1);
const FormFnInfo* FormFnFindOp(const char* pszOp, int nLength = -1);
const FormFnInfo* FormFnFindUnit(const char* pszName, int nLength = -1);
// True for the exponential units, which may follow only "+" or "-".
bool FormFnIsExponentialUnit(const FormFnInfo* pinfo);
// Whether a call computes with its arguments as numbers, so that a string argument is a type
// error (arithmetic, units, mathematical functions); comparisons and selections take any kind.
bool FormFnWantsNumbers(const FormFnInfo* pinfo);
// The bus rows (MakeBus, SumBus, BreakOut, Pan) combine channels: the patch compiler rewrites
// them, and evaluating one unrewritten ends the program. A formula evaluated outside a patch must
// not call one.
bool FormFnIsBus(const FormFnInfo* pinfo);
bool FormCallsBus(const Form* pform);

// Evaluates argument i of a call.
void FormEvalArg(Form* pform, int i, Var* avarTable, double* pd);
// The same as a value. The commonest arguments, a number or a reference to a current record, are
// read here without a call.
inline double FormArg(Form* pform, int i, Var* avarTable) {
  const Form* pformArg = pform->u.fn.apformArg[i];
  if (pformArg->et == FormTypeNumeric) return pformArg->u.value;
  if (pformArg->et == FormTypeRef && pformArg->u.iVar >= 0) {
    const Var& var = avarTable[pformArg->u.iVar];
    if (var.evalState == EvalCurrent) return *var.pvalue;
  }
  double d = 0;
  FormEvalArg(pform, i, avarTable, &d);
  return d;
}

// SumVoices needs the patch's voices, which the formula language does not know: the patch
// layer installs the routine that sums an argument over the voices of the patch that owns the
// per-patch table.
using FormSumVoicesFn = void (*)(Form* pformArg, Var* avarPerPatch, double* pdResult);
void FormSetSumVoices(FormSumVoicesFn pfn);

// RANDOM() reaches its patch's generator through a hidden constant argument: the number of a
// registered generator state. A patch registers its state while it lives.
int FormRandomRegister(uint32_t* pState);
void FormRandomUnregister(int iGenerator);
// Advances a generator state and answers the next value in 0..1.
double FormRandomNext(uint32_t* pState);

// Kind routines shared by rows.
int FormKindIf(Form* pform, Var* avarTable);
int FormKindSelect(Form* pform, Var* avarTable);

// The built-in function table: every operator, function and unit of the formula language.
//
// One table feeds the parser (names, symbols, precedences, argument checks), the printer and the
// evaluator. To add a function: write its evaluation routine (and a kind routine if its result
// is not numeric) in the matching formfn_*.cpp file and add one row to FormFnTable.
#pragma once

#include <cstdint>

#include "formula/form.h"

// The searched table, ended by an all-empty row.
extern FormFnInfo FormFnTable[];  // the optimizer adds its hooks at first use
// Units, searched only after a term; ended by an all-empty row.
extern const FormFnInfo FormFnUnits[];
// Rows the parser and the optimizer use directly, outside the searched table.
extern const FormFnInfo FormFnUnaryMinus;
extern const FormFnInfo FormFnReciprocal;

// Rows by name (case-insensitive) or infix symbol in the searched table; absent when unknown.
const FormFnInfo* FormFnFind(const char* pszName, int nLength = -1);
const FormFnInfo* FormFnFindOp(const char* pszOp, int nLength = -1);
const FormFnInfo* FormFnFindUnit(const char* pszName, int nLength = -1);
// Whether a row is the one of that name (case-insensitive), e.g. FormFnIs(pinfo, "RANDOM").
bool FormFnIs(const FormFnInfo* pinfo, const char* pszName);
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
inline double FormArg(Form* pform, int i, Var* avarTable) {
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

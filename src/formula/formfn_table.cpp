// The function table: one row per operator, function and unit, with its argument check and optimizer hook.
#include <cstring>
#include <iterator>

#include "formula/formfn.h"
#include "formula/formfn_rows.h"
#include "foundation/akstring.h"

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

// Rows: evaluation, check, name (what the printer writes), symbol, precedence, optimizer hook,
// kind routine, flags; then the reference: arguments, help line, example and the value the example
// evaluates to. FNA rows compute with any kind of value, FNK rows also have a kind routine; OP rows
// are infix operators (OPA: comparisons, any kind) and keep the optimizer's generic identities.
#define FN(eval, check, opt, name, args, help, ex, res) \
  {eval, check, name, nullptr, 0, opt, nullptr, 0, args, help, ex, res}
#define FNA(eval, check, opt, name, args, help, ex, res) \
  {eval, check, name, nullptr, 0, opt, nullptr, FormFnAnyKind, args, help, ex, res}
#define FNK(eval, check, opt, name, kind, args, help, ex, res) \
  {eval, check, name, nullptr, 0, opt, kind, FormFnAnyKind, args, help, ex, res}
#define OP(eval, check, op, prec, args, help, ex, res) \
  {eval, check, nullptr, op, prec, nullptr, nullptr, 0, args, help, ex, res}
#define OPA(eval, check, op, prec, args, help, ex, res) \
  {eval, check, nullptr, op, prec, nullptr, nullptr, FormFnAnyKind, args, help, ex, res}
// Units take the term before them; the exponential ones may follow only "+" or "-".
#define UNIT(eval, name, args, help, ex, res) \
  {eval, One, name, nullptr, 0, nullptr, nullptr, 0, args, help, ex, res}
#define EXPUNIT(eval, name, args, help, ex, res) \
  {eval, One, name, nullptr, 0, nullptr, nullptr, FormFnExponential, args, help, ex, res}

// A row without a hook of its own gets the optimizer's generic identities.
constexpr FormOptimizeFn Generic = nullptr;

const FormFnInfo* FindIn(const FormFnInfo* aRows, const char* pszName, int nLength, bool bSymbol) {
  size_t n = nLength < 0 ? strlen(pszName) : static_cast<size_t>(nLength);
  for (const FormFnInfo* p = aRows; p->pfnEval; ++p) {
    const char* pszRow = bSymbol ? p->pszOp : p->pszName;
    if (pszRow && strlen(pszRow) == n && AKstrnicmp(pszRow, pszName, n) == 0) return p;
  }
  return nullptr;
}

}  // namespace

const FormFnInfo FormFnUnaryMinus = {
    FormFnNegate, One,     nullptr, "-", 99, nullptr, nullptr, 0, "-x",
    "negation of everything that follows, up to the next comma or closing parenthesis", "- 2 + 3", "-5"};
const FormFnInfo FormFnReciprocal = {FormFnReciprocalEval, One, "Reciprocal", nullptr, 99, nullptr, nullptr, 0,
                                     "Reciprocal(x)", "1 / x; made by the optimizer, not written in patches",
                                     nullptr, nullptr};

// The sign of a division's remainder, the fades' end rules and the selections' truncation are
// what the examples below show; the tests evaluate every example.
constexpr FormFnInfo FormFnTable[] = {
    FN(FormFnTwoPowerEval, OneUp, Generic, "TwoPower", "TwoPower(x)", "2 raised to x: x octaves as a frequency ratio",
       "TwoPower(-1)", "0.5"),
    OP(FormFnPower, TwoUp, "^", 90, "a ^ b", "a raised to b; binds tightest, and chains from the left", "2 ^ 3 ^ 2",
       "64"),
    OP(FormFnMultiply, TwoUp, "*", 80, "a * b", "product", "2 * 3", "6"),
    OP(FormFnDivide, TwoUp, "/", 80, "a / b", "quotient; division by 0 gives an infinity", "10 / 4", "2.5"),
    OP(FormFnModulo, TwoUp, "\\", 80, "a \\ b", "remainder of a by b, never negative; 0 when b is 0 or negative",
       "-1 \\ 3", "2"),
    OP(FormFnAdd, TwoUp, "+", 70, "a + b", "sum; before an exponential unit it multiplies instead", "2 + 3", "5"),
    OP(FormFnSubtract, TwoUp, "-", 70, "a - b", "difference; before an exponential unit it divides instead",
       "440 - 12 semis", "220"),
    FN(FormFnSin, OneUp, Generic, "SIN", "SIN(x)", "sine of x cycles (1 is a whole turn, not radians)", "SIN(0.25)",
       "1"),
    FN(FormFnCos, OneUp, Generic, "COS", "COS(x)", "cosine of x cycles", "COS(0.5)", "-1"),
    FN(FormFnTan, OneUp, Generic, "TAN", "TAN(x)", "tangent of x cycles", "TAN(0.125)", "1"),
    FN(FormFnTanh, OneUp, Generic, "TANH", "TANH(x)", "hyperbolic tangent: a soft clip into -1..1", "TANH(0)", "0"),
    FN(FormFnFloor, One, Generic, "FLOOR", "FLOOR(x)", "the largest whole number not above x", "FLOOR(-1.5)", "-2"),
    FN(FormFnCeil, One, Generic, "CEIL", "CEIL(x)", "the smallest whole number not below x", "CEIL(1.2)", "2"),
    FN(FormFnFraction, One, Generic, "FRACTION", "FRACTION(x)", "the part after the point, with the sign of x",
       "FRACTION(-1.25)", "-0.25"),
    FN(FormFnAbs, One, Generic, "ABS", "ABS(x)", "magnitude", "ABS(-3)", "3"),
    FN(FormFnSqrt, One, Generic, "SQRT", "SQRT(x)", "square root", "SQRT(16)", "4"),
    FN(FormFnMin, OneUp, FormOptMin, "MIN", "MIN(a, b, ...)", "the smallest argument", "MIN(3, 1, 2)", "1"),
    FN(FormFnMax, OneUp, FormOptMax, "MAX", "MAX(a, b, ...)", "the largest argument", "MAX(-1, -2)", "-1"),
    FNA(FormFnRandom, None, Generic, "RANDOM", "RANDOM()",
        "the patch's next random number, 0..1; the sequence repeats from Patch:RandomSeed",
        "AND(RANDOM() >= 0, RANDOM() <= 1)", "1"),
    FNK(FormFnIf, OddThreeUp, FormOptIf, "IF", FormKindIf, "IF(c1, r1, c2, r2, ..., else)",
        "the r after the first condition that is not 0, else the last argument; only that one is evaluated",
        "IF(0, 10, 1, 20, 30)", "20"),
    FNA(FormFnAnd, OneUp, FormOptAnd, "AND", "AND(a, b, ...)",
        "1 when every argument is not 0, else 0; stops at the first 0", "AND(1, 0)", "0"),
    FNA(FormFnOr, OneUp, FormOptOr, "OR", "OR(a, b, ...)",
        "1 when any argument is not 0, else 0; stops at the first one", "OR(0, 2)", "1"),
    FNA(FormFnNot, One, Generic, "NOT", "NOT(x)", "1 when x is 0, else 0", "NOT(0)", "1"),
    OPA(FormFnEqual, Two, "=", 60, "a = b", "1 when equal, else 0", "2 = 2", "1"),
    OPA(FormFnLess, Two, "<", 60, "a < b", "1 when a is below b, else 0", "1 < 2", "1"),
    OPA(FormFnGreater, Two, ">", 60, "a > b", "1 when a is above b, else 0", "3 > 4", "0"),
    OPA(FormFnLessEqual, Two, "<=", 60, "a <= b", "1 when a is not above b, else 0", "2 <= 2", "1"),
    OPA(FormFnGreaterEqual, Two, ">=", 60, "a >= b", "1 when a is not below b, else 0", "3 >= 4", "0"),
    OPA(FormFnNotEqual, Two, "<>", 60, "a <> b", "1 when different, else 0", "1 <> 2", "1"),
    FNA(FormFnInList, TwoUp, FormOptInList, "INLIST", "INLIST(x, a, b, ...)",
        "1 when x equals one of the later arguments, else 0", "INLIST(2, 1, 2, 3)", "1"),
    FNK(FormFnSelect, TwoUp, FormOptSelectPlain, "Select", FormKindSelect, "Select(x, v0, v1, ...)",
        "one value chosen by a position x in 0..1 across the values", "Select(0.5, 10, 20)", "20"),
    FNK(FormFnSelectN, TwoUp, FormOptSelectN, "SelectN", FormKindSelect, "SelectN(i, v0, v1, ...)",
        "value number i (from 0), held at the first and last", "SelectN(7, 10, 20)", "20"),
    FNK(FormFnSelectLoop, TwoUp, FormOptSelectLoop, "SelectLoop", FormKindSelect, "SelectLoop(x, v0, v1, ...)",
        "as Select, with the values in a ring: x wraps around", "SelectLoop(1.25, 10, 20)", "10"),
    FNK(FormFnSelectLoopN, TwoUp, FormOptSelectLoopN, "SelectLoopN", FormKindSelect, "SelectLoopN(i, v0, v1, ...)",
        "value number i, counted around the ring", "SelectLoopN(-1, 10, 20, 30)", "30"),
    FN(FormFnLinFade, TwoUp, FormOptLinFade, "LinFade", "LinFade(x, v0, v1, ...)",
       "straight-line fade through the values as x goes 0..1", "LinFade(0.25, 0, 10, 20)", "5"),
    FN(FormFnLinFadeN, TwoUp, FormOptLinFadeN, "LinFadeN", "LinFadeN(i, v0, v1, ...)",
       "straight-line fade, i counting values from 0", "LinFadeN(1.5, 0, 10, 20)", "15"),
    FN(FormFnLinFadeLoop, TwoUp, FormOptLinFadeLoop, "LinFadeLoop", "LinFadeLoop(x, v0, v1, ...)",
       "straight-line fade around the ring of values", "LinFadeLoop(0.75, 0, 10)", "5"),
    FN(FormFnLinFadeLoopN, TwoUp, FormOptLinFadeLoopN, "LinFadeLoopN", "LinFadeLoopN(i, v0, v1, ...)",
       "straight-line fade around the ring, i counting values", "LinFadeLoopN(2.5, 0, 10)", "5"),
    FN(FormFnLinFadeX, OddThreeUp, FormOptLinFadeX, "LinFadeX", "LinFadeX(x, x1, y1, x2, y2, ...)",
       "the line through the points (x1, y1), (x2, y2) ... at x; flat beyond the first and last",
       "LinFadeX(5, 0, 0, 10, 100)", "50"),
    FN(FormFnExpFade, TwoUp, FormOptExpFade, "ExpFade", "ExpFade(x, v0, v1, ...)",
       "constant-ratio fade (for frequencies and gains; values above 0)", "ExpFade(0.5, 100, 400)", "200"),
    FN(FormFnExpFadeN, TwoUp, FormOptExpFadeN, "ExpFadeN", "ExpFadeN(i, v0, v1, ...)",
       "constant-ratio fade, i counting values", "ExpFadeN(0.5, 100, 400)", "200"),
    FN(FormFnExpFadeLoop, TwoUp, FormOptExpFadeLoop, "ExpFadeLoop", "ExpFadeLoop(x, v0, v1, ...)",
       "constant-ratio fade around the ring", "ExpFadeLoop(0.25, 100, 400)", "200"),
    FN(FormFnExpFadeLoopN, TwoUp, FormOptExpFadeLoopN, "ExpFadeLoopN", "ExpFadeLoopN(i, v0, v1, ...)",
       "constant-ratio fade around the ring, i counting values", "ExpFadeLoopN(1.5, 100, 400)", "200"),
    FN(FormFnPowFade, TwoUp, FormOptPowFade, "PowFade", "PowFade(x, v0, v1, ...)",
       "equal-power cross-fade (cosine and sine weights)", "PowFade(0.5, 1, 0)", "0.707106781186548"),
    FN(FormFnPowFadeN, TwoUp, FormOptPowFadeN, "PowFadeN", "PowFadeN(i, v0, v1, ...)",
       "equal-power cross-fade, i counting values", "PowFadeN(0.5, 1, 0)", "0.707106781186548"),
    FN(FormFnPowFadeLoop, TwoUp, FormOptPowFadeLoop, "PowFadeLoop", "PowFadeLoop(x, v0, v1, ...)",
       "equal-power cross-fade around the ring", "PowFadeLoop(0.25, 1, 0)", "0.707106781186548"),
    FN(FormFnPowFadeLoopN, TwoUp, FormOptPowFadeLoopN, "PowFadeLoopN", "PowFadeLoopN(i, v0, v1, ...)",
       "equal-power cross-fade around the ring, i counting values", "PowFadeLoopN(0.5, 1, 0)", "0.707106781186548"),
    FN(FormFnCurve, ThreeUp, FormOptCurve, "Curve", "Curve(x, shape, v0, v1, ...)",
       "shaped fade: shape 0.5 is straight, smaller lingers, larger arrives early (0..1)", "Curve(0.25, 0, 0, 10, 20)",
       "0"),
    FN(FormFnCurveN, ThreeUp, FormOptCurveN, "CurveN", "CurveN(i, shape, v0, v1, ...)",
       "shaped fade, i counting values", "CurveN(0.5, 0.5, 0, 10)", "5"),
    FN(FormFnCurveLoop, ThreeUp, FormOptCurveLoop, "CurveLoop", "CurveLoop(x, shape, v0, v1, ...)",
       "shaped fade around the ring", "CurveLoop(0.25, 0.5, 0, 10)", "5"),
    FN(FormFnCurveLoopN, ThreeUp, FormOptCurveLoopN, "CurveLoopN", "CurveLoopN(i, shape, v0, v1, ...)",
       "shaped fade around the ring, i counting values", "CurveLoopN(0.5, 0.5, 0, 10)", "5"),
    FN(FormFnSCurve, ThreeUp, FormOptSCurve, "SCurve", "SCurve(x, shape, v0, v1, ...)",
       "S-shaped fade: 0.5 straight, towards 0 a step at the middle, towards 1 a plateau at the mean",
       "SCurve(0.7, 0, 0, 10)", "10"),
    FN(FormFnSCurveN, ThreeUp, FormOptSCurveN, "SCurveN", "SCurveN(i, shape, v0, v1, ...)",
       "S-shaped fade, i counting values", "SCurveN(0.3, 0, 0, 10)", "0"),
    FN(FormFnSCurveLoop, ThreeUp, FormOptSCurveLoop, "SCurveLoop", "SCurveLoop(x, shape, v0, v1, ...)",
       "S-shaped fade around the ring", "SCurveLoop(0.25, 0.5, 0, 10)", "5"),
    FN(FormFnSCurveLoopN, ThreeUp, FormOptSCurveLoopN, "SCurveLoopN", "SCurveLoopN(i, shape, v0, v1, ...)",
       "S-shaped fade around the ring, i counting values", "SCurveLoopN(0.5, 0.5, 0, 10)", "5"),
    FN(FormFnPeak, Five, FormOptPeak, "PEAK", "PEAK(x, centre, ratio, base, peak)",
       "a triangular bump: base outside centre/ratio..centre*ratio, rising straight to peak at the centre",
       "PEAK(150, 200, 2, 0, 1)", "0.5"),
    FNA(FormFnMakeBus, OneUp, Generic, "MakeBus", "MakeBus(a, b, ...)",
        "a bus: one value per channel (a is channel 1, b channel 2 ...)", "MakeBus( Osc1, Osc1:Control )", nullptr),
    FN(FormFnSumBus, One, Generic, "SumBus", "SumBus(bus)", "the sum of a bus's channels, as one value",
       "SumBus( Pan( Osc1, 0.3 ) )", nullptr),
    FN(FormFnAdd, OneUp, Generic, "SumBusN", "SumBusN(a, b, ...)", "the sum of its arguments (what SumBus becomes)",
       "SumBusN(1, 2, 3)", "6"),
    FNA(FormFnBreakOut, Two, Generic, "BreakOut", "BreakOut(bus, position)",
        "one value from a bus by a channel position from 1, fading with equal power between neighbours",
        "BreakOut( MakeBus( Osc1, Osc1:Control ), 1.5 )", nullptr),
    FNA(FormFnBreakOutN, TwoUp, FormOptBreakOutN, "BreakOutN", "BreakOutN(position, v1, v2, ...)",
        "equal-power pick from the values by a position from 1, around the ring", "BreakOutN(1.5, 1, 1)",
        "1.41421356237309"),
    FN(FormFnPan, OneUp, Generic, "Pan", "Pan(signal, position)",
       "a two-channel bus: the signal placed between left (0) and right (1) with equal power", "Pan( Osc1, 0.25 )",
       nullptr),
    FN(FormFnPanL, Two, Generic, "PanL", "PanL(signal, position)",
       "the left channel of Pan: signal * cos(position * 90 deg)", "PanL(1, 0)", "1"),
    FN(FormFnPanR, Two, Generic, "PanR", "PanR(signal, position)",
       "the right channel of Pan: signal * sin(position * 90 deg)", "PanR(1, 1)", "1"),
    FNA(FormFnIdentity, One, Generic, "SUPER", "SUPER(formula)",
        "in a sub-patch or package: the formula read as the enclosing patch sees it", "Super( Pitch )", nullptr),
    FNA(FormFnIdentity, One, Generic, "ONCEPERPATCH", "ONCEPERPATCH(formula)",
        "the formula, evaluated once when the patch is set up (outermost call only)", "ONCEPERPATCH(3)", "3"),
    FNA(FormFnIdentity, One, Generic, "ONCEPERVOICE", "ONCEPERVOICE(formula)",
        "the formula, evaluated once per voice (outermost call only; not in per-patch modules)", "ONCEPERVOICE(2)",
        "2"),
    FNA(FormFnIdentity, One, Generic, "ONCEPERNOTE", "ONCEPERNOTE(formula)",
        "the formula, evaluated at each note start (outermost call only; not in per-patch modules)", "ONCEPERNOTE(2)",
        "2"),
    FNA(FormFnSumVoicesEval, One, Generic, "SumVoices", "SumVoices(voice formula)",
        "in a per-patch formula: the sum over the sounding voices of a formula of each voice",
        "SumVoices( Voice:Result )", nullptr),
    FNA(FormFnNow, None, Generic, "NOW", "NOW()", "the calendar time in whole seconds", "NOW() > 1600000000", "1"),
    FNA(FormFnLen, One, Generic, "LEN", "LEN(text)", "reserved for the length of a text; gives 0 for now", "LEN(3)",
        "0"),
    FNA(FormFnFind2, TwoOrThree, Generic, "FIND", "FIND(text, part[, start])",
        "reserved for searching a text; gives 0 for now", "FIND(1, 2)", "0"),
    FNA(FormFnFind2, TwoOrThree, Generic, "INITIAL", "INITIAL(text, part[, start])",
        "reserved for testing how a text begins; gives 0 for now", "INITIAL(1, 2)", "0"),
    FN(FormFnLinScale, Three, Generic, "LINSCALE", "x [lo, hi]  or  LINSCALE(x, lo, hi)",
       "x in 0..1 mapped onto lo..hi in a straight line, held at the ends", "0.5 [10, 20]", "15"),
    FN(FormFnExpScale, Three, Generic, "EXPSCALE", "x {lo, hi}  or  EXPSCALE(x, lo, hi)",
       "x in 0..1 mapped onto lo..hi at a constant ratio (for frequencies), held at the ends", "0.5 {100, 400}", "200"),
    {},
};

constexpr FormFnInfo FormFnUnits[] = {
    EXPUNIT(FormFnOctave, "OCTAVE", "x OCTAVE", "ratio of x octaves: 2 ^ x; only after + or -", "1 OCTAVE", "2"),
    EXPUNIT(FormFnOctave, "OCTAVES", "x OCTAVES", "ratio of x octaves: 2 ^ x; only after + or -", "110 + 2 OCTAVES",
            "440"),
    EXPUNIT(FormFnSemi, "SEMI", "x SEMI", "ratio of x semitones: 2 ^ (x / 12); only after + or -", "12 SEMI", "2"),
    EXPUNIT(FormFnSemi, "SEMIS", "x SEMIS", "ratio of x semitones: 2 ^ (x / 12); only after + or -", "440 + 12 SEMIS",
            "880"),
    EXPUNIT(FormFnCent, "CENT", "x CENT", "ratio of x cents: 2 ^ (x / 1200); only after + or -", "1200 CENT", "2"),
    EXPUNIT(FormFnCent, "CENTS", "x CENTS", "ratio of x cents: 2 ^ (x / 1200); only after + or -", "1 + 2400 CENTS",
            "4"),
    EXPUNIT(FormFnDb, "DB", "x DB", "gain factor of x decibels: 10 ^ (x / 20); only after + or -", "1 - 20 DB", "0.1"),
    UNIT(FormFnIdentity, "SEC", "x SEC", "seconds (the time unit of every module)", "2 SEC", "2"),
    UNIT(FormFnIdentity, "SECS", "x SECS", "seconds", "0.5 SECS", "0.5"),
    UNIT(FormFnMs, "MS", "x MS", "milliseconds, as seconds", "5 MS", "0.005"),
    UNIT(FormFnIdentity, "HZ", "x HZ", "hertz (the frequency unit of every module)", "440 HZ", "440"),
    {},
};

const FormFnInfo* FormFnFind(const char* pszName, int nLength) { return FindIn(FormFnTable, pszName, nLength, false); }
const FormFnInfo* FormFnFindOp(const char* pszOp, int nLength) { return FindIn(FormFnTable, pszOp, nLength, true); }
const FormFnInfo* FormFnFindUnit(const char* pszName, int nLength) { return FindIn(FormFnUnits, pszName, nLength, false); }

namespace {

// The place of a row in the table, found while compiling: a misspelt or missing name stops the
// build rather than answering a wrong row.
constexpr bool SameText(const char* pszA, const char* pszB) {
  while (*pszA && *pszA == *pszB) ++pszA, ++pszB;
  return *pszA == *pszB;
}
constexpr int IndexOf(const char* psz, bool bSymbol) {
  for (size_t i = 0; i + 1 < std::size(FormFnTable); ++i) {  // the end row has neither
    const char* pszRow = bSymbol ? FormFnTable[i].pszOp : FormFnTable[i].pszName;
    if (pszRow && SameText(pszRow, psz)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

#define ROW_AT(row, psz, bSymbol)                                   \
  static_assert(IndexOf(psz, bSymbol) >= 0, "no function row " psz); \
  const FormFnInfo& FormFnRow##row = FormFnTable[IndexOf(psz, bSymbol)];
#define NAMED_ROW(row, name) ROW_AT(row, name, false)
#define SYMBOL_ROW(row, op) ROW_AT(row, op, true)
FORM_FN_NAMED_ROWS(NAMED_ROW, SYMBOL_ROW)

bool FormFnIsExponentialUnit(const FormFnInfo* pinfo) { return pinfo && (pinfo->uFlags & FormFnExponential); }

bool FormFnWantsNumbers(const FormFnInfo* pinfo) { return pinfo && !(pinfo->uFlags & FormFnAnyKind); }

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

bool FormFnIsBus(const FormFnInfo* pinfo) {
  return pinfo == &FormFnRowMakeBus || pinfo == &FormFnRowSumBus || pinfo == &FormFnRowBreakOut ||
         pinfo == &FormFnRowPan;
}

bool FormCallsBus(const Form* pform) {
  if (!pform || pform->et != FormTypeFn) return false;
  if (FormFnIsBus(pform->u.fn.pinfo)) return true;
  for (int i = 0; i < pform->u.fn.nArg; ++i)
    if (FormCallsBus(pform->u.fn.apformArg[i])) return true;
  return false;
}

// Arithmetic, comparisons, logic, plain functions, units and the generator of RANDOM().
#include <atomic>
#include <cfloat>
#include <cmath>
#include <ctime>

#include "formula/formfn.h"
#include "formula/formfn_rows.h"
#include "formula/vanmath.h"
#include "foundation/akstatus.h"

namespace {

inline int N(Form* pform) { return pform->u.fn.nArg; }
inline double Arg(Form* pform, int i, Var* avarTable) { return FormArg(pform, i, avarTable); }

// Applies a binary operation as a left fold over all arguments.
template <class Op>
void Fold(Form* pform, Var* avarTable, double* pd, Op op) {
  double r = Arg(pform, 0, avarTable);
  for (int i = 1; i < N(pform); ++i) r = op(r, Arg(pform, i, avarTable));
  *pd = r;
}

template <class Cmp>
void Compare(Form* pform, Var* avarTable, double* pd, Cmp cmp) {
  double a = Arg(pform, 0, avarTable);
  double b = Arg(pform, 1, avarTable);
  *pd = cmp(a, b) ? 1.0 : 0.0;
}

FormSumVoicesFn g_pfnSumVoices = nullptr;

// Generator states of the live patches, by number. Registration happens on the compiling
// thread, reading on the audio thread, so the slots are atomic.
constexpr int kMaxGenerators = 1024;
std::atomic<uint32_t*> g_apState[kMaxGenerators];

}  // namespace

FORM_EVAL(FormFnNegate) { *pd = -Arg(pform, 0, avarTable); }
FORM_EVAL(FormFnReciprocalEval) { *pd = 1.0 / Arg(pform, 0, avarTable); }
FORM_EVAL(FormFnTwoPowerEval) { *pd = FormTwoPower(Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnPower) { Fold(pform, avarTable, pd, [](double a, double b) { return FormPowStep(a, b); }); }
FORM_EVAL(FormFnMultiply) { Fold(pform, avarTable, pd, [](double a, double b) { return a * b; }); }
FORM_EVAL(FormFnDivide) { Fold(pform, avarTable, pd, [](double a, double b) { return a / b; }); }
FORM_EVAL(FormFnAdd) { Fold(pform, avarTable, pd, [](double a, double b) { return a + b; }); }
FORM_EVAL(FormFnSubtract) { Fold(pform, avarTable, pd, [](double a, double b) { return a - b; }); }

FORM_EVAL(FormFnModulo) {
  // r = a - b*floor(a/b) lies in [0, b); a divisor not above 0 makes the whole result 0.
  double r = Arg(pform, 0, avarTable);
  for (int i = 1; i < N(pform); ++i) {
    double b = Arg(pform, i, avarTable);
    if (!(b > 0)) {
      *pd = 0;
      return;
    }
    r = r - b * floor(r / b);
  }
  *pd = r;
}

// Trigonometric arguments are in cycles.
FORM_EVAL(FormFnSin) { *pd = sin(Arg(pform, 0, avarTable) * 2 * M_PI); }
FORM_EVAL(FormFnCos) { *pd = cos(Arg(pform, 0, avarTable) * 2 * M_PI); }
FORM_EVAL(FormFnTan) { *pd = tan(Arg(pform, 0, avarTable) * 2 * M_PI); }
FORM_EVAL(FormFnTanh) { *pd = tanh(Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnFloor) { *pd = floor(Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnCeil) { *pd = ceil(Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnFraction) { *pd = fmod(Arg(pform, 0, avarTable), 1.0); }
FORM_EVAL(FormFnAbs) { *pd = fabs(Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnSqrt) { *pd = sqrt(Arg(pform, 0, avarTable)); }

FORM_EVAL(FormFnMin) {
  double r = DBL_MAX;
  for (int i = 0; i < N(pform); ++i) r = FormMinStep(r, Arg(pform, i, avarTable));
  *pd = r;
}

FORM_EVAL(FormFnMax) {
  double r = -DBL_MAX;
  for (int i = 0; i < N(pform); ++i) r = FormMaxStep(r, Arg(pform, i, avarTable));
  *pd = r;
}

int FormRandomRegister(uint32_t* pState) {
  for (int i = 0; i < kMaxGenerators; ++i) {
    uint32_t* pNull = nullptr;
    if (g_apState[i].compare_exchange_strong(pNull, pState)) return i;
  }
  AKS(AKSError, AK_HERE, "more than %d random generators", kMaxGenerators);
  return -1;
}

void FormRandomUnregister(int iGenerator) {
  if (iGenerator >= 0 && iGenerator < kMaxGenerators) g_apState[iGenerator].store(nullptr);
}

double FormRandomNext(uint32_t* pState) {
  *pState = *pState * 214013u + 2531011u;
  return static_cast<double>((*pState >> 16) & 32767) / 32767.0;
}

FORM_EVAL(FormFnRandom) {
  (void)avarTable;
  uint32_t* pState = nullptr;
  if (N(pform) == 1 && pform->u.fn.apformArg[0]->et == FormTypeNumeric) {
    double d = pform->u.fn.apformArg[0]->u.value;
    if (d >= 0 && d < kMaxGenerators) pState = g_apState[static_cast<int>(d)].load();
  }
  if (!pState) {
    AKS(AKSError, AK_HERE, "%s", "don't have secret arg");
    return;
  }
  *pd = FormRandomNext(pState);
}

FORM_EVAL(FormFnIf) {
  int n = N(pform);
  for (int i = 0; i + 1 < n; i += 2) {
    if (Arg(pform, i, avarTable) != 0) {
      FormEvalArg(pform, i + 1, avarTable, pd);
      return;
    }
  }
  FormEvalArg(pform, n - 1, avarTable, pd);
}

FORM_EVAL(FormFnAnd) {
  for (int i = 0; i < N(pform); ++i) {
    if (Arg(pform, i, avarTable) == 0) {
      *pd = 0;
      return;
    }
  }
  *pd = 1;
}

FORM_EVAL(FormFnOr) {
  for (int i = 0; i < N(pform); ++i) {
    if (Arg(pform, i, avarTable) != 0) {
      *pd = 1;
      return;
    }
  }
  *pd = 0;
}

FORM_EVAL(FormFnNot) { *pd = Arg(pform, 0, avarTable) == 0 ? 1.0 : 0.0; }
FORM_EVAL(FormFnEqual) { Compare(pform, avarTable, pd, [](double a, double b) { return a == b; }); }
FORM_EVAL(FormFnLess) { Compare(pform, avarTable, pd, [](double a, double b) { return a < b; }); }
FORM_EVAL(FormFnGreater) { Compare(pform, avarTable, pd, [](double a, double b) { return a > b; }); }
FORM_EVAL(FormFnLessEqual) { Compare(pform, avarTable, pd, [](double a, double b) { return a <= b; }); }
FORM_EVAL(FormFnGreaterEqual) { Compare(pform, avarTable, pd, [](double a, double b) { return a >= b; }); }
FORM_EVAL(FormFnNotEqual) { Compare(pform, avarTable, pd, [](double a, double b) { return a != b; }); }

FORM_EVAL(FormFnInList) {
  double x = Arg(pform, 0, avarTable);
  for (int i = 1; i < N(pform); ++i) {
    if (Arg(pform, i, avarTable) == x) {
      *pd = 1;
      return;
    }
  }
  *pd = 0;
}

// The bus rows are rewritten before a patch runs; reaching one is a defect of the compiler.
FORM_EVAL(FormFnMakeBus) {
  (void)pform, (void)avarTable, (void)pd;
  AKS(AKSError, AK_HERE, "%s", "FormFnMakeBus() should have been replaced by ChannelSeparate()");
}
FORM_EVAL(FormFnSumBus) {
  (void)pform, (void)avarTable, (void)pd;
  AKS(AKSError, AK_HERE, "%s", "FormFnSumBus() should have been replaced by FormFnSumBusN()");
}
FORM_EVAL(FormFnBreakOut) {
  (void)pform, (void)avarTable, (void)pd;
  AKS(AKSError, AK_HERE, "%s", "FormFnBreakOut() should have been replaced by FormFnBreakOutN()");
}
FORM_EVAL(FormFnPan) {
  (void)pform, (void)avarTable, (void)pd;
  AKS(AKSError, AK_HERE, "%s", "FormFnPan() should have been replaced by ChannelSeparate()");
}

// SUPER and the ONCEPER functions only scope names or fix evaluation classes.
FORM_EVAL(FormFnIdentity) { FormEvalArg(pform, 0, avarTable, pd); }

void FormSetSumVoices(FormSumVoicesFn pfn) { g_pfnSumVoices = pfn; }

FORM_EVAL(FormFnSumVoicesEval) {
  if (g_pfnSumVoices) g_pfnSumVoices(pform->u.fn.apformArg[0], avarTable, pd);
  else *pd = 0;  // no patch, no voices
}

FORM_EVAL(FormFnNow) {
  (void)pform, (void)avarTable;
  *pd = static_cast<double>(time(nullptr));
}

// LEN, FIND and INITIAL are reserved for string handling: they evaluate their arguments; LEN
// answers 0 and the other two leave the result as it was.
FORM_EVAL(FormFnLen) {
  double d;
  FormEvalArg(pform, 0, avarTable, &d);
  AKS(AKSTrace, AK_HERE, "%s", "TODO: check Quark");
  *pd = 0;
}

FORM_EVAL(FormFnFind2) {
  (void)pd;
  double a, b;
  FormEvalArg(pform, 0, avarTable, &a);
  FormEvalArg(pform, 1, avarTable, &b);
  AKS(AKSTrace, AK_HERE, "%s", "TODO: check Quark");
}

// Units.
FORM_EVAL(FormFnOctave) { *pd = pow(2.0, Arg(pform, 0, avarTable)); }
FORM_EVAL(FormFnSemi) { *pd = pow(2.0, Arg(pform, 0, avarTable) / 12.0); }
FORM_EVAL(FormFnCent) { *pd = pow(2.0, Arg(pform, 0, avarTable) / 1200.0); }
FORM_EVAL(FormFnDb) { *pd = pow(10.0, Arg(pform, 0, avarTable) / 20.0); }
FORM_EVAL(FormFnMs) { *pd = Arg(pform, 0, avarTable) * 0.001; }

// Evaluation routines and optimizer hooks of the built-in rows, shared by the table and their implementations.
#pragma once

#include <cmath>

#include "formula/form.h"
#include "formula/var.h"

#define FORM_EVAL(name) void name(Form* pform, Var* avarTable, double* pd)

// The steps of the folds that the evaluation routines and the compiled nodes (formcode.cpp) share.
// pow is dear, and patches raise to 0 (a bend wheel at rest) or raise 1 (a vibrato that is off)
// in every sample: both give 1 for every other operand, NaN included, without the call.
inline double FormPowStep(double a, double b) { return b == 0 || a == 1 ? 1.0 : std::pow(a, b); }
inline double FormMinStep(double r, double d) { return d < r ? d : r; }
inline double FormMaxStep(double r, double d) { return d > r ? d : r; }

// Arithmetic, comparison, logic and the plain functions (formfn_math.cpp).
FORM_EVAL(FormFnNegate);
FORM_EVAL(FormFnReciprocalEval);
FORM_EVAL(FormFnTwoPowerEval);
FORM_EVAL(FormFnPower);
FORM_EVAL(FormFnMultiply);
FORM_EVAL(FormFnDivide);
FORM_EVAL(FormFnModulo);
FORM_EVAL(FormFnAdd);
FORM_EVAL(FormFnSubtract);
FORM_EVAL(FormFnSin);
FORM_EVAL(FormFnCos);
FORM_EVAL(FormFnTan);
FORM_EVAL(FormFnTanh);
FORM_EVAL(FormFnFloor);
FORM_EVAL(FormFnCeil);
FORM_EVAL(FormFnFraction);
FORM_EVAL(FormFnAbs);
FORM_EVAL(FormFnSqrt);
FORM_EVAL(FormFnMin);
FORM_EVAL(FormFnMax);
FORM_EVAL(FormFnRandom);
FORM_EVAL(FormFnIf);
FORM_EVAL(FormFnAnd);
FORM_EVAL(FormFnOr);
FORM_EVAL(FormFnNot);
FORM_EVAL(FormFnEqual);
FORM_EVAL(FormFnLess);
FORM_EVAL(FormFnGreater);
FORM_EVAL(FormFnLessEqual);
FORM_EVAL(FormFnGreaterEqual);
FORM_EVAL(FormFnNotEqual);
FORM_EVAL(FormFnInList);
FORM_EVAL(FormFnMakeBus);
FORM_EVAL(FormFnSumBus);
FORM_EVAL(FormFnBreakOut);
FORM_EVAL(FormFnPan);
FORM_EVAL(FormFnIdentity);
FORM_EVAL(FormFnSumVoicesEval);
FORM_EVAL(FormFnNow);
FORM_EVAL(FormFnLen);
FORM_EVAL(FormFnFind2);
FORM_EVAL(FormFnOctave);
FORM_EVAL(FormFnSemi);
FORM_EVAL(FormFnCent);
FORM_EVAL(FormFnDb);
FORM_EVAL(FormFnMs);

// Selection, fades, curves and the bus and pan helpers (formfn_fade.cpp).
FORM_EVAL(FormFnSelect);
FORM_EVAL(FormFnSelectN);
FORM_EVAL(FormFnSelectLoop);
FORM_EVAL(FormFnSelectLoopN);
FORM_EVAL(FormFnLinFade);
FORM_EVAL(FormFnLinFadeN);
FORM_EVAL(FormFnLinFadeLoop);
FORM_EVAL(FormFnLinFadeLoopN);
FORM_EVAL(FormFnExpFade);
FORM_EVAL(FormFnExpFadeN);
FORM_EVAL(FormFnExpFadeLoop);
FORM_EVAL(FormFnExpFadeLoopN);
FORM_EVAL(FormFnPowFade);
FORM_EVAL(FormFnPowFadeN);
FORM_EVAL(FormFnPowFadeLoop);
FORM_EVAL(FormFnPowFadeLoopN);
FORM_EVAL(FormFnCurve);
FORM_EVAL(FormFnCurveN);
FORM_EVAL(FormFnCurveLoop);
FORM_EVAL(FormFnCurveLoopN);
FORM_EVAL(FormFnSCurve);
FORM_EVAL(FormFnSCurveN);
FORM_EVAL(FormFnSCurveLoop);
FORM_EVAL(FormFnSCurveLoopN);
FORM_EVAL(FormFnLinFadeX);
FORM_EVAL(FormFnPeak);
FORM_EVAL(FormFnBreakOutN);
FORM_EVAL(FormFnPanL);
FORM_EVAL(FormFnPanR);
FORM_EVAL(FormFnLinScale);
FORM_EVAL(FormFnExpScale);

#define FORM_OPT(name) bool name(Form** ppform)

// The rows' own simplifications (formopt_hooks.cpp).
FORM_OPT(FormOptMin);
FORM_OPT(FormOptMax);
FORM_OPT(FormOptAnd);
FORM_OPT(FormOptOr);
FORM_OPT(FormOptIf);
FORM_OPT(FormOptInList);
FORM_OPT(FormOptSelectPlain);
FORM_OPT(FormOptSelectN);
FORM_OPT(FormOptSelectLoop);
FORM_OPT(FormOptSelectLoopN);
FORM_OPT(FormOptLinFade);
FORM_OPT(FormOptLinFadeN);
FORM_OPT(FormOptLinFadeLoop);
FORM_OPT(FormOptLinFadeLoopN);
FORM_OPT(FormOptExpFade);
FORM_OPT(FormOptExpFadeN);
FORM_OPT(FormOptExpFadeLoop);
FORM_OPT(FormOptExpFadeLoopN);
FORM_OPT(FormOptPowFade);
FORM_OPT(FormOptPowFadeN);
FORM_OPT(FormOptPowFadeLoop);
FORM_OPT(FormOptPowFadeLoopN);
FORM_OPT(FormOptBreakOutN);
FORM_OPT(FormOptLinFadeX);
FORM_OPT(FormOptCurve);
FORM_OPT(FormOptCurveN);
FORM_OPT(FormOptCurveLoop);
FORM_OPT(FormOptCurveLoopN);
FORM_OPT(FormOptSCurve);
FORM_OPT(FormOptSCurveN);
FORM_OPT(FormOptSCurveLoop);
FORM_OPT(FormOptSCurveLoopN);
FORM_OPT(FormOptPeak);

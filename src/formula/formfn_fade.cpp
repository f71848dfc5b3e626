// Selection, fades, curves, piecewise-linear and peak shapes, bus break-out and panning.
//
// Every family takes a selector x and value arguments v[0..m-1]. The suffixes choose how x maps
// to a position: none (0..1 across the values), N (a value index), Loop (a ring, 0..1 around it),
// LoopN (both). Only the values a result needs are evaluated.
#include <cmath>

#include "formula/formfn.h"
#include "formula/formfn_fade.h"
#include "formula/formfn_rows.h"

using namespace formfade;

namespace {

inline double Arg(Form* pform, int i, Var* avarTable) { return FormArg(pform, i, avarTable); }

// Selection: only the chosen value is evaluated.
void Select(Mode mode, Form* pform, Var* avarTable, double* pd) {
  int m = pform->u.fn.nArg - 1;
  FormEvalArg(pform, 1 + SelectIndex(mode, Arg(pform, 0, avarTable), m), avarTable, pd);
}

// Fades: the interpolation between neighbours a and b by fraction f.
template <class Interp>
void Fade(Mode mode, Form* pform, Var* avarTable, double* pd, Interp interp) {
  int m = pform->u.fn.nArg - 1;
  Place place = Locate(mode, Arg(pform, 0, avarTable), m);
  double a = Arg(pform, 1 + place.i, avarTable);
  if (place.f == 0) {
    *pd = a;
    return;
  }
  *pd = interp(a, Arg(pform, 1 + place.iNext, avarTable), place.f);
}


// Curve and SCurve: x, a shape d, then the values; the shape is evaluated only between values.
template <class Shape>
void Curve(Mode mode, Form* pform, Var* avarTable, double* pd, Shape shape) {
  int m = pform->u.fn.nArg - 2;
  Place place = Locate(mode, Arg(pform, 0, avarTable), m);
  if (place.f == 0) {
    FormEvalArg(pform, 2 + place.i, avarTable, pd);
    return;
  }
  double d = Arg(pform, 1, avarTable);
  *pd = shape(d, place, [&](int i) { return Arg(pform, 2 + i, avarTable); });
}

}  // namespace

#define SELECT_ROW(name, mode) \
  FORM_EVAL(name) { Select(mode, pform, avarTable, pd); }
SELECT_ROW(FormFnSelect, ModePlain)
SELECT_ROW(FormFnSelectN, ModeN)
SELECT_ROW(FormFnSelectLoop, ModeLoop)
SELECT_ROW(FormFnSelectLoopN, ModeLoopN)

#define FADE_ROW(name, mode, interp) \
  FORM_EVAL(name) { Fade(mode, pform, avarTable, pd, interp); }
FADE_ROW(FormFnLinFade, ModePlain, Lin)
FADE_ROW(FormFnLinFadeN, ModeN, Lin)
FADE_ROW(FormFnLinFadeLoop, ModeLoop, Lin)
FADE_ROW(FormFnLinFadeLoopN, ModeLoopN, Lin)
FADE_ROW(FormFnExpFade, ModePlain, Exp)
FADE_ROW(FormFnExpFadeN, ModeN, Exp)
FADE_ROW(FormFnExpFadeLoop, ModeLoop, Exp)
FADE_ROW(FormFnExpFadeLoopN, ModeLoopN, Exp)
FADE_ROW(FormFnPowFade, ModePlain, Pow)
FADE_ROW(FormFnPowFadeN, ModeN, Pow)
FADE_ROW(FormFnPowFadeLoop, ModeLoop, Pow)
FADE_ROW(FormFnPowFadeLoopN, ModeLoopN, Pow)

#define CURVE_ROW(name, mode, shape) \
  FORM_EVAL(name) {                  \
    Curve(mode, pform, avarTable, pd, [](double d, Place p, auto v) { return shape(d, p, v); }); \
  }
CURVE_ROW(FormFnCurve, ModePlain, CurveShape)
CURVE_ROW(FormFnCurveN, ModeN, CurveShape)
CURVE_ROW(FormFnCurveLoop, ModeLoop, CurveShape)
CURVE_ROW(FormFnCurveLoopN, ModeLoopN, CurveShape)
CURVE_ROW(FormFnSCurve, ModePlain, SCurveShape)
CURVE_ROW(FormFnSCurveN, ModeN, SCurveShape)
CURVE_ROW(FormFnSCurveLoop, ModeLoop, SCurveShape)
CURVE_ROW(FormFnSCurveLoopN, ModeLoopN, SCurveShape)

FORM_EVAL(FormFnLinFadeX) {
  // Points (x1, y1) ... (xn, yn) with ascending x: the first point at or beyond x decides.
  double x = Arg(pform, 0, avarTable);
  int nPoints = (pform->u.fn.nArg - 1) / 2;
  double xPrev = 0;
  for (int k = 0; k < nPoints; ++k) {
    double xk = Arg(pform, 1 + 2 * k, avarTable);
    if (xk >= x) {
      double yk = Arg(pform, 2 + 2 * k, avarTable);
      if (k == 0) {
        *pd = yk;
      } else {
        double yPrev = Arg(pform, 2 * k, avarTable);
        *pd = yPrev + (yk - yPrev) * (x - xPrev) / (xk - xPrev);
      }
      return;
    }
    xPrev = xk;
  }
  FormEvalArg(pform, 2 * nPoints, avarTable, pd);
}

FORM_EVAL(FormFnPeak) {
  // A triangular bump from base at centre/ratio up to peak at the centre and down at centre*ratio.
  double x = Arg(pform, 0, avarTable);
  double dCentre = Arg(pform, 1, avarTable);
  double dRatio = Arg(pform, 2, avarTable);
  double dLo = dCentre / dRatio, dHi = dCentre * dRatio;
  if (x < dLo || x > dHi || !(x == x)) {
    FormEvalArg(pform, 3, avarTable, pd);
    return;
  }
  double dPeak = Arg(pform, 4, avarTable);
  if (x == dCentre) {
    *pd = dPeak;
    return;
  }
  double dBase = Arg(pform, 3, avarTable);
  *pd = x < dCentre ? dBase + (dPeak - dBase) * (x - dLo) / (dCentre - dLo)
                    : dPeak + (dBase - dPeak) * (x - dCentre) / (dHi - dCentre);
}

FORM_EVAL(FormFnBreakOutN) {
  // Positions count from 1: position 1 is v[0]; between two values an equal-power fade.
  int m = pform->u.fn.nArg - 1;
  Place place = Locate(ModeLoopN, Arg(pform, 0, avarTable) - 1, m);
  double a = Arg(pform, 1 + place.i, avarTable);
  double b = Arg(pform, 1 + place.iNext, avarTable);
  *pd = Pow(a, b, place.f);
}

FORM_EVAL(FormFnPanL) { *pd = Arg(pform, 0, avarTable) * cos(Arg(pform, 1, avarTable) * M_PI / 2); }
FORM_EVAL(FormFnPanR) { *pd = Arg(pform, 0, avarTable) * sin(Arg(pform, 1, avarTable) * M_PI / 2); }

FORM_EVAL(FormFnLinScale) {
  double x = Arg(pform, 0, avarTable);
  if (x <= 0) FormEvalArg(pform, 1, avarTable, pd);
  else if (x >= 1) FormEvalArg(pform, 2, avarTable, pd);
  else *pd = Lin(Arg(pform, 1, avarTable), Arg(pform, 2, avarTable), x);
}

FORM_EVAL(FormFnExpScale) {
  double x = Arg(pform, 0, avarTable);
  if (x <= 0) FormEvalArg(pform, 1, avarTable, pd);
  else if (x >= 1) FormEvalArg(pform, 2, avarTable, pd);
  else *pd = Exp(Arg(pform, 1, avarTable), Arg(pform, 2, avarTable), x);
}

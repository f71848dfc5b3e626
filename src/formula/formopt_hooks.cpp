// The functions' own simplifications, called by the optimizer for calls of their rows.
//
// Each hook answers whether it changed the call. They only rewrite what evaluation would give
// for every value of the unknown arguments: a rule that holds only for some values is applied
// only where the constants guarantee it.
#include <algorithm>
#include <cstring>

#include "formula/formfn.h"
#include "formula/formfn_fade.h"
#include "formula/formfn_rows.h"
#include "formula/formopt.h"
#include "formula/formopt_util.h"

using namespace formfade;

namespace {

int N(Form* pform) { return pform->u.fn.nArg; }
Form* A(Form* pform, int i) { return pform->u.fn.apformArg[i]; }
bool IsNumber(const Form* pform) { return pform->et == FormTypeNumeric; }
double V(Form* pform, int i) { return pform->u.fn.apformArg[i]->u.value; }

// Removes arguments from iFirst on that equal an earlier one (from iFirst on).
bool RemoveDuplicates(Form* pform, int iFirst) {
  bool bChanged = false;
  for (int i = iFirst + 1; i < N(pform); ++i)
    for (int j = iFirst; j < i; ++j)
      if (FormEqual(A(pform, i), A(pform, j))) {
        FormRemoveArg(pform, i--);
        bChanged = true;
        break;
      }
  return bChanged;
}

bool ReplaceByConstant(Form** ppform, double d) {
  FormReplace(ppform, FormNewConstant(FormTypeNumeric, d));
  return true;
}

bool MinMax(Form** ppform, bool bMax) {
  Form* pform = *ppform;
  bool bChanged = RemoveDuplicates(pform, 0);
  int iKeep = -1;
  for (int i = 0; i < N(pform); ++i) {
    if (!IsNumber(A(pform, i))) continue;
    if (iKeep < 0) {
      iKeep = i;
      continue;
    }
    bool bBetter = bMax ? V(pform, i) > V(pform, iKeep) : V(pform, i) < V(pform, iKeep);
    FormRemoveArg(pform, bBetter ? iKeep : i);
    if (bBetter) iKeep = i - 1;
    --i;
    bChanged = true;
  }
  if (N(pform) == 1) {
    FormReplaceByArg(ppform, 0);
    return true;
  }
  return bChanged;
}

bool Logic(Form** ppform, bool bAnd) {
  Form* pform = *ppform;
  bool bChanged = RemoveDuplicates(pform, 0);
  for (int i = 0; i < N(pform); ++i) {
    if (!IsNumber(A(pform, i))) continue;
    bool bTrue = V(pform, i) != 0;
    if (bTrue != bAnd) return ReplaceByConstant(ppform, bAnd ? 0 : 1);  // decides the whole call
    FormRemoveArg(pform, i--);
    bChanged = true;
  }
  if (N(pform) == 0) return ReplaceByConstant(ppform, bAnd ? 1 : 0);
  // One argument left keeps its call: AND(x) and OR(x) are 0 or 1, x itself may be any number.
  return bChanged;
}

}  // namespace

bool FormOptMin(Form** ppform) { return MinMax(ppform, false); }
bool FormOptMax(Form** ppform) { return MinMax(ppform, true); }
bool FormOptAnd(Form** ppform) { return Logic(ppform, true); }
bool FormOptOr(Form** ppform) { return Logic(ppform, false); }

bool FormOptIf(Form** ppform) {
  Form* pform = *ppform;
  bool bChanged = false;
  // A condition met earlier decides before it: drop it with its value.
  for (int i = 2; i + 1 < N(pform); i += 2)
    for (int j = 0; j < i; j += 2)
      if (FormEqual(A(pform, i), A(pform, j))) {
        FormRemoveArg(pform, i);
        FormRemoveArg(pform, i);
        i -= 2;
        bChanged = true;
        break;
      }
  for (int i = 0; i + 1 < N(pform); i += 2) {
    if (!IsNumber(A(pform, i))) continue;
    if (V(pform, i) == 0) {
      FormRemoveArg(pform, i);
      FormRemoveArg(pform, i);
      i -= 2;
    } else {
      // A condition always met: its value is the default, nothing after it matters.
      while (N(pform) > i + 2) FormRemoveArg(pform, N(pform) - 1);
      FormRemoveArg(pform, i);
    }
    bChanged = true;
  }
  int n = N(pform);
  if (n >= 3 && FormEqual(A(pform, n - 2), A(pform, n - 1))) {
    FormRemoveArg(pform, n - 3);
    FormRemoveArg(pform, n - 3);
    bChanged = true;
  }
  if (N(pform) == 1) {
    FormReplaceByArg(ppform, 0);
    return true;
  }
  return bChanged;
}

bool FormOptInList(Form** ppform) {
  Form* pform = *ppform;
  bool bChanged = RemoveDuplicates(pform, 1);
  for (int i = 1; i < N(pform); ++i)
    if (FormEqual(A(pform, 0), A(pform, i))) return ReplaceByConstant(ppform, 1);
  if (IsNumber(A(pform, 0))) {
    for (int i = 1; i < N(pform); ++i)
      if (IsNumber(A(pform, i))) FormRemoveArg(pform, i--), bChanged = true;
    if (N(pform) == 1) return ReplaceByConstant(ppform, 0);
  }
  return bChanged;
}

namespace {

// True when every argument from iFirst on equals argument iFirst.
bool AllEqual(Form* pform, int iFirst) {
  for (int i = iFirst + 1; i < N(pform); ++i)
    if (!FormEqual(A(pform, i), A(pform, iFirst))) return false;
  return true;
}

bool OptSelect(Form** ppform, Mode mode) {
  Form* pform = *ppform;
  if (AllEqual(pform, 1)) {
    FormReplaceByArg(ppform, 1);
    return true;
  }
  if (!IsNumber(A(pform, 0))) return false;
  FormReplaceByArg(ppform, 1 + SelectIndex(mode, V(pform, 0), N(pform) - 1));
  return true;
}

}  // namespace

bool FormOptSelectPlain(Form** ppform) { return OptSelect(ppform, ModePlain); }
bool FormOptSelectN(Form** ppform) { return OptSelect(ppform, ModeN); }
bool FormOptSelectLoop(Form** ppform) { return OptSelect(ppform, ModeLoop); }
bool FormOptSelectLoopN(Form** ppform) { return OptSelect(ppform, ModeLoopN); }

namespace {

// Fades: a constant position on a value gives that value; between two constant values, the
// interpolated constant. bEqualValues: every value the same folds to it (not for equal-power
// fades, which raise equal values by up to 3 dB between them).
template <double (*Interp)(double, double, double)>
bool Fade(Form** ppform, Mode mode, int iFirstValue, bool bEqualValues) {
  Form* pform = *ppform;
  if (bEqualValues && AllEqual(pform, iFirstValue)) {
    FormReplaceByArg(ppform, iFirstValue);
    return true;
  }
  if (!IsNumber(A(pform, 0))) return false;
  Place place = Locate(mode, V(pform, 0), N(pform) - iFirstValue);
  if (place.f == 0) {
    FormReplaceByArg(ppform, iFirstValue + place.i);
    return true;
  }
  Form* pformA = A(pform, iFirstValue + place.i);
  Form* pformB = A(pform, iFirstValue + place.iNext);
  if (!IsNumber(pformA) || !IsNumber(pformB)) return false;
  return ReplaceByConstant(ppform, Interp(pformA->u.value, pformB->u.value, place.f));
}

}  // namespace

#define FADE_HOOK(name, interp, mode, equal) \
  bool name(Form** ppform) { return Fade<interp>(ppform, mode, 1, equal); }
FADE_HOOK(FormOptLinFade, Lin, ModePlain, true)
FADE_HOOK(FormOptLinFadeN, Lin, ModeN, true)
FADE_HOOK(FormOptLinFadeLoop, Lin, ModeLoop, true)
FADE_HOOK(FormOptLinFadeLoopN, Lin, ModeLoopN, true)
FADE_HOOK(FormOptExpFade, Exp, ModePlain, true)
FADE_HOOK(FormOptExpFadeN, Exp, ModeN, true)
FADE_HOOK(FormOptExpFadeLoop, Exp, ModeLoop, true)
FADE_HOOK(FormOptExpFadeLoopN, Exp, ModeLoopN, true)
FADE_HOOK(FormOptPowFade, Pow, ModePlain, false)
FADE_HOOK(FormOptPowFadeN, Pow, ModeN, false)
FADE_HOOK(FormOptPowFadeLoop, Pow, ModeLoop, false)
FADE_HOOK(FormOptPowFadeLoopN, Pow, ModeLoopN, false)

// BreakOutN counts positions from 1 over a ring of values, with an equal-power fade.
bool FormOptBreakOutN(Form** ppform) {
  Form* pform = *ppform;
  if (!IsNumber(A(pform, 0))) return false;
  Place place = Locate(ModeLoopN, V(pform, 0) - 1, N(pform) - 1);
  Form* pformA = A(pform, 1 + place.i);
  Form* pformB = A(pform, 1 + place.iNext);
  if (!IsNumber(pformA) || !IsNumber(pformB)) return false;
  return ReplaceByConstant(ppform, Pow(pformA->u.value, pformB->u.value, place.f));
}

bool FormOptLinFadeX(Form** ppform) {
  Form* pform = *ppform;
  int nPoints = (N(pform) - 1) / 2;
  bool bYEqual = true;
  for (int k = 1; k < nPoints; ++k) bYEqual &= FormEqual(A(pform, 2 + 2 * k), A(pform, 2));
  if (bYEqual || FormEqual(A(pform, 0), A(pform, 1))) {
    FormReplaceByArg(ppform, 2);
    return true;
  }
  if (!IsNumber(A(pform, 0))) return false;
  double x = V(pform, 0);
  for (int k = 0; k < nPoints; ++k) {
    if (!IsNumber(A(pform, 1 + 2 * k))) return false;
    double xk = V(pform, 1 + 2 * k);
    if (xk < x) continue;
    if (k == 0 || xk == x) {
      FormReplaceByArg(ppform, 2 + 2 * k);
      return true;
    }
    if (!IsNumber(A(pform, 2 * k)) || !IsNumber(A(pform, 2 + 2 * k)) || !IsNumber(A(pform, 2 * k - 1))) return false;
    double xPrev = V(pform, 2 * k - 1), yPrev = V(pform, 2 * k), yk = V(pform, 2 + 2 * k);
    return ReplaceByConstant(ppform, yPrev + (yk - yPrev) * (x - xPrev) / (xk - xPrev));
  }
  FormReplaceByArg(ppform, 2 * nPoints);
  return true;
}

namespace {

// Curve and SCurve: a middle shape is a linear fade; then as the fades, with the curve formula
// where the shape and both neighbours are constant.
template <bool bS>
bool Curve(Form** ppform, Mode mode) {
  Form* pform = *ppform;
  static const FormFnInfo* const apinfoLin[] = {&FormFnRowLinFade, &FormFnRowLinFadeN, &FormFnRowLinFadeLoop,
                                                &FormFnRowLinFadeLoopN};
  static const FormFnInfo* const apinfoSelect[] = {&FormFnRowSelect, &FormFnRowSelectN, &FormFnRowSelectLoop,
                                                   &FormFnRowSelectLoopN};
  if (IsNumber(A(pform, 1))) {
    double d = V(pform, 1);
    if (d == 0.5 || (!bS && d < 0.001 && mode != ModePlain)) {
      // A plain Curve held flat would become Select, which divides its positions differently
      // (m values rather than m - 1 steps), so only the indexed and looping variants are rewritten.
      const FormFnInfo* pinfo = d == 0.5 ? apinfoLin[mode] : apinfoSelect[mode];
      FormRemoveArg(pform, 1);
      pform->u.fn.pinfo = pinfo;
      return true;
    }
  }
  if (AllEqual(pform, 2)) {
    FormReplaceByArg(ppform, 2);
    return true;
  }
  if (!IsNumber(A(pform, 0))) return false;
  Place place = Locate(mode, V(pform, 0), N(pform) - 2);
  if (place.f == 0) {
    FormReplaceByArg(ppform, 2 + place.i);
    return true;
  }
  if (!IsNumber(A(pform, 1)) || !IsNumber(A(pform, 2 + place.i)) || !IsNumber(A(pform, 2 + place.iNext))) return false;
  auto value = [&](int i) { return V(pform, 2 + i); };
  double d = bS ? SCurveShape(V(pform, 1), place, value) : CurveShape(V(pform, 1), place, value);
  return ReplaceByConstant(ppform, d);
}

}  // namespace

bool FormOptCurve(Form** ppform) { return Curve<false>(ppform, ModePlain); }
bool FormOptCurveN(Form** ppform) { return Curve<false>(ppform, ModeN); }
bool FormOptCurveLoop(Form** ppform) { return Curve<false>(ppform, ModeLoop); }
bool FormOptCurveLoopN(Form** ppform) { return Curve<false>(ppform, ModeLoopN); }
bool FormOptSCurve(Form** ppform) { return Curve<true>(ppform, ModePlain); }
bool FormOptSCurveN(Form** ppform) { return Curve<true>(ppform, ModeN); }
bool FormOptSCurveLoop(Form** ppform) { return Curve<true>(ppform, ModeLoop); }
bool FormOptSCurveLoopN(Form** ppform) { return Curve<true>(ppform, ModeLoopN); }

bool FormOptPeak(Form** ppform) {
  Form* pform = *ppform;
  if (FormEqual(A(pform, 3), A(pform, 4))) {
    FormReplaceByArg(ppform, 3);
    return true;
  }
  bool bConstRange = IsNumber(A(pform, 1)) && IsNumber(A(pform, 2));
  // x at the centre gives the peak only when the centre lies inside its own range.
  if (FormEqual(A(pform, 0), A(pform, 1)) && bConstRange && V(pform, 1) >= 0 && V(pform, 2) >= 1) {
    FormReplaceByArg(ppform, 4);
    return true;
  }
  if (IsNumber(A(pform, 0)) && bConstRange) {
    double x = V(pform, 0), dCentre = V(pform, 1), dRatio = V(pform, 2);
    if (x <= dCentre / dRatio || x >= dCentre * dRatio) {
      FormReplaceByArg(ppform, 3);
      return true;
    }
  }
  return false;
}

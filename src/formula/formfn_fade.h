// Where a selector falls among the values of the selection and fade families, and the shapes
// between two values: shared by the evaluator and the optimizer, which must agree exactly.
#pragma once

#include <cmath>

namespace formfade {

enum Mode { ModePlain, ModeN, ModeLoop, ModeLoopN };

// A position between two neighbouring values: v[i] and v[iNext], fraction f from v[i].
struct Place {
  int i;
  int iNext;
  double f;
};

// A whole-number double, limited to 0..m-1 (NaN gives 0) before it becomes an index.
inline int ClampIndex(double d, int m) {
  if (!(d > 0)) return 0;
  if (d >= m - 1) return m - 1;
  return static_cast<int>(d);
}

// floor(d) taken modulo m into 0..m-1 (NaN and infinities give 0).
inline int WrapIndex(double d, int m) {
  double r = fmod(floor(d), static_cast<double>(m));
  if (!(r == r) || std::isinf(d)) return 0;
  if (r < 0) r += m;
  int i = static_cast<int>(r);
  return i >= m ? m - 1 : i;
}

// Where x lies among m values; for the plain and N modes the ends are exact values (f = 0).
inline Place Locate(Mode mode, double x, int m) {
  if (mode == ModeLoop || mode == ModeLoopN) {
    double p = mode == ModeLoop ? x * m : x;
    int i = WrapIndex(p, m);
    double f = p - floor(p);
    if (!(f == f) || std::isinf(p)) f = 0;
    return {i, (i + 1) % m, f};
  }
  double p = mode == ModePlain ? x * (m - 1) : x;
  if (!(p > 0)) return {0, 0, 0};
  if (p >= m - 1) return {m - 1, m - 1, 0};
  int i = static_cast<int>(p);
  return {i, i + 1, p - i};
}

// The value a selection chooses.
inline int SelectIndex(Mode mode, double x, int m) {
  switch (mode) {
    case ModePlain: return ClampIndex(trunc(x * m), m);
    case ModeN: return ClampIndex(trunc(x), m);
    case ModeLoop: return WrapIndex(x * m, m);
    default: return WrapIndex(x, m);
  }
}

inline double Lin(double a, double b, double f) { return (1 - f) * a + f * b; }
inline double Exp(double a, double b, double f) { return exp((1 - f) * log(a) + f * log(b)); }
inline double Pow(double a, double b, double f) { return cos(f * M_PI / 2) * a + sin(f * M_PI / 2) * b; }

template <class Value>
double CurveShape(double d, Place place, Value v) {
  if (d < 0.001) return v(place.i);
  if (d > 0.999) return v(place.iNext);
  double a = v(place.i), b = v(place.iNext), f = place.f;
  return a + (b - a) * f / ((1 / d - 2) * (1 - f) + 1);
}

template <class Value>
double SCurveShape(double d, Place place, Value v) {
  double f = place.f;
  if (d < 0.001) return f < 0.5 ? v(place.i) : v(place.iNext);
  double a = v(place.i), b = v(place.iNext);
  if (d > 0.999) return (a + b) / 2;
  double g = 2 * f;
  double s = f < 0.5 ? g / ((1 / d - 2) * (1 - g) + 1) : 1 + (g - 1) / ((1 / (1 - d) - 2) * (1 - (g - 1)) + 1);
  return a + (b - a) * s / 2;
}

}  // namespace formfade

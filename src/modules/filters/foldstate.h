// The one guard on recursive DSP state (filter histories, delay lines, feedback paths).
#pragma once

#include <cfloat>
#include <cmath>

// What may stay in recursive state: NaN, infinities and denormals become 0, so one bad input
// sample cannot stick in a filter or recirculate through a delay's feedback, and a decaying tail
// cannot crawl through slow denormal arithmetic. Ordinary values pass untouched.
inline double FoldState(double d) {
  double dAbs = std::fabs(d);
  return dAbs >= DBL_MIN && dAbs <= DBL_MAX ? d : 0.0;
}

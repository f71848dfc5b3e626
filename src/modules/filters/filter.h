// The filter object every filter type shares, and FilterType, the descriptor a filter's type points to.
#pragma once

// How types work. A Filter is one plain object: sample rate, coefficients, history and a pointer to
// the FilterType of its type. The type's two routines come from a type class (LPF2, HiShelf1, ...:
// how to cook coefficients) and the kernel class it derives from (FilterBiQuad, FilterModified1, ...:
// the per-sample equation); those classes live in filters.cpp and hold no data. Every type therefore
// has the same layout, and changing a filter's type is a pointer swap: no reallocation, and the
// coefficients stay until the next Cook. HasGain, Cook and Calc go through the type; SetSampleRate
// and Clear are the same for every type.
//
// Calling order: construct (untyped, all zero), SetSampleRate, give it a type (FilterFactory's
// ChangeType, or FilterType::Apply), Cook, then Calc once per sample; cook again when frequency,
// gain, q or type change. Calc is one indirect call, allocates nothing and takes no lock.

class Filter;

class FilterType {
 public:
  // Computes the coefficients from frequency (Hz), gain (linear factor, 1 = no change) and q.
  using CookFn = void (*)(Filter& filter, double dFreq, double dGain, double dQ);
  // Filters one sample.
  using CalcFn = double (*)(Filter& filter, double dIn);

  constexpr FilterType(const char* pszName, const char* pszDescription, bool bHasGain, CookFn pfnCook,
                       CalcFn pfnCalc)
      : pszName(pszName), pszDescription(pszDescription), bHasGain(bHasGain), pfnCook(pfnCook), pfnCalc(pfnCalc) {}
  FilterType(const FilterType&) = delete;
  FilterType& operator=(const FilterType&) = delete;

  // Gives the filter this type and clears its history; the coefficients are left as they were, so
  // the caller cooks afterwards.
  void Apply(Filter& filter) const;

  const char* pszName;         // the keyword patches name the type by, e.g. "LPF2"
  const char* pszDescription;  // e.g. "Lo-Pass Filter (second-order)"
  bool bHasGain;               // the type uses the gain argument (shelves and parametrics)
  CookFn pfnCook;
  CalcFn pfnCalc;
};

class Filter {
 public:
  // True when the type uses the gain argument; false for an untyped filter.
  bool HasGain() const { return ptype_->bHasGain; }
  // Stores the rate (Hz) and 2π/rate; the engine's rate, never a constant.
  void SetSampleRate(double dRateNew);
  // Computes the coefficients. The frequency is limited to 0.001 Hz ... 0.49 × rate, q to at least
  // 0.001 and the gain to at least 0.0001, each type as it needs.
  void Cook(double dFreq, double dGain, double dQ) { ptype_->pfnCook(*this, dFreq, dGain, dQ); }
  // Sets the history to 0 (type change or the owner's reset).
  void Clear();
  // One sample through the type's equation.
  double Calc(double dIn) { return ptype_->pfnCalc(*this, dIn); }
  // The type, or nullptr while the filter is untyped.
  const FilterType* Type() const { return ptype_ == &typeUnset_ ? nullptr : ptype_; }

  // Public so that owners and tests can read them; only the type's routines write them.
  double dRate = 0;           // sample rate, Hz
  double dTwoPiOverRate = 0;  // 2π / sample rate, radians per sample per Hz
  double a0 = 0, a1 = 0, a2 = 0;  // feed-forward coefficients
  double b1 = 0, b2 = 0;          // feedback coefficients
  double c0 = 0, d0 = 0;  // gain of the filtered and of the dry signal (the two "Modified" kernels)
  double x1 = 0, x2 = 0;  // previous inputs
  double y1 = 0, y2 = 0;  // previous outputs of the recursive part

 private:
  friend class FilterType;

  // An untyped filter reports each misuse once, not at every sample: Calc runs on the audio thread,
  // and a log line per sample would flood the log with file writes.
  static void CookUnset(Filter& filter, double dFreq, double dGain, double dQ);
  static double CalcUnset(Filter& filter, double dIn);
  static const FilterType typeUnset_;
  enum : unsigned { kReportedCook = 1, kReportedCalc = 2 };

  const FilterType* ptype_ = &typeUnset_;
  unsigned bitsReported_ = 0;  // kReportedCook, kReportedCalc: messages already given while untyped
};

// The filter factory: the registered filter types in order, and the index from keyword number to type.
#pragma once

#include "foundation/akarray.h"
#include "modules/filters/filter.h"

// The registry of filter types. It exists once, created on first use, so the static registration
// objects may register whenever the program's static initialisation reaches them.
class FilterFactory {
 public:
  static FilterFactory* Get();
  virtual ~FilterFactory() = default;

  // Once, at start-up: interns each registered type's name as a keyword (new names get new numbers)
  // and indexes the type under that number. Later calls change nothing.
  virtual void BuildIndex();
  // Applies the type with this keyword number to the filter (type set, history cleared). A number
  // that names no filter type goes to the error list, the filter keeps its type, and the answer is -1.
  virtual int ChangeType(int iType, Filter& filter);
  // Appends a registration object; the registration objects call it themselves.
  virtual void Register(const FilterType* ptype);

  // The registered types in registration order.
  int NTypes() const { return aptypeRegistered_.N(); }
  const FilterType* TypeAt(int i) const { return aptypeRegistered_[i]; }
  // The type indexed under a keyword number, or nullptr.
  const FilterType* Find(int iType) const {
    return iType >= 0 && iType < aptypeIndex_.N() ? aptypeIndex_[iType] : nullptr;
  }

 private:
  FilterFactory() = default;

  AKArray<const FilterType*> aptypeRegistered_;
  AKArray<const FilterType*> aptypeIndex_;  // by keyword number; nullptr where a number is no filter type
};

// The registration object of one type class T: T supplies Cook (its cooking), Calc (its kernel's
// equation) and bHasGain. A static FilterTemp registers itself with the factory when the program starts.
template <class T>
class FilterTemp : public FilterType {
 public:
  FilterTemp(const char* pszName, const char* pszDescription)
      : FilterType(pszName, pszDescription, T::bHasGain, &T::Cook, &T::Calc) {
    FilterFactory::Get()->Register(this);
  }
};
